// zvhandler.dll: the module entry points and its one class.
#include <windows.h>

#include "http_plug_prot.h"
#include "resource.h"
#include "com/class_factory.h"
#include "com/registrar.h"

namespace {

using namespace zv;

const com::ClassEntry kClasses[] = {
    {&CLSID_HTTPPlugProt, &com::CreateObject<handler::HTTPPlugProt>, true},
};

// The script rewrites the system's own "Handler" entries of the three
// schemes at registration; they stay when the handler is unregistered.
const std::vector<com::KeptKey> kKeptKeys = {
    {com::RootKey::kClassesRoot, "PROTOCOLS\\Handler\\http"},
    {com::RootKey::kClassesRoot, "PROTOCOLS\\Handler\\https"},
    {com::RootKey::kClassesRoot, "PROTOCOLS\\Handler\\ftp"},
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  return com::GetClassObject(kClasses, clsid, iid, out);
}

STDAPI DllCanUnloadNow() { return com::CanUnloadNow(); }

STDAPI DllRegisterServer() { return com::RegisterServer({IDR_HTTPPLUGPROT}); }

STDAPI DllUnregisterServer() { return com::UnregisterServer({IDR_HTTPPLUGPROT}, kKeptKeys); }
