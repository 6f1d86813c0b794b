// Binds http URLs through Wine's own urlmon with the registered protocol
// handler as http's name space, serving them from a loopback server, and
// prints what happened to each request with the handler's trace lines.
//
//   zvurlbind.exe PATH ...      (e.g. /files/setup.zip; served on 127.0.0.1)
#include <winsock2.h>
#include <windows.h>
#include <urlmon.h>

#include <cstdio>
#include <functional>
#include <string>

#include "debug_output.h"
#include "loopback_http.h"

namespace {

class Callback final : public IBindStatusCallback {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IBindStatusCallback)) return E_NOINTERFACE;
    *out = this;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override { return --refs_; }
  STDMETHODIMP OnStartBinding(DWORD, IBinding* binding) override {
    if (binding) binding->AddRef();
    binding_ = binding;
    return S_OK;
  }
  STDMETHODIMP GetPriority(LONG*) override { return E_NOTIMPL; }
  STDMETHODIMP OnLowResource(DWORD) override { return S_OK; }
  STDMETHODIMP OnProgress(ULONG, ULONG, ULONG, LPCWSTR) override { return S_OK; }
  STDMETHODIMP OnStopBinding(HRESULT result, LPCWSTR) override {
    stopped = true;
    stopResult = result;
    return S_OK;
  }
  STDMETHODIMP GetBindInfo(DWORD* flags, BINDINFO* info) override {
    *flags = BINDF_ASYNCHRONOUS | BINDF_ASYNCSTORAGE | BINDF_PULLDATA | BINDF_NOWRITECACHE | BINDF_GETNEWESTVERSION;
    const DWORD size = info->cbSize;
    ZeroMemory(info, size);
    info->cbSize = size;
    return S_OK;
  }
  STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return S_OK; }
  STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }
  ~Callback() {
    if (binding_) binding_->Release();
  }
  void Abort() {
    if (binding_) binding_->Abort();
  }
  bool stopped = false;
  HRESULT stopResult = S_OK;

 private:
  ULONG refs_ = 1;
  IBinding* binding_ = nullptr;
};

void Pump(DWORD ms, const std::function<bool()>& done) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < ms && !done()) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(10);
  }
}

bool Claimed(const std::vector<std::string>& traces) {
  return !traces.empty() && (traces.back() == "Ok 1\n" || traces.back() == "Ok 2\n");
}

}  // namespace

int main(int argc, char** argv) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const CLSID handlerClass = {0xE131C96E, 0x4DDB, 0x11D4, {0x84, 0xB8, 0x00, 0x80, 0x48, 0xB3, 0x3D, 0xEA}};
  IClassFactory* factory = nullptr;
  IInternetSession* session = nullptr;
  if (FAILED(CoGetClassObject(handlerClass, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                              reinterpret_cast<void**>(&factory))) ||
      FAILED(CoInternetGetSession(0, &session, 0)) ||
      FAILED(session->RegisterNameSpace(factory, handlerClass, L"http", 0, nullptr, 0))) {
    std::printf("the protocol handler is not registered\n");
    return 1;
  }
  zvtest::LoopbackHttpServer server;
  zvtest::DebugOutputCapture traces;
  for (int i = 1; i < argc; ++i) {
    zvtest::HttpResponse response;
    response.body = "served by the web server";
    server.Serve(argv[i], response);
    const std::string url = server.Url(argv[i]);
    const std::wstring wide(url.begin(), url.end());
    traces.Clear();

    Callback callback;
    IMoniker* moniker = nullptr;
    IBindCtx* context = nullptr;
    IStream* stream = nullptr;
    HRESULT hr = CreateURLMonikerEx(nullptr, wide.c_str(), &moniker, URL_MK_UNIFORM);
    if (SUCCEEDED(hr)) hr = CreateAsyncBindCtx(0, &callback, nullptr, &context);
    if (SUCCEEDED(hr)) hr = moniker->BindToStorage(context, nullptr, IID_IStream, reinterpret_cast<void**>(&stream));
    // A claimed request never gets data: it is aborted as the browser drops it.
    Pump(5000, [&] { return callback.stopped || FAILED(hr) || Claimed(traces.Lines()); });
    // "Ok" lines follow any delivery; only a binding still waiting was claimed.
    const bool claimed = Claimed(traces.Lines()) && SUCCEEDED(hr) && !callback.stopped;
    if (claimed) callback.Abort();
    Pump(500, [&] { return callback.stopped; });
    const HRESULT reached = FAILED(hr) ? hr : callback.stopResult;
    if (stream) stream->Release();
    if (context) context->Release();
    if (moniker) moniker->Release();

    std::printf("  GET %s\n", url.c_str());
    for (const std::string& line : traces.Lines()) std::printf("      trace: %s", line.c_str());
    if (claimed)
      std::printf("    -> claimed by the handler, binding aborted\n");
    else
      std::printf("    -> given back to the default handler (0x%08lX reached the binding)\n",
                  static_cast<unsigned long>(reached));
  }
  std::printf("  requests that reached the web server: %u\n", static_cast<unsigned>(server.Requests().size()));
  session->UnregisterNameSpace(factory, L"http");
  session->Release();
  factory->Release();
  CoUninitialize();
  return 0;
}
