// Wine's own urlmon creates and starts the handler, as Internet Explorer's
// URL moniker layer does: the handler's class factory, found through the
// CLSID its registration wrote, is registered as the name space for http,
// and an http URL of a loopback server is bound asynchronously.
#include <winsock2.h>
#include <windows.h>
#include <urlmon.h>

#include <functional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "debug_output.h"
#include "loopback_http.h"
#include "registry_dump.h"
#include "zvtest.h"

using namespace zvtest;
using testing::IsEmpty;

namespace {

constexpr char kBegin[] = "TL Protocol handler.dll version 1.0.0.1. Begin\n";

// The browser's side of a binding: asynchronous, no cache, data pulled.
class BindCallback final : public IBindStatusCallback {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IBindStatusCallback)) return E_NOINTERFACE;
    *out = static_cast<IBindStatusCallback*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs_)); }

  STDMETHODIMP OnStartBinding(DWORD, IBinding* binding) override {
    if (binding) {
      binding->AddRef();
      binding_ = binding;
    }
    return S_OK;
  }
  STDMETHODIMP GetPriority(LONG*) override { return E_NOTIMPL; }
  STDMETHODIMP OnLowResource(DWORD) override { return S_OK; }
  STDMETHODIMP OnProgress(ULONG, ULONG, ULONG, LPCWSTR) override { return S_OK; }
  STDMETHODIMP OnStopBinding(HRESULT result, LPCWSTR) override {
    stopped_ = true;
    stopResult_ = result;
    return S_OK;
  }
  STDMETHODIMP GetBindInfo(DWORD* flags, BINDINFO* info) override {
    *flags = BINDF_ASYNCHRONOUS | BINDF_ASYNCSTORAGE | BINDF_PULLDATA | BINDF_NOWRITECACHE | BINDF_GETNEWESTVERSION;
    const DWORD size = info->cbSize;
    ZeroMemory(info, size);
    info->cbSize = size;
    info->dwBindVerb = BINDVERB_GET;
    return S_OK;
  }
  STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override {
    ++dataCalls_;
    return S_OK;
  }
  STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

  void Abort() {
    if (binding_) binding_->Abort();
  }
  ~BindCallback() {
    if (binding_) binding_->Release();
  }

  bool stopped_ = false;
  HRESULT stopResult_ = S_OK;
  int dataCalls_ = 0;

 private:
  LONG refs_ = 1;
  IBinding* binding_ = nullptr;
};

void PumpMessagesFor(DWORD ms, const std::function<bool()>& done) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < ms && !done()) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(10);
  }
}

class UrlmonStartsTheHandler : public testing::Test {
 protected:
  void SetUp() override {
    ReleaseAllKeys();
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_EQ(RunRegsvr32(WinPath(ZV_HANDLER_MODULE)), 0u);
    registry_.Set("ZVCaption", StandInOptions().caption);
    registry_.Set("AcceptingTypes", "ZIP,EXE");

    // The class the registration entered as http's name-space handler.
    const auto clsidText =
        GetRegText(HKEY_CLASSES_ROOT, "PROTOCOLS\\Name-Space Handler\\http\\HIEClickCatcher", "CLSID");
    ASSERT_TRUE(clsidText);
    const std::wstring wide(clsidText->begin(), clsidText->end());
    ASSERT_EQ(CLSIDFromString(wide.c_str(), &clsid_), S_OK);
    ASSERT_EQ(CoGetClassObject(clsid_, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(&factory_)),
              S_OK);
    ASSERT_EQ(CoInternetGetSession(0, &session_, 0), S_OK);
    ASSERT_EQ(session_->RegisterNameSpace(factory_, clsid_, L"http", 0, nullptr, 0), S_OK);
  }
  void TearDown() override {
    if (session_) {
      session_->UnregisterNameSpace(factory_, L"http");
      session_->Release();
    }
    if (factory_) factory_->Release();
    CoUninitialize();
    RunRegsvr32(WinPath(ZV_HANDLER_MODULE), true);
  }

