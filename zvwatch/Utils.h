// Helpers of the download-manager component: settings file, registry,
// Base64, folders and files, and the file-name helpers of the bind-status
// callback. They return empty text or false on failure instead of raising.
//
// The text helpers need no Windows API and also build natively; the rest is
// declared for Windows builds only.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "handoff/file_details.h"
#include "win/text.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace zv::watch {

// ANSI text, as the download manager reads it.
using AnsiString = std::string;

// --- File-name helpers ---------------------------------------------------

// 1-based position of the last occurrence of `sub` in `text`, 0 when none.
int LastPos(const AnsiString& sub, const AnsiString& text);
// The characters after the last ":", "\" or "/".
AnsiString NameAfterLastSeparator(const AnsiString& text);
// Whether the first "%" is followed by two hexadecimal digits.
bool HasPercentEscape(const AnsiString& text);
// Decodes %XX escapes (except %00), drops CR and LF, trims codes 0 to 32.
AnsiString UrlDecodeName(const AnsiString& text);
// True for text with bytes of 0x80 and up that is well-formed UTF-8 throughout.
bool IsNonAsciiUtf8(const AnsiString& text);
// UTF-8 to the system's ANSI code page, without best fit; a character the
// code page lacks becomes "_" (this is a file name).
AnsiString ConvertUtf8ToAnsi(const AnsiString& text);
// The same, absent when the code page lacks a character.
std::optional<AnsiString> ConvertUtf8ToAnsiExactly(const AnsiString& text);
// Removes one pair of equal enclosing punctuation characters (quotes).
AnsiString StripEnclosingQuotes(const AnsiString& text);

// Case-insensitive equality in the user's locale (ASCII natively).
bool SameTextIgnoringCase(const AnsiString& a, const AnsiString& b);

// --- Base64 (standard alphabet, "=" padding, no line breaks) ---------------

using zv::handoff::Base64Encode;
// Empty unless the length is a multiple of 4; foreign characters count as 0.
std::string Base64Decode(const AnsiString& text);

// --- Paths ------------------------------------------------------------------

// Up to and including the last ":" or "\"; empty when neither occurs.
AnsiString FolderOfPath(const AnsiString& path);
AnsiString IncludeTrailingBackslash(const AnsiString& text);
// A to Z turned into a to z; nothing else changes.
AnsiString LowerAsciiLetters(AnsiString text);
// Whether `text` begins with `prefix`. An empty prefix matches nothing: a
// folder whose short form is unknown must not count as every folder.
bool BeginsWithPrefix(const AnsiString& text, const AnsiString& prefix);

// Where the settings file lies for a module in `moduleFolder`:
// under the program-files folder (long or short form, case of A to Z
// ignored) the per-user application-data folder + "Quennet\Kestrix\",
// anywhere else the module folder + "DATA\"; then "Settings.dat".
// `appDataFolder` is asked only for the installed layout.
AnsiString SettingsFileNameFor(const AnsiString& moduleFolder, const AnsiString& programFilesFolder,
                               const AnsiString& programFilesShortForm,
                               const std::function<AnsiString()>& appDataFolder);

// --- Settings file reading --------------------------------------------------

// Reads a text through `read(buffer, size)` (which answers the length it
// copied, as GetPrivateProfileStringA does), growing the buffer by 256 bytes
// while the answer fills it, so that no value is cut at any length.
AnsiString ReadGrowingText(const std::function<unsigned long(char* buffer, unsigned long size)>& read);

#ifdef _WIN32

// Full path of the settings file, computed once on first use by
// CurrentSettingsFileName (a value set before that is kept), read-only
// afterwards.
extern AnsiString SettingsFileName;
// Computes SettingsFileName for the module `instance`.
AnsiString ComputeSettingsFileName(HINSTANCE instance);
// SettingsFileName, computed on the first call of any thread for the module
// this code is linked into; not at load, where registry, files and shell
// folders under the loader lock can stall or deadlock the browser.
const AnsiString& CurrentSettingsFileName();

// A key of section "SOFTWARE\Quennet\Zorvane" of SettingsFileName.
AnsiString ReadIniSetting(const AnsiString& key);

// Registry text values; the empty value name is the key's default value.
AnsiString ReadRegString(HKEY root, const AnsiString& subkey, const AnsiString& valueName);
bool WriteRegString(HKEY root, const AnsiString& subkey, const AnsiString& valueName, const AnsiString& text);
bool DeleteRegValue(HKEY root, const AnsiString& subkey, const AnsiString& valueName);

// The program-files folder with a trailing "\".
AnsiString ProgramFilesFolder();
// The short (8.3) form of `folder`; empty when it cannot be obtained.
AnsiString ShortFormOf(const AnsiString& folder);
// The application-data folder of the user of `root`.
AnsiString AppDataFolder(HKEY root);

bool FolderExists(const AnsiString& path);
bool FileFound(const AnsiString& path);

// UTF-16 to the ANSI code page, without best fit; empty for null. A
// character the code page lacks is written as `rule` says (a file name's
// "_" unless told otherwise).
AnsiString WideToAnsi(const wchar_t* text, zv::win::Unholdable rule = zv::win::Unholdable::kUnderscore);

#endif

}  // namespace zv::watch
