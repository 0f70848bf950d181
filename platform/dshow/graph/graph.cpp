// The filter graph: it holds the filters, connects their pins, changes their
// state from the renderers upstream, collects their events and forwards
// seeking to the renderers.  It has no reference clock: filters run as fast
// as their streaming threads go.
#include <tarvo_dshow/base_filter.h>
#include <tarvo_dshow/dshow_graph.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <vector>

namespace {

struct Event {
  LONG code;
  LONG_PTR p1, p2;
};

// A filter's pins, each with a reference the caller releases.
std::vector<IPin *> pins_of(IBaseFilter *f)
{
  std::vector<IPin *> pins;
  IEnumPins *e = nullptr;
  if (FAILED(f->EnumPins(&e))) return pins;
  IPin *p = nullptr;
  while (e->Next(1, &p, nullptr) == S_OK) {
    try {
      pins.push_back(p);
    } catch (...) {
      p->Release();
      break;
    }
  }
  e->Release();
  return pins;
}

void release_all(std::vector<IPin *> &pins)
{
  for (IPin *p : pins) p->Release();
  pins.clear();
}

PIN_DIRECTION direction(IPin *p)
{
  PIN_DIRECTION d = PINDIR_INPUT;
  p->QueryDirection(&d);
  return d;
}

// The filter that owns a pin (not referenced).
IBaseFilter *owner_of(IPin *p)
{
  PIN_INFO info{};
  if (FAILED(p->QueryPinInfo(&info)) || !info.pFilter) return nullptr;
  info.pFilter->Release();
  return info.pFilter;
}

using FilterEnum = CCountedObject<IEnumFilters, IID_IEnumFilters>;

// Enumerates a copy of the graph's list, taken when it was made.
class FilterEnumerator final : public FilterEnum {
 public:
  explicit FilterEnumerator(const std::vector<IBaseFilter *> &list) : FilterEnum("Filter enumerator"), m_list(list)
  {
    for (IBaseFilter *f : m_list) f->AddRef();
  }
  ~FilterEnumerator() override
  {
    for (IBaseFilter *f : m_list) f->Release();
  }
  HRESULT Next(ULONG count, IBaseFilter **filters, ULONG *fetched) override
  {
    if (!filters || (count > 1 && !fetched)) return E_POINTER;
    ULONG n = 0;
    while (n < count && m_pos < m_list.size()) {
      filters[n] = m_list[m_pos++];
      filters[n++]->AddRef();
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override
  {
    m_pos = std::min(m_list.size(), m_pos + count);
    return m_pos < m_list.size() ? S_OK : S_FALSE;
  }
  HRESULT Reset() override
  {
    m_pos = 0;
    return S_OK;
  }
  HRESULT Clone(IEnumFilters **out) override
  {
    if (!out) return E_POINTER;
    auto *c = new (std::nothrow) FilterEnumerator(m_list);
    if (!c) return E_OUTOFMEMORY;
    c->m_pos = m_pos;
    return GetInterface(c, reinterpret_cast<void **>(out));
  }

 private:
  std::vector<IBaseFilter *> m_list;
  size_t m_pos = 0;
};

class FilterGraph final : public CUnknown,
                          public IGraphBuilder,
                          public IMediaControl,
                          public IMediaEvent,
                          public IMediaEventSink,
                          public IMediaSeeking {
 public:
  explicit FilterGraph(LPUNKNOWN outer) : CUnknown("Filter graph", outer) {}
  ~FilterGraph() override;
  DECLARE_IUNKNOWN

  static CUnknown *CreateInstance(LPUNKNOWN outer, HRESULT *phr)
  {
    auto *g = new (std::nothrow) FilterGraph(outer);
    if (!g) *phr = E_OUTOFMEMORY;
    return g;
  }

  HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override
  {
    if (!ppv) return E_POINTER;
    if (riid == IID_IFilterGraph || riid == IID_IGraphBuilder)
      return GetInterface(static_cast<IGraphBuilder *>(this), ppv);
    if (riid == IID_IMediaControl) return GetInterface(static_cast<IMediaControl *>(this), ppv);
    if (riid == IID_IMediaEvent) return GetInterface(static_cast<IMediaEvent *>(this), ppv);
    if (riid == IID_IMediaEventSink) return GetInterface(static_cast<IMediaEventSink *>(this), ppv);
    if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking *>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
  }

  // IFilterGraph
  HRESULT AddFilter(IBaseFilter *filter, LPCWSTR name) override;
  HRESULT RemoveFilter(IBaseFilter *filter) override;
  HRESULT EnumFilters(IEnumFilters **filters) override;
  HRESULT FindFilterByName(LPCWSTR name, IBaseFilter **filter) override;
  HRESULT ConnectDirect(IPin *out, IPin *in, const AM_MEDIA_TYPE *pmt) override;
  HRESULT Reconnect(IPin *pin) override;
  HRESULT Disconnect(IPin *pin) override;
  HRESULT SetDefaultSyncSource() override { return S_OK; }

  // IGraphBuilder
  HRESULT Connect(IPin *out, IPin *in) override { return ConnectDirect(out, in, nullptr); }
  HRESULT Render(IPin *out) override;
  HRESULT RenderFile(LPCWSTR, LPCWSTR) override { return E_NOTIMPL; }
  HRESULT AddSourceFilter(LPCWSTR, LPCWSTR, IBaseFilter **) override { return E_NOTIMPL; }
  HRESULT SetLogFile(DWORD_PTR) override { return S_OK; }
  HRESULT Abort() override { return S_OK; }
  HRESULT ShouldOperationContinue() override { return S_OK; }

  // IMediaControl
  HRESULT Run() override;
  HRESULT Pause() override;
  HRESULT Stop() override;
  HRESULT GetState(LONG msTimeout, OAFilterState *state) override;
  HRESULT RenderFile(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT AddSourceFilter(LPCWSTR, IUnknown **) override { return E_NOTIMPL; }
  HRESULT get_FilterInfoCollection(IUnknown **) override { return E_NOTIMPL; }
  HRESULT get_RegFilterCollection(IUnknown **) override { return E_NOTIMPL; }
  HRESULT StopWhenReady() override { return Stop(); }

  // IMediaEvent
  HRESULT GetEventHandle(OAEVENT *) override { return E_NOTIMPL; }
  HRESULT GetEvent(LONG *code, LONG_PTR *p1, LONG_PTR *p2, LONG msTimeout) override;
  HRESULT WaitForCompletion(LONG msTimeout, LONG *code) override;
  HRESULT CancelDefaultHandling(LONG code) override { return DefaultHandling(code, false); }
  HRESULT RestoreDefaultHandling(LONG code) override { return DefaultHandling(code, true); }
  HRESULT FreeEventParams(LONG, LONG_PTR, LONG_PTR) override { return S_OK; }

  // IMediaEventSink: called on streaming threads.
  HRESULT Notify(LONG code, LONG_PTR p1, LONG_PTR p2) override;

  // IMediaSeeking, forwarded to the renderers.
  HRESULT GetCapabilities(DWORD *caps) override;
  HRESULT CheckCapabilities(DWORD *caps) override;
  HRESULT IsFormatSupported(const GUID *format) override
  {
    return ForEach([&](IMediaSeeking *s) { return s->IsFormatSupported(format); }, false);
  }
  HRESULT QueryPreferredFormat(GUID *format) override
  {
    return First([&](IMediaSeeking *s) { return s->QueryPreferredFormat(format); });
  }
  HRESULT GetTimeFormat(GUID *format) override
  {
    return First([&](IMediaSeeking *s) { return s->GetTimeFormat(format); });
  }
  HRESULT IsUsingTimeFormat(const GUID *format) override
  {
    return First([&](IMediaSeeking *s) { return s->IsUsingTimeFormat(format); });
  }
  HRESULT SetTimeFormat(const GUID *format) override
  {
    return ForEach([&](IMediaSeeking *s) { return s->SetTimeFormat(format); }, true);
  }
  HRESULT GetDuration(LONGLONG *duration) override;
  HRESULT GetStopPosition(LONGLONG *stop) override
  {
    return First([&](IMediaSeeking *s) { return s->GetStopPosition(stop); });
  }
  HRESULT GetCurrentPosition(LONGLONG *current) override
  {
    return First([&](IMediaSeeking *s) { return s->GetCurrentPosition(current); });
  }
  HRESULT ConvertTimeFormat(LONGLONG *target, const GUID *tf, LONGLONG source, const GUID *sf) override
  {
    return First([&](IMediaSeeking *s) { return s->ConvertTimeFormat(target, tf, source, sf); });
  }
  HRESULT SetPositions(LONGLONG *current, DWORD currentFlags, LONGLONG *stop, DWORD stopFlags) override;
  HRESULT GetPositions(LONGLONG *current, LONGLONG *stop) override
  {
    return First([&](IMediaSeeking *s) { return s->GetPositions(current, stop); });
  }
  HRESULT GetAvailable(LONGLONG *earliest, LONGLONG *latest) override
  {
    return First([&](IMediaSeeking *s) { return s->GetAvailable(earliest, latest); });
  }
  HRESULT SetRate(double rate) override
  {
    return ForEach([&](IMediaSeeking *s) { return s->SetRate(rate); }, true);
  }
  HRESULT GetRate(double *rate) override
  {
    return First([&](IMediaSeeking *s) { return s->GetRate(rate); });
  }
  HRESULT GetPreroll(LONGLONG *preroll) override
  {
    return First([&](IMediaSeeking *s) { return s->GetPreroll(preroll); });
  }

 private:
  bool Contains(IBaseFilter *f) const;
  bool NameTaken(const std::u16string &name) const;
  // The filters, each after every filter downstream of it.
  std::vector<IBaseFilter *> DownstreamFirst() const;
  // Filters with an input pin and no output pin (referenced).
  std::vector<IBaseFilter *> Renderers() const;
  std::vector<IMediaSeeking *> RendererSeeking() const;
  HRESULT ChangeState(FILTER_STATE to);
  HRESULT Enter(FILTER_STATE to);
  void ResetCompletion();
  void Post(LONG code, LONG_PTR p1, LONG_PTR p2);
  // Only the graph's own handling of EC_COMPLETE can be turned off.
  HRESULT DefaultHandling(LONG code, bool on);

  // The callee's result from the first renderer that has one.
  template <class F>
  HRESULT First(F call)
  {
    HRESULT hr = E_NOTIMPL;
    std::vector<IMediaSeeking *> all = RendererSeeking();
    for (IMediaSeeking *s : all) {
      hr = call(s);
      if (SUCCEEDED(hr)) break;
    }
    for (IMediaSeeking *s : all) s->Release();
    return hr;
  }
  // Every renderer; S_OK when any (all: when every one) succeeds.
  template <class F>
  HRESULT ForEach(F call, bool all)
  {
    std::vector<IMediaSeeking *> list = RendererSeeking();
    HRESULT result = E_NOTIMPL, failed = S_OK;
    for (IMediaSeeking *s : list) {
      HRESULT hr = call(s);
      if (SUCCEEDED(hr))
        result = S_OK;
      else
        failed = hr;
    }
    for (IMediaSeeking *s : list) s->Release();
    if (all && FAILED(failed) && SUCCEEDED(result)) return failed;
    return result;
  }

  mutable CCritSec m_lock;  // the filter list and the state
  std::vector<IBaseFilter *> m_filters;
  FILTER_STATE m_state = State_Stopped;

  std::mutex m_eventLock;  // everything below
  std::condition_variable m_eventCond;
  std::deque<Event> m_events;
  std::set<LONG_PTR> m_completed;
  size_t m_renderers = 0;
  bool m_done = false;
  LONG m_doneCode = 0;
  bool m_defaultComplete = true;
};

FilterGraph::~FilterGraph()
{
  // Stopping joins every streaming thread; then the filters go.
  Stop();
  CAutoLock l(m_lock);
  for (IBaseFilter *f : m_filters) {
    std::vector<IPin *> pins = pins_of(f);
    for (IPin *p : pins) p->Disconnect();
    release_all(pins);
  }
  for (IBaseFilter *f : m_filters) {
    f->JoinFilterGraph(nullptr, nullptr);
    f->Release();
  }
  m_filters.clear();
}

bool FilterGraph::Contains(IBaseFilter *f) const
{
  for (IBaseFilter *g : m_filters)
    if (g == f) return true;
  return false;
}

std::u16string filter_name(IBaseFilter *f)
{
  FILTER_INFO info{};
  if (FAILED(f->QueryFilterInfo(&info))) return {};
  if (info.pGraph) info.pGraph->Release();
  info.achName[MAX_FILTER_NAME - 1] = 0;
  return info.achName;
}

bool FilterGraph::NameTaken(const std::u16string &name) const
{
  for (IBaseFilter *f : m_filters)
    if (filter_name(f) == name) return true;
  return false;
}

HRESULT FilterGraph::AddFilter(IBaseFilter *filter, LPCWSTR name)
{
  if (!filter) return E_POINTER;
  CAutoLock l(m_lock);
  if (Contains(filter)) return VFW_E_FILTER_ACTIVE;
  try {
    std::u16string base = name && name[0] ? std::u16string(name).substr(0, MAX_FILTER_NAME - 8) : u"Filter";
    std::u16string chosen = base;
    // A name already in the graph, or none, gets a number of its own.
    for (int n = 1; NameTaken(chosen) || !name || !name[0]; n++) {
      std::string digits = std::to_string(n);
      chosen = base + u" " + std::u16string(digits.begin(), digits.end());
      if (!NameTaken(chosen)) break;
    }
    m_filters.reserve(m_filters.size() + 1);
    HRESULT hr = filter->JoinFilterGraph(this, chosen.c_str());
    if (FAILED(hr)) return hr;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  filter->AddRef();
  m_filters.push_back(filter);
  return S_OK;
}

HRESULT FilterGraph::RemoveFilter(IBaseFilter *filter)
{
  CAutoLock l(m_lock);
  if (!filter || !Contains(filter)) return E_INVALIDARG;
  filter->Stop();
  std::vector<IPin *> pins = pins_of(filter);
  for (IPin *p : pins) {
    IPin *peer = nullptr;
    if (SUCCEEDED(p->ConnectedTo(&peer)) && peer) {
      peer->Disconnect();
      peer->Release();
    }
    p->Disconnect();
  }
  release_all(pins);
  filter->JoinFilterGraph(nullptr, nullptr);
  std::erase(m_filters, filter);
  filter->Release();
  return S_OK;
}

HRESULT FilterGraph::EnumFilters(IEnumFilters **filters)
{
  if (!filters) return E_POINTER;
  CAutoLock l(m_lock);
  FilterEnumerator *e = nullptr;
  try {
    e = new FilterEnumerator(m_filters);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return GetInterface(e, reinterpret_cast<void **>(filters));
}

HRESULT FilterGraph::FindFilterByName(LPCWSTR name, IBaseFilter **filter)
{
  if (!name || !filter) return E_POINTER;
  *filter = nullptr;
  CAutoLock l(m_lock);
  for (IBaseFilter *f : m_filters)
    if (filter_name(f) == name) return GetInterface(f, reinterpret_cast<void **>(filter));
  return VFW_E_NOT_FOUND;
}

HRESULT FilterGraph::ConnectDirect(IPin *out, IPin *in, const AM_MEDIA_TYPE *pmt)
{
  if (!out || !in) return E_POINTER;
  CAutoLock l(m_lock);
  if (m_state != State_Stopped) return VFW_E_NOT_STOPPED;
  if (!Contains(owner_of(out)) || !Contains(owner_of(in))) return VFW_E_NOT_IN_GRAPH;
  if (direction(out) != PINDIR_OUTPUT || direction(in) != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
  return out->Connect(in, pmt);
}

HRESULT FilterGraph::Reconnect(IPin *pin)
{
  if (!pin) return E_POINTER;
  CAutoLock l(m_lock);
  if (m_state != State_Stopped) return VFW_E_NOT_STOPPED;
  IPin *peer = nullptr;
  if (FAILED(pin->ConnectedTo(&peer)) || !peer) return VFW_E_NOT_CONNECTED;
  IPin *out = direction(pin) == PINDIR_OUTPUT ? pin : peer;
  IPin *in = out == pin ? peer : pin;
  out->Disconnect();
  in->Disconnect();
  HRESULT hr = out->Connect(in, nullptr);
  peer->Release();
  return hr;
}

HRESULT FilterGraph::Disconnect(IPin *pin)
{
  if (!pin) return E_POINTER;
  CAutoLock l(m_lock);
  if (m_state != State_Stopped) return VFW_E_NOT_STOPPED;
  return pin->Disconnect();
}

HRESULT FilterGraph::Render(IPin *out)
{
  if (!out) return E_POINTER;
  CAutoLock l(m_lock);
  if (direction(out) != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
  IBaseFilter *self = owner_of(out);
  for (IBaseFilter *f : m_filters) {
    if (f == self) continue;
    std::vector<IPin *> pins = pins_of(f);
    HRESULT hr = E_FAIL;
    for (IPin *in : pins) {
      IPin *peer = nullptr;
      if (direction(in) != PINDIR_INPUT) continue;
      if (SUCCEEDED(in->ConnectedTo(&peer)) && peer) {
        peer->Release();
        continue;
      }
      hr = ConnectDirect(out, in, nullptr);
      if (SUCCEEDED(hr)) break;
    }
    release_all(pins);
    if (SUCCEEDED(hr)) return S_OK;
  }
  return VFW_E_CANNOT_RENDER;
}

std::vector<IBaseFilter *> FilterGraph::DownstreamFirst() const
{
  // Each round takes the filters whose downstream peers are all taken.
  std::vector<IBaseFilter *> order, left = m_filters;
  while (!left.empty()) {
    size_t before = left.size();
    for (size_t i = 0; i < left.size();) {
      bool ready = true;
      std::vector<IPin *> pins = pins_of(left[i]);
      for (IPin *p : pins) {
        IPin *peer = nullptr;
        if (direction(p) != PINDIR_OUTPUT || FAILED(p->ConnectedTo(&peer)) || !peer) continue;
        IBaseFilter *down = owner_of(peer);
        peer->Release();
        if (down != left[i] && std::find(left.begin(), left.end(), down) != left.end()) ready = false;
      }
      release_all(pins);
      if (ready) {
        order.push_back(left[i]);
        left.erase(left.begin() + long(i));
      } else {
        i++;
      }
    }
    if (left.size() == before) {  // a loop: take the rest as they are
      order.insert(order.end(), left.begin(), left.end());
      break;
    }
  }
  return order;
}

std::vector<IBaseFilter *> FilterGraph::Renderers() const
{
  std::vector<IBaseFilter *> list;
  for (IBaseFilter *f : m_filters) {
    std::vector<IPin *> pins = pins_of(f);
    bool in = false, out = false;
    for (IPin *p : pins) (direction(p) == PINDIR_OUTPUT ? out : in) = true;
    release_all(pins);
    if (in && !out) list.push_back(f);
  }
  return list;
}

std::vector<IMediaSeeking *> FilterGraph::RendererSeeking() const
{
  std::vector<IMediaSeeking *> list;
  try {
    CAutoLock l(m_lock);
    for (IBaseFilter *f : Renderers()) {
      IMediaSeeking *s = nullptr;
      if (SUCCEEDED(f->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void **>(&s)))) list.push_back(s);
    }
  } catch (...) {
    for (IMediaSeeking *s : list) s->Release();
    list.clear();
  }
  return list;
}

void FilterGraph::ResetCompletion()
{
  std::lock_guard<std::mutex> l(m_eventLock);
  m_completed.clear();
  m_done = false;
  m_doneCode = 0;
  m_events.clear();
}

HRESULT FilterGraph::ChangeState(FILTER_STATE to)
{
  std::vector<IBaseFilter *> order;
  try {
    order = DownstreamFirst();
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  HRESULT result = S_OK;
  for (IBaseFilter *f : order) {
    HRESULT hr = to == State_Stopped ? f->Stop() : to == State_Paused ? f->Pause() : f->Run(0);
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    if (hr == S_FALSE && result == S_OK) result = S_FALSE;  // not yet cued
  }
  return result;
}

HRESULT FilterGraph::Run()
{
  CAutoLock l(m_lock);
  if (m_state == State_Running) return S_OK;
  if (m_state == State_Stopped) {
    ResetCompletion();
    size_t renderers = 0;
    try {
      renderers = Renderers().size();
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    {
      std::lock_guard<std::mutex> e(m_eventLock);
      m_renderers = renderers;
    }
    HRESULT hr = ChangeState(State_Paused);
    if (FAILED(hr)) {
      ChangeState(State_Stopped);
      return hr;
    }
    m_state = State_Paused;
    if (renderers == 0) Post(EC_COMPLETE, S_OK, 0);  // nothing will ever complete
  }
  HRESULT hr = Enter(State_Running);
  return FAILED(hr) ? hr : S_OK;
}

HRESULT FilterGraph::Pause()
{
  CAutoLock l(m_lock);
  if (m_state == State_Paused) return S_OK;
  if (m_state == State_Stopped) ResetCompletion();
  return Enter(State_Paused);
}

// Moves every filter to the state; when one fails the graph is stopped again.
HRESULT FilterGraph::Enter(FILTER_STATE to)
{
  HRESULT hr = ChangeState(to);
  m_state = FAILED(hr) ? State_Stopped : to;
  if (FAILED(hr)) ChangeState(State_Stopped);
  return hr;
}

HRESULT FilterGraph::Stop()
{
  CAutoLock l(m_lock);
  if (m_state == State_Stopped) return S_OK;
  HRESULT hr = ChangeState(State_Stopped);
  m_state = State_Stopped;
  m_eventCond.notify_all();
  return hr;
}

HRESULT FilterGraph::GetState(LONG msTimeout, OAFilterState *state)
{
  if (!state) return E_POINTER;
  CAutoLock l(m_lock);
  *state = m_state;
  HRESULT result = S_OK;
  for (IBaseFilter *f : m_filters) {
    FILTER_STATE fs;
    HRESULT hr = f->GetState(DWORD(msTimeout), &fs);
    if (hr == VFW_S_STATE_INTERMEDIATE || FAILED(hr)) result = hr;
  }
  return result;
}

void FilterGraph::Post(LONG code, LONG_PTR p1, LONG_PTR p2)
{
  // Under m_eventLock.
  if (code == EC_COMPLETE && m_defaultComplete) {
    m_completed.insert(p2);
    if (m_completed.size() < m_renderers) return;
    p2 = 0;
  }
  if (!m_done && (code == EC_COMPLETE || code == EC_ERRORABORT || code == EC_USERABORT)) {
    m_done = true;
    m_doneCode = code;
  }
  try {
    m_events.push_back({code, p1, p2});
  } catch (...) {
  }
  m_eventCond.notify_all();
}

HRESULT FilterGraph::Notify(LONG code, LONG_PTR p1, LONG_PTR p2)
{
  std::lock_guard<std::mutex> l(m_eventLock);
  Post(code, p1, p2);
  return S_OK;
}

HRESULT FilterGraph::GetEvent(LONG *code, LONG_PTR *p1, LONG_PTR *p2, LONG msTimeout)
{
  if (!code || !p1 || !p2) return E_POINTER;
  std::unique_lock<std::mutex> l(m_eventLock);
  auto have = [&] { return !m_events.empty(); };
  if (DWORD(msTimeout) == INFINITE)
    m_eventCond.wait(l, have);
  else if (!m_eventCond.wait_for(l, std::chrono::milliseconds(msTimeout < 0 ? 0 : msTimeout), have))
    return E_ABORT;
  Event e = m_events.front();
  m_events.pop_front();
  *code = e.code;
  *p1 = e.p1;
  *p2 = e.p2;
  return S_OK;
}

HRESULT FilterGraph::WaitForCompletion(LONG msTimeout, LONG *code)
{
  if (!code) return E_POINTER;
  *code = 0;
  {
    CAutoLock l(m_lock);
    if (m_state == State_Stopped) return VFW_E_WRONG_STATE;
  }
  std::unique_lock<std::mutex> l(m_eventLock);
  auto done = [&] { return m_done; };
  if (DWORD(msTimeout) == INFINITE)
    m_eventCond.wait(l, done);
  else if (!m_eventCond.wait_for(l, std::chrono::milliseconds(msTimeout < 0 ? 0 : msTimeout), done))
    return E_ABORT;
  *code = m_doneCode;
  return S_OK;
}

HRESULT FilterGraph::DefaultHandling(LONG code, bool on)
{
  if (code != EC_COMPLETE) return E_INVALIDARG;
  std::lock_guard<std::mutex> l(m_eventLock);
  m_defaultComplete = on;
  return S_OK;
}

HRESULT FilterGraph::GetCapabilities(DWORD *caps)
{
  if (!caps) return E_POINTER;
  // What every renderer can do.
  DWORD all = ~DWORD(0);
  HRESULT hr = ForEach(
    [&](IMediaSeeking *s) {
      DWORD c = 0;
      HRESULT r = s->GetCapabilities(&c);
      if (SUCCEEDED(r)) all &= c;
      return r;
    },
    false);
  *caps = SUCCEEDED(hr) ? all : 0;
  return hr;
}

HRESULT FilterGraph::CheckCapabilities(DWORD *caps)
{
  if (!caps) return E_POINTER;
  DWORD have = 0;
  HRESULT hr = GetCapabilities(&have);
  if (FAILED(hr)) return hr;
  DWORD want = *caps;
  *caps &= have;
  return *caps == want ? S_OK : *caps ? S_FALSE : E_FAIL;
}

HRESULT FilterGraph::GetDuration(LONGLONG *duration)
{
  if (!duration) return E_POINTER;
  // The longest of the renderers' streams.
  LONGLONG longest = 0;
  HRESULT hr = ForEach(
    [&](IMediaSeeking *s) {
      LONGLONG d = 0;
      HRESULT r = s->GetDuration(&d);
      if (SUCCEEDED(r)) longest = std::max(longest, d);
      return r;
    },
    false);
  *duration = longest;
  return hr;
}

HRESULT FilterGraph::SetPositions(LONGLONG *current, DWORD currentFlags, LONGLONG *stop, DWORD stopFlags)
{
  CAutoLock l(m_lock);
  // A seek starts the stream again: the renderers complete once more.
  {
    std::lock_guard<std::mutex> e(m_eventLock);
    if ((currentFlags & AM_SEEKING_PositioningBitsMask) != AM_SEEKING_NoPositioning) {
      m_completed.clear();
      m_done = false;
    }
  }
  return ForEach([&](IMediaSeeking *s) { return s->SetPositions(current, currentFlags, stop, stopFlags); }, true);
}

const CFactoryTemplate templates[] = {
  {u"Filter Graph", &CLSID_FilterGraph, FilterGraph::CreateInstance, nullptr, nullptr},
};

}  // namespace

TARVO_DSHOW_CLASS_OBJECT(templates, 1)
TARVO_DSHOW_REGISTRATION
