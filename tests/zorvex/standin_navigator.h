// A stand-in for Netscape Navigator's side of the automation protocol: it
// creates the catcher by the ProgID registered for a scheme and calls
// "Initialize" by name through IDispatch, as a late-bound client does.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

namespace zv::test {

struct NavigatorCall {
  HRESULT created = E_FAIL;  // creation by ProgID
  HRESULT named = E_FAIL;    // GetIDsOfNames("Initialize")
  DISPID id = DISPID_UNKNOWN;
  HRESULT invoked = E_FAIL;  // Invoke
  VARTYPE resultType = VT_EMPTY;
  short value = 0;  // the catcher's answer, when it is a VT_I2
};

// One URL offered as Navigator offers it: Initialize(protocol, url).
NavigatorCall OfferUrl(const std::wstring& progId, const std::wstring& protocol, const std::wstring& url);

}  // namespace zv::test
