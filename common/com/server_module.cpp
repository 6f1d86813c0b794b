// The module entry of an in-process server built on the framework: DllMain
// and the four exports, answered from the module's ServerDefinition. Linked
// into each such module as an object, so that its .def file finds the
// exports.
#include <windows.h>

#include "class_factory.h"
#include "object.h"
#include "registrar.h"

using namespace zv::com;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  // The object map is constant data: nothing to set up or release, and the
  // module has no use for thread notifications.
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}

// The definition is made on first use, which can throw: never past an export.
STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return Guarded([&] {
    const ServerDefinition& server = ThisServer();
    if (!server.factories.empty())
      return GetClassObject(server.factories.data(), server.factories.size(), clsid, iid, out);
    return GetClassObject(server.classes.data(), server.classes.size(), clsid, iid, out);
  });
}

STDAPI DllCanUnloadNow() { return CanUnloadNow(); }

STDAPI DllRegisterServer() {
  return Guarded([] { return RegisterServer(ThisServer()); });
}

STDAPI DllUnregisterServer() {
  return Guarded([] { return UnregisterServer(ThisServer()); });
}
