#include "standin_bind_info.h"

#include <cstring>

namespace zv::test {

StandInBindInfo::~StandInBindInfo() {
  for (HGLOBAL block : blocks_) GlobalFree(block);
}

STDMETHODIMP StandInBindInfo::QueryInterface(REFIID iid, void** out) {
  *out = nullptr;
  if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IInternetBindInfo)) return E_NOINTERFACE;
  *out = static_cast<IInternetBindInfo*>(this);
  AddRef();
  return S_OK;
}

STDMETHODIMP StandInBindInfo::GetBindInfo(DWORD* flags, BINDINFO* info) {
  ++calls_;
  if (FAILED(request_.result)) return request_.result;
  *flags = BINDF_ASYNCHRONOUS;
  const DWORD size = info->cbSize;
  std::memset(info, 0, size);
  info->cbSize = size;
  info->dwBindVerb = request_.verb;
  info->cbstgmedData = static_cast<DWORD>(request_.reportedSize >= 0 ? request_.reportedSize : request_.body.size());
  switch (request_.medium) {
    case BindRequest::Medium::kGlobal: {
      const size_t blockSize = request_.blockSize ? request_.blockSize : request_.body.size();
      HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, blockSize ? blockSize : 1);
      void* data = GlobalLock(block);
      std::memset(data, 'X', blockSize);
      std::memcpy(data, request_.body.data(), std::min(blockSize, request_.body.size()));
      GlobalUnlock(block);
      blocks_.push_back(block);  // freed here: the release goes to the holder
      info->stgmedData.tymed = TYMED_HGLOBAL;
      info->stgmedData.hGlobal = block;
      break;
    }
    case BindRequest::Medium::kNullGlobal:
      info->stgmedData.tymed = TYMED_HGLOBAL;
      break;
    case BindRequest::Medium::kStream: {
      IStream* stream = nullptr;
      CreateStreamOnHGlobal(nullptr, TRUE, &stream);
      ULONG written = 0;
      stream->Write(request_.body.data(), static_cast<ULONG>(request_.body.size()), &written);
      info->stgmedData.tymed = TYMED_ISTREAM;
      info->stgmedData.pstm = stream;
      break;
    }
    case BindRequest::Medium::kNone:
      info->stgmedData.tymed = TYMED_NULL;
      break;
  }
  if (request_.medium != BindRequest::Medium::kStream) {
    info->stgmedData.pUnkForRelease = &holder_;
    holder_.AddRef();
  }
  info->pUnk = &holder_;
  holder_.AddRef();
  return S_OK;
}

}  // namespace zv::test
