#include "debug_output.h"

#include <windows.h>

#include <mutex>

namespace zv::test {
namespace {

constexpr DWORD kDebugPrint = 0x40010006;  // DBG_PRINTEXCEPTION_C

std::mutex g_mutex;
std::vector<std::string> g_lines;

LONG CALLBACK OnException(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  if (record->ExceptionCode != kDebugPrint || record->NumberParameters < 2) return EXCEPTION_CONTINUE_SEARCH;
  const size_t size = static_cast<size_t>(record->ExceptionInformation[0]);  // with its NUL
  const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
  if (text && size > 0) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_lines.emplace_back(text, strnlen(text, size));
  }
  return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

DebugOutputCapture::DebugOutputCapture() : handler_(AddVectoredExceptionHandler(1, OnException)) { Clear(); }

DebugOutputCapture::~DebugOutputCapture() { RemoveVectoredExceptionHandler(handler_); }

std::vector<std::string> DebugOutputCapture::Lines() const {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_lines;
}

void DebugOutputCapture::Clear() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_lines.clear();
}

}  // namespace zv::test
