// WM ASF Reader: a file opened by Load through FFmpeg's ASF demuxer (its
// bytes read through util's file calls), one output pin for each audio
// stream, carrying that stream's compressed packets with times relative to
// the segment.  One streaming thread reads the file for all pins; a seek on
// any pin moves the whole file, starting a little before the new position
// so that a decoder has warmed up by then (it drops what comes before).
#include "asf_demux.h"
#include "ffmpeg_glue.h"
#include "sys_filters.h"
#include "sys_limits.h"
#include "sys_seeking.h"
#include "sys_source_file.h"

#include <tarvo_dshow/base_filter.h>
#include <tarvo_dshow/dshow_sys.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <thread>
#include <vector>

namespace {

class AsfReader;

const WCHAR *const pin_names[SYS_ASF_MAX_PINS] = {u"Raw Audio 0", u"Raw Audio 1", u"Raw Audio 2", u"Raw Audio 3",
                                                  u"Raw Audio 4", u"Raw Audio 5", u"Raw Audio 6", u"Raw Audio 7"};

class AsfPin final : public CBaseOutputPin, public SysSeeking {
 public:
  AsfPin(AsfReader *f, CCritSec *lock, HRESULT *phr, int n, int stream, std::vector<BYTE> format);
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override
  {
    if (!ppv) return E_POINTER;
    if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking *>(this), ppv);
    return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
  }
  HRESULT CheckMediaType(const CMediaType *pmt) override
  {
    CMediaType mine;
    GetMediaType(0, &mine);
    return mine == *pmt ? S_OK : S_FALSE;
  }
  HRESULT GetMediaType(int position, CMediaType *pmt) override;
  HRESULT DecideBufferSize(IMemAllocator *alloc, ALLOCATOR_PROPERTIES *request) override;
  HRESULT SeekSegment(LONGLONG *start, LONGLONG *stop, LONGLONG *duration) override;
  HRESULT SeekTo(LONGLONG *start, LONGLONG *stop) override;

  // One packet, in as many samples as it needs; S_OK while downstream
  // wants more.
  HRESULT DeliverPacket(const AVPacket *pkt, REFERENCE_TIME t0, REFERENCE_TIME t1);

  const int m_stream;
  const std::vector<BYTE> m_format;  // the WAVEFORMATEX and its extra bytes
  bool m_discontinuity = true;
  bool m_done = false;  // this run delivers no more on the pin
  REFERENCE_TIME m_next = 0;  // the end of the last packet, for one without a time

 private:
  LONG BufferBytes() const;
  AsfReader *m_reader;
};

class AsfReader final : public CBaseFilter, public IFileSourceFilter {
 public:
  AsfReader(LPUNKNOWN outer, HRESULT *) : CBaseFilter("WM ASF reader", outer, &m_lock, CLSID_WMAsfReader) {}
  ~AsfReader() override
  {
    Stop();
    asf_demux_close(&m_demux);
    sys_source_close(&m_src);
  }
  DECLARE_IUNKNOWN

  HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override
  {
    if (!ppv) return E_POINTER;
    if (riid == IID_IFileSourceFilter) return GetInterface(static_cast<IFileSourceFilter *>(this), ppv);
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
  }
  int GetPinCount() override { return int(m_pins.size()); }
  CBasePin *GetPin(int n) override { return n >= 0 && size_t(n) < m_pins.size() ? m_pins[size_t(n)].get() : nullptr; }

  HRESULT Load(LPCOLESTR fileName, const AM_MEDIA_TYPE *pmt) override;
  HRESULT GetCurFile(LPOLESTR *fileName, AM_MEDIA_TYPE *pmt) override;

