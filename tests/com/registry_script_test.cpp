// The registry script language and its two modes, applied to a registry in
// memory; the modules' own scripts are read from the source tree.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "com/registry_script.h"
#include "memory_registry.h"

using namespace zv::com;
using testing::ElementsAre;
using testing::HasSubstr;
using zv::test::MemoryRegistry;

namespace {

constexpr char kModule[] = "C:\\Program Files\\Zorvane\\zvhandler.dll";

std::string ReadSource(const char* relative) {
  std::ifstream in(std::string(ZV_SOURCE_DIR) + "/" + relative, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

RegistryScript Parse(const std::string& text, const ScriptVariables& variables = {{"MODULE", kModule}}) {
  ScriptError error;
  auto script = ParseRegistryScript(text, variables, &error);
  EXPECT_TRUE(script) << "line " << error.line << ": " << error.message;
  return script ? *script : RegistryScript{};
}

ScriptValue Text(const std::string& text) { return {ScriptValue::Type::kString, text, 0}; }

TEST(RegistryScriptParser, ReadsKeysValuesFlagsAndQuotedNames) {
  const RegistryScript script = Parse(
      "HKCR {\n"
      "  noremove Shared\n"
      "  {\n"
      "    FORCEREMOVE 'It''s owned' = s 'a ''quoted'' {value}'\n"
      "    {\n"
      "      val Count = d 0x2A\n"
      "      val 'Named Value' = s ''\n"
      "      Empty\n"
      "    }\n"
      "  }\n"
      "}\n"
      "HKEY_LOCAL_MACHINE { Other = d '7' }\n");
  ASSERT_EQ(script.roots.size(), 2u);
  EXPECT_EQ(script.roots[0].root, RootKey::kClassesRoot);
  EXPECT_EQ(script.roots[1].root, RootKey::kLocalMachine);

  ASSERT_EQ(script.roots[0].keys.size(), 1u);
  const ScriptKey& shared = script.roots[0].keys[0];
  EXPECT_EQ(shared.name, "Shared");
  EXPECT_EQ(shared.flag, KeyFlag::kNoRemove);
  EXPECT_FALSE(shared.defaultValue);
  ASSERT_EQ(shared.subkeys.size(), 1u);

  const ScriptKey& owned = shared.subkeys[0];
  EXPECT_EQ(owned.name, "It's owned");
  EXPECT_EQ(owned.flag, KeyFlag::kForceRemove);
  ASSERT_TRUE(owned.defaultValue);
  EXPECT_EQ(owned.defaultValue->text, "a 'quoted' {value}");
  ASSERT_EQ(owned.values.size(), 2u);
  EXPECT_EQ(owned.values[0].first, "Count");
  EXPECT_EQ(owned.values[0].second.type, ScriptValue::Type::kDword);
  EXPECT_EQ(owned.values[0].second.number, 42u);
  EXPECT_EQ(owned.values[1].first, "Named Value");
  EXPECT_EQ(owned.values[1].second, Text(""));
  ASSERT_EQ(owned.subkeys.size(), 1u);
  EXPECT_EQ(owned.subkeys[0].name, "Empty");
  EXPECT_EQ(owned.subkeys[0].flag, KeyFlag::kNone);

  const ScriptKey& other = script.roots[1].keys[0];
  ASSERT_TRUE(other.defaultValue);
  EXPECT_EQ(other.defaultValue->number, 7u);
}

TEST(RegistryScriptParser, VariablesAreScriptTextThatQuoteForScriptKeepsIntact) {
  // A value goes into the script before the quotes are read: a path with a
  // quote, braces and a percent sign survives once its quotes are doubled.
  const std::string odd = "C:\\it's {odd} 100%\\m.dll";
  const std::string text = "HKCU { K = s '%MODULE%' { val P = s '100%% %MODULE%' } }";
  const RegistryScript script = Parse(text, {{"MODULE", QuoteForScript(odd)}});
  const ScriptKey& key = script.roots[0].keys[0];
  EXPECT_EQ(key.defaultValue->text, odd);
  EXPECT_EQ(key.values[0].second.text, "100% " + odd);

  // Left as it is, the quote ends the value early and the script is refused.
  ScriptError error;
  EXPECT_FALSE(ParseRegistryScript(text, {{"MODULE", odd}}, &error));
  EXPECT_EQ(QuoteForScript("''a'"), "''''a''");
}

struct Malformed {
  const char* name;
  const char* text;
  size_t line;
  const char* message;
};

void PrintTo(const Malformed& m, std::ostream* os) { *os << m.name; }

class RegistryScriptErrors : public testing::TestWithParam<Malformed> {};

TEST_P(RegistryScriptErrors, GiveTheLineAndNoScript) {
  const Malformed& m = GetParam();
  ScriptError error;
  EXPECT_FALSE(ParseRegistryScript(m.text, {{"MODULE", kModule}}, &error));
  EXPECT_EQ(error.line, m.line);
  EXPECT_THAT(error.message, HasSubstr(m.message));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegistryScriptErrors,
    testing::Values(Malformed{"UnknownRoot", "HKXX { }", 1, "unknown root"},
                    Malformed{"QuotedRoot", "'HKCR' { }", 1, "unknown root"},
                    Malformed{"StrayBrace", "HKCR { }\n}", 2, "unknown root"},
                    Malformed{"NoBlockAfterRoot", "HKCR\nKey", 2, "expected '{'"},
                    Malformed{"MissingClose", "HKCR {\n Key {\n", 3, "missing '}'"},
                    Malformed{"UnterminatedQuote", "HKCR {\n Key = s 'abc\n}\n", 2, "unterminated"},
                    Malformed{"MissingValue", "HKCR { Key = }", 1, "unknown value type"},
                    Malformed{"ValueAtEnd", "HKCR { Key = s", 1, "must be quoted"},
                    Malformed{"UnquotedString", "HKCR { Key = s abc }", 1, "must be quoted"},
                    Malformed{"UnknownType", "HKCR { Key = b '00' }", 1, "unknown value type"},
                    Malformed{"NotANumber", "HKCR { Key = d 'x1' }", 1, "number"},
                    Malformed{"NumberTooLarge", "HKCR { Key = d 0x100000000 }", 1, "number"},
                    Malformed{"NamedValueUnderRoot", "HKCR {\n val X = s 'y' }", 2, "outside a key"},
                    Malformed{"NamedValueWithoutEquals", "HKCR { K { val X s 'y' } }", 1, "expected '='"},
                    Malformed{"BackslashInName", "HKCR { 'A\\B' }", 1, "backslash"},
                    Malformed{"EmptyName", "HKCR { '' = s 'x' }", 1, "empty name"},
                    Malformed{"FlagWithoutName", "HKCR { NoRemove }", 1, "missing name"},
                    Malformed{"EqualsForName", "HKCR { = s 'x' }", 1, "missing name"},
                    Malformed{"UnknownVariable", "HKCR { K = s '%OTHER%' }", 1, "unknown variable"},
                    Malformed{"UnterminatedVariable", "HKCR {\n K = s '%MODULE' }", 2, "unterminated %"},
                    Malformed{"TooDeep",
                              "HKCR { a { a { a { a { a { a { a { a { a { a { a { a { a { a { a { a { a { a { a { a "
                              "{ a { a { a { a { a { a { a { a { a { a { a { a { a { a } } } } } } } } } } } } } } } } "
                              "} } } } } } } } } } } } } } } } } } }",
                              1, "nested too deeply"}),
    [](const testing::TestParamInfo<Malformed>& info) { return std::string(info.param.name); });

TEST(RegistryScriptParser, TextAfterANulByteIsIgnored) {
  // Resource data can carry padding after the script.
  const std::string text("HKCR { K }\0garbage {", 20);
  EXPECT_EQ(Parse(text).roots.size(), 1u);
}

// The protocol handler's script, registered and unregistered.
class HandlerScript : public testing::Test {
 protected:
  void SetUp() override { script_ = Parse(ReadSource("zvhandler/zvhandler.rgs")); }
  RegistryScript script_;
  MemoryRegistry registry_;
};

const std::vector<std::string> kHandlerRegistration = {
    "HKCR\\CLSID",
    "HKCR\\CLSID\\{E131C96E-4DDB-11D4-84B8-008048B33DEA}",
    "HKCR\\CLSID\\{E131C96E-4DDB-11D4-84B8-008048B33DEA} @ = 'HTTPPlugProt Class'",
    "HKCR\\CLSID\\{E131C96E-4DDB-11D4-84B8-008048B33DEA}\\InprocServer32",
    "HKCR\\CLSID\\{E131C96E-4DDB-11D4-84B8-008048B33DEA}\\InprocServer32 @ = "
    "'C:\\Program Files\\Zorvane\\zvhandler.dll'",
    "HKCR\\CLSID\\{E131C96E-4DDB-11D4-84B8-008048B33DEA}\\InprocServer32 ThreadingModel = 'Apartment'",
    "HKCR\\CLSID\\{E131C96E-4DDB-11D4-84B8-008048B33DEA}\\ProgID",
    "HKCR\\CLSID\\{E131C96E-4DDB-11D4-84B8-008048B33DEA}\\ProgID @ = 'zvhandler.HTTPPlugProt.1'",
    "HKCR\\CLSID\\{E131C96E-4DDB-11D4-84B8-008048B33DEA}\\Programmable",
    "HKCR\\CLSID\\{E131C96E-4DDB-11D4-84B8-008048B33DEA}\\TypeLib",
    "HKCR\\CLSID\\{E131C96E-4DDB-11D4-84B8-008048B33DEA}\\TypeLib @ = '{E131C961-4DDB-11D4-84B8-008048B33DEA}'",
    "HKCR\\CLSID\\{E131C96E-4DDB-11D4-84B8-008048B33DEA}\\VersionIndependentProgID",
    "HKCR\\CLSID\\{E131C96E-4DDB-11D4-84B8-008048B33DEA}\\VersionIndependentProgID @ = 'zvhandler.HTTPPlugProt'",
    "HKCR\\PROTOCOLS",
    "HKCR\\PROTOCOLS\\Name-Space Handler",
    "HKCR\\PROTOCOLS\\Name-Space Handler\\ftp",
    "HKCR\\PROTOCOLS\\Name-Space Handler\\ftp\\HIEClickCatcher",
    "HKCR\\PROTOCOLS\\Name-Space Handler\\ftp\\HIEClickCatcher @ = 'TLClickCatcher'",
    "HKCR\\PROTOCOLS\\Name-Space Handler\\ftp\\HIEClickCatcher CLSID = '{E131C96E-4DDB-11D4-84B8-008048B33DEA}'",
    "HKCR\\PROTOCOLS\\Name-Space Handler\\ftp\\HIEClickCatcher Pattern1 = ''",
    "HKCR\\PROTOCOLS\\Name-Space Handler\\http",
    "HKCR\\PROTOCOLS\\Name-Space Handler\\http\\HIEClickCatcher",
    "HKCR\\PROTOCOLS\\Name-Space Handler\\http\\HIEClickCatcher @ = 'TLClickCatcher'",
    "HKCR\\PROTOCOLS\\Name-Space Handler\\http\\HIEClickCatcher CLSID = '{E131C96E-4DDB-11D4-84B8-008048B33DEA}'",
    "HKCR\\PROTOCOLS\\Name-Space Handler\\http\\HIEClickCatcher Pattern1 = ''",
    "HKCR\\PROTOCOLS\\Name-Space Handler\\https",
    "HKCR\\PROTOCOLS\\Name-Space Handler\\https\\HIEClickCatcher",
    "HKCR\\PROTOCOLS\\Name-Space Handler\\https\\HIEClickCatcher @ = 'TLClickCatcher'",
    "HKCR\\PROTOCOLS\\Name-Space Handler\\https\\HIEClickCatcher CLSID = '{E131C96E-4DDB-11D4-84B8-008048B33DEA}'",
    "HKCR\\PROTOCOLS\\Name-Space Handler\\https\\HIEClickCatcher Pattern1 = ''",
    "HKCR\\zvhandler.HTTPPlugProt",
    "HKCR\\zvhandler.HTTPPlugProt @ = 'HTTPPlugProt Class'",
    "HKCR\\zvhandler.HTTPPlugProt\\CLSID",
    "HKCR\\zvhandler.HTTPPlugProt\\CLSID @ = '{E131C96E-4DDB-11D4-84B8-008048B33DEA}'",
    "HKCR\\zvhandler.HTTPPlugProt\\CurVer",
    "HKCR\\zvhandler.HTTPPlugProt\\CurVer @ = 'zvhandler.HTTPPlugProt.1'",
    "HKCR\\zvhandler.HTTPPlugProt.1",
    "HKCR\\zvhandler.HTTPPlugProt.1 @ = 'HTTPPlugProt Class'",
    "HKCR\\zvhandler.HTTPPlugProt.1\\CLSID",
    "HKCR\\zvhandler.HTTPPlugProt.1\\CLSID @ = '{E131C96E-4DDB-11D4-84B8-008048B33DEA}'",
};

TEST_F(HandlerScript, RegistersExactlyItsKeysAndValues) {
  ASSERT_EQ(RegisterScript(script_, registry_), 0);
  EXPECT_EQ(registry_.Dump(), kHandlerRegistration);
  // Registering again changes nothing.
  ASSERT_EQ(RegisterScript(script_, registry_), 0);
  EXPECT_EQ(registry_.Dump(), kHandlerRegistration);
}

TEST_F(HandlerScript, ForceRemoveRewritesOwnedKeysButSharedKeysKeepOthers) {
  // The system's own protocol handlers: the script neither rewrites nor removes them.
  registry_.Put(RootKey::kClassesRoot, "PROTOCOLS\\Handler\\http\\Stale");
  registry_.Put(RootKey::kClassesRoot, "PROTOCOLS\\Handler\\http", "Old", "x", true);
  registry_.Put(RootKey::kClassesRoot, "CLSID\\{E131C96E-4DDB-11D4-84B8-008048B33DEA}\\Stale");
  registry_.Put(RootKey::kClassesRoot, "CLSID\\{00000000-0000-0000-0000-000000000001}");
  registry_.Put(RootKey::kClassesRoot, "PROTOCOLS\\Handler\\about", "CLSID", "{about}", true);
  ASSERT_EQ(RegisterScript(script_, registry_), 0);

  std::vector<std::string> expected = kHandlerRegistration;
  expected.insert(expected.begin() + 1, "HKCR\\CLSID\\{00000000-0000-0000-0000-000000000001}");
  const auto protocols = std::find(expected.begin(), expected.end(), "HKCR\\PROTOCOLS");
  expected.insert(protocols + 1, {"HKCR\\PROTOCOLS\\Handler", "HKCR\\PROTOCOLS\\Handler\\about",
                                  "HKCR\\PROTOCOLS\\Handler\\about CLSID = '{about}'", "HKCR\\PROTOCOLS\\Handler\\http",
                                  "HKCR\\PROTOCOLS\\Handler\\http Old = 'x'", "HKCR\\PROTOCOLS\\Handler\\http\\Stale"});
  EXPECT_EQ(registry_.Dump(), expected);
}

// While the other build (the other registry view) is still registered,
// only this view's class goes: the ProgIDs and name-space handler entries
// both builds read stay.
TEST_F(HandlerScript, UnregistrationWhileTheOtherBuildIsRegisteredTakesOnlyThisViewsClass) {
  ASSERT_EQ(RegisterScript(script_, registry_), 0);
  ASSERT_EQ(UnregisterScript(script_, registry_, {}, true), 0);
  std::vector<std::string> expected;
  for (const std::string& line : kHandlerRegistration)
    if (line.rfind("HKCR\\CLSID\\", 0) != 0) expected.push_back(line);
  EXPECT_EQ(registry_.Dump(), expected);
  // Once the other build is gone, so is the rest.
  ASSERT_EQ(UnregisterScript(script_, registry_), 0);
  EXPECT_THAT(registry_.Dump(), ElementsAre("HKCR\\CLSID", "HKCR\\PROTOCOLS", "HKCR\\PROTOCOLS\\Name-Space Handler",
                                           "HKCR\\PROTOCOLS\\Name-Space Handler\\ftp",
                                           "HKCR\\PROTOCOLS\\Name-Space Handler\\http",
                                           "HKCR\\PROTOCOLS\\Name-Space Handler\\https"));
}

TEST_F(HandlerScript, UnregistrationKeepsSharedAndKeptKeys) {
  registry_.Put(RootKey::kClassesRoot, "CLSID\\{00000000-0000-0000-0000-000000000001}");
  registry_.Put(RootKey::kClassesRoot, "PROTOCOLS\\Name-Space Handler\\http\\Other", "CLSID", "{other}", true);
  registry_.Put(RootKey::kClassesRoot, "PROTOCOLS\\Handler\\https", "CLSID", "{system}", true);
  ASSERT_EQ(RegisterScript(script_, registry_), 0);

  const std::vector<KeptKey> kept = {{RootKey::kClassesRoot, "protocols\\handler\\http"},
                                     {RootKey::kClassesRoot, "PROTOCOLS\\Handler\\https"},
                                     {RootKey::kClassesRoot, "PROTOCOLS\\Handler\\ftp"}};
  ASSERT_EQ(UnregisterScript(script_, registry_, kept), 0);
  EXPECT_THAT(registry_.Dump(),
              ElementsAre("HKCR\\CLSID", "HKCR\\CLSID\\{00000000-0000-0000-0000-000000000001}", "HKCR\\PROTOCOLS",
                          "HKCR\\PROTOCOLS\\Handler", "HKCR\\PROTOCOLS\\Handler\\https",
                          "HKCR\\PROTOCOLS\\Handler\\https CLSID = '{system}'", "HKCR\\PROTOCOLS\\Name-Space Handler",
                          "HKCR\\PROTOCOLS\\Name-Space Handler\\ftp", "HKCR\\PROTOCOLS\\Name-Space Handler\\http",
                          "HKCR\\PROTOCOLS\\Name-Space Handler\\http\\Other",
                          "HKCR\\PROTOCOLS\\Name-Space Handler\\http\\Other CLSID = '{other}'",
                          "HKCR\\PROTOCOLS\\Name-Space Handler\\https"));

  // Without the kept entries the system's handler stays all the same.
  ASSERT_EQ(RegisterScript(script_, registry_), 0);
  ASSERT_EQ(UnregisterScript(script_, registry_), 0);
  const auto dump = registry_.Dump();
  EXPECT_EQ(std::count(dump.begin(), dump.end(), "HKCR\\PROTOCOLS\\Handler\\https CLSID = '{system}'"), 1);
}

TEST_F(HandlerScript, UnregisteringWhatIsNotThereSucceedsAndCreatesNothing) {
  EXPECT_EQ(UnregisterScript(script_, registry_), 0);
  EXPECT_TRUE(registry_.Dump().empty());
}

TEST(RegistryScriptModes, PlainKeysStayWhileOthersLiveInThem) {
  const RegistryScript script = Parse(
      "HKCU { App = s 'mine' { val Mine = s '1' Sub = s 'x' }\n"
      "       NoRemove Shared { val Mine = s '2' Owned } }");
  MemoryRegistry registry;
  registry.Put(RootKey::kCurrentUser, "App\\Theirs");
  registry.Put(RootKey::kCurrentUser, "Shared", "Theirs", "t", true);
  ASSERT_EQ(RegisterScript(script, registry), 0);
  ASSERT_EQ(UnregisterScript(script, registry), 0);
  // App keeps its foreign subkey (and so its default value) but loses the
  // named value the script wrote; Shared is never removed.
  EXPECT_THAT(registry.Dump(), ElementsAre("HKCU\\App", "HKCU\\App @ = 'mine'", "HKCU\\App\\Theirs", "HKCU\\Shared",
                                           "HKCU\\Shared Theirs = 't'"));

  // A plain key holding a value the script never wrote stays too.
  MemoryRegistry second;
  second.Put(RootKey::kCurrentUser, "App", "Theirs", "t", true);
  ASSERT_EQ(RegisterScript(script, second), 0);
  ASSERT_EQ(UnregisterScript(script, second), 0);
  EXPECT_THAT(second.Dump(),
              ElementsAre("HKCU\\App", "HKCU\\App @ = 'mine'", "HKCU\\App Theirs = 't'", "HKCU\\Shared"));
}

TEST(RegistryScriptModes, KeptKeyBelowAForceRemoveKeySurvives) {
  const RegistryScript script = Parse("HKCU { ForceRemove Owned { Kept = s 'k' Gone } }");
  MemoryRegistry registry;
  ASSERT_EQ(RegisterScript(script, registry), 0);
  ASSERT_EQ(UnregisterScript(script, registry, {{RootKey::kCurrentUser, "Owned\\Kept"}}), 0);
  EXPECT_THAT(registry.Dump(), ElementsAre("HKCU\\Owned", "HKCU\\Owned\\Kept", "HKCU\\Owned\\Kept @ = 'k'"));
}

TEST(RegistryScriptModes, RegistrationStopsAtTheFirstFailure) {
  const RegistryScript script = Parse("HKCU { A = s 'a' B = s 'b' C = s 'c' }");
  MemoryRegistry registry;
  registry.FailOn("B", 5);  // ERROR_ACCESS_DENIED
  EXPECT_EQ(RegisterScript(script, registry), 5);
  EXPECT_THAT(registry.Dump(), ElementsAre("HKCU\\A", "HKCU\\A @ = 'a'"));
}

TEST(RegistryScriptModes, UnregistrationGoesOnAfterAFailureAndReportsIt) {
  class FailingDelete : public MemoryRegistry {
   public:
    long DeleteTree(RootKey root, const std::string& path) override {
      if (path == "A") return 5;
      return MemoryRegistry::DeleteTree(root, path);
    }
  };
  const RegistryScript script = Parse("HKCU { A B }");
  FailingDelete registry;
  ASSERT_EQ(RegisterScript(script, registry), 0);
  EXPECT_EQ(UnregisterScript(script, registry), 5);
  EXPECT_THAT(registry.Dump(), ElementsAre("HKCU\\A"));
}

TEST(RegistryScriptModes, HelperScriptOnlyMakesSureTheHelperKeyExists) {
  const RegistryScript script = Parse(ReadSource("zvhelper/ZVHelper.rgs"), {{"MODULE", "C:\\h.dll"}});
  MemoryRegistry registry;
  ASSERT_EQ(RegisterScript(script, registry), 0);
  const auto dump = registry.Dump();
  EXPECT_EQ(dump.back(), "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects");
  EXPECT_EQ(std::count_if(dump.begin(), dump.end(), [](const std::string& line) { return line.rfind("HKLM", 0) == 0; }),
            6);
  EXPECT_THAT(dump, testing::Contains("HKCR\\CLSID\\{B930BA63-9E5A-11D3-A288-0000E80E2EDE}\\InprocServer32 "
                                      "ThreadingModel = 'both'"));
}

}  // namespace

namespace {

// The keys both builds of a module share on 64-bit Windows, which
// unregistration leaves while the other build is registered.
struct SharedKeyCase {
  RootKey root;
  const char* path;
  bool shared;
};

class SharedKeys : public testing::TestWithParam<SharedKeyCase> {};

TEST_P(SharedKeys, AreThoseOfTheClassesRootThatNoViewHasForItself) {
  EXPECT_EQ(SharedByBothBuilds(GetParam().root, GetParam().path), GetParam().shared) << GetParam().path;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SharedKeys,
    testing::Values(SharedKeyCase{RootKey::kClassesRoot, "zvwatch.ZVWATCH", true},
                    SharedKeyCase{RootKey::kClassesRoot, "zvwatch.ZVWATCH\\Clsid", true},
                    SharedKeyCase{RootKey::kClassesRoot, "PROTOCOLS\\Handler\\http", true},
                    SharedKeyCase{RootKey::kClassesRoot, "CLSIDs", true},
                    SharedKeyCase{RootKey::kClassesRoot, "CLSID", false},
                    SharedKeyCase{RootKey::kClassesRoot, "clsid\\{4B2AFC7F-7D72-4025-8192-4DCFB4A1BEDD}", false},
                    SharedKeyCase{RootKey::kClassesRoot, "Interface\\{00000000-0000-0000-C000-000000000046}", false},
                    SharedKeyCase{RootKey::kClassesRoot, "Media Type\\Extensions", false},
                    SharedKeyCase{RootKey::kLocalMachine, "Software\\Classes\\zvwatch.ZVWATCH", false}));

}  // namespace
