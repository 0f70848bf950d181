// The transcoding chains as the LPCM plug-in builds them, in the real
// filter graph: File Source (Async.) -> WAVE parser or MP3 parser -> (ACM
// wrapper) -> resample filter -> delegate renderer, on files written here.
// What reaches the renderer's callback: its format, length and tone, after
// a seek too, and the callback order of a stop in mid-stream.
#include <gtest/gtest.h>

#include <mirrow/mirrow.h>
#include <pandrel/pandrel.h>
#include <quorrin/quorrin.h>
#include <tarvo_dshow/dshow_graph.h>
#include <tarvo_dshow/dshow_sys.h>

#include "dshow_chain.h"
#include "tarvo_test.h"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

void put16(std::vector<BYTE> &v, uint32_t x)
{
  v.push_back(BYTE(x));
  v.push_back(BYTE(x >> 8));
}
void put32(std::vector<BYTE> &v, uint32_t x)
{
  put16(v, x & 0xFFFF);
  put16(v, x >> 16);
}

// The files the tests make, in a folder of the program's own rather than
// the working folder, which may be a build tree the user can only read.
const tarvo_test::scratch_dir g_files;

// A 16-bit PCM WAV file of a -6 dBFS sine of hz, the same in every channel.
std::string write_tone(const char *what, DWORD rate, WORD channels, double seconds, double hz)
{
  const WORD align = WORD(2 * channels);
  const uint32_t frames = uint32_t(seconds * rate), data = frames * align;
  std::vector<BYTE> f = {'R', 'I', 'F', 'F'};
  put32(f, 36 + data);
  f.insert(f.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  put32(f, 16);
  put16(f, WAVE_FORMAT_PCM);
  put16(f, channels);
  put32(f, rate);
  put32(f, rate * align);
  put16(f, align);
  put16(f, 16);
  f.insert(f.end(), {'d', 'a', 't', 'a'});
  put32(f, data);
  for (uint32_t i = 0; i < frames; i++)
    for (WORD c = 0; c < channels; c++) put16(f, uint16_t(int16_t(16383 * std::sin(2 * M_PI * hz * i / rate))));
  std::string name = g_files / (std::string("graph_") + what + ".wav");
  FILE *out = std::fopen(name.c_str(), "wb");
  if (out) {
    std::fwrite(f.data(), 1, f.size(), out);
    std::fclose(out);
  }
  return name;
}

// Samples and callback calls as the renderer hands them over.
class Record final : public DelegateCallback {
 public:
  HRESULT Run(REFERENCE_TIME) override { return Note('R'); }
  HRESULT Pause() override { return Note('P'); }
  HRESULT Stop() override { return Note('S'); }
  HRESULT Receive(IMediaSample *s) override
  {
    BYTE *p = nullptr;
    s->GetPointer(&p);
    std::lock_guard<std::mutex> l(m);
    if (calls.empty() || calls.back() != 'D') calls.push_back('D');
    bytes.insert(bytes.end(), p, p + s->GetActualDataLength());
    return S_OK;
  }
  size_t Size()
  {
    std::lock_guard<std::mutex> l(m);
    return bytes.size();
  }
  // The state changes in order, and whether samples came before the stop:
  // samples may come while paused, and one in progress as Stop is called.
  std::string Transitions()
  {
    std::lock_guard<std::mutex> l(m);
    std::string t;
    for (char c : calls)
      if (c != 'D') t.push_back(c);
    size_t stop = calls.find('S');
    if (stop != std::string::npos && calls.find('D') < stop) t += "+samples";
    return t;
  }
  std::mutex m;
  std::string calls;  // P, R, S, and D for a run of samples
  std::vector<BYTE> bytes;

 private:
  HRESULT Note(char c)
  {
    std::lock_guard<std::mutex> l(m);
    calls.push_back(c);
    return S_OK;
  }
};

template <class T>
HRESULT make(REFCLSID clsid, REFIID iid, Ref<T> *p)
{
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, p->out());
}

// One graph over one file, built and connected; the resampler's settings
// are given before it connects, as the plug-in gives them.
struct Chain {
  Record got;  // outlives the graph, as the plug-in's sink does
  Ref<IGraphBuilder> graph;
  Ref<IBaseFilter> source, parser, acm, mirrow, rend;
  Ref<IMediaControl> control;
  Ref<IMediaEvent> events;
  Ref<IMediaSeeking> seeking;
  std::vector<BYTE> format;  // the renderer's connection format

