// The seeking pass-through and the transform filter with its two pins.
#include <tarvo_dshow/base_transform.h>

#include <new>

// Seeking pass-through.

CPosPassThru::CPosPassThru(const char *name, LPUNKNOWN outer, HRESULT *phr, IPin *pin)
  : CUnknown(name, outer, phr), m_pPin(pin)
{
  if (!pin && phr) *phr = E_POINTER;
}

HRESULT CPosPassThru::NonDelegatingQueryInterface(REFIID riid, void **ppv)
{
  if (!ppv) return E_POINTER;
  if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking *>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CPosPassThru::GetPeerSeeking(IMediaSeeking **seeking)
{
  *seeking = nullptr;
  IPin *peer = nullptr;
  if (FAILED(m_pPin->ConnectedTo(&peer))) return E_NOTIMPL;
  HRESULT hr = peer->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void **>(seeking));
  peer->Release();
  return FAILED(hr) ? E_NOTIMPL : S_OK;
}

// Every call goes to the upstream filter's seeking as it is.
#define PASS_THROUGH(call) \
  IMediaSeeking *peer; \
  HRESULT hr = GetPeerSeeking(&peer); \
  if (FAILED(hr)) return hr; \
  hr = peer->call; \
  peer->Release(); \
  return hr

HRESULT CPosPassThru::GetCapabilities(DWORD *caps) { PASS_THROUGH(GetCapabilities(caps)); }
HRESULT CPosPassThru::CheckCapabilities(DWORD *caps) { PASS_THROUGH(CheckCapabilities(caps)); }
HRESULT CPosPassThru::IsFormatSupported(const GUID *f) { PASS_THROUGH(IsFormatSupported(f)); }
HRESULT CPosPassThru::QueryPreferredFormat(GUID *f) { PASS_THROUGH(QueryPreferredFormat(f)); }
HRESULT CPosPassThru::GetTimeFormat(GUID *f) { PASS_THROUGH(GetTimeFormat(f)); }
HRESULT CPosPassThru::IsUsingTimeFormat(const GUID *f) { PASS_THROUGH(IsUsingTimeFormat(f)); }
HRESULT CPosPassThru::SetTimeFormat(const GUID *f) { PASS_THROUGH(SetTimeFormat(f)); }
HRESULT CPosPassThru::GetDuration(LONGLONG *d) { PASS_THROUGH(GetDuration(d)); }
HRESULT CPosPassThru::GetStopPosition(LONGLONG *s) { PASS_THROUGH(GetStopPosition(s)); }
HRESULT CPosPassThru::GetCurrentPosition(LONGLONG *c) { PASS_THROUGH(GetCurrentPosition(c)); }
HRESULT CPosPassThru::ConvertTimeFormat(LONGLONG *t, const GUID *tf, LONGLONG s, const GUID *sf)
{
  PASS_THROUGH(ConvertTimeFormat(t, tf, s, sf));
}
HRESULT CPosPassThru::SetPositions(LONGLONG *c, DWORD cf, LONGLONG *s, DWORD sf)
{
  PASS_THROUGH(SetPositions(c, cf, s, sf));
}
HRESULT CPosPassThru::GetPositions(LONGLONG *c, LONGLONG *s) { PASS_THROUGH(GetPositions(c, s)); }
HRESULT CPosPassThru::GetAvailable(LONGLONG *e, LONGLONG *l) { PASS_THROUGH(GetAvailable(e, l)); }
HRESULT CPosPassThru::SetRate(double r) { PASS_THROUGH(SetRate(r)); }
HRESULT CPosPassThru::GetRate(double *r) { PASS_THROUGH(GetRate(r)); }
HRESULT CPosPassThru::GetPreroll(LONGLONG *p) { PASS_THROUGH(GetPreroll(p)); }

#undef PASS_THROUGH

// Transform input pin.

CTransformInputPin::CTransformInputPin(const char *objectName, CTransformFilter *filter, HRESULT *phr,
                                       LPCWSTR name)
  : CBaseInputPin(objectName, filter, &filter->m_csFilter, phr, name), m_pTransformFilter(filter)
{
}

HRESULT CTransformInputPin::QueryId(LPWSTR *id)
{
  if (!id) return E_POINTER;
  *id = TaskMemString(u"In");
  return *id ? S_OK : E_OUTOFMEMORY;
}

