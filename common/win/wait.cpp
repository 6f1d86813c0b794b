#include "wait.h"

namespace zv::win {
namespace {

// Handles every message sent to this thread, and nothing posted.
void AnswerSentMessages() {
  MSG message;
  PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

DWORD WaitUntil(HANDLE object, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  const DWORD count = object ? 1 : 0;
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    const DWORD left = timeoutMs == INFINITE ? INFINITE : now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    const DWORD wait =
        MsgWaitForMultipleObjectsEx(count, object ? &object : nullptr, left, QS_SENDMESSAGE, MWMO_INPUTAVAILABLE);
    if (wait == WAIT_FAILED && !object) {
      Sleep(left);  // a pause still lasts its time
      return WAIT_TIMEOUT;
    }
    if (wait != WAIT_OBJECT_0 + count) return wait;
    AnswerSentMessages();
  }
}

}  // namespace

DWORD WaitAnsweringSentMessages(HANDLE object, DWORD timeoutMs) {
  // The common case, an object already signalled, costs what a plain wait does.
  const DWORD atOnce = WaitForSingleObject(object, 0);
  if (atOnce != WAIT_TIMEOUT || timeoutMs == 0) return atOnce;
  return WaitUntil(object, timeoutMs);
}

void PauseAnsweringSentMessages(DWORD ms) { WaitUntil(nullptr, ms); }

}  // namespace zv::win
