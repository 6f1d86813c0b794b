#include "np_host.h"

#include <cstring>
#include <sstream>

namespace zv::test::np {
namespace {

int g_browserCalls = 0;

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
  return parts;
}

// The browser side of the table: the plug-in needs none of it, so every
// entry only counts that it was called.
template <typename R, typename... Args>
R Counted(Args...) {
  ++g_browserCalls;
  return R{};
}

template <typename... Args>
void CountedVoid(Args...) {
  ++g_browserCalls;
}

LRESULT CALLBACK BrowserProc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcA(h, m, w, l); }

// A 32-bit top-down DIB section selected into a memory DC.
class Canvas {
 public:
  Canvas(int width, int height) : width_(width), height_(height) {
    dc_ = CreateCompatibleDC(nullptr);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
    old_ = SelectObject(dc_, bitmap_);
  }
  ~Canvas() {
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  HDC dc() const { return dc_; }
  std::vector<DWORD> Pixels() const {
    GdiFlush();
    const auto* p = static_cast<const DWORD*>(bits_);
    std::vector<DWORD> pixels(p, p + width_ * height_);
    for (DWORD& pixel : pixels) pixel &= 0xFFFFFF;
    return pixels;
  }

 private:
  int width_, height_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
  void* bits_ = nullptr;
};

// What a correct window would show: background, optional line, icon.
std::vector<DWORD> Expected(int width, int height, const char* text, HICON icon) {
  Canvas canvas(width, height);
  RECT all{0, 0, width, height};
  FillRect(canvas.dc(), &all, GetSysColorBrush(COLOR_WINDOW));
  if (text) TextOutA(canvas.dc(), 60, 28, text, static_cast<int>(std::strlen(text)));
  if (icon) DrawIcon(canvas.dc(), 20, 20, icon);
  return canvas.Pixels();
}

}  // namespace

std::optional<std::string> VersionString(const std::string& dllPath, const char* name) {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(dllPath.c_str(), &handle);
  if (size == 0) return std::nullopt;
  std::vector<char> data(size);
  if (!GetFileVersionInfoA(dllPath.c_str(), 0, size, data.data())) return std::nullopt;
  const std::string query = std::string("\\StringFileInfo\\040904e4\\") + name;
  char* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) || !value)
    return std::nullopt;
  return std::string(value);
}

std::optional<std::vector<MimePair>> ReadMimeTypes(const std::string& dllPath) {
  const auto types = VersionString(dllPath, "MIMEType");
  const auto extensions = VersionString(dllPath, "FileExtents");
  if (!types || !extensions) return std::nullopt;
  const auto typeList = Split(*types, '|');
  const auto extensionList = Split(*extensions, '|');
  if (typeList.size() != extensionList.size()) return std::nullopt;
  std::vector<MimePair> pairs;
  for (size_t i = 0; i < typeList.size(); ++i) pairs.push_back({typeList[i], extensionList[i]});
  return pairs;
}

NPNetscapeFuncs BrowserFuncs(uint16_t version) {
  NPNetscapeFuncs f{};
  f.size = sizeof(f);
  f.version = version;
  f.geturl = Counted<NPError, NPP, const char*, const char*>;
  f.posturl = Counted<NPError, NPP, const char*, const char*, uint32_t, const char*, NPBool>;
  f.requestread = Counted<NPError, NPStream*, NPByteRange*>;
  f.newstream = Counted<NPError, NPP, NPMIMEType, const char*, NPStream**>;
  f.write = Counted<int32_t, NPP, NPStream*, int32_t, void*>;
  f.destroystream = Counted<NPError, NPP, NPStream*, NPReason>;
  f.status = CountedVoid<NPP, const char*>;
  f.uagent = Counted<const char*, NPP>;
  f.memalloc = Counted<void*, uint32_t>;
  f.memfree = CountedVoid<void*>;
  f.memflush = Counted<uint32_t, uint32_t>;
  f.reloadplugins = CountedVoid<NPBool>;
  f.getJavaEnv = Counted<void*>;
  f.getJavaPeer = Counted<void*, NPP>;
  f.geturlnotify = Counted<NPError, NPP, const char*, const char*, void*>;
  f.posturlnotify = Counted<NPError, NPP, const char*, const char*, uint32_t, const char*, NPBool, void*>;
  f.getvalue = Counted<NPError, NPP, NPNVariable, void*>;
  f.setvalue = Counted<NPError, NPP, NPPVariable, void*>;
  f.invalidaterect = CountedVoid<NPP, NPRect*>;
  f.invalidateregion = CountedVoid<NPP, NPRegion>;
  f.forceredraw = CountedVoid<NPP>;
  return f;
}

int BrowserCalls() { return g_browserCalls; }

Library::Library(const std::string& dllPath) {
  module_.reset(LoadLibraryA(dllPath.c_str()));
  if (!module_) loadError_ = GetLastError();
}

Library::~Library() {
  if (initialized_) Shutdown();
}

NPError Library::GetEntryPoints(NPPluginFuncs* table) {
  auto entry = reinterpret_cast<decltype(&NP_GetEntryPoints)>(
      reinterpret_cast<void*>(GetProcAddress(module_.get(), "NP_GetEntryPoints")));
  return entry ? entry(table) : NPERR_INVALID_PLUGIN_ERROR;
}

