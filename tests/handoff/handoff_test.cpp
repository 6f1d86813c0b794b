// The hand-off under Wine: the real registry, the stand-in download manager
// in another process, the hand-off lock across processes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <aclapi.h>

#include <optional>
#include <thread>

#include "handoff/handoff.h"
#include "zvtest.h"

using namespace zv::handoff;
using namespace zv::test;
using testing::ElementsAre;

namespace {

// The foreground moves once the stand-in's thread has handled its
// activation, which on a busy machine can take a while: wait long for a
// change that must come, and give one that must not come a moment too.
bool ComesToTheFront(HWND window, bool expected) {
  const DWORD bound = expected ? 10000 : 300;
  const DWORD start = GetTickCount();
  while (GetForegroundWindow() != window && GetTickCount() - start < bound) Sleep(20);
  return GetForegroundWindow() == window;
}

HandoffSteps SendText(const std::string& text) {
  HandoffSteps steps;
  steps.buildText = [text] { return text; };
  return steps;
}

// The lock is free when a process of its own can take it at once.
int TryLockElsewhere() { return static_cast<int>(RunProgram("\"" + ToolExe("lock_holder.exe") + "\" try").exitCode); }

class LockHolder {
 public:
  explicit LockHolder(const char* mode, DWORD holdMs = 0) {
    const std::string event = "ZvTestLockHeld-" + std::to_string(GetCurrentProcessId());
    ready_.reset(CreateEventA(nullptr, TRUE, FALSE, event.c_str()));
    std::string command = "\"" + ToolExe("lock_holder.exe") + "\" " + mode;
    if (std::string(mode) != "abandon") command += " " + std::to_string(holdMs);
    process_ = StartProgram(command + " " + event);
    held_ = WaitForSingleObject(ready_.get(), 60000) == WAIT_OBJECT_0;
  }
  ~LockHolder() { WaitForExit(); }
  bool held() const { return held_; }
  void Kill() const { TerminateProcess(process_.get(), 9); }
  void WaitForExit() const { WaitForSingleObject(process_.get(), 20000); }

 private:
  zv::win::UniqueHandle ready_;
  zv::win::UniqueHandle process_;
  bool held_ = false;
};

class HandoffTest : public testing::Test {
 protected:
  void SetUp() override { ReleaseAllKeys(); }
  ManagerRegistry registry_;
};

TEST_F(HandoffTest, DeliversTheExactBytesAndReturnsTheReply) {
  StandInOptions options;
  options.reply = 7;
  StandIn standIn(options);
  standIn.Launch();
  registry_.Set("ZVCaption", options.caption);

  const HandoffOutcome one = HandOff(kProtocolHandlerHandoff, SendText(BuildCommandText("x")));
  ASSERT_EQ(one.status, HandoffStatus::kSent);
  EXPECT_EQ(one.reply, 7);
  EXPECT_FALSE(one.afterStartup);

  CommandLines lines;
  lines.referer = "http://example.org/p\xE9ge.html";
  lines.postData = std::string("a=\x01\x7F\xFF\r\nb", 8);
  const std::string text = BuildCommandText("http://example.org/f.zip", lines);
  ASSERT_TRUE(HandOff(kHelperObjectHandoff, SendText(text)).sent());

  const auto texts = standIn.WaitForTexts(2);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].dwData, 0u);
  EXPECT_EQ(texts[0].cbData, 5u);
  EXPECT_EQ(texts[0].bytes, "URL=x");
  EXPECT_EQ(texts[1].cbData, text.size());
  EXPECT_EQ(texts[1].bytes,
            "URL=http://example.org/f.zip\nReferer=http://example.org/p\xE9ge.html"
            "\nPostData=a=\x01\x7F\xFF\r\nb");
  EXPECT_NE(texts[1].bytes.back(), '\n');
}

