// The downmix filter: multichannel 16-bit PCM or 32-bit float to stereo of
// the same sample format, with its settings, preset, stream persistence and
// property page list.
#include <saltrey/saltrey.h>
#include <tarvo_com/com_persist.h>
#include <tarvo_com/com_wave.h>
#include <tarvo_dshow/base_transform.h>
#include <tarvo_ui/ui_core.h>

#include "downmix_engine.h"
#include "downmix_settings.h"
#include "saltrey_page.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr LONG kMinBuffer = 512;
constexpr int kNotifySlots = 2;

// 1 for integer PCM, 3 for float, 0 for anything else; extensible formats
// by their subformat.
int sample_kind(const BYTE *f, ULONG n)
{
  if (!f || n < 16) return 0;
  WAVEFORMATEX w{};
  std::memcpy(&w, f, std::min<ULONG>(n, sizeof w));
  if (w.wFormatTag == WAVE_FORMAT_PCM || w.wFormatTag == WAVE_FORMAT_IEEE_FLOAT) return w.wFormatTag;
  if (w.wFormatTag != WAVE_FORMAT_EXTENSIBLE || n < sizeof(WAVEFORMATEXTENSIBLE)) return 0;
  WAVEFORMATEXTENSIBLE x;
  std::memcpy(&x, f, sizeof x);
  if (x.SubFormat == KSDATAFORMAT_SUBTYPE_PCM) return WAVE_FORMAT_PCM;
  if (x.SubFormat == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT) return WAVE_FORMAT_IEEE_FLOAT;
  return 0;
}

// A pin's wave format as the filter keeps it.
struct PinFormat {
  bool set = false;
  BYTE bytes[sizeof(WAVEFORMATEXTENSIBLE)] = {};
  const WAVEFORMATEX &wfx() const { return *reinterpret_cast<const WAVEFORMATEX *>(bytes); }
  uint32_t mask() const
  {
    if (wfx().wFormatTag != WAVE_FORMAT_EXTENSIBLE) return 0;
    return reinterpret_cast<const WAVEFORMATEXTENSIBLE *>(bytes)->dwChannelMask;
  }
};

class CDownmixFilter;

// The input pin: a new input that the present output type no longer fits
// is taken when the downstream pin would take the output made from it, and
// the output is then connected again once the input's buffers are known.
class CDownmixInputPin final : public CTransformInputPin {
 public:
  CDownmixInputPin(CDownmixFilter *f, HRESULT *phr);
  HRESULT CheckMediaType(const CMediaType *pmt) override;
  HRESULT NotifyAllocator(IMemAllocator *allocator, BOOL readOnly) override;
  HRESULT BreakConnect() override;
  bool reconnect = false;  // the output waits to be connected again

 private:
  CDownmixFilter *m_filter;
};

