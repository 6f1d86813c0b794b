// IDispatch answered from a registered type library: the type library is
// loaded by LIBID when a client first asks, so an object that is never
// scripted never pays for it.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "com_ptr.h"

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
  HRESULT Invoke(void* instance, DISPID member, REFIID iid, WORD flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO* exception, UINT* argError);

 private:
  HRESULT Load();

  TypeLibraryId library_;
  IID iid_;
  ComPtr<ITypeInfo> info_;
};

}  // namespace zv::com
