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
#include "win/registry.h"
#include "win/text.h"
#include "win/unique_handles.h"

namespace zv::adm {
namespace {

using zv::win::UniqueFile;
using zv::win::UniqueHandle;
using zv::win::UniqueHkey;

constexpr char kHelperObjectsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\explorer\\Browser Helper Objects";
// A key name the code page cannot hold keeps "?" for the character it lacks,
// never a look-alike that could name another key.
std::string NarrowName(const std::wstring& name) { return zv::win::ToAnsi(name, zv::win::Unholdable::kQuestionMark); }

std::wstring WideHelperObjectsKey() {
  return L"Software\\Microsoft\\Windows\\CurrentVersion\\explorer\\Browser Helper Objects";
}
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

// A key's values, subkeys and permissions, so that a key can be deleted
// and made again exactly as it was (wide names: an ANSI copy would lose
// what the code page cannot hold).
struct TKeyContents {
  struct TValue {
    std::wstring name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
  };
  std::vector<TValue> values;
  std::vector<std::pair<std::wstring, TKeyContents>> subkeys;
  std::vector<BYTE> security;  // its discretionary access list, self-relative
};

// The deepest a copied tree may go; a deeper one is not copied (and so not deleted).
constexpr int kDeepestCopy = 512;

bool ReadKeySecurity(HKEY key, std::vector<BYTE>& security) {
  DWORD size = 0;
  LONG status = RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
  if (status != ERROR_INSUFFICIENT_BUFFER) return status == ERROR_SUCCESS;
  security.resize(size);
  return RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, security.data(), &size) == ERROR_SUCCESS;
}

bool ReadKeyContents(HKEY key, TKeyContents& contents, int depth = 0) {
  if (depth > kDeepestCopy || !ReadKeySecurity(key, contents.security)) return false;
  std::vector<wchar_t> name(256);
  std::vector<BYTE> data(1024);
  for (DWORD index = 0;;) {
    DWORD nameLength = static_cast<DWORD>(name.size()), dataSize = static_cast<DWORD>(data.size()), type = 0;
    const LONG status = RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type, data.data(), &dataSize);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status == ERROR_MORE_DATA) {
      // Either buffer may be the short one: both grow, up to the registry's limits.
      if (name.size() > 0x8000 && data.size() > (1u << 30)) return false;
      if (name.size() <= 0x8000) name.resize(name.size() * 2);
      if (dataSize > data.size())
        data.resize(dataSize);
      else
        data.resize(data.size() * 2);
      continue;
    }
    if (status != ERROR_SUCCESS) return false;
    contents.values.push_back(
        {std::wstring(name.data(), nameLength), type, std::vector<BYTE>(data.begin(), data.begin() + dataSize)});
    ++index;
  }
  for (DWORD index = 0;;) {
    DWORD length = static_cast<DWORD>(name.size());
    const LONG status = RegEnumKeyExW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status == ERROR_MORE_DATA && name.size() <= 0x8000) {
      name.resize(name.size() * 2);
      continue;
    }
    if (status != ERROR_SUCCESS) return false;
    UniqueHkey opened;
    contents.subkeys.emplace_back(std::wstring(name.data(), length), TKeyContents());
    if (RegOpenKeyExW(key, contents.subkeys.back().first.c_str(), REG_OPTION_OPEN_LINK, KEY_READ | READ_CONTROL,
                      opened.put()) != ERROR_SUCCESS ||
        IsLinkKey(opened.get()) || !ReadKeyContents(opened.get(), contents.subkeys.back().second, depth + 1))
      return false;
    ++index;
  }
  return true;
}

void WriteKeyContents(HKEY key, const TKeyContents& contents) {
  for (const TKeyContents::TValue& value : contents.values)
    RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(), static_cast<DWORD>(value.data.size()));
  for (const auto& [name, subkeyContents] : contents.subkeys) {
    UniqueHkey subkey;
    if (RegCreateKeyExW(key, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE | WRITE_DAC, nullptr,
                        subkey.put(), nullptr) == ERROR_SUCCESS)
      WriteKeyContents(subkey.get(), subkeyContents);
  }
  // Last: the copied permissions may not let us write into the key.
  if (!contents.security.empty())
    RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, const_cast<BYTE*>(contents.security.data()));
}

