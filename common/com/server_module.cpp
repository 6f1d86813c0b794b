// The module entry of an in-process server built on the framework: DllMain
// and the four exports, answered from the module's ServerDefinition. Linked
// into each such module as an object, so that its .def file finds the
// exports.
#include <windows.h>

#include "class_factory.h"
#include "registrar.h"

using namespace zv::com;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  // The object map is constant data: nothing to set up or release, and the
  // module has no use for thread notifications.
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  const ServerDefinition& server = ThisServer();
  return GetClassObject(server.classes.data(), server.classes.size(), clsid, iid, out);
}

STDAPI DllCanUnloadNow() { return CanUnloadNow(); }

STDAPI DllRegisterServer() { return RegisterServer(ThisServer()); }

STDAPI DllUnregisterServer() { return UnregisterServer(ThisServer()); }
