// IDispatch answered from a registered type library: the type library is
// loaded by LIBID when a client first asks, so an object that is never
// scripted never pays for it.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "com_ptr.h"
#include "object.h"

namespace zv::com {

struct TypeLibraryId {
  const GUID* libid;
  WORD major;
  WORD minor;
  LCID lcid;
};

class TypeInfoHolder {
 public:
  TypeInfoHolder(const TypeLibraryId& library, const IID& iid) : library_(library), iid_(iid) {}

  HRESULT GetTypeInfoCount(UINT* count);
  HRESULT GetTypeInfo(UINT index, ITypeInfo** info);
  HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, DISPID* ids);
  // `instance` is the dual interface the type information describes.
  HRESULT Invoke(void* instance, DISPID member, REFIID iid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argError);

 private:
  HRESULT Load();

  TypeLibraryId library_;
  IID iid_;
  ComPtr<ITypeInfo> info_;
};

// IDispatch of a class's dual interface `Dual` (whose id is `Iid`),
// answered from the registered type library: a class derives from
// Dispatch<Dual, ...> where it would derive from Dual, and automation
// clients reach the methods by name through the library's descriptions.
template <typename Dual, const IID& Iid, const TypeLibraryId& Library>
class Dispatch : public Dual {
 public:
  STDMETHODIMP GetTypeInfoCount(UINT* count) override { return typeInfo_.GetTypeInfoCount(count); }
  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    return Guarded([&] { return typeInfo_.GetTypeInfo(index, info); });
  }
  STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    return Guarded([&] { return typeInfo_.GetIDsOfNames(iid, names, count, ids); });
  }
  STDMETHODIMP Invoke(DISPID member, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* argError) override {
    return Guarded([&] {
      return typeInfo_.Invoke(static_cast<Dual*>(this), member, iid, flags, params, result, exception, argError);
    });
  }

 private:
  TypeInfoHolder typeInfo_{Library, Iid};
};

}  // namespace zv::com
