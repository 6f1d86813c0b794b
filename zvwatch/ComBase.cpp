#include "ComBase.h"

#include <oleauto.h>

#include <cstdio>
#include <new>

#include "win/unique_handles.h"

namespace zvwatch {

TComServer* ComServer = nullptr;

namespace {

void CountObject(bool created) {
  if (ComServer) ComServer->CountObject(created);
}

bool SetClassValue(const std::string& subkey, const char* valueName, const std::string& data) {
  zv::win::UniqueHkey key;
  if (RegCreateKeyExA(HKEY_CLASSES_ROOT, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                      nullptr, key.put(), nullptr) != ERROR_SUCCESS)
    return false;
  return RegSetValueExA(key.get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                        static_cast<DWORD>(data.size() + 1)) == ERROR_SUCCESS;
}

// The module path as the class entry names it: the short form when the
// long one has a space, so that hosts that split command lines find it.
std::string ServerPathForRegistry(const std::string& path) {
  if (path.find(' ') == std::string::npos) return path;
  char shortPath[MAX_PATH] = {};
  const DWORD length = GetShortPathNameA(path.c_str(), shortPath, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(shortPath, length) : path;
}

}  // namespace

std::string GuidToString(REFGUID guid) {
  char text[40];
  std::snprintf(text, sizeof(text), "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6],
                guid.Data4[7]);
  return text;
}

// --- TComServer ---------------------------------------------------------------

TComServer::~TComServer() {
  for (TComObjectFactory* factory : factories_) delete factory;
}

std::string TComServer::ServerFileName() const {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(instance_, path, MAX_PATH);
  return std::string(path, length < MAX_PATH ? length : 0);
}

void TComServer::AddFactory(TComObjectFactory* factory) { factories_.push_back(factory); }

TComObjectFactory* TComServer::FindFactory(REFCLSID clsid) const {
  for (TComObjectFactory* factory : factories_)
    if (IsEqualCLSID(factory->ClassId(), clsid)) return factory;
  return nullptr;
}

HRESULT TComServer::UpdateRegistry(bool registering) {
  for (TComObjectFactory* factory : factories_)
    if (!factory->UpdateRegistry(registering)) return E_FAIL;
  return S_OK;
}

// --- TInterfacedObject ---------------------------------------------------------

TInterfacedObject::TInterfacedObject() { CountObject(true); }
TInterfacedObject::~TInterfacedObject() { CountObject(false); }

ULONG TInterfacedObject::ReleaseObject() {
  const LONG count = InterlockedDecrement(&refCount_);
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

// --- TComObject ------------------------------------------------------------------

TComObject::TComObject(IUnknown* outer) : inner_(this), outer_(outer) { CountObject(true); }
TComObject::~TComObject() { CountObject(false); }

HRESULT TComObject::ObjQueryInterface(REFIID riid, void** ppv) {
  if (outer_) return outer_->QueryInterface(riid, ppv);
  return inner_.QueryInterface(riid, ppv);
}

ULONG TComObject::ObjAddRef() { return outer_ ? outer_->AddRef() : inner_.AddRef(); }
ULONG TComObject::ObjRelease() { return outer_ ? outer_->Release() : inner_.Release(); }

HRESULT STDMETHODCALLTYPE TComObject::TInnerUnknown::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  IUnknown* found = nullptr;
  if (IsEqualIID(riid, IID_IUnknown))
    found = this;
  else if (IsEqualIID(riid, IID_ISupportErrorInfo))
    found = static_cast<ISupportErrorInfo*>(self);
  else
    found = static_cast<IUnknown*>(self->GetInterface(riid));
  if (!found) return E_NOINTERFACE;
  found->AddRef();
  *ppv = found;
  return S_OK;
}

ULONG STDMETHODCALLTYPE TComObject::TInnerUnknown::AddRef() {
  return static_cast<ULONG>(InterlockedIncrement(&self->refCount_));
}

ULONG STDMETHODCALLTYPE TComObject::TInnerUnknown::Release() {
  const LONG count = InterlockedDecrement(&self->refCount_);
  if (count == 0) delete self;
  return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE TComObject::InterfaceSupportsErrorInfo(REFIID riid) {
  return GetInterface(riid) ? S_OK : S_FALSE;
}

HRESULT TComObject::ReportError(HRESULT result, const wchar_t* description, REFIID iid) {
  ICreateErrorInfo* create = nullptr;
  if (SUCCEEDED(CreateErrorInfo(&create))) {
    create->SetGUID(iid);
    create->SetDescription(const_cast<LPOLESTR>(description));
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
      SetErrorInfo(0, info);
      info->Release();
    }
    create->Release();
  }
  return result;
}

// --- TComObjectFactory -------------------------------------------------------------

TComObjectFactory::TComObjectFactory(TComServer& server, TCreateObject create, REFCLSID clsid,
                                     std::string className, std::string description,
                                     std::string threadingModel)
    : server_(server),
      create_(create),
      clsid_(clsid),
      className_(std::move(className)),
      description_(std::move(description)),
      threadingModel_(std::move(threadingModel)) {}

std::string TComObjectFactory::ProgID() const {
  std::string name = server_.ServerFileName();
  name = name.substr(name.find_last_of(":\\/") + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  return name + "." + className_;
}

bool TComObjectFactory::UpdateRegistry(bool registering) {
  const std::string classKey = "CLSID\\" + GuidToString(clsid_);
  const std::string progId = ProgID();
  if (!registering) {
    // Each key after its subkeys; what is not there is not missed.
    for (const std::string& key : {classKey + "\\ProgID", progId + "\\Clsid", progId,
                                   classKey + "\\InprocServer32", classKey})
      RegDeleteKeyA(HKEY_CLASSES_ROOT, key.c_str());
    return true;
  }
  const std::string serverKey = classKey + "\\InprocServer32";
  return SetClassValue(classKey, nullptr, description_) &&
         SetClassValue(serverKey, nullptr, ServerPathForRegistry(server_.ServerFileName())) &&
         SetClassValue(serverKey, "ThreadingModel", threadingModel_) &&
         SetClassValue(progId, nullptr, description_) &&
         SetClassValue(progId + "\\Clsid", nullptr, GuidToString(clsid_)) &&
         SetClassValue(classKey + "\\ProgID", nullptr, progId);
}

HRESULT STDMETHODCALLTYPE TComObjectFactory::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
  *ppv = static_cast<IClassFactory*>(this);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TComObjectFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  // An aggregated object can hand out only its own IUnknown at creation.
  if (outer && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  TComObject* object = create_(outer);
  if (!object) return E_OUTOFMEMORY;
  IUnknown* inner = object->InnerUnknown();
  inner->AddRef();
  const HRESULT hr = inner->QueryInterface(riid, ppv);
  inner->Release();  // the creation reference: a failed query ends the object
  return hr;
}

HRESULT STDMETHODCALLTYPE TComObjectFactory::LockServer(BOOL lock) {
  server_.CountLock(lock != FALSE);
  return S_OK;
}

}  // namespace zvwatch
