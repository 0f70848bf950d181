// Test renderer: a rendered input pin that hands every sample and flush to
// the test's callback, answers seeking through a pass-through, and can be
// aggregated.
#include <tarvo_dshow/base_transform.h>

#include "test_filters.h"

#include <new>

namespace {

class SinkFilter;

class SinkPin final : public CRenderedInputPin {
 public:
  SinkPin(SinkFilter *f, CCritSec *lock, HRESULT *phr);

  HRESULT CheckMediaType(const CMediaType *pmt) override
  {
    // Audio of any kind too, for the system filters' tests.
    if (pmt->majortype == MEDIATYPE_Audio) return S_OK;
    return test_stream_type(pmt, {MEDIASUBTYPE_TestC, MEDIASUBTYPE_TestD}) ? S_OK : S_FALSE;
  }
  HRESULT GetMediaType(int position, CMediaType *pmt) override
  {
    return test_media_type(position, {MEDIASUBTYPE_TestD, MEDIASUBTYPE_TestC}, pmt);
  }
  HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES *props) override
  {
    *props = ALLOCATOR_PROPERTIES{TEST_SINK_BUFFERS, 0, TEST_SINK_ALIGN, 0};
    return S_OK;
  }
  HRESULT Receive(IMediaSample *sample) override;
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;
  IMemAllocator *Allocator() const { return m_pAllocator; }

 private:
  SinkFilter *m_sink;
};

class SinkFilter final : public CBaseFilter, public ITestSink {
 public:
  SinkFilter(LPUNKNOWN outer, HRESULT *phr)
    : CBaseFilter("SinkFilter", outer, &m_lock, CLSID_TestSink), m_pin(this, &m_lock, phr)
  {
  }
  ~SinkFilter() override
  {
    if (m_seeking) m_seeking->NonDelegatingRelease();
  }
  DECLARE_IUNKNOWN

  static CUnknown *CreateInstance(LPUNKNOWN outer, HRESULT *phr)
  {
    auto *f = new (std::nothrow) SinkFilter(outer, phr);
    if (!f) *phr = E_OUTOFMEMORY;
    return f;
  }

  HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override
  {
    if (!ppv) return E_POINTER;
    if (riid == IID_ITestSink) return GetInterface(static_cast<ITestSink *>(this), ppv);
    if (riid == IID_IMediaSeeking) {
      CAutoLock l(m_lock);
      if (!m_seeking) {
        HRESULT hr = S_OK;
        m_seeking = new (std::nothrow) CPosPassThru("Sink seeking", GetOwner(), &hr, &m_pin);
        if (!m_seeking) return E_OUTOFMEMORY;
        m_seeking->NonDelegatingAddRef();
      }
      return m_seeking->NonDelegatingQueryInterface(riid, ppv);
    }
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
  }

  HRESULT SetCallback(TestSinkCallback *callback) override
  {
    m_callback = callback;
    return S_OK;
  }
  HRESULT GetAllocatorProperties(ALLOCATOR_PROPERTIES *props) override
  {
    CAutoLock l(m_lock);
    IMemAllocator *a = m_pin.Allocator();
    return a ? a->GetProperties(props) : VFW_E_NO_ALLOCATOR;
  }

  int GetPinCount() override { return 1; }
  CBasePin *GetPin(int n) override { return n == 0 ? &m_pin : nullptr; }

  CCritSec m_lock, m_receiveLock;
  SinkPin m_pin;
  std::atomic<TestSinkCallback *> m_callback{nullptr};
  CPosPassThru *m_seeking = nullptr;
};

SinkPin::SinkPin(SinkFilter *f, CCritSec *lock, HRESULT *phr)
  : CRenderedInputPin("SinkPin", f, lock, phr, u"Input"), m_sink(f)
{
}

HRESULT SinkPin::Receive(IMediaSample *sample)
{
  CAutoLock l(m_sink->m_receiveLock);
  HRESULT hr = CRenderedInputPin::Receive(sample);
  if (hr != S_OK) return hr;
  TestSinkCallback *cb = m_sink->m_callback;
  return cb ? cb->Receive(sample) : S_OK;
}

HRESULT SinkPin::EndOfStream()
{
  CAutoLock l(m_sink->m_receiveLock);
  return CRenderedInputPin::EndOfStream();
}

HRESULT SinkPin::BeginFlush()
{
  HRESULT hr = CRenderedInputPin::BeginFlush();
  if (TestSinkCallback *cb = m_sink->m_callback) cb->BeginFlush();
  return hr;
}

HRESULT SinkPin::EndFlush()
{
  if (TestSinkCallback *cb = m_sink->m_callback) cb->EndFlush();
  return CRenderedInputPin::EndFlush();
}

const AMOVIESETUP_MEDIATYPE pin_types[] = {{&GUID_NULL, &GUID_NULL}};
const AMOVIESETUP_PIN pins[] = {{u"Input", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, u"Output", 1, pin_types}};
const AMOVIESETUP_FILTER setup = {&CLSID_TestSink, u"Test sink", MERIT_DO_NOT_USE, 1, pins};
const CFactoryTemplate templates[] = {{u"Test sink", &CLSID_TestSink, SinkFilter::CreateInstance, nullptr, &setup}};

}  // namespace

TARVO_DSHOW_CLASS_OBJECT(templates, 1)
TARVO_DSHOW_REGISTRATION
