// Error information for a class's own interfaces: ISupportErrorInfo answers
// S_OK for the interfaces listed, and ReportError records a description
// for the calling thread, which automation clients show to the user.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace zv::com {

template <const IID&... Interfaces>
class SupportErrorInfo : public ISupportErrorInfo {
 public:
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override {
    return (IsEqualIID(iid, Interfaces) || ...) ? S_OK : S_FALSE;
  }
};

// Records `description` as the error information of interface `iid` and
// returns `result`.
HRESULT ReportError(HRESULT result, const wchar_t* description, REFIID iid) noexcept;

}  // namespace zv::com
