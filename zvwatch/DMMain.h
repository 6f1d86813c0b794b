// Internet Explorer's pluggable download manager for the portable edition:
// the class Internet Explorer calls for each download it would save itself,
// the bind-status callback that learns the file details from the binding,
// and the delivery of the command text to the download manager's window.
#pragma once

#include <windows.h>
#include <urlmon.h>

#include <cstdint>

#include "ComServer.h"
#include "com/com_ptr.h"
#include "com/error_info.h"
#include "com/object.h"
#include "DMRules.h"
#include "DownloadManager_TLB.h"
#include "Utils.h"

namespace zvwatch {

using zv::com::ComPtr;

// Registered in the bind context before the binding of a download starts;
// collects the file details while the binding runs and, when it replaced a
// callback of the browser's, stands in for that one and puts it back.
class TBindStatusCallBack : public zv::com::Object<IBindStatusCallback> {
 public:
  TBindStatusCallBack() : Object(nullptr) {}

  // IBindStatusCallback
  STDMETHODIMP OnStartBinding(DWORD dwReserved, IBinding* pib) override;
  STDMETHODIMP GetPriority(LONG* pnPriority) override;
  STDMETHODIMP OnLowResource(DWORD reserved) override;
  STDMETHODIMP OnProgress(ULONG ulProgress, ULONG ulProgressMax, ULONG ulStatusCode,
                          LPCWSTR szStatusText) override;
  STDMETHODIMP OnStopBinding(HRESULT hresult, LPCWSTR szError) override;
  STDMETHODIMP GetBindInfo(DWORD* grfBINDF, BINDINFO* pbindinfo) override;
  STDMETHODIMP OnDataAvailable(DWORD grfBSCF, DWORD dwSize, FORMATETC* pformatetc,
                               STGMEDIUM* pstgmed) override;
  STDMETHODIMP OnObjectAvailable(REFIID riid, IUnknown* punk) override;

  // The details for the command text.
  TFileDetails Details() const;

  ComPtr<IBinding> FBinding;
  ComPtr<IBindStatusCallback> FPrevCallback;  // the browser's, set only after it was revoked
  ComPtr<IBindCtx> FBindCtx;                  // set together with FPrevCallback
  AnsiString FFileName;
  AnsiString FReferer;
  AnsiString FMIMEType;
  std::int64_t FSize = 0;
  AnsiString FFileDateTime;
  AnsiString FCookie;

 protected:
  IUnknown* FindInterface(REFIID riid) override;

 private:
  void CollectHeaderDetails();
};

// Whether exactly the combination of setting "KeysToAdd" or "KeysToIgnore"
// is held on the calling thread.
bool IsKeyComboHeld(const char* settingName);

// The download manager's main window; starts the portable edition through
// its App Paths entry when the window is missing. Null when there is none.
HWND FindManagerWindowOrStart();

// Look-ups of the window after the started download manager became idle,
// besides the first, 100 ms apart: the same 30 s as the input-idle wait.
inline constexpr int kManagerPollLookups = 300;

// How the callback is registered in the bind context: URL Monikers'
// RegisterBindStatusCallback, or a host's own with the same contract.
using TRegisterCallback = HRESULT(STDAPICALLTYPE*)(IBindCtx* pbc, IBindStatusCallback* pbsc,
                                                   IBindStatusCallback** previous, DWORD reserved);

// The steps of IDownloadManager::Download: S_OK when the command text was
// sent, E_NOTIMPL when the browser is to download the file itself.
HRESULT Download(IMoniker* pmk, IBindCtx* pbc, DWORD dwBindVerb, const BINDINFO* pBindInfo,
                 TRegisterCallback registerCallback = &RegisterBindStatusCallback);

class TIEDownloadManager
    : public zv::com::Object<IDownloadManager, zv::com::SupportErrorInfo<IID_IDownloadManager>> {
 public:
  explicit TIEDownloadManager(IUnknown* outer) : Object(outer) {}

  // IDownloadManager
  STDMETHODIMP Download(IMoniker* pmk, IBindCtx* pbc, DWORD dwBindVerb, LONG grfBINDF,
                        BINDINFO* pBindInfo, LPCOLESTR pszHeaders, LPCOLESTR pszRedir,
                        UINT uiCP) override;

 protected:
  IUnknown* FindInterface(REFIID riid) override;
};

// Registers the class and names it Internet Explorer's download manager.
class TIEDownloadManagerFactory : public TComObjectFactory {
 public:
  explicit TIEDownloadManagerFactory(TComServer& server);
  bool UpdateRegistry(bool registering) override;
};

// Module load and unload: the server, its factory and the module whose
// settings file is read.
bool InitializeModule(HINSTANCE instance);
void FinalizeModule();

}  // namespace zvwatch
