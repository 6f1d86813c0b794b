#include "watch_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

namespace zv::test {
namespace {

constexpr char kAppPathsKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\kestrix.exe";
constexpr wchar_t kHolderKey[] = L"_BSCB_Holder_";

std::wstring Wide(const std::string& text) {
  std::wstring out(text.size() + 1, L'\0');
  const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, out.data(), static_cast<int>(out.size()));
  out.resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
  return out;
}

std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof(text), "%08lX", static_cast<unsigned long>(hr));
  return text;
}

}  // namespace

std::string BuiltModule() { return WinPath(ZV_WATCH_MODULE); }

WatchModule::WatchModule(const std::string& folder, const std::string& fileName, const std::string& loadPath) {
  CreateFolders(folder);
  path_ = folder + "\\" + fileName;
  CopyFileA(BuiltModule().c_str(), path_.c_str(), FALSE);
  module_.reset(LoadLibraryA(loadPath.empty() ? path_.c_str() : loadPath.c_str()));
}

WatchModule::WatchModule(const std::wstring& folder) {
  widePath_ = folder + L"\\zvwatch.dll";
  const std::string built = BuiltModule();
  CopyFileW(std::wstring(built.begin(), built.end()).c_str(), widePath_.c_str(), FALSE);
  module_.reset(LoadLibraryW(widePath_.c_str()));
}

WatchModule::~WatchModule() {
  module_.reset();
  if (!widePath_.empty())
    DeleteFileW(widePath_.c_str());
  else
    RemoveFile(path_);
}

FARPROC WatchModule::Export(const char* name) const { return module_ ? GetProcAddress(module_.get(), name) : nullptr; }

HRESULT WatchModule::GetClassObject(REFCLSID clsid, REFIID iid, void** out) const {
  using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  auto get = reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(Export("DllGetClassObject")));
  return get ? get(clsid, iid, out) : E_UNEXPECTED;
}

ComPtr<IDownloadManager> WatchModule::NewManager() const {
  static const CLSID kClass = {0x4B2AFC7F, 0x7D72, 0x4025, {0x81, 0x92, 0x4D, 0xCF, 0xB4, 0xA1, 0xBE, 0xDD}};
  ComPtr<IClassFactory> factory;
  ComPtr<IDownloadManager> manager;
  if (SUCCEEDED(GetClassObject(kClass, IID_IClassFactory, factory.put_void())))
    factory->CreateInstance(nullptr, __uuidof(IDownloadManager), manager.put_void());
  return manager;
}

void WriteSettings(const std::string& file, const std::vector<std::pair<std::string, std::string>>& values) {
  CreateFolders(file.substr(0, file.rfind('\\')));
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << "[SOFTWARE\\Quennet\\Zorvane]\r\n";
  for (const auto& [key, value] : values) out << key << "=" << value << "\r\n";
}

PortableAppPath::PortableAppPath(const std::string& program) {
  saved_ = GetRegText(HKEY_LOCAL_MACHINE, kAppPathsKey, "");
  SetRegText(HKEY_LOCAL_MACHINE, kAppPathsKey, "", program);
  SetRegText(HKEY_LOCAL_MACHINE, kAppPathsKey, "Path", program.substr(0, program.rfind('\\')));
}

PortableAppPath::~PortableAppPath() {
  DeleteKeyTree(HKEY_LOCAL_MACHINE, kAppPathsKey);
  if (saved_) SetRegText(HKEY_LOCAL_MACHINE, kAppPathsKey, "", *saved_);
}

std::string InstallPortable(StandIn& standIn) {
  const std::string installed = standIn.Install();
  const std::string folder = installed.substr(0, installed.rfind('\\'));
  const std::string program = folder + "\\kestrix.exe";
  CopyFileA(installed.c_str(), program.c_str(), FALSE);
  CopyFileA((installed + ".args").c_str(), (program + ".args").c_str(), FALSE);
  return program;
}

