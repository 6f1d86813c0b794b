// Kinds 0 to 5: calling a module's export, deleting and writing registry data.
#include "AdmDispatch.h"
#include "AdmUtils.h"
#include "ModuleLoading.h"

namespace zv::adm {

int32_t CallExport(const std::string& library, const std::string& exportName) {
  using ExportProc = LONG(WINAPI*)();
  // 1 stands for "no answer": the loader's or the export's last error
  // explains it, read once the library is gone.
  int32_t result = 1;
  DWORD error = ERROR_SUCCESS;
  {
    // Registration exports expect OLE on the calling thread, as regsvr32
    // sets it up around its call.
    const TComScope ole(TComScope::kOle);
    if (HMODULE module = LoadJobModule(library)) {
      if (auto proc = reinterpret_cast<ExportProc>(reinterpret_cast<void*>(GetProcAddress(module, exportName.c_str()))))
        result = proc();
      FreeLibrary(module);
    }
    error = GetLastError();
  }
  if (result == 1) result = static_cast<int32_t>(error);
  return result;
}

int32_t JobCallExport(const TJobArgs& job, const THelperState&) { return CallExport(job.Param1, job.Param2); }

int32_t JobDeleteRegistry(const TJobArgs& job, const THelperState&) {
  const TRegistryPath path = ParseRegistryPath(job.Param1);
  if (!path.usable) return kErrorBadKey;
  if (path.emulated) return ERROR_SUCCESS;
  // Only the path is reported: a missing or undeletable entry is no failure.
  // A tree whose subkeys could not even be listed is, as it stays whole.
  LONG listingError = ERROR_SUCCESS;
  if (!path.valueName.empty())
    DeleteRegValue(RootKey(path.root), path.subkey, path.valueName);
  else
    DeleteKeyTree(RootKey(path.root), path.subkey, job.Param2.empty(), &listingError);
  return listingError;
}

int32_t JobWriteRegSz(const TJobArgs& job, const THelperState&) {
  return WriteRegPathValue(job.Param1, REG_SZ, job.Param2);
}
int32_t JobWriteRegDword(const TJobArgs& job, const THelperState&) {
  return WriteRegPathValue(job.Param1, REG_DWORD, job.Param2);
}
int32_t JobWriteRegBinary(const TJobArgs& job, const THelperState&) {
  return WriteRegPathValue(job.Param1, REG_BINARY, job.Param2);
}
int32_t JobWriteRegExpandSz(const TJobArgs& job, const THelperState&) {
  return WriteRegPathValue(job.Param1, REG_EXPAND_SZ, job.Param2);
}

}  // namespace zv::adm
