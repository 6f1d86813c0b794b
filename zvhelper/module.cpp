// ZVHelper.dll: the module entry points and its one class.
#include <windows.h>

#include "ie_catcher.h"
#include "resource.h"
#include "com/class_factory.h"
#include "com/registrar.h"

namespace {

using namespace zv;

const com::ClassEntry kClasses[] = {
    {&CLSID_IECatcher, &com::CreateObject<helper::IECatcher>, false},
};

// Registration only makes sure that Internet Explorer's helper-object key
// exists; entering the class under it is the administrative helper's job,
// and other helpers live there too, so unregistration leaves it.
const std::vector<com::KeptKey> kKeptKeys = {
    {com::RootKey::kLocalMachine,
     "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects"},
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

STDAPI DllRegisterServer() { return com::RegisterServer({IDR_IECATCHER}); }

STDAPI DllUnregisterServer() { return com::UnregisterServer({IDR_IECATCHER}, kKeptKeys); }
