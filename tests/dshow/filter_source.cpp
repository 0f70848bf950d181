// Test source filter: a pull pin over an in-memory reader, one output pin
// that copies each block into a delivery buffer and hands it to an output
// queue, and seeking on the output pin that restarts the pull pin.
#include <tarvo_dshow/base_filter.h>
#include <tarvo_dshow/base_stream.h>

#include "test_filters.h"

#include <new>

namespace {

class MemReader final : public CUnknown, public IAsyncReader {
 public:
  MemReader() : CUnknown("MemReader", nullptr) {}
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override
  {
    if (riid == IID_IAsyncReader) return GetInterface(static_cast<IAsyncReader *>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
  }

  HRESULT RequestAllocator(IMemAllocator *preferred, ALLOCATOR_PROPERTIES *props, IMemAllocator **actual) override
  {
    IMemAllocator *a = preferred;
    HRESULT hr = S_OK;
    if (a)
      a->AddRef();
    else
      hr = CreateMemAllocator(&a);
    if (FAILED(hr)) return hr;
    ALLOCATOR_PROPERTIES got;
    hr = a->SetProperties(props, &got);
    if (FAILED(hr)) {
      a->Release();
      return hr;
    }
    *actual = a;
    return S_OK;
  }
  HRESULT Request(IMediaSample *, DWORD_PTR) override { return E_NOTIMPL; }
  HRESULT WaitForNext(DWORD, IMediaSample **, DWORD_PTR *) override { return E_NOTIMPL; }
  HRESULT SyncReadAligned(IMediaSample *sample) override
  {
    if (m_flushing) return VFW_E_WRONG_STATE;
    REFERENCE_TIME start, stop;
    if (FAILED(sample->GetTime(&start, &stop))) return VFW_E_SAMPLE_TIME_NOT_SET;
    LONGLONG from = start / UNITS, to = std::min<LONGLONG>(stop / UNITS, TEST_STREAM_BYTES);
    if (to - from > sample->GetSize()) return VFW_E_BUFFER_OVERFLOW;
    BYTE *p;
    sample->GetPointer(&p);
    for (LONGLONG k = from; k < to; k++) p[k - from] = test_stream_byte(k);
    sample->SetActualDataLength(LONG(std::max<LONGLONG>(to - from, 0)));
    return to * UNITS < stop ? S_FALSE : S_OK;
  }
  HRESULT SyncRead(LONGLONG, LONG, BYTE *) override { return E_NOTIMPL; }
  HRESULT Length(LONGLONG *total, LONGLONG *available) override
  {
    *total = *available = TEST_STREAM_BYTES;
    return S_OK;
  }
  HRESULT BeginFlush() override
  {
    m_flushing = true;
    return S_OK;
  }
  HRESULT EndFlush() override
  {
    m_flushing = false;
    return S_OK;
  }

 private:
  std::atomic<bool> m_flushing{false};
};

class SourceFilter;

class SourcePull final : public CPullPin {
 public:
  explicit SourcePull(SourceFilter *f) : m_filter(f) {}
  ~SourcePull() override { Disconnect(); }
  HRESULT Receive(IMediaSample *sample) override;
  HRESULT EndOfStream() override;
  void OnError(HRESULT hr) override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;

 private:
  SourceFilter *m_filter;
};

class SourcePin final : public CBaseOutputPin, public IMediaSeeking {
 public:
  SourcePin(SourceFilter *f, CCritSec *lock, HRESULT *phr);
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override
  {
    if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking *>(this), ppv);
    return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
  }

  HRESULT CheckMediaType(const CMediaType *pmt) override
  {
    return test_stream_type(pmt, {MEDIASUBTYPE_TestA, MEDIASUBTYPE_TestB}) ? S_OK : S_FALSE;
  }
  HRESULT GetMediaType(int position, CMediaType *pmt) override
  {
    return test_media_type(position, {MEDIASUBTYPE_TestB, MEDIASUBTYPE_TestA}, pmt);
  }
  HRESULT DecideBufferSize(IMemAllocator *alloc, ALLOCATOR_PROPERTIES *request) override
  {
    return test_decide_buffer_size(alloc, request, 3);
  }
  HRESULT Active() override;
  HRESULT Inactive() override;

  HRESULT GetCapabilities(DWORD *caps) override
  {
    *caps = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanGetDuration;
    return S_OK;
  }
  HRESULT CheckCapabilities(DWORD *) override { return E_NOTIMPL; }
  HRESULT IsFormatSupported(const GUID *f) override { return *f == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE; }
  HRESULT QueryPreferredFormat(GUID *f) override { *f = TIME_FORMAT_MEDIA_TIME; return S_OK; }
  HRESULT GetTimeFormat(GUID *f) override { *f = TIME_FORMAT_MEDIA_TIME; return S_OK; }
  HRESULT IsUsingTimeFormat(const GUID *f) override { return IsFormatSupported(f); }
  HRESULT SetTimeFormat(const GUID *f) override { return *f == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG; }
  HRESULT GetDuration(LONGLONG *d) override { *d = TEST_STREAM_BYTES * TEST_UNITS_PER_BYTE; return S_OK; }
  HRESULT GetStopPosition(LONGLONG *s) override { return GetDuration(s); }
  HRESULT GetCurrentPosition(LONGLONG *) override { return E_NOTIMPL; }
  HRESULT ConvertTimeFormat(LONGLONG *, const GUID *, LONGLONG, const GUID *) override { return E_NOTIMPL; }
  HRESULT SetPositions(LONGLONG *current, DWORD currentFlags, LONGLONG *, DWORD) override;
  HRESULT GetPositions(LONGLONG *, LONGLONG *) override { return E_NOTIMPL; }
  HRESULT GetAvailable(LONGLONG *, LONGLONG *) override { return E_NOTIMPL; }
  HRESULT SetRate(double) override { return E_NOTIMPL; }
  HRESULT GetRate(double *r) override { *r = 1.0; return S_OK; }
  HRESULT GetPreroll(LONGLONG *p) override { *p = 0; return S_OK; }

