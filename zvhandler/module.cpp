// zvhandler.dll: its one class and its registration.
#include "http_plug_prot.h"
#include "resource.h"
#include "com/registrar.h"

namespace zv::com {

// The schemes' "Handler" entries belong to the system (each scheme has a
// class of its own on Windows): the script neither writes nor removes them.
const ServerDefinition& ThisServer() {
  static const ServerDefinition server{
      {{&CLSID_HTTPPlugProt, &CreateObject<handler::HTTPPlugProt>, true}},
      {IDR_HTTPPLUGPROT},
      {},
  };
  return server;
}

}  // namespace zv::com
