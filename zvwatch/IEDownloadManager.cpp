#include "IEDownloadManager.h"

#include "DMMain.h"

namespace zv::watch {

IUnknown* TIEDownloadManager::FindInterface(REFIID iid) {
  if (IsEqualIID(iid, IID_IDownloadManager)) return static_cast<IDownloadManager*>(this);
  if (IsEqualIID(iid, IID_ISupportErrorInfo)) return static_cast<ISupportErrorInfo*>(this);
  return nullptr;
}

// No other result than S_OK or E_NOTIMPL reaches the browser: a failure
// gives the download back.
STDMETHODIMP TIEDownloadManager::Download(IMoniker* moniker, IBindCtx* context, DWORD bindVerb, LONG,
                                          BINDINFO* bindInfo, LPCOLESTR, LPCOLESTR, UINT) {
  return zv::com::Guarded([&] { return zv::watch::Download(moniker, context, bindVerb, bindInfo); },
                          [] {
                            return zv::com::ReportError(E_NOTIMPL,
                                                        L"The download could not be handed to the download manager.",
                                                        IID_IDownloadManager);
                          });
}

}  // namespace zv::watch
