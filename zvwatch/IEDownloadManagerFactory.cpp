#include "IEDownloadManagerFactory.h"

#include "IEDownloadManager.h"
#include "IeConst.h"
#include "Utils.h"
#include "win/registry.h"

namespace zv::watch {

TIEDownloadManagerFactory::TIEDownloadManagerFactory()
    : TComObjectFactory({&CLSID_TIEDownloadManager, &zv::com::CreateObject<TIEDownloadManager>, true}, kClassName,
                        kClassDescription, kThreadingModel) {}

void TIEDownloadManagerFactory::UpdateRegistry(bool registering) {
  // Both Internet Explorers of 64-bit Windows read the value, each in its
  // own registry view; the other build, while registered, still serves its
  // view's.
  const bool otherBuild = !registering && zv::com::OtherBuildRegistered(zv::com::ThisServer());
  for (const REGSAM view : zv::win::MachineViews()) {
    if (otherBuild && view == zv::win::OtherBuildView()) continue;
    if (registering) {
      zv::win::WriteRegText(HKEY_LOCAL_MACHINE, kInternetExplorerKey, kDownloadUIValue, kClassIdText, view);
    } else if (SameTextIgnoringCase(
                   zv::win::ReadRegText(HKEY_LOCAL_MACHINE, kInternetExplorerKey, kDownloadUIValue, view)
                       .value_or(AnsiString()),
                   kClassIdText)) {
      // Another program's download manager stays in place.
      zv::win::DeleteRegValue(HKEY_LOCAL_MACHINE, kInternetExplorerKey, kDownloadUIValue, view);
    }
  }
}

}  // namespace zv::watch
