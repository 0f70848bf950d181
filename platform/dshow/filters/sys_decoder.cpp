// The decoder filters' common part.
#include "sys_decoder.h"

#include <tarvo_dshow/dshow_sys.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr LONG OUTPUT_BUFFER_BYTES = 64 * 1024;

}  // namespace

HRESULT SysDecoderFilter::CheckInputType(const CMediaType *in)
{
  if (in->majortype != MEDIATYPE_Audio || in->formattype != FORMAT_WaveFormatEx) return VFW_E_TYPE_NOT_ACCEPTED;
  if (!in->Format() || in->FormatLength() < sizeof(WAVEFORMATEX)) return VFW_E_TYPE_NOT_ACCEPTED;
  WAVEFORMATEX w;
  std::memcpy(&w, in->Format(), sizeof w);
  if (!TakesTag(w.wFormatTag)) return VFW_E_TYPE_NOT_ACCEPTED;
  return ff_wave_decodable(in->Format(), in->FormatLength()) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT SysDecoderFilter::CheckTransform(const CMediaType *in, const CMediaType *out)
{
  CMediaType mine;
  if (FAILED(PcmType(in, &mine))) return VFW_E_TYPE_NOT_ACCEPTED;
  return mine == *out ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT SysDecoderFilter::GetMediaType(int position, CMediaType *pmt)
{
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  if (!m_pInput || !m_pInput->IsConnected()) return E_UNEXPECTED;
  return PcmType(&m_pInput->CurrentMediaType(), pmt);
}

HRESULT SysDecoderFilter::DecideBufferSize(IMemAllocator *alloc, ALLOCATOR_PROPERTIES *request)
{
  request->cBuffers = std::max<LONG>(request->cBuffers, 4);
  request->cbBuffer = std::max<LONG>(request->cbBuffer, OUTPUT_BUFFER_BYTES);
  ALLOCATOR_PROPERTIES actual;
  HRESULT hr = alloc->SetProperties(request, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < m_frameBytes ? E_FAIL : S_OK;
}

HRESULT SysDecoderFilter::StartStreaming()
{
  const CMediaType &in = m_pInput->CurrentMediaType();
  m_resync = true;
  HRESULT hr = ff_decoder_open(&m_dec, in.Format(), in.FormatLength());
  if (SUCCEEDED(hr) && in.FormatLength() >= sizeof(WAVEFORMATEX)) {
    WAVEFORMATEX w;
    std::memcpy(&w, in.Format(), sizeof w);
    m_dec.out_channels = OutputChannels(w.nChannels);
  }
  return hr;
}

HRESULT SysDecoderFilter::StopStreaming()
{
  ff_decoder_close(&m_dec);
  return S_OK;
}

HRESULT SysDecoderFilter::Receive(IMediaSample *sample)
{
  if (m_resync || sample->IsDiscontinuity() == S_OK) {
    REFERENCE_TIME t0 = 0, t1 = 0;
    if (SUCCEEDED(sample->GetTime(&t0, &t1))) {
      m_base = t0;
      m_frames = 0;
      m_resync = false;
      m_discontinuity = true;
    }
  }
  BYTE *p = nullptr;
  sample->GetPointer(&p);
  m_pcm.clear();
  HRESULT hr = ff_decoder_feed(&m_dec, p, size_t(std::max<LONG>(sample->GetActualDataLength(), 0)), &m_pcm);
  if (SUCCEEDED(hr)) hr = DeliverPcm();
  if (FAILED(hr) && hr != VFW_E_WRONG_STATE) NotifyEvent(EC_ERRORABORT, hr, 0);
  return hr;
}

HRESULT SysDecoderFilter::EndOfStream()
{
  m_pcm.clear();
  if (m_dec.ctx && SUCCEEDED(ff_decoder_feed(&m_dec, nullptr, 0, &m_pcm))) DeliverPcm();
  return CTransformFilter::EndOfStream();
}

HRESULT SysDecoderFilter::EndFlush()
{
  {
    // Upstream has stopped delivering by now; the lock only orders this
    // with the last Receive.
    CAutoLock l(m_csReceive);
    ff_decoder_reset(&m_dec);
    m_resync = true;
  }
  return CTransformFilter::EndFlush();
}

// 16-bit PCM of the input's rate and of the channels this decoder gives.
HRESULT SysDecoderFilter::PcmType(const CMediaType *in, CMediaType *pmt)
{
  if (!in->Format() || in->FormatLength() < sizeof(WAVEFORMATEX)) return E_FAIL;
  WAVEFORMATEX src;
  std::memcpy(&src, in->Format(), sizeof src);
  WAVEFORMATEX w{};
  w.wFormatTag = WAVE_FORMAT_PCM;
  w.nChannels = OutputChannels(src.nChannels);
  w.nSamplesPerSec = src.nSamplesPerSec;
  w.wBitsPerSample = 16;
  w.nBlockAlign = WORD(2 * w.nChannels);
  w.nAvgBytesPerSec = w.nSamplesPerSec * w.nBlockAlign;
  m_frameBytes = w.nBlockAlign;
  pmt->InitMediaType();
  pmt->SetType(&MEDIATYPE_Audio);
  pmt->SetSubtype(&MEDIASUBTYPE_PCM);
  pmt->SetFormatType(&FORMAT_WaveFormatEx);
  pmt->SetSampleSize(w.nBlockAlign);
  return pmt->SetFormat(reinterpret_cast<const BYTE *>(&w), sizeof w) ? S_OK : E_OUTOFMEMORY;
}

HRESULT SysDecoderFilter::DeliverPcm()
{
  const CMediaType &out = m_pOutput->CurrentMediaType();
  WAVEFORMATEX w;
  std::memcpy(&w, out.Format(), sizeof w);
  size_t at = 0;
  // Whole frames before the segment's start are dropped; the first one
  // kept starts at or after time 0.
  if (m_base + m_frames * UNITS / LONGLONG(w.nSamplesPerSec) < 0) {
    LONGLONG before = (-m_base * LONGLONG(w.nSamplesPerSec) + UNITS - 1) / UNITS - m_frames;
    LONGLONG have = LONGLONG(m_pcm.size() / w.nBlockAlign);
    LONGLONG drop = std::clamp<LONGLONG>(before, 0, have);
    at = size_t(drop) * w.nBlockAlign;
    m_frames += drop;
  }
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
    s->SetDiscontinuity(m_discontinuity);
    m_discontinuity = false;
    m_frames += frames;
    at += n;
    hr = m_pOutput->Deliver(s);
    s->Release();
    if (hr != S_OK) return hr;
  }
  return S_OK;
}
