// WAVE parser: its input pin reads the RIFF header through the upstream
// reader and refuses a file whose format does not pass the checks; a pull
// pin then reads the data chunk, and the output pin delivers samples of
// whole blocks with times relative to the segment, and seeks by time.
#include "sys_filters.h"
#include "sys_limits.h"
#include "sys_seeking.h"
#include "wave_format.h"

#include <tarvo_dshow/base_filter.h>
#include <tarvo_dshow/base_stream.h>
#include <tarvo_dshow/dshow_sys.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace {

class WaveParser;

class ParserInput final : public CBasePin {
 public:
  ParserInput(WaveParser *f, CCritSec *lock, HRESULT *phr);
  HRESULT CheckMediaType(const CMediaType *pmt) override
  {
    return pmt->majortype == MEDIATYPE_Stream && pmt->subtype == MEDIASUBTYPE_WAVE ? S_OK : S_FALSE;
  }
  HRESULT CheckConnect(IPin *pin) override;
  HRESULT CompleteConnect(IPin *pin) override;
  HRESULT BreakConnect() override;
  HRESULT BeginFlush() override { return S_OK; }
  HRESULT EndFlush() override { return S_OK; }

 private:
  WaveParser *m_parser;
};

class ParserOutput final : public CBaseOutputPin, public SysSeeking {
 public:
  ParserOutput(WaveParser *f, CCritSec *lock, HRESULT *phr);
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override
  {
    if (!ppv) return E_POINTER;
    if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking *>(this), ppv);
    return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
  }
  HRESULT CheckMediaType(const CMediaType *pmt) override;
  HRESULT GetMediaType(int position, CMediaType *pmt) override;
  HRESULT DecideBufferSize(IMemAllocator *alloc, ALLOCATOR_PROPERTIES *request) override;
  HRESULT Active() override;
  HRESULT Inactive() override;

  HRESULT SeekSegment(LONGLONG *start, LONGLONG *stop, LONGLONG *duration) override;
  HRESULT SeekTo(LONGLONG *start, LONGLONG *stop) override;

 private:
  WaveParser *m_parser;
};

class ParserPull final : public CPullPin {
 public:
  explicit ParserPull(WaveParser *f) : m_parser(f) {}
  ~ParserPull() override { Disconnect(); }
  HRESULT DecideAllocator(IMemAllocator *alloc, ALLOCATOR_PROPERTIES *props) override;
  HRESULT Receive(IMediaSample *sample) override;
  HRESULT EndOfStream() override;
  void OnError(HRESULT hr) override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;

 private:
  WaveParser *m_parser;
};

class WaveParser final : public CBaseFilter {
 public:
  WaveParser(LPUNKNOWN outer, HRESULT *phr)
    : CBaseFilter("Wave parser", outer, &m_lock, CLSID_WAVEParser),
      m_input(this, &m_lock, phr),
      m_output(this, &m_lock, phr),
      m_pull(this)
  {
  }
  ~WaveParser() override { m_pull.Disconnect(); }

  int GetPinCount() override { return m_wave.format.empty() ? 1 : 2; }
  CBasePin *GetPin(int n) override
  {
    if (n == 0) return &m_input;
    return n == 1 && !m_wave.format.empty() ? &m_output : nullptr;
  }

  const WAVEFORMATEX &Format() const { return *reinterpret_cast<const WAVEFORMATEX *>(m_wave.format.data()); }
  // Times of byte offsets within the data, and back (whole blocks).
  REFERENCE_TIME TimeOf(uint64_t bytes) const
  {
    return REFERENCE_TIME(bytes / Format().nBlockAlign * Format().nBlockAlign * UNITS /
                          wave_bytes_per_second(&Format()));
  }
  uint64_t BytesOf(REFERENCE_TIME t) const
  {
    if (t <= 0) return 0;
    const WAVEFORMATEX &w = Format();
    uint64_t bytes;
    if (w.wFormatTag == WAVE_FORMAT_PCM || w.wFormatTag == WAVE_FORMAT_EXTENSIBLE)
      bytes = uint64_t(t) * w.nSamplesPerSec / UNITS * w.nBlockAlign;  // the frame at or before t
    else
      bytes = uint64_t(t) / UNITS * wave_bytes_per_second(&w) +
              uint64_t(t) % UNITS * wave_bytes_per_second(&w) / UNITS;
    bytes = bytes / w.nBlockAlign * w.nBlockAlign;
    return std::min(bytes, m_wave.data_bytes);
  }