TEST_F(HandoffTest, LineBreaksInValuesCannotForgeKeysAtTheReceiver) {
  StandIn standIn;
  standIn.Launch();
  CommandLines lines;
  lines.comment = "x\nURL=http://elsewhere/a.exe";
  lines.referer = "http://example.org/\r\nPostData=forged";
  const std::string text = BuildCommandText("http://example.org/real.zip\n", lines);
  ASSERT_TRUE(HandOff(kContextMenuHandoff, SendText(text)).sent());
  const auto texts = standIn.WaitForTexts(1);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].bytes,
            "URL=http://example.org/real.zip \nComment=x URL=http://elsewhere/a.exe"
            "\nReferer=http://example.org/  PostData=forged");
}

TEST_F(HandoffTest, ZeroReplyIsReportedAsSuch) {
  StandInOptions options;
  options.reply = 0;
  StandIn standIn(options);
  standIn.Launch();
  const HandoffOutcome outcome = HandOff(kProtocolHandlerHandoff, SendText("URL=http://a/b.zip"));
  EXPECT_EQ(outcome.status, HandoffStatus::kSent);
  EXPECT_EQ(outcome.reply, 0);
}

TEST_F(HandoffTest, CaptionSelectsTheWindowAndAbsentCaptionMatchesAny) {
  StandInOptions options;
  options.caption = "Zorvane 5";
  StandIn standIn(options);
  standIn.Launch();

  registry_.Set("ZVCaption", "Some other caption");
  EXPECT_EQ(HandOff(kContextMenuHandoff, SendText("URL=a")).status, HandoffStatus::kNoProgram);
  registry_.Remove("ZVCaption");
  EXPECT_TRUE(HandOff(kContextMenuHandoff, SendText("URL=b")).sent());
  registry_.Set("ZVCaption", "Zorvane 5");
  EXPECT_TRUE(HandOff(kContextMenuHandoff, SendText("URL=c")).sent());

  const auto texts = standIn.WaitForTexts(2);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].bytes, "URL=b");
  EXPECT_EQ(texts[1].bytes, "URL=c");
}

struct AutoAddCase {
  const char* name;
  std::optional<std::string> autoAdd;
  std::optional<std::string> mode;
  bool broughtToFront;
};

void PrintTo(const AutoAddCase& c, std::ostream* os) { *os << c.name; }

class AutoAddTest : public HandoffTest, public testing::WithParamInterface<AutoAddCase> {};

TEST_P(AutoAddTest, DecidesWhetherTheRunningManagerComesToTheFront) {
  StandIn standIn;
  standIn.Launch();
  if (GetParam().autoAdd) registry_.Set("AutoAdd", *GetParam().autoAdd);
  if (GetParam().mode) registry_.Set("AutoAddMode", *GetParam().mode);
  ForegroundWindow ours;
  ASSERT_EQ(GetForegroundWindow(), ours.get());

  ASSERT_TRUE(HandOff(kProtocolHandlerHandoff, SendText("URL=http://a/b.zip")).sent());
  const auto texts = standIn.WaitForTexts(1);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].foreground, GetParam().broughtToFront);
}

