// The job list's byte layout: reading, writing back, and refusing sections
// that do not hold a list. Platform-free: runs natively and under Wine.
#include <gtest/gtest.h>

#include "AdmShared.h"
#include "joblayout.h"
#include "section_bytes.h"

using namespace zv::adm;
using namespace zv::test::adm;

namespace {

// A job with its texts, for building and comparing lists.
struct PlainJob {
  uint32_t tag;
  uint8_t kind;
  std::string param1;
  std::string param2;
  int32_t result;
};
using PlainList = std::vector<PlainJob>;

TJobList MakeList(const PlainList& jobs) {
  TJobList list;
  for (const PlainJob& job : jobs) list.Add(job.tag, job.kind, job.param1, job.param2, job.result);
  return list;
}

void ExpectSameJobs(const TJobList& actual, const PlainList& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < actual.size(); ++i) {
    SCOPED_TRACE("job " + std::to_string(i));
    EXPECT_EQ(actual[i].Tag, expected[i].tag);
    EXPECT_EQ(actual[i].Kind, expected[i].kind);
    EXPECT_EQ(actual.Text(actual[i].Param1), expected[i].param1);
    EXPECT_EQ(actual.Text(actual[i].Param2), expected[i].param2);
    EXPECT_EQ(actual[i].Result, expected[i].result);
  }
}

// Two jobs: texts packed in order, empty ones at offset 0.
const PlainList kTwoJobs = {{0x11223344, 2, "AB", "", -1}, {7, 200, "", std::string("xyz\0", 4), 3010}};
const Bytes kTwoJobsPacked = Cat({
    Le32(2), Record(0x11223344, 2, 44, 0, -1), Record(7, 200, 0, 50, 3010),
    Text("AB"),                     // at 44
    Text(std::string("xyz\0", 4)),  // at 50
});

TEST(JobListLayout, WritesCountRecordsAndPackedTextsByteForByte) {
  Bytes view(kTwoJobsPacked.size() + 6, 0xEE);
  const TJobList list = MakeList(kTwoJobs);
  ASSERT_TRUE(WriteJobList(list, view.data(), view.size()));
  EXPECT_EQ(Bytes(view.begin(), view.begin() + kTwoJobsPacked.size()), kTwoJobsPacked);
  EXPECT_EQ(Bytes(view.begin() + kTwoJobsPacked.size(), view.end()), Zeros(6, 0xEE)) << "wrote past the list";
  EXPECT_EQ(PackedJobListSize(list), kTwoJobsPacked.size());
}

TEST(JobListLayout, ReadsWhatTheWriterWrote) {
  TJobList list;
  ASSERT_TRUE(ReadJobList(kTwoJobsPacked.data(), kTwoJobsPacked.size(), list));
  ExpectSameJobs(list, kTwoJobs);
}

TEST(JobListLayout, SenderPackingInTheSameOrderComesBackByteIdentical) {
  std::vector<zv::jobs::Job> sent;
  for (uint32_t i = 0; i < 50; ++i) {
    zv::jobs::Job job;
    job.tag = i * 0x01010101u;
    job.kind = static_cast<uint8_t>(i * 7);
    job.param1 = i % 3 ? std::string(i, static_cast<char>(0xFF - i)) : "";
    job.param2 = i % 4 ? std::string("\0\\^\"", 4) + std::to_string(i) : "";
    job.result = static_cast<int32_t>(i) - 25;
    sent.push_back(job);
  }
  const Bytes packed = zv::jobs::PackJobList(sent);
  TJobList list;
  ASSERT_TRUE(ReadJobList(packed.data(), packed.size(), list));
  Bytes back(packed.size());
  ASSERT_TRUE(WriteJobList(list, back.data(), back.size()));
  EXPECT_EQ(back, packed);
}

TEST(JobListLayout, PaddingAndTextPlacementOfTheInputAreNotKept) {
  // Padding bytes set, Param2 stored before Param1, a gap, a zero-length
  // text at a non-zero offset.
  const Bytes input = Cat({
      Le32(2), Record(5, 3, 60, 44, 9, {0xAA, 0xBB, 0xCC}), Record(6, 4, 52, 0, 0, {1, 2, 3}),
      Text("p2"),  // at 44
      Zeros(2),
      Text(""),  // at 52
      Zeros(4),
      Text("p1!"),  // at 60
  });
  TJobList list;
  ASSERT_TRUE(ReadJobList(input.data(), input.size(), list));
  ExpectSameJobs(list, {{5, 3, "p1!", "p2", 9}, {6, 4, "", "", 0}});

  Bytes view(input.size(), 0xEE);
  ASSERT_TRUE(WriteJobList(list, view.data(), view.size()));
  const Bytes expected = Cat({
      Le32(2), Record(5, 3, 44, 51, 9), Record(6, 4, 0, 0, 0),
      Text("p1!"),  // at 44
      Text("p2"),   // at 51
  });
  EXPECT_EQ(Bytes(view.begin(), view.begin() + expected.size()), expected);
}