  enum Parser { kWave, kMp3 };
  HRESULT Build(const std::string &file, int rate, int channels, bool decode, Parser kind = kWave)
  {
    HRESULT hr;
    if (FAILED(hr = make(CLSID_FilterGraph, IID_IGraphBuilder, &graph))) return hr;
    if (FAILED(hr = make(CLSID_AsyncReader, IID_IBaseFilter, &source))) return hr;
    hr = kind == kWave ? make(CLSID_WAVEParser, IID_IBaseFilter, &parser)
                       : chain_create(FILTER_DIR "quorrin.ax", CLSID_Mp3Parser, IID_IBaseFilter, parser.out());
    if (FAILED(hr)) return hr;
    if (decode && FAILED(hr = make(CLSID_ACMWrapper, IID_IBaseFilter, &acm))) return hr;
    if (FAILED(hr = chain_create(FILTER_DIR "mirrow.ax", CLSID_ResampleFilter, IID_IBaseFilter, mirrow.out()))) return hr;
    if (FAILED(hr = chain_create(FILTER_DIR "pandrel.ax", CLSID_DelegateRenderer, IID_IBaseFilter, rend.out())))
      return hr;
    Ref<IFileSourceFilter> load;
    source->QueryInterface(IID_IFileSourceFilter, load.out());
    std::u16string wide(file.begin(), file.end());
    if (FAILED(hr = load->Load(wide.c_str(), nullptr))) return hr;
    Ref<IResampleSettings> settings;
    mirrow->QueryInterface(IID_IResampleSettings, settings.out());
    settings->SetSampleRate(rate);
    settings->SetBitsPerSample(16);
    settings->SetChannels(channels);
    Ref<IDelegateRenderer> delegate;
    rend->QueryInterface(IID_IDelegateRenderer, delegate.out());
    delegate->SetCallback(&got);
    std::vector<IBaseFilter *> order = {source.p, parser.p};
    if (acm.p) order.push_back(acm.p);
    order.insert(order.end(), {mirrow.p, rend.p});
    for (IBaseFilter *f : order) graph->AddFilter(f, nullptr);
    for (size_t i = 0; i + 1 < order.size(); i++) {
      Ref<IPin> out, in;
      out.p = chain_pin(order[i], PINDIR_OUTPUT);
      in.p = chain_pin(order[i + 1], PINDIR_INPUT);
      if (FAILED(hr = graph->ConnectDirect(out.p, in.p, nullptr))) return hr;
    }
    graph->QueryInterface(IID_IMediaControl, control.out());
    graph->QueryInterface(IID_IMediaEvent, events.out());
    graph->QueryInterface(IID_IMediaSeeking, seeking.out());
    Ref<IPin> last;
    last.p = chain_pin(rend.p, PINDIR_INPUT);
    AM_MEDIA_TYPE mt{};
    if (FAILED(hr = last->ConnectionMediaType(&mt))) return hr;
    format.assign(mt.pbFormat, mt.pbFormat + mt.cbFormat);
    FreeMediaType(mt);
    return S_OK;
  }
  // Runs to the end; the way it ended.
  LONG Play()
  {
    LONG code = 0;
    EXPECT_EQ(control->Run(), S_OK);
    EXPECT_EQ(events->WaitForCompletion(20000, &code), S_OK);
    EXPECT_EQ(control->Stop(), S_OK);
    return code;
  }
  WAVEFORMATEX Format() const
  {
    WAVEFORMATEX w{};
    std::memcpy(&w, format.data(), std::min(format.size(), sizeof w));
    return w;
  }
  ~Chain()
  {
    if (control.p) control->Stop();
  }
};

// The strongest frequency from 990 to 1010 Hz in steps of 0.1 Hz, over one
// second from the middle of the first channel of 16-bit PCM.
double tone_hz(const std::vector<BYTE> &pcm, DWORD rate, WORD channels)
{
  const size_t step = 2 * size_t(channels), frames = pcm.size() / step;
  if (frames < rate * 3 / 2) return 0;
  const size_t from = (frames - rate) / 2;
  double best = 0, best_hz = 0;
  for (double hz = 990; hz <= 1010; hz += 0.1) {
    double w = 2 * M_PI * hz / rate, c = 2 * std::cos(w), s1 = 0, s2 = 0;
    for (size_t i = from; i < from + rate; i++) {
      double s0 = double(int16_t(pcm[i * step] | pcm[i * step + 1] << 8)) + c * s1 - s2;
      s2 = s1;
      s1 = s0;
    }
    double power = s1 * s1 + s2 * s2 - c * s1 * s2;
    if (power > best) best = power, best_hz = hz;
  }
  return best_hz;
}

