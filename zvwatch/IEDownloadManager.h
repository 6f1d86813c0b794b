// The class Internet Explorer creates for each download it would save
// itself. It keeps no state: each call of Download stands alone.
#pragma once

#include <windows.h>
#include <urlmon.h>

#include "com/error_info.h"
#include "com/object.h"
#include "DownloadManager_TLB.h"

namespace zv::watch {

class TIEDownloadManager final
    : public zv::com::Object<IDownloadManager, zv::com::SupportErrorInfo<IID_IDownloadManager>> {
 public:
  explicit TIEDownloadManager(IUnknown* outer) : Object(outer) {}

  // IDownloadManager: S_OK when the download manager took the download,
  // E_NOTIMPL when the browser is to save it itself.
  STDMETHODIMP Download(IMoniker* moniker, IBindCtx* context, DWORD bindVerb, LONG bindFlags, BINDINFO* bindInfo,
                        LPCOLESTR headers, LPCOLESTR redirect, UINT codePage) override;

 protected:
  IUnknown* FindInterface(REFIID iid) override;
};

}  // namespace zv::watch
