// Driving zvadm.exe through the job channel as the download manager does,
// and reading the registry the way a peer would.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "channel.h"
#include "zvtest.h"
#include "section_bytes.h"

namespace zv::test::adm {

// The registry and file helpers are the shared ones.
using namespace zv::test;

std::string HelperExe();

// Runs the jobs through a section of their packed size (or `sectionSize`).
zv::jobs::JobsOutcome RunJobs(const std::vector<zv::jobs::Job>& jobs, size_t sectionSize = 0);
// The same with another copy of the helper.
zv::jobs::JobsOutcome RunJobsWith(const std::string& helper, const std::vector<zv::jobs::Job>& jobs);
zv::jobs::ChannelOutcome RunSection(const Bytes& bytes, size_t sectionSize);

zv::jobs::Job MakeJob(uint8_t kind, std::string param1 = {}, std::string param2 = {}, int32_t result = 0,
                      uint32_t tag = 0);

// A copy of the helper, alone in a folder of its own, under a name that
// Wine's per-program settings give the version `version` ("win98": the 9x
// family, 4.10; "winxp": NT 5.1). The setting goes with the copy.
class HelperCopy {
 public:
  explicit HelperCopy(const std::string& version);
  ~HelperCopy();
  HelperCopy(const HelperCopy&) = delete;
  HelperCopy& operator=(const HelperCopy&) = delete;
  const std::string& path() const { return path_; }
  const std::string& folder() const { return folder_.path(); }
  bool win9x() const { return win9x_; }
  zv::jobs::JobsOutcome Run(const std::vector<zv::jobs::Job>& jobs) const { return RunJobsWith(path_, jobs); }

 private:
  zv::test::ScratchDir folder_;
  std::string path_;
  std::string appDefaults_;
  bool win9x_;
};

// The restart renames NT keeps (source, target) as the system lists them:
// "\??\C:\x" names, an empty target for a deletion, "!" before a target
// that replaces an existing file.
struct PendingRename {
  std::string source;
  std::string target;
};
// The pending renames whose source lies in `folder` (all when it is empty).
std::vector<PendingRename> PendingRenamesFrom(const std::string& folder);
// Drops the renames whose source lies in `folder`. Under the sender lock
// (zv::jobs::ChannelLock), which every helper run through the channel holds.
void ClearPendingRenamesFrom(const std::string& folder);

// Makes `key` a registry link to the machine's key `machineKey`.
void PutLink(HKEY root, const std::string& key, const std::string& machineKey);
// Deletes the link `key` itself, never what it leads to (absent is fine).
void RemoveLink(HKEY root, const std::string& key);

}  // namespace zv::test::adm
