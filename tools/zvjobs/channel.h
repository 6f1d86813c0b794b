// The download manager's side of the job channel: the named section and
// start event, starting the helper, waiting for it and reading back.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "joblayout.h"

namespace zv::jobs {

constexpr char kJobMappingName[] = "{750C39A2-58C8-4E5A-A046-663086CC2DFB}";
constexpr char kStartEventName[] = "{734A6A71-3AC0-487A-AEA2-A4BE502B4E46}";

// The two names are fixed, so two senders on one desktop would share one
// section: every run holds this lock (a named mutex) from creating the
// section until the helper has ended. Recursive for the owning thread.
class ChannelLock {
 public:
  ChannelLock();
  ~ChannelLock();
  ChannelLock(const ChannelLock&) = delete;
  ChannelLock& operator=(const ChannelLock&) = delete;
  bool held() const { return held_; }

 private:
  HANDLE mutex_ = nullptr;
  bool held_ = false;
};

struct HelperRun {
  std::string helperPath;  // zvadm.exe
  std::string workingDir;  // empty: ours
  DWORD timeoutMs = 120000;
  // The section's security descriptor in SDDL (a test's stand-in for a
  // section made by another process); empty: the default one.
  std::string sectionSddl;
};

struct ChannelOutcome {
  bool ran = false;             // the section was made and the helper ended
  std::string error;            // why not
  bool eventSignalled = false;  // the helper read and accepted the list
  DWORD exitCode = 0;
  std::vector<uint8_t> section;  // the section's bytes after the run
};

struct JobsOutcome : ChannelOutcome {
  bool readBack = false;  // the section held a job list afterwards
  std::vector<Job> jobs;  // as read back
};

// Starts the helper; asks for elevation when a plain start is refused.
// The process handle, or nullptr with `error` set.
HANDLE StartHelper(const HelperRun& run, std::string& error);

// Fills a section of `sectionSize` bytes (at least the bytes given) with
// `bytes`, runs the helper and returns the section afterwards.
ChannelOutcome RunSection(const std::vector<uint8_t>& bytes, size_t sectionSize, const HelperRun& run);

// Packs the jobs, runs them and reads the list back.
JobsOutcome RunJobs(const std::vector<Job>& jobs, const HelperRun& run, size_t sectionSize = 0);

}  // namespace zv::jobs
