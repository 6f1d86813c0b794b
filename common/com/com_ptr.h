// Owning pointers for COM interfaces, BSTRs, VARIANTs and SAFEARRAYs: one
// Release / SysFreeString / VariantClear / SafeArrayDestroy on every path.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstddef>
#include <utility>

namespace zv::com {

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  ComPtr(const ComPtr& other) : p_(other.p_) {
    if (p_) p_->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~ComPtr() { reset(); }

  // Shares a pointer the caller keeps its own reference to.
  static ComPtr Share(T* p) {
    if (p) p->AddRef();
    return Adopt(p);
  }
  // Takes over a reference the caller already owns.
  static ComPtr Adopt(T* p) {
    ComPtr ptr;
    ptr.p_ = p;
    return ptr;
  }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

  // For out-parameters: releases the current pointer first.
  T** put() {
    reset();
    return &p_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }
  T* detach() { return std::exchange(p_, nullptr); }
  void reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }

  // QueryInterface into another owning pointer.
  template <typename Q>
  HRESULT As(REFIID iid, ComPtr<Q>& out) const {
    if (!p_) return E_POINTER;
    return p_->QueryInterface(iid, out.put_void());
  }

 private:
  T* p_ = nullptr;
};

class UniqueBstr {
 public:
  UniqueBstr() = default;
  explicit UniqueBstr(const wchar_t* text) : b_(SysAllocString(text)) {}
  UniqueBstr(const UniqueBstr&) = delete;
  UniqueBstr& operator=(const UniqueBstr&) = delete;
  UniqueBstr(UniqueBstr&& other) noexcept : b_(other.release()) {}
  UniqueBstr& operator=(UniqueBstr&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueBstr() { reset(); }

  static UniqueBstr FromBytes(const void* bytes, UINT size) {
    UniqueBstr b;
    b.b_ = SysAllocStringByteLen(static_cast<const char*>(bytes), size);
    return b;
  }

  BSTR get() const { return b_; }
  BSTR* put() {
    reset();
    return &b_;
  }
  BSTR release() { return std::exchange(b_, nullptr); }
  void reset(BSTR b = nullptr) {
    if (BSTR old = std::exchange(b_, b)) SysFreeString(old);
  }
  UINT Length() const { return SysStringLen(b_); }
  UINT ByteLength() const { return SysStringByteLen(b_); }

 private:
  BSTR b_ = nullptr;
};

class UniqueVariant {
 public:
  UniqueVariant() { VariantInit(&v_); }
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;
  ~UniqueVariant() { VariantClear(&v_); }

  VARIANT* get() { return &v_; }
  const VARIANT* get() const { return &v_; }
  VARTYPE type() const { return V_VT(&v_); }
  void Clear() { VariantClear(&v_); }

 private:
  VARIANT v_;
};

class UniqueSafeArray {
 public:
  UniqueSafeArray() = default;
  explicit UniqueSafeArray(SAFEARRAY* array) : a_(array) {}
  UniqueSafeArray(const UniqueSafeArray&) = delete;
  UniqueSafeArray& operator=(const UniqueSafeArray&) = delete;
  UniqueSafeArray(UniqueSafeArray&& other) noexcept : a_(other.release()) {}
  ~UniqueSafeArray() { reset(); }

  SAFEARRAY* get() const { return a_; }
  SAFEARRAY* release() { return std::exchange(a_, nullptr); }
  void reset(SAFEARRAY* array = nullptr) {
    if (SAFEARRAY* old = std::exchange(a_, array)) SafeArrayDestroy(old);
  }

 private:
  SAFEARRAY* a_ = nullptr;
};

// Access to a SAFEARRAY's data for the lifetime of the object.
class SafeArrayData {
 public:
  explicit SafeArrayData(SAFEARRAY* array) : array_(array) {
    if (!array_ || FAILED(SafeArrayAccessData(array_, &data_))) data_ = nullptr;
  }
  SafeArrayData(const SafeArrayData&) = delete;
  SafeArrayData& operator=(const SafeArrayData&) = delete;
  ~SafeArrayData() {
    if (data_) SafeArrayUnaccessData(array_);
  }
  void* get() const { return data_; }

 private:
  SAFEARRAY* array_;
  void* data_ = nullptr;
};

}  // namespace zv::com
