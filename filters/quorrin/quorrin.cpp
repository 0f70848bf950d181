// The MP3 parser filter: a pull input pin over the sequential allocator, the
// stream parser, and one output pin that hands each frame downstream
// without copying it, with seeking and the declared-duration control.
#include <quorrin/quorrin.h>
#include <tarvo_com/com_wave.h>
#include <tarvo_dshow/base_filter.h>
#include <tarvo_dshow/base_stream.h>

#include "mp3_stream.h"
#include "seqalloc.h"

#include <memory>
#include <new>

namespace {

constexpr DWORD kAllCaps = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards |
                           AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration;
constexpr REFERENCE_TIME kUnsetTime = 0x3FFFFFFFFFFFFFFF;
constexpr LONG kBatch = 50;

class CMp3Parser;

// A frame handed downstream: it lies over the input buffer and keeps the
// input sample that holds its first byte until it is let go.
class FrameSample final : public CMediaSample {
 public:
  FrameSample(IMediaSample *in, const BYTE *data, LONG length)
    : CMediaSample("Mp3 frame", nullptr, nullptr, const_cast<BYTE *>(data), length), m_in(in)
  {
    if (m_in) m_in->AddRef();
  }
  ~FrameSample() override
  {
    if (m_in) m_in->Release();
  }

 private:
  IMediaSample *m_in;
};

class ParserPull final : public CPullPin {
 public:
  explicit ParserPull(CMp3Parser *f) : m_filter(f) {}
  ~ParserPull() override { Disconnect(); }
  HRESULT Receive(IMediaSample *sample) override;
  HRESULT EndOfStream() override;
  void OnError(HRESULT hr) override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;

 private:
  CMp3Parser *m_filter;
};

class CParserInputPin final : public CBaseInputPin {
 public:
  CParserInputPin(CMp3Parser *f, CCritSec *lock, HRESULT *phr);
  HRESULT CheckMediaType(const CMediaType *pmt) override;
  HRESULT CheckConnect(IPin *pin) override;
  HRESULT CompleteConnect(IPin *pin) override;
  HRESULT BreakConnect() override;
  HRESULT Active() override { return m_pull.Active(); }
  HRESULT Inactive() override
  {
    m_pull.Inactive();
    return CBaseInputPin::Inactive();
  }
  ParserPull m_pull;

 private:
  CMp3Parser *m_parser;
};

class COutputPin final : public CBaseOutputPin, public IMediaSeeking {
 public:
  COutputPin(CMp3Parser *f, CCritSec *lock, HRESULT *phr, const CMediaType &mt);
  ~COutputPin() override { delete m_queue; }
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override
  {
    if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking *>(this), ppv);
    return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
  }
  HRESULT CheckMediaType(const CMediaType *pmt) override { return *pmt == m_type ? S_OK : S_FALSE; }
  HRESULT GetMediaType(int i, CMediaType *pmt) override
  {
    if (i < 0) return E_INVALIDARG;
    if (i > 0) return VFW_S_NO_MORE_ITEMS;
    *pmt = m_type;
    return pmt->IsValid() ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT DecideAllocator(IMemInputPin *pin, IMemAllocator **alloc) override;
  HRESULT DecideBufferSize(IMemAllocator *, ALLOCATOR_PROPERTIES *) override { return S_OK; }
  HRESULT Active() override;
  HRESULT Inactive() override;

  HRESULT DeliverFrame(IMediaSample *in, const BYTE *data, LONG length, REFERENCE_TIME time);
  void MarkSegment() { m_newSegment = true; }

  // IMediaSeeking, answered by the filter.
  HRESULT GetCapabilities(DWORD *caps) override;
  HRESULT CheckCapabilities(DWORD *caps) override;
  HRESULT IsFormatSupported(const GUID *f) override;
  HRESULT QueryPreferredFormat(GUID *f) override;
  HRESULT GetTimeFormat(GUID *f) override { return QueryPreferredFormat(f); }
  HRESULT IsUsingTimeFormat(const GUID *f) override { return IsFormatSupported(f); }
  HRESULT SetTimeFormat(const GUID *f) override;
  HRESULT GetDuration(LONGLONG *d) override;
  HRESULT GetStopPosition(LONGLONG *s) override;
  HRESULT GetCurrentPosition(LONGLONG *) override { return E_NOTIMPL; }
  HRESULT ConvertTimeFormat(LONGLONG *target, const GUID *tf, LONGLONG source, const GUID *sf) override;
  HRESULT SetPositions(LONGLONG *current, DWORD cf, LONGLONG *stop, DWORD sf) override;
  HRESULT GetPositions(LONGLONG *current, LONGLONG *stop) override;
  HRESULT GetAvailable(LONGLONG *earliest, LONGLONG *latest) override;
  HRESULT SetRate(double rate) override;
  HRESULT GetRate(double *rate) override;
  HRESULT GetPreroll(LONGLONG *p) override
  {
    if (!p) return E_POINTER;
    *p = 0;
    return S_OK;
  }

  COutputQueue *m_queue = nullptr;

 private:
  CMp3Parser *m_parser;
  CMediaType m_type;
  bool m_newSegment = true;
};

// The parser's reads go straight to the upstream reader.
class ReaderSource final : public Mp3Source {
 public:
  explicit ReaderSource(IAsyncReader *r) : m_r(r) {}
  HRESULT Read(LONGLONG pos, LONG len, BYTE *buf) override { return m_r->SyncRead(pos, len, buf); }
  HRESULT Length(LONGLONG *total, LONGLONG *avail) override { return m_r->Length(total, avail); }

