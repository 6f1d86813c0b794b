// The shared rig of the modules' registration tests: a module registered
// with Wine's regsvr32 in a single-threaded apartment, unregistered before
// and after each test, and the type library read as a client reads it.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "com/com_ptr.h"
#include "registry.h"
#include "zvtest.h"

namespace zv::test {

class RegistrationTest : public testing::Test {
 protected:
  // `module` is a Windows path; empty for a test that registers copies of
  // its own and cleans up after them itself (Clean).
  explicit RegistrationTest(std::string module = {}) : module_(std::move(module)) {}
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Clean();
  }
  void TearDown() override {
    Clean();
    CoUninitialize();
  }
  // What is taken away before and after each test.
  virtual void Clean() {
    if (!module_.empty()) RunRegsvr32(module_, true);
  }

  unsigned long Register() const { return RunRegsvr32(module_); }
  unsigned long Unregister() const { return RunRegsvr32(module_, true); }

  std::string module_;
};

// A module registered in this process through its own export, the test
// thread in a single-threaded apartment with no key held, and the download
// manager's caption and file types set: the rig of the tests that call a
// module as its browser does.
class InProcessModuleTest : public testing::Test {
 protected:
  explicit InProcessModuleTest(const std::string& module) : registration_(module) {}
  void SetUp() override {
    ReleaseAllKeys();
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ASSERT_EQ(registration_.result(), S_OK);
    registry_.Set("ZVCaption", StandInOptions().caption);
    registry_.Set("AcceptingTypes", "ZIP,EXE");
  }
  void TearDown() override {
    ReleaseAllKeys();
    CoUninitialize();
  }

  InProcessRegistration registration_;
  ManagerRegistry registry_;
};

// Two texts of a type library or type: a name and its help string.
struct Documentation {
  std::wstring name;
  std::wstring help;
  bool operator==(const Documentation& other) const { return name == other.name && help == other.help; }
};
void PrintTo(const Documentation& d, std::ostream* out);

// What a type library says of itself.
struct LibraryFacts {
  std::string guid;
  LCID lcid = 0;
  WORD major = 0, minor = 0;
  Documentation documentation;
  bool operator==(const LibraryFacts& other) const {
    return guid == other.guid && lcid == other.lcid && major == other.major && minor == other.minor &&
           documentation == other.documentation;
  }
};
void PrintTo(const LibraryFacts& f, std::ostream* out);

// The facts of a library; empty ones when it does not answer.
LibraryFacts FactsOf(ITypeLib* library);
// The documentation of a type (MEMBERID_NIL) or one of its members.
Documentation DocumentationOf(ITypeInfo* info, MEMBERID member = MEMBERID_NIL);
// The library registered under `libid` 1.0 for 0x409, or empty (the result
// in `hr` when given).
zv::com::ComPtr<ITypeLib> RegisteredLibrary(REFGUID libid, HRESULT* hr = nullptr);
// The facts of that library; empty ones when none is registered.
LibraryFacts RegisteredLibraryFacts(REFGUID libid);

std::string GuidText(const GUID& guid);

}  // namespace zv::test