std::string UniquePath(const std::string& fileName) {
  static LONG counter = 0;
  char prefix[64];
  std::snprintf(prefix, sizeof(prefix), "/t%lu-%lu-%ld/", GetCurrentProcessId(), GetTickCount(),
                InterlockedIncrement(&counter));
  return prefix + fileName;
}

std::string ServeAtUniquePath(LoopbackHttpServer& server, const std::string& fileName,
                              std::vector<std::pair<std::string, std::string>> headers, const std::string& body) {
  const std::string path = UniquePath(fileName);
  HttpResponse response;
  response.headers = std::move(headers);
  response.body = body;
  server.Serve(path, response);
  return server.Url(path);
}

LargeFile ServeLargeFile(LoopbackHttpServer& server, const std::string& stem,
                         std::vector<std::pair<std::string, std::string>> headers) {
  constexpr size_t kBytes = 48u << 20;
  LargeFile file;
  file.path = UniquePath(stem);
  file.url = server.Url(file.path);
  file.bytes = kBytes;
  HttpResponse response;
  response.headers = std::move(headers);
  // It starts like an archive, so that Wine's sniffing opens no viewer.
  response.body.assign(kBytes, 'z');
  response.body.replace(0, 4, "PK\x03\x04");
  response.pieceBytes = 8u << 10;
  server.Serve(file.path, std::move(response));
  return file;
}

std::optional<size_t> WaitForBodyBytesSent(const LoopbackHttpServer& server, const std::string& path, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (const std::optional<size_t> sent = server.BodyBytesSent(path)) return sent;
    if (GetTickCount() - start >= timeoutMs) return std::nullopt;
    Sleep(20);
  }
}

void ExpectClosedEarly(const LoopbackHttpServer& server, const LargeFile& file) {
  const std::optional<size_t> sent = WaitForBodyBytesSent(server, file.path);
  ASSERT_TRUE(sent) << "the connection is still open";
  EXPECT_LT(*sent, file.bytes / 4) << "of " << file.bytes;
  std::printf("large file: %zu bytes, %zu sent\n", file.bytes, *sent);
}

std::string UniqueStem(const std::string& stem) {
  static LONG counter = 0;
  char suffix[64];
  std::snprintf(suffix, sizeof(suffix), "-%lu-%lu-%ld", GetCurrentProcessId(), GetTickCount(),
                InterlockedIncrement(&counter));
  return stem + suffix;
}

std::string UnreachableUrl(const std::string& fileName) {
  // Port 9 (discard) has no listener here; the connection is refused at once.
  return "http://127.0.0.1:9" + UniquePath(fileName);
}

ComPtr<IMoniker> UrlMoniker(const std::string& url) {
  ComPtr<IMoniker> moniker;
  CreateURLMonikerEx(nullptr, Wide(url).c_str(), moniker.put(), URL_MK_UNIFORM);
  return moniker;
}

ComPtr<IBindCtx> NewBindContext() {
  ComPtr<IBindCtx> context;
  CreateBindCtx(0, context.put());
  return context;
}

HRESULT CallDownload(IDownloadManager* manager, const std::string& url, IBindCtx* context, DWORD bindVerb,
                     BINDINFO* bindInfo) {
  ComPtr<IBindCtx> own;
  if (!context) {
    own = NewBindContext();
    context = own.get();
  }
  ComPtr<IMoniker> moniker = UrlMoniker(url);
  return manager->Download(moniker.get(), context, bindVerb, 0, bindInfo, nullptr, nullptr, CP_ACP);
}

std::vector<ULONG> BrowserCallback::Statuses() const {
  std::vector<ULONG> statuses;
  for (const std::string& event : events)
    if (event.compare(0, 9, "progress ") == 0) statuses.push_back(std::stoul(event.substr(9)));
  return statuses;
}