// The largest sample of the first channel, away from both ends.
int peak(const std::vector<BYTE> &pcm, WORD channels)
{
  const size_t step = 2 * size_t(channels), frames = pcm.size() / step;
  int top = 0;
  for (size_t i = frames / 10; i < frames - frames / 10; i++)
    top = std::max(top, std::abs(int(int16_t(pcm[i * step] | pcm[i * step + 1] << 8))));
  return top;
}

class ResampleGraph : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CoInitialize(nullptr), S_OK); }
  void TearDown() override
  {
    for (const std::string &f : files) std::remove(f.c_str());
    CoUninitialize();
  }
  // A 1 kHz tone of the given length encoded by ffmpeg ("" when it could
  // not), removed after the test.
  std::string Encoded(const char *what, const char *ext, int rate, int channels, int seconds, const char *codec)
  {
    std::string file = g_files / (std::string("graph_") + what + ext);
    files.push_back(file);
    std::string cmd = "ffmpeg -v error -y -f lavfi -i sine=frequency=1000:sample_rate=" + std::to_string(rate) +
                      ":duration=" + std::to_string(seconds) + " -ac " + std::to_string(channels) + " " + codec +
                      " " + file;
    return std::system(cmd.c_str()) == 0 ? file : "";
  }
  std::vector<std::string> files;
};

TEST_F(ResampleGraph, WavFilesReachTheRendererAtTheSettingsRateAndChannelsWithTheirToneAndLength)
{
  struct Case {
    const char *what;
    DWORD rate_in;
    WORD channels_in;
    int rate_out, channels_out;
  } cases[] = {
    {"down", 48000, 2, 44100, 2},
    {"up_mono", 44100, 2, 48000, 1},
    {"up_stereo", 22050, 1, 48000, 2},
  };
  for (const Case &c : cases) {
    std::string file = write_tone(c.what, c.rate_in, c.channels_in, 2.0, 1000);
    files.push_back(file);
    Chain chain;
    ASSERT_EQ(chain.Build(file, c.rate_out, c.channels_out, false), S_OK) << c.what;
    WAVEFORMATEX w = chain.Format();
    EXPECT_EQ(w.wFormatTag, WAVE_FORMAT_PCM) << c.what;
    EXPECT_EQ(w.nSamplesPerSec, DWORD(c.rate_out)) << c.what;
    EXPECT_EQ(w.nChannels, c.channels_out) << c.what;
    EXPECT_EQ(w.nBlockAlign, 2 * c.channels_out) << c.what;
    EXPECT_EQ(w.nAvgBytesPerSec, DWORD(c.rate_out * 2 * c.channels_out)) << c.what;
    EXPECT_EQ(chain.Play(), EC_COMPLETE) << c.what;
    EXPECT_EQ(chain.got.Transitions(), "PRS+samples") << c.what;
    // Two seconds, short by at most the filter's reach into the last input.
    const double frames = double(chain.got.bytes.size()) / (2 * c.channels_out);
    EXPECT_NEAR(frames, 2.0 * c.rate_out, 64) << c.what;
    EXPECT_NEAR(tone_hz(chain.got.bytes, DWORD(c.rate_out), WORD(c.channels_out)), 1000, 0.5) << c.what;
    EXPECT_NEAR(peak(chain.got.bytes, WORD(c.channels_out)), 16383, 200) << c.what;
  }
}

