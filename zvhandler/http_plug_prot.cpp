#include "http_plug_prot.h"

#include "address_bar.h"
#include "trace.h"
#include "handoff/handoff.h"

namespace zv::handler {

const com::TypeLibraryId kLibrary{&LIBID_ZVHANDLERLib, 1, 0, 0x409};

namespace {

using namespace zv::handoff;

// The decision's points as trace lines. Before the URL is known to convert,
// only the points that precede the conversion are traced.
class TraceObserver final : public DecisionObserver {
 public:
  explicit TraceObserver(bool urlConverted) : urlConverted_(urlConverted) {}

  void OnDecisionPoint(DecisionPoint point) override {
    if (point == DecisionPoint::kUrlReady) afterUrl_ = true;
    if (afterUrl_ && !urlConverted_) return;
    WriteTrace(point);
  }

 private:
  bool urlConverted_;
  bool afterUrl_ = false;
};

// The bind information of one request, released as its contract requires.
class BindInfo {
 public:
  BindInfo() {
    ZeroMemory(&info_, sizeof(info_));
    info_.cbSize = sizeof(info_);
  }
  BindInfo(const BindInfo&) = delete;
  BindInfo& operator=(const BindInfo&) = delete;
  ~BindInfo() {
    if (filled_) ReleaseBindInfo(&info_);
  }
  HRESULT Get(IInternetBindInfo* source) {
    DWORD flags = 0;
    const HRESULT hr = source->GetBindInfo(&flags, &info_);
    filled_ = SUCCEEDED(hr);
    return hr;
  }
  const BINDINFO& get() const { return info_; }

 private:
  BINDINFO info_;
  bool filled_ = false;
};

class GlobalLockGuard {
 public:
  explicit GlobalLockGuard(HGLOBAL block) : block_(block), data_(GlobalLock(block)) {}
  GlobalLockGuard(const GlobalLockGuard&) = delete;
  GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;
  ~GlobalLockGuard() {
    if (data_) GlobalUnlock(block_);
  }
  const char* data() const { return static_cast<const char*>(data_); }

 private:
  HGLOBAL block_;
  void* data_;
};

// The body is read only from a global block that really holds `size`
// bytes; any other medium counts as an empty body.
std::string BodyText(const STGMEDIUM& medium, DWORD size) {
  if (size == 0 || medium.tymed != TYMED_HGLOBAL || !medium.hGlobal) return {};
  if (GlobalSize(medium.hGlobal) < size) return {};
  GlobalLockGuard lock(medium.hGlobal);
  if (!lock.data()) return {};
  size_t length = 0;
  while (length < size && lock.data()[length] != '\0') ++length;
  return std::string(lock.data(), length);
}

}  // namespace

std::optional<std::string> ReadPostData(IInternetBindInfo* bindInfo) {
  if (!bindInfo) return std::nullopt;
  BindInfo info;
  if (FAILED(info.Get(bindInfo))) return std::nullopt;
  if (info.get().dwBindVerb != BINDVERB_POST) return std::nullopt;
  return BodyText(info.get().stgmedData, info.get().cbstgmedData);
}

bool ClaimRequest(const wchar_t* wideUrl, IInternetBindInfo* bindInfo) {
  WriteTrace(Trace::kBegin);
  const ModifierKeys keys = ReadModifierKeys();
  const std::optional<std::string> url = ToAnsi(wideUrl);
  ManagerSettings settings;
  TraceObserver observer(url.has_value());
  const CaptureDecision decision =
      DecideCapture(CaptureModule::kProtocolHandler, keys, settings, {url ? *url : std::string()}, &observer);
  if (!url || !decision.caught) return false;

  WriteTrace(Trace::kPostCheck);
  const std::optional<std::string> postData = ReadPostData(bindInfo);
  if (postData && !decision.ctrlAlt && !FileHostRule::PostDataTest(*url, *postData)) return false;

  CommandLines lines;
  lines.referer = ReadAddressBarText();
  lines.postData = postData;
  WriteTrace(Trace::kCreateCommand);
  const std::string text = BuildCommandText(*url, lines);
  WriteCommandTrace(text);

  HandoffSteps steps;
  steps.buildText = [&text] { return text; };
  steps.onFoundAtOnce = [] { WriteTrace(Trace::kManagerFound); };
  steps.onNotFound = [] { WriteTrace(Trace::kManagerNotFound); };
  steps.onFoundAfterStartup = [] { WriteTrace(Trace::kManagerStarted); };
  steps.onRefused = [] { WriteTrace(Trace::kRefused); };
  steps.onStartupTimedOut = [] {
    WriteTrace(Trace::kFreeMemory);
    WriteTrace(Trace::kDone);
  };
  HandoffOptions options;
  options.settings = &settings;
  const HandoffOutcome outcome = HandOff(kProtocolHandlerHandoff, steps, options);
  if (!outcome.sent()) return false;
  WriteTrace(outcome.afterStartup ? Trace::kSentAfterStartup : Trace::kSentToRunning);
  return outcome.reply != 0;
}

HTTPPlugProt::HTTPPlugProt(IUnknown* outer) : Object(outer) {}

IUnknown* HTTPPlugProt::FindInterface(REFIID iid) {
  if (IsEqualIID(iid, IID_IHTTPPlugProt) || IsEqualIID(iid, IID_IDispatch)) return static_cast<IHTTPPlugProt*>(this);
  if (IsEqualIID(iid, IID_IInternetProtocol) || IsEqualIID(iid, IID_IInternetProtocolRoot))
    return static_cast<IInternetProtocol*>(this);
  return nullptr;
}

STDMETHODIMP HTTPPlugProt::Start(LPCWSTR url, IInternetProtocolSink* sink, IInternetBindInfo* bindInfo, DWORD,
                                 HANDLE_PTR) {
  // Any failure, an escaping exception included, leaves the request to the
  // default handler.
  const HRESULT hr = com::Guarded([&] { return ClaimRequest(url, bindInfo) ? S_FALSE : S_OK; });
  if (hr != S_FALSE) return INET_E_USE_DEFAULT_PROTOCOLHANDLER;
  // A claimed request delivers no data; without an end reported to the sink
  // a caller bound synchronously (an updater's URLDownloadToFile) waits for ever.
  if (sink) sink->ReportResult(INET_E_TERMINATED_BIND, 0, nullptr);
  return S_FALSE;
}

STDMETHODIMP HTTPPlugProt::Continue(PROTOCOLDATA*) { return E_NOTIMPL; }
STDMETHODIMP HTTPPlugProt::Abort(HRESULT, DWORD) { return E_NOTIMPL; }
STDMETHODIMP HTTPPlugProt::Terminate(DWORD) { return E_NOTIMPL; }
STDMETHODIMP HTTPPlugProt::Suspend() { return E_NOTIMPL; }
STDMETHODIMP HTTPPlugProt::Resume() { return E_NOTIMPL; }
STDMETHODIMP HTTPPlugProt::Read(void*, ULONG, ULONG*) { return E_NOTIMPL; }
STDMETHODIMP HTTPPlugProt::Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) { return E_NOTIMPL; }
STDMETHODIMP HTTPPlugProt::LockRequest(DWORD) { return S_OK; }
STDMETHODIMP HTTPPlugProt::UnlockRequest() { return S_OK; }

}  // namespace zv::handler
