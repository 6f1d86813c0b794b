// The readable job-list form that zvjobs reads and prints.
#include <gtest/gtest.h>

#include "jobtext.h"

using namespace zv::jobs;

namespace {

TEST(JobText, ReadsEveryFieldWithEscapes) {
  const std::string text =
      "# a comment, then a blank line\n"
      "\n"
      "2 1 \"HKCU\\Software\\Zorvane Demo\\Greeting\" \"Hello^00\"\r\n"
      "  3\t0x10  HKCU\\S\\Count ^2A^00^00^00 -5\n"
      "8 4294967295 \"\" \"^^^22^FF\" 0x80000000\n"
      "255 0 \"\" \"\"";
  std::vector<Job> jobs;
  std::string error;
  ASSERT_TRUE(ParseJobText(text, jobs, error)) << error;
  ASSERT_EQ(jobs.size(), 4u);
  EXPECT_EQ(jobs[0].kind, 2);
  EXPECT_EQ(jobs[0].tag, 1u);
  EXPECT_EQ(jobs[0].param1, "HKCU\\Software\\Zorvane Demo\\Greeting");
  EXPECT_EQ(jobs[0].param2, std::string("Hello\0", 6));
  EXPECT_EQ(jobs[0].result, 0);
  EXPECT_EQ(jobs[1].tag, 16u);
  EXPECT_EQ(jobs[1].param1, "HKCU\\S\\Count");
  EXPECT_EQ(jobs[1].param2, std::string("\x2A\0\0\0", 4));
  EXPECT_EQ(jobs[1].result, -5);
  EXPECT_EQ(jobs[2].tag, 0xFFFFFFFFu);
  EXPECT_EQ(jobs[2].param1, "");
  EXPECT_EQ(jobs[2].param2, "^\"\xFF");
  EXPECT_EQ(jobs[2].result, INT32_MIN);
  EXPECT_EQ(jobs[3].kind, 255);
}

TEST(JobText, PrintedJobsReadBackTheSame) {
  Job job;
  job.kind = 4;
  job.tag = 0xCAFE;
  for (int b = 0; b < 256; ++b) job.param1.push_back(static_cast<char>(b));
  job.param2 = "plain text";
  job.result = -2147483647 - 1;
  std::vector<Job> jobs;
  std::string error;
  ASSERT_TRUE(ParseJobText(FormatJob(job), jobs, error)) << error;
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].param1, job.param1);
  EXPECT_EQ(jobs[0].param2, job.param2);
  EXPECT_EQ(jobs[0].tag, job.tag);
  EXPECT_EQ(jobs[0].kind, job.kind);
  EXPECT_EQ(jobs[0].result, job.result);
  EXPECT_EQ(QuoteText("a^\"\n"), "\"a^5E^22^0A\"");
}

TEST(JobText, NamesTheLineOfAMistake) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"2 1 \"a\" \"b\"\n256 0 \"\" \"\"", "line 2: kind must be a number from 0 to 255"},
      {"2 x \"a\" \"b\"", "line 1: tag must be a 32-bit number"},
      {"2 1 \"a\"", "line 1: missing text"},
      {"2 1 \"a \"b\"", "line 1: no blank after the closing quote"},
      {"2 1 \"a\" \"b", "line 1: unterminated quoted text"},
      {"2 1 a\"b \"\"", "line 1: quote inside an unquoted text (write ^22)"},
      {"2 1 \"^4\" \"\"", "line 1: ^ must be followed by two hexadecimal digits or another ^"},
      {"2 1 \"a\" \"b\" 2147483648", "line 1: result must be a signed 32-bit number"},
      {"2 1 \"a\" \"b\" 0 extra", "line 1: text after the result"},
  };
  for (const auto& c : cases) {
    std::vector<Job> jobs;
    std::string error;
    EXPECT_FALSE(ParseJobText(c.text, jobs, error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
    EXPECT_TRUE(jobs.empty());
  }
}

}  // namespace
