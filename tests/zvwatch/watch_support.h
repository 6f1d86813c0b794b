// Support for the download-manager component's tests: a copy of the module
// loaded from a folder of the test's choice, the portable edition's settings
// file and App Paths entry, bind contexts and callbacks as the browser has
// them, and unique URLs on the loopback server.
#pragma once

// The loopback server's winsock2.h goes before windows.h.
#include "loopback_http.h"

#include <windows.h>
#include <downloadmgr.h>
#include <urlmon.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "com/com_ptr.h"
#include "zvtest.h"

namespace zv::test {

using zv::com::ComPtr;

// The module as built.
std::string BuiltModule();

// A copy of the module under `folder` (created when missing), loaded for
// the test and removed afterwards.
class WatchModule {
 public:
  // `loadPath` is the path the module is loaded through (another form of
  // the copy's path), when not the copy's own.
  WatchModule(const std::string& folder, const std::string& fileName = "zvwatch.dll", const std::string& loadPath = "");
  // A copy in an existing folder whose name the ANSI code page cannot hold.
  explicit WatchModule(const std::wstring& folder);
  ~WatchModule();
  WatchModule(const WatchModule&) = delete;
  WatchModule& operator=(const WatchModule&) = delete;

  const std::string& path() const { return path_; }
  HMODULE handle() const { return module_.get(); }
  // One of the four exports.
  FARPROC Export(const char* name) const;
  HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out) const;
  // A new download manager object, as Internet Explorer makes it.
  ComPtr<IDownloadManager> NewManager() const;

 private:
  std::string path_;
  std::wstring widePath_;
  zv::win::UniqueLibrary module_;
};

// Writes the portable edition's settings file (section
// "SOFTWARE\Quennet\Zorvane"), creating its folders.
void WriteSettings(const std::string& file, const std::vector<std::pair<std::string, std::string>>& values);

// The portable edition registered under App Paths as "kestrix.exe" for the
// test's duration; the previous entry comes back afterwards.
class PortableAppPath {
 public:
  explicit PortableAppPath(const std::string& program);
  ~PortableAppPath();
  PortableAppPath(const PortableAppPath&) = delete;
  PortableAppPath& operator=(const PortableAppPath&) = delete;

 private:
  std::optional<std::string> saved_;
};

// The stand-in installed as the portable edition: its copy named "kestrix.exe".
std::string InstallPortable(zv::test::StandIn& standIn);

// A path on the loopback server that no earlier run has asked for, so that
// no cached copy answers in place of the server.
std::string UniquePath(const std::string& fileName);

// Serves `body` with `headers` under a UniquePath of `fileName`; its URL.
std::string ServeAtUniquePath(LoopbackHttpServer& server, const std::string& fileName,
                              std::vector<std::pair<std::string, std::string>> headers, const std::string& body);

// A file far larger than any socket buffer, served under a UniquePath of
// `stem` (no extension: Wine's cache then names it "<stem>[0]") in pieces,
// so that the server counts how much went out before the client closed.
struct LargeFile {
  std::string path;
  std::string url;
  size_t bytes = 0;
};
LargeFile ServeLargeFile(LoopbackHttpServer& server, const std::string& stem,
                         std::vector<std::pair<std::string, std::string>> headers);

// The body bytes the server sent for `path` once the connection ended;
// absent when it is still open after `timeoutMs`.
std::optional<size_t> WaitForBodyBytesSent(const LoopbackHttpServer& server, const std::string& path,
                                           DWORD timeoutMs = 20000);
// Checks that the connection for `file` ended after under a quarter of it
// went out, and prints how much did.
void ExpectClosedEarly(const LoopbackHttpServer& server, const LargeFile& file);

// `stem` made unique: Wine's cache names a file after the URL's file name
// and a counter of the files of that name before it.
std::string UniqueStem(const std::string& stem);

// A URL on a port where nothing listens: its binding fails at once.
std::string UnreachableUrl(const std::string& fileName);

ComPtr<IMoniker> UrlMoniker(const std::string& url);
ComPtr<IBindCtx> NewBindContext();

// Calls Download as Internet Explorer does, with a fresh bind context
// unless one is given.
HRESULT CallDownload(IDownloadManager* manager, const std::string& url, IBindCtx* context = nullptr,
                     DWORD bindVerb = BINDVERB_GET, BINDINFO* bindInfo = nullptr);

// A bind-status callback of the browser's: records what it is told and adds
// a Referer to the request when it negotiates one.
class BrowserCallback : public IBindStatusCallback, public IHttpNegotiate {
 public:
  explicit BrowserCallback(std::string referer = "") : referer_(std::move(referer)) {}
  virtual ~BrowserCallback() = default;

  // "start", "stop <hex>", "progress <status>"
  std::vector<std::string> events;
  std::vector<ULONG> Statuses() const;
  LONG refs() const { return refs_; }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs_)); }
  STDMETHODIMP OnStartBinding(DWORD, IBinding*) override;
  STDMETHODIMP GetPriority(LONG*) override { return S_OK; }
  STDMETHODIMP OnLowResource(DWORD) override { return S_OK; }
  STDMETHODIMP OnProgress(ULONG, ULONG, ULONG status, LPCWSTR) override;
  STDMETHODIMP OnStopBinding(HRESULT hr, LPCWSTR) override;
  STDMETHODIMP GetBindInfo(DWORD*, BINDINFO*) override { return S_OK; }
  STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return S_OK; }
  STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }
  STDMETHODIMP BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* additional) override;
  STDMETHODIMP OnResponse(DWORD, LPCWSTR, LPCWSTR, LPWSTR* additional) override;

 protected:
  std::string referer_;
  LONG refs_ = 1;  // the test's own; the object lives on the stack
};

