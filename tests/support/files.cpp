#include "files.h"

#include <cstdio>

namespace zv::test {

void RemoveFile(const std::string& file) {
  SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(file.c_str());
}

std::vector<WIN32_FIND_DATAA> EntriesMatching(const std::string& pattern) {
  std::vector<WIN32_FIND_DATAA> entries;
  WIN32_FIND_DATAA found;
  const win::UniqueFind search(FindFirstFileA(pattern.c_str(), &found));
  for (BOOL more = bool(search); more; more = FindNextFileA(search.get(), &found)) {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") entries.push_back(found);
  }
  return entries;
}

void RemoveTree(const std::string& path) {
  for (const WIN32_FIND_DATAA& found : EntriesMatching(path + "\\*")) {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      RemoveTree(path + "\\" + found.cFileName);
    else
      RemoveFile(path + "\\" + found.cFileName);
  }
  RemoveDirectoryA(path.c_str());
}

void CreateFolders(const std::string& folder) {
  // From the first separator after the drive ("C:\").
  for (size_t at = folder.find('\\', 3); at != std::string::npos; at = folder.find('\\', at + 1))
    CreateDirectoryA(folder.substr(0, at).c_str(), nullptr);
  CreateDirectoryA(folder.c_str(), nullptr);
}

ScratchDir::ScratchDir() {
  static LONG counter = 0;
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  char name[MAX_PATH + 64];
  std::snprintf(name, sizeof(name), "%szvtest-%lu-%ld", temp, GetCurrentProcessId(), InterlockedIncrement(&counter));
  path_ = name;
  CreateDirectoryA(path_.c_str(), nullptr);
}

ScratchDir::~ScratchDir() { RemoveTree(path_); }

OwnedFolder::OwnedFolder(std::string path) : path_(std::move(path)) { CreateFolders(path_); }
OwnedFolder::~OwnedFolder() { RemoveTree(path_); }

void WriteBytes(const std::string& path, const std::string& bytes) {
  win::UniqueFile file(
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  DWORD written = 0;
  WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::optional<std::string> ReadBytes(const std::string& path) {
  win::UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  std::string bytes;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) bytes.append(buffer, read);
  return bytes;
}

void WriteSizedFile(const std::string& path, long long size) {
  const win::UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  LARGE_INTEGER end;
  end.QuadPart = size;
  if (file && SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN)) SetEndOfFile(file.get());
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

HeldFile::HeldFile(const std::string& path, DWORD share)
    : file_(CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}

}  // namespace zv::test