TEST(JobListLayout, CountZeroRewritesOnlyTheCount) {
  const Bytes input = Cat({Le32(0), Zeros(12, 0x5A)});
  TJobList list = MakeList({{1, 1, "stale", "", 0}});
  ASSERT_TRUE(ReadJobList(input.data(), input.size(), list));
  EXPECT_TRUE(list.empty());
  Bytes view = Cat({Le32(0xFFFFFFFF), Zeros(12, 0x5A)});
  ASSERT_TRUE(WriteJobList(list, view.data(), view.size()));
  EXPECT_EQ(view, input);
}

TEST(JobListLayout, JobsThatShareATextReadWhenTheWriteBackFits) {
  const Bytes input = Cat({Le32(2), Record(1, 2, 44, 44, 0), Record(2, 2, 44, 0, 0), Text("same"), Zeros(24)});
  TJobList list;
  ASSERT_TRUE(ReadJobList(input.data(), input.size(), list));
  ExpectSameJobs(list, {{1, 2, "same", "same", 0}, {2, 2, "same", "", 0}});
  EXPECT_EQ(PackedJobListSize(list), 44u + 3 * 8);
}

struct Malformed {
  const char* name;
  Bytes section;
};

class RefusedSection : public testing::TestWithParam<Malformed> {};

TEST_P(RefusedSection, ReadsNoJob) {
  const Bytes& section = GetParam().section;
  TJobList list = MakeList({{1, 1, "left over", "", 0}});
  EXPECT_FALSE(ReadJobList(section.data(), section.size(), list));
  EXPECT_TRUE(list.empty());
}

const Bytes kOneRecordHead = Le32(1);

INSTANTIATE_TEST_SUITE_P(
    JobListLayout, RefusedSection,
    testing::Values(
        Malformed{"NoRoomForTheCount", {1, 0, 0}}, Malformed{"NegativeCount", Cat({Le32(0xFFFFFFFF), Zeros(100)})},
        Malformed{"MostNegativeCount", Cat({Le32(0x80000000), Zeros(100)})},
        Malformed{"CountBeyondTheSection", Cat({Le32(2), Record(1, 8, 0, 0, 0), Zeros(19)})},
        Malformed{"HugeCount", Cat({Le32(0x7FFFFFFF), Zeros(40)})},
        Malformed{"OffsetBeyondTheSection", Cat({kOneRecordHead, Record(1, 2, 25, 0, 0)})},
        Malformed{"OffsetAtTheVeryEnd", Cat({kOneRecordHead, Record(1, 2, 24, 0, 0)})},
        Malformed{"LengthFieldCutByTheEnd", Cat({kOneRecordHead, Record(1, 2, 0, 24, 0), {3, 0}})},
        Malformed{"LengthBeyondTheSection", Cat({kOneRecordHead, Record(1, 2, 24, 0, 0), Le32(5), Str("four")})},
        Malformed{"LengthNearFourGigabytes", Cat({kOneRecordHead, Record(1, 2, 24, 0, 0), Le32(0xFFFFFFFC), Zeros(8)})},
        Malformed{"OffsetNearFourGigabytes", Cat({kOneRecordHead, Record(1, 2, 0, 0xFFFFFFFE, 0), Zeros(8)})},
        Malformed{"SecondJobBad", Cat({Le32(2), Record(1, 2, 44, 0, 0), Record(2, 2, 0, 4000, 0), Text("ok")})},
        // Each text fits, but three jobs naming one 30-byte text would need
        // 64 + 3 * 34 bytes when written back.
        Malformed{"SharedTextsTooLargeToWriteBack",
                  Cat({Le32(3), Record(1, 2, 64, 0, 0), Record(2, 2, 64, 0, 0), Record(3, 2, 64, 0, 0),
                       Text(std::string(30, 'x')), Zeros(2)})}),
    [](const testing::TestParamInfo<Malformed>& info) { return std::string(info.param.name); });

TEST(JobListLayout, WriteThatDoesNotFitWritesNothing) {
  Bytes view(kTwoJobsPacked.size() - 1, 0xEE);
  EXPECT_FALSE(WriteJobList(MakeList(kTwoJobs), view.data(), view.size()));
  EXPECT_EQ(view, Zeros(view.size(), 0xEE));
}

}  // namespace
