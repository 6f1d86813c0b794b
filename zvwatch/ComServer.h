// The module's COM server on the shared framework: the server object with
// its factory list, and the factory that also writes and removes its
// class's entries from code. Objects, interface pointers and the count
// behind DllCanUnloadNow are the framework's (common/com).
#pragma once

#include <windows.h>
#include <objbase.h>

#include <string>
#include <vector>

#include "com/class_factory.h"

namespace zvwatch {

class TComObjectFactory;

class TComServer {
 public:
  explicit TComServer(HINSTANCE instance) : instance_(instance) {}
  TComServer(const TComServer&) = delete;
  TComServer& operator=(const TComServer&) = delete;
  ~TComServer();

  HINSTANCE Instance() const { return instance_; }
  // The module's full path as loaded, UTF-8.
  std::string ServerFileName() const;

  void AddFactory(TComObjectFactory* factory);  // the server owns it
  TComObjectFactory* FindFactory(REFCLSID clsid) const;

  // S_OK when no object lives and no factory is locked.
  HRESULT CanUnloadNow() const { return zv::com::CanUnloadNow(); }
  HRESULT UpdateRegistry(bool registering);

 private:
  HINSTANCE instance_;
  std::vector<TComObjectFactory*> factories_;
};

// The module's server, made at load and ended at unload.
extern TComServer* ComServer;

// The factory of one class, living as long as the server.
class TComObjectFactory : public zv::com::ServerClassFactory {
 public:
  TComObjectFactory(TComServer& server, const zv::com::ClassEntry& entry, std::string className,
                    std::string description, std::string threadingModel);

  // The module's file name without extension, ".", the class name.
  std::string ProgID() const;

  // Writes (or removes) the class entries under HKEY_CLASSES_ROOT; false
  // when an entry could not be written. Removal never fails.
  virtual bool UpdateRegistry(bool registering);

 protected:
  TComServer& Server() const { return server_; }

 private:
  TComServer& server_;
  std::string className_;
  std::string description_;
  std::string threadingModel_;
};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper-case hex.
std::string GuidToString(REFGUID guid);

}  // namespace zvwatch