INSTANTIATE_TEST_SUITE_P(Rules, AutoAddTest,
                         testing::Values(AutoAddCase{"Mode0", "TRUE", "0", false},
                                         AutoAddCase{"Mode1", "TRUE", "1", false},
                                         AutoAddCase{"Mode3", "TRUE", "3", false},
                                         AutoAddCase{"Mode2", "TRUE", "2", true},
                                         AutoAddCase{"ModeAbsent", "TRUE", std::nullopt, true},
                                         AutoAddCase{"LowerCaseTrue", "true", "0", true},
                                         AutoAddCase{"AutoAddAbsent", std::nullopt, "0", true},
                                         AutoAddCase{"AutoAddFalse", "FALSE", "3", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HandoffTest, ForegroundQueryReplyOfOneBringsToTheFront) {
  for (long reply : {1L, 2L, 0L}) {
    StandInOptions options;
    options.fgReply = reply;
    StandIn standIn(options);
    standIn.Launch();
    registry_.Set("AutoAdd", "TRUE");
    registry_.Set("AutoAddMode", "3");  // the AutoAdd rule leaves the window alone
    ForegroundWindow ours;

    HandoffSteps steps = SendText("URL=q");
    steps.proceedAfterQuery = [] { return false; };  // the query only
    EXPECT_EQ(HandOff(kHelperObjectHandoff, steps).status, HandoffStatus::kStopped);
    EXPECT_EQ(standIn.ForegroundQueries().size(), 1u);
    EXPECT_EQ(ComesToTheFront(standIn.WaitForWindow(), reply == 1), reply == 1) << reply;
    EXPECT_TRUE(standIn.Texts().empty());
  }
}

TEST_F(HandoffTest, NavigatorQueriesAfterTheLockAndSends) {
  StandIn standIn;
  standIn.Launch();
  EXPECT_TRUE(HandOff(kNavigatorHandoff, SendText("URL=n")).sent());
  EXPECT_EQ(standIn.ForegroundQueries().size(), 1u);
  EXPECT_EQ(standIn.WaitForTexts(1).size(), 1u);
  // The protocol handler and the context menu send no query.
  EXPECT_TRUE(HandOff(kProtocolHandlerHandoff, SendText("URL=p")).sent());
  EXPECT_TRUE(HandOff(kContextMenuHandoff, SendText("URL=c")).sent());
  EXPECT_EQ(standIn.ForegroundQueries().size(), 1u);
}

TEST_F(HandoffTest, StartsTheManagerAndDeliversOnceItsWindowShows) {
  StandInOptions options;
  options.delayMs = 1500;  // well inside the 50 polls
  StandIn standIn(options);
  registry_.SetAppPath(standIn.Install());
  registry_.Set("ZVCaption", options.caption);
  ForegroundWindow ours;

  const HandoffOutcome outcome = HandOff(kProtocolHandlerHandoff, SendText("URL=http://a/started.zip"));
  ASSERT_EQ(outcome.status, HandoffStatus::kSent);
  EXPECT_TRUE(outcome.afterStartup);
  EXPECT_EQ(standIn.Starts(), 1);
  const auto texts = standIn.WaitForTexts(1);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].bytes, "URL=http://a/started.zip");
  EXPECT_TRUE(texts[0].foreground);
  EXPECT_EQ(TryLockElsewhere(), 0);
}

TEST_F(HandoffTest, StartedWithWinExecForTheOperaVariant) {
  StandInOptions options;
  options.delayMs = 300;
  StandIn standIn(options);
  registry_.SetAppPath(standIn.Install());
  const HandoffOutcome outcome = HandOff(kOperaHandoff, SendText("URL=o\nOpera=True"));
  ASSERT_EQ(outcome.status, HandoffStatus::kSent);
  EXPECT_TRUE(outcome.afterStartup);
  ASSERT_EQ(standIn.WaitForTexts(1).size(), 1u);
}

TEST_F(HandoffTest, WindowLaterThanTheFiftiethPollGetsNothing) {
  StandInOptions options;
  options.delayMs = 7500;
  StandIn standIn(options);
  registry_.SetAppPath(standIn.Install());
  bool timedOutNoted = false;
  HandoffSteps steps = SendText("URL=late");
  steps.onStartupTimedOut = [&] { timedOutNoted = true; };

  const DWORD start = GetTickCount();
  const HandoffOutcome outcome = HandOff(kProtocolHandlerHandoff, steps);
  const DWORD elapsed = GetTickCount() - start;
  EXPECT_EQ(outcome.status, HandoffStatus::kStartupTimedOut);
  EXPECT_TRUE(timedOutNoted);
  EXPECT_GE(elapsed, 4500u);
  EXPECT_LT(elapsed, 7500u);
  EXPECT_EQ(TryLockElsewhere(), 0);  // released on the failure path too

  ASSERT_NE(standIn.WaitForWindow(8000), nullptr);  // it does come up later
  EXPECT_THAT(BytesOf(standIn.TextsThroughMarker()), ElementsAre(kMarkerText));
  EXPECT_EQ(standIn.Starts(), 1);
}

