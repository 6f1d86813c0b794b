// The module's entry points: load and unload, and the four exports of an
// in-process COM server.
#include <windows.h>
#include <objbase.h>

#include "ComServer.h"
#include "DMMain.h"

using zvwatch::ComServer;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    return zvwatch::InitializeModule(instance) ? TRUE : FALSE;
  }
  // A process that is ending (reserved not null) has lost its other threads
  // and may hold the heap's lock: nothing is freed then.
  if (reason == DLL_PROCESS_DETACH && !reserved) zvwatch::FinalizeModule();
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  zvwatch::TComObjectFactory* factory = ComServer ? ComServer->FindFactory(rclsid) : nullptr;
  if (!factory) return CLASS_E_CLASSNOTAVAILABLE;
  return factory->QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow() { return ComServer ? ComServer->CanUnloadNow() : S_OK; }

STDAPI DllRegisterServer() {
  try {
    return ComServer ? ComServer->UpdateRegistry(true) : E_FAIL;
  } catch (...) {
    return E_FAIL;
  }
}

STDAPI DllUnregisterServer() {
  try {
    if (ComServer) ComServer->UpdateRegistry(false);
  } catch (...) {
  }
  return S_OK;
}
