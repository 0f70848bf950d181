// The resample filter: PCM in at any rate, out at the rate, width and
// channels of its settings, through the channel converter, the engine and
// the sample-depth converter in that order.
#include <mirrow/mirrow.h>
#include <mirrow/mirrow_engine.h>
#include <mirrow/mirrow_limits.h>
#include <tarvo_dshow/base_transform.h>

#include "mirrow_page.h"
#include "mirrow_wave.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

int bytes_of(int bits)
{
  return (bits + 7) / 8;
}

// Widths the converters know: integer PCM of 8, 16, 20 or 24 bits and
// 32-bit float, at rates and channel counts the engine can hold.
bool format_usable(const WaveFormat &w)
{
  const WAVEFORMATEX &f = w.Format;
  if (f.nChannels == 0 || f.nChannels > MIRROW_MAX_CHANNELS) return false;
  if (f.nSamplesPerSec < MIRROW_MIN_RATE || f.nSamplesPerSec > MIRROW_MAX_RATE) return false;
  if (wave_is_pcm(w)) return f.wBitsPerSample == 8 || f.wBitsPerSample == 16 || f.wBitsPerSample == 20 ||
                             f.wBitsPerSample == 24;
  return wave_is_float(w) && f.wBitsPerSample == 32;
}

// The record of a type's format block when it is whole: at least the plain
// record, and the extensible one for its tag.
bool read_format(const CMediaType *mt, WaveFormat *w)
{
  if (*mt->Type() != MEDIATYPE_Audio || !mt->Format() || mt->FormatLength() < 16) return false;
  wave_copy(*w, mt->Format(), mt->FormatLength());
  return w->Format.wFormatTag != WAVE_FORMAT_EXTENSIBLE || mt->FormatLength() >= 40;
}

class CResampleFilter final : public CTransformFilter, public IResampleSettings, public ISpecifyPropertyPages {
 public:
  explicit CResampleFilter(LPUNKNOWN outer) : CTransformFilter("CResampleFilter", outer, CLSID_ResampleFilter)
  {
    for (WaveFormat *w : {&m_in, &m_out, &m_workIn, &m_workOut}) std::memset(w, 0, sizeof *w);
  }
  DECLARE_IUNKNOWN

  static CUnknown *CreateInstance(LPUNKNOWN outer, HRESULT *phr)
  {
    auto *f = new (std::nothrow) CResampleFilter(outer);
    if (!f) *phr = E_OUTOFMEMORY;
    return f;
  }

  HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override
  {
    if (!ppv) return E_POINTER;
    if (riid == IID_IResampleSettings) return GetInterface(static_cast<IResampleSettings *>(this), ppv);
    if (riid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages *>(this), ppv);
    return CTransformFilter::NonDelegatingQueryInterface(riid, ppv);
  }

  HRESULT GetBitsPerSample(int *v) override { return Get(m_bits, v); }
  HRESULT SetBitsPerSample(int v) override { return Set(m_bits, v); }
  HRESULT GetSampleRate(int *v) override { return Get(m_rate, v); }
  HRESULT SetSampleRate(int v) override { return Set(m_rate, v); }
  HRESULT GetFilterHalfLength(int *v) override { return Get(m_half, v); }
  HRESULT SetFilterHalfLength(int v) override { return Set(m_half, v); }
  HRESULT GetChannels(int *v) override { return Get(m_channels, v); }
  HRESULT SetChannels(int v) override { return Set(m_channels, v); }

  HRESULT GetPages(CAUUID *pages) override
  {
    if (!pages) return E_POINTER;
    pages->cElems = 0;
    pages->pElems = static_cast<GUID *>(CoTaskMemAlloc(sizeof(GUID)));
    if (!pages->pElems) return E_OUTOFMEMORY;
    pages->cElems = 1;
    pages->pElems[0] = CLSID_ResamplePropertyPage;
    return S_OK;
  }

