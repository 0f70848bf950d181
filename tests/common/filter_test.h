// What tests of filter libraries share: a filter made from a library file
// by class id, and a test filter with one pin of the test's own.
#ifndef TARVO_TESTS_COMMON_FILTER_TEST_H
#define TARVO_TESTS_COMMON_FILTER_TEST_H

#include <tarvo_dshow/base_filter.h>

#include <dlfcn.h>

// The filter of class clsid from the library file, referenced; NULL when
// the library or its class cannot be had.
inline IBaseFilter *test_load_filter(const char *file, REFCLSID clsid, void **lib)
{
  *lib = dlopen(file, RTLD_NOW | RTLD_LOCAL);
  if (!*lib) return nullptr;
  auto get = reinterpret_cast<LPFNGETCLASSOBJECT>(dlsym(*lib, "DllGetClassObject"));
  IClassFactory *cf = nullptr;
  if (!get || get(clsid, IID_IClassFactory, reinterpret_cast<void **>(&cf)) != S_OK) return nullptr;
  IBaseFilter *f = nullptr;
  if (cf->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void **>(&f)) != S_OK) f = nullptr;
  cf->Release();
  return f;
}

template <class Pin>
class OnePinFilter final : public CBaseFilter {
 public:
  OnePinFilter(REFCLSID clsid, HRESULT *phr) : CBaseFilter("OnePinFilter", nullptr, &lock, clsid), pin(this, &lock, phr) {}
  int GetPinCount() override { return 1; }
  CBasePin *GetPin(int n) override { return n == 0 ? &pin : nullptr; }
  CCritSec lock;
  Pin pin;
};

#endif
