// A stand-in for the URL moniker layer's side of a request: the bind
// information a protocol handler asks for in Start.
#pragma once

#include <windows.h>
#include <urlmon.h>

#include <algorithm>
#include <string>
#include <vector>

namespace zv::test {

struct BindRequest {
  enum class Medium { kGlobal, kNullGlobal, kStream, kNone };
  DWORD verb = BINDVERB_GET;
  Medium medium = Medium::kGlobal;
  std::string body;        // what the medium holds
  size_t blockSize = 0;    // size of the global block; 0: the body's size
  long reportedSize = -1;  // cbstgmedData; -1: the body's size
  HRESULT result = S_OK;   // what GetBindInfo answers
};

class StandInBindInfo final : public IInternetBindInfo {
 public:
  explicit StandInBindInfo(BindRequest request = {}) : request_(std::move(request)) {}
  ~StandInBindInfo();

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override { return --refs_; }  // the test owns it
  STDMETHODIMP GetBindInfo(DWORD* flags, BINDINFO* info) override;
  STDMETHODIMP GetBindString(ULONG, LPOLESTR*, ULONG, ULONG* fetched) override {
    if (fetched) *fetched = 0;
    return E_NOTIMPL;
  }

  int calls() const { return calls_; }
  // References handed out with the bind information and not yet released
  // (what ReleaseBindInfo gives back).
  long outstanding() const { return holder_.refs - 1; }

 private:
  // Stands for the owner of the medium and of the BINDINFO's pUnk.
  class Holder final : public IUnknown {
   public:
    STDMETHODIMP QueryInterface(REFIID, void** out) override {
      *out = this;
      AddRef();
      return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--refs); }
    long refs = 1;
  };

  BindRequest request_;
  ULONG refs_ = 1;
  int calls_ = 0;
  Holder holder_;
  std::vector<HGLOBAL> blocks_;
};

}  // namespace zv::test
