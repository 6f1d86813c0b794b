// The factory of TIEDownloadManager, which also names the class Internet
// Explorer's download manager for the machine.
#pragma once

#include "ComServer.h"

namespace zv::watch {

class TIEDownloadManagerFactory final : public TComObjectFactory {
 public:
  TIEDownloadManagerFactory();
  void UpdateRegistry(bool registering) override;
};

}  // namespace zv::watch
