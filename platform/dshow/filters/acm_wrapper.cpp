// ACM wrapper: decodes MS and IMA ADPCM and MPEG layer 2 and 3 audio to
// 16-bit PCM of the same rate and channels.  Each input sample may give
// any amount of PCM, delivered in buffers of the output allocator, timed
// by the samples decoded since the last discontinuity.
#include "ffmpeg_glue.h"
#include "sys_filters.h"

#include <tarvo_dshow/base_transform.h>
#include <tarvo_dshow/dshow_sys.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr LONG OUTPUT_BUFFER_BYTES = 64 * 1024;

class AcmWrapper final : public CTransformFilter {
 public:
  explicit AcmWrapper(LPUNKNOWN outer) : CTransformFilter("ACM wrapper", outer, CLSID_ACMWrapper) {}
  ~AcmWrapper() override { ff_decoder_close(&m_dec); }

  static CUnknown *CreateInstance(LPUNKNOWN outer, HRESULT *phr)
  {
    auto *f = new (std::nothrow) AcmWrapper(outer);
    if (!f) *phr = E_OUTOFMEMORY;
    return f;
  }

  HRESULT CheckInputType(const CMediaType *in) override
  {
    if (in->majortype != MEDIATYPE_Audio || in->formattype != FORMAT_WaveFormatEx) return VFW_E_TYPE_NOT_ACCEPTED;
    return ff_wave_decodable(in->Format(), in->FormatLength()) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT CheckTransform(const CMediaType *in, const CMediaType *out) override
  {
    CMediaType mine;
    if (FAILED(PcmType(in, &mine))) return VFW_E_TYPE_NOT_ACCEPTED;
    return mine == *out ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT GetMediaType(int position, CMediaType *pmt) override
  {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    if (!m_pInput || !m_pInput->IsConnected()) return E_UNEXPECTED;
    return PcmType(&m_pInput->CurrentMediaType(), pmt);
  }
  HRESULT DecideBufferSize(IMemAllocator *alloc, ALLOCATOR_PROPERTIES *request) override
  {
    request->cBuffers = std::max<LONG>(request->cBuffers, 4);
    request->cbBuffer = std::max<LONG>(request->cbBuffer, OUTPUT_BUFFER_BYTES);
    ALLOCATOR_PROPERTIES actual;
    HRESULT hr = alloc->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < m_frameBytes ? E_FAIL : S_OK;
  }
  HRESULT Transform(IMediaSample *, IMediaSample *) override { return E_UNEXPECTED; }

  HRESULT StartStreaming() override
  {
    const CMediaType &in = m_pInput->CurrentMediaType();
    m_resync = true;
    return ff_decoder_open(&m_dec, in.Format(), in.FormatLength());
  }
  HRESULT StopStreaming() override
  {
    ff_decoder_close(&m_dec);
    return S_OK;
  }

  HRESULT Receive(IMediaSample *sample) override
  {
    if (m_resync || sample->IsDiscontinuity() == S_OK) {
      REFERENCE_TIME t0 = 0, t1 = 0;
      if (SUCCEEDED(sample->GetTime(&t0, &t1))) m_base = t0;
      m_frames = 0;
      m_resync = false;
    }
    BYTE *p = nullptr;
    sample->GetPointer(&p);
    m_pcm.clear();
    HRESULT hr = ff_decoder_feed(&m_dec, p, size_t(std::max<LONG>(sample->GetActualDataLength(), 0)), &m_pcm);
    if (SUCCEEDED(hr)) hr = DeliverPcm();
    if (FAILED(hr) && hr != VFW_E_WRONG_STATE) NotifyEvent(EC_ERRORABORT, hr, 0);
    return hr;
  }
  HRESULT EndOfStream() override
  {
    m_pcm.clear();
    if (m_dec.ctx && SUCCEEDED(ff_decoder_feed(&m_dec, nullptr, 0, &m_pcm))) DeliverPcm();
    return CTransformFilter::EndOfStream();
  }
  HRESULT EndFlush() override
  {
    ff_decoder_reset(&m_dec);
    m_resync = true;
    return CTransformFilter::EndFlush();
  }

 private:
  // 16-bit PCM of the input's rate and channels.
  HRESULT PcmType(const CMediaType *in, CMediaType *pmt)
  {
    if (!in->Format() || in->FormatLength() < sizeof(WAVEFORMATEX)) return E_FAIL;
    WAVEFORMATEX src;
    std::memcpy(&src, in->Format(), sizeof src);
    WAVEFORMATEX w{};
    w.wFormatTag = WAVE_FORMAT_PCM;
    w.nChannels = src.nChannels;
    w.nSamplesPerSec = src.nSamplesPerSec;
    w.wBitsPerSample = 16;
    w.nBlockAlign = WORD(2 * src.nChannels);
    w.nAvgBytesPerSec = w.nSamplesPerSec * w.nBlockAlign;
    m_frameBytes = w.nBlockAlign;
    pmt->InitMediaType();
    pmt->SetType(&MEDIATYPE_Audio);
    pmt->SetSubtype(&MEDIASUBTYPE_PCM);
    pmt->SetFormatType(&FORMAT_WaveFormatEx);
    pmt->SetSampleSize(w.nBlockAlign);
    return pmt->SetFormat(reinterpret_cast<const BYTE *>(&w), sizeof w) ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT DeliverPcm()
  {
    const CMediaType &out = m_pOutput->CurrentMediaType();
    WAVEFORMATEX w;
    std::memcpy(&w, out.Format(), sizeof w);
    size_t at = 0;
    while (at < m_pcm.size()) {
      IMediaSample *s = nullptr;
      HRESULT hr = m_pOutput->GetDeliveryBuffer(&s, nullptr, nullptr, 0);
      if (hr == VFW_E_NOT_COMMITTED) return VFW_E_WRONG_STATE;
      if (FAILED(hr)) return hr;
      size_t n = std::min(m_pcm.size() - at, size_t(s->GetSize()) / w.nBlockAlign * w.nBlockAlign);
      BYTE *dst = nullptr;
      s->GetPointer(&dst);
      std::memcpy(dst, m_pcm.data() + at, n);
      s->SetActualDataLength(LONG(n));
      LONGLONG frames = LONGLONG(n / w.nBlockAlign);
      REFERENCE_TIME t0 = m_base + m_frames * UNITS / w.nSamplesPerSec;
      REFERENCE_TIME t1 = m_base + (m_frames + frames) * UNITS / w.nSamplesPerSec;
      s->SetTime(&t0, &t1);
      s->SetSyncPoint(TRUE);
      s->SetDiscontinuity(m_frames == 0);
      m_frames += frames;
      at += n;
      hr = m_pOutput->Deliver(s);
      s->Release();
      if (hr != S_OK) return hr;
    }
    return S_OK;
  }

  FfDecoder m_dec;
  std::vector<BYTE> m_pcm;
  REFERENCE_TIME m_base = 0;
  LONGLONG m_frames = 0;
  LONG m_frameBytes = 4;
  bool m_resync = true;
};

}  // namespace

CUnknown *sys_new_acm_wrapper(LPUNKNOWN outer, HRESULT *phr)
{
  return AcmWrapper::CreateInstance(outer, phr);
}
