#include "joblayout.h"

namespace zv::jobs {
namespace {

void AppendU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void SetU32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t GetU32(const uint8_t* p) {
  return p[0] | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

bool GetText(const uint8_t* data, size_t size, uint32_t offset, std::string& text) {
  text.clear();
  if (offset == 0) return true;
  if (offset > size || size - offset < 4) return false;
  const uint32_t length = GetU32(data + offset);
  if (length > size - offset - 4) return false;
  text.assign(reinterpret_cast<const char*>(data + offset + 4), length);
  return true;
}

}  // namespace

std::vector<uint8_t> PackJobList(const std::vector<Job>& jobs) {
  std::vector<uint8_t> out;
  AppendU32(out, static_cast<uint32_t>(jobs.size()));
  for (const Job& job : jobs) {
    AppendU32(out, job.tag);
    out.push_back(job.kind);
    out.insert(out.end(), 3, 0);
    AppendU32(out, 0);  // text offsets, filled in below
    AppendU32(out, 0);
    AppendU32(out, static_cast<uint32_t>(job.result));
  }
  for (size_t i = 0; i < jobs.size(); ++i) {
    const std::string* texts[2] = {&jobs[i].param1, &jobs[i].param2};
    for (size_t p = 0; p < 2; ++p) {
      if (texts[p]->empty()) continue;
      SetU32(out, 4 + 20 * i + 8 + 4 * p, static_cast<uint32_t>(out.size()));
      AppendU32(out, static_cast<uint32_t>(texts[p]->size()));
      out.insert(out.end(), texts[p]->begin(), texts[p]->end());
    }
  }
  return out;
}

bool UnpackJobList(const uint8_t* data, size_t size, std::vector<Job>& jobs) {
  jobs.clear();
  if (size < 4) return false;
  const int32_t count = static_cast<int32_t>(GetU32(data));
  if (count < 0 || (size - 4) / 20 < static_cast<uint32_t>(count)) return false;
  jobs.resize(static_cast<size_t>(count));
  for (size_t i = 0; i < jobs.size(); ++i) {
    const uint8_t* record = data + 4 + 20 * i;
    jobs[i].tag = GetU32(record);
    jobs[i].kind = record[4];
    jobs[i].result = static_cast<int32_t>(GetU32(record + 16));
    if (!GetText(data, size, GetU32(record + 8), jobs[i].param1) ||
        !GetText(data, size, GetU32(record + 12), jobs[i].param2)) {
      jobs.clear();
      return false;
    }
  }
  return true;
}

}  // namespace zv::jobs