  HRESULT Pause() override
  {
    CAutoLock l(m_lock);
    bool starting = m_State == State_Stopped;
    HRESULT hr = CBaseFilter::Pause();
    if (SUCCEEDED(hr) && starting) hr = StartStreaming();
    return hr;
  }
  HRESULT Stop() override
  {
    CAutoLock l(m_lock);
    m_quit = true;
    HRESULT hr = CBaseFilter::Stop();  // decommits: a thread waiting for a buffer wakes
    if (m_thread.joinable()) m_thread.join();
    return hr;
  }

  // The segment moves; while streaming the pins flush and the thread starts
  // again at the new position.
  HRESULT Seek(REFERENCE_TIME start, REFERENCE_TIME stop)
  {
    CAutoLock l(m_lock);
    if (!m_thread.joinable()) {
      m_segStart = start;
      m_segStop = stop;
      return S_OK;
    }
    m_quit = true;
    for (auto &p : m_pins)
      if (p->IsConnected()) p->DeliverBeginFlush();
    m_thread.join();
    for (auto &p : m_pins)
      if (p->IsConnected()) p->DeliverEndFlush();
    m_segStart = start;
    m_segStop = stop;
    return StartStreaming();
  }

  // Reads from the file for the demuxer.
  static int IoRead(void *opaque, uint8_t *buf, int size);
  static int64_t IoSeek(void *opaque, int64_t offset, int whence);

  CCritSec m_lock;
  SysSourceFile m_src;
  int64_t m_pos = 0;
  AsfDemux m_demux;
  AVFormatContext *m_fmt = nullptr;  // the demuxer's, once open
  std::vector<std::unique_ptr<AsfPin>> m_pins;
  REFERENCE_TIME m_duration = 0;
  REFERENCE_TIME m_segStart = 0, m_segStop = 0;