TEST_F(HandoffTest, PropertiesDialogKeepsAFreshlyStartedManagerBehind) {
  StandInOptions options;
  options.delayMs = 500;
  options.propertiesDialog = true;
  StandIn standIn(options);
  registry_.SetAppPath(standIn.Install());
  ForegroundWindow ours;

  ASSERT_TRUE(HandOff(kProtocolHandlerHandoff, SendText("URL=d")).sent());
  auto texts = standIn.WaitForTexts(1);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_FALSE(texts[0].foreground);

  // A running manager still follows the AutoAdd rule (absent: to the front).
  ours.Activate();
  ASSERT_TRUE(HandOff(kProtocolHandlerHandoff, SendText("URL=e")).sent());
  texts = standIn.WaitForTexts(2);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_TRUE(texts[1].foreground);
}

TEST_F(HandoffTest, NavigatorBringsAStartedManagerForwardDespiteTheDialog) {
  StandInOptions options;
  options.delayMs = 500;
  options.propertiesDialog = true;
  StandIn standIn(options);
  registry_.SetAppPath(standIn.Install());
  ForegroundWindow ours;
  ASSERT_TRUE(HandOff(kNavigatorHandoff, SendText("URL=n")).sent());
  const auto texts = standIn.WaitForTexts(1);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_TRUE(texts[0].foreground);
}

TEST_F(HandoffTest, NoWindowAndNoAppPathsEntryFailsWithoutStarting) {
  bool notFound = false;
  HandoffSteps steps = SendText("URL=z");
  steps.onNotFound = [&] { notFound = true; };
  EXPECT_EQ(HandOff(kProtocolHandlerHandoff, steps).status, HandoffStatus::kNoProgram);
  EXPECT_TRUE(notFound);
  EXPECT_EQ(TryLockElsewhere(), 0);
}

TEST_F(HandoffTest, LockHeldElsewhereSendsNothing) {
  StandIn standIn;
  standIn.Launch();
  LockHolder holder("hold", 3000);
  ASSERT_TRUE(holder.held());
  bool built = false;
  HandoffSteps steps = SendText("URL=blocked");
  steps.buildText = [&] {
    built = true;
    return std::string("URL=blocked");
  };
  HandoffOptions options;
  options.lockWaitMs = 500;
  EXPECT_EQ(HandOff(kOperaHandoff, steps, options).status, HandoffStatus::kLockNotObtained);
  EXPECT_FALSE(built);
  // The context menu takes no lock and still gets through.
  EXPECT_TRUE(HandOff(kContextMenuHandoff, SendText("URL=menu")).sent());
  const auto texts = standIn.WaitForTexts(1);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].bytes, "URL=menu");
}

TEST_F(HandoffTest, SecondHandoffWaitsForTheFirstAndThenDelivers) {
  StandInOptions options;
  options.replyDelayMs = 2000;  // the first hand-off holds the lock this long
  StandIn standIn(options);
  standIn.Launch();
  const zv::win::UniqueHandle first =
      StartProgram("\"" + ToolExe("zvsend.exe") + "\" --module=handler --no-decision --url=http://a/first.zip");
  ASSERT_TRUE(first);
  ASSERT_EQ(standIn.WaitForTexts(1).size(), 1u);
  EXPECT_FALSE(HandoffLock::Acquire(0).held());  // the other process holds it

  const DWORD start = GetTickCount();
  HandoffOptions wait;
  wait.lockWaitMs = 20000;
  const HandoffOutcome second = HandOff(kProtocolHandlerHandoff, SendText("URL=http://a/second.zip"), wait);
  EXPECT_TRUE(second.sent());
  EXPECT_GE(GetTickCount() - start, 1000u);
  WaitForSingleObject(first.get(), 60000);
  DWORD exitCode = 99;
  GetExitCodeProcess(first.get(), &exitCode);
  EXPECT_EQ(exitCode, 0u);
  const auto texts = standIn.WaitForTexts(2);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].bytes, "URL=http://a/first.zip");
  EXPECT_EQ(texts[1].bytes, "URL=http://a/second.zip");
}

// A host that ends while it owns the lock, by exiting or by being killed
// (a crashed or terminated browser tab): a host process already waiting for
// it and the next hand-off take the lock over at once instead of waiting out
// their bound, and free it afterwards.
struct LockOwnerEnd {
  const char* name;
  const char* mode;  // lock_holder's mode
  bool kill;         // terminated while it holds the lock
  bool waiter;       // another host process waits for the lock meanwhile
};

