// The job list: the records the download manager hands over through the
// shared section, and its byte layout there. Platform-free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zv::adm {

// A text parameter: `size` bytes (any bytes, NUL included) at `at` in the
// list's text store; size 0 is the empty text.
struct TJobText {
  uint32_t at = 0;
  uint32_t size = 0;
};

struct TJobItem {
  uint32_t Tag = 0;  // the sender's own; carried through untouched
  uint8_t Kind = 0;
  TJobText Param1;
  TJobText Param2;
  int32_t Result = 0;  // in: argument of some kinds; out: the job's result
};

// The jobs and their texts. The texts are kept in one store laid out
// exactly as the text area is written back (each non-empty text as a
// 32-bit length and its bytes, in the order Job 0 Param1, Job 0 Param2,
// Job 1 Param1, ...), so that reading and writing a list costs little more
// than copying it. No job changes its parameters, so the store stays as read.
class TJobList {
 public:
  size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  TJobItem& operator[](size_t i) { return items_[i]; }
  const TJobItem& operator[](size_t i) const { return items_[i]; }
  std::vector<TJobItem>::iterator begin() { return items_.begin(); }
  std::vector<TJobItem>::iterator end() { return items_.end(); }
  std::vector<TJobItem>::const_iterator begin() const { return items_.begin(); }
  std::vector<TJobItem>::const_iterator end() const { return items_.end(); }

  std::string_view Text(const TJobText& text) const {
    return text.size ? std::string_view(store_.get() + text.at, text.size) : std::string_view();
  }
  // Appends a job (the texts are copied into the store).
  void Add(uint32_t tag, uint8_t kind, std::string_view param1, std::string_view param2, int32_t result);
  void clear();

 private:
  friend bool ReadJobList(const void* view, size_t size, TJobList& list);
  friend bool WriteJobList(const TJobList& list, void* view, size_t size);
  friend uint64_t PackedJobListSize(const TJobList& list);
  TJobText Store(std::string_view text);
  void Append(const void* bytes, size_t length);
  // Left uninitialised until written: a long list's store is a few MB.
  void ResizeStore(size_t size);

  std::vector<TJobItem> items_;
  std::unique_ptr<char[]> store_;
  size_t storeSize_ = 0;
  size_t storeCapacity_ = 0;
};

// Layout in the section: a 32-bit count, one record per job, then the texts
// (each a 32-bit length and that many bytes). Integers are little-endian.
constexpr size_t kCountSize = 4;
constexpr size_t kRecordSize = 20;
constexpr size_t kTagOffset = 0;
constexpr size_t kKindOffset = 4;
constexpr size_t kParam1Offset = 8;
constexpr size_t kParam2Offset = 12;
constexpr size_t kResultOffset = 16;

// Reads the list out of the `size` bytes at `view`. The section belongs to
// another process and we run with raised rights, so nothing in it is
// trusted: the list is refused (false, `list` left empty) when the count is
// negative, when a record, an offset or a text reaches past `size`, or when
// the list as written back would not fit in `size` (which also bounds what
// the read can allocate).
bool ReadJobList(const void* view, size_t size, TJobList& list);

// Bytes that WriteJobList lays out for `list`: the count, the records and
// the non-empty texts packed one after another.
uint64_t PackedJobListSize(const TJobList& list);

// Writes the list back: count, records (padding zeroed), then the texts
// packed in the order Job 0 Param1, Job 0 Param2, Job 1 Param1, ...; empty
// texts get offset 0. Returns false and writes nothing when the packed list
// does not fit in `size`.
bool WriteJobList(const TJobList& list, void* view, size_t size);

}  // namespace zv::adm