 private:
  IAsyncReader *m_r;
};

class CMp3Parser final : public CBaseFilter, public IMp3ParserControl, public Mp3StreamSink {
 public:
  CMp3Parser(LPUNKNOWN outer, HRESULT *phr);
  ~CMp3Parser() override;
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override
  {
    if (riid == IID_IMp3ParserControl) return GetInterface(static_cast<IMp3ParserControl *>(this), ppv);
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
  }
  static CUnknown *CreateInstance(LPUNKNOWN outer, HRESULT *phr)
  {
    auto *f = new (std::nothrow) CMp3Parser(outer, phr);
    if (!f) *phr = E_OUTOFMEMORY;
    return f;
  }

  int GetPinCount() override { return m_out ? 2 : 1; }
  CBasePin *GetPin(int n) override
  {
    if (n == 0) return &m_in;
    return n == 1 ? m_out.get() : nullptr;
  }
  HRESULT Stop() override;
  HRESULT Pause() override;

  HRESULT SetDeclaredDuration(LONGLONG *d) override
  {
    if (!d) return E_INVALIDARG;
    m_declared = *d;
    return S_OK;
  }
  HRESULT GetDeclaredDuration(LONGLONG *d) override
  {
    if (!d) return E_INVALIDARG;
    *d = m_declared;
    return S_OK;
  }

  HRESULT CreateOutputPin(const BYTE *format, ULONG length) override;
  HRESULT DeliverFrame(const BYTE *data, LONG length, REFERENCE_TIME time) override;

  HRESULT OpenInput(IPin *pin);
  void CloseInput();
  HRESULT ReceiveInput(IMediaSample *sample);
  void InputEndOfStream();
  void InputBeginFlush();
  void InputEndFlush();
  bool RefreshSeekable();
  HRESULT ReSeek();

