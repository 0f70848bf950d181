// The base filter: state changes over its pins, the graph it joins and the
// events it sends there.
#include <tarvo_dshow/base_filter.h>

#include <new>

CBaseFilter::CBaseFilter(const char *name, LPUNKNOWN outer, CCritSec *lock, REFCLSID clsid, HRESULT *phr)
  : CUnknown(name, outer, phr), m_clsid(clsid), m_pLock(lock)
{
}

CBaseFilter::~CBaseFilter()
{
  delete[] m_pName;
  if (m_pClock) m_pClock->Release();
}

HRESULT CBaseFilter::NonDelegatingQueryInterface(REFIID riid, void **ppv)
{
  if (!ppv) return E_POINTER;
  if (riid == IID_IBaseFilter || riid == IID_IMediaFilter || riid == IID_IPersist)
    return GetInterface(static_cast<IBaseFilter *>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseFilter::GetClassID(CLSID *clsid)
{
  if (!clsid) return E_POINTER;
  *clsid = m_clsid;
  return S_OK;
}

HRESULT CBaseFilter::Stop()
{
  CAutoLock lock(*m_pLock);
  HRESULT hr = S_OK;
  if (m_State != State_Stopped) {
    for (int i = 0, n = GetPinCount(); i < n; i++) {
      CBasePin *pin = GetPin(i);
      if (!pin || !pin->IsConnected()) continue;
      HRESULT hrPin = pin->Inactive();
      if (FAILED(hrPin) && SUCCEEDED(hr)) hr = hrPin;
    }
  }
  m_State = State_Stopped;
  return hr;
}

HRESULT CBaseFilter::Pause()
{
  CAutoLock lock(*m_pLock);
  if (m_State == State_Stopped) {
    for (int i = 0, n = GetPinCount(); i < n; i++) {
      CBasePin *pin = GetPin(i);
      if (!pin || !pin->IsConnected()) continue;
      HRESULT hr = pin->Active();
      if (FAILED(hr)) return hr;
    }
  }
  m_State = State_Paused;
  return S_OK;
}

HRESULT CBaseFilter::Run(REFERENCE_TIME start)
{
  CAutoLock lock(*m_pLock);
  m_tStart = start;
  if (m_State == State_Stopped) {
    HRESULT hr = Pause();
    if (FAILED(hr)) return hr;
  }
  if (m_State != State_Running) {
    for (int i = 0, n = GetPinCount(); i < n; i++) {
      CBasePin *pin = GetPin(i);
      if (!pin || !pin->IsConnected()) continue;
      HRESULT hr = pin->Run(start);
      if (FAILED(hr)) return hr;
    }
  }
  m_State = State_Running;
  return S_OK;
}

HRESULT CBaseFilter::GetState(DWORD, FILTER_STATE *state)
{
  if (!state) return E_POINTER;
  *state = m_State;
  return S_OK;
}

HRESULT CBaseFilter::SetSyncSource(IReferenceClock *clock)
{
  CAutoLock lock(*m_pLock);
  if (clock) clock->AddRef();
  if (m_pClock) m_pClock->Release();
  m_pClock = clock;
  return S_OK;
}

HRESULT CBaseFilter::GetSyncSource(IReferenceClock **clock)
{
  if (!clock) return E_POINTER;
  CAutoLock lock(*m_pLock);
  *clock = m_pClock;
  if (m_pClock) m_pClock->AddRef();
  return S_OK;
}

HRESULT CBaseFilter::EnumPins(IEnumPins **pins)
{
  if (!pins) return E_POINTER;
  auto *e = new (std::nothrow) CEnumPins(this, nullptr);
  *pins = nullptr;
  return e ? GetInterface(e, reinterpret_cast<void **>(pins)) : E_OUTOFMEMORY;
}

HRESULT CBaseFilter::FindPin(LPCWSTR id, IPin **pin)
{
  if (!id || !pin) return E_POINTER;
  CAutoLock lock(*m_pLock);
  for (int i = 0, n = GetPinCount(); i < n; i++) {
    CBasePin *p = GetPin(i);
    if (p && WideEqual(p->Name(), id)) {
      *pin = p;
      p->AddRef();
      return S_OK;
    }
  }
  *pin = nullptr;
  return VFW_E_NOT_FOUND;
}

HRESULT CBaseFilter::QueryFilterInfo(FILTER_INFO *info)
{
  if (!info) return E_POINTER;
  CopyWideString(info->achName, m_pName ? m_pName : u"", MAX_FILTER_NAME);
  info->pGraph = m_pGraph;
  if (m_pGraph) m_pGraph->AddRef();
  return S_OK;
}

HRESULT CBaseFilter::JoinFilterGraph(IFilterGraph *graph, LPCWSTR name)
{
  CAutoLock lock(*m_pLock);
  m_pGraph = graph;
  m_pSink = nullptr;
  if (graph) {
    // Kept without a reference, like the graph itself.
    IMediaEventSink *sink = nullptr;
    if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void **>(&sink)))) {
      sink->Release();
      m_pSink = sink;
    }
  }
  delete[] m_pName;
  m_pName = nullptr;
  if (name) {
    size_t n = WideLength(name) + 1;
    m_pName = new (std::nothrow) WCHAR[n];
    if (!m_pName) return E_OUTOFMEMORY;
    CopyWideString(m_pName, name, n);
  }
  return S_OK;
}

HRESULT CBaseFilter::QueryVendorInfo(LPWSTR *)
{
  return E_NOTIMPL;
}

HRESULT CBaseFilter::NotifyEvent(LONG code, LONG_PTR param1, LONG_PTR param2)
{
  IMediaEventSink *sink = m_pSink;
  if (!sink) return E_NOTIMPL;
  if (code == EC_COMPLETE) param2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter *>(this));
  return sink->Notify(code, param1, param2);
}

HRESULT CBaseFilter::ReconnectPin(IPin *pin, const AM_MEDIA_TYPE *)
{
  if (!m_pGraph) return VFW_E_NOT_IN_GRAPH;
  return m_pGraph->Reconnect(pin);
}

bool CBaseFilter::IsActive()
{
  return m_State != State_Stopped;
}

bool CBaseFilter::IsStopped()
{
  return m_State == State_Stopped;
}
