// What the filter libraries' tests share: a graph that records events, a
// reference holder, loading a filter from its library file, and pins.
#ifndef TARVO_TESTS_COMMON_DSHOW_CHAIN_H
#define TARVO_TESTS_COMMON_DSHOW_CHAIN_H

#include <tarvo_dshow/base_mtype.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// The graph as far as filters see it: a place to join and an event sink.
class ChainGraph final : public IFilterGraph, public IMediaEventSink {
 public:
  HRESULT QueryInterface(REFIID riid, void **ppv) override
  {
    if (riid == IID_IUnknown || riid == IID_IFilterGraph) {
      *ppv = static_cast<IFilterGraph *>(this);
    } else if (riid == IID_IMediaEventSink) {
      *ppv = static_cast<IMediaEventSink *>(this);
    } else {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    return S_OK;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT AddFilter(IBaseFilter *, LPCWSTR) override { return E_NOTIMPL; }
  HRESULT RemoveFilter(IBaseFilter *) override { return E_NOTIMPL; }
  HRESULT EnumFilters(IEnumFilters **) override { return E_NOTIMPL; }
  HRESULT FindFilterByName(LPCWSTR, IBaseFilter **) override { return E_NOTIMPL; }
  HRESULT ConnectDirect(IPin *, IPin *, const AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
  HRESULT Reconnect(IPin *) override { return E_NOTIMPL; }
  HRESULT Disconnect(IPin *) override { return E_NOTIMPL; }
  HRESULT SetDefaultSyncSource() override { return E_NOTIMPL; }

  HRESULT Notify(LONG code, LONG_PTR p1, LONG_PTR) override
  {
    std::lock_guard<std::mutex> l(m);
    events.push_back({code, p1});
    cond.notify_all();
    return S_OK;
  }
  bool WaitFor(LONG code)
  {
    std::unique_lock<std::mutex> l(m);
    return cond.wait_for(l, std::chrono::seconds(20), [&] { return Count(code) > 0; });
  }
  int CountNow(LONG code)
  {
    std::lock_guard<std::mutex> l(m);
    return Count(code);
  }

 private:
  int Count(LONG code)
  {
    int n = 0;
    for (auto &e : events) n += e.first == code;
    return n;
  }
  std::mutex m;
  std::condition_variable cond;
  std::vector<std::pair<LONG, LONG_PTR>> events;
};

template <class T>
struct Ref {
  T *p = nullptr;
  Ref() = default;
  Ref(const Ref &) = delete;
  Ref &operator=(const Ref &) = delete;
  ~Ref() { reset(); }
  void reset()
  {
    if (p) p->Release();
    p = nullptr;
  }
  T *operator->() const { return p; }
  void **out() { return reinterpret_cast<void **>(&p); }
};

// The library file at `path` (a narrow path, such as a build folder and
// "libpandrel.so"), asked for class clsid.
inline HRESULT chain_create(const std::string &path, REFCLSID clsid, REFIID iid, void **out)
{
  std::u16string wide(path.begin(), path.end());
  HMODULE h = CoLoadLibrary(wide.c_str(), TRUE);
  if (!h) return REGDB_E_CLASSNOTREG;
  auto get = reinterpret_cast<LPFNGETCLASSOBJECT>(GetProcAddress(h, "DllGetClassObject"));
  if (!get) return E_NOINTERFACE;
  IClassFactory *factory = nullptr;
  HRESULT hr = get(clsid, IID_IClassFactory, reinterpret_cast<void **>(&factory));
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(nullptr, iid, out);
  factory->Release();
  return hr;
}

// The filter's first pin of direction want, referenced.
inline IPin *chain_pin(IBaseFilter *f, PIN_DIRECTION want)
{
  IEnumPins *e = nullptr;
  if (FAILED(f->EnumPins(&e))) return nullptr;
  IPin *pin = nullptr, *found = nullptr;
  while (!found && e->Next(1, &pin, nullptr) == S_OK) {
    PIN_DIRECTION dir;
    pin->QueryDirection(&dir);
    if (dir == want)
      found = pin;
    else
      pin->Release();
  }
  e->Release();
  return found;
}

#endif
