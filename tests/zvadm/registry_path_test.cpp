// The text form of a registry path. Platform-free: natively and under Wine.
#include <gtest/gtest.h>

#include "AdmUtils.h"

using namespace zv::adm;

namespace {

struct PathCase {
  const char* text;
  bool usable;
  int32_t root;
  const char* subkey;
  const char* valueName;
  bool emulated;
};

class RegistryPathText : public testing::TestWithParam<PathCase> {};

TEST_P(RegistryPathText, Parses) {
  const PathCase& c = GetParam();
  const TRegistryPath path = ParseRegistryPath(c.text);
  ASSERT_EQ(path.usable, c.usable) << c.text;
  if (!c.usable) return;
  EXPECT_EQ(path.emulated, c.emulated);
  if (!c.emulated) {
    EXPECT_EQ(path.root, c.root);
  }
  EXPECT_EQ(path.subkey, c.subkey);
  EXPECT_EQ(path.valueName, c.valueName);
}

constexpr int32_t kNone = 0;

INSTANTIATE_TEST_SUITE_P(
    Roots, RegistryPathText,
    testing::Values(PathCase{"HKCU\\Software\\X\\V", true, kHkeyCurrentUser, "Software\\X", "V", false},
                    PathCase{"HKLM\\Software\\X\\V", true, kHkeyLocalMachine, "Software\\X", "V", false},
                    PathCase{"HKCR\\.zip\\V", true, kHkeyClassesRoot, ".zip", "V", false},
                    PathCase{"HKUS\\.DEFAULT\\Software\\V", true, kHkeyUsers, ".DEFAULT\\Software", "V", false},
                    PathCase{"HKCC\\Software\\V", true, kHkeyCurrentConfig, "Software", "V", false},
                    PathCase{"HKEU\\Software\\X\\V", true, kNone, "Software\\X", "V", true},
                    // Root names are matched exactly, in upper case.
                    PathCase{"hklm\\Software\\X\\V", false}, PathCase{"Hkcu\\Software\\X\\V", false},
                    PathCase{"HKLM \\Software\\X\\V", false}, PathCase{"HKEY_LOCAL_MACHINE\\Software\\X\\V", false}));

INSTANTIATE_TEST_SUITE_P(
    NumericRoots, RegistryPathText,
    testing::Values(PathCase{"-2147483646\\Software\\X\\V", true, kHkeyLocalMachine, "Software\\X", "V"},
                    PathCase{"-2147483648\\S\\V", true, kHkeyClassesRoot, "S", "V"},
                    PathCase{"2147483647\\S\\V", true, 2147483647, "S", "V"},
                    PathCase{"2147483650\\Software\\X\\V", false}, PathCase{"-2147483649\\S\\V", false},
                    PathCase{"99999999999999999999\\S\\V", false},
                    PathCase{"$80000002\\S\\V", true, kHkeyLocalMachine, "S", "V"},
                    PathCase{"$7fffffff\\S\\V", true, 0x7FFFFFFF, "S", "V"},
                    PathCase{"0x80000001\\S\\V", true, kHkeyCurrentUser, "S", "V"},
                    PathCase{"0X80000005\\S\\V", true, kHkeyCurrentConfig, "S", "V"},
                    PathCase{"-$7FFFFFFE\\S\\V", true, kHkeyLocalMachine, "S", "V"},
                    PathCase{"  \t+1234\\S\\V", true, 1234, "S", "V"}, PathCase{"$100000000\\S\\V", false},
                    PathCase{"0\\S\\V", false}, PathCase{"$0\\S\\V", false}, PathCase{"-0\\S\\V", false},
                    PathCase{"$\\S\\V", false}, PathCase{"0x\\S\\V", false}, PathCase{"-\\S\\V", false},
                    PathCase{"12ab\\S\\V", false}, PathCase{"$80000002 \\S\\V", false},
                    PathCase{"$8000000G\\S\\V", false}));

INSTANTIATE_TEST_SUITE_P(
    Shapes, RegistryPathText,
    testing::Values(PathCase{"HKLM\\Name", true, kHkeyLocalMachine, "", "Name"},  // one "\": value in the root
                    PathCase{"HKLM\\Software\\X\\", true, kHkeyLocalMachine, "Software\\X", ""},  // default value
                    PathCase{"HKLM\\", true, kHkeyLocalMachine, "", ""},
                    PathCase{"HKCU\\A\\\\B", true, kHkeyCurrentUser, "A\\", "B"}, PathCase{"", false},
                    PathCase{"HKLM", false}, PathCase{"\\Software\\X\\V", false}));

}  // namespace
