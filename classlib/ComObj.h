// A COM object of one interface: QueryInterface for it and IUnknown, and a reference count safe
// across threads. Win32 only.
#pragma once

#ifndef _WIN32
#error "ComObj.h is part of the Win32 window layer"
#endif

#include <windows.h>
#include <unknwn.h>

// Implements IUnknown for interface I (id `iid`). Made with one reference; the last Release
// deletes it.
template <typename I, const IID& iid>
class TComObject : public I {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, iid)) {
      *out = static_cast<I*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

 protected:
  virtual ~TComObject() = default;

 private:
  LONG refs_ = 1;
};