class AbandonedLock : public HandoffTest, public testing::WithParamInterface<LockOwnerEnd> {};

TEST_P(AbandonedLock, IsTakenOverAtOnceAndReleased) {
  StandIn standIn;
  standIn.Launch();
  zv::win::UniqueHandle waiter;
  DWORD ended = 0;
  {
    LockHolder owner(GetParam().mode, 600000);
    ASSERT_TRUE(owner.held());
    if (GetParam().waiter) {
      waiter =
          StartProgram("\"" + ToolExe("zvsend.exe") + "\" --module=handler --no-decision --url=http://a/waited.zip");
      ASSERT_TRUE(waiter);
      EXPECT_TRUE(standIn.WaitForTexts(1, 1500).empty()) << "sent while another host held the lock";
    }
    ended = GetTickCount();
    if (GetParam().kill) owner.Kill();
    owner.WaitForExit();
  }
  std::vector<std::string> expected;
  if (waiter) {
    EXPECT_EQ(WaitForSingleObject(waiter.get(), 60000), WAIT_OBJECT_0);
    EXPECT_LT(GetTickCount() - ended, 20000u) << "the waiting host waited out its bound";
    DWORD exitCode = 99;
    GetExitCodeProcess(waiter.get(), &exitCode);
    EXPECT_EQ(exitCode, 0u);
    expected.push_back("URL=http://a/waited.zip");
  }
  HandoffOptions options;
  options.lockWaitMs = 60000;
  const DWORD start = GetTickCount();
  EXPECT_TRUE(HandOff(kProtocolHandlerHandoff, SendText("URL=after-crash"), options).sent());
  EXPECT_LT(GetTickCount() - start, 20000u) << "waited for a lock nobody holds";
  expected.push_back("URL=after-crash");
  const auto texts = standIn.WaitForTexts(expected.size());
  ASSERT_EQ(texts.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(texts[i].bytes, expected[i]);
  EXPECT_EQ(TryLockElsewhere(), 0);  // not left owned by this thread
}

INSTANTIATE_TEST_SUITE_P(Cases, AbandonedLock,
                         testing::Values(LockOwnerEnd{"ExitsOwningIt", "abandon", false, false},
                                         LockOwnerEnd{"KilledOwningIt", "hold", true, false},
                                         LockOwnerEnd{"KilledWhileAnotherHostWaits", "hold", true, true}),
                         [](const testing::TestParamInfo<LockOwnerEnd>& info) { return std::string(info.param.name); });

TEST_F(HandoffTest, LockIsReleasedAfterEveryHandoff) {
  StandIn standIn;
  standIn.Launch();
  EXPECT_TRUE(HandOff(kProtocolHandlerHandoff, SendText("URL=1")).sent());
  EXPECT_EQ(TryLockElsewhere(), 0);
  EXPECT_TRUE(HandOff(kNavigatorHandoff, SendText("URL=2")).sent());
  EXPECT_EQ(TryLockElsewhere(), 0);
  HandoffLock lock = HandoffLock::Acquire(0);
  EXPECT_TRUE(lock.held());
  EXPECT_EQ(TryLockElsewhere(), 1);
  {
    HandoffLock moved = std::move(lock);  // ownership moves, the lock stays held
    EXPECT_FALSE(lock.held());
    EXPECT_TRUE(moved.held());
    EXPECT_EQ(TryLockElsewhere(), 1);
  }
  EXPECT_EQ(TryLockElsewhere(), 0);
}

TEST_F(HandoffTest, LockCreatedFirstByAMoreTrustedProcessIsStillUsable) {
  // The creator grants only waiting and releasing, as a medium-integrity
  // creator's mutex appears to a low-integrity tab.
  StandIn standIn;
  standIn.Launch();
  LockHolder creator("restricted", 3000);
  ASSERT_TRUE(creator.held());
  HandoffOptions options;
  options.lockWaitMs = 2000;
  EXPECT_TRUE(HandOff(kProtocolHandlerHandoff, SendText("URL=from-a-tab"), options).sent());
  EXPECT_EQ(standIn.WaitForTexts(1).size(), 1u);
  EXPECT_EQ(TryLockElsewhere(), 0);  // released with the same rights
}

TEST_F(HandoffTest, LockIsCreatedWithALowLabelThatForbidsOnlyWritingUp) {
  HandoffLock lock = HandoffLock::Acquire(0);
  ASSERT_TRUE(lock.held());
  const zv::win::UniqueHandle peek(OpenMutexA(READ_CONTROL, FALSE, kLockName));
  ASSERT_TRUE(peek) << GetLastError();
  PACL sacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetSecurityInfo(peek.get(), SE_KERNEL_OBJECT, LABEL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, &sacl,
                            &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  DWORD rid = 0, mask = 0;
  int labels = 0;
  for (DWORD i = 0; sacl && i < sacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(sacl, i, &ace)) continue;
    if (static_cast<ACE_HEADER*>(ace)->AceType != SYSTEM_MANDATORY_LABEL_ACE_TYPE) continue;
    auto* label = static_cast<SYSTEM_MANDATORY_LABEL_ACE*>(ace);
    mask = label->Mask;
    rid = *GetSidSubAuthority(&label->SidStart, 0);
    ++labels;
  }
  LocalFree(descriptor);
  EXPECT_EQ(labels, 1);
  EXPECT_EQ(rid, 0x1000u);
  EXPECT_EQ(mask, static_cast<DWORD>(SYSTEM_MANDATORY_LABEL_NO_WRITE_UP));
}

// A download manager that stopped pumping messages: each send gives up
// after the (shortened) bound, the text counts as not taken, and the lock
// is free again for the other browsers.
struct HungCase {
  const char* name;
  const HandoffVariant* variant;
};

void PrintTo(const HungCase& c, std::ostream* os) { *os << c.name; }

class HungManagerTest : public HandoffTest, public testing::WithParamInterface<HungCase> {};

TEST_P(HungManagerTest, IsGivenUpOnAndTheLockIsFreed) {
  StandInOptions hung;
  hung.hang = true;
  hung.lifetimeMs = 40000;  // a send without a bound would wait this long
  StandIn standIn(hung);
  standIn.Launch();
  HandoffOptions options;
  options.sendTimeoutMs = 1000;

  const DWORD start = GetTickCount();
  const HandoffOutcome outcome = HandOff(*GetParam().variant, SendText("URL=http://a/hung.zip"), options);
  const DWORD elapsed = GetTickCount() - start;
  EXPECT_EQ(outcome.status, HandoffStatus::kSent);
  EXPECT_EQ(outcome.reply, 0);
  EXPECT_LT(elapsed, 20000u);
  EXPECT_EQ(TryLockElsewhere(), 0);
}

INSTANTIATE_TEST_SUITE_P(Variants, HungManagerTest,
                         testing::Values(HungCase{"ProtocolHandler", &kProtocolHandlerHandoff},
                                         HungCase{"HelperObjectQueriesFirst", &kHelperObjectHandoff},
                                         HungCase{"NavigatorQueriesUnderTheLock", &kNavigatorHandoff},
                                         HungCase{"ContextMenu", &kContextMenuHandoff}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HandoffTest, ManagerKnownToBeHungIsNotWaitedForEvenWithTheFullBound) {
  // Windows (and Wine) call a window hung once it has not asked for a
  // message for 5 s; then the two-minute bound does not apply.
  StandInOptions hung;
  hung.hang = true;
  hung.lifetimeMs = 60000;
  StandIn standIn(hung);
  standIn.Launch();
  Sleep(6500);
  const DWORD start = GetTickCount();
  const HandoffOutcome outcome = HandOff(kProtocolHandlerHandoff, SendText("URL=http://a/hung.zip"));
  EXPECT_LT(GetTickCount() - start, 20000u);
  EXPECT_EQ(outcome.reply, 0);
  EXPECT_EQ(TryLockElsewhere(), 0);
}

}  // namespace

namespace {

// A download manager that misbehaves between the hand-off's steps: one that
// closes its window when asked about the foreground (after the lookup,
// before the text goes), and one that takes seconds over each text.
struct ManagerFault {
  const char* name;
  const HandoffVariant* variant;
  bool vanish;
  unsigned replyDelayMs;
  HandoffStatus status;
  std::vector<std::string> texts;  // what the stand-in receives
};

void PrintTo(const ManagerFault& c, std::ostream* os) { *os << c.name; }

class ManagerFaultTest : public HandoffTest, public testing::WithParamInterface<ManagerFault> {};

TEST_P(ManagerFaultTest, EndsInItsResultWithoutHanging) {
  const ManagerFault& c = GetParam();
  StandInOptions options;
  options.reply = 5;
  options.vanish = c.vanish;
  options.replyDelayMs = c.replyDelayMs;
  StandIn standIn(options);
  standIn.Launch();
  registry_.Set("ZVCaption", options.caption);

  const DWORD start = GetTickCount();
  const HandoffOutcome outcome = HandOff(*c.variant, SendText("URL=http://a/fault.zip"));
  EXPECT_LT(GetTickCount() - start, 60000u);
  EXPECT_EQ(outcome.status, c.status);
  EXPECT_EQ(outcome.reply, c.status == HandoffStatus::kSent ? 5 : 0);
  std::vector<std::string> received;
  for (const auto& r : c.texts.empty() ? standIn.Texts() : standIn.WaitForTexts(c.texts.size()))
    received.push_back(r.bytes);
  EXPECT_EQ(received, c.texts);
  if (c.vanish) {
    EXPECT_EQ(standIn.ForegroundQueries().size(), 1u);
  }
  EXPECT_EQ(TryLockElsewhere(), 0);
}

const std::vector<std::string> kFaultText = {"URL=http://a/fault.zip"};

INSTANTIATE_TEST_SUITE_P(
    Cases, ManagerFaultTest,
    testing::Values(
        ManagerFault{"HelperObjectWindowGoneAfterQuery", &kHelperObjectHandoff, true, 0, HandoffStatus::kNoProgram, {}},
        ManagerFault{"NavigatorWindowGoneAfterQuery", &kNavigatorHandoff, true, 0, HandoffStatus::kNoProgram, {}},
        ManagerFault{"SlowProtocolHandler", &kProtocolHandlerHandoff, false, 3000, HandoffStatus::kSent, kFaultText},
        ManagerFault{"SlowHelperObject", &kHelperObjectHandoff, false, 3000, HandoffStatus::kSent, kFaultText},
        ManagerFault{"SlowNavigator", &kNavigatorHandoff, false, 3000, HandoffStatus::kSent, kFaultText},
        ManagerFault{"SlowContextMenu", &kContextMenuHandoff, false, 3000, HandoffStatus::kSent, kFaultText}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// The browser's frame sends its tab's thread messages and stalls until they
// are answered; posted messages (navigations, timers) must stay queued.
struct BlockedWait {
  const char* name;
  bool lockHeldElsewhere;  // else: the download manager is being started
};

void PrintTo(const BlockedWait& c, std::ostream* os) { *os << c.name; }

class BlockedWaitTest : public HandoffTest, public testing::WithParamInterface<BlockedWait> {};

TEST_P(BlockedWaitTest, AnswersMessagesSentToTheThreadAndKeepsPostedOnes) {
  StandInOptions options;
  options.delayMs = GetParam().lockHeldElsewhere ? 0 : 3000;
  StandIn standIn(options);
  std::optional<LockHolder> holder;
  if (GetParam().lockHeldElsewhere) {
    standIn.Launch();
    holder.emplace("hold", 3000);
    ASSERT_TRUE(holder->held());
  } else {
    registry_.SetAppPath(standIn.Install());
  }
  registry_.Set("ZVCaption", options.caption);
  // This thread is the tab's: a window of its own that other threads address.
  HWND tab = CreateWindowExA(0, "STATIC", "tab", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(tab, nullptr);
  bool answered = false;
  DWORD answerMs = 0;
  std::thread frame([&] {
    Sleep(800);
    PostMessageA(tab, WM_APP + 1, 0, 0);
    const DWORD start = GetTickCount();
    DWORD_PTR result = 0;
    answered = SendMessageTimeoutA(tab, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &result) != 0;
    answerMs = GetTickCount() - start;
  });
  HandoffOptions wait;
  wait.lockWaitMs = 20000;
  const HandoffOutcome outcome = HandOff(kProtocolHandlerHandoff, SendText("URL=http://a/waited.zip"), wait);
  frame.join();
  EXPECT_TRUE(answered);
  EXPECT_LT(answerMs, 1000u);
  EXPECT_TRUE(outcome.sent());  // the same result as a wait that answers nothing
  EXPECT_EQ(outcome.afterStartup, !GetParam().lockHeldElsewhere);
  MSG posted;
  EXPECT_TRUE(PeekMessageA(&posted, tab, WM_APP + 1, WM_APP + 1, PM_REMOVE));  // still queued
  DestroyWindow(tab);
  ASSERT_EQ(standIn.WaitForTexts(1).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Waits, BlockedWaitTest,
                         testing::Values(BlockedWait{"ForTheLock", true}, BlockedWait{"ForAStartedManager", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// A window of the download manager's class and caption made by a process
// of lower integrity than ours. Wine cannot lower a process's label, so the
// query reports this test process (the decoy's owner) as low.
std::optional<DWORD> DecoyOwnerIsLow(DWORD processId) {
  if (processId == GetCurrentProcessId()) return 0x1000;
  return zv::win::ProcessIntegrityLevel(processId);
}

LRESULT CALLBACK DecoyProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COPYDATA) {
    ADD_FAILURE() << "the decoy received a command text";
    return 1;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(HandoffTest, WindowOfALowerIntegrityProcessGetsNothingAndTheNextOneTheText) {
  StandIn standIn;
  standIn.Launch();
  const HWND manager = standIn.WaitForWindow();
  registry_.Set("ZVCaption", StandInOptions().caption);
  WNDCLASSA decoyClass{};
  decoyClass.lpfnWndProc = DecoyProc;
  decoyClass.hInstance = GetModuleHandleA(nullptr);
  decoyClass.lpszClassName = "TMainForm";
  RegisterClassA(&decoyClass);
  // Made after the stand-in's, the decoy is the one a plain lookup finds.
  HWND decoy = CreateWindowExA(0, "TMainForm", StandInOptions().caption.c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 10, 10,
                               nullptr, nullptr, decoyClass.hInstance, nullptr);
  ASSERT_NE(decoy, nullptr);
  ASSERT_EQ(FindWindowA("TMainForm", StandInOptions().caption.c_str()), decoy);
  EXPECT_EQ(FindManagerWindow(StandInOptions().caption.c_str(), DecoyOwnerIsLow), manager);
  EXPECT_EQ(FindManagerWindow(StandInOptions().caption.c_str()), decoy);  // same level: a peer

  HandoffOptions options;
  options.integrityOf = DecoyOwnerIsLow;
  for (const HandoffVariant* variant : {&kProtocolHandlerHandoff, &kHelperObjectHandoff, &kNavigatorHandoff})
    EXPECT_TRUE(HandOff(*variant, SendText("URL=http://a/trusted.zip"), options).sent());
  EXPECT_EQ(standIn.WaitForTexts(3).size(), 3u);
  DestroyWindow(decoy);
  UnregisterClassA("TMainForm", decoyClass.hInstance);
}

TEST_F(HandoffTest, WinExecStartsTheProgramOfAPathWithSpacesNotAPrefixOfIt) {
  StandInOptions options;
  options.delayMs = 300;
  StandIn standIn(options);
  const std::string program = standIn.Install("My Tools");  // ...\My Tools\zorvex.exe
  const std::string folder = program.substr(0, program.rfind("\\My Tools\\"));
  // Unquoted, the command line would start ...\My.exe with "Tools\zorvex.exe".
  ASSERT_TRUE(CopyFileA(StandInExe().c_str(), (folder + "\\My.exe").c_str(), FALSE));
  registry_.SetAppPath(program);
  const HandoffOutcome outcome = HandOff(kOperaHandoff, SendText("URL=o\nOpera=True"));
  ASSERT_EQ(outcome.status, HandoffStatus::kSent);
  EXPECT_EQ(standIn.Starts(), 1);
  EXPECT_EQ(GetFileAttributesA((folder + "\\My.exe.log").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
