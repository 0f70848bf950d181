// The resample filter between a PCM source of the test's own and the
// delegate renderer: output types from the settings, refused input and
// output types, buffer sizing, and the bytes that reach the renderer.
#include <gtest/gtest.h>

#include <mirrow/mirrow.h>
#include <pandrel/pandrel.h>
#include <tarvo_dshow/base_filter.h>

#include "dshow_chain.h"
#include "pcm_chain.h"

#include <cstring>
#include <vector>

namespace {

WAVEFORMATEX pcm(DWORD rate, WORD bits, WORD channels, WORD tag = WAVE_FORMAT_PCM)
{
  WORD align = WORD(channels * ((bits + 7) / 8));
  return WAVEFORMATEX{tag, channels, rate, rate * align, align, bits, 0};
}

HRESULT accepts(IPin *pin, const void *format, ULONG length)
{
  CMediaType mt = audio_type(format, length);
  return pin->QueryAccept(&mt);
}

bool connected(IPin *pin)
{
  IPin *peer = nullptr;
  if (pin->ConnectedTo(&peer) != S_OK) return false;
  peer->Release();
  return true;
}

class Collect final : public DelegateCallback {
 public:
  HRESULT Receive(IMediaSample *s) override
  {
    BYTE *p;
    s->GetPointer(&p);
    bytes.insert(bytes.end(), p, p + s->GetActualDataLength());
    return S_OK;
  }
  std::vector<BYTE> bytes;
};

class Resample : public ::testing::Test {
 protected:
  void SetUp() override
  {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    ASSERT_EQ(chain_create(FILTER_DIR "mirrow.ax", CLSID_ResampleFilter, IID_IBaseFilter, mirrow.out()), S_OK);
    ASSERT_EQ(chain_create(FILTER_DIR "pandrel.ax", CLSID_DelegateRenderer, IID_IBaseFilter, rend.out()), S_OK);
    ASSERT_EQ(mirrow->QueryInterface(IID_IResampleSettings, settings.out()), S_OK);
    Ref<IDelegateRenderer> d;
    ASSERT_EQ(rend->QueryInterface(IID_IDelegateRenderer, d.out()), S_OK);
    d->SetCallback(&got);
    source = new PcmSource;
    source->NonDelegatingAddRef();
    for (IBaseFilter *f : {static_cast<IBaseFilter *>(source), mirrow.p, rend.p})
      ASSERT_EQ(f->JoinFilterGraph(&graph, u"f"), S_OK);
    m_in.p = chain_pin(mirrow.p, PINDIR_INPUT);
    m_out.p = chain_pin(mirrow.p, PINDIR_OUTPUT);
    r_in.p = chain_pin(rend.p, PINDIR_INPUT);
    ASSERT_TRUE(m_in.p && m_out.p && r_in.p);
  }
  void TearDown() override
  {
    for (IBaseFilter *f : {rend.p, mirrow.p, static_cast<IBaseFilter *>(source)}) f->Stop();
    for (IPin *p : {static_cast<IPin *>(&source->pin), m_in.p, m_out.p, r_in.p}) p->Disconnect();
    for (IBaseFilter *f : {static_cast<IBaseFilter *>(source), mirrow.p, rend.p}) f->JoinFilterGraph(nullptr, nullptr);
    source->NonDelegatingRelease();
    CoUninitialize();
  }
  void Settings(int rate, int bits, int channels)
  {
    settings->SetSampleRate(rate);
    settings->SetBitsPerSample(bits);
    settings->SetChannels(channels);
  }
  // Source and settings connected through to the renderer.
  HRESULT Connect(const WAVEFORMATEX &in, LONG buffer = 4410 * 4)
  {
    source->pin.type = audio_type(&in, sizeof in);
    source->pin.buffer = buffer;
    HRESULT hr = source->pin.Connect(m_in.p, nullptr);
    if (FAILED(hr)) return hr;
    return m_out->Connect(r_in.p, nullptr);
  }
  // The output type as the renderer holds it.
  std::vector<BYTE> OutputFormat()
  {
    AM_MEDIA_TYPE mt{};
    if (FAILED(r_in->ConnectionMediaType(&mt))) return {};
    EXPECT_EQ(mt.subtype, MEDIASUBTYPE_PCM);
    EXPECT_EQ(mt.formattype, FORMAT_WaveFormatEx);
    std::vector<BYTE> block(mt.pbFormat, mt.pbFormat + mt.cbFormat);
    FreeMediaType(mt);
    return block;
  }
  std::vector<BYTE> Stream(const std::vector<BYTE> &data)
  {
    for (IBaseFilter *f : {rend.p, mirrow.p, static_cast<IBaseFilter *>(source)}) EXPECT_EQ(f->Pause(), S_OK);
    for (IBaseFilter *f : {rend.p, mirrow.p, static_cast<IBaseFilter *>(source)}) EXPECT_EQ(f->Run(0), S_OK);
    EXPECT_EQ(source->pin.Push(data.data(), data.size()), S_OK);
    EXPECT_EQ(graph.CountNow(EC_COMPLETE), 1);
    return got.bytes;
  }