  CCritSec m_lock, m_receiveLock, m_pinLock, m_seekLock;
  CParserInputPin m_in;
  std::unique_ptr<COutputPin> m_out;
  // Output pins removed from the filter: a pin's references count on the
  // filter, so whoever still holds one (a graph tearing down, a client)
  // must find it there until the filter goes.
  std::vector<std::unique_ptr<COutputPin>> m_retired;
  void RetireOutputPin()
  {
    if (m_out) m_retired.push_back(std::move(m_out));
  }
  std::unique_ptr<Mp3StreamParser> m_stream;
  CSequentialAllocator *m_alloc = nullptr;
  // The segment the frames belong to, as streaming last started; taken
  // under the receive lock, read by the worker under it.
  REFERENCE_TIME m_segStart = 0, m_segStop = kUnsetTime;
  double m_segRate = 1.0;
  REFERENCE_TIME m_duration = kUnsetTime, m_position = 0, m_stop = kUnsetTime;
  double m_rate = 1.0;
  DWORD m_caps = kAllCaps;
  LONGLONG m_declared = -1;
};

// --- Pull pin -------------------------------------------------------------

HRESULT ParserPull::Receive(IMediaSample *sample) { return m_filter->ReceiveInput(sample); }
HRESULT ParserPull::EndOfStream()
{
  m_filter->InputEndOfStream();
  return S_OK;
}
void ParserPull::OnError(HRESULT hr) { m_filter->NotifyEvent(EC_ERRORABORT, hr, 0); }
HRESULT ParserPull::BeginFlush()
{
  m_filter->InputBeginFlush();
  return S_OK;
}
HRESULT ParserPull::EndFlush()
{
  m_filter->InputEndFlush();
  return S_OK;
}

// --- Input pin ------------------------------------------------------------

CParserInputPin::CParserInputPin(CMp3Parser *f, CCritSec *lock, HRESULT *phr)
  : CBaseInputPin("CParserInputPin", f, lock, phr, u"Input"), m_pull(f), m_parser(f)
{
}

HRESULT CParserInputPin::CheckMediaType(const CMediaType *pmt)
{
  if (pmt->majortype != MEDIATYPE_Stream) return S_FALSE;
  if (pmt->subtype == MEDIASUBTYPE_MPEG1Audio || pmt->subtype == MEDIASUBTYPE_MPEG1Payload ||
      pmt->subtype == MEDIASUBTYPE_MPEG2_AUDIO)
    return S_OK;
  return S_FALSE;
}

HRESULT CParserInputPin::CheckConnect(IPin *pin)
{
  HRESULT hr = CBaseInputPin::CheckConnect(pin);
  return FAILED(hr) ? hr : PinOffersAsyncReader(pin);
}

HRESULT CParserInputPin::CompleteConnect(IPin *pin)
{
  HRESULT hr = CBaseInputPin::CompleteConnect(pin);
  if (FAILED(hr)) return hr;
  return m_parser->OpenInput(pin);
}

HRESULT CParserInputPin::BreakConnect()
{
  m_parser->CloseInput();
  return CBaseInputPin::BreakConnect();
}

// --- Output pin -----------------------------------------------------------

COutputPin::COutputPin(CMp3Parser *f, CCritSec *lock, HRESULT *phr, const CMediaType &mt)
  : CBaseOutputPin("COutputPin", f, lock, phr, u"Output"), m_parser(f), m_type(mt)
{
  if (!m_type.IsValid() && phr) *phr = E_OUTOFMEMORY;
}

HRESULT COutputPin::DecideAllocator(IMemInputPin *pin, IMemAllocator **alloc)
{
  // Frames are samples over the input memory; the allocator only tells the
  // peer that what it gets is read-only.
  *alloc = nullptr;
  HRESULT hr = CreateMemAllocator(alloc);
  if (FAILED(hr)) return hr;
  ALLOCATOR_PROPERTIES req{1, 8192, 1, 0}, act{};
  hr = (*alloc)->SetProperties(&req, &act);
  if (SUCCEEDED(hr)) hr = pin->NotifyAllocator(*alloc, TRUE);
  if (FAILED(hr)) {
    (*alloc)->Release();
    *alloc = nullptr;
  }
  return hr;
}

HRESULT COutputPin::Active()
{
  HRESULT hr = CBaseOutputPin::Active();
  if (FAILED(hr)) return hr;
  delete m_queue;
  hr = S_OK;
  m_queue = new (std::nothrow) COutputQueue(m_Connected, &hr, FALSE, TRUE, kBatch, TRUE, kBatch);
  if (!m_queue) return E_OUTOFMEMORY;
  if (FAILED(hr)) {
    delete m_queue;
    m_queue = nullptr;
    return hr;
  }
  m_newSegment = true;
  return S_OK;
}

HRESULT COutputPin::Inactive()
{
  delete m_queue;  // joins its thread
  m_queue = nullptr;
  return CBaseOutputPin::Inactive();
}

HRESULT COutputPin::DeliverFrame(IMediaSample *in, const BYTE *data, LONG length, REFERENCE_TIME time)
{
  if (!IsConnected() || !m_queue) return S_FALSE;
  auto *s = new (std::nothrow) FrameSample(in, data, length);
  if (!s) return E_OUTOFMEMORY;
  s->AddRef();
  REFERENCE_TIME start = REFERENCE_TIME(double(time) / m_parser->m_segRate), stop = start + 1;
  s->SetTime(&start, &stop);
  s->SetSyncPoint(TRUE);
  if (m_newSegment) {
    m_queue->NewSegment(m_parser->m_segStart, m_parser->m_segStop, m_parser->m_segRate);
    s->SetDiscontinuity(TRUE);
    m_newSegment = false;
  }
  return m_queue->Receive(s);
}

HRESULT COutputPin::GetCapabilities(DWORD *caps)
{
  if (!caps) return E_POINTER;
  m_parser->RefreshSeekable();
  CAutoLock l(m_parser->m_lock);
  *caps = m_parser->m_caps;
  return S_OK;
}

HRESULT COutputPin::CheckCapabilities(DWORD *caps)
{
  if (!caps) return E_POINTER;
  DWORD have;
  GetCapabilities(&have);
  DWORD asked = *caps;
  *caps &= have;
  if (*caps == asked) return S_OK;
  return *caps ? S_FALSE : E_FAIL;
}

HRESULT COutputPin::IsFormatSupported(const GUID *f)
{
  if (!f) return E_POINTER;
  return *f == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT COutputPin::QueryPreferredFormat(GUID *f)
{
  if (!f) return E_POINTER;
  *f = TIME_FORMAT_MEDIA_TIME;
  return S_OK;
}

HRESULT COutputPin::SetTimeFormat(const GUID *f)
{
  if (!f) return E_POINTER;
  return *f == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
}

HRESULT COutputPin::GetDuration(LONGLONG *d)
{
  if (!d) return E_POINTER;
  if (!m_parser->RefreshSeekable()) return E_FAIL;
  CAutoLock l(m_parser->m_lock);
  *d = m_parser->m_duration;
  return S_OK;
}

HRESULT COutputPin::GetStopPosition(LONGLONG *s)
{
  if (!s) return E_POINTER;
  if (!m_parser->RefreshSeekable()) return E_FAIL;
  CAutoLock l(m_parser->m_lock);
  *s = m_parser->m_stop;
  return S_OK;
}

HRESULT COutputPin::ConvertTimeFormat(LONGLONG *target, const GUID *tf, LONGLONG source, const GUID *sf)
{
  if (!target) return E_POINTER;
  if ((tf && *tf != TIME_FORMAT_MEDIA_TIME) || (sf && *sf != TIME_FORMAT_MEDIA_TIME)) return E_INVALIDARG;
  *target = source;
  return S_OK;
}

HRESULT COutputPin::SetPositions(LONGLONG *current, DWORD cf, LONGLONG *stop, DWORD sf)
{
  if (!m_parser->RefreshSeekable()) return E_FAIL;
  DWORD cpos = cf & AM_SEEKING_PositioningBitsMask;
  if (cf && cpos != AM_SEEKING_AbsolutePositioning && cpos != AM_SEEKING_RelativePositioning) return E_INVALIDARG;
  if (sf & ~DWORD(AM_SEEKING_PositioningBitsMask)) return E_INVALIDARG;
  if ((cf && !current) || (sf && !stop)) return E_POINTER;
  bool moved = false;
  {
    CAutoLock l(m_parser->m_lock);
    REFERENCE_TIME now = m_parser->m_position;
    if (cpos) {
      now = cpos == AM_SEEKING_AbsolutePositioning ? *current : now + *current;
      moved = now != m_parser->m_position;
      m_parser->m_position = now;
    }
    if (sf == AM_SEEKING_AbsolutePositioning)
      m_parser->m_stop = *stop;
    else if (sf == AM_SEEKING_RelativePositioning)
      m_parser->m_stop += *stop;
    else if (sf == AM_SEEKING_IncrementalPositioning)
      m_parser->m_stop = now + *stop;
  }
  return moved ? m_parser->ReSeek() : S_OK;
}

HRESULT COutputPin::GetPositions(LONGLONG *current, LONGLONG *stop)
{
  bool seekable = m_parser->RefreshSeekable();
  CAutoLock l(m_parser->m_lock);
  if (current) *current = m_parser->m_position;
  if (stop && seekable) *stop = m_parser->m_stop;
  return S_OK;
}

HRESULT COutputPin::GetAvailable(LONGLONG *earliest, LONGLONG *latest)
{
  if (earliest) *earliest = 0;
  if (latest) {
    CAutoLock l(m_parser->m_lock);
    *latest = m_parser->m_duration;
  }
  return S_OK;
}

HRESULT COutputPin::SetRate(double rate)
{
  if (!(rate > 0)) return E_INVALIDARG;
  {
    CAutoLock l(m_parser->m_lock);
    m_parser->m_rate = rate;
  }
  return m_parser->ReSeek();
}

HRESULT COutputPin::GetRate(double *rate)
{
  if (!rate) return E_POINTER;
  CAutoLock l(m_parser->m_lock);
  *rate = m_parser->m_rate;
  return S_OK;
}

// --- Filter ---------------------------------------------------------------

CMp3Parser::CMp3Parser(LPUNKNOWN outer, HRESULT *phr)
  : CBaseFilter("CMp3Parser", outer, &m_lock, CLSID_Mp3Parser), m_in(this, &m_lock, phr)
{
}

CMp3Parser::~CMp3Parser()
{
  m_in.m_pull.Disconnect();
  CloseInput();
}

HRESULT CMp3Parser::OpenInput(IPin *pin)
{
  HRESULT hr = S_OK;
  if (!m_alloc) {
    m_alloc = new (std::nothrow) CSequentialAllocator(nullptr, &hr);
    if (!m_alloc) return E_OUTOFMEMORY;
    m_alloc->NonDelegatingAddRef();
  }
  IMemAllocator *alloc = nullptr;
  m_alloc->NonDelegatingQueryInterface(IID_IMemAllocator, reinterpret_cast<void **>(&alloc));
  hr = m_in.m_pull.Connect(pin, alloc, TRUE);
  alloc->Release();
  if (FAILED(hr)) return hr;
  if (m_in.m_pull.Allocator() != alloc) {
    // Frames must lie in one block handed out in order.
    m_in.m_pull.Disconnect();
    return VFW_E_NO_ALLOCATOR;
  }
  if (!m_stream) m_stream.reset(new (std::nothrow) Mp3StreamParser(this));
  if (!m_stream) return E_OUTOFMEMORY;
  if (m_declared != -1) m_stream->SetDeclaredDuration(m_declared);
  ReaderSource src(m_in.m_pull.GetReader());
  hr = m_stream->Open(&src);
  if (FAILED(hr)) {
    m_in.m_pull.Disconnect();
    m_stream.reset();
    CAutoLock l(m_lock);
    CAutoLock p(m_pinLock);
    RetireOutputPin();
    IncrementPinVersion();
    return hr;
  }
  {
    CAutoLock l(m_lock);
    m_duration = m_stop = m_stream->Duration();
    m_position = 0;
    m_caps = m_stream->Seekable() ? kAllCaps : (m_caps & 0xC8);
  }
  ALLOCATOR_PROPERTIES props{}, actual{};
  m_alloc->GetProperties(&props);
  m_stream->AdjustAllocatorProperties(&props);
  m_alloc->SetProperties(&props, &actual);
  return ReSeek();
}

void CMp3Parser::CloseInput()
{
  m_stream.reset();
  {
    CAutoLock p(m_pinLock);
    if (m_out) {
      if (IPin *peer = m_out->GetConnected()) {
        peer->Disconnect();
        m_out->Disconnect();
      }
      RetireOutputPin();
      IncrementPinVersion();
    }
  }
  m_in.m_pull.Disconnect();
  if (m_alloc) {
    m_alloc->ConsumeAll();
    m_alloc->Decommit();
    m_alloc->NonDelegatingRelease();
    m_alloc = nullptr;
  }
}

HRESULT CMp3Parser::CreateOutputPin(const BYTE *format, ULONG length)
{
  if (length < sizeof(WAVEFORMATEX)) return E_INVALIDARG;
  WAVEFORMATEX wfx;
  std::memcpy(&wfx, format, sizeof wfx);
  CMediaType mt(&MEDIATYPE_Audio);
  GUID sub = MEDIATYPE_Audio;  // the wave-format subtypes share its tail
  sub.Data1 = wfx.wFormatTag;
  mt.SetSubtype(&sub);
  mt.SetFormatType(&FORMAT_WaveFormatEx);
  if (!mt.SetFormat(format, length)) return E_OUTOFMEMORY;
  mt.SetSampleSize(wfx.nBlockAlign);
  if (wfx.nBlockAlign == 1) mt.SetVariableSize();
  HRESULT hr = S_OK;
  std::unique_ptr<COutputPin> pin(new (std::nothrow) COutputPin(this, &m_lock, &hr, mt));
  if (!pin) return E_OUTOFMEMORY;
  if (FAILED(hr)) return hr;
  CAutoLock l(m_lock);
  CAutoLock p(m_pinLock);
  m_out = std::move(pin);
  IncrementPinVersion();
  return S_OK;
}

HRESULT CMp3Parser::DeliverFrame(const BYTE *data, LONG length, REFERENCE_TIME time)
{
  if (!m_out || !m_alloc) return S_FALSE;
  return m_out->DeliverFrame(m_alloc->SampleAt(data), data, length, time);
}

HRESULT CMp3Parser::ReceiveInput(IMediaSample *sample)
{
  CAutoLock r(m_receiveLock);
  if (!m_stream || !m_alloc) return VFW_E_WRONG_STATE;
  HRESULT hr = m_alloc->AddReceived(sample);
  if (FAILED(hr)) return hr;
  BYTE *data;
  LONG length, used = 0;
  m_alloc->PendingRegion(&data, &length);
  hr = m_stream->Receive(data, length, &used);
  if (hr != S_OK) return hr;
  hr = m_alloc->Consume(used);
  if (hr == VFW_E_NOT_COMMITTED) return VFW_E_WRONG_STATE;  // a stop or seek halts the worker
  if (FAILED(hr)) return VFW_E_RUNTIME_ERROR;
  if (m_out && m_out->m_queue) m_out->m_queue->SendAnyway();
  return S_OK;
}

void CMp3Parser::InputEndOfStream()
{
  CAutoLock r(m_receiveLock);
  if (m_alloc) m_alloc->ConsumeAll();
  if (m_stream) m_stream->Reset(m_segStart, m_segStop);
  if (m_out && m_out->m_queue) m_out->m_queue->EOS();
}

void CMp3Parser::InputBeginFlush()
{
  CAutoLock p(m_pinLock);
  if (m_out && m_out->m_queue) m_out->m_queue->BeginFlush();
}

void CMp3Parser::InputEndFlush()
{
  REFERENCE_TIME start, stop;
  double rate;
  {
    CAutoLock l(m_lock);
    start = m_position;
    stop = m_stop;
    rate = m_rate;
  }
  CAutoLock r(m_receiveLock);
  m_segStart = start;
  m_segStop = stop;
  m_segRate = rate;
  if (m_alloc) m_alloc->ConsumeAll();
  if (m_stream) m_stream->Reset(start, stop);
  CAutoLock p(m_pinLock);
  if (m_out && m_out->m_queue) {
    m_out->m_queue->EndFlush();
    m_out->MarkSegment();
  }
}

bool CMp3Parser::RefreshSeekable()
{
  if (!m_stream) return false;
  if (m_stream->Seekable()) return true;
  IAsyncReader *r = m_in.m_pull.GetReader();
  if (!r) return false;
  ReaderSource src(r);
  CAutoLock l(m_lock);
  CAutoLock s(m_seekLock);
  m_stream->CheckEnd(&src);
  if (!m_stream->Seekable()) return false;
  m_caps |= kAllCaps;
  m_duration = m_stream->Duration();
  if (m_stop > m_duration) m_stop = m_duration;
  return true;
}

// The filter lock comes before the seek lock everywhere; the pull pin's
// worker takes neither, so holding them while the worker is halted is safe.
HRESULT CMp3Parser::ReSeek()
{
  CAutoLock l(m_lock);
  CAutoLock s(m_seekLock);
  if (!m_stream) return S_OK;
  REFERENCE_TIME now = m_position, dur = m_duration;
  LONGLONG from = m_stream->TimeToPosition(&now), to = m_stream->TimeToPosition(&dur);
  return m_in.m_pull.Seek(from * UNITS, to * UNITS);
}

HRESULT CMp3Parser::Pause()
{
  CAutoLock l(m_lock);
  if (m_State != State_Stopped) {
    m_State = State_Paused;
    return S_OK;
  }
  if (m_out && m_out->IsConnected()) {
    HRESULT hr = m_out->Active();
    if (FAILED(hr)) return hr;
  }
  CAutoLock r(m_receiveLock);
  m_segStart = m_position;
  m_segStop = m_stop;
  m_segRate = m_rate;
  if (m_in.IsConnected()) {
    if (m_alloc) m_alloc->ConsumeAll();
    if (m_stream) m_stream->Reset(m_segStart, m_segStop);
    HRESULT hr = m_in.Active();
    if (FAILED(hr)) return hr;
  }
  m_State = State_Paused;
  return S_OK;
}

HRESULT CMp3Parser::Stop()
{
  CAutoLock l(m_lock);
  if (m_in.IsConnected()) m_in.Inactive();
  CAutoLock r(m_receiveLock);
  if (m_out && m_out->IsConnected()) m_out->Inactive();
  if (m_alloc) m_alloc->ConsumeAll();
  if (m_stream) m_stream->Reset(m_segStart, m_segStop);
  m_State = State_Stopped;
  return S_OK;
}

const AMOVIESETUP_MEDIATYPE in_types[] = {{&MEDIATYPE_Stream, &MEDIASUBTYPE_MPEG1System}};
constexpr GUID kMp3Subtype = {WAVE_FORMAT_MPEGLAYER3, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const AMOVIESETUP_MEDIATYPE out_types[] = {{&MEDIATYPE_Audio, &kMp3Subtype}};
const AMOVIESETUP_PIN pins[] = {
  {u"Input", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, in_types},
  {u"Output", FALSE, TRUE, TRUE, FALSE, &CLSID_NULL, nullptr, 1, out_types},
};
const AMOVIESETUP_FILTER setup = {&CLSID_Mp3Parser, u"Kelmar MP3 Parser", MERIT_DO_NOT_USE, 2, pins};
const CFactoryTemplate templates[] = {
  {u"Kelmar MP3 Parser", &CLSID_Mp3Parser, CMp3Parser::CreateInstance, nullptr, &setup}};

}  // namespace

TARVO_DSHOW_CLASS_OBJECT(templates, 1)

// Nothing is registered on this platform, and the filter says so.
TARVO_DSHOW_EXPORT HRESULT DllRegisterServer() { return E_FAIL; }
TARVO_DSHOW_EXPORT HRESULT DllUnregisterServer() { return E_FAIL; }
