// The readable text form of a job list, one job a line:
//
//   KIND  TAG  PARAM1  PARAM2  [RESULT]
//
// KIND (0..255) and TAG (32-bit) are decimal or 0x-hexadecimal; RESULT is
// the incoming Result (signed decimal, or 0x-hexadecimal for the 32-bit
// pattern; 0 when left out). PARAM1 and PARAM2 are texts in double quotes,
// or single words without blanks or quotes; inside either, ^HH stands for
// the byte with hexadecimal value HH (any byte, NUL and " included) and ^^
// for a caret. "" is the empty text. Blank lines and lines starting with #
// are ignored. Example:
//
//   2  1  "HKCU\Software\Zorvane Demo\Greeting"  "Hello^00"
//   3  2  HKCU\Software\Zorvane^20Demo\Count     ^2A^00^00^00
#pragma once

#include <string>
#include <vector>

#include "joblayout.h"

namespace zv::jobs {

// Parses the whole text; on failure `error` names the line and the problem.
bool ParseJobText(const std::string& text, std::vector<Job>& jobs, std::string& error);

// A text as PARAM1/PARAM2 are written: quoted, bytes outside 0x20..0x7E and
// the characters ^ and " as ^HH.
std::string QuoteText(const std::string& bytes);

// One job as a line of the text form (without line end).
std::string FormatJob(const Job& job);

// The name of a job kind ("jkWriteRegSz", "no action", "unknown").
const char* KindName(unsigned kind);

}  // namespace zv::jobs
