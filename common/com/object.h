// The base of the modules' COM classes: reference counting, QueryInterface
// from the class's own list, aggregation, and the module lock count that
// DllCanUnloadNow reads.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <new>

namespace zv::com {

// The module lock count: live objects (class factories included) and
// LockServer(TRUE) calls. Changed with interlocked operations only.
void LockModule() noexcept;
void UnlockModule() noexcept;
LONG ModuleLockCount() noexcept;

// Runs `body`, turning an escaping exception into an HRESULT: nothing may
// be thrown across a COM method or an export.
template <typename Body>
HRESULT Guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

// As Guarded, for a method whose contract allows only some results: an
// escaping exception is answered with `onException()`.
template <typename Body, typename Fallback>
HRESULT Guarded(Body&& body, Fallback&& onException) noexcept {
  try {
    return body();
  } catch (...) {
    return onException();
  }
}

// A class derives from Object<its interfaces...> and answers FindInterface
// in its QueryInterface order. Every interface's IUnknown methods go to the
// controlling unknown: the outer object when the object is aggregated,
// otherwise the object's own inner unknown, which holds the count.
template <typename... Interfaces>
class Object : public Interfaces... {
 public:
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override { return controlling_->QueryInterface(iid, out); }
  STDMETHODIMP_(ULONG) AddRef() override { return controlling_->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return controlling_->Release(); }

  // The non-delegating unknown: what an outer object holds of an aggregate.
  IUnknown* InnerUnknown() { return &inner_; }

 protected:
  explicit Object(IUnknown* outer) : inner_(this), controlling_(outer ? outer : &inner_) { LockModule(); }
  virtual ~Object() { UnlockModule(); }

  // The interface for `iid` (not counted), or null. IUnknown is answered
  // by the base.
  virtual IUnknown* FindInterface(REFIID iid) = 0;

 private:
  class Inner final : public IUnknown {
   public:
    explicit Inner(Object* owner) : owner_(owner) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
      if (!out) return E_POINTER;
      *out = nullptr;
      IUnknown* found = IsEqualIID(iid, IID_IUnknown) ? this : owner_->FindInterface(iid);
      if (!found) return E_NOINTERFACE;
      found->AddRef();
      *out = found;
      return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    STDMETHODIMP_(ULONG) Release() override {
      const LONG left = InterlockedDecrement(&refs_);
      if (left == 0) delete owner_;
      return static_cast<ULONG>(left);
    }

   private:
    Object* owner_;
    LONG refs_ = 0;
  };

  Inner inner_;
  IUnknown* controlling_;
};

// Creates a T (constructed from its outer unknown) and answers `iid`. An
// aggregated object must be asked for IUnknown, as COM requires.
template <typename T>
HRESULT CreateObject(IUnknown* outer, REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (outer && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  return Guarded([&]() -> HRESULT {
    T* object = new (std::nothrow) T(outer);
    if (!object) return E_OUTOFMEMORY;
    IUnknown* inner = object->InnerUnknown();
    inner->AddRef();
    const HRESULT hr = inner->QueryInterface(iid, out);
    inner->Release();
    return hr;
  });
}

}  // namespace zv::com