 private:
  HRESULT StartStreaming()
  {
    m_quit = false;
    try {
      m_thread = std::thread([this] { Stream(); });
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }
  void Stream();

  std::thread m_thread;
  std::atomic<bool> m_quit{false};
  bool m_moved = false;  // the demuxer has read past the header
};

AsfPin::AsfPin(AsfReader *f, CCritSec *lock, HRESULT *phr, int n, int stream, std::vector<BYTE> format)
  : CBaseOutputPin("WM ASF reader output", f, lock, phr, pin_names[n]),
    m_stream(stream),
    m_format(std::move(format)),
    m_reader(f)
{
}

HRESULT AsfPin::GetMediaType(int position, CMediaType *pmt)
{
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  WAVEFORMATEX w;
  std::memcpy(&w, m_format.data(), sizeof w);
  GUID sub = MediaSubtypeFromWaveTag(w.wFormatTag);
  pmt->InitMediaType();
  pmt->SetType(&MEDIATYPE_Audio);
  pmt->SetSubtype(&sub);
  pmt->SetFormatType(&FORMAT_WaveFormatEx);
  pmt->SetSampleSize(w.nBlockAlign);
  pmt->SetTemporalCompression(TRUE);
  return pmt->SetFormat(m_format.data(), ULONG(m_format.size())) ? S_OK : E_OUTOFMEMORY;
}

LONG AsfPin::BufferBytes() const
{
  WAVEFORMATEX w;
  std::memcpy(&w, m_format.data(), sizeof w);
  return std::max<LONG>(SYS_ASF_SAMPLE_BYTES, w.nBlockAlign);
}

HRESULT AsfPin::DecideBufferSize(IMemAllocator *alloc, ALLOCATOR_PROPERTIES *request)
{
  request->cBuffers = std::max<LONG>(request->cBuffers, 4);
  request->cbBuffer = std::max<LONG>(request->cbBuffer, BufferBytes());
  request->cbAlign = std::max<LONG>(request->cbAlign, 1);
  ALLOCATOR_PROPERTIES actual;
  HRESULT hr = alloc->SetProperties(request, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < 1 ? E_FAIL : S_OK;
}

HRESULT AsfPin::SeekSegment(LONGLONG *start, LONGLONG *stop, LONGLONG *duration)
{
  CAutoLock l(*m_pLock);
  *start = m_reader->m_segStart;
  *stop = m_reader->m_segStop;
  *duration = m_reader->m_duration;
  return S_OK;
}

HRESULT AsfPin::SeekTo(LONGLONG *start, LONGLONG *stop)
{
  return m_reader->Seek(*start, *stop);
}

HRESULT AsfPin::DeliverPacket(const AVPacket *pkt, REFERENCE_TIME t0, REFERENCE_TIME t1)
{
  size_t at = 0, size = size_t(pkt->size);
  while (at < size) {
    IMediaSample *s = nullptr;
    HRESULT hr = GetDeliveryBuffer(&s, nullptr, nullptr, 0);
    if (FAILED(hr)) return hr;
    size_t n = std::min(size - at, size_t(std::max<LONG>(s->GetSize(), 0)));
    BYTE *dst = nullptr;
    s->GetPointer(&dst);
    std::memcpy(dst, pkt->data + at, n);
    s->SetActualDataLength(LONG(n));
    // The packet's first piece carries its time; the rest continue it.
    if (at == 0)
      s->SetTime(&t0, &t1);
    else
      s->SetTime(nullptr, nullptr);
    s->SetSyncPoint(at == 0 && (pkt->flags & AV_PKT_FLAG_KEY));
    s->SetDiscontinuity(m_discontinuity);
    m_discontinuity = false;
    at += n;
    hr = Deliver(s);
    s->Release();
    if (hr != S_OK) return hr;
    if (n == 0) return E_FAIL;
  }
  return S_OK;
}

int AsfReader::IoRead(void *opaque, uint8_t *buf, int size)
{
  auto *r = static_cast<AsfReader *>(opaque);
  uint32_t got = 0;
  if (size <= 0) return 0;
  if (!sys_file_read(r->m_src.file, buf, uint32_t(size), &got)) return AVERROR(EIO);
  r->m_pos += got;
  return got ? int(got) : AVERROR_EOF;
}

int64_t AsfReader::IoSeek(void *opaque, int64_t offset, int whence)
{
  auto *r = static_cast<AsfReader *>(opaque);
  whence &= ~AVSEEK_FORCE;
  if (whence == AVSEEK_SIZE) return int64_t(r->m_src.size);
  int64_t to = whence == SEEK_SET ? offset
               : whence == SEEK_CUR ? r->m_pos + offset
               : whence == SEEK_END ? int64_t(r->m_src.size) + offset
                                    : -1;
  if (to < 0 || !sys_file_seek_set(r->m_src.file, to, nullptr)) return AVERROR(EINVAL);
  r->m_pos = to;
  return to;
}

HRESULT AsfReader::Load(LPCOLESTR fileName, const AM_MEDIA_TYPE *)
{
  CAutoLock l(m_lock);
  HRESULT hr = sys_source_open(&m_src, fileName);
  if (FAILED(hr)) return hr;
  m_pos = 0;
  auto fail = [&](HRESULT why) {
    asf_demux_close(&m_demux);
    m_fmt = nullptr;
    m_pins.clear();
    sys_source_close(&m_src);
    return why;
  };
  hr = asf_demux_open(&m_demux, this, IoRead, IoSeek);
  if (FAILED(hr)) return fail(hr);
  m_fmt = m_demux.fmt;
  for (unsigned i = 0; i < m_fmt->nb_streams && m_pins.size() < SYS_ASF_MAX_PINS; i++) {
    const AVCodecParameters *par = m_fmt->streams[i]->codecpar;
    if (par->codec_type != AVMEDIA_TYPE_AUDIO) continue;
    std::vector<BYTE> format = asf_stream_format(par);
    if (format.empty()) continue;
    auto *pin = new (std::nothrow) AsfPin(this, &m_lock, &hr, int(m_pins.size()), int(i), std::move(format));
    if (!pin) return fail(E_OUTOFMEMORY);
    m_pins.emplace_back(pin);
  }
  if (FAILED(hr)) return fail(hr);
  if (m_pins.empty()) return fail(VFW_E_INVALID_FILE_FORMAT);
  m_duration = m_fmt->duration > 0 ? av_rescale(m_fmt->duration, UNITS, AV_TIME_BASE) : 0;
  if (m_duration <= 0) m_duration = MAX_TIME;  // not known: any position is taken
  m_segStart = 0;
  m_segStop = m_duration;
  IncrementPinVersion();
  return S_OK;
}

HRESULT AsfReader::GetCurFile(LPOLESTR *fileName, AM_MEDIA_TYPE *pmt)
{
  CAutoLock l(m_lock);
  HRESULT hr = sys_source_cur_file(m_src, fileName);
  if (SUCCEEDED(hr) && pmt) {
    std::memset(pmt, 0, sizeof *pmt);
    pmt->majortype = MEDIATYPE_Stream;
  }
  return hr;
}

void AsfReader::Stream()
{
  const REFERENCE_TIME start = m_segStart, stop = m_segStop;
  HRESULT err = S_OK;
  if (start > 0 || m_moved) {
    int64_t target = std::max<int64_t>(0, (start - SYS_ASF_SEEK_LEAD) / (UNITS / AV_TIME_BASE));
    if (av_seek_frame(m_fmt, -1, target, AVSEEK_FLAG_BACKWARD) < 0 &&
        av_seek_frame(m_fmt, -1, 0, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY) < 0)
      err = E_FAIL;
  }
  m_moved = true;
  int live = 0;
  for (auto &p : m_pins) {
    p->m_discontinuity = true;
    p->m_done = !p->IsConnected();
    p->m_next = 0;
    live += !p->m_done;
    if (!p->m_done) p->DeliverNewSegment(start, stop, 1.0);
  }
  AVPacket *pkt = av_packet_alloc();
  if (!pkt) err = E_OUTOFMEMORY;
  while (SUCCEEDED(err) && live > 0 && !m_quit) {
    int r = av_read_frame(m_fmt, pkt);
    if (r == AVERROR_EOF) break;
    if (r < 0) {
      // Whatever stops the demuxer short of the end is an error.
      err = r == AVERROR(EIO) ? STG_E_READFAULT : FAILED(ff_hresult(r)) ? ff_hresult(r) : E_FAIL;
      break;
    }
    AsfPin *pin = nullptr;
    for (auto &p : m_pins)
      if (p->m_stream == pkt->stream_index && !p->m_done) pin = p.get();
    if (pin && pkt->size > 0) {
      const AVRational tb = m_fmt->streams[pkt->stream_index]->time_base;
      int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
      REFERENCE_TIME t0 = ts != AV_NOPTS_VALUE ? av_rescale_q(ts, tb, AVRational{1, int(UNITS)}) - start : pin->m_next;
      REFERENCE_TIME t1 = t0 + std::max<REFERENCE_TIME>(av_rescale_q(pkt->duration, tb, AVRational{1, int(UNITS)}), 0);
      pin->m_next = t1;
      if (t0 + start >= stop) {
        pin->m_done = true;
        live--;
      } else {
        HRESULT hr = pin->DeliverPacket(pkt, t0, t1);
        if (hr != S_OK) {
          pin->m_done = true;  // downstream wants no more, or has failed and said so
          live--;
        }
      }
    }
    av_packet_unref(pkt);
  }
  av_packet_free(&pkt);
  if (m_quit) return;  // stopped or moved: no end of stream
  if (FAILED(err)) NotifyEvent(EC_ERRORABORT, err, 0);
  for (auto &p : m_pins)
    if (p->IsConnected()) p->DeliverEndOfStream();
}

}  // namespace

CUnknown *sys_new_asf_reader(LPUNKNOWN outer, HRESULT *phr)
{
  return sys_create<AsfReader>(outer, phr);
}
