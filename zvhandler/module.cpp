// zvhandler.dll: its one class and its registration.
#include "http_plug_prot.h"
#include "resource.h"
#include "com/registrar.h"

namespace zv::com {

// The script rewrites the system's own "Handler" entries of the three
// schemes at registration; they stay when the handler is unregistered.
const ServerDefinition& ThisServer() {
  static const ServerDefinition server{
      {{&CLSID_HTTPPlugProt, &CreateObject<handler::HTTPPlugProt>, true}},
      {IDR_HTTPPLUGPROT},
      {
          {RootKey::kClassesRoot, "PROTOCOLS\\Handler\\http"},
          {RootKey::kClassesRoot, "PROTOCOLS\\Handler\\https"},
          {RootKey::kClassesRoot, "PROTOCOLS\\Handler\\ftp"},
      },
  };
  return server;
}

}  // namespace zv::com
