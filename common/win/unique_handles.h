// Owning wrappers for Win32 handles: one close per handle on every path.
#pragma once

#include <windows.h>

#include <utility>

namespace zv::win {

// Traits give the handle type, its failure value and how to free it.
template <typename Traits>
class UniqueResource {
 public:
  using T = typename Traits::Type;

  UniqueResource() = default;
  explicit UniqueResource(T value) : value_(value) {}
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueResource() { reset(); }

  T get() const { return value_; }
  explicit operator bool() const { return value_ != Traits::Invalid(); }
  // For out-parameters: frees the current value first.
  T* put() {
    reset();
    return &value_;
  }
  T release() { return std::exchange(value_, Traits::Invalid()); }
  void reset(T value = Traits::Invalid()) {
    T old = std::exchange(value_, value);
    if (old != Traits::Invalid()) Traits::Close(old);
  }

 private:
  T value_ = Traits::Invalid();
};

#define ZV_HANDLE_TRAITS(Name, HandleType, InvalidValue, CloseCall) \
  struct Name {                                                     \
    using Type = HandleType;                                        \
    static Type Invalid() { return InvalidValue; }                  \
    static void Close(Type h) { CloseCall(h); }                     \
  };

ZV_HANDLE_TRAITS(KernelHandleTraits, HANDLE, nullptr, ::CloseHandle)
ZV_HANDLE_TRAITS(FileHandleTraits, HANDLE, INVALID_HANDLE_VALUE, ::CloseHandle)
ZV_HANDLE_TRAITS(RegKeyTraits, HKEY, nullptr, ::RegCloseKey)
ZV_HANDLE_TRAITS(LibraryTraits, HMODULE, nullptr, ::FreeLibrary)
ZV_HANDLE_TRAITS(ViewTraits, void*, nullptr, ::UnmapViewOfFile)
ZV_HANDLE_TRAITS(WindowTraits, HWND, nullptr, ::DestroyWindow)
ZV_HANDLE_TRAITS(FindTraits, HANDLE, INVALID_HANDLE_VALUE, ::FindClose)
#undef ZV_HANDLE_TRAITS

// Kernel handles whose failure value is NULL (mutex, event, mapping, process).
using UniqueHandle = UniqueResource<KernelHandleTraits>;
using UniqueFile = UniqueResource<FileHandleTraits>;
using UniqueHkey = UniqueResource<RegKeyTraits>;
using UniqueLibrary = UniqueResource<LibraryTraits>;
using UniqueView = UniqueResource<ViewTraits>;
using UniqueWindow = UniqueResource<WindowTraits>;
// A FindFirstFile search.
using UniqueFind = UniqueResource<FindTraits>;

}  // namespace zv::win
