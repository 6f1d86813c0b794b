// The texts and names the file jobs make: the restart rename entries of
// "wininit.ini", the self-removal batch, the fields of an initialisation
// file entry and the folder names of the folder jobs. Platform-free.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zv::adm {

// A restart rename whose target is empty or begins with "nul" (any case)
// deletes its source.
bool IsDeleteTarget(std::string_view target);

// "wininit.ini" with `entry` ("TARGET=SOURCE") added: every line is copied
// with CR LF after it, and the entry follows every line that reads
// "[RENAME]" in upper case. Without such a line "[RENAME]" and the entry
// are appended. Lines end at CR, LF or CR LF.
std::string AddRenameEntry(std::string_view iniText, std::string_view entry);

// The seven lines, separated by CR LF, of the batch that deletes `helper`
// once it has ended, runs `extraCommand`, then deletes itself (`batch`).
std::string SelfRemovalBatch(const std::string& helper, const std::string& extraCommand, const std::string& batch);

// The batch of the NT family, which waits a bounded time: like the one
// above, but it pauses about a second between two tries ("ping" from
// `systemFolder`, to loopback), gives up after `tries` of them, and removes
// its own folder `batchFolder` after itself (leaving it as current folder
// first). Every path is written with its
// "%" doubled, so that none of its text is read as a variable.
std::string BoundedSelfRemovalBatch(const std::string& helper, const std::string& helperFolder,
                                    const std::string& batch, const std::string& batchFolder,
                                    const std::string& systemFolder, int tries);

// "%" doubled: the batch text of a path, read back by cmd as the path.
std::string BatchPathText(const std::string& path);

// The command line that runs the batch `batchName` of the current folder
// with the system's own command interpreter and no AutoRun commands.
std::string BatchCommandLine(const std::string& commandInterpreter, const std::string& batchName);

// `path` with the extension of its last name replaced by ".BAT" (added
// when it has none).
std::string BatchFileName(const std::string& path);

// The folder part of `path` up to and including its last "\" or ":";
// empty when it has none.
std::string FolderOf(const std::string& path);

// `name` without one trailing "\".
std::string WithoutTrailingBackslash(const std::string& name);

// The text before the last "\" of `name` (empty when there is none).
std::string ParentFolder(const std::string& name);

// The four TAB-separated fields of an initialisation file entry; a missing
// or empty field is empty (absent). The value keeps any further TABs.
struct TIniEntry {
  std::string file;
  std::string section;
  std::string key;
  std::string value;
};
TIniEntry SplitIniEntry(std::string_view text);

}  // namespace zv::adm
