// HTTPPlugProt: the name-space handler for http, https and ftp. It looks at
// each request once, in Start: an accepted download goes to the download
// manager and is claimed (S_FALSE); everything else goes back to the
// default handler at once. It never transfers data itself.
#pragma once

#include <windows.h>
#include <urlmon.h>

#include <optional>
#include <string>

#include "zvhandler.h"
#include "com/dispatch.h"
#include "com/object.h"

namespace zv::handler {

// The body of a POST request as the bind information carries it, as text
// (up to its first NUL); absent when the request is no POST.
std::optional<std::string> ReadPostData(IInternetBindInfo* bindInfo);

// The capture decision and hand-off of one request; true when the download
// manager took it.
bool ClaimRequest(const wchar_t* url, IInternetBindInfo* bindInfo);

// The module's type library, which describes IHTTPPlugProt.
extern const com::TypeLibraryId kLibrary;

// The URL moniker layer may create the handler inside an outer object.
// IHTTPPlugProt has only IDispatch's methods, answered from the registered
// type library.
class HTTPPlugProt final
    : public com::Object<com::Dispatch<IHTTPPlugProt, IID_IHTTPPlugProt, kLibrary>, IInternetProtocol> {
 public:
  explicit HTTPPlugProt(IUnknown* outer);

  // IInternetProtocolRoot
  STDMETHODIMP Start(LPCWSTR url, IInternetProtocolSink* sink, IInternetBindInfo* bindInfo, DWORD flags,
                     HANDLE_PTR reserved) override;
  STDMETHODIMP Continue(PROTOCOLDATA* data) override;
  STDMETHODIMP Abort(HRESULT reason, DWORD options) override;
  STDMETHODIMP Terminate(DWORD options) override;
  STDMETHODIMP Suspend() override;
  STDMETHODIMP Resume() override;

  // IInternetProtocol
  STDMETHODIMP Read(void* buffer, ULONG size, ULONG* read) override;
  STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override;
  STDMETHODIMP LockRequest(DWORD options) override;
  STDMETHODIMP UnlockRequest() override;

 protected:
  IUnknown* FindInterface(REFIID iid) override;
};

}  // namespace zv::handler
