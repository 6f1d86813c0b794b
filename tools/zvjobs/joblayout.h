// The download manager's side of the job list: its records, the layout it
// packs into the section and reads back. Kept apart from the helper's own
// reader and writer, as the download manager is a program of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zv::jobs {

struct Job {
  uint32_t tag = 0;
  uint8_t kind = 0;
  std::string param1;
  std::string param2;
  int32_t result = 0;
};

// Count, 20-byte records (tag, kind, three zero bytes, the two text offsets,
// result), then the non-empty texts as length + bytes in the order job 0
// param1, job 0 param2, job 1 param1, ...; an empty text has offset 0.
std::vector<uint8_t> PackJobList(const std::vector<Job>& jobs);

// Reads a packed list back; false when the count, an offset or a length
// does not fit in `size`.
bool UnpackJobList(const uint8_t* data, size_t size, std::vector<Job>& jobs);

}  // namespace zv::jobs
