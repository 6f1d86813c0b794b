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

#include "async_bind.h"
#include "debug_output.h"
#include "loopback_http.h"
#include "registry.h"
#include "zvtest.h"

using namespace zv::test;
using testing::IsEmpty;

namespace {

constexpr char kBegin[] = "TL Protocol handler.dll version 1.0.0.1. Begin\n";

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
    ASSERT_EQ(
        CoGetClassObject(clsid_, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory_)),
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

  // A file the server would give; returns its URL.
  std::string ServeFile(const std::string& path, const std::string& type,
                        const std::string& body = "PK\x03\x04 not to be fetched") {
    HttpResponse file;
    file.headers = {{"Content-Type", type}};
    file.body = body;
    server_.Serve(path, file);
    return server_.Url(path);
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
  const std::string url = ServeFile("/files/setup.zip", "application/zip");

  BindCallback callback;
  IMoniker* moniker = nullptr;
  IBindCtx* context = nullptr;
  const HRESULT hr = BindAsync(url, callback, &moniker, &context);
  EXPECT_TRUE(hr == MK_S_ASYNCHRONOUS || hr == S_OK) << std::hex << hr;
  // The claimed request delivers no data and ends by itself: nobody aborts it.
  PumpMessagesFor(60000, [&] { return callback.stopped; });
  if (context) context->Release();
  if (moniker) moniker->Release();

  EXPECT_TRUE(callback.stopped) << "the binding never ended";
  EXPECT_TRUE(FAILED(callback.stopResult)) << std::hex << callback.stopResult;
  const auto texts = standIn.Texts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].bytes, "URL=" + url);
  EXPECT_EQ(callback.dataCalls, 0);
  EXPECT_THAT(server_.Requests(), IsEmpty());
  const auto traces = traces_.Lines();
  ASSERT_FALSE(traces.empty());
  EXPECT_EQ(traces.front(), kBegin);
  EXPECT_EQ(traces.back(), "Ok 1\n");
}

// URLDownloadToFileA on a thread of its own, given up on after `ms`, so
// that a hang shows as a failure rather than as a stuck test.
struct SyncDownload {
  std::string url, file;
  HRESULT result = E_PENDING;
  bool returned = false;
};

DWORD WINAPI DownloadThread(LPVOID param) {
  auto* download = static_cast<SyncDownload*>(param);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  download->result = URLDownloadToFileA(nullptr, download->url.c_str(), download->file.c_str(), 0, nullptr);
  CoUninitialize();
  return 0;
}

// Leaks `download` when the thread hangs: the thread may still write to it.
SyncDownload* DownloadSynchronously(const std::string& url, const std::string& file, DWORD ms) {
  auto* download = new SyncDownload{url, file};
  const zv::win::UniqueHandle thread(CreateThread(nullptr, 0, DownloadThread, download, 0, nullptr));
  if (!thread) return download;
  download->returned = WaitForSingleObject(thread.get(), ms) == WAIT_OBJECT_0;
  return download;
}

TEST_F(UrlmonStartsTheHandler, SynchronousDownloadOfAClaimedFileReturnsWithNothingSaved) {
  StandIn standIn;
  standIn.Launch();
  const std::string url = ServeFile("/files/update.zip", "application/zip");
  ScratchDir dir;
  const std::string target = dir.File("update.zip");

  const SyncDownload* download = DownloadSynchronously(url, target, 20000);
  ASSERT_TRUE(download->returned) << "URLDownloadToFile did not return";
  EXPECT_TRUE(FAILED(download->result)) << std::hex << download->result;
  delete download;
  EXPECT_EQ(GetFileAttributesA(target.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_THAT(server_.Requests(), IsEmpty());
  const auto texts = standIn.WaitForTexts(1);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].bytes, "URL=" + url);
}

TEST_F(UrlmonStartsTheHandler, RefusedRequestGoesBackToTheDefaultHandler) {
  StandIn standIn;
  standIn.Launch();
  const std::string url = ServeFile("/index.html", "text/html", "<html>page</html>");

  BindCallback callback;
  IMoniker* moniker = nullptr;
  IBindCtx* context = nullptr;
  const HRESULT hr = BindAsync(url, callback, &moniker, &context);
  PumpMessagesFor(3000, [&] { return callback.stopped || FAILED(hr); });
  if (context) context->Release();
  if (moniker) moniker->Release();

  // Wine's binding reports the handler's answer instead of falling back.
  const HRESULT reached = FAILED(hr) ? hr : callback.stopResult;
  EXPECT_EQ(reached, INET_E_USE_DEFAULT_PROTOCOLHANDLER) << std::hex << hr << " " << callback.stopResult;
  EXPECT_THAT(standIn.Texts(), IsEmpty());
  const auto traces = traces_.Lines();
  ASSERT_FALSE(traces.empty());
  EXPECT_EQ(traces.front(), kBegin);
  EXPECT_EQ(traces.back(), "This extention is not accepting\n");
}

}  // namespace
