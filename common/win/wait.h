// Waits on a browser's UI thread. The frame, other windows and broadcasts
// send that thread messages and stall until it answers them, so a wait
// answers sent messages while it lasts; posted messages and input stay
// queued, so that no navigation or timer re-enters the module meanwhile.
#pragma once

#include <windows.h>

namespace zv::win {

// WaitForSingleObject's results (WAIT_OBJECT_0, WAIT_ABANDONED,
// WAIT_TIMEOUT, WAIT_FAILED) within the same bound, answering sent
// messages while it waits.
DWORD WaitAnsweringSentMessages(HANDLE object, DWORD timeoutMs);

// Sleep that answers sent messages.
void PauseAnsweringSentMessages(DWORD ms);

}  // namespace zv::win
