// zvwatch.dll: its one class and its registration, made on first use and
// kept until the module unloads.
#include "IEDownloadManagerFactory.h"

namespace zv::com {

const ServerDefinition& ThisServer() {
  static zv::watch::TIEDownloadManagerFactory downloadManager;
  static const zv::watch::TComServer server({&downloadManager});
  return server.Definition();
}

}  // namespace zv::com
