#include "ComServer.h"

#include <cstdio>

#include "com/registrar.h"
#include "win/paths.h"

namespace zvwatch {

using zv::com::RootKey;

TComServer* ComServer = nullptr;

std::string GuidToString(REFGUID guid) {
  char text[40];
  std::snprintf(text, sizeof(text), "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6],
                guid.Data4[7]);
  return text;
}

// --- TComServer ---------------------------------------------------------------

TComServer::~TComServer() {
  for (TComObjectFactory* factory : factories_) delete factory;
}

std::string TComServer::ServerFileName() const { return zv::com::Narrow(zv::win::ModulePath(instance_)); }

void TComServer::AddFactory(TComObjectFactory* factory) { factories_.push_back(factory); }

TComObjectFactory* TComServer::FindFactory(REFCLSID clsid) const {
  for (TComObjectFactory* factory : factories_)
    if (IsEqualCLSID(factory->ClassId(), clsid)) return factory;
  return nullptr;
}

HRESULT TComServer::UpdateRegistry(bool registering) {
  for (TComObjectFactory* factory : factories_)
    if (!factory->UpdateRegistry(registering)) return E_FAIL;
  return S_OK;
}

// --- TComObjectFactory -----------------------------------------------------------

TComObjectFactory::TComObjectFactory(TComServer& server, const zv::com::ClassEntry& entry, std::string className,
                                     std::string description, std::string threadingModel)
    : ServerClassFactory(entry),
      server_(server),
      className_(std::move(className)),
      description_(std::move(description)),
      threadingModel_(std::move(threadingModel)) {}

std::string TComObjectFactory::ProgID() const {
  std::string name = server_.ServerFileName();
  name = name.substr(name.find_last_of(":\\/") + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  return name + "." + className_;
}

bool TComObjectFactory::UpdateRegistry(bool registering) {
  const std::string clsid = GuidToString(ClassId());
  const std::string classKey = "CLSID\\" + clsid;
  const std::string serverKey = classKey + "\\InprocServer32";
  const std::string progId = ProgID();
  if (!registering) {
    // Each key after its subkeys; what is not there is not missed.
    zv::com::DeleteRegistryKeys(RootKey::kClassesRoot,
                                {classKey + "\\ProgID", progId + "\\Clsid", progId, serverKey, classKey});
    return true;
  }
  // The server path has no space, for hosts that split command lines.
  std::string serverPath = server_.ServerFileName();
  if (serverPath.find(' ') != std::string::npos)
    serverPath = zv::com::Narrow(zv::com::ShortPath(zv::com::Widen(serverPath)));
  return zv::com::WriteRegistryEntries({
             {RootKey::kClassesRoot, classKey, "", description_},
             {RootKey::kClassesRoot, serverKey, "", serverPath},
             {RootKey::kClassesRoot, serverKey, "ThreadingModel", threadingModel_},
             {RootKey::kClassesRoot, progId, "", description_},
             {RootKey::kClassesRoot, progId + "\\Clsid", "", clsid},
             {RootKey::kClassesRoot, classKey + "\\ProgID", "", progId},
         }) == ERROR_SUCCESS;
}

}  // namespace zvwatch
