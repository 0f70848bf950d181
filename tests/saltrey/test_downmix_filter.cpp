// The downmix filter loaded from its library: settings through its
// interfaces, the stream block, and six-channel PCM pushed through it into
// a sink as stereo.
#include <gtest/gtest.h>

#include <saltrey/saltrey.h>
#include <tarvo_com/com_persist.h>
#include <tarvo_com/com_wave.h>
#include <tarvo_dshow/base_filter.h>
#include <tarvo_dshow/dshow_graph.h>
#include <tarvo_ui/ui_core.h>

#include "filter_test.h"

#include <cstring>
#include <mutex>
#include <vector>

namespace {

TARVO_GUID(CLSID_PcmTestSource, 0x3C5D0011, 0x1A2B, 0x4C3D, 0x8E, 0x9F, 0x10, 0x21, 0x32, 0x43, 0x54, 0x11);
TARVO_GUID(CLSID_PcmTestSink, 0x3C5D0012, 0x1A2B, 0x4C3D, 0x8E, 0x9F, 0x10, 0x21, 0x32, 0x43, 0x54, 0x12);

CMediaType pcm_type(int channels, uint32_t mask, DWORD rate = 48000)
{
  WAVEFORMATEXTENSIBLE x{};
  x.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  x.Format.nChannels = WORD(channels);
  x.Format.nSamplesPerSec = rate;
  x.Format.wBitsPerSample = 16;
  x.Format.nBlockAlign = WORD(channels * 2);
  x.Format.nAvgBytesPerSec = rate * x.Format.nBlockAlign;
  x.Format.cbSize = 22;
  x.Samples.wValidBitsPerSample = 16;
  x.dwChannelMask = mask;
  x.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
  CMediaType mt(&MEDIATYPE_Audio);
  mt.SetSubtype(&MEDIASUBTYPE_PCM);  // a stand-in; the format block decides
  mt.SetFormatType(&FORMAT_WaveFormatEx);
  mt.SetFormat(reinterpret_cast<const BYTE *>(&x), sizeof x);
  return mt;
}

class PushPin final : public CBaseOutputPin {
 public:
  PushPin(CBaseFilter *f, CCritSec *lock, HRESULT *phr) : CBaseOutputPin("PushPin", f, lock, phr, u"Out") {}
  HRESULT CheckMediaType(const CMediaType *pmt) override { return *pmt == type ? S_OK : S_FALSE; }
  HRESULT GetMediaType(int i, CMediaType *pmt) override
  {
    if (i != 0) return VFW_S_NO_MORE_ITEMS;
    *pmt = type;
    return S_OK;
  }
  HRESULT DecideBufferSize(IMemAllocator *alloc, ALLOCATOR_PROPERTIES *req) override
  {
    req->cBuffers = 2;
    req->cbBuffer = 4096;
    req->cbAlign = 1;
    ALLOCATOR_PROPERTIES got;
    return alloc->SetProperties(req, &got);
  }
  HRESULT Push(const std::vector<int16_t> &samples)
  {
    IMediaSample *s = nullptr;
    HRESULT hr = GetDeliveryBuffer(&s, nullptr, nullptr, 0);
    if (FAILED(hr)) return hr;
    BYTE *p;
    s->GetPointer(&p);
    std::memcpy(p, samples.data(), samples.size() * 2);
    s->SetActualDataLength(LONG(samples.size() * 2));
    hr = Deliver(s);
    s->Release();
    return hr;
  }
  CMediaType type;
};

class SinkPin final : public CBaseInputPin {
 public:
  SinkPin(CBaseFilter *f, CCritSec *lock, HRESULT *phr) : CBaseInputPin("SinkPin", f, lock, phr, u"In") {}
  HRESULT CheckMediaType(const CMediaType *pmt) override
  {
    if (pmt->majortype != MEDIATYPE_Audio) return S_FALSE;
    if (only_rate && (pmt->cbFormat < 16 || reinterpret_cast<const WAVEFORMATEX *>(pmt->pbFormat)->nSamplesPerSec != only_rate))
      return S_FALSE;
    return S_OK;
  }
  HRESULT Receive(IMediaSample *s) override
  {
    HRESULT hr = CBaseInputPin::Receive(s);
    if (hr != S_OK) return hr;
    BYTE *p;
    s->GetPointer(&p);
    std::vector<int16_t> v(size_t(s->GetActualDataLength()) / 2);
    std::memcpy(v.data(), p, v.size() * 2);
    std::lock_guard<std::mutex> l(m);
    got.push_back(v);
    return S_OK;
  }
  std::mutex m;
  std::vector<std::vector<int16_t>> got;
  DWORD only_rate = 0;  // 0: any rate
};

class DownmixFilter : public ::testing::Test {
 protected:
  void SetUp() override
  {
    filter = test_load_filter(SALTREY_LIB, CLSID_DownmixFilter, &lib);
    ASSERT_NE(filter, nullptr);
    ASSERT_EQ(filter->QueryInterface(IID_IDownmixSettings, reinterpret_cast<void **>(&settings)), S_OK);
    HRESULT hr = S_OK;
    src = new OnePinFilter<PushPin>(CLSID_PcmTestSource, &hr);
    src->NonDelegatingAddRef();
    sink = new OnePinFilter<SinkPin>(CLSID_PcmTestSink, &hr);
    sink->NonDelegatingAddRef();
  }
  void TearDown() override
  {
    src->Stop();
    if (filter) filter->Stop();
    sink->Stop();
    IPin *p = nullptr;
    for (const char16_t *name : {u"In", u"Out"}) {
      if (filter && filter->FindPin(name, &p) == S_OK) {
        IPin *peer = nullptr;
        if (p->ConnectedTo(&peer) == S_OK) {
          peer->Disconnect();
          peer->Release();
        }
        p->Disconnect();
        p->Release();
      }
    }
    if (settings) settings->Release();
    if (filter) filter->Release();
    src->NonDelegatingRelease();
    sink->NonDelegatingRelease();
  }
  HRESULT Connect(int channels, uint32_t mask)
  {
    src->pin.type = pcm_type(channels, mask);
    IPin *in = nullptr, *out = nullptr;
    EXPECT_EQ(filter->FindPin(u"In", &in), S_OK);
    HRESULT hr = src->pin.Connect(in, nullptr);
    in->Release();
    if (FAILED(hr)) return hr;
    EXPECT_EQ(filter->FindPin(u"Out", &out), S_OK);
    hr = out->Connect(&sink->pin, nullptr);
    out->Release();
    return hr;
  }