HRESULT CTransformInputPin::CheckConnect(IPin *pin)
{
  HRESULT hr = m_pTransformFilter->CheckConnect(PINDIR_INPUT, pin);
  if (FAILED(hr)) return hr;
  return CBaseInputPin::CheckConnect(pin);
}

HRESULT CTransformInputPin::BreakConnect()
{
  m_pTransformFilter->BreakConnect(PINDIR_INPUT);
  return CBaseInputPin::BreakConnect();
}

HRESULT CTransformInputPin::CompleteConnect(IPin *receivePin)
{
  HRESULT hr = m_pTransformFilter->CompleteConnect(PINDIR_INPUT, receivePin);
  if (FAILED(hr)) return hr;
  return CBaseInputPin::CompleteConnect(receivePin);
}

HRESULT CTransformInputPin::CheckMediaType(const CMediaType *pmt)
{
  HRESULT hr = m_pTransformFilter->CheckInputType(pmt);
  if (hr != S_OK) return hr;
  CTransformOutputPin *out = m_pTransformFilter->m_pOutput;
  if (out && out->IsConnected()) return m_pTransformFilter->CheckTransform(pmt, &out->CurrentMediaType());
  return S_OK;
}

HRESULT CTransformInputPin::SetMediaType(const CMediaType *pmt)
{
  HRESULT hr = CBasePin::SetMediaType(pmt);
  if (FAILED(hr)) return hr;
  return m_pTransformFilter->SetMediaType(PINDIR_INPUT, pmt);
}

HRESULT CTransformInputPin::CheckStreaming()
{
  CTransformOutputPin *out = m_pTransformFilter->m_pOutput;
  if (!out || !out->IsConnected()) return VFW_E_NOT_CONNECTED;
  return CBaseInputPin::CheckStreaming();
}

HRESULT CTransformInputPin::Receive(IMediaSample *sample)
{
  CAutoLock lock(m_pTransformFilter->m_csReceive);
  HRESULT hr = CBaseInputPin::Receive(sample);
  if (hr == S_OK) hr = m_pTransformFilter->Receive(sample);
  return hr;
}

HRESULT CTransformInputPin::EndOfStream()
{
  CAutoLock lock(m_pTransformFilter->m_csReceive);
  HRESULT hr = CheckStreaming();
  if (hr == S_OK) hr = m_pTransformFilter->EndOfStream();
  return hr;
}

HRESULT CTransformInputPin::BeginFlush()
{
  CAutoLock lock(m_pTransformFilter->m_csFilter);
  CTransformOutputPin *out = m_pTransformFilter->m_pOutput;
  if (!IsConnected() || !out || !out->IsConnected()) return VFW_E_NOT_CONNECTED;
  HRESULT hr = CBaseInputPin::BeginFlush();
  if (FAILED(hr)) return hr;
  return m_pTransformFilter->BeginFlush();
}

HRESULT CTransformInputPin::EndFlush()
{
  CAutoLock lock(m_pTransformFilter->m_csFilter);
  CTransformOutputPin *out = m_pTransformFilter->m_pOutput;
  if (!IsConnected() || !out || !out->IsConnected()) return VFW_E_NOT_CONNECTED;
  HRESULT hr = m_pTransformFilter->EndFlush();
  if (FAILED(hr)) return hr;
  return CBaseInputPin::EndFlush();
}

HRESULT CTransformInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
  CBasePin::NewSegment(start, stop, rate);
  return m_pTransformFilter->NewSegment(start, stop, rate);
}

// Transform output pin.

CTransformOutputPin::CTransformOutputPin(const char *objectName, CTransformFilter *filter, HRESULT *phr,
                                         LPCWSTR name)
  : CBaseOutputPin(objectName, filter, &filter->m_csFilter, phr, name), m_pTransformFilter(filter)
{
}

CTransformOutputPin::~CTransformOutputPin()
{
  if (m_pPosition) m_pPosition->NonDelegatingRelease();
}

