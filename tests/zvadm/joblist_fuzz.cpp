// Fuzzes the helper's job-list reader with arbitrary sections: it must
// never read outside them, and whatever it accepts must write back within
// the section and read back the same.
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "AdmShared.h"

namespace {

uint32_t U32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

// The text a record names, decoded directly from the accepted section.
std::string_view Named(const std::vector<uint8_t>& s, uint32_t offset) {
  if (offset == 0) return {};
  return std::string_view(reinterpret_cast<const char*>(s.data()) + offset + 4, U32(s.data() + offset));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy, so that any read past the end hits ASan's redzone.
  std::vector<uint8_t> section(data, data + size);
  zv::adm::TJobList list;
  if (!zv::adm::ReadJobList(section.data(), section.size(), list)) {
    if (!list.empty()) std::abort();
    return 0;
  }
  if (zv::adm::PackedJobListSize(list) > size) std::abort();
  for (size_t i = 0; i < list.size(); ++i) {
    const uint8_t* record = section.data() + 4 + 20 * i;
    if (list.Text(list[i].Param1) != Named(section, U32(record + 8)) ||
        list.Text(list[i].Param2) != Named(section, U32(record + 12)) || list[i].Tag != U32(record) ||
        list[i].Kind != record[4] || static_cast<uint32_t>(list[i].Result) != U32(record + 16))
      std::abort();
  }
  std::vector<uint8_t> back(size, 0);
  if (!zv::adm::WriteJobList(list, back.data(), back.size())) std::abort();
  zv::adm::TJobList again;
  if (!zv::adm::ReadJobList(back.data(), back.size(), again) || again.size() != list.size()) std::abort();
  for (size_t i = 0; i < list.size(); ++i) {
    const zv::adm::TJobItem& a = list[i];
    const zv::adm::TJobItem& b = again[i];
    if (a.Tag != b.Tag || a.Kind != b.Kind || a.Result != b.Result || list.Text(a.Param1) != again.Text(b.Param1) ||
        list.Text(a.Param2) != again.Text(b.Param2))
      std::abort();
  }
  return 0;
}