  void *lib = nullptr;
  IBaseFilter *filter = nullptr;
  IDownmixSettings *settings = nullptr;
  OnePinFilter<PushPin> *src = nullptr;
  OnePinFilter<SinkPin> *sink = nullptr;
};

TEST_F(DownmixFilter, SettingsPresetsAndStream)
{
  DownmixSettings r;
  ASSERT_EQ(settings->SetLoRoLfeLevel(1), S_OK);
  ASSERT_EQ(settings->GetSettings(&r), S_OK);
  EXPECT_EQ(r.loro_lfe, 1);
  EXPECT_EQ(r.loro_center, 2);
  EXPECT_EQ(r.left_gain[2], 16);
  int v = 0;
  settings->SetMethod(7);
  settings->GetMethod(&v);
  EXPECT_EQ(v, 3);
  settings->SetLeftGainLFE(99);
  settings->GetSettings(&r);
  EXPECT_EQ(r.left_gain[3], 99);  // record field 10
  settings->SetLeftGainSL(-3);
  settings->GetLeftGainSL(&v);
  EXPECT_EQ(v, 0);

  int a = 1, b = 2, c = 3;
  EXPECT_EQ(settings->SetNotifyWindow(&a, 32700), S_OK);
  EXPECT_EQ(settings->SetNotifyWindow(&b, 32700), S_OK);
  EXPECT_EQ(settings->SetNotifyWindow(&c, 32700), E_OUTOFMEMORY);
  EXPECT_EQ(settings->SetNotifyWindow(&c, 0), S_OK);
  EXPECT_EQ(settings->SetNotifyWindow(&a, 0), S_OK);
  EXPECT_EQ(settings->SetNotifyWindow(&c, 32700), S_OK);
  WAVEFORMATEX w;
  EXPECT_EQ(settings->GetWaveFormat(&w, 2), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(settings->GetWaveFormat(&w, 0), VFW_E_NOT_CONNECTED);

  IDownmixPresets *presets = nullptr;
  ASSERT_EQ(filter->QueryInterface(IID_IDownmixPresets, reinterpret_cast<void **>(&presets)), S_OK);
  WCHAR name[2] = {'x', 'x'};
  EXPECT_EQ(presets->GetPresetName(0, name, 2), S_OK);
  EXPECT_EQ(name[1], 0);
  EXPECT_EQ(presets->GetPresetName(0, name, 0), E_INVALIDARG);
  EXPECT_EQ(presets->ApplyPreset(0), S_OK);
  presets->Release();
  settings->GetSettings(&r);
  EXPECT_EQ(r.loro_lfe, 0);

  IPersistStream *ps = nullptr;
  ASSERT_EQ(filter->QueryInterface(IID_IPersistStream, reinterpret_cast<void **>(&ps)), S_OK);
  IStream *s = nullptr;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &s), S_OK);
  EXPECT_EQ(ps->IsDirty(), S_OK);
  ASSERT_EQ(ps->Save(s, TRUE), S_OK);
  EXPECT_EQ(ps->IsDirty(), S_FALSE);
  BYTE block[144];
  ULONG got = 0;
  s->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr);
  s->Read(block, 144, &got);
  EXPECT_EQ(got, 144u);
  const BYTE head[8] = {0x90, 0, 0, 0, 0xA1, 0xEC, 0xBF, 0xB6};
  EXPECT_EQ(std::memcmp(block, head, 8), 0);
  IStream *shortStream = nullptr;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &shortStream), S_OK);
  block[0] = 143;
  shortStream->Write(block, 144, &got);
  shortStream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr);
  EXPECT_EQ(ps->Load(shortStream), E_FAIL);
  shortStream->Release();
  s->Release();
  CLSID id;
  EXPECT_EQ(ps->GetClassID(&id), S_OK);
  EXPECT_EQ(id, CLSID_DownmixFilter);
  ps->Release();
}

