// Kinds 18, 19 and 21.
#include "BrowserJobs.h"

#include <tlhelp32.h>

#include <iterator>
#include <utility>
#include <vector>

#include "AdmText.h"
#include "AdmUtils.h"
#include "FileJobText.h"
#include "IAProcs.h"
#include "UserHives.h"
#include "win/unique_handles.h"

namespace zvadm {
namespace {

using zv::win::UniqueFile;
using zv::win::UniqueHandle;
using zv::win::UniqueHkey;

constexpr char kHelperObjectsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\explorer\\Browser Helper Objects";
constexpr const char* kNameSpaceHandlerKeys[] = {
    "PROTOCOLS\\Name-Space Handler\\http",
    "PROTOCOLS\\Name-Space Handler\\https",
    "PROTOCOLS\\Name-Space Handler\\ftp",
};

struct TIntegrationModule {
  const char* progId;  // registered when its default value exists
  const char* file;
};
// Indexed by integration method.
constexpr TIntegrationModule kIntegrationModules[] = {
    {"zvwatch.ZVWATCH", "ZVWATCH.DLL"},
    {"zvhandler.HTTPPlugProt", "ZVHANDLER.DLL"},
    {"ZVHelper.IECatcher", "ZVHELPER.DLL"},
};

constexpr char kLowRightsRoot[] = "HKLM\\SOFTWARE\\Microsoft\\Internet Explorer\\Low Rights\\";
constexpr const char* kLowRightsPolicies[] = {
    "ElevationPolicy\\{8799EC95-32D9-4584-9832-9F3DD5D9B3C8}",
    "DragDrop\\{1139B902-8993-494F-83DB-681D9519C2DC}",
};
// Internet Explorer's broker process: it reads the policies only when it starts.
constexpr char kBrokerProcess[] = "ieuser.exe";

// A key's values and subkeys, so that a key can be deleted and made again
// as it was.
struct TKeyContents {
  struct TValue {
    std::string name;
    DWORD type = REG_NONE;
    std::string data;
  };
  std::vector<TValue> values;
  std::vector<std::pair<std::string, TKeyContents>> subkeys;
};

void ReadKeyContents(HKEY key, TKeyContents& contents) {
  DWORD longestName = 0, longestData = 0, longestSubkey = 0;
  if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, &longestSubkey, nullptr, nullptr, &longestName,
                       &longestData, nullptr, nullptr) != ERROR_SUCCESS)
    return;
  std::vector<char> name(longestName + 1);
  std::vector<BYTE> data(longestData + 1);
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = static_cast<DWORD>(name.size()), dataSize = static_cast<DWORD>(data.size()), type = 0;
    if (RegEnumValueA(key, index, name.data(), &nameLength, nullptr, &type, data.data(), &dataSize) != ERROR_SUCCESS)
      break;
    contents.values.push_back({std::string(name.data(), nameLength), type,
                               std::string(reinterpret_cast<const char*>(data.data()), dataSize)});
  }
  std::vector<char> subkey(longestSubkey + 1);
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(subkey.size());
    if (RegEnumKeyExA(key, index, subkey.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    UniqueHkey opened;
    contents.subkeys.emplace_back(std::string(subkey.data(), length), TKeyContents());
    if (RegOpenKeyExA(key, subkey.data(), 0, KEY_READ, opened.put()) == ERROR_SUCCESS)
      ReadKeyContents(opened.get(), contents.subkeys.back().second);
  }
}

void WriteKeyContents(HKEY key, const TKeyContents& contents) {
  for (const TKeyContents::TValue& value : contents.values)
    RegSetValueExA(key, value.name.c_str(), 0, value.type, reinterpret_cast<const BYTE*>(value.data.data()),
                   static_cast<DWORD>(value.data.size()));
  for (const auto& [name, subkeyContents] : contents.subkeys) {
    UniqueHkey subkey;
    if (RegCreateKeyExA(key, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, subkey.put(),
                        nullptr) == ERROR_SUCCESS)
      WriteKeyContents(subkey.get(), subkeyContents);
  }
}

// Creates a helper object's key with an empty default value, then puts
// back what it held before the rebuild.
LONG CreateHelperObjectKey(const std::string& name, const TKeyContents& contents) {
  UniqueHkey key;
  LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, (std::string(kHelperObjectsKey) + "\\" + name).c_str(), 0,
                                nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, key.put(), nullptr);
  if (status != ERROR_SUCCESS) return status;
  status = RegSetValueExA(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
  WriteKeyContents(key.get(), contents);
  return status;
}

DWORD CountSubkeys(HKEY root, const char* path) {
  UniqueHkey key;
  DWORD count = 0;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, key.put()) != ERROR_SUCCESS ||
      RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr) != ERROR_SUCCESS)
    return 0;
  return count;
}

