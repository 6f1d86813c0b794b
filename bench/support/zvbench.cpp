#include "zvbench.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace zvbench {
namespace {

void Mark(const char* kind, const char* label) {
  const std::string name = std::string("ZVBENCH-") + kind + "-" + label;
  HANDLE h = OpenEventA(EVENT_MODIFY_STATE, FALSE, name.c_str());  // never exists
  if (h) CloseHandle(h);
}

}  // namespace

double MedianMicros(int samples, int iterations, const std::function<void()>& fn) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  fn();  // warm-up
  std::vector<double> times;
  for (int s = 0; s < samples; ++s) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < iterations; ++i) fn();
    QueryPerformanceCounter(&end);
    times.push_back(1e6 * static_cast<double>(end.QuadPart - start.QuadPart) /
                    static_cast<double>(frequency.QuadPart) / iterations);
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

void MarkBegin(const char* label) { Mark("BEGIN", label); }
void MarkEnd(const char* label) { Mark("END", label); }

void CountedSection(const char* label, const std::function<void()>& fn) {
  MarkBegin(label);
  fn();
  MarkEnd(label);
}

void PrintTimes(const char* id, const char* what, double oursMicros, double floorMicros) {
  std::printf("%-4s %-52s ours %9.1f us  floor %9.1f us  ratio %5.2f\n", id, what, oursMicros, floorMicros,
              floorMicros > 0 ? oursMicros / floorMicros : 0.0);
  std::fflush(stdout);
}

bool CountMode(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--count") == 0) return true;
  return false;
}

}  // namespace zvbench