  CCritSec m_lock;
  ParserInput m_input;
  ParserOutput m_output;
  ParserPull m_pull;
  WaveFile m_wave;
  LONG m_bufferBytes = 0;
  // The segment: data byte offsets of its start and stop.
  uint64_t m_segStart = 0, m_segStop = 0;
  bool m_discontinuity = true;
};

ParserInput::ParserInput(WaveParser *f, CCritSec *lock, HRESULT *phr)
  : CBasePin("Wave parser input", f, lock, phr, u"input pin", PINDIR_INPUT), m_parser(f)
{
}

ParserOutput::ParserOutput(WaveParser *f, CCritSec *lock, HRESULT *phr)
  : CBaseOutputPin("Wave parser output", f, lock, phr, u"output"), m_parser(f)
{
}

long reader_read(void *ctx, uint64_t offset, void *buf, size_t size)
{
  auto *r = static_cast<IAsyncReader *>(ctx);
  if (offset > uint64_t(INT64_MAX) || size > 0x7FFFFFFF) return -1;
  LONGLONG total = 0, avail = 0;
  if (FAILED(r->Length(&total, &avail)) || LONGLONG(offset) >= total) return 0;
  size_t n = size_t(std::min<LONGLONG>(LONGLONG(size), total - LONGLONG(offset)));
  HRESULT hr = r->SyncRead(LONGLONG(offset), LONG(n), static_cast<BYTE *>(buf));
  return FAILED(hr) ? -1 : hr == S_OK ? long(n) : -1;
}

HRESULT ParserInput::CheckConnect(IPin *pin)
{
  HRESULT hr = CBasePin::CheckConnect(pin);
  return FAILED(hr) ? hr : PinOffersAsyncReader(pin);
}

HRESULT ParserInput::CompleteConnect(IPin *pin)
{
  IAsyncReader *r = nullptr;
  if (FAILED(pin->QueryInterface(IID_IAsyncReader, reinterpret_cast<void **>(&r)))) return E_NOINTERFACE;
  LONGLONG total = 0, avail = 0;
  WaveFile wave;
  bool ok = SUCCEEDED(r->Length(&total, &avail)) && total > 0 && wave_file_parse(reader_read, r, uint64_t(total), &wave);
  r->Release();
  if (!ok) return VFW_E_TYPE_NOT_ACCEPTED;
  WaveParser &p = *m_parser;
  p.m_wave = std::move(wave);
  // Samples of about SYS_WAVE_SAMPLE_MS of whole blocks.
  const WAVEFORMATEX &w = p.Format();
  uint64_t per = uint64_t(wave_bytes_per_second(&w)) * SYS_WAVE_SAMPLE_MS / 1000 / w.nBlockAlign;
  p.m_bufferBytes = LONG(std::max<uint64_t>(per, 1) * w.nBlockAlign);
  p.m_segStart = 0;
  p.m_segStop = p.m_wave.data_bytes;
  HRESULT hr = p.m_pull.Connect(pin, nullptr, TRUE);
  if (SUCCEEDED(hr))
    hr = p.m_pull.Seek(REFERENCE_TIME(p.m_wave.data_start) * UNITS,
                       REFERENCE_TIME(p.m_wave.data_start + p.m_wave.data_bytes) * UNITS);
  if (FAILED(hr)) {
    p.m_pull.Disconnect();
    p.m_wave = WaveFile();
    return hr;
  }
  p.IncrementPinVersion();
  return S_OK;
}

