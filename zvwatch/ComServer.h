// The module's COM server as the framework serves it: the server with its
// factory list, and the factory of one class with its standard class
// entries. Objects, interface pointers, the exports and the count behind
// DllCanUnloadNow are the framework's (common/com).
#pragma once

#include <windows.h>
#include <objbase.h>

#include <string>
#include <vector>

#include "com/class_factory.h"
#include "com/registrar.h"

namespace zv::watch {

class TComObjectFactory;

// Made once, on the module's first use, and kept until it unloads.
class TComServer {
 public:
  // The factories live at least as long as the server.
  explicit TComServer(std::vector<TComObjectFactory*> factories);
  TComServer(const TComServer&) = delete;
  TComServer& operator=(const TComServer&) = delete;

  // The module's full path as loaded, UTF-8.
  static std::string ServerFileName();

  const zv::com::ServerDefinition& Definition() const { return definition_; }

 private:
  std::vector<TComObjectFactory*> factories_;
  zv::com::ServerDefinition definition_;
};

// The factory of one class. Holding it does not keep the module loaded.
class TComObjectFactory : public zv::com::ServerClassFactory {
 public:
  TComObjectFactory(const zv::com::ClassEntry& entry, std::string className, std::string description,
                    std::string threadingModel);

  // The module's file name without extension, ".", the class name.
  std::string ProgID() const;

  // The class's entries under HKEY_CLASSES_ROOT, in the order they are
  // written.
  std::vector<zv::com::RegistryEntry> ClassEntries() const;

  // What the class registers besides its class entries, after them; its
  // failures are not reported.
  virtual void UpdateRegistry(bool registering);

 private:
  std::string className_;
  std::string description_;
  std::string threadingModel_;
};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper-case hex.
std::string GuidToString(REFGUID guid);

}  // namespace zv::watch