std::vector<WPARAM> page_commands;
LRESULT page_proc(HWND, UINT msg, WPARAM w, LPARAM)
{
  if (msg == WM_COMMAND) page_commands.push_back(w);
  if (msg == WM_USER) PostQuitMessage(0);
  return 0;
}

TEST_F(DownmixFilter, LoadNotifiesRegisteredPagesAndFreesTheSlotOfAClosedOne)
{
  page_commands.clear();
  HWND page = CreateMessageWindow("page", "", page_proc, nullptr);
  HWND closed = CreateMessageWindow("page", "", page_proc, nullptr);
  ASSERT_EQ(settings->SetNotifyWindow(page, 32700), S_OK);
  ASSERT_EQ(settings->SetNotifyWindow(closed, 32701), S_OK);
  DestroyWindow(closed);
  IPersistStream *ps = nullptr;
  ASSERT_EQ(filter->QueryInterface(IID_IPersistStream, reinterpret_cast<void **>(&ps)), S_OK);
  IStream *s = nullptr;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &s), S_OK);
  ASSERT_EQ(ps->Save(s, TRUE), S_OK);
  s->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr);
  ASSERT_EQ(ps->Load(s), S_OK);
  s->Release();
  ps->Release();
  PostMessage(page, WM_USER, 0, 0);  // after what the filter posted
  MessageLoop();
  EXPECT_EQ(page_commands, std::vector<WPARAM>{(100u << 16) | 32700u});
  int x = 0, y = 0;
  EXPECT_EQ(settings->SetNotifyWindow(&x, 1), S_OK);  // the closed page's slot
  EXPECT_EQ(settings->SetNotifyWindow(&y, 1), E_OUTOFMEMORY);
  DestroyWindow(page);
}

TEST_F(DownmixFilter, SixChannelsToStereo)
{
  ASSERT_EQ(Connect(6, 0x3F), S_OK);
  WAVEFORMATEX w{};
  ASSERT_EQ(settings->GetWaveFormat(&w, 1), S_OK);
  EXPECT_EQ(w.nChannels, 2);
  EXPECT_EQ(w.nBlockAlign, 4);
  EXPECT_EQ(w.wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(w.cbSize, 0);
  ASSERT_EQ(settings->GetWaveFormat(&w, 0), S_OK);
  EXPECT_EQ(w.wFormatTag, WAVE_FORMAT_EXTENSIBLE);

  ASSERT_EQ(sink->Run(0), S_OK);
  ASSERT_EQ(filter->Run(0), S_OK);
  ASSERT_EQ(src->Run(0), S_OK);
  ASSERT_EQ(src->pin.Push({0, 0, 32767, 0, 0, 0, 0, 0, 0, 32767, 0, 0}), S_OK);
  settings->SetLoRoLfeLevel(1);  // takes effect with the next block
  ASSERT_EQ(src->pin.Push({0, 0, 0, 32767, 0, 0}), S_OK);
  std::lock_guard<std::mutex> l(sink->pin.m);
  ASSERT_EQ(sink->pin.got.size(), 2u);
  EXPECT_EQ(sink->pin.got[0], (std::vector<int16_t>{23197, 23197, 0, 0}));
  EXPECT_EQ(sink->pin.got[1], (std::vector<int16_t>{32767, 32767}));
}

TEST_F(DownmixFilter, RefusesInputsTheMixerCannotStep)
{
  EXPECT_TRUE(FAILED(Connect(1, 0x4)));
  CMediaType bad = pcm_type(6, 0x3F);
  reinterpret_cast<WAVEFORMATEX *>(bad.pbFormat)->nBlockAlign = 2;  // not 6 x 16 bits
  src->pin.type = bad;
  IPin *in = nullptr;
  ASSERT_EQ(filter->FindPin(u"In", &in), S_OK);
  EXPECT_TRUE(FAILED(src->pin.Connect(in, nullptr)));
  in->Release();
}

}  // namespace