HRESULT ParserInput::BreakConnect()
{
  WaveParser &p = *m_parser;
  if (p.m_output.IsConnected()) {
    p.m_output.GetConnected()->Disconnect();
    p.m_output.Disconnect();
  }
  p.m_pull.Disconnect();
  p.m_wave = WaveFile();
  p.IncrementPinVersion();
  return CBasePin::BreakConnect();
}


HRESULT ParserOutput::GetMediaType(int position, CMediaType *pmt)
{
  if (position < 0) return E_INVALIDARG;
  if (position > 0 || m_parser->m_wave.format.empty()) return VFW_S_NO_MORE_ITEMS;
  const std::vector<BYTE> &f = m_parser->m_wave.format;
  const WAVEFORMATEX &w = m_parser->Format();
  pmt->InitMediaType();
  pmt->SetType(&MEDIATYPE_Audio);
  GUID sub = MediaSubtypeFromWaveTag(w.wFormatTag);
  if (w.wFormatTag == WAVE_FORMAT_EXTENSIBLE)
    std::memcpy(&sub, f.data() + offsetof(WAVEFORMATEXTENSIBLE, SubFormat), sizeof sub);
  pmt->SetSubtype(&sub);
  pmt->SetFormatType(&FORMAT_WaveFormatEx);
  // The format block is the format and its extra part, nothing after it.
  if (!pmt->SetFormat(f.data(), ULONG(sizeof(WAVEFORMATEX) + w.cbSize))) return E_OUTOFMEMORY;
  pmt->SetSampleSize(w.nBlockAlign);
  return S_OK;
}

HRESULT ParserOutput::CheckMediaType(const CMediaType *pmt)
{
  CMediaType mine;
  if (GetMediaType(0, &mine) != S_OK) return S_FALSE;
  return mine == *pmt ? S_OK : S_FALSE;
}

