// The demo's browser side: serves a file from a loopback HTTP server and
// hands its download to Internet Explorer's registered download manager (the
// class "DownloadUI" names), as the browser does: a URL moniker bound through
// urlmon, a GET and then a POST with form data.
//
//   zvwatchdemo.exe
// Prints each Download call and its result.
#include "loopback_http.h"

#include <windows.h>
#include <downloadmgr.h>
#include <urlmon.h>
#include <wininet.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string Text(HKEY root, const char* key, const char* name) {
  char buffer[256] = {};
  DWORD size = sizeof(buffer);
  if (RegGetValueA(root, key, name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) return {};
  return buffer;
}

const char* Result(HRESULT hr) {
  if (hr == S_OK) return "S_OK (taken by the download manager)";
  if (hr == E_NOTIMPL) return "E_NOTIMPL (the browser downloads it itself)";
  return "unexpected";
}

HRESULT Download(IDownloadManager* manager, const std::string& url, DWORD verb, BINDINFO* info) {
  const std::wstring wide(url.begin(), url.end());
  IMoniker* moniker = nullptr;
  IBindCtx* context = nullptr;
  CreateURLMonikerEx(nullptr, wide.c_str(), &moniker, URL_MK_UNIFORM);
  CreateBindCtx(0, &context);
  const HRESULT hr = manager->Download(moniker, context, verb, 0, info, nullptr, nullptr, CP_ACP);
  context->Release();
  moniker->Release();
  return hr;
}

}  // namespace

int main() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const std::string named = Text(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Internet Explorer", "DownloadUI");
  std::printf("  Internet Explorer's download manager (DownloadUI): %s\n", named.empty() ? "(none)" : named.c_str());
  CLSID clsid;
  const std::wstring wideClsid(named.begin(), named.end());
  IDownloadManager* manager = nullptr;
  if (named.empty() || FAILED(CLSIDFromString(wideClsid.c_str(), &clsid)) ||
      FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IDownloadManager),
                              reinterpret_cast<void**>(&manager)))) {
    std::printf("  no download manager object\n");
    return 1;
  }

  zv::test::LoopbackHttpServer server;
  zv::test::HttpResponse report;
  report.headers = {{"Content-Type", "application/pdf"},
                    {"Content-Disposition", "attachment; filename=\"Quarterly Report.pdf\""},
                    {"Date", "Mon, 02 Jun 2003 09:30:00 GMT"}};
  report.body = std::string(2048, '%');
  const std::string reportPath = "/files/" + std::to_string(GetTickCount()) + "/report.php?id=2003-Q2";
  server.Serve(reportPath, report);
  zv::test::HttpResponse archive;
  archive.headers = {{"Content-Type", "application/zip"}};
  archive.body = std::string(4096, 'z');
  const std::string archivePath = "/export/" + std::to_string(GetTickCount()) + "/data.zip";
  server.Serve(archivePath, archive);
  InternetSetCookieA(server.Url("/").c_str(), nullptr, "session=demo42");

  const std::string reportUrl = server.Url(reportPath);
  std::printf("  Download(GET %s) -> %s\n", reportUrl.c_str(),
              Result(Download(manager, reportUrl, BINDVERB_GET, nullptr)));

  const char form[] = "user=demo&format=zip";
  BINDINFO info{};
  info.cbSize = sizeof(info);
  info.dwBindVerb = BINDVERB_POST;
  info.stgmedData.tymed = TYMED_HGLOBAL;
  info.stgmedData.hGlobal = GlobalAlloc(GMEM_FIXED, sizeof(form) - 1);
  std::memcpy(info.stgmedData.hGlobal, form, sizeof(form) - 1);
  info.cbstgmedData = sizeof(form) - 1;
  const std::string archiveUrl = server.Url(archivePath);
  std::printf("  Download(POST %s, \"%s\") -> %s\n", archiveUrl.c_str(), form,
              Result(Download(manager, archiveUrl, BINDVERB_POST, &info)));
  GlobalFree(info.stgmedData.hGlobal);

  manager->Release();
  CoUninitialize();
  return 0;
}
