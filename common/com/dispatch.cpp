#include "dispatch.h"
#include "error_info.h"

#include <oleauto.h>

namespace zv::com {

HRESULT TypeInfoHolder::Load() {
  if (info_) return S_OK;
  ComPtr<ITypeLib> library;
  HRESULT hr = LoadRegTypeLib(*library_.libid, library_.major, library_.minor, library_.lcid, library.put());
  if (FAILED(hr)) return hr;
  return library->GetTypeInfoOfGuid(iid_, info_.put());
}

HRESULT TypeInfoHolder::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT TypeInfoHolder::GetTypeInfo(UINT index, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  if (const HRESULT hr = Load(); FAILED(hr)) return hr;
  info_->AddRef();
  *info = info_.get();
  return S_OK;
}

HRESULT TypeInfoHolder::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, DISPID* ids) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (const HRESULT hr = Load(); FAILED(hr)) return hr;
  return DispGetIDsOfNames(info_.get(), names, count, ids);
}

HRESULT TypeInfoHolder::Invoke(void* instance, DISPID member, REFIID iid, WORD flags, DISPPARAMS* params,
                               VARIANT* result, EXCEPINFO* exception, UINT* argError) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (const HRESULT hr = Load(); FAILED(hr)) return hr;
  return info_->Invoke(instance, member, flags, params, result, exception, argError);
}

HRESULT ReportError(HRESULT result, const wchar_t* description, REFIID iid) noexcept {
  ComPtr<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(create.put()))) return result;
  create->SetGUID(iid);
  create->SetDescription(const_cast<LPOLESTR>(description));
  ComPtr<IErrorInfo> info;
  if (SUCCEEDED(create.As(IID_IErrorInfo, info))) SetErrorInfo(0, info.get());
  return result;
}

}  // namespace zv::com
