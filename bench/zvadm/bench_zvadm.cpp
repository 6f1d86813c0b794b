// B5: reading a job list of 100,000 jobs with short texts out of a section
// and writing it back, against copying the same bytes out and back in.
// B6: 10,000 kind-2 registry writes run by zvadm.exe through the job
// channel (section, start, read, jobs, write-back, exit), against the same
// RegCreateKeyExA/RegSetValueExA/RegCloseKey calls in a bare loop here.
//
//   bench_zvadm.exe --helper=PATH                 times
//   bench_zvadm.exe --helper=PATH --count         B5 and the bare loop once each, marked
//   bench_zvadm.exe --helper=PATH --run-helper=N  one run of N writes (counted by bench.sh)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "AdmShared.h"
#include "channel.h"
#include "joblayout.h"
#include "zvbench.h"

namespace {

constexpr char kBenchKey[] = "Software\\ZvAdmBench";
constexpr int kB5Jobs = 100000;
constexpr int kB6Writes = 10000;

std::vector<zv::jobs::Job> ShortJobs() {
  std::vector<zv::jobs::Job> jobs(kB5Jobs);
  for (int i = 0; i < kB5Jobs; ++i) {
    jobs[i].kind = 2;
    jobs[i].tag = static_cast<uint32_t>(i);
    jobs[i].param1 = "HKCU\\S\\V" + std::to_string(i);
    jobs[i].param2 = i % 4 ? "text" + std::to_string(i % 100) : "";
  }
  return jobs;
}

// A helper process reads one list in its life, into memory of its own: ours
// into a new list, the floor into a new buffer. The same with memory used
// before is printed for reference.
void ReadAndWriteBackFresh(std::vector<uint8_t>& view) {
  zv::adm::TJobList list;
  zv::adm::ReadJobList(view.data(), view.size(), list);
  zv::adm::WriteJobList(list, view.data(), view.size());
}

void CopyOutAndBackFresh(std::vector<uint8_t>& view) {
  std::unique_ptr<uint8_t[]> own(new uint8_t[view.size()]);
  std::memcpy(own.get(), view.data(), view.size());
  std::memcpy(view.data(), own.get(), view.size());
}

void RunB5() {
  const std::vector<uint8_t> section = zv::jobs::PackJobList(ShortJobs());
  std::vector<uint8_t> view = section, scratch(section.size());
  const size_t n = view.size();
  const double ours = zvbench::MedianMicros(15, 3, [&] { ReadAndWriteBackFresh(view); });
  const double floor = zvbench::MedianMicros(15, 3, [&] { CopyOutAndBackFresh(view); });
  zv::adm::TJobList reused;
  const double oursReused = zvbench::MedianMicros(15, 3, [&] {
    zv::adm::ReadJobList(view.data(), n, reused);
    zv::adm::WriteJobList(reused, view.data(), n);
  });
  const double floorReused = zvbench::MedianMicros(15, 3, [&] {
    std::memcpy(scratch.data(), view.data(), n);
    std::memcpy(view.data(), scratch.data(), n);
  });
  if (view != section) std::printf("B5: the write-back changed the list!\n");
  char what[96];
  std::snprintf(what, sizeof(what), "read + write back %d jobs (%u bytes)", kB5Jobs, static_cast<unsigned>(n));
  zvbench::PrintTimes("B5", what, ours, floor);
  zvbench::PrintTimes("", "  (both into memory used before)", oursReused, floorReused);
}

struct Write {
  std::string key, name, data;
};

std::vector<Write> Writes() {
  std::vector<Write> writes;
  for (int i = 0; i < kB6Writes; ++i)
    writes.push_back({std::string(kBenchKey) + "\\K" + std::to_string(i % 100), "V" + std::to_string(i),
                      "value " + std::to_string(i)});
  return writes;
}

std::vector<zv::jobs::Job> WriteJobs(int count) {
  std::vector<zv::jobs::Job> jobs;
  const std::vector<Write> writes = Writes();
  for (int i = 0; i < count; ++i) {
    zv::jobs::Job job;
    job.kind = 2;
    job.param1 = "HKCU\\" + writes[i].key + "\\" + writes[i].name;
    job.param2 = writes[i].data;
    jobs.push_back(job);
  }
  return jobs;
}

void BareLoop(const std::vector<Write>& writes) {
  for (const Write& w : writes) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, w.key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
      continue;
    RegSetValueExA(key, w.name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(w.data.data()),
                   static_cast<DWORD>(w.data.size()));
    RegCloseKey(key);
  }
}

bool RunHelper(const zv::jobs::HelperRun& run, const std::vector<zv::jobs::Job>& jobs) {
  const zv::jobs::JobsOutcome outcome = zv::jobs::RunJobs(jobs, run);
  if (!outcome.ran || outcome.exitCode != 0) {
    std::printf("B6: the helper failed: %s exit code %lu\n", outcome.error.c_str(),
                static_cast<unsigned long>(outcome.exitCode));
    return false;
  }
  return true;
}

void RunB6(const zv::jobs::HelperRun& run) {
  const std::vector<Write> writes = Writes();
  const std::vector<zv::jobs::Job> jobs = WriteJobs(kB6Writes);
  const std::vector<zv::jobs::Job> none;
  BareLoop(writes);  // the values exist: both sides overwrite them
  const double ours = zvbench::MedianMicros(7, 1, [&] { RunHelper(run, jobs); });
  const double floor = zvbench::MedianMicros(7, 1, [&] { BareLoop(writes); });
  const double empty = zvbench::MedianMicros(7, 1, [&] { RunHelper(run, none); });
  zvbench::PrintTimes("B6", "10,000 kind-2 writes through zvadm.exe", ours, floor);
  zvbench::PrintTimes("", "  (an empty list through zvadm.exe: the fixed cost)", empty, floor);
  zvbench::PrintTimes("", "  (the writes alone: ours less the empty list)", ours - empty, floor);
}

}  // namespace

int main(int argc, char** argv) {
  zv::jobs::HelperRun run;
  int runHelper = -1;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--helper=", 9) == 0) run.helperPath = argv[i] + 9;
    if (std::strncmp(argv[i], "--run-helper=", 13) == 0) runHelper = std::atoi(argv[i] + 13);
  }
  if (run.helperPath.empty()) {
    std::fprintf(stderr, "usage: bench_zvadm --helper=PATH [--count | --run-helper=N]\n");
    return 64;
  }
  if (runHelper >= 0) {
    BareLoop(Writes());
    return RunHelper(run, WriteJobs(runHelper)) ? 0 : 1;
  }
  if (zvbench::CountMode(argc, argv)) {
    const std::vector<Write> writes = Writes();
    BareLoop(writes);
    zvbench::CountedSection("B6-floor", [&] { BareLoop(writes); });
    std::vector<uint8_t> view = zv::jobs::PackJobList(ShortJobs());
    zvbench::CountedSection("B5-ours", [&] { ReadAndWriteBackFresh(view); });
    zvbench::CountedSection("B5-floor", [&] { CopyOutAndBackFresh(view); });
  } else {
    for (int round = 0; round < 2; ++round) RunB5();
    RunB6(run);
  }
  RegDeleteTreeA(HKEY_CURRENT_USER, kBenchKey);
  return 0;
}
