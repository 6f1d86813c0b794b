// Files and folders as the tests make, read and remove them.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "win/unique_handles.h"

namespace zv::test {

// Deletes a folder with everything in it, read-only files included (absent
// is fine).
void RemoveTree(const std::string& path);
// Every file and folder that `pattern` ("X:\\folder\\*.bat") matches,
// without "." and "..".
std::vector<WIN32_FIND_DATAA> EntriesMatching(const std::string& pattern);
// Creates a folder and its missing parents.
void CreateFolders(const std::string& folder);
// Deletes a file, read-only or not.
void RemoveFile(const std::string& file);

// A fresh folder under the Wine temp folder, removed on destruction.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

// A folder made for the test (with its missing parents) and removed with
// everything in it afterwards.
class OwnedFolder {
 public:
  explicit OwnedFolder(std::string path);
  ~OwnedFolder();
  OwnedFolder(const OwnedFolder&) = delete;
  OwnedFolder& operator=(const OwnedFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Files as a peer sees them.
void WriteBytes(const std::string& path, const std::string& bytes);
std::optional<std::string> ReadBytes(const std::string& path);
bool Exists(const std::string& path);
// A file of `size` bytes that takes no room: its end is only set.
void WriteSizedFile(const std::string& path, long long size);

// A file kept open by this process with the given sharing.
class HeldFile {
 public:
  HeldFile(const std::string& path, DWORD share);
  bool held() const { return static_cast<bool>(file_); }
  void Release() { file_.reset(); }

 private:
  win::UniqueFile file_;
};

}  // namespace zv::test