class CDownmixFilter final : public CTransformFilter,
                             public IDownmixSettings,
                             public IDownmixPresets,
                             public IPersistStream,
                             public ISpecifyPropertyPages {
 public:
  CDownmixFilter(LPUNKNOWN outer, HRESULT *) : CTransformFilter("CDownmixFilter", outer, CLSID_DownmixFilter) {}
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override
  {
    if (riid == IID_IDownmixSettings) return GetInterface(static_cast<IDownmixSettings *>(this), ppv);
    if (riid == IID_IDownmixPresets) return GetInterface(static_cast<IDownmixPresets *>(this), ppv);
    if (riid == IID_IPersistStream) return GetInterface(static_cast<IPersistStream *>(this), ppv);
    if (riid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages *>(this), ppv);
    return CTransformFilter::NonDelegatingQueryInterface(riid, ppv);
  }
  static CUnknown *CreateInstance(LPUNKNOWN outer, HRESULT *phr)
  {
    auto *f = new (std::nothrow) CDownmixFilter(outer, phr);
    if (!f) *phr = E_OUTOFMEMORY;
    return f;
  }

  // Transform filter, with pins named as the filter registers them.
  CTransformInputPin *NewInputPin(HRESULT *phr) override;
  CTransformOutputPin *NewOutputPin(HRESULT *phr) override;
  HRESULT CompleteConnect(PIN_DIRECTION dir, IPin *pin) override;
  HRESULT CheckInputType(const CMediaType *in) override;
  HRESULT CheckTransform(const CMediaType *in, const CMediaType *out) override;
  HRESULT GetMediaType(int position, CMediaType *pmt) override;
  HRESULT SetMediaType(PIN_DIRECTION dir, const CMediaType *pmt) override;
  HRESULT DecideBufferSize(IMemAllocator *alloc, ALLOCATOR_PROPERTIES *request) override;
  HRESULT StartStreaming() override;
  HRESULT Transform(IMediaSample *in, IMediaSample *out) override;
  HRESULT EndOfStream() override;

  // IDownmixSettings.
  HRESULT GetSettings(DownmixSettings *out) override
  {
    if (!out) return E_POINTER;
    m_settings.Get(out);
    return S_OK;
  }
  HRESULT SetSettings(const DownmixSettings *in) override
  {
    if (!in) return E_POINTER;
    m_settings.Set(in);
    return S_OK;
  }
#define DOWNMIX_GETTER(name, k) \
  HRESULT Get##name(int *value) override \
  { \
    if (!value) return E_POINTER; \
    *value = m_settings.GetField(k); \
    return S_OK; \
  }
#define DOWNMIX_SETTER(name, k) \
  HRESULT Set##name(int value) override \
  { \
    m_settings.SetField(k, value); \
    return S_OK; \
  }
  DOWNMIX_ACCESSORS(DOWNMIX_GETTER)
  DOWNMIX_ACCESSORS(DOWNMIX_SETTER)
#undef DOWNMIX_GETTER
#undef DOWNMIX_SETTER
  HRESULT GetWaveFormat(WAVEFORMATEX *out, int pin) override;
  HRESULT SetNotifyWindow(HWND window, int id) override;

  // IDownmixPresets.
  HRESULT GetPresetCount(int *count) override
  {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT GetPresetName(int index, WCHAR *name, int chars) override { return downmix_preset_name(index, name, chars); }
  HRESULT ApplyPreset(int index) override
  {
    const DownmixSettings *p = downmix_preset(index);
    if (!p) return E_INVALIDARG;
    return SetSettings(p);
  }

  // IPersistStream.
  HRESULT GetClassID(CLSID *clsid) override { return CTransformFilter::GetClassID(clsid); }
  HRESULT IsDirty() override { return m_settings.IsDirty() ? S_OK : S_FALSE; }
  HRESULT Load(IStream *stream) override
  {
    HRESULT hr = m_settings.Load(stream);
    if (hr == S_OK) Notify(DOWNMIX_NOTIFY_LOADED);
    return hr;
  }
  HRESULT Save(IStream *stream, BOOL clearDirty) override { return m_settings.Save(stream, clearDirty); }
  HRESULT GetSizeMax(ULARGE_INTEGER *size) override
  {
    if (!size) return E_POINTER;
    size->QuadPart = DOWNMIX_STREAM_BYTES;
    return S_OK;
  }

  // ISpecifyPropertyPages.
  HRESULT GetPages(CAUUID *pages) override
  {
    if (!pages) return E_POINTER;
    pages->pElems = static_cast<GUID *>(CoTaskMemAlloc(sizeof(GUID)));
    if (!pages->pElems) {
      pages->cElems = 0;
      return E_OUTOFMEMORY;
    }
    pages->cElems = 1;
    pages->pElems[0] = CLSID_DownmixPropertyPage;
    return S_OK;
  }

 private:
  // Tells the registered windows of a change (0 input format, 1 output
  // format, 100 settings loaded).
  void Notify(int code);

  DownmixSettingsObject m_settings;
  DownmixMatrix m_matrix{};
  std::unique_ptr<DownmixMixer> m_mixer;
  PinFormat m_format[2];  // input, output
  std::mutex m_notifyLock;
  struct {
    HWND window;
    int id;
  } m_notify[kNotifySlots] = {};
};

// The stereo output type that an input type makes: the input's first 18
// bytes with two channels, as the plain format of its samples.
HRESULT output_type_for(const CMediaType &in, CMediaType *pmt)
{
  int kind = sample_kind(in.pbFormat, in.cbFormat);
  if (!kind) return E_UNEXPECTED;
  WAVEFORMATEX w{};
  std::memcpy(&w, in.pbFormat, std::min<ULONG>(in.cbFormat, sizeof w));
  w.wFormatTag = WORD(kind);
  w.nChannels = 2;
  w.nBlockAlign = WORD(w.wBitsPerSample / 8 * 2);
  w.nAvgBytesPerSec = w.nSamplesPerSec * w.nBlockAlign;
  w.cbSize = 0;
  pmt->InitMediaType();
  pmt->SetType(&MEDIATYPE_Audio);
  GUID sub = kind == WAVE_FORMAT_PCM ? MEDIASUBTYPE_PCM : MEDIASUBTYPE_IEEE_FLOAT;
  pmt->SetSubtype(&sub);
  pmt->SetFormatType(&FORMAT_WaveFormatEx);
  pmt->SetTemporalCompression(FALSE);
  pmt->SetSampleSize(w.nBlockAlign);
  return pmt->SetFormat(reinterpret_cast<const BYTE *>(&w), sizeof w) ? S_OK : E_OUTOFMEMORY;
}

CDownmixInputPin::CDownmixInputPin(CDownmixFilter *f, HRESULT *phr)
  : CTransformInputPin("CDownmixInputPin", f, phr, u"Input"), m_filter(f)
{
}

HRESULT CDownmixInputPin::CheckMediaType(const CMediaType *pmt)
{
  HRESULT hr = m_filter->CheckInputType(pmt);
  if (hr != S_OK) return hr;
  CTransformOutputPin *out = m_filter->OutputPin();
  if (!out || !out->IsConnected() || m_filter->CheckTransform(pmt, &out->CurrentMediaType()) == S_OK) return S_OK;
  CMediaType proposal;
  if (FAILED(hr = output_type_for(*pmt, &proposal))) return hr;
  return out->GetConnected()->QueryAccept(&proposal);
}

// The output's buffers are sized from the input's, which are agreed on only
// after the input pin has connected: the output connects again here.
HRESULT CDownmixInputPin::NotifyAllocator(IMemAllocator *allocator, BOOL readOnly)
{
  HRESULT hr = CTransformInputPin::NotifyAllocator(allocator, readOnly);
  if (FAILED(hr) || !reconnect) return hr;
  reconnect = false;
  return m_filter->ReconnectPin(m_filter->OutputPin(), nullptr);
}

HRESULT CDownmixInputPin::BreakConnect()
{
  reconnect = false;
  return CTransformInputPin::BreakConnect();
}

CTransformInputPin *CDownmixFilter::NewInputPin(HRESULT *phr)
{
  return new (std::nothrow) CDownmixInputPin(this, phr);
}

CTransformOutputPin *CDownmixFilter::NewOutputPin(HRESULT *phr)
{
  return new (std::nothrow) CTransformOutputPin("CDownmixOutputPin", this, phr, u"Output");
}

HRESULT CDownmixFilter::CompleteConnect(PIN_DIRECTION dir, IPin *)
{
  if (dir != PINDIR_INPUT || !m_pOutput->IsConnected()) return S_OK;
  if (CheckTransform(&m_pInput->CurrentMediaType(), &m_pOutput->CurrentMediaType()) == S_OK) return S_OK;
  if (!m_pGraph) return VFW_E_NOT_IN_GRAPH;
  static_cast<CDownmixInputPin *>(m_pInput)->reconnect = true;
  return S_OK;
}

HRESULT CDownmixFilter::CheckInputType(const CMediaType *in)
{
  if (in->majortype != MEDIATYPE_Audio || in->bTemporalCompression || in->cbFormat < 16) return E_INVALIDARG;
  WAVEFORMATEX w{};
  std::memcpy(&w, in->pbFormat, std::min<ULONG>(in->cbFormat, sizeof w));
  int kind = sample_kind(in->pbFormat, in->cbFormat);
  if (!((kind == WAVE_FORMAT_PCM && w.wBitsPerSample == 16) || (kind == WAVE_FORMAT_IEEE_FLOAT && w.wBitsPerSample == 32)))
    return E_INVALIDARG;
  // The mixer steps through frames by the channel count: the block align
  // must agree with it, and a mono input has no stereo room in its buffers.
  if (w.nChannels < 2 || w.nBlockAlign != w.nChannels * w.wBitsPerSample / 8) return E_INVALIDARG;
  return S_OK;
}

HRESULT CDownmixFilter::CheckTransform(const CMediaType *in, const CMediaType *out)
{
  if (in->majortype != MEDIATYPE_Audio || out->majortype != MEDIATYPE_Audio) return E_INVALIDARG;
  if (in->cbFormat < 16 || out->cbFormat < 16 || in->bTemporalCompression || out->bTemporalCompression)
    return E_INVALIDARG;
  WAVEFORMATEX a, b;
  std::memcpy(&a, in->pbFormat, 16);
  std::memcpy(&b, out->pbFormat, 16);
  // An extensible input goes out as the plain format of its samples.
  int ka = sample_kind(in->pbFormat, in->cbFormat), kb = sample_kind(out->pbFormat, out->cbFormat);
  if (ka == 0 || ka != kb || a.wBitsPerSample != b.wBitsPerSample || a.nSamplesPerSec != b.nSamplesPerSec)
    return E_INVALIDARG;
  return S_OK;
}

HRESULT CDownmixFilter::GetMediaType(int position, CMediaType *pmt)
{
  if (!m_pInput->IsConnected()) return E_UNEXPECTED;
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  return output_type_for(m_pInput->CurrentMediaType(), pmt);
}

HRESULT CDownmixFilter::SetMediaType(PIN_DIRECTION dir, const CMediaType *pmt)
{
  PinFormat &f = m_format[dir == PINDIR_INPUT ? 0 : 1];
  std::memset(f.bytes, 0, sizeof f.bytes);
  WORD tag = pmt->cbFormat >= 2 ? WORD(pmt->pbFormat[0] | pmt->pbFormat[1] << 8) : 0;
  ULONG n = tag <= WAVE_FORMAT_PCM ? 16 : tag == WAVE_FORMAT_EXTENSIBLE ? sizeof(WAVEFORMATEXTENSIBLE) : 18;
  std::memcpy(f.bytes, pmt->pbFormat, std::min(n, ULONG(pmt->cbFormat)));
  f.set = true;
  Notify(dir == PINDIR_INPUT ? 0 : 1);
  return S_OK;
}

HRESULT CDownmixFilter::DecideBufferSize(IMemAllocator *alloc, ALLOCATOR_PROPERTIES *request)
{
  IMemAllocator *inAlloc = nullptr;
  if (m_pInput->IsConnected() && SUCCEEDED(m_pInput->GetAllocator(&inAlloc))) {
    ALLOCATOR_PROPERTIES p{};
    if (SUCCEEDED(inAlloc->GetProperties(&p)) && p.cbBuffer > 0) *request = p;
    inAlloc->Release();
  }
  if (request->cBuffers <= 0) request->cBuffers = 1;
  if (request->cbBuffer < kMinBuffer) request->cbBuffer = kMinBuffer;
  ALLOCATOR_PROPERTIES actual{};
  HRESULT hr = alloc->SetProperties(request, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < kMinBuffer ? E_FAIL : S_OK;
}

HRESULT CDownmixFilter::StartStreaming()
{
  if (!m_format[0].set || !m_format[1].set) return VFW_E_NOT_CONNECTED;
  auto *mixer = new (std::nothrow) DownmixMixer(m_format[0].wfx(), m_format[1].wfx());
  if (!mixer) return E_OUTOFMEMORY;
  m_mixer.reset(mixer);
  DownmixSettings rec;
  m_settings.Get(&rec);
  m_settings.TakeChanged(&rec);
  downmix_build_matrix(&rec, &m_matrix);
  return S_OK;
}

HRESULT CDownmixFilter::Transform(IMediaSample *in, IMediaSample *out)
{
  if (!m_mixer) return VFW_E_WRONG_STATE;
  const WAVEFORMATEX &wi = m_format[0].wfx(), &wo = m_format[1].wfx();
  BYTE *src, *dst;
  in->GetPointer(&src);
  out->GetPointer(&dst);
  size_t frames = size_t(in->GetActualDataLength()) / wi.nBlockAlign;
  frames = std::min(frames, size_t(out->GetSize()) / wo.nBlockAlign);  // never past the output buffer
  DownmixSettings rec;
  if (m_settings.TakeChanged(&rec)) downmix_build_matrix(&rec, &m_matrix);
  downmix_present_from_mask(m_format[0].mask(), wi.nChannels, &m_matrix);
  m_mixer->SetMatrix(m_matrix);
  m_mixer->Mix(src, frames, dst);
  return out->SetActualDataLength(LONG(frames * wo.nBlockAlign));
}

HRESULT CDownmixFilter::EndOfStream()
{
  if (m_pOutput && m_pOutput->IsConnected()) {
    IMediaSample *s = nullptr;
    HRESULT hr = m_pOutput->GetDeliveryBuffer(&s, nullptr, nullptr, 0);
    if (FAILED(hr)) return hr;
    s->Release();  // the mixer holds nothing back
  }
  return CTransformFilter::EndOfStream();
}

HRESULT CDownmixFilter::GetWaveFormat(WAVEFORMATEX *out, int pin)
{
  if (!out) return E_POINTER;
  if (pin < 0 || pin > 1 || !m_format[pin].set) return VFW_E_NOT_CONNECTED;
  std::memcpy(out, m_format[pin].bytes, sizeof *out);
  return S_OK;
}

HRESULT CDownmixFilter::SetNotifyWindow(HWND window, int id)
{
  std::lock_guard<std::mutex> l(m_notifyLock);
  int slot = -1;
  for (int i = 0; i < kNotifySlots && slot < 0; i++)
    if (window && m_notify[i].window == window) slot = i;
  for (int i = 0; i < kNotifySlots && slot < 0; i++)
    if (!m_notify[i].window) slot = i;
  if (slot < 0) return id ? E_OUTOFMEMORY : S_OK;
  if (id)
    m_notify[slot] = {window, id};
  else if (m_notify[slot].window == window)
    m_notify[slot] = {nullptr, 0};
  return S_OK;
}

void CDownmixFilter::Notify(int code)
{
  std::lock_guard<std::mutex> l(m_notifyLock);
  for (auto &slot : m_notify) {
    if (!slot.window) continue;
    // A page that closed without unregistering loses its slot.
    if (!IsWindow(slot.window))
      slot = {nullptr, 0};
    else
      PostMessage(slot.window, WM_COMMAND, (WPARAM(code) << 16) | WPARAM(slot.id & 0xFFFF), 0);
  }
}

const AMOVIESETUP_MEDIATYPE pin_types[] = {{&MEDIATYPE_Audio, &GUID_NULL}};
const AMOVIESETUP_PIN pins[] = {
  {u"Input", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, pin_types},
  {u"Output", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, pin_types},
};
#define DOWNMIX_FILTER_NAME u"\u30C1\u30E3\u30F3\u30CD\u30EB\u5909\u63DB(\u30DE\u30EB\u30C1\u30C1\u30E3\u30F3\u30CD\u30EB\u304B\u3089\u30B9\u30C6\u30EC\u30AA)"
const char16_t kFilterName[] = DOWNMIX_FILTER_NAME;
const AMOVIESETUP_FILTER setup = {&CLSID_DownmixFilter, kFilterName, MERIT_DO_NOT_USE, 2, pins};
const CFactoryTemplate templates[] = {
  {kFilterName, &CLSID_DownmixFilter, CDownmixFilter::CreateInstance, nullptr, &setup},
  {DOWNMIX_FILTER_NAME u" Property Page", &CLSID_DownmixPropertyPage, CreateDownmixPropertyPage, nullptr, nullptr},
};

}  // namespace

TARVO_DSHOW_CLASS_OBJECT(templates, 2)
TARVO_DSHOW_REGISTRATION
