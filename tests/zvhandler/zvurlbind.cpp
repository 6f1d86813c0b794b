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

#include "async_bind.h"
#include "debug_output.h"
#include "loopback_http.h"

namespace {

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
  zv::test::LoopbackHttpServer server;
  zv::test::DebugOutputCapture traces;
  for (int i = 1; i < argc; ++i) {
    zv::test::HttpResponse response;
    response.body = "served by the web server";
    server.Serve(argv[i], response);
    const std::string url = server.Url(argv[i]);
    traces.Clear();

    zv::test::BindCallback callback;
    IMoniker* moniker = nullptr;
    IBindCtx* context = nullptr;
    const HRESULT hr = zv::test::BindAsync(url, callback, &moniker, &context);
    // A claimed request gets no data: the handler ends its binding itself.
    zv::test::PumpMessagesFor(15000, [&] { return callback.stopped || FAILED(hr); });
    const bool claimed = Claimed(traces.Lines());
    const HRESULT reached = FAILED(hr) ? hr : callback.stopResult;
    if (context) context->Release();
    if (moniker) moniker->Release();

    std::printf("  GET %s\n", url.c_str());
    for (const std::string& line : traces.Lines()) std::printf("      trace: %s", line.c_str());
    if (claimed)
      std::printf("    -> claimed by the handler; the binding ended (0x%08lX)\n", static_cast<unsigned long>(reached));
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