LONG WriteLowRightsPolicy(const std::string& key, const std::string& target) {
  if (LONG status = WriteRegPathValue(key + "AppName", REG_SZ, ExtractFileName(target))) return status;
  // The folder without its separator; a drive stays "C:".
  if (LONG status = WriteRegPathValue(key + "AppPath", REG_SZ, WithoutTrailingBackslash(FolderOf(target))))
    return status;
  return WriteRegPathValue(key + "Policy", REG_DWORD, std::string("\x03\0\0\0", 4));
}

void EndBrokerProcess() {
  // A failed snapshot is INVALID_HANDLE_VALUE, as with files.
  UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return;
  // Another session's broker belongs to another user's browser.
  const DWORD session = OwnSessionId();
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry)) {
    if (!SameText(ExtractFileName(entry.szExeFile), kBrokerProcess) ||
        !IsProcessOfSession(entry.th32ProcessID, session))
      continue;
    UniqueHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID));
    if (process) TerminateProcess(process.get(), 0);
    return;
  }
}

// Offers to remove every name-space handler and helper object, whoever
// registered them: another program's handler would see our downloads first.
void OfferToRemoveOtherHandlers(const std::string& caption, const std::string& question) {
  if (CountSubkeys(HKEY_CLASSES_ROOT, kNameSpaceHandlerKeys[0]) == 0 &&
      CountSubkeys(HKEY_LOCAL_MACHINE, kHelperObjectsKey) == 0)
    return;
  if (MessageBoxA(nullptr, question.c_str(), caption.c_str(), MB_ICONQUESTION | MB_YESNO) != IDYES) return;
  for (const char* key : kNameSpaceHandlerKeys) DeleteKeyTree(HKEY_CLASSES_ROOT, key, true);
  DeleteKeyTree(HKEY_LOCAL_MACHINE, kHelperObjectsKey, true);
}

}  // namespace

int32_t JobPutHelperObjectFirst(const TJobArgs& job, const THelperState&) {
  UniqueHkey list;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kHelperObjectsKey, 0, KEY_READ, list.put()) != ERROR_SUCCESS)
    return ERROR_SUCCESS;
  // A key comes first in the list when it is created first: every key is
  // deleted and made again, the named one before the others.
  TKeyContents first;
  std::vector<std::pair<std::string, TKeyContents>> others;
  DWORD index = 0;
  for (;;) {
    char name[256];
    DWORD length = sizeof(name);
    if (RegEnumKeyExA(list.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    TKeyContents contents;
    UniqueHkey entry;
    if (RegOpenKeyExA(list.get(), name, 0, KEY_READ, entry.put()) == ERROR_SUCCESS)
      ReadKeyContents(entry.get(), contents);
    entry.reset();
    if (job.Param1 == name)
      first = std::move(contents);
    else
      others.emplace_back(name, std::move(contents));
    // A deleted key shifts the later ones down.
    if (DeleteKeyTree(HKEY_LOCAL_MACHINE, std::string(kHelperObjectsKey) + "\\" + name, true) != ERROR_SUCCESS)
      ++index;
  }
  list.reset();
  const LONG result = CreateHelperObjectKey(job.Param1, first);
  for (const auto& [name, contents] : others) CreateHelperObjectKey(name, contents);
  return result;
}

int32_t JobAllowLowRightsLaunch(const TJobArgs& job, const THelperState&) {
  std::string target =
      ReadRegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + job.Param1, "");
  if (target.empty()) target = job.Param1;
  LONG results[2] = {};
  for (size_t i = 0; i < 2; ++i)
    results[i] = WriteLowRightsPolicy(std::string(kLowRightsRoot) + kLowRightsPolicies[i] + "\\", target);
  EndBrokerProcess();
  return results[0] == ERROR_SUCCESS ? 0 : results[0] | results[1];
}

int32_t JobSetIntegrationMethod(const TJobArgs& job, const THelperState&) {
  const TSetupText setup(job.Param1);
  OfferToRemoveOtherHandlers(setup.Value("Caption"), job.Param2);
  const int32_t method = setup.Number("IntegrationMethod");
  if (method < 0 || method >= static_cast<int32_t>(std::size(kIntegrationModules))) return ERROR_SUCCESS;
  const TIntegrationModule& module = kIntegrationModules[method];
  if (!ReadRegString(HKEY_CLASSES_ROOT, module.progId, "").empty()) return ERROR_SUCCESS;
  std::string folder = setup.Value("Path");
  if (folder.empty()) folder = HelperFolder();
  return CallExport(IncludeTrailingBackslash(folder) + module.file, "DllRegisterServer");
}

}  // namespace zvadm
