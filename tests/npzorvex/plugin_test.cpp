// The plug-in as a browser meets it before any download: its registration
// in the version resource, its resources, the table exchange, instances
// and their window. Nothing here reaches the download manager.
#include <gtest/gtest.h>

#include <cstring>

#include "np_host.h"
#include "zvtest.h"

using namespace zv::test::np;

namespace {

std::string PluginPath() { return zv::test::WinPath(ZV_NPZORVEX_MODULE); }

// Bytes a browser would notice being changed: the table is filled with
// this before the plug-in sees it.
constexpr unsigned char kPoison = 0xA5;
void* const kSentinel = reinterpret_cast<void*>(static_cast<uintptr_t>(0x5A5A5A50));

void* PoisonPointer() {
  void* p;
  std::memset(&p, kPoison, sizeof(p));
  return p;
}

TEST(PluginRegistration, BrowserFindsTheTwentySixMimeTypesInTheVersionResource) {
  const std::vector<MimePair> expected = {
      {"application/msword", "doc"},
      {"application/octet-stream", "exe"},
      {"application/pdf", "pdf"},
      {"application/x-arj", "arj"},
      {"application/x-msdownload", "exe"},
      {"application/x-rar-compressed", "rar"},
      {"application/x-tar", "tar"},
      {"application/x-zip-compressed", "zip"},
      {"application/zip", "zip"},
      {"applicaton/x-gtar", "zip"},
      {"audio/aiff", "wav"},
      {"audio/basic", "au"},
      {"audio/mp3", "mp3,mp2,mpga"},
      {"audio/mpeg", "wav"},
      {"audio/wav", "wav"},
      {"audio/x-aiff", "wav"},
      {"audio/x-mpeg", "wav"},
      {"audio/x-wav", "wav"},
      {"text/send-source", "source"},
      {"video/mpeg", "mpeg,mpg,mpe,mpa"},
      {"video/msvideo", "mpeg"},
      {"video/quicktime", "qt,mov"},
      {"video/x-mpeg", "mpeg"},
      {"video/x-msvideo", "avi"},
      {"video/x-msvideot-stream", "mpeg"},
      {"zorvex/downloadall", "zorvexall"},
  };
  const auto pairs = ReadMimeTypes(PluginPath());
  ASSERT_TRUE(pairs.has_value());
  ASSERT_EQ(pairs->size(), 26u);
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ((*pairs)[i].type, expected[i].type) << "pair " << i + 1;
    EXPECT_EQ((*pairs)[i].extensions, expected[i].extensions) << "pair " << i + 1;
  }
  EXPECT_EQ(VersionString(PluginPath(), "FileOpenName"), "All Files (*.*)");
}

TEST(PluginRegistration, VersionFieldsAndFileName) {
  const std::string path = PluginPath();
  EXPECT_EQ(path.substr(path.find_last_of('\\') + 1), "NPZorvex.dll");
  EXPECT_EQ(VersionString(path, "FileDescription"), "Zorvane Plugin (DLL helper)");
  EXPECT_EQ(VersionString(path, "ProductName"), "Zorvane Opera Plug-in");
  EXPECT_EQ(VersionString(path, "InternalName"), "Zorvane Plugin");
  EXPECT_EQ(VersionString(path, "OriginalFilename"), "NPZorvex.dll");
  EXPECT_EQ(VersionString(path, "FileVersion"), "1, 0, 0, 7");
  EXPECT_EQ(VersionString(path, "ProductVersion"), "1, 0, 0, 7");

  DWORD handle = 0;
  std::vector<char> data(GetFileVersionInfoSizeA(path.c_str(), &handle));
  ASSERT_FALSE(data.empty());
  ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(data.size()), data.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT size = 0;
  ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &size));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000007u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00000007u);
  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &size));
  ASSERT_GE(size, 4u);
  EXPECT_EQ(translation[0], 0x0409);
  EXPECT_EQ(translation[1], 0x04E4);
}