HRESULT CTransformOutputPin::NonDelegatingQueryInterface(REFIID riid, void **ppv)
{
  if (!ppv) return E_POINTER;
  if (riid == IID_IMediaSeeking) {
    CAutoLock lock(m_csPosition);
    if (!m_pPosition) {
      HRESULT hr = S_OK;
      auto *p = new (std::nothrow) CPosPassThru("Pass-through", GetOwner(), &hr, m_pTransformFilter->InputPin());
      if (!p) return E_OUTOFMEMORY;
      if (FAILED(hr)) {
        delete p;
        return hr;
      }
      m_pPosition = p;
      m_pPosition->NonDelegatingAddRef();
    }
    return m_pPosition->NonDelegatingQueryInterface(riid, ppv);
  }
  return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CTransformOutputPin::QueryId(LPWSTR *id)
{
  if (!id) return E_POINTER;
  *id = TaskMemString(u"Out");
  return *id ? S_OK : E_OUTOFMEMORY;
}

HRESULT CTransformOutputPin::CheckConnect(IPin *pin)
{
  CTransformInputPin *in = m_pTransformFilter->m_pInput;
  if (!in || !in->IsConnected()) return E_UNEXPECTED;
  HRESULT hr = m_pTransformFilter->CheckConnect(PINDIR_OUTPUT, pin);
  if (FAILED(hr)) return hr;
  return CBaseOutputPin::CheckConnect(pin);
}

HRESULT CTransformOutputPin::BreakConnect()
{
  m_pTransformFilter->BreakConnect(PINDIR_OUTPUT);
  return CBaseOutputPin::BreakConnect();
}

HRESULT CTransformOutputPin::CompleteConnect(IPin *receivePin)
{
  HRESULT hr = m_pTransformFilter->CompleteConnect(PINDIR_OUTPUT, receivePin);
  if (FAILED(hr)) return hr;
  return CBaseOutputPin::CompleteConnect(receivePin);
}

HRESULT CTransformOutputPin::CheckMediaType(const CMediaType *pmt)
{
  CTransformInputPin *in = m_pTransformFilter->m_pInput;
  if (!in || !in->IsConnected()) return E_INVALIDARG;
  return m_pTransformFilter->CheckTransform(&in->CurrentMediaType(), pmt);
}

HRESULT CTransformOutputPin::SetMediaType(const CMediaType *pmt)
{
  HRESULT hr = CBasePin::SetMediaType(pmt);
  if (FAILED(hr)) return hr;
  return m_pTransformFilter->SetMediaType(PINDIR_OUTPUT, pmt);
}

HRESULT CTransformOutputPin::GetMediaType(int position, CMediaType *pmt)
{
  CTransformInputPin *in = m_pTransformFilter->m_pInput;
  if (!in || !in->IsConnected()) return E_UNEXPECTED;
  return m_pTransformFilter->GetMediaType(position, pmt);
}

HRESULT CTransformOutputPin::DecideBufferSize(IMemAllocator *alloc, ALLOCATOR_PROPERTIES *request)
{
  return m_pTransformFilter->DecideBufferSize(alloc, request);
}

// Transform filter.

CTransformFilter::CTransformFilter(const char *name, LPUNKNOWN outer, REFCLSID clsid)
  : CBaseFilter(name, outer, &m_csFilter, clsid)
{
}

CTransformFilter::~CTransformFilter()
{
  delete m_pInput;
  delete m_pOutput;
}

CBasePin *CTransformFilter::GetPin(int n)
{
  if (!m_pInput) {
    HRESULT hr = S_OK;
    m_pInput = NewInputPin(&hr);
    if (m_pInput && SUCCEEDED(hr)) m_pOutput = NewOutputPin(&hr);
    if (!m_pInput || !m_pOutput || FAILED(hr)) {
      delete m_pInput;
      delete m_pOutput;
      m_pInput = nullptr;
      m_pOutput = nullptr;
    }
  }
  if (n == 0) return m_pInput;
  if (n == 1) return m_pOutput;
  return nullptr;
}

CTransformInputPin *CTransformFilter::NewInputPin(HRESULT *phr)
{
  return new (std::nothrow) CTransformInputPin("Transform input pin", this, phr, u"XForm In");
}

CTransformOutputPin *CTransformFilter::NewOutputPin(HRESULT *phr)
{
  return new (std::nothrow) CTransformOutputPin("Transform output pin", this, phr, u"XForm Out");
}

HRESULT CTransformFilter::FindPin(LPCWSTR id, IPin **pin)
{
  if (!id || !pin) return E_POINTER;
  if (WideEqual(id, u"In") || WideEqual(id, u"Out")) {
    *pin = GetPin(WideEqual(id, u"In") ? 0 : 1);
    if (!*pin) return VFW_E_NOT_FOUND;
    (*pin)->AddRef();
    return S_OK;
  }
  return CBaseFilter::FindPin(id, pin);
}

HRESULT CTransformFilter::Stop()
{
  CAutoLock lock(m_csFilter);
  if (m_State == State_Stopped) return S_OK;
  if (!m_pInput || !m_pInput->IsConnected() || !m_pOutput->IsConnected()) {
    m_State = State_Stopped;
    m_bEOSDelivered = false;
    return S_OK;
  }
  // The input first, so that no new sample starts; then wait for the one
  // in progress by taking the receive lock.
  m_pInput->Inactive();
  CAutoLock lock2(m_csReceive);
  m_pOutput->Inactive();
  HRESULT hr = StopStreaming();
  if (SUCCEEDED(hr)) {
    m_State = State_Stopped;
    m_bEOSDelivered = false;
  }
  return hr;
}

HRESULT CTransformFilter::Pause()
{
  CAutoLock lock(m_csFilter);
  HRESULT hr = S_OK;
  if (m_State == State_Paused) return S_OK;
  if (!m_pInput || !m_pInput->IsConnected()) {
    // Nothing will come: tell downstream at once.
    if (m_pOutput && m_pOutput->IsConnected() && !m_bEOSDelivered) {
      m_pOutput->DeliverEndOfStream();
      m_bEOSDelivered = true;
    }
    m_State = State_Paused;
  } else if (!m_pOutput->IsConnected()) {
    m_State = State_Paused;
  } else {
    if (m_State == State_Stopped) {
      CAutoLock lock2(m_csReceive);
      hr = StartStreaming();
    }
    if (SUCCEEDED(hr)) hr = CBaseFilter::Pause();
  }
  m_bSampleSkipped = false;
  return hr;
}

HRESULT CTransformFilter::InitializeOutputSample(IMediaSample *in, IMediaSample **out)
{
  DWORD flags = m_bSampleSkipped ? AM_GBF_PREVFRAMESKIPPED : 0;
  if (in->IsSyncPoint() != S_OK) flags |= AM_GBF_NOTASYNCPOINT;
  REFERENCE_TIME start = 0, stop = 0;
  bool timed = SUCCEEDED(in->GetTime(&start, &stop));
  HRESULT hr = m_pOutput->GetDeliveryBuffer(out, timed ? &start : nullptr, timed ? &stop : nullptr, flags);
  if (FAILED(hr)) return hr;
  IMediaSample *o = *out;
  if (timed)
    o->SetTime(&start, &stop);
  else
    o->SetTime(nullptr, nullptr);
  o->SetSyncPoint(in->IsSyncPoint() == S_OK);
  o->SetPreroll(in->IsPreroll() == S_OK);
  o->SetDiscontinuity(m_bSampleSkipped || in->IsDiscontinuity() == S_OK);
  LONGLONG mstart, mstop;
  if (in->GetMediaTime(&mstart, &mstop) == S_OK)
    o->SetMediaTime(&mstart, &mstop);
  else
    o->SetMediaTime(nullptr, nullptr);
  return S_OK;
}

HRESULT CTransformFilter::Receive(IMediaSample *sample)
{
  IMediaSample *out = nullptr;
  HRESULT hr = InitializeOutputSample(sample, &out);
  // Downstream has stopped and given up its buffers: a state, not an error
  // for upstream to report.
  if (hr == VFW_E_NOT_COMMITTED) return VFW_E_WRONG_STATE;
  if (FAILED(hr)) return hr;
  hr = Transform(sample, out);
  if (hr == S_OK) {
    hr = m_pOutput->Deliver(out);
    m_bSampleSkipped = false;
  } else if (hr == S_FALSE) {
    // Dropped on purpose: the next sample is a discontinuity.
    m_bSampleSkipped = true;
    hr = S_OK;
  }
  out->Release();
  return hr;
}

HRESULT CTransformFilter::EndOfStream()
{
  return m_pOutput ? m_pOutput->DeliverEndOfStream() : S_OK;
}

HRESULT CTransformFilter::BeginFlush()
{
  return m_pOutput ? m_pOutput->DeliverBeginFlush() : S_OK;
}

HRESULT CTransformFilter::EndFlush()
{
  return m_pOutput ? m_pOutput->DeliverEndFlush() : S_OK;
}

HRESULT CTransformFilter::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
  return m_pOutput ? m_pOutput->DeliverNewSegment(start, stop, rate) : S_OK;
}
