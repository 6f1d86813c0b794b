// The two classes of Zorvex.dll: NNCatcher, through which Netscape
// Navigator passes the http, https and ftp URLs it is about to load, and
// AddUrl, the object behind Internet Explorer's "add link" context-menu
// entries (ContextMenuAddUrl here: a C++ class cannot share its method's
// name). Their interfaces are dual interfaces of the ZORVEXLib library.
#pragma once

#include <windows.h>
#include <objsafe.h>

#include "Zorvex.h"
#include "com/dispatch.h"
#include "com/object.h"
#include "com/object_safety.h"

namespace zv::zorvex {

// ZORVEXLib 1.0, which serves both classes' IDispatch once registered.
extern const com::TypeLibraryId kLibrary;

class NNCatcher final : public com::Object<com::Dispatch<ICatcher, IID_ICatcher, kLibrary>> {
 public:
  explicit NNCatcher(IUnknown* outer) : Object(outer) {}

  // The capture decision and hand-off; *pVal is the download manager's
  // 16-bit answer, or 0 when the URL stays with Navigator.
  STDMETHODIMP Initialize(BSTR pProtocol, BSTR pUrl, short* pVal) override;
  STDMETHODIMP Open(BSTR pUrl) override;

 protected:
  IUnknown* FindInterface(REFIID iid) override;
};

class ContextMenuAddUrl final : public com::Object<com::Dispatch<IContextMenu, IID_IContextMenu, kLibrary>,
                                                   com::ObjectSafety<INTERFACESAFE_FOR_UNTRUSTED_DATA>> {
 public:
  explicit ContextMenuAddUrl(IUnknown* outer) : Object(outer) {}

  // Sends the link with its description and page; always S_OK, so that no
  // error reaches the menu page's script.
  STDMETHODIMP AddUrlWithReferer(BSTR pUrl, BSTR pComm, BSTR pReferer) override;
  STDMETHODIMP AddUrl(BSTR pUrl, BSTR pComment) override;

 protected:
  IUnknown* FindInterface(REFIID iid) override;
};

}  // namespace zv::zorvex
