#include "standin_navigator.h"

#include "com/com_ptr.h"

namespace zv::test {

NavigatorCall OfferUrl(const std::wstring& progId, const std::wstring& protocol, const std::wstring& url) {
  NavigatorCall call;
  CLSID clsid{};
  call.created = CLSIDFromProgID(progId.c_str(), &clsid);
  zv::com::ComPtr<IDispatch> catcher;
  if (SUCCEEDED(call.created))
    call.created = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, catcher.put_void());
  if (FAILED(call.created)) return call;

  LPOLESTR name = const_cast<LPOLESTR>(L"Initialize");
  call.named = catcher->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &call.id);
  if (SUCCEEDED(call.named)) {
    // Arguments go in reverse order.
    VARIANT args[2];
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    V_VT(&args[1]) = VT_BSTR;
    V_BSTR(&args[1]) = SysAllocString(protocol.c_str());
    V_VT(&args[0]) = VT_BSTR;
    V_BSTR(&args[0]) = SysAllocString(url.c_str());
    DISPPARAMS params{args, nullptr, 2, 0};
    VARIANT result;
    VariantInit(&result);
    call.invoked =
        catcher->Invoke(call.id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
    call.resultType = V_VT(&result);
    if (V_VT(&result) == VT_I2) call.value = V_I2(&result);
    VariantClear(&result);
    VariantClear(&args[0]);
    VariantClear(&args[1]);
  }
  return call;
}

}  // namespace zv::test
