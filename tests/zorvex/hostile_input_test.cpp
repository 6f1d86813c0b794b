// Zorvex.dll fed what a broken or hostile page or browser may pass: missing
// strings, strings with embedded NULs or unpaired surrogates, arguments of
// the wrong variant type and count. Each call ends in a result code and the
// stand-in download manager receives exactly the bytes shown, or nothing.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "zorvex_fixture.h"

using namespace zv::test;
using testing::IsEmpty;
using zv::com::ComPtr;
using zv::com::UniqueBstr;

namespace {

// A BSTR that may hold NULs; absent: a null BSTR.
struct Text {
  std::optional<std::wstring> chars;
  UniqueBstr Alloc() const {
    UniqueBstr text;
    if (chars) text.reset(SysAllocStringLen(chars->data(), static_cast<UINT>(chars->size())));
    return text;
  }
};
Text None() { return {}; }
Text W(std::wstring s) { return {std::move(s)}; }

class ZorvexHostileInput : public ZorvexTest {
 protected:
  void SetUp() override {
    ZorvexTest::SetUp();
    registry_.Set("IECntxMenuCatch", "TRUE");  // no question asked
    standIn_.Launch();
  }
  // The texts received up to a marker of the test's own, after the one
  // expected when one is.
  std::vector<std::string> Received(const char* expected) {
    if (expected) standIn_.WaitForTexts(1);
    return BytesOf(standIn_.TextsThroughMarker());
  }
  std::vector<std::string> Expected(const char* text) {
    std::vector<std::string> texts;
    if (text) texts.push_back(text);
    texts.push_back(kMarkerText);
    return texts;
  }

  StandIn standIn_;
};

struct MenuLink {
  const char* name;
  Text url, comment, referer;
  const char* text;  // what the stand-in receives; null: nothing
};
void PrintTo(const MenuLink& c, std::ostream* os) { *os << c.name; }

class ContextMenuLinks : public ZorvexHostileInput, public testing::WithParamInterface<MenuLink> {};

TEST_P(ContextMenuLinks, SendTheTextUpToTheFirstNulOrNothing) {
  const MenuLink& c = GetParam();
  ComPtr<IContextMenu> menu;
  ASSERT_EQ(CoCreateInstance(CLSID_ContextMenu, nullptr, CLSCTX_INPROC_SERVER, IID_IContextMenu, menu.put_void()),
            S_OK);
  const UniqueBstr url = c.url.Alloc(), comment = c.comment.Alloc(), referer = c.referer.Alloc();
  EXPECT_EQ(menu->AddUrlWithReferer(url.get(), comment.get(), referer.get()), S_OK);
  menu.reset();
  EXPECT_EQ(Received(c.text), Expected(c.text));
}

const std::wstring kUrl = L"http://example.org/a.zip";

INSTANTIATE_TEST_SUITE_P(
    Cases, ContextMenuLinks,
    testing::Values(MenuLink{"NullUrl", None(), W(L"c"), W(L"r"), nullptr},
                    MenuLink{"NullComment", W(kUrl), None(), W(L"r"), nullptr},
                    MenuLink{"NullRefererIsEmpty", W(kUrl), W(L"c"), None(),
                             "URL=http://example.org/a.zip\nComment=c\nReferer="},
                    MenuLink{"EmptyStrings", W(L""), W(L""), W(L""), "URL=\nComment=\nReferer="},
                    MenuLink{"NulInUrl", W(kUrl + std::wstring(1, L'\0') + L"\nURL=http://evil.example/x.exe"), W(L"c"),
                             W(L"r"), "URL=http://example.org/a.zip\nComment=c\nReferer=r"},
                    MenuLink{"NulInComment", W(kUrl), W(std::wstring(L"a\0b", 3)), W(L"r"),
                             "URL=http://example.org/a.zip\nComment=a\nReferer=r"},
                    MenuLink{"LeadingNulInReferer", W(kUrl), W(L"c"), W(std::wstring(L"\0x", 2)),
                             "URL=http://example.org/a.zip\nComment=c\nReferer="},
                    MenuLink{"UnpairedHighSurrogate", W(L"http://example.org/\xD800.zip"), W(L"x\xD83D"), W(L"r"),
                             "URL=http://example.org/%EF%BF%BD.zip\nComment=x?\nReferer=r"},
                    MenuLink{"UnpairedLowSurrogate", W(L"http://example.org/\xDC00y.zip"), W(L"c"), W(L"\xDFFF"),
                             "URL=http://example.org/%EF%BF%BDy.zip\nComment=c\nReferer=%EF%BF%BD"}),
    [](const testing::TestParamInfo<MenuLink>& info) { return std::string(info.param.name); });

TEST_F(ZorvexHostileInput, AddUrlWithNullsSendsNothing) {
  ComPtr<IContextMenu> menu;
  ASSERT_EQ(CoCreateInstance(CLSID_ContextMenu, nullptr, CLSCTX_INPROC_SERVER, IID_IContextMenu, menu.put_void()),
            S_OK);
  const UniqueBstr url(kUrl.c_str());
  EXPECT_EQ(menu->AddUrl(nullptr, url.get()), S_OK);
  EXPECT_EQ(menu->AddUrl(url.get(), nullptr), S_OK);
  EXPECT_EQ(menu->AddUrl(nullptr, nullptr), S_OK);
  menu.reset();
  EXPECT_EQ(Received(nullptr), Expected(nullptr));
}

// Initialize called by name as a late-bound client may call it. Arguments
// are listed in call order.
struct LateCall {
  const char* name;
  std::vector<VARIANT> (*args)();
  WORD flags;
  HRESULT invoked;
  short value;       // the VT_I2 answer when invoked is S_OK
  const char* text;  // what the stand-in receives; null: nothing
};
void PrintTo(const LateCall& c, std::ostream* os) { *os << c.name; }

VARIANT Str(const wchar_t* s) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = s ? SysAllocString(s) : nullptr;
  return v;
}
VARIANT Int(LONG n) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_I4;
  V_I4(&v) = n;
  return v;
}
VARIANT Typed(VARTYPE type) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = type;
  return v;
}
// Stays alive for the call: a by-reference argument points at it.
BSTR gByRefUrl = nullptr;
VARIANT StrByRef(const wchar_t* s) {
  SysFreeString(gByRefUrl);
  gByRefUrl = SysAllocString(s);
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_BSTR | VT_BYREF;
  V_BSTRREF(&v) = &gByRefUrl;
  return v;
}

