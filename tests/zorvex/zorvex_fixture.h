// The fixture of the Zorvex tests that call the module in this process: it
// is registered, the download manager's caption and file types are set, and
// no key is held before or after.
#pragma once

#include <gtest/gtest.h>

#include "registration.h"
#include "zorvex_rig.h"

namespace zv::test {

class ZorvexTest : public InProcessModuleTest {
 protected:
  ZorvexTest() : InProcessModuleTest(kZorvexModule) {}
};

}  // namespace zv::test