  // Binds `url` asynchronously; returns what BindToStorage answered.
  HRESULT Bind(const std::string& url, BindCallback& callback, IMoniker** moniker, IBindCtx** context) {
    const std::wstring wide(url.begin(), url.end());
    HRESULT hr = CreateURLMonikerEx(nullptr, wide.c_str(), moniker, URL_MK_UNIFORM);
    if (FAILED(hr)) return hr;
    hr = CreateAsyncBindCtx(0, &callback, nullptr, context);
    if (FAILED(hr)) return hr;
    IStream* stream = nullptr;
    hr = (*moniker)->BindToStorage(*context, nullptr, IID_IStream, reinterpret_cast<void**>(&stream));
    if (stream) stream->Release();
    return hr;
  }

  ManagerRegistry registry_;
  LoopbackHttpServer server_;
  DebugOutputCapture traces_;
  CLSID clsid_{};
  IClassFactory* factory_ = nullptr;
  IInternetSession* session_ = nullptr;
};

TEST_F(UrlmonStartsTheHandler, AcceptedDownloadReachesTheDownloadManagerInsteadOfTheServer) {
  StandIn standIn;
  standIn.Launch();
  HttpResponse file;
  file.headers = {{"Content-Type", "application/zip"}};
  file.body = "PK\x03\x04 not to be fetched";
  server_.Serve("/files/setup.zip", file);
  const std::string url = server_.Url("/files/setup.zip");

  BindCallback callback;
  IMoniker* moniker = nullptr;
  IBindCtx* context = nullptr;
  const HRESULT hr = Bind(url, callback, &moniker, &context);
  EXPECT_TRUE(hr == MK_S_ASYNCHRONOUS || hr == S_OK) << std::hex << hr;
  // The claimed request never delivers data: the browser drops it, the
  // test aborts it once the download manager has the text.
  PumpMessagesFor(10000, [&] { return !standIn.Texts().empty(); });
  callback.Abort();
  PumpMessagesFor(500, [&] { return callback.stopped_; });
  if (context) context->Release();
  if (moniker) moniker->Release();

  const auto texts = standIn.Texts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].bytes, "URL=" + url);
  EXPECT_EQ(callback.dataCalls_, 0);
  EXPECT_THAT(server_.Requests(), IsEmpty());
  const auto traces = traces_.Lines();
  ASSERT_FALSE(traces.empty());
  EXPECT_EQ(traces.front(), kBegin);
  EXPECT_EQ(traces.back(), "Ok 1\n");
}

TEST_F(UrlmonStartsTheHandler, RefusedRequestGoesBackToTheDefaultHandler) {
  StandIn standIn;
  standIn.Launch();
  HttpResponse page;
  page.headers = {{"Content-Type", "text/html"}};
  page.body = "<html>page</html>";
  server_.Serve("/index.html", page);

  BindCallback callback;
  IMoniker* moniker = nullptr;
  IBindCtx* context = nullptr;
  const HRESULT hr = Bind(server_.Url("/index.html"), callback, &moniker, &context);
  PumpMessagesFor(3000, [&] { return callback.stopped_ || FAILED(hr); });
  if (context) context->Release();
  if (moniker) moniker->Release();

  // Wine's binding reports the handler's answer instead of falling back.
  const HRESULT reached = FAILED(hr) ? hr : callback.stopResult_;
  EXPECT_EQ(reached, INET_E_USE_DEFAULT_PROTOCOLHANDLER) << std::hex << hr << " " << callback.stopResult_;
  EXPECT_THAT(standIn.Texts(), IsEmpty());
  const auto traces = traces_.Lines();
  ASSERT_FALSE(traces.empty());
  EXPECT_EQ(traces.front(), kBegin);
  EXPECT_EQ(traces.back(), "This extention is not accepting\n");
}

}  // namespace