TEST(PluginRegistration, StringTableAndTheTwoIconImages) {
  Library library(PluginPath());
  ASSERT_NE(library.module(), nullptr);
  char text[256];
  ASSERT_GT(LoadStringA(library.module(), 1, text, sizeof(text)), 0);
  EXPECT_STREQ(text, kFailed);
  ASSERT_GT(LoadStringA(library.module(), 2, text, sizeof(text)), 0);
  EXPECT_STREQ(text, kTransferred);
  ASSERT_GT(LoadStringA(library.module(), 3, text, sizeof(text)), 0);
  EXPECT_STREQ(text, kPleaseWait);

  // The icon group as the resource loader reads it: width, height, colour
  // count, planes, bit count, bytes, id (14 bytes each after a 6-byte head).
  HRSRC group = FindResourceA(library.module(), MAKEINTRESOURCEA(101), MAKEINTRESOURCEA(14));
  ASSERT_NE(group, nullptr);
  const auto* dir = static_cast<const BYTE*>(LockResource(LoadResource(library.module(), group)));
  ASSERT_EQ(dir[4] | dir[5] << 8, 2);
  struct Seen {
    int width, height, colours, bits;
  };
  std::vector<Seen> seen;
  for (int i = 0; i < 2; ++i) {
    const BYTE* entry = dir + 6 + 14 * i;
    const int id = entry[12] | entry[13] << 8;
    HRSRC image = FindResourceA(library.module(), MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(3));
    ASSERT_NE(image, nullptr);
    const auto* header = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(library.module(), image)));
    EXPECT_EQ(header->biWidth, entry[0]);
    EXPECT_EQ(header->biHeight, 2 * entry[1]);  // colour bits and mask
    seen.push_back({entry[0], entry[1], 1 << header->biBitCount, header->biBitCount});
  }
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].width, 16);
  EXPECT_EQ(seen[0].height, 16);
  EXPECT_EQ(seen[0].colours, 16);
  EXPECT_EQ(seen[1].width, 32);
  EXPECT_EQ(seen[1].height, 32);
  EXPECT_EQ(seen[1].colours, 256);
}

// --- NP_GetEntryPoints ---

struct TableBuffer {
  TableBuffer(size_t declaredSize) {
    std::memset(bytes, kPoison, sizeof(bytes));
    table()->size = static_cast<uint16_t>(declaredSize);
    table()->version = 0x1234;
  }
  NPPluginFuncs* table() { return reinterpret_cast<NPPluginFuncs*>(bytes); }
  alignas(NPPluginFuncs) unsigned char bytes[sizeof(NPPluginFuncs) + 32];
};

size_t WrittenSize() { return offsetof(NPPluginFuncs, getvalue); }

TEST(PluginEntryPoints, NullTableIsRefused) {
  Library library(PluginPath());
  EXPECT_EQ(library.GetEntryPoints(nullptr), NPERR_INVALID_FUNCTABLE_ERROR);
}

class PluginShortTable : public testing::TestWithParam<size_t> {};