  COutputQueue *m_queue = nullptr;

 private:
  SourceFilter *m_source;
};

class SourceFilter final : public CBaseFilter {
 public:
  SourceFilter(LPUNKNOWN outer, HRESULT *phr)
    : CBaseFilter("SourceFilter", outer, &m_lock, CLSID_TestSource), m_pin(this, &m_lock, phr), m_pull(this)
  {
    m_reader = new (std::nothrow) MemReader();
    if (!m_reader) {
      *phr = E_OUTOFMEMORY;
      return;
    }
    m_reader->NonDelegatingAddRef();
    HRESULT hr = m_pull.Connect(m_reader->InnerUnknown(), nullptr, TRUE);
    if (FAILED(hr)) *phr = hr;
  }
  ~SourceFilter() override
  {
    m_pull.Disconnect();
    if (m_reader) m_reader->NonDelegatingRelease();
  }

  static CUnknown *CreateInstance(LPUNKNOWN outer, HRESULT *phr)
  {
    auto *f = new (std::nothrow) SourceFilter(outer, phr);
    if (!f) *phr = E_OUTOFMEMORY;
    return f;
  }

  int GetPinCount() override { return 1; }
  CBasePin *GetPin(int n) override { return n == 0 ? &m_pin : nullptr; }

  CCritSec m_lock;
  SourcePin m_pin;
  SourcePull m_pull;
  MemReader *m_reader = nullptr;
};

SourcePin::SourcePin(SourceFilter *f, CCritSec *lock, HRESULT *phr)
  : CBaseOutputPin("SourcePin", f, lock, phr, u"Output"), m_source(f)
{
}

HRESULT SourcePin::Active()
{
  HRESULT hr = CBaseOutputPin::Active();
  if (FAILED(hr)) return hr;
  m_queue = new (std::nothrow) COutputQueue(m_Connected, &hr, FALSE, TRUE, DSHOW_OUTPUT_QUEUE_DEFAULT_BATCH, TRUE);
  if (!m_queue) return E_OUTOFMEMORY;
  m_queue->NewSegment(0, TEST_STREAM_BYTES * TEST_UNITS_PER_BYTE, 1.0);
  return m_source->m_pull.Active();
}

HRESULT SourcePin::Inactive()
{
  m_source->m_pull.Inactive();  // joins the worker
  delete m_queue;               // joins the queue's thread
  m_queue = nullptr;
  return CBaseOutputPin::Inactive();
}

HRESULT SourcePin::SetPositions(LONGLONG *current, DWORD currentFlags, LONGLONG *, DWORD)
{
  if ((currentFlags & AM_SEEKING_PositioningBitsMask) != AM_SEEKING_AbsolutePositioning) return E_INVALIDARG;
  REFERENCE_TIME from = *current / TEST_UNITS_PER_BYTE * UNITS;
  return m_source->m_pull.Seek(from, TEST_STREAM_BYTES * UNITS);
}

HRESULT SourcePull::Receive(IMediaSample *in)
{
  SourcePin &pin = m_filter->m_pin;
  IMediaSample *out = nullptr;
  HRESULT hr = pin.GetDeliveryBuffer(&out, nullptr, nullptr, 0);
  if (hr == VFW_E_NOT_COMMITTED) return VFW_E_WRONG_STATE;  // downstream stops
  if (FAILED(hr)) return hr;
  REFERENCE_TIME start, stop;
  in->GetTime(&start, &stop);
  LONG n = in->GetActualDataLength();
  BYTE *src, *dst;
  in->GetPointer(&src);
  out->GetPointer(&dst);
  std::memcpy(dst, src, size_t(n));
  out->SetActualDataLength(n);
  REFERENCE_TIME t0 = start / UNITS * TEST_UNITS_PER_BYTE, t1 = t0 + n * TEST_UNITS_PER_BYTE;
  out->SetTime(&t0, &t1);
  out->SetSyncPoint(TRUE);
  hr = pin.m_queue->Receive(out);
  pin.m_queue->SendAnyway();
  return FAILED(hr) ? hr : S_OK;
}

HRESULT SourcePull::EndOfStream()
{
  m_filter->m_pin.m_queue->EOS();
  return S_OK;
}

void SourcePull::OnError(HRESULT hr)
{
  m_filter->NotifyEvent(EC_ERRORABORT, hr, 0);
}

HRESULT SourcePull::BeginFlush()
{
  m_filter->m_pin.m_queue->BeginFlush();
  return S_OK;
}

HRESULT SourcePull::EndFlush()
{
  COutputQueue *q = m_filter->m_pin.m_queue;
  q->EndFlush();
  q->NewSegment(0, TEST_STREAM_BYTES * TEST_UNITS_PER_BYTE, 1.0);
  return S_OK;
}

const AMOVIESETUP_MEDIATYPE pin_types[] = {{&MEDIATYPE_Stream, &MEDIASUBTYPE_TestA}};
const AMOVIESETUP_PIN pins[] = {{u"Output", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, pin_types}};
const AMOVIESETUP_FILTER setup = {&CLSID_TestSource, u"Test source", MERIT_DO_NOT_USE, 1, pins};
const CFactoryTemplate templates[] = {{u"Test source", &CLSID_TestSource, SourceFilter::CreateInstance, nullptr, &setup}};

}  // namespace

TARVO_DSHOW_CLASS_OBJECT(templates, 1)
TARVO_DSHOW_REGISTRATION
