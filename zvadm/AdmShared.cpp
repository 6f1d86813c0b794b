#include "AdmShared.h"

#include <algorithm>
#include <cstring>

namespace zv::adm {
namespace {

uint32_t LoadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

void StoreU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// A stretch of the section copied into the store in one piece: texts that
// the sender placed one right after the other, as a packing sender does.
struct Run {
  size_t from;  // in the section
  size_t to;    // in the store
  size_t length;
};

class TextReader {
 public:
  // Offsets are 32-bit: the write-back cannot place a text past 4 GiB.
  TextReader(const uint8_t* base, size_t size, uint64_t recordsEnd)
      : base_(base), size_(size), roomLeft_(std::min<uint64_t>(size, UINT32_MAX) - recordsEnd) {}

  // Checks the text at `offset` (0: empty) and gives it its place in the
  // store; false when it lies outside the section or the store outgrows
  // what the write-back may use.
  bool Place(uint32_t offset, TJobText& text) {
    text = {};
    if (offset == 0) return true;
    if (offset > size_ || size_ - offset < 4) return false;
    const uint32_t length = LoadU32(base_ + offset);
    if (length > size_ - offset - 4) return false;
    if (length == 0) return true;  // written back as an empty text, offset 0
    const uint64_t stored = 4 + static_cast<uint64_t>(length);
    if (stored > roomLeft_ - storeSize_) return false;
    text = {static_cast<uint32_t>(storeSize_ + 4), length};
    if (!runs_.empty() && runs_.back().from + runs_.back().length == offset)
      runs_.back().length += stored;
    else
      runs_.push_back({offset, storeSize_, static_cast<size_t>(stored)});
    storeSize_ += static_cast<size_t>(stored);
    return true;
  }

  size_t storeSize() const { return storeSize_; }

  // Copies the placed texts into a store of storeSize() bytes.
  void CopyInto(char* store) const {
    for (const Run& run : runs_) std::memcpy(store + run.to, base_ + run.from, run.length);
  }

 private:
  const uint8_t* base_;
  size_t size_;
  uint64_t roomLeft_;  // section bytes after the records
  size_t storeSize_ = 0;
  std::vector<Run> runs_;
};

}  // namespace

void TJobList::ResizeStore(size_t size) {
  if (size > storeCapacity_) {
    std::unique_ptr<char[]> larger(new char[size]);
    if (storeSize_) std::memcpy(larger.get(), store_.get(), storeSize_);
    store_ = std::move(larger);
    storeCapacity_ = size;
  }
  storeSize_ = size;
}

void TJobList::Append(const void* bytes, size_t length) {
  const size_t at = storeSize_;
  if (at + length > storeCapacity_) {
    const size_t used = storeSize_;
    ResizeStore(std::max(at + length, 2 * storeCapacity_));
    storeSize_ = used;
  }
  std::memcpy(store_.get() + at, bytes, length);
  storeSize_ = at + length;
}

TJobText TJobList::Store(std::string_view text) {
  if (text.empty()) return {};
  uint8_t length[4];
  StoreU32(length, static_cast<uint32_t>(text.size()));
  Append(length, 4);
  const TJobText stored = {static_cast<uint32_t>(storeSize_), static_cast<uint32_t>(text.size())};
  Append(text.data(), text.size());
  return stored;
}

void TJobList::Add(uint32_t tag, uint8_t kind, std::string_view param1, std::string_view param2, int32_t result) {
  TJobItem job;
  job.Tag = tag;
  job.Kind = kind;
  job.Param1 = Store(param1);
  job.Param2 = Store(param2);
  job.Result = result;
  items_.push_back(job);
}

void TJobList::clear() {
  items_.clear();
  storeSize_ = 0;
}

bool ReadJobList(const void* view, size_t size, TJobList& list) {
  list.clear();
  const auto* base = static_cast<const uint8_t*>(view);
  if (size < kCountSize) return false;
  const int32_t count = static_cast<int32_t>(LoadU32(base));
  if (count < 0) return false;
  const uint64_t recordsEnd = kCountSize + static_cast<uint64_t>(count) * kRecordSize;
  if (recordsEnd > size || recordsEnd > UINT32_MAX) return false;

  // Each field is read from the section once; the texts are copied only
  // after all of them were checked.
  TextReader texts(base, size, recordsEnd);
  list.items_.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t* record = base + kCountSize + static_cast<size_t>(i) * kRecordSize;
    TJobItem job;
    job.Tag = LoadU32(record + kTagOffset);
    job.Kind = record[kKindOffset];
    job.Result = static_cast<int32_t>(LoadU32(record + kResultOffset));
    if (!texts.Place(LoadU32(record + kParam1Offset), job.Param1) ||
        !texts.Place(LoadU32(record + kParam2Offset), job.Param2)) {
      list.clear();
      return false;
    }
    list.items_.push_back(job);
  }
  list.ResizeStore(texts.storeSize());
  texts.CopyInto(list.store_.get());
  // The lengths in the store are ours, not what the section may hold by now.
  auto* store = reinterpret_cast<uint8_t*>(list.store_.get());
  for (const TJobItem& job : list.items_) {
    if (job.Param1.size) StoreU32(store + job.Param1.at - 4, job.Param1.size);
    if (job.Param2.size) StoreU32(store + job.Param2.at - 4, job.Param2.size);
  }
  return true;
}

uint64_t PackedJobListSize(const TJobList& list) {
  return kCountSize + static_cast<uint64_t>(list.size()) * kRecordSize + list.storeSize_;
}

bool WriteJobList(const TJobList& list, void* view, size_t size) {
  // Offsets are 32-bit: a list packed past 4 GiB cannot be described.
  const uint64_t packed = PackedJobListSize(list);
  if (packed > size || packed > UINT32_MAX) return false;
  auto* base = static_cast<uint8_t*>(view);
  const uint32_t textArea = static_cast<uint32_t>(kCountSize + list.size() * kRecordSize);
  StoreU32(base, static_cast<uint32_t>(list.size()));
  for (size_t i = 0; i < list.size(); ++i) {
    const TJobItem& job = list[i];
    uint8_t* record = base + kCountSize + i * kRecordSize;
    StoreU32(record + kTagOffset, job.Tag);
    record[kKindOffset] = job.Kind;
    record[kKindOffset + 1] = record[kKindOffset + 2] = record[kKindOffset + 3] = 0;
    StoreU32(record + kParam1Offset, job.Param1.size ? textArea + job.Param1.at - 4 : 0);
    StoreU32(record + kParam2Offset, job.Param2.size ? textArea + job.Param2.at - 4 : 0);
    StoreU32(record + kResultOffset, static_cast<uint32_t>(job.Result));
  }
  if (list.storeSize_) std::memcpy(base + textArea, list.store_.get(), list.storeSize_);
  return true;
}

}  // namespace zv::adm