// Creates a helper object's key, then puts back what it held before the
// rebuild. The named object's key gets an empty default value first (its
// creation's result is the job's); the others come back exactly as they were.
LONG CreateHelperObjectKey(const std::wstring& name, const TKeyContents& contents, bool first, REGSAM view) {
  UniqueHkey key;
  LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, (WideHelperObjectsKey() + L"\\" + name).c_str(), 0, nullptr,
                                REG_OPTION_NON_VOLATILE, KEY_WRITE | WRITE_DAC | view, nullptr, key.put(), nullptr);
  if (status != ERROR_SUCCESS) return status;
  if (first) status = RegSetValueExA(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
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

LONG WriteLowRightsPolicy(const std::string& key, const std::string& target, REGSAM view) {
  if (LONG status = WriteRegPathValue(key + "AppName", REG_SZ, ExtractFileName(target), view)) return status;
  // The folder without its separator; a drive stays "C:".
  if (LONG status = WriteRegPathValue(key + "AppPath", REG_SZ, WithoutTrailingBackslash(FolderOf(target)), view))
    return status;
  return WriteRegPathValue(key + "Policy", REG_DWORD, std::string("\x03\0\0\0", 4), view);
}

// The machine's browser entries go to every registry view: on 64-bit
// Windows the 32-bit and the 64-bit Internet Explorer each read their own.
// The helper's own view comes first; its result is the job's, unless only
// the other view failed.
template <typename Write>
LONG InEveryView(const Write& write) {
  const REGSAM own = sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
  const zv::win::RegistryViews views = zv::win::MachineViews();
  if (views.count < 2) return write(REGSAM{0});
  const LONG first = write(own);
  LONG other = ERROR_SUCCESS;
  for (const REGSAM view : views)
    if (view != own) other = write(view);
  return first != ERROR_SUCCESS ? first : other;
}

// Whether the ProgID names a class whose server this build's registry view
// holds: on 64-bit Windows both builds share the ProgIDs, not the classes.
bool IsRegisteredInThisView(const char* progId) {
  const std::string clsid = ReadRegString(HKEY_CLASSES_ROOT, std::string(progId) + "\\CLSID", "");
  if (clsid.empty()) return false;
  UniqueHkey server;
  return RegOpenKeyExA(HKEY_CLASSES_ROOT, ("CLSID\\" + clsid + "\\InprocServer32").c_str(), 0, KEY_READ,
                       server.put()) == ERROR_SUCCESS;
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

LONG PutHelperObjectFirstInView(const std::string& firstObject, REGSAM view) {
  UniqueHkey list;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kHelperObjectsKey, 0, KEY_READ | view, list.put()) != ERROR_SUCCESS)
    return ERROR_SUCCESS;
  // A key comes first in the list when it is created first: every key is
  // deleted and made again, the named one before the others. A key that
  // cannot be copied whole is left where it is.
  const std::wstring firstName = zv::win::WideFromAnsi(firstObject);
  TKeyContents first;
  std::vector<std::pair<std::wstring, TKeyContents>> others;
  std::vector<wchar_t> name(256);
  DWORD index = 0;
  for (;;) {
    DWORD length = static_cast<DWORD>(name.size());
    const LONG status = RegEnumKeyExW(list.get(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_MORE_DATA && name.size() <= 0x8000) {
      name.resize(name.size() * 2);
      continue;
    }
    if (status != ERROR_SUCCESS) break;
    const std::wstring subkey(name.data(), length);
    TKeyContents contents;
    UniqueHkey entry;
    const bool copied = RegOpenKeyExW(list.get(), subkey.c_str(), REG_OPTION_OPEN_LINK, KEY_READ | READ_CONTROL,
                                      entry.put()) == ERROR_SUCCESS &&
                        !IsLinkKey(entry.get()) && ReadKeyContents(entry.get(), contents);
    entry.reset();
    // A deleted key shifts the later ones down.
    if (!copied || DeleteKeyTree(HKEY_LOCAL_MACHINE, std::string(kHelperObjectsKey) + "\\" + NarrowName(subkey), true,
                                 nullptr, view) != ERROR_SUCCESS) {
      ++index;
      continue;
    }
    if (subkey == firstName)
      first = std::move(contents);
    else
      others.emplace_back(subkey, std::move(contents));
  }
  list.reset();
  const LONG result = CreateHelperObjectKey(firstName, first, true, view);
  for (const auto& [subkey, contents] : others) CreateHelperObjectKey(subkey, contents, false, view);
  return result;
}

}  // namespace

int32_t JobPutHelperObjectFirst(const TJobArgs& job, const THelperState&) {
  return InEveryView([&](REGSAM view) { return PutHelperObjectFirstInView(job.Param1, view); });
}

int32_t JobAllowLowRightsLaunch(const TJobArgs& job, const THelperState&) {
  std::string target =
      ReadRegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + job.Param1, "");
  if (target.empty()) target = job.Param1;
  const LONG result = InEveryView([&](REGSAM view) {
    LONG results[2] = {};
    for (size_t i = 0; i < 2; ++i)
      results[i] = WriteLowRightsPolicy(std::string(kLowRightsRoot) + kLowRightsPolicies[i] + "\\", target, view);
    return results[0] == ERROR_SUCCESS ? 0 : results[0] | results[1];
  });
  EndBrokerProcess();
  return result;
}

int32_t JobSetIntegrationMethod(const TJobArgs& job, const THelperState&) {
  const TSetupText setup(job.Param1);
  OfferToRemoveOtherHandlers(setup.Value("Caption"), job.Param2);
  const int32_t method = setup.Number("IntegrationMethod");
  if (method < 0 || method >= static_cast<int32_t>(std::size(kIntegrationModules))) return ERROR_SUCCESS;
  const TIntegrationModule& module = kIntegrationModules[method];
  if (IsRegisteredInThisView(module.progId)) return ERROR_SUCCESS;
  std::string folder = setup.Value("Path");
  if (folder.empty()) folder = HelperFolder();
  return CallExport(IncludeTrailingBackslash(folder) + module.file, "DllRegisterServer");
}

}  // namespace zv::adm