TEST_F(ResampleGraph, SeekingThroughTheGraphStartsTheOutputThatFarIn)
{
  std::string file = write_tone("seek", 48000, 2, 3.0, 1000);
  files.push_back(file);
  Chain chain;
  ASSERT_EQ(chain.Build(file, 44100, 2, false), S_OK);
  LONGLONG duration = 0;
  ASSERT_EQ(chain.seeking->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, 3 * UNITS);
  LONGLONG at = UNITS;
  ASSERT_EQ(chain.seeking->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
  EXPECT_EQ(chain.Play(), EC_COMPLETE);
  const double frames = double(chain.got.bytes.size()) / 4;
  EXPECT_NEAR(frames, 2.0 * 44100, 64);
  EXPECT_NEAR(tone_hz(chain.got.bytes, 44100, 2), 1000, 0.5);
}

TEST_F(ResampleGraph, AdpcmThroughTheAcmWrapperIsDecodedAndResampled)
{
  const std::string file = Encoded("adpcm", ".wav", 22050, 1, 2, "-c:a adpcm_ms -f wav");
  if (file.empty()) GTEST_SKIP() << "ffmpeg could not write an MS ADPCM file";
  Chain chain;
  ASSERT_EQ(chain.Build(file, 44100, 2, true), S_OK);
  WAVEFORMATEX w = chain.Format();
  EXPECT_EQ(w.nSamplesPerSec, 44100u);
  EXPECT_EQ(w.nChannels, 2);
  EXPECT_EQ(chain.Play(), EC_COMPLETE);
  const double frames = double(chain.got.bytes.size()) / 4;
  EXPECT_NEAR(frames, 2.0 * 44100, 2048 * 2);  // a codec block and the encoder's delay, doubled
  EXPECT_NEAR(tone_hz(chain.got.bytes, 44100, 2), 1000, 0.5);
  // Mono widened after the engine: both channels carry the same samples.
  for (size_t i = 0; i + 4 <= chain.got.bytes.size(); i += 4)
    ASSERT_EQ(std::memcmp(&chain.got.bytes[i], &chain.got.bytes[i + 2], 2), 0) << i;
}

// The MP3 chain: the parser's frames decoded by the ACM wrapper; a seek to
// 1 s leaves two seconds of the tone.
TEST_F(ResampleGraph, Mp3ThroughTheParserAndTheAcmWrapperIsDecodedResampledAndSeeks)
{
  const std::string file = Encoded("mp3", ".mp3", 44100, 2, 3, "-c:a libmp3lame -b:a 128k -f mp3");
  if (file.empty()) GTEST_SKIP() << "ffmpeg could not write an MP3 file";
  for (LONGLONG seek : {LONGLONG(-1), LONGLONG(UNITS)}) {
    Chain chain;
    ASSERT_EQ(chain.Build(file, 48000, 2, true, Chain::kMp3), S_OK);
    WAVEFORMATEX w = chain.Format();
    EXPECT_EQ(w.nSamplesPerSec, 48000u);
    EXPECT_EQ(w.nChannels, 2);
    if (seek >= 0) {
      ASSERT_EQ(chain.seeking->SetPositions(&seek, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning),
                S_OK);
    }
    EXPECT_EQ(chain.Play(), EC_COMPLETE);
    const double seconds = seek < 0 ? 3.0 : 2.0, frames = double(chain.got.bytes.size()) / 4;
    EXPECT_NEAR(frames, seconds * 48000, 1152 * 3) << seek;  // the encoder's delay and padding, a frame or two
    EXPECT_NEAR(tone_hz(chain.got.bytes, 48000, 2), 1000, 0.5) << seek;
  }
}

TEST_F(ResampleGraph, StopInMidStreamEndsTheSamplesBeforeItReturnsAndTheGraphRunsAgain)
{
  std::string file = write_tone("stop", 44100, 2, 30.0, 1000);
  files.push_back(file);
  Chain chain;
  ASSERT_EQ(chain.Build(file, 48000, 2, false), S_OK);
  ASSERT_EQ(chain.control->Run(), S_OK);
  for (int i = 0; i < 2000 && chain.got.Size() == 0; i++) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_GT(chain.got.Size(), 0u);
  ASSERT_EQ(chain.control->Stop(), S_OK);
  const size_t at_stop = chain.got.Size();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(chain.got.Size(), at_stop);  // nothing arrives once Stop has returned
  EXPECT_EQ(chain.got.Transitions(), "PRS+samples");
  OAFilterState state = -1;
  EXPECT_EQ(chain.control->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);

  // From the start again, to the end this time.
  chain.got.bytes.clear();
  chain.got.calls.clear();
  LONGLONG zero = 0;
  ASSERT_EQ(chain.seeking->SetPositions(&zero, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning),
            S_OK);
  EXPECT_EQ(chain.Play(), EC_COMPLETE);
  EXPECT_EQ(chain.got.Transitions(), "PRS+samples");
  EXPECT_NEAR(double(chain.got.bytes.size()) / 4, 30.0 * 48000, 64);
}

}  // namespace