// Passes every callback call on to `inner` (the component's callback) and
// negotiates the browser's request headers: how the browser's own binding
// carries a Referer.
class NegotiatingCallback : public BrowserCallback {
 public:
  NegotiatingCallback(IBindStatusCallback* inner, std::string referer)
      : BrowserCallback(std::move(referer)), inner_(ComPtr<IBindStatusCallback>::Share(inner)) {}
  void SetInner(IBindStatusCallback* inner) { inner_ = ComPtr<IBindStatusCallback>::Share(inner); }
  STDMETHODIMP OnStartBinding(DWORD reserved, IBinding* binding) override {
    return inner_->OnStartBinding(reserved, binding);
  }
  STDMETHODIMP OnProgress(ULONG p, ULONG max, ULONG status, LPCWSTR text) override {
    return inner_->OnProgress(p, max, status, text);
  }
  STDMETHODIMP OnStopBinding(HRESULT hr, LPCWSTR error) override { return inner_->OnStopBinding(hr, error); }
  STDMETHODIMP GetBindInfo(DWORD* flags, BINDINFO* info) override { return inner_->GetBindInfo(flags, info); }
  STDMETHODIMP OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format, STGMEDIUM* medium) override {
    return inner_->OnDataAvailable(flags, size, format, medium);
  }
  STDMETHODIMP OnObjectAvailable(REFIID iid, IUnknown* object) override {
    return inner_->OnObjectAvailable(iid, object);
  }

 private:
  ComPtr<IBindStatusCallback> inner_;
};

// A bind context that passes everything on to a real one but refuses the
// first `refusals` registrations of a callback.
class RefusingBindContext : public IBindCtx {
 public:
  explicit RefusingBindContext(int refusals);
  virtual ~RefusingBindContext() = default;
  IBindCtx* inner() const { return inner_.get(); }
  int registrations = 0;  // attempts, refused or not

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs_)); }
  STDMETHODIMP RegisterObjectBound(IUnknown* p) override { return inner_->RegisterObjectBound(p); }
  STDMETHODIMP RevokeObjectBound(IUnknown* p) override { return inner_->RevokeObjectBound(p); }
  STDMETHODIMP ReleaseBoundObjects() override { return inner_->ReleaseBoundObjects(); }
  STDMETHODIMP SetBindOptions(BIND_OPTS* p) override { return inner_->SetBindOptions(p); }
  STDMETHODIMP GetBindOptions(BIND_OPTS* p) override { return inner_->GetBindOptions(p); }
  STDMETHODIMP GetRunningObjectTable(IRunningObjectTable** p) override { return inner_->GetRunningObjectTable(p); }
  STDMETHODIMP RegisterObjectParam(LPOLESTR key, IUnknown* p) override;
  STDMETHODIMP GetObjectParam(LPOLESTR key, IUnknown** p) override { return inner_->GetObjectParam(key, p); }
  STDMETHODIMP EnumObjectParam(IEnumString** p) override { return inner_->EnumObjectParam(p); }
  STDMETHODIMP RevokeObjectParam(LPOLESTR key) override { return inner_->RevokeObjectParam(key); }

 private:
  ComPtr<IBindCtx> inner_;
  int refusals_;
  LONG refs_ = 1;
};

// The object the bind context holds under "_BSCB_Holder_", if any.
ComPtr<IUnknown> HeldCallback(IBindCtx* context);
// Registers `callback` under "_BSCB_Holder_" as the browser does.
void HoldCallback(IBindCtx* context, IBindStatusCallback* callback);

// BINDINFO for a POST whose data lie in global memory.
class PostBindInfo {
 public:
  PostBindInfo(const std::string& data, DWORD tymed = TYMED_HGLOBAL);
  ~PostBindInfo();
  PostBindInfo(const PostBindInfo&) = delete;
  PostBindInfo& operator=(const PostBindInfo&) = delete;
  BINDINFO* get() { return &info_; }

 private:
  BINDINFO info_{};
};

// Answers the dialogs of one caption that the process shows (the shell's
// error boxes), from a thread of its own.
class DialogAnswerer {
 public:
  explicit DialogAnswerer(std::string caption);
  ~DialogAnswerer();
  DialogAnswerer(const DialogAnswerer&) = delete;
  DialogAnswerer& operator=(const DialogAnswerer&) = delete;
  int answered() const { return answered_; }

 private:
  static DWORD WINAPI Watch(void* self);

  std::string caption_;
  volatile LONG stopping_ = 0;
  volatile LONG answered_ = 0;
  zv::win::UniqueHandle thread_;
};

// The texts the stand-in received, as bytes.
std::vector<std::string> ReceivedBytes(const StandIn& standIn);

// Apartment for the test thread, as the browser's thread has one.
class ComApartment {
 public:
  ComApartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  ~ComApartment() { CoUninitialize(); }
};

}  // namespace zv::test
