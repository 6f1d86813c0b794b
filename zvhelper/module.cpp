// ZVHelper.dll: its one class and its registration.
#include "ie_catcher.h"
#include "resource.h"
#include "com/registrar.h"

namespace zv::com {

// Registration only makes sure that Internet Explorer's helper-object key
// exists; entering the class under it is the administrative helper's job,
// and other helpers live there too, so unregistration leaves it.
const ServerDefinition& ThisServer() {
  static const ServerDefinition server{
      {{&CLSID_IECatcher, &CreateObject<helper::IECatcher>, false}},
      {IDR_IECATCHER},
      {{RootKey::kLocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects"}},
  };
  return server;
}

}  // namespace zv::com
