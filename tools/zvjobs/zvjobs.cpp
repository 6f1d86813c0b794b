// zvjobs: runs a job list through the administrative helper the way the
// download manager does, and prints each job's result and the exit code.
//
//   zvjobs [options] JOBFILE      (JOBFILE "-" reads standard input)
//
// JOBFILE holds one job a line in the text form described in jobtext.h:
//   KIND  TAG  PARAM1  PARAM2  [RESULT]     e.g.   2 1 "HKCU\Software\X\V" "text"
// Options:
//   --helper=PATH  the helper (default: zvadm.exe beside zvjobs.exe, else
//                  ..\zvadm\zvadm.exe as in a build tree)
//   --cwd=DIR      the helper's current folder
//   --size=BYTES   make the section this large (default: what the list needs)
//   --timeout=MS   how long to wait for the helper (default 120000)
//   --raw          JOBFILE holds the section's bytes as they stand, not jobs
//   --dump=FILE    write the section's bytes after the run to FILE
//   --list         print the list read back in the text form
//   --exit-code    end with the helper's exit code instead of 0
// zvjobs ends with 1 when it could not run the list (bad file, no helper,
// timeout), else 0 (or the helper's code with --exit-code).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include "channel.h"
#include "jobtext.h"
#include "win/paths.h"
#include "win/text.h"

namespace {

struct Options {
  zv::jobs::HelperRun run;
  size_t size = 0;
  bool raw = false;
  bool list = false;
  bool passExitCode = false;
  std::string dump;
  std::string file;
};

std::string OwnFolder() {
  return zv::win::ToAnsi(zv::win::FolderOfPath(zv::win::ModulePath(nullptr)), zv::win::Unholdable::kQuestionMark);
}

std::string DefaultHelper() {
  const std::string beside = OwnFolder() + "zvadm.exe";
  if (GetFileAttributesA(beside.c_str()) != INVALID_FILE_ATTRIBUTES) return beside;
  return OwnFolder() + "..\\zvadm\\zvadm.exe";
}

bool ParseArgs(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* name) -> const char* {
      const size_t n = std::strlen(name);
      return arg.compare(0, n, name) == 0 ? argv[i] + n : nullptr;
    };
    if (const char* v = value("--helper="))
      options.run.helperPath = v;
    else if (const char* v = value("--cwd="))
      options.run.workingDir = v;
    else if (const char* v = value("--size="))
      options.size = std::strtoul(v, nullptr, 0);
    else if (const char* v = value("--timeout="))
      options.run.timeoutMs = std::strtoul(v, nullptr, 0);
    else if (const char* v = value("--dump="))
      options.dump = v;
    else if (arg == "--raw")
      options.raw = true;
    else if (arg == "--list")
      options.list = true;
    else if (arg == "--exit-code")
      options.passExitCode = true;
    else if (arg.compare(0, 2, "--") == 0 || !options.file.empty())
      return false;
    else
      options.file = arg;
  }
  if (options.run.helperPath.empty()) options.run.helperPath = DefaultHelper();
  return !options.file.empty();
}

bool ReadInput(const std::string& file, std::string& bytes) {
  if (file == "-") {
    std::ostringstream in;
    in << std::cin.rdbuf();
    bytes = in.str();
    return true;
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

void PrintResults(const std::vector<zv::jobs::Job>& jobs) {
  std::printf("%-4s %-29s %-10s %-11s %s\n", "job", "kind", "tag", "result", "param1");
  for (size_t i = 0; i < jobs.size(); ++i) {
    const zv::jobs::Job& job = jobs[i];
    std::printf("%-4u %-3u %-25s 0x%08X %-11ld %s\n", static_cast<unsigned>(i), static_cast<unsigned>(job.kind),
                zv::jobs::KindName(job.kind), static_cast<unsigned>(job.tag), static_cast<long>(job.result),
                zv::jobs::QuoteText(job.param1).c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseArgs(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: zvjobs [--helper=PATH] [--cwd=DIR] [--size=BYTES] [--timeout=MS] [--raw]\n"
                 "              [--dump=FILE] [--list] [--exit-code] JOBFILE\n");
    return 1;
  }
  std::string input;
  if (!ReadInput(options.file, input)) {
    std::fprintf(stderr, "zvjobs: cannot read %s\n", options.file.c_str());
    return 1;
  }

  zv::jobs::JobsOutcome outcome;
  if (options.raw) {
    static_cast<zv::jobs::ChannelOutcome&>(outcome) =
        zv::jobs::RunSection(std::vector<uint8_t>(input.begin(), input.end()), options.size, options.run);
    if (outcome.ran)
      outcome.readBack = zv::jobs::UnpackJobList(outcome.section.data(), outcome.section.size(), outcome.jobs);
  } else {
    std::vector<zv::jobs::Job> jobs;
    std::string error;
    if (!zv::jobs::ParseJobText(input, jobs, error)) {
      std::fprintf(stderr, "zvjobs: %s: %s\n", options.file.c_str(), error.c_str());
      return 1;
    }
    outcome = zv::jobs::RunJobs(jobs, options.run, options.size);
  }
  if (!outcome.ran) {
    std::fprintf(stderr, "zvjobs: %s\n", outcome.error.c_str());
    return 1;
  }
  if (!options.dump.empty()) {
    std::ofstream out(options.dump, std::ios::binary);
    out.write(reinterpret_cast<const char*>(outcome.section.data()),
              static_cast<std::streamsize>(outcome.section.size()));
  }

  if (!outcome.eventSignalled) std::printf("the helper did not signal the start event\n");
  if (!outcome.readBack) {
    std::printf("the section read back is not a job list\n");
  } else if (options.list) {
    for (const zv::jobs::Job& job : outcome.jobs) std::printf("%s\n", zv::jobs::FormatJob(job).c_str());
  } else {
    PrintResults(outcome.jobs);
  }
  std::printf("exit code: %lu (0x%08lX)\n", static_cast<unsigned long>(outcome.exitCode),
              static_cast<unsigned long>(outcome.exitCode));
  std::fflush(stdout);
  return options.passExitCode ? static_cast<int>(outcome.exitCode) : 0;
}
