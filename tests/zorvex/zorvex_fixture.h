// The fixture of the Zorvex tests that call the module in this process: it
// is registered, the download manager's caption and file types are set, and
// no key is held before or after.
#pragma once

#include <gtest/gtest.h>

#include "registry_dump.h"
#include "zorvex_rig.h"

namespace zvtest {

class ZorvexTest : public testing::Test {
 protected:
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

  InProcessRegistration registration_{kZorvexModule};
  ManagerRegistry registry_;
};

}  // namespace zvtest
