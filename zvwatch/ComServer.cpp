#include "ComServer.h"

#include <cstdio>

namespace zv::watch {

using zv::com::RegistryEntry;
using zv::com::RootKey;
using zv::com::ScriptMode;

std::string GuidToString(REFGUID guid) {
  char text[40];
  std::snprintf(text, sizeof(text), "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

// --- TComServer ---------------------------------------------------------------

// The type library is carried for clients that read it from the file;
// nothing here loads or registers it.
TComServer::TComServer(std::vector<TComObjectFactory*> factories) : factories_(std::move(factories)) {
  definition_.factories.assign(factories_.begin(), factories_.end());
  definition_.entries = [this] {
    std::vector<RegistryEntry> entries;
    for (const TComObjectFactory* factory : factories_) {
      const std::vector<RegistryEntry> own = factory->ClassEntries();
      entries.insert(entries.end(), own.begin(), own.end());
    }
    return entries;
  };
  definition_.afterEntries = [this](ScriptMode mode) {
    for (TComObjectFactory* factory : factories_) factory->UpdateRegistry(mode == ScriptMode::kRegister);
  };
  definition_.typeLibrary = zv::com::ServerDefinition::TypeLibrary::kCarried;
  definition_.unregistration = zv::com::ServerDefinition::Unregistration::kKeepTypeLibrary;
}

std::string TComServer::ServerFileName() { return zv::com::Narrow(zv::com::ModulePath()); }

// --- TComObjectFactory -----------------------------------------------------------

TComObjectFactory::TComObjectFactory(const zv::com::ClassEntry& entry, std::string className, std::string description,
                                     std::string threadingModel)
    : ServerClassFactory(entry),
      className_(std::move(className)),
      description_(std::move(description)),
      threadingModel_(std::move(threadingModel)) {}

std::string TComObjectFactory::ProgID() const {
  std::string name = TComServer::ServerFileName();
  name = name.substr(name.find_last_of(":\\/") + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  return name + "." + className_;
}

std::vector<RegistryEntry> TComObjectFactory::ClassEntries() const {
  const std::string clsid = GuidToString(ClassId());
  const std::string classKey = "CLSID\\" + clsid;
  const std::string serverKey = classKey + "\\InprocServer32";
  const std::string progId = ProgID();
  // The server path has no space, for hosts that split command lines.
  std::string serverPath = TComServer::ServerFileName();
  if (serverPath.find(' ') != std::string::npos)
    serverPath = zv::com::Narrow(zv::com::ShortPath(zv::com::Widen(serverPath)));
  return {
      {RootKey::kClassesRoot, classKey, "", description_},
      {RootKey::kClassesRoot, serverKey, "", serverPath},
      {RootKey::kClassesRoot, serverKey, "ThreadingModel", threadingModel_},
      {RootKey::kClassesRoot, progId, "", description_},
      {RootKey::kClassesRoot, progId + "\\Clsid", "", clsid},
      {RootKey::kClassesRoot, classKey + "\\ProgID", "", progId},
  };
}

void TComObjectFactory::UpdateRegistry(bool) {}

}  // namespace zv::watch