  HRESULT CheckInputType(const CMediaType *mt) override
  {
    WaveFormat w;
    return read_format(mt, &w) && format_usable(w) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT CheckTransform(const CMediaType *, const CMediaType *) override { return S_OK; }
  HRESULT GetMediaType(int position, CMediaType *mt) override;
  HRESULT SetMediaType(PIN_DIRECTION dir, const CMediaType *mt) override;
  HRESULT DecideBufferSize(IMemAllocator *alloc, ALLOCATOR_PROPERTIES *props) override;
  HRESULT StartStreaming() override;
  HRESULT StopStreaming() override
  {
    m_engine.reset();
    return S_OK;
  }
  HRESULT Transform(IMediaSample *in, IMediaSample *out) override;

 private:
  static HRESULT Get(const std::atomic<int> &value, int *out)
  {
    if (!out) return E_POINTER;
    *out = value;
    return S_OK;
  }
  static HRESULT Set(std::atomic<int> &value, int v)
  {
    value = v;
    return S_OK;
  }
  HRESULT Convert(const BYTE *src, LONG length, BYTE *dst, LONG room, LONG *produced);

  WaveFormat m_in, m_out, m_workIn, m_workOut;
  std::unique_ptr<ResampleEngine> m_engine;
  std::vector<BYTE> m_mono;  // the input mixed down, when stereo becomes mono
  std::atomic<int> m_bits{16}, m_rate{44100}, m_channels{1}, m_half{8};
};

HRESULT CResampleFilter::GetMediaType(int position, CMediaType *mt)
{
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  WaveFormat w;
  std::memset(&w, 0, sizeof w);
  if (m_channels < 3)
    wave_set_pcm(w, 44100, 16, 2);
  else
    wave_set_extensible(w, 44100, 16, 6, 0, 0, false);
  wave_set_width(w, DWORD(m_rate.load()), m_bits, m_channels);
  ULONG size = w.Format.wFormatTag == WAVE_FORMAT_EXTENSIBLE ? 40 : 18;
  mt->InitMediaType();
  mt->SetType(&MEDIATYPE_Audio);
  mt->SetSubtype(&MEDIASUBTYPE_PCM);
  mt->SetFormatType(&FORMAT_WaveFormatEx);
  mt->SetTemporalCompression(FALSE);
  if (!mt->SetFormat(reinterpret_cast<const BYTE *>(&w), size)) return E_OUTOFMEMORY;
  return S_OK;
}

HRESULT CResampleFilter::SetMediaType(PIN_DIRECTION dir, const CMediaType *mt)
{
  WaveFormat w;
  if (!read_format(mt, &w)) return VFW_E_TYPE_NOT_ACCEPTED;
  if (dir == PINDIR_OUTPUT) {
    const WAVEFORMATEX &f = w.Format;
    if (int(f.nSamplesPerSec) != m_rate || f.wBitsPerSample != m_bits || f.nChannels != m_channels)
      return VFW_E_TYPE_NOT_ACCEPTED;
    // The settings themselves must make a format the converters can write.
    if (!format_usable(w)) return VFW_E_TYPE_NOT_ACCEPTED;
    m_out = w;
  } else {
    m_in = w;
  }
  return S_OK;
}

HRESULT CResampleFilter::DecideBufferSize(IMemAllocator *alloc, ALLOCATOR_PROPERTIES *props)
{
  if (m_pInput && m_pInput->IsConnected()) {
    IMemAllocator *upstream = nullptr;
    if (SUCCEEDED(m_pInput->GetAllocator(&upstream)) && upstream) {
      upstream->GetProperties(props);
      upstream->Release();
    }
  }
  const WAVEFORMATEX &in = m_in.Format;
  if (in.nSamplesPerSec == 0 || in.nChannels == 0) return E_UNEXPECTED;
  double ratio = double(m_rate) / double(in.nSamplesPerSec);
  // By bytes, not bits: 20-bit samples take 3 bytes.
  if (m_bits > in.wBitsPerSample) ratio *= double(bytes_of(m_bits)) / double(bytes_of(in.wBitsPerSample));
  if (m_channels > in.nChannels) ratio *= double(m_channels / in.nChannels);
  double size = ratio * double(props->cbBuffer) * 1.1;
  props->cbBuffer = LONG(std::clamp(size, 0.0, double(MIRROW_MAX_BUFFER)));
  props->cBuffers = std::max<LONG>(props->cBuffers, 1);
  ALLOCATOR_PROPERTIES actual{};
  HRESULT hr = alloc->SetProperties(props, &actual);
  if (FAILED(hr)) return hr;
  *props = actual;
  return actual.cbBuffer < MIRROW_MIN_BUFFER ? E_FAIL : S_OK;
}

HRESULT CResampleFilter::StartStreaming()
{
  m_workIn = m_in;
  m_workOut = m_out;
  if (m_in.Format.nChannels == 2 && m_out.Format.nChannels == 1) m_workIn.Format.nChannels = 1;
  if (m_in.Format.wBitsPerSample != m_out.Format.wBitsPerSample)
    m_workOut.Format.wBitsPerSample = m_in.Format.wBitsPerSample;
  m_engine.reset(resample_engine_new(&m_workIn.Format, &m_workOut.Format, bytes_of(m_workIn.Format.wBitsPerSample),
                                     bytes_of(m_workOut.Format.wBitsPerSample)));
  if (!m_engine) return E_OUTOFMEMORY;
  m_engine->SetFilterHalfLength(m_half);
  HRESULT hr = m_engine->Initialise();
  if (FAILED(hr)) m_engine.reset();
  return hr;
}

HRESULT CResampleFilter::Transform(IMediaSample *in, IMediaSample *out)
{
  BYTE *src = nullptr, *dst = nullptr;
  if (FAILED(in->GetPointer(&src)) || FAILED(out->GetPointer(&dst))) return E_POINTER;
  LONG produced = 0;
  HRESULT hr = Convert(src, in->GetActualDataLength(), dst, out->GetSize(), &produced);
  if (FAILED(hr)) return hr;
  out->SetActualDataLength(produced);
  return S_OK;
}

// length bytes of input into at most room bytes of output; whatever would
// not fit is dropped rather than written past the buffer.
HRESULT CResampleFilter::Convert(const BYTE *src, LONG length, BYTE *dst, LONG room, LONG *produced)
{
  if (!m_engine) return E_UNEXPECTED;
  const WAVEFORMATEX &fi = m_in.Format, &fo = m_out.Format;
  int ch = fi.nChannels;
  const int b = bytes_of(fi.wBitsPerSample), bo = bytes_of(fo.wBitsPerSample);
  uint32_t frames = uint32_t(std::max<LONG>(length, 0)) / uint32_t(b * ch);
  if (ch == 2 && fo.nChannels == 1) {
    try {
      m_mono.resize(size_t(frames) * b);
    } catch (const std::bad_alloc &) {
      return E_OUTOFMEMORY;
    }
    mirrow_mix_to_mono(src, frames, m_mono.data(), b);
    src = m_mono.data();
    ch = 1;
  }
  const uint32_t roomFrames = uint32_t(std::max<LONG>(room, 0)) / uint32_t(std::max(b, bo) * ch);
  if (fi.nSamplesPerSec == fo.nSamplesPerSec) {
    frames = std::min(frames, roomFrames);
    std::memcpy(dst, src, size_t(frames) * b * ch);
  } else {
    uint32_t written = 0;
    m_engine->Process(src, frames, dst, roomFrames, &written);
    frames = written;
  }
  if (fi.wBitsPerSample != fo.wBitsPerSample) mirrow_convert_depth(dst, frames * uint32_t(ch), b, bo);
  LONG bytes = LONG(frames) * ch * bo;
  if (ch == 1 && fo.nChannels == 2) {
    uint32_t fit = std::min(frames, uint32_t(room) / uint32_t(2 * bo));
    mirrow_duplicate_to_stereo(dst, fit, bo);
    bytes = LONG(fit) * 2 * bo;
  }
  *produced = bytes;
  return S_OK;
}

const AMOVIESETUP_MEDIATYPE pin_types[] = {{&MEDIATYPE_Audio, &GUID_NULL}};
const AMOVIESETUP_PIN pins[] = {
  {u"Input", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, u"Output", 1, pin_types},
  {u"Output", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, u"Input", 1, pin_types},
};
const AMOVIESETUP_FILTER setup = {&CLSID_ResampleFilter, u"Kelmar Audio Resample Filter", MERIT_DO_NOT_USE, 2, pins};
const CFactoryTemplate templates[] = {
  {u"Kelmar Resample Filter", &CLSID_ResampleFilter, CResampleFilter::CreateInstance, nullptr, &setup},
  {u"Kelmar Resample Filter Property Page", &CLSID_ResamplePropertyPage, CreateResamplePropertyPage, nullptr, nullptr},
};

}  // namespace

TARVO_DSHOW_CLASS_OBJECT(templates, 2)
TARVO_DSHOW_REGISTRATION