HRESULT STDMETHODCALLTYPE BrowserCallback::QueryInterface(REFIID riid, void** ppv) {
  *ppv = nullptr;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IBindStatusCallback))
    *ppv = static_cast<IBindStatusCallback*>(this);
  else if (IsEqualIID(riid, IID_IHttpNegotiate) && !referer_.empty())
    *ppv = static_cast<IHttpNegotiate*>(this);
  if (!*ppv) return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BrowserCallback::OnStartBinding(DWORD, IBinding*) {
  events.push_back("start");
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BrowserCallback::OnProgress(ULONG, ULONG, ULONG status, LPCWSTR) {
  events.push_back("progress " + std::to_string(status));
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BrowserCallback::OnStopBinding(HRESULT hr, LPCWSTR) {
  events.push_back("stop " + Hex(hr));
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BrowserCallback::BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* additional) {
  const std::wstring headers = Wide("Referer: " + referer_ + "\r\n");
  const size_t bytes = (headers.size() + 1) * sizeof(wchar_t);
  *additional = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  memcpy(*additional, headers.c_str(), bytes);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BrowserCallback::OnResponse(DWORD, LPCWSTR, LPCWSTR, LPWSTR* additional) {
  if (additional) *additional = nullptr;
  return S_OK;
}

RefusingBindContext::RefusingBindContext(int refusals) : inner_(NewBindContext()), refusals_(refusals) {}

HRESULT STDMETHODCALLTYPE RefusingBindContext::QueryInterface(REFIID riid, void** ppv) {
  *ppv = nullptr;
  if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IBindCtx)) return E_NOINTERFACE;
  *ppv = static_cast<IBindCtx*>(this);
  AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE RefusingBindContext::RegisterObjectParam(LPOLESTR key, IUnknown* p) {
  if (lstrcmpW(key, kHolderKey) == 0) {
    ++registrations;
    if (refusals_ > 0) {
      --refusals_;
      return E_FAIL;
    }
  }
  return inner_->RegisterObjectParam(key, p);
}

ComPtr<IUnknown> HeldCallback(IBindCtx* context) {
  ComPtr<IUnknown> held;
  context->GetObjectParam(const_cast<LPOLESTR>(kHolderKey), held.put());
  ComPtr<IUnknown> identity;
  if (held) held->QueryInterface(IID_IUnknown, identity.put_void());
  return identity;
}

void HoldCallback(IBindCtx* context, IBindStatusCallback* callback) {
  context->RegisterObjectParam(const_cast<LPOLESTR>(kHolderKey), callback);
}

PostBindInfo::PostBindInfo(const std::string& data, DWORD tymed) {
  info_.cbSize = sizeof(info_);
  info_.dwBindVerb = BINDVERB_POST;
  info_.stgmedData.tymed = tymed;
  if (tymed == TYMED_HGLOBAL) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, data.size() ? data.size() : 1);
    memcpy(GlobalLock(block), data.data(), data.size());
    GlobalUnlock(block);
    info_.stgmedData.hGlobal = block;
  }
  info_.cbstgmedData = static_cast<DWORD>(data.size());
}

PostBindInfo::~PostBindInfo() {
  if (info_.stgmedData.tymed == TYMED_HGLOBAL && info_.stgmedData.hGlobal) GlobalFree(info_.stgmedData.hGlobal);
}

DialogAnswerer::DialogAnswerer(std::string caption) : caption_(std::move(caption)) {
  thread_.reset(CreateThread(nullptr, 0, &DialogAnswerer::Watch, this, 0, nullptr));
}

DWORD WINAPI DialogAnswerer::Watch(void* self) {
  auto* answerer = static_cast<DialogAnswerer*>(self);
  while (!answerer->stopping_) {
    if (HWND dialog = FindWindowA("#32770", answerer->caption_.c_str())) {
      PostMessageA(dialog, WM_COMMAND, IDOK, 0);
      InterlockedIncrement(&answerer->answered_);
      Sleep(200);  // gone before it is looked for again
    }
    Sleep(20);
  }
  return 0;
}

DialogAnswerer::~DialogAnswerer() {
  InterlockedExchange(&stopping_, 1);
  WaitForSingleObject(thread_.get(), INFINITE);
}

std::vector<std::string> ReceivedBytes(const StandIn& standIn) { return BytesOf(standIn.Texts()); }

}  // namespace zv::test
