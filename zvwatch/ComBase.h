// The module's COM server framework: interface-pointer ownership, the
// reference-counted object bases, the class factory with its registry
// entries, and the server that counts objects and locks.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zvwatch {

// Owns one reference on an interface pointer.
template <typename T>
class TComPtr {
 public:
  TComPtr() = default;
  // Takes a reference of its own on `p`.
  explicit TComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  TComPtr(const TComPtr& other) : TComPtr(other.p_) {}
  TComPtr(TComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  TComPtr& operator=(TComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~TComPtr() { reset(); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For out-parameters: drops the current reference first.
  T** put() {
    reset();
    return &p_;
  }
  void reset() {
    if (T* old = std::exchange(p_, nullptr)) old->Release();
  }
  // Hands the reference over to the caller.
  T* Detach() { return std::exchange(p_, nullptr); }

  template <typename U>
  HRESULT As(const IID& iid, TComPtr<U>& out) const {
    if (!p_) return E_POINTER;
    return p_->QueryInterface(iid, reinterpret_cast<void**>(out.put()));
  }

 private:
  T* p_ = nullptr;
};

class TComObjectFactory;

// The server object: its factories, and the count of live objects and
// factory locks that tells whether the module may be unloaded.
class TComServer {
 public:
  explicit TComServer(HINSTANCE instance) : instance_(instance) {}
  TComServer(const TComServer&) = delete;
  TComServer& operator=(const TComServer&) = delete;
  ~TComServer();

  HINSTANCE Instance() const { return instance_; }
  // The module's full path as loaded.
  std::string ServerFileName() const;

  void AddFactory(TComObjectFactory* factory);  // the server owns it
  TComObjectFactory* FindFactory(REFCLSID clsid) const;

  HRESULT CanUnloadNow() const { return objects_ == 0 && locks_ == 0 ? S_OK : S_FALSE; }
  HRESULT UpdateRegistry(bool registering);

  void CountObject(bool created) { InterlockedAdd(&objects_, created ? 1 : -1); }
  void CountLock(bool locked) { InterlockedAdd(&locks_, locked ? 1 : -1); }

 private:
  HINSTANCE instance_;
  std::vector<TComObjectFactory*> factories_;
  LONG objects_ = 0;
  LONG locks_ = 0;
};

// The module's server, made at load and ended at unload.
extern TComServer* ComServer;

// Base of the module's reference-counted objects: every live object keeps
// the module loaded.
class TInterfacedObject {
 public:
  TInterfacedObject(const TInterfacedObject&) = delete;
  TInterfacedObject& operator=(const TInterfacedObject&) = delete;

 protected:
  TInterfacedObject();
  virtual ~TInterfacedObject();
  ULONG AddRefObject() { return static_cast<ULONG>(InterlockedIncrement(&refCount_)); }
  ULONG ReleaseObject();

 private:
  LONG refCount_ = 0;
};

// Base of the module's COM classes: reference counting, aggregation by an
// outer object, and error information (ISupportErrorInfo) for the class's
// own interfaces. A class derives from TComClass below.
class TComObject : public ISupportErrorInfo {
 public:
  TComObject(const TComObject&) = delete;
  TComObject& operator=(const TComObject&) = delete;

  // The object's own IUnknown, which never delegates to the outer object.
  IUnknown* InnerUnknown() { return &inner_; }

  // ISupportErrorInfo
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

 protected:
  explicit TComObject(IUnknown* outer);
  virtual ~TComObject();

  // The class's own interfaces: the pointer for `riid`, or null.
  virtual void* GetInterface(REFIID riid) = 0;

  // Records `description` as the error information of the calling thread
  // for the class's interface `iid` and returns `result`.
  HRESULT ReportError(HRESULT result, const wchar_t* description, REFIID iid);

  // The IUnknown of every interface: the outer object's when aggregated.
  HRESULT ObjQueryInterface(REFIID riid, void** ppv);
  ULONG ObjAddRef();
  ULONG ObjRelease();

 private:
  struct TInnerUnknown : IUnknown {
    TComObject* self;
    explicit TInnerUnknown(TComObject* owner) : self(owner) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
  };

  TInnerUnknown inner_;
  IUnknown* outer_;  // not counted: the outer object owns this one
  LONG refCount_ = 0;
};

// A COM class implementing `Interfaces`, whose IUnknown methods go through
// TComObject.
template <typename... Interfaces>
class TComClass : public TComObject, public Interfaces... {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return ObjQueryInterface(riid, ppv); }
  STDMETHODIMP_(ULONG) AddRef() override { return ObjAddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return ObjRelease(); }

 protected:
  explicit TComClass(IUnknown* outer) : TComObject(outer) {}
};

// Makes the objects of one class and writes and removes its class entries.
class TComObjectFactory : public IClassFactory {
 public:
  // Makes a new object aggregated in `outer` (may be null); null when out of memory.
  using TCreateObject = TComObject* (*)(IUnknown* outer);

  TComObjectFactory(TComServer& server, TCreateObject create, REFCLSID clsid, std::string className,
                    std::string description, std::string threadingModel);
  TComObjectFactory(const TComObjectFactory&) = delete;
  TComObjectFactory& operator=(const TComObjectFactory&) = delete;
  virtual ~TComObjectFactory() = default;

  const CLSID& ClassId() const { return clsid_; }
  // The module's file name without extension, ".", the class name.
  std::string ProgID() const;

  // Writes (or removes) the class entries under HKEY_CLASSES_ROOT; false
  // when an entry could not be written. Removal never fails.
  virtual bool UpdateRegistry(bool registering);

  // IUnknown: the factory lives as long as the server.
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  // IClassFactory
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
  STDMETHODIMP LockServer(BOOL lock) override;

 protected:
  TComServer& Server() const { return server_; }

 private:
  TComServer& server_;
  TCreateObject create_;
  CLSID clsid_;
  std::string className_;
  std::string description_;
  std::string threadingModel_;
};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper-case hex.
std::string GuidToString(REFGUID guid);

}  // namespace zvwatch