class NavigatorLateCalls : public ZorvexHostileInput, public testing::WithParamInterface<LateCall> {};

TEST_P(NavigatorLateCalls, AnswerAnErrorOrTheDecisionNeverACrash) {
  const LateCall& c = GetParam();
  ComPtr<IDispatch> catcher;
  ASSERT_EQ(CoCreateInstance(CLSID_Catcher, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, catcher.put_void()), S_OK);
  LPOLESTR name = const_cast<LPOLESTR>(L"Initialize");
  DISPID id = DISPID_UNKNOWN;
  ASSERT_EQ(catcher->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);

  std::vector<VARIANT> args = c.args();
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  VARIANT result;
  VariantInit(&result);
  UINT badArg = 0;
  EXPECT_EQ(catcher->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, c.flags, &params, &result, nullptr, &badArg), c.invoked);
  if (c.invoked == S_OK) {
    EXPECT_EQ(V_VT(&result), VT_I2);
    EXPECT_EQ(V_I2(&result), c.value);
  }
  VariantClear(&result);
  for (VARIANT& v : reversed)
    if (!(V_VT(&v) & VT_BYREF)) VariantClear(&v);
  catcher.reset();
  EXPECT_EQ(Received(c.text), Expected(c.text));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NavigatorLateCalls,
    testing::Values(LateCall{"UrlGivenAsNumber",
                             [] {
                               return std::vector{Str(L"http"), Int(42)};
                             },
                             DISPATCH_METHOD, S_OK, 0, nullptr},
                    LateCall{"NullBstrUrl",
                             [] {
                               return std::vector{Str(L"http"), Str(nullptr)};
                             },
                             DISPATCH_METHOD, S_OK, 0, nullptr},
                    LateCall{"EmptyVariantUrl",
                             [] {
                               return std::vector{Str(L"http"), Typed(VT_EMPTY)};
                             },
                             DISPATCH_METHOD, S_OK, 0, nullptr},
                    LateCall{"NullVariantUrl",
                             [] {
                               return std::vector{Str(L"http"), Typed(VT_NULL)};
                             },
                             DISPATCH_METHOD, DISP_E_TYPEMISMATCH, 0, nullptr},
                    LateCall{"NullDispatchUrl",
                             [] {
                               return std::vector{Str(L"http"), Typed(VT_DISPATCH)};
                             },
                             DISPATCH_METHOD, DISP_E_BADVARTYPE, 0, nullptr},
                    LateCall{"ProtocolAsNumber",
                             [] {
                               return std::vector{Int(7), Str(L"http://example.org/a.zip")};
                             },
                             DISPATCH_METHOD, S_OK, 1, "URL=http://example.org/a.zip"},
                    LateCall{"UrlByReference",
                             [] {
                               return std::vector{Str(L"http"), StrByRef(L"http://example.org/b.exe")};
                             },
                             DISPATCH_METHOD, S_OK, 1, "URL=http://example.org/b.exe"},
                    LateCall{"OneArgument", [] { return std::vector{Str(L"http://example.org/a.zip")}; },
                             DISPATCH_METHOD, DISP_E_BADPARAMCOUNT, 0, nullptr},
                    LateCall{"NoArguments", [] { return std::vector<VARIANT>{}; }, DISPATCH_METHOD,
                             DISP_E_BADPARAMCOUNT, 0, nullptr},
                    LateCall{"ThreeArguments",
                             [] {
                               return std::vector{Str(L"http"), Str(L"http://example.org/a.zip"), Int(1)};
                             },
                             DISPATCH_METHOD, DISP_E_BADPARAMCOUNT, 0, nullptr}),
    [](const testing::TestParamInfo<LateCall>& info) { return std::string(info.param.name); });

}  // namespace
