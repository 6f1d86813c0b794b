// Zorvex.dll: its object map and its registration.
#include "resource.h"
#include "zorvex_classes.h"
#include "com/registrar.h"

namespace zv::com {

// The scripts name the module by its short path. Unregistration takes the
// classes away and leaves the type library registered.
const ServerDefinition& ThisServer() {
  static const ServerDefinition server{
      {
          {&CLSID_Catcher, &CreateObject<zorvex::NNCatcher>, true},
          {&CLSID_ContextMenu, &CreateObject<zorvex::ContextMenuAddUrl>, true},
      },
      {IDR_NNCATCHER, IDR_ADDURL},
      {},
      ModulePathForm::kShort,
      ServerDefinition::Unregistration::kKeepTypeLibrary,
  };
  return server;
}

}  // namespace zv::com
