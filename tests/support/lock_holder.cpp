// Holds the hand-off lock in a process of its own, for the lock tests.
//   lock_holder hold <ms> <event>   take it, signal <event>, hold, release
//   lock_holder abandon <event>     take it, signal <event>, exit still owning it
//   lock_holder try                 exit 0 when it can be taken at once,
//                                   3 when it was abandoned, 1 otherwise
//   lock_holder restricted <ms> <event>
//                                   create it first, granting everybody only
//                                   the rights to wait and release (as a
//                                   medium-integrity creator looks to a
//                                   low-integrity tab), signal, keep it <ms>
// The other modes open it asking for those rights only.
#include <windows.h>
#include <sddl.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 2) return 64;
  constexpr DWORD kAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;
  if (std::strcmp(argv[1], "restricted") == 0 && argc > 3) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;0x100001;;;WD)", SDDL_REVISION_1, &descriptor,
                                                              nullptr))
      return 66;
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
    HANDLE mutex = CreateMutexA(&attributes, FALSE, "ZVAddURLMutex");
    if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS) return 67;
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[3]);
    if (ready) SetEvent(ready);
    Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 0)));
    return 0;
  }
  HANDLE mutex = OpenMutexA(kAccess, FALSE, "ZVAddURLMutex");
  if (!mutex) mutex = CreateMutexA(nullptr, FALSE, "ZVAddURLMutex");
  if (!mutex) return 65;
  if (std::strcmp(argv[1], "try") == 0) {
    const DWORD wait = WaitForSingleObject(mutex, 0);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) ReleaseMutex(mutex);
    return wait == WAIT_OBJECT_0 ? 0 : wait == WAIT_ABANDONED ? 3 : 1;
  }
  const bool abandon = std::strcmp(argv[1], "abandon") == 0;
  const char* eventName = abandon ? (argc > 2 ? argv[2] : nullptr) : (argc > 3 ? argv[3] : nullptr);
  if (WaitForSingleObject(mutex, 10000) != WAIT_OBJECT_0) return 2;
  if (eventName) {
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, eventName);
    if (ready) SetEvent(ready);
  }
  if (abandon) ExitProcess(0);  // the mutex is abandoned, not released
  Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 0)));
  ReleaseMutex(mutex);
  return 0;
}