namespace {

DWORD rate_of(IPin *pin)
{
  AM_MEDIA_TYPE mt{};
  if (FAILED(pin->ConnectionMediaType(&mt))) return 0;
  DWORD rate = mt.cbFormat >= 16 ? reinterpret_cast<const WAVEFORMATEX *>(mt.pbFormat)->nSamplesPerSec : 0;
  FreeMediaType(mt);
  return rate;
}

// A new input at another rate, after the output has connected: taken only
// when the downstream pin takes its output, which then connects again with
// buffers as large as the new input's; outside a graph there is no one to
// connect it again.
TEST_F(DownmixFilter, NewInputRateReconnectsTheOutputOrIsRefused)
{
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  IGraphBuilder *graph = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                             reinterpret_cast<void **>(&graph)),
            S_OK);
  IPin *in = nullptr, *out = nullptr;
  ASSERT_EQ(filter->FindPin(u"Input", &in), S_OK);
  ASSERT_EQ(filter->FindPin(u"Output", &out), S_OK);
  PIN_INFO info;
  for (IPin *p : {in, out}) {
    ASSERT_EQ(p->QueryPinInfo(&info), S_OK);
    EXPECT_EQ(std::u16string(info.achName), p == in ? u"Input" : u"Output");
    info.pFilter->Release();
  }
  for (IBaseFilter *f : {static_cast<IBaseFilter *>(src), filter, static_cast<IBaseFilter *>(sink)})
    ASSERT_EQ(graph->AddFilter(f, nullptr), S_OK);
  src->pin.type = pcm_type(6, 0x3F);
  ASSERT_EQ(graph->ConnectDirect(&src->pin, in, nullptr), S_OK);
  ASSERT_EQ(graph->ConnectDirect(out, &sink->pin, nullptr), S_OK);
  EXPECT_EQ(rate_of(&sink->pin), 48000u);

  // The downstream pin takes 44100 Hz: the output follows the input.
  ASSERT_EQ(graph->Disconnect(&src->pin), S_OK);
  ASSERT_EQ(graph->Disconnect(in), S_OK);
  src->pin.type = pcm_type(6, 0x3F, 44100);
  ASSERT_EQ(graph->ConnectDirect(&src->pin, in, nullptr), S_OK);
  EXPECT_EQ(rate_of(&sink->pin), 44100u);
  EXPECT_EQ(rate_of(out), 44100u);
  IMediaControl *control = nullptr;
  ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void **>(&control)), S_OK);
  ASSERT_EQ(control->Run(), S_OK);
  std::vector<int16_t> block(4096 / 2, 0);  // a whole input buffer: 341 frames
  for (size_t i = 0; i + 6 <= block.size(); i += 6) block[i] = 1000;
  ASSERT_EQ(src->pin.Push(block), S_OK);
  ASSERT_EQ(control->Stop(), S_OK);
  control->Release();
  {
    std::lock_guard<std::mutex> l(sink->pin.m);
    ASSERT_EQ(sink->pin.got.size(), 1u);
    ASSERT_EQ(sink->pin.got[0].size(), 341u * 2);  // all of it: the output's buffers were sized from the new input's
    EXPECT_EQ(sink->pin.got[0][680], 1000);
  }

  // A downstream pin that keeps to 44100 Hz: 32000 Hz is refused, and the
  // output stays as it was.
  sink->pin.only_rate = 44100;
  ASSERT_EQ(graph->Disconnect(&src->pin), S_OK);
  ASSERT_EQ(graph->Disconnect(in), S_OK);
  src->pin.type = pcm_type(6, 0x3F, 32000);
  EXPECT_TRUE(FAILED(graph->ConnectDirect(&src->pin, in, nullptr)));
  EXPECT_EQ(rate_of(&sink->pin), 44100u);

  // Outside a graph (which disconnects what leaves it) the output cannot be
  // connected again.
  for (IBaseFilter *f : {static_cast<IBaseFilter *>(src), filter, static_cast<IBaseFilter *>(sink)})
    ASSERT_EQ(graph->RemoveFilter(f), S_OK);
  sink->pin.only_rate = 0;
  src->pin.type = pcm_type(6, 0x3F, 44100);
  ASSERT_EQ(src->pin.Connect(in, nullptr), S_OK);
  ASSERT_EQ(out->Connect(&sink->pin, nullptr), S_OK);
  src->pin.Disconnect();
  in->Disconnect();
  src->pin.type = pcm_type(6, 0x3F, 32000);
  EXPECT_EQ(src->pin.Connect(in, nullptr), VFW_E_NOT_IN_GRAPH);
  EXPECT_EQ(rate_of(&sink->pin), 44100u);
  in->Release();
  out->Release();
  graph->Release();
  CoUninitialize();
}

}  // namespace