  ChainGraph graph;
  Collect got;
  PcmSource *source = nullptr;
  Ref<IBaseFilter> mirrow, rend;
  Ref<IResampleSettings> settings;
  Ref<IPin> m_in, m_out, r_in;
};

TEST_F(Resample, OutputTypeTakesRateWidthAndChannelsFromTheSettings)
{
  struct Case {
    int bits, channels;
    WORD tag, align;
    size_t block;
  } cases[] = {{16, 2, WAVE_FORMAT_PCM, 4, 18}, {32, 2, WAVE_FORMAT_IEEE_FLOAT, 8, 18},
               {16, 6, WAVE_FORMAT_EXTENSIBLE, 12, 40}, {20, 1, WAVE_FORMAT_PCM, 3, 18}};
  for (const Case &c : cases) {
    Settings(44100, c.bits, c.channels);
    ASSERT_EQ(Connect(pcm(48000, 16, 2)), S_OK) << c.bits << "/" << c.channels;
    std::vector<BYTE> block = OutputFormat();
    ASSERT_EQ(block.size(), c.block);
    WAVEFORMATEXTENSIBLE w{};
    std::memcpy(&w, block.data(), block.size());
    EXPECT_EQ(w.Format.wFormatTag, c.tag);
    EXPECT_EQ(w.Format.nSamplesPerSec, 44100u);
    EXPECT_EQ(w.Format.nChannels, c.channels);
    EXPECT_EQ(w.Format.wBitsPerSample, c.bits);
    EXPECT_EQ(w.Format.nBlockAlign, c.align);
    EXPECT_EQ(w.Format.nAvgBytesPerSec, 44100u * c.align);
    if (c.tag == WAVE_FORMAT_EXTENSIBLE) {
      EXPECT_EQ(w.dwChannelMask, 0x3Fu);
    }
    // One type only: the second position has no more.
    Ref<IEnumMediaTypes> types;
    ASSERT_EQ(m_out->EnumMediaTypes(&types.p), S_OK);
    AM_MEDIA_TYPE *one[2] = {};
    ULONG n = 0;
    EXPECT_EQ(types->Next(2, one, &n), S_FALSE);
    EXPECT_EQ(n, 1u);
    DeleteMediaType(one[0]);
    for (IPin *p : {static_cast<IPin *>(&source->pin), m_in.p, m_out.p, r_in.p}) p->Disconnect();
  }
}

TEST_F(Resample, InputTypesTheConvertersCannotReadAndOutputsOtherThanTheSettingsAreRefused)
{
  // Each of these once reached the scanner thread and divided by zero or
  // read past the format block.
  WAVEFORMATEX zero_channels = pcm(44100, 16, 0), zero_rate = pcm(0, 16, 2), zero_bits = pcm(44100, 0, 2),
               twelve = pcm(44100, 12, 2), int32 = pcm(44100, 32, 2), double64 = pcm(44100, 64, 2, 3),
               mp3 = pcm(44100, 16, 2, WAVE_FORMAT_MPEGLAYER3), ext = pcm(44100, 16, 2, WAVE_FORMAT_EXTENSIBLE);
  ext.cbSize = 22;
  const struct {
    const WAVEFORMATEX *f;
    ULONG length;
  } refused[] = {{&zero_channels, 18}, {&zero_rate, 18}, {&zero_bits, 18}, {&twelve, 18}, {&int32, 18},
                 {&double64, 18},      {&mp3, 18},       {&ext, 18},       {&zero_channels, 0}};
  WAVEFORMATEX good = pcm(44100, 16, 2);
  for (auto &r : refused) EXPECT_NE(accepts(m_in.p, r.f, r.length), S_OK) << r.f->wFormatTag;
  EXPECT_NE(accepts(m_in.p, &good, 14), S_OK);
  EXPECT_EQ(accepts(m_in.p, &good, 16), S_OK);
  WAVEFORMATEX fl = pcm(8000, 32, 1, WAVE_FORMAT_IEEE_FLOAT), b20 = pcm(96000, 20, 2);
  EXPECT_EQ(accepts(m_in.p, &fl, 18), S_OK);
  EXPECT_EQ(accepts(m_in.p, &b20, 18), S_OK);

  Settings(44100, 16, 2);
  source->pin.type = audio_type(&good, sizeof good);
  ASSERT_EQ(source->pin.Connect(m_in.p, nullptr), S_OK);
  WAVEFORMATEX other = pcm(22050, 16, 2);
  CMediaType wrong = audio_type(&other, sizeof other);
  EXPECT_NE(m_out->Connect(r_in.p, &wrong), S_OK);
  EXPECT_FALSE(connected(r_in.p));
  EXPECT_EQ(m_out->Connect(r_in.p, nullptr), S_OK);
}

TEST_F(Resample, OutputBuffersBelow512BytesFail)
{
  // Equal formats: the request is the source's buffer times 1.1.
  Settings(44100, 16, 2);
  EXPECT_TRUE(FAILED(Connect(pcm(44100, 16, 2), 464)));  // 510 bytes: the buffer decision fails
  EXPECT_FALSE(connected(r_in.p));
  source->pin.Disconnect();
  m_in->Disconnect();
  EXPECT_EQ(Connect(pcm(44100, 16, 2), 466), S_OK);  // 512 bytes
}

TEST_F(Resample, EqualFormatsPassBytesUnchanged)
{
  Settings(44100, 16, 2);
  ASSERT_EQ(Connect(pcm(44100, 16, 2)), S_OK);
  std::vector<BYTE> data(44100 * 4);
  for (size_t i = 0; i < data.size(); i++) data[i] = BYTE(i * 31 + 7);
  EXPECT_EQ(Stream(data), data);
}

TEST_F(Resample, StereoMixesToMonoByTruncatingHalfTheSum)
{
  Settings(44100, 16, 1);
  ASSERT_EQ(Connect(pcm(44100, 16, 2)), S_OK);
  std::vector<int16_t> in;
  for (int i = 0; i < 10000; i++) in.insert(in.end(), {int16_t(i - 5000), int16_t(3 - i)});
  std::vector<BYTE> data(in.size() * 2);
  std::memcpy(data.data(), in.data(), data.size());
  std::vector<BYTE> out = Stream(data);
  ASSERT_EQ(out.size(), data.size() / 2);
  for (size_t i = 0; i < 10000; i++) {
    int16_t m;
    std::memcpy(&m, &out[2 * i], 2);
    ASSERT_EQ(m, int16_t(0.5 * in[2 * i] + 0.5 * in[2 * i + 1])) << i;
  }
}

TEST_F(Resample, WideningTo20BitsStereoFillsThreeBytesASampleWithinTheOutputBuffer)
{
  // Sized by bits, a full input buffer widened to 3-byte samples wrote past
  // the output buffer.
  Settings(44100, 20, 2);
  ASSERT_EQ(Connect(pcm(44100, 16, 1), 4000), S_OK);
  std::vector<BYTE> data(4000 * 5);
  for (size_t i = 0; i < data.size(); i += 2) {
    int16_t v = int16_t(i * 13);
    std::memcpy(&data[i], &v, 2);
  }
  std::vector<BYTE> out = Stream(data);
  ASSERT_EQ(out.size(), data.size() / 2 * 3 * 2);
  for (size_t i = 0; i < data.size() / 2; i++) {
    int16_t v;
    std::memcpy(&v, &data[2 * i], 2);
    int32_t want = std::max(-8388608, int32_t(v / 32767.0 * 8388607));
    for (int side = 0; side < 2; side++) {
      const BYTE *p = &out[(2 * i + side) * 3];
      ASSERT_EQ(int32_t(uint32_t(p[0] << 8 | p[1] << 16 | p[2] << 24)) >> 8, want) << i;
    }
  }
}

TEST_F(Resample, RateConversionYieldsTheRatioOfFrames)
{
  Settings(44100, 16, 2);
  ASSERT_EQ(Connect(pcm(48000, 16, 2)), S_OK);
  std::vector<BYTE> data(48000 * 4, 0);
  std::vector<BYTE> out = Stream(data);
  EXPECT_NEAR(double(out.size() / 4), 44100.0, 20.0);
}

}  // namespace