TEST_P(PluginShortTable, IsRefusedWithoutWritingIntoIt) {
  Library library(PluginPath());
  TableBuffer buffer(GetParam());
  TableBuffer untouched(GetParam());
  EXPECT_EQ(library.GetEntryPoints(buffer.table()), NPERR_INVALID_FUNCTABLE_ERROR);
  EXPECT_EQ(std::memcmp(buffer.bytes, untouched.bytes, sizeof(buffer.bytes)), 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, PluginShortTable,
                         testing::Values(size_t{0}, size_t{4}, offsetof(NPPluginFuncs, event),
                                         offsetof(NPPluginFuncs, getvalue) - 1));

class PluginLongTable : public testing::TestWithParam<size_t> {};

TEST_P(PluginLongTable, GetsVersionNineAndTheCallbacksWithinItsSize) {
  Library library(PluginPath());
  const size_t size = GetParam();
  TableBuffer buffer(size);
  NPPluginFuncs* t = buffer.table();
  ASSERT_EQ(library.GetEntryPoints(t), NPERR_NO_ERROR);
  EXPECT_EQ(t->size, size);  // left as the browser set it
  EXPECT_EQ(t->version, 9);
  for (void* entry :
       {reinterpret_cast<void*>(t->newp), reinterpret_cast<void*>(t->destroy), reinterpret_cast<void*>(t->setwindow),
        reinterpret_cast<void*>(t->newstream), reinterpret_cast<void*>(t->destroystream),
        reinterpret_cast<void*>(t->asfile), reinterpret_cast<void*>(t->writeready), reinterpret_cast<void*>(t->write),
        reinterpret_cast<void*>(t->print)}) {
    EXPECT_NE(entry, nullptr);
    EXPECT_NE(entry, PoisonPointer());
  }
  EXPECT_EQ(t->event, nullptr);
  // urlnotify is NP_Initialize's to fill; until then it is empty too.
  const size_t ours = offsetof(NPPluginFuncs, event);
  for (size_t i = ours; i < size; ++i) ASSERT_EQ(buffer.bytes[i], 0) << "byte " << i << " left as it was";
  for (size_t i = std::max(size, WrittenSize()); i < sizeof(buffer.bytes); ++i)
    ASSERT_EQ(buffer.bytes[i], kPoison) << "byte " << i << " beyond the declared size " << size;
}

INSTANTIATE_TEST_SUITE_P(Sizes, PluginLongTable,
                         testing::Values(offsetof(NPPluginFuncs, getvalue), offsetof(NPPluginFuncs, gotfocus),
                                         sizeof(NPPluginFuncs)));

// --- NP_Initialize and NP_Shutdown ---

bool ClassRegistered(HMODULE module, WNDCLASSEXA* info = nullptr) {
  WNDCLASSEXA local{};
  local.cbSize = sizeof(local);
  WNDCLASSEXA& out = info ? *info : local;
  out.cbSize = sizeof(out);
  return GetClassInfoExA(module, kPluginClass, &out) != 0;
}

struct InitCase {
  const char* name;
  uint16_t version;
  NPError result;
  bool urlnotify;
};
void PrintTo(const InitCase& c, std::ostream* os) { *os << c.name; }

class PluginInitializeVersion : public testing::TestWithParam<InitCase> {};

TEST_P(PluginInitializeVersion, VersionDecidesResultAndOptionalEntries) {
  Library library(PluginPath());
  NPPluginFuncs funcs{};
  funcs.size = sizeof(funcs);
  ASSERT_EQ(library.GetEntryPoints(&funcs), NPERR_NO_ERROR);
  funcs.javaClass = kSentinel;
  NPNetscapeFuncs browser = BrowserFuncs(GetParam().version);

  EXPECT_EQ(library.Initialize(&browser), GetParam().result);
  EXPECT_EQ(funcs.urlnotify != nullptr, GetParam().urlnotify);
  EXPECT_EQ(funcs.javaClass, GetParam().urlnotify ? nullptr : kSentinel);
  EXPECT_EQ(ClassRegistered(library.module()), GetParam().result == NPERR_NO_ERROR);
  if (funcs.urlnotify) {
    NPP_t npp{};
    funcs.urlnotify(&npp, "http://example.org/a.zip", NPRES_DONE, nullptr);  // does nothing
    EXPECT_EQ(npp.pdata, nullptr);
  }
  EXPECT_EQ(BrowserCalls(), 0);
}

INSTANTIATE_TEST_SUITE_P(Versions, PluginInitializeVersion,
                         testing::Values(InitCase{"Major1", 0x0100, NPERR_INCOMPATIBLE_VERSION_ERROR, false},
                                         InitCase{"Major2Minor9", 0x0209, NPERR_INCOMPATIBLE_VERSION_ERROR, false},
                                         InitCase{"Minor8", 0x0008, NPERR_NO_ERROR, false},
                                         InitCase{"Minor9", 0x0009, NPERR_NO_ERROR, true},
                                         InitCase{"Minor27", 0x001B, NPERR_NO_ERROR, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PluginInitialize, NullTableIsRefused) {
  Library library(PluginPath());
  EXPECT_EQ(library.Initialize(nullptr), NPERR_INVALID_FUNCTABLE_ERROR);
  EXPECT_FALSE(ClassRegistered(library.module()));
}

TEST(PluginInitialize, RegistersTheWindowClassAndShutdownRemovesIt) {
  Library library(PluginPath());
  ASSERT_TRUE(library.Start());
  WNDCLASSEXA info{};
  ASSERT_TRUE(ClassRegistered(library.module(), &info));
  EXPECT_EQ(info.style, 0u);
  EXPECT_EQ(info.cbClsExtra, 0);
  EXPECT_EQ(info.cbWndExtra, static_cast<int>(sizeof(void*)));
  EXPECT_EQ(info.hInstance, library.module());
  EXPECT_EQ(info.hIcon, nullptr);
  EXPECT_EQ(info.hCursor, nullptr);
  EXPECT_EQ(info.hbrBackground, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1)));
  EXPECT_EQ(info.lpszMenuName, nullptr);

  EXPECT_EQ(library.Shutdown(), NPERR_NO_ERROR);
  EXPECT_FALSE(ClassRegistered(library.module()));
}

TEST(PluginInitialize, BeforeGetEntryPointsNeedsNoPluginTable) {
  Library library(PluginPath());
  NPNetscapeFuncs browser = BrowserFuncs(9);
  ASSERT_EQ(library.Initialize(&browser), NPERR_NO_ERROR);
  EXPECT_TRUE(ClassRegistered(library.module()));
  // The table that comes afterwards still gets the entries of a minor-9 browser.
  NPPluginFuncs funcs{};
  funcs.size = sizeof(funcs);
  ASSERT_EQ(library.GetEntryPoints(&funcs), NPERR_NO_ERROR);
  EXPECT_NE(funcs.urlnotify, nullptr);
  EXPECT_NE(funcs.newp, nullptr);
}

// --- Instances and their window ---

class PluginInstanceTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(library_.Start()); }
  Library library_{PluginPath()};
  BrowserWindow browser_;
};

