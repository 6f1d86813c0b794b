// Arbitrary bytes through the download manager's side of the job channel:
// the readable job-list text a user writes, and the section the helper
// hands back. Whatever is accepted survives a round trip unchanged; what is
// refused says why.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "joblayout.h"
#include "jobtext.h"

using namespace zv::jobs;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool Same(const std::vector<Job>& a, const std::vector<Job>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].tag != b[i].tag || a[i].kind != b[i].kind || a[i].param1 != b[i].param1 || a[i].param2 != b[i].param2 ||
        a[i].result != b[i].result)
      return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  std::vector<Job> jobs;
  std::string error;
  if (ParseJobText(text, jobs, error)) {
    std::string formatted;
    for (const Job& job : jobs) formatted += FormatJob(job) + "\n";
    std::vector<Job> again;
    Check(ParseJobText(formatted, again, error) && Same(jobs, again));
    const std::vector<uint8_t> packed = PackJobList(jobs);
    Check(UnpackJobList(packed.data(), packed.size(), again) && Same(jobs, again));
  } else {
    Check(!error.empty());
  }

  // Any bytes as a quoted text read back as those bytes.
  std::vector<Job> quoted;
  Check(ParseJobText("2 1 " + QuoteText(text) + " \"\"", quoted, error) && quoted.size() == 1 &&
        quoted[0].param1 == text);

  std::vector<Job> unpacked;
  if (UnpackJobList(data, size, unpacked)) {
    const std::vector<uint8_t> repacked = PackJobList(unpacked);
    std::vector<Job> again;
    Check(UnpackJobList(repacked.data(), repacked.size(), again) && Same(unpacked, again));
  }
  return 0;
}
