// A stand-in for an Internet Explorer window as its browser helper objects
// see it: an IWebBrowser2 that reports its location, with a
// DWebBrowserEvents2 connection point whose sinks it fires events into
// through IDispatch::Invoke, with the variants the browser passes.
#pragma once

#include <windows.h>
#include <exdisp.h>
#include <ocidl.h>

#include <optional>
#include <string>

#include "com/com_ptr.h"

namespace zv::test {

enum class EventSource {
  kConnects,     // a working DWebBrowserEvents2 connection point
  kNoContainer,  // the browser has no IConnectionPointContainer
  kNotFound,     // FindConnectionPoint fails
  kAdviseFails,  // Advise fails
};

// The arguments of one BeforeNavigate2.
struct Navigation {
  std::wstring url;
  std::optional<std::string> postData;  // bytes of the body; none: an empty variant
  VARIANT_BOOL cancel = VARIANT_FALSE;  // as the browser set it
  bool cancelByRef = true;              // false: Cancel as a plain VT_BOOL
  bool urlByRef = true;                 // false: the URL as a plain VT_BSTR
  UINT argCount = 7;                    // fewer: the last ones only
};

struct NavigationResult {
  HRESULT hr = E_FAIL;                  // what the sink's Invoke returned
  VARIANT_BOOL cancel = VARIANT_FALSE;  // the Cancel flag afterwards
  bool fired = false;                   // a sink was connected
};

class StandInBrowserObject;

class StandInBrowser {
 public:
  explicit StandInBrowser(EventSource events = EventSource::kConnects);
  ~StandInBrowser();
  StandInBrowser(const StandInBrowser&) = delete;
  StandInBrowser& operator=(const StandInBrowser&) = delete;

  // What the browser passes to SetSite.
  IUnknown* site() const;
  // The location get_LocationURL reports; a failing call when `hr` fails.
  void SetLocation(const std::optional<std::wstring>& location, HRESULT hr = S_OK);

  int Advises() const;
  int Unadvises() const;
  int Connected() const;
  int LocationQueries() const;
  // References held on the browser object, its own one included.
  long References() const;

  // Fires the event into the first connected sink.
  NavigationResult BeforeNavigate2(const Navigation& navigation);
  HRESULT Quit();    // the older event set's quit notification (103)
  HRESULT OnQuit();  // DWebBrowserEvents2's quit notification (253)
  HRESULT InvokeRaw(DISPID member, DISPPARAMS* params);

 private:
  StandInBrowserObject* object_;
};

// A site that is no browser at all.
zv::com::ComPtr<IUnknown> NewPlainSite();

}  // namespace zv::test
