#include "async_bind.h"

namespace zv::test {

HRESULT BindAsync(const std::string& url, BindCallback& callback, IMoniker** moniker, IBindCtx** context) {
  const std::wstring wide(url.begin(), url.end());
  HRESULT hr = CreateURLMonikerEx(nullptr, wide.c_str(), moniker, URL_MK_UNIFORM);
  if (FAILED(hr)) return hr;
  hr = CreateAsyncBindCtx(0, &callback, nullptr, context);
  if (FAILED(hr)) return hr;
  IStream* stream = nullptr;
  hr = (*moniker)->BindToStorage(*context, nullptr, IID_IStream, reinterpret_cast<void**>(&stream));
  if (stream) stream->Release();
  return hr;
}

void PumpMessagesFor(DWORD ms, const std::function<bool()>& done) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < ms && !done()) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(10);
  }
}

}  // namespace zv::test
