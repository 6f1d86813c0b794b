// The host's hand-off: the core's lock, window lookup, foreground rules and
// message, with the download manager started outside the browser's job and
// every step bounded by the time the extension still waits for the reply.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "handoff/capture_filter.h"
#include "web_download.h"

namespace zv::bridge {

// How long the extension waits after a "pending" reply (20 s), less the
// reply's way back.
inline constexpr DWORD kPendingBudgetMs = 18000;
// What a reply needs after the send: a send that would end later is not begun.
inline constexpr DWORD kReplyReserveMs = 500;

struct BridgeOutcome {
  BridgeStatus status = BridgeStatus::kExpired;
  LRESULT reply = 0;
};

// Starts the download manager as a process of its own: outside the
// browser's job (so that it outlives the browser), inheriting none of the
// host's handles (the browser's pipes stay with the host). A job that
// refuses the breakaway gets a plain start.
bool StartManagerDetached(const std::string& programPath);

// Hands `text` over within `budgetMs`. When the download manager's window
// is missing, `notePending` is called once (the host then tells the
// extension to wait longer) and the budget becomes kPendingBudgetMs.
BridgeOutcome HandOffWithin(DWORD budgetMs, const std::string& text, zv::handoff::SettingsSource& settings,
                            const std::function<void()>& notePending);

}  // namespace zv::bridge