NPError Library::Initialize(NPNetscapeFuncs* table) {
  auto entry = reinterpret_cast<decltype(&NP_Initialize)>(
      reinterpret_cast<void*>(GetProcAddress(module_.get(), "NP_Initialize")));
  const NPError result = entry ? entry(table) : NPERR_INVALID_PLUGIN_ERROR;
  initialized_ = initialized_ || result == NPERR_NO_ERROR;
  return result;
}

NPError Library::Shutdown() {
  auto entry =
      reinterpret_cast<decltype(&NP_Shutdown)>(reinterpret_cast<void*>(GetProcAddress(module_.get(), "NP_Shutdown")));
  initialized_ = false;
  return entry ? entry() : NPERR_INVALID_PLUGIN_ERROR;
}

bool Library::Start(uint16_t browserVersion) {
  if (!module_) return false;
  funcs_ = NPPluginFuncs{};
  funcs_.size = sizeof(funcs_);
  browser_ = BrowserFuncs(browserVersion);
  return GetEntryPoints(&funcs_) == NPERR_NO_ERROR && Initialize(&browser_) == NPERR_NO_ERROR;
}

BrowserWindow::BrowserWindow() {
  WNDCLASSA wc{};
  wc.lpfnWndProc = BrowserProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  wc.lpszClassName = "NpHostBrowser";
  RegisterClassA(&wc);
  // Clipping children keeps the browser from painting over the plug-in.
  hwnd_ = CreateWindowExA(0, wc.lpszClassName, "stand-in browser", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_VISIBLE,
                          0, 0, 640, 360, nullptr, nullptr, wc.hInstance, nullptr);
  PumpMessages();
}

BrowserWindow::~BrowserWindow() {
  if (IsWindow(hwnd_)) DestroyWindow(hwnd_);
  PumpMessages();
}

HWND BrowserWindow::PluginWindow() const { return FindWindowExA(hwnd_, nullptr, kPluginClass, nullptr); }

Instance::Instance(Library& library, const char* mimeType, uint16_t mode) : funcs_(library.funcs()), mime_(mimeType) {
  char* argn[] = {const_cast<char*>("type"), const_cast<char*>("src")};
  char* argv[] = {mime_.data(), const_cast<char*>("http://example.org/file")};
  newResult_ =
      funcs_.newp ? funcs_.newp(mime_.data(), &npp_, mode, 2, argn, argv, nullptr) : NPERR_INVALID_FUNCTABLE_ERROR;
}

Instance::~Instance() {
  if (!destroyed_) Destroy();
}

NPError Instance::SetWindow(HWND window, int x, int y, int width, int height) {
  NPWindow npwindow{};
  npwindow.window = window;
  npwindow.x = x;
  npwindow.y = y;
  npwindow.width = static_cast<uint32_t>(width);
  npwindow.height = static_cast<uint32_t>(height);
  npwindow.clipRect = {0, 0, static_cast<uint16_t>(height), static_cast<uint16_t>(width)};
  npwindow.type = NPWindowTypeWindow;
  const NPError result = funcs_.setwindow(&npp_, &npwindow);
  PumpMessages();
  return result;
}

NPError Instance::NewStream(const char* url, const char* mimeType) {
  stream_ = NPStream{};
  stream_.url = url;
  stream_.end = 1000;
  std::string type = mimeType;
  stype_ = NP_NORMAL;
  const NPError result = funcs_.newstream(&npp_, type.data(), &stream_, 0, &stype_);
  PumpMessages();
  return result;
}

int32_t Instance::WriteReady() { return funcs_.writeready(&npp_, &stream_); }

int32_t Instance::Write(const std::string& data) {
  std::string copy = data;
  return funcs_.write(&npp_, &stream_, 0, static_cast<int32_t>(copy.size()), copy.data());
}

NPError Instance::DestroyStream() { return funcs_.destroystream(&npp_, &stream_, NPRES_DONE); }

NPError Instance::Destroy() {
  destroyed_ = true;
  NPSavedData* saved = nullptr;
  const NPError result = funcs_.destroy ? funcs_.destroy(&npp_, &saved) : NPERR_INVALID_FUNCTABLE_ERROR;
  PumpMessages();
  return result;
}

void PumpMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

std::string ShownStatus(HWND pluginWindow, HMODULE plugin) {
  if (!IsWindow(pluginWindow)) return "(no window)";
  PumpMessages();
  RECT client{};
  GetClientRect(pluginWindow, &client);
  const int width = client.right, height = client.bottom;
  if (width <= 0 || height <= 0) return "(empty window)";

  Canvas shown(width, height);
  HDC windowDc = GetDC(pluginWindow);
  BitBlt(shown.dc(), 0, 0, width, height, windowDc, 0, 0, SRCCOPY);
  ReleaseDC(pluginWindow, windowDc);
  const std::vector<DWORD> pixels = shown.Pixels();

  HICON icon = LoadIconA(plugin, MAKEINTRESOURCEA(101));
  for (const char* line : {kPleaseWait, kTransferred, kFailed})
    if (pixels == Expected(width, height, line, icon)) return line;
  if (pixels == Expected(width, height, nullptr, icon)) return "(icon only)";
  if (pixels == Expected(width, height, nullptr, nullptr)) return "(blank)";
  return "(unrecognised)";
}

RECT PlaceInParent(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

}  // namespace zv::test::np