HRESULT ParserOutput::DecideBufferSize(IMemAllocator *alloc, ALLOCATOR_PROPERTIES *request)
{
  request->cBuffers = std::max<LONG>(request->cBuffers, 4);
  request->cbBuffer = std::max<LONG>(request->cbBuffer, m_parser->m_bufferBytes);
  request->cbAlign = std::max<LONG>(request->cbAlign, 1);
  ALLOCATOR_PROPERTIES actual;
  HRESULT hr = alloc->SetProperties(request, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < m_parser->m_bufferBytes ? E_FAIL : S_OK;
}

HRESULT ParserOutput::Active()
{
  HRESULT hr = CBaseOutputPin::Active();
  if (FAILED(hr)) return hr;
  WaveParser &p = *m_parser;
  p.m_discontinuity = true;
  DeliverNewSegment(p.TimeOf(p.m_segStart), p.TimeOf(p.m_segStop), 1.0);
  return p.m_pull.Active();
}

HRESULT ParserOutput::Inactive()
{
  m_parser->m_pull.Inactive();  // joins the worker
  return CBaseOutputPin::Inactive();
}

HRESULT ParserOutput::SeekSegment(LONGLONG *start, LONGLONG *stop, LONGLONG *duration)
{
  CAutoLock l(*m_pLock);
  WaveParser &p = *m_parser;
  if (p.m_wave.format.empty()) return VFW_E_NOT_CONNECTED;
  *start = p.TimeOf(p.m_segStart);
  *stop = p.TimeOf(p.m_segStop);
  *duration = p.TimeOf(p.m_wave.data_bytes);
  return S_OK;
}

HRESULT ParserOutput::SeekTo(LONGLONG *start, LONGLONG *stop)
{
  WaveParser &p = *m_parser;
  uint64_t from, to;
  {
    CAutoLock l(*m_pLock);
    if (p.m_wave.format.empty()) return VFW_E_NOT_CONNECTED;
    // A time that is the segment's own, or the end, keeps its exact offset
    // (the round trip through a time may lose a block).
    auto bytes = [&](LONGLONG t, uint64_t now) {
      if (t == p.TimeOf(now)) return now;
      return t >= p.TimeOf(p.m_wave.data_bytes) ? p.m_wave.data_bytes : p.BytesOf(t);
    };
    from = bytes(*start, p.m_segStart);
    to = std::max(bytes(*stop, p.m_segStop), from);
    p.m_segStart = from;
    p.m_segStop = to;
    *start = p.TimeOf(from);
    *stop = p.TimeOf(to);
  }
  // While streaming the pull pin flushes downstream and starts again here.
  return p.m_pull.Seek(REFERENCE_TIME(p.m_wave.data_start + from) * UNITS,
                       REFERENCE_TIME(p.m_wave.data_start + to) * UNITS);
}

HRESULT ParserPull::DecideAllocator(IMemAllocator *alloc, ALLOCATOR_PROPERTIES *)
{
  ALLOCATOR_PROPERTIES props{4, m_parser->m_bufferBytes, 1, 0};
  return CPullPin::DecideAllocator(alloc, &props);
}

HRESULT ParserPull::Receive(IMediaSample *in)
{
  WaveParser &p = *m_parser;
  REFERENCE_TIME start, stop;
  in->GetTime(&start, &stop);
  const uint64_t block = p.Format().nBlockAlign;
  uint64_t offset = uint64_t(start / UNITS) - p.m_wave.data_start;
  uint64_t n = uint64_t(std::max<LONG>(in->GetActualDataLength(), 0));
  n = std::min(n, p.m_segStop > offset ? p.m_segStop - offset : 0) / block * block;
  if (n == 0) return S_FALSE;
  IMediaSample *out = nullptr;
  HRESULT hr = p.m_output.GetDeliveryBuffer(&out, nullptr, nullptr, 0);
  if (hr == VFW_E_NOT_COMMITTED) return VFW_E_WRONG_STATE;  // stopping
  if (FAILED(hr)) return hr;
  BYTE *src = nullptr, *dst = nullptr;
  in->GetPointer(&src);
  out->GetPointer(&dst);
  n = std::min<uint64_t>(n, uint64_t(out->GetSize()) / block * block);
  std::memcpy(dst, src, size_t(n));
  out->SetActualDataLength(LONG(n));
  REFERENCE_TIME t0 = p.TimeOf(offset) - p.TimeOf(p.m_segStart), t1 = p.TimeOf(offset + n) - p.TimeOf(p.m_segStart);
  out->SetTime(&t0, &t1);
  out->SetSyncPoint(TRUE);
  out->SetDiscontinuity(p.m_discontinuity);
  p.m_discontinuity = false;
  hr = p.m_output.Deliver(out);
  out->Release();
  if (hr == S_FALSE) return S_FALSE;  // downstream wants no more
  return FAILED(hr) ? hr : S_OK;
}

HRESULT ParserPull::EndOfStream()
{
  return m_parser->m_output.DeliverEndOfStream();
}

void ParserPull::OnError(HRESULT hr)
{
  m_parser->NotifyEvent(EC_ERRORABORT, hr, 0);
}

HRESULT ParserPull::BeginFlush()
{
  return m_parser->m_output.DeliverBeginFlush();
}

HRESULT ParserPull::EndFlush()
{
  WaveParser &p = *m_parser;
  HRESULT hr = p.m_output.DeliverEndFlush();
  p.m_discontinuity = true;
  p.m_output.DeliverNewSegment(p.TimeOf(p.m_segStart), p.TimeOf(p.m_segStop), 1.0);
  return hr;
}

}  // namespace

CUnknown *sys_new_wave_parser(LPUNKNOWN outer, HRESULT *phr)
{
  return sys_create<WaveParser>(outer, phr);
}
