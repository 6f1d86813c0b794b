// Constants of the download-manager component: the published values of URL
// Monikers and WinINet it relies on, its class identity and the names it
// shares with the portable edition of the download manager.
#pragma once

#include <windows.h>

namespace zv::watch {

// --- Class identity -----------------------------------------------------------

// {4B2AFC7F-7D72-4025-8192-4DCFB4A1BEDD}
inline constexpr GUID CLSID_TIEDownloadManager = {
    0x4B2AFC7F, 0x7D72, 0x4025, {0x81, 0x92, 0x4D, 0xCF, 0xB4, 0xA1, 0xBE, 0xDD}};
inline constexpr char kClassIdText[] = "{4B2AFC7F-7D72-4025-8192-4DCFB4A1BEDD}";
inline constexpr char kClassName[] = "ZVWATCH";
inline constexpr char kClassDescription[] = "Zorvane download monitor for IE 6.0";
inline constexpr char kThreadingModel[] = "Apartment";

// Where Internet Explorer looks up its download manager.
inline constexpr char kInternetExplorerKey[] = "Software\\Microsoft\\Internet Explorer";
inline constexpr char kDownloadUIValue[] = "DownloadUI";

// --- URL Monikers and WinINet ------------------------------------------------

// {79EAC9D8-BAFA-11CE-8C82-00AA004BA90B}
inline constexpr GUID IID_WinInetHttpInfo = {
    0x79EAC9D8, 0xBAFA, 0x11CE, {0x8C, 0x82, 0x00, 0xAA, 0x00, 0x4B, 0xA9, 0x0B}};

// The bind-context key under which the binding finds its callback.
inline constexpr wchar_t kBscbHolderKey[] = L"_BSCB_Holder_";

inline constexpr ULONG kStatusBeginDownloadData = 4;
inline constexpr ULONG kStatusCacheFileNameAvailable = 14;
inline constexpr ULONG kStatusContentDispositionAttach = 26;

inline constexpr DWORD kBindVerbPost = 1;

// What OnStartBinding tells the callback it stands in for: its binding has
// ended, successfully.
inline constexpr HRESULT kPreviousBindingStopped = 200;

inline constexpr DWORD kQueryFlagRequestHeaders = 0x80000000;
inline constexpr DWORD kQueryContentType = 1;
inline constexpr DWORD kQueryContentLength = 5;
inline constexpr DWORD kQueryDate = 9;
inline constexpr DWORD kQueryReferer = 35;
inline constexpr DWORD kQueryCookie = 44;
inline constexpr DWORD kQueryContentDisposition = 47;

// --- The portable edition of the download manager --------------------------------

inline constexpr char kSettingsSection[] = "SOFTWARE\\Quennet\\Zorvane";
inline constexpr char kManagerWindowClass[] = "TMainForm";
inline constexpr char kPortableAppPathsKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\kestrix.exe";

// --- Windows ------------------------------------------------------------------

inline constexpr char kWindowsCurrentVersionKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
inline constexpr char kShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

}  // namespace zv::watch
