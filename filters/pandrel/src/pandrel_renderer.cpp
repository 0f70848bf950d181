// The delegate renderer: one input pin that takes any type and hands each
// sample to the client's callback, with state changes told to the same
// callback and seeking passed to the filter upstream.
#include <pandrel/pandrel.h>
#include <tarvo_dshow/base_transform.h>

#include <atomic>
#include <new>

namespace {

class CDelegateRenderer;

class CDelegateFilter final : public CBaseFilter {
 public:
  CDelegateFilter(CDelegateRenderer *renderer, LPUNKNOWN owner, CCritSec *lock, HRESULT *phr);
  HRESULT Stop() override;
  HRESULT Pause() override;
  HRESULT Run(REFERENCE_TIME start) override;
  int GetPinCount() override { return 1; }
  CBasePin *GetPin(int n) override;

 private:
  CDelegateRenderer *m_renderer;
};

class CDelegateInputPin final : public CRenderedInputPin {
 public:
  CDelegateInputPin(CDelegateRenderer *renderer, CDelegateFilter *filter, CCritSec *lock, CCritSec *receiveLock,
                    HRESULT *phr)
    : CRenderedInputPin("CDelegateInputPin", filter, lock, phr, u"Input"), m_renderer(renderer),
      m_receiveLock(receiveLock)
  {
  }
  HRESULT CheckMediaType(const CMediaType *) override { return S_OK; }
  HRESULT Receive(IMediaSample *sample) override;
  HRESULT ReceiveCanBlock() override { return S_FALSE; }
  HRESULT EndOfStream() override
  {
    CAutoLock l(*m_receiveLock);
    return CRenderedInputPin::EndOfStream();
  }
  HRESULT NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

 private:
  CDelegateRenderer *m_renderer;
  CCritSec *m_receiveLock;
};

class CDelegateRenderer final : public CUnknown, public IDelegateRenderer {
 public:
  CDelegateRenderer(LPUNKNOWN outer, HRESULT *phr) : CUnknown("Delegate", outer, phr)
  {
    m_filter = new (std::nothrow) CDelegateFilter(this, GetOwner(), &m_lock, phr);
    if (m_filter) m_pin = new (std::nothrow) CDelegateInputPin(this, m_filter, &m_lock, &m_receiveLock, phr);
    if (!m_pin) *phr = E_OUTOFMEMORY;
  }
  ~CDelegateRenderer() override
  {
    delete m_pin;
    delete m_filter;
    if (m_seeking) m_seeking->NonDelegatingRelease();
  }
  DECLARE_IUNKNOWN

  static CUnknown *CreateInstance(LPUNKNOWN outer, HRESULT *phr)
  {
    auto *r = new (std::nothrow) CDelegateRenderer(outer, phr);
    if (!r) *phr = E_OUTOFMEMORY;
    return r;
  }

  HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override
  {
    if (!ppv) return E_POINTER;
    CAutoLock l(m_lock);
    if (riid == IID_IBaseFilter || riid == IID_IMediaFilter || riid == IID_IPersist)
      return m_filter->NonDelegatingQueryInterface(riid, ppv);
    if (riid == IID_IMediaPosition || riid == IID_IMediaSeeking) {
      HRESULT hr = MakeSeeking();
      if (FAILED(hr)) return hr;
      return m_seeking->NonDelegatingQueryInterface(riid, ppv);
    }
    if (riid == IID_IDelegateRenderer) return GetInterface(static_cast<IDelegateRenderer *>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
  }

  HRESULT SetCallback(DelegateCallback *callback) override
  {
    m_callback = callback;
    return S_OK;
  }

  DelegateCallback *Callback() const { return m_callback; }
  CDelegateInputPin *Pin() const { return m_pin; }

 private:
  // Made on the first seeking query; its calls go to the input pin's peer.
  HRESULT MakeSeeking()
  {
    if (m_seeking) return S_OK;
    HRESULT hr = S_OK;
    auto *s = new (std::nothrow) CPosPassThru(nullptr, GetOwner(), &hr, m_pin);
    if (!s) return E_OUTOFMEMORY;
    if (FAILED(hr)) {
      delete s;
      return hr;
    }
    s->NonDelegatingAddRef();
    m_seeking = s;
    return S_OK;
  }

  CDelegateFilter *m_filter = nullptr;
  CDelegateInputPin *m_pin = nullptr;
  CCritSec m_lock;         // state changes of the filter and the pin, and queries
  CCritSec m_receiveLock;  // re-entered: a failed Receive ends the stream under it
  CPosPassThru *m_seeking = nullptr;
  // Set by the client's thread, read on the streaming thread.
  std::atomic<DelegateCallback *> m_callback{nullptr};
};

CDelegateFilter::CDelegateFilter(CDelegateRenderer *renderer, LPUNKNOWN owner, CCritSec *lock, HRESULT *phr)
  : CBaseFilter(nullptr, owner, lock, CLSID_DelegateRenderer, phr), m_renderer(renderer)
{
}

CBasePin *CDelegateFilter::GetPin(int n)
{
  return n == 0 ? m_renderer->Pin() : nullptr;
}

// The callback hears of each change before the filter makes it; what it
// answers does not change the transition.
HRESULT CDelegateFilter::Stop()
{
  CAutoLock l(*m_pLock);
  if (DelegateCallback *cb = m_renderer->Callback()) cb->Stop();
  return CBaseFilter::Stop();
}

HRESULT CDelegateFilter::Pause()
{
  CAutoLock l(*m_pLock);
  if (DelegateCallback *cb = m_renderer->Callback()) cb->Pause();
  return CBaseFilter::Pause();
}

HRESULT CDelegateFilter::Run(REFERENCE_TIME start)
{
  CAutoLock l(*m_pLock);
  if (DelegateCallback *cb = m_renderer->Callback()) cb->Run(start);
  return CBaseFilter::Run(start);
}

HRESULT CDelegateInputPin::Receive(IMediaSample *sample)
{
  if (!sample) return E_POINTER;
  CAutoLock l(*m_receiveLock);
  DelegateCallback *cb = m_renderer->Callback();
  HRESULT hr = cb ? cb->Receive(sample) : S_OK;
  // The client ends the stream by failing: the graph hears EC_COMPLETE once.
  if (FAILED(hr)) EndOfStream();
  return hr;
}

const AMOVIESETUP_MEDIATYPE pin_types[] = {{&GUID_NULL, &GUID_NULL}};
const AMOVIESETUP_PIN pins[] = {{u"Input", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, u"Output", 1, pin_types}};
const AMOVIESETUP_FILTER setup = {&CLSID_DelegateRenderer, u"Delegate", MERIT_DO_NOT_USE, 1, pins};
const CFactoryTemplate templates[] = {
  {u"Delegate", &CLSID_DelegateRenderer, CDelegateRenderer::CreateInstance, nullptr, &setup},
};

}  // namespace

TARVO_DSHOW_CLASS_OBJECT(templates, 1)
TARVO_DSHOW_REGISTRATION
