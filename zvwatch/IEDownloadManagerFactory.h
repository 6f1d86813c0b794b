// The factory of TIEDownloadManager, which also names the class Internet
// Explorer's download manager for the machine.
#pragma once

#include "ComServer.h"

namespace zvwatch {

class TIEDownloadManagerFactory final : public TComObjectFactory {
 public:
  TIEDownloadManagerFactory();
  void UpdateRegistry(bool registering) override;
};

}  // namespace zvwatch
