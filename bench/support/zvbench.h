// Benchmark support: medians of timed runs, and markers that delimit a
// section in Wine's +server trace so that its wineserver round trips can be
// counted exactly (count_round_trips.sh).
#pragma once

#include <windows.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <utility>

namespace zvbench {

// Median over `samples` of the mean time of `iterations` calls, in microseconds.
double MedianMicros(int samples, int iterations, const std::function<void()>& fn);

// Marks the start and the end of a counted section on the calling thread.
// Each mark is one named-object lookup that the counter recognises and skips.
void MarkBegin(const char* label);
void MarkEnd(const char* label);

// Runs fn once between the two marks.
void CountedSection(const char* label, const std::function<void()>& fn);

// "B1  what  ours 12.3 us  floor 10.0 us  ratio 1.23"
void PrintTimes(const char* id, const char* what, double oursMicros, double floorMicros);

// Replaces the download manager's settings key with exactly these values.
void ResetManagerSettings(std::initializer_list<std::pair<const char*, const char*>> values);

// Starts the stand-in download manager with this caption (and any further
// options) and waits for its window; the process handle, or null.
HANDLE StartStandIn(const std::string& program, const std::string& caption, const std::string& options = "--log=-");

// What any capture decision must do against the registry: one keyboard-
// state read, one open of the settings key, one read per value, one close.
void DecisionFloor(std::initializer_list<const char*> values);

// The lookup of the download manager's window by its caption and the
// bounded send of WM_COPYDATA that every hand-off makes.
void LookupAndSend(const char* caption, const std::string& text);

// What any hand-off to a running download manager must do around its
// lookup and send: take the hand-off lock (create, wait), read the
// settings a hand-off consults through one open key, run `lookupAndSend`,
// give the lock back (release, close).
void HandoffFloor(const std::function<void()>& lookupAndSend);

// The binding a download component makes, without the component: a URL
// moniker, a bind context, a callback that takes whatever the binding
// offers and changes nothing, BindToObject for a stream.
void BareBinding(const wchar_t* url);

// Loads a COM server by path and creates `clsid` through its exported
// DllGetClassObject, as a browser would; false when any step fails.
bool CreateFromModule(const char* modulePath, REFCLSID clsid, REFIID iid, void** object);

// The value of "--name=value" among the arguments, or null.
const char* Option(int argc, char** argv, const char* nameWithEquals);

// True when the program was started with --count (one pass, for counting).
bool CountMode(int argc, char** argv);

}  // namespace zvbench
