#include "BindStatusCallBack.h"

#include <vector>

#include "IeConst.h"
#include "Utils.h"

namespace zv::watch {
namespace {

using zv::com::ComPtr;
using zv::com::Guarded;

// Whatever goes wrong inside, the binding goes on as if all went well.
HRESULT Succeeded() noexcept { return S_OK; }

// A WinINet header as text, learning its size first; empty when absent.
AnsiString QueryHttpInfoText(IWinInetHttpInfo* info, DWORD option) {
  DWORD size = 0;
  DWORD flags = 0;
  info->QueryInfo(option, nullptr, &size, &flags, nullptr);  // answers only the size
  if (size == 0) return {};
  // One byte more than asked for, so that a size without the terminator fits too.
  std::vector<char> buffer(size + 1, '\0');
  DWORD length = static_cast<DWORD>(buffer.size());
  flags = 0;
  if (info->QueryInfo(option, buffer.data(), &length, &flags, nullptr) != S_OK) return {};
  return AnsiString(buffer.data());
}

}  // namespace

IUnknown* TBindStatusCallBack::FindInterface(REFIID iid) {
  return IsEqualIID(iid, IID_IBindStatusCallback) ? static_cast<IBindStatusCallback*>(this) : nullptr;
}

void TBindStatusCallBack::StandInFor(ComPtr<IBindStatusCallback> previous, ComPtr<IBindCtx> context) {
  previous_ = std::move(previous);
  context_ = std::move(context);
}

STDMETHODIMP TBindStatusCallBack::OnStartBinding(DWORD, IBinding* binding) {
  return Guarded(
      [&] {
        binding_ = ComPtr<IBinding>::Share(binding);
        details_.fileName.clear();
        if (previous_) previous_->OnStopBinding(kPreviousBindingStopped, nullptr);
        return S_OK;
      },
      Succeeded);
}

STDMETHODIMP TBindStatusCallBack::GetPriority(LONG*) { return S_OK; }
STDMETHODIMP TBindStatusCallBack::OnLowResource(DWORD) { return S_OK; }

void TBindStatusCallBack::CollectHeaderDetails() {
  if (!binding_) return;
  ComPtr<IWinInetHttpInfo> info;
  if (FAILED(binding_.As(IID_WinInetHttpInfo, info)) || !info) return;
  const AnsiString disposition = QueryHttpInfoText(info.get(), kQueryContentDisposition);
  if (!disposition.empty()) details_.fileName = FileNameFromContentDisposition(disposition);
  details_.referer = QueryHttpInfoText(info.get(), kQueryReferer | kQueryFlagRequestHeaders);
  details_.mimeType = QueryHttpInfoText(info.get(), kQueryContentType);
  details_.size = ContentLengthValue(QueryHttpInfoText(info.get(), kQueryContentLength));
  details_.fileDateTime = QueryHttpInfoText(info.get(), kQueryDate);
  details_.cookie = QueryHttpInfoText(info.get(), kQueryCookie | kQueryFlagRequestHeaders);
}

// An abort makes urlmon report the protocol's result and terminate it,
// which closes the connection; a failure result from a callback would be
// ignored.
void TBindStatusCallBack::EndBindingIfMoreIsToCome(LPCWSTR cacheFile) {
  if (!binding_ || details_.size <= 0 || !cacheFile) return;
  WIN32_FILE_ATTRIBUTE_DATA file{};
  if (!GetFileAttributesExW(cacheFile, GetFileExInfoStandard, &file)) return;
  const std::int64_t cached = (static_cast<std::int64_t>(file.nFileSizeHigh) << 32) | file.nFileSizeLow;
  if (cached >= details_.size) return;
  // OnStopBinding may run inside Abort and let go of `binding_`.
  const ComPtr<IBinding> binding = binding_;
  binding->Abort();
}

STDMETHODIMP TBindStatusCallBack::OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode, LPCWSTR statusText) {
  return Guarded(
      [&] {
        switch (statusCode) {
          case kStatusBeginDownloadData:
            CollectHeaderDetails();
            break;
          case kStatusCacheFileNameAvailable:
            details_.fileName = FileNameWithCacheFile(details_.fileName, WideToAnsi(statusText));
            break;
          case kStatusContentDispositionAttach:
            return S_OK;  // the browser's callback must not offer its own save dialog
          default:
            break;
        }
        if (previous_) previous_->OnProgress(progress, progressMax, statusCode, statusText);
        if (statusCode == kStatusCacheFileNameAvailable && endEarly_) EndBindingIfMoreIsToCome(statusText);
        return S_OK;
      },
      Succeeded);
}

STDMETHODIMP TBindStatusCallBack::OnStopBinding(HRESULT, LPCWSTR) {
  return Guarded(
      [&] {
        if (previous_ && context_) context_->RegisterObjectParam(const_cast<LPOLESTR>(kBscbHolderKey), previous_.get());
        previous_.reset();
        context_.reset();
        binding_.reset();
        return S_OK;
      },
      Succeeded);
}

STDMETHODIMP TBindStatusCallBack::GetBindInfo(DWORD*, BINDINFO*) { return S_OK; }

STDMETHODIMP TBindStatusCallBack::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) { return S_OK; }

STDMETHODIMP TBindStatusCallBack::OnObjectAvailable(REFIID, IUnknown*) { return S_OK; }

}  // namespace zv::watch