TEST_F(PluginInstanceTest, NullArgumentsGetTheirErrorCodes) {
  const NPPluginFuncs& f = library_.funcs();
  char mime[] = "application/zip";
  EXPECT_EQ(f.newp(mime, nullptr, NP_EMBED, 0, nullptr, nullptr, nullptr), NPERR_INVALID_INSTANCE_ERROR);
  EXPECT_EQ(f.destroy(nullptr, nullptr), NPERR_INVALID_INSTANCE_ERROR);
  NPWindow npwindow{};
  npwindow.window = browser_.hwnd();
  EXPECT_EQ(f.setwindow(nullptr, &npwindow), NPERR_INVALID_INSTANCE_ERROR);
  EXPECT_EQ(f.newstream(nullptr, mime, nullptr, 0, nullptr), NPERR_INVALID_INSTANCE_ERROR);

  Instance instance(library_);
  ASSERT_EQ(instance.newResult(), NPERR_NO_ERROR);
  EXPECT_NE(instance.npp()->pdata, nullptr);
  EXPECT_EQ(f.setwindow(instance.npp(), nullptr), NPERR_GENERIC_ERROR);

  NPP_t withoutRecord{};
  EXPECT_EQ(f.setwindow(&withoutRecord, &npwindow), NPERR_GENERIC_ERROR);
  EXPECT_EQ(browser_.PluginWindow(), nullptr);
  EXPECT_EQ(f.destroy(&withoutRecord, nullptr), NPERR_NO_ERROR);
}

TEST_F(PluginInstanceTest, NullWindowCreatesNothingAndARealParentGetsTheChild) {
  Instance instance(library_);
  ASSERT_EQ(instance.newResult(), NPERR_NO_ERROR);
  EXPECT_EQ(instance.SetWindow(nullptr), NPERR_NO_ERROR);
  EXPECT_EQ(GetWindow(browser_.hwnd(), GW_CHILD), nullptr);

  ASSERT_EQ(instance.SetWindow(browser_.hwnd(), 12, 34, 420, 90), NPERR_NO_ERROR);
  HWND child = browser_.PluginWindow();
  ASSERT_NE(child, nullptr);
  char title[64] = {};
  GetWindowTextA(child, title, sizeof(title));
  EXPECT_STREQ(title, "Zorvane");
  EXPECT_EQ(GetWindowLongA(child, GWL_STYLE) & (WS_CHILD | WS_VISIBLE | WS_POPUP), WS_CHILD | WS_VISIBLE);
  EXPECT_EQ(GetDlgCtrlID(child), -1);
  RECT place = PlaceInParent(child);
  EXPECT_EQ(place.left, 12);
  EXPECT_EQ(place.top, 34);
  EXPECT_EQ(place.right - place.left, 420);
  EXPECT_EQ(place.bottom - place.top, 90);

  // A null window later leaves the child alone; a new place moves it.
  EXPECT_EQ(instance.SetWindow(nullptr), NPERR_NO_ERROR);
  EXPECT_EQ(browser_.PluginWindow(), child);
  ASSERT_EQ(instance.SetWindow(browser_.hwnd(), 50, 5, 300, 70), NPERR_NO_ERROR);
  EXPECT_EQ(browser_.PluginWindow(), child);
  EXPECT_EQ(FindWindowExA(browser_.hwnd(), child, kPluginClass, nullptr), nullptr);  // only one
  place = PlaceInParent(child);
  EXPECT_EQ(place.left, 50);
  EXPECT_EQ(place.top, 5);
  EXPECT_EQ(place.right - place.left, 300);
  EXPECT_EQ(place.bottom - place.top, 70);
  EXPECT_EQ(ShownStatus(child, library_.module()), kPleaseWait);

  EXPECT_EQ(instance.Destroy(), NPERR_NO_ERROR);
  EXPECT_EQ(instance.npp()->pdata, nullptr);
  EXPECT_FALSE(IsWindow(child));
  EXPECT_EQ(browser_.PluginWindow(), nullptr);
}

TEST_F(PluginInstanceTest, WindowGoneWithItsParentIsNotUsedAgain) {
  Instance instance(library_);
  auto other = std::make_unique<BrowserWindow>();
  ASSERT_EQ(instance.SetWindow(other->hwnd()), NPERR_NO_ERROR);
  HWND child = other->PluginWindow();
  ASSERT_NE(child, nullptr);
  other.reset();  // the browser closes the page's window first
  EXPECT_FALSE(IsWindow(child));
  // The next window the browser gives gets a fresh child.
  ASSERT_EQ(instance.SetWindow(browser_.hwnd()), NPERR_NO_ERROR);
  HWND fresh = browser_.PluginWindow();
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(ShownStatus(fresh, library_.module()), kPleaseWait);
  EXPECT_EQ(instance.Destroy(), NPERR_NO_ERROR);
  EXPECT_FALSE(IsWindow(fresh));
}

}  // namespace
