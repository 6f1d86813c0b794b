// IECatcher: the browser helper object. It connects to its browser
// window's DWebBrowserEvents2 and hands accepted downloads of
// BeforeNavigate2 to the download manager, cancelling the navigation when
// the download manager takes it.
#pragma once

#include <windows.h>
#include <exdisp.h>
#include <ocidl.h>

#include <optional>
#include <string>

#include "ZVHelper.h"
#include "com/com_ptr.h"
#include "com/dispatch.h"
#include "com/error_info.h"
#include "com/object.h"

namespace zv::helper {

// The module's type library, which describes IIECatcher.
extern const com::TypeLibraryId kLibrary;

class IECatcher final : public com::Object<com::Dispatch<IIECatcher, IID_IIECatcher, kLibrary>,
                                           com::SupportErrorInfo<IID_IIECatcher>, IObjectWithSite> {
 public:
  explicit IECatcher(IUnknown* outer);

  // IDispatch::Invoke is the event sink; type information comes from the
  // registered type library.
  STDMETHODIMP Invoke(DISPID member, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* argError) override;

  // IObjectWithSite
  STDMETHODIMP SetSite(IUnknown* site) override;
  STDMETHODIMP GetSite(REFIID iid, void** site) override;

 protected:
  IUnknown* FindInterface(REFIID iid) override;

 private:
  void ConnectEvents();
  void DisconnectEvents();
  void OnBeforeNavigate2(DISPPARAMS& params);
  std::optional<std::string> BrowserLocation() const;

  com::ComPtr<IWebBrowser2> browser_;
  DWORD cookie_ = 0;
};

}  // namespace zv::helper
