// Internet Explorer's pluggable download manager for the portable edition:
// the steps of each download Internet Explorer would save itself, and the
// delivery of the command text to the download manager's window. The
// classes are TIEDownloadManager (the browser's entry) and
// TBindStatusCallBack (the file details from the binding).
#pragma once

#include <windows.h>
#include <urlmon.h>

#include "BindStatusCallBack.h"
#include "DMRules.h"
#include "Utils.h"

namespace zv::watch {

// Whether exactly the combination of setting "KeysToAdd" or "KeysToIgnore"
// is held on the calling thread.
bool IsKeyComboHeld(const char* settingName);

// The download manager's main window; starts the portable edition through
// its App Paths entry when the window is missing. Null when there is none.
HWND FindManagerWindowOrStart();

// Look-ups of the window after the started download manager became idle,
// besides the first, 100 ms apart: the same 30 s as the input-idle wait.
inline constexpr int kManagerPollLookups = 300;

// How the callback is registered in the bind context: URL Monikers'
// RegisterBindStatusCallback, or a host's own with the same contract.
using TRegisterCallback = HRESULT(STDAPICALLTYPE*)(IBindCtx* pbc, IBindStatusCallback* pbsc,
                                                   IBindStatusCallback** previous, DWORD reserved);

// The steps of IDownloadManager::Download: S_OK when the command text was
// sent, E_NOTIMPL when the browser is to download the file itself.
HRESULT Download(IMoniker* pmk, IBindCtx* pbc, DWORD dwBindVerb, const BINDINFO* pBindInfo,
                 TRegisterCallback registerCallback = &RegisterBindStatusCallback);

}  // namespace zv::watch
