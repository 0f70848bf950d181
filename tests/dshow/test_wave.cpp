// File Source (Async.), the WAVE parser and the ACM wrapper in a graph, all
// made through the class table: the data chunk's exact bytes at the test
// renderer, a seek by time that starts on the right frame, formats that are
// refused before any filter sees them, damaged files that end without a
// hang, and ADPCM, MP2 and MP3 in WAV decoded to the tone they hold.
#include <gtest/gtest.h>

#include "../common/media_fixtures.h"
#include "sys_graph.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
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
void put_id(std::vector<BYTE> &v, const char *id)
{
  for (int i = 0; i < 4; i++) v.push_back(BYTE(id[i]));
}

struct Wav {
  WORD tag = WAVE_FORMAT_PCM, channels = 2, block = 4, bits = 16;
  DWORD rate = 44100;
  std::vector<BYTE> extra;  // cbSize bytes and what follows, after the 16-byte format
  std::vector<BYTE> data;
  uint32_t declared_data = 0;  // 0: the data's own size
  bool odd_chunk = true;       // a chunk of odd size (padded) before the data
};

// 1 kHz tone, 16-bit frames.
std::vector<BYTE> tone(size_t frames, int channels)
{
  std::vector<BYTE> d;
  for (size_t i = 0; i < frames; i++)
    for (int c = 0; c < channels; c++) put16(d, uint16_t(int16_t(12000 * std::sin(2 * M_PI * 1000 * double(i) / 44100))));
  return d;
}

std::vector<BYTE> wav_bytes(const Wav &w)
{
  std::vector<BYTE> f;
  put_id(f, "RIFF");
  put32(f, 0);
  put_id(f, "WAVE");
  put_id(f, "fmt ");
  put32(f, uint32_t(16 + w.extra.size()));
  put16(f, w.tag);
  put16(f, w.channels);
  put32(f, w.rate);
  put32(f, w.rate * w.block);
  put16(f, w.block);
  put16(f, w.bits);
  f.insert(f.end(), w.extra.begin(), w.extra.end());
  if (w.odd_chunk) {
    put_id(f, "LIST");
    put32(f, 3);
    f.insert(f.end(), {'a', 'b', 'c', 0});
  }
  put_id(f, "data");
  put32(f, w.declared_data ? w.declared_data : uint32_t(w.data.size()));
  f.insert(f.end(), w.data.begin(), w.data.end());
  uint32_t riff = uint32_t(f.size() - 8);
  std::memcpy(&f[4], &riff, 4);
  return f;
}

std::u16string write_file(const std::string &name, const std::vector<BYTE> &bytes)
{
  FILE *f = std::fopen(name.c_str(), "wb");
  if (f) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  return std::u16string(name.begin(), name.end());
}

// File Source -> WAVE parser [-> ACM wrapper] -> test renderer.
Outcome play(const std::u16string &file, REFERENCE_TIME seek = -1, bool decode = false)
{
  std::vector<IBaseFilter *> middle{make<IBaseFilter>(CLSID_WAVEParser, IID_IBaseFilter)};
  if (decode) middle.push_back(make<IBaseFilter>(CLSID_ACMWrapper, IID_IBaseFilter));
  Outcome o = sys_play(CLSID_AsyncReader, file, middle, seek);
  EXPECT_EQ(o.load, S_OK);
  return o;
}

class WaveGraph : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CoInitialize(nullptr), S_OK); }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(WaveGraph, DeliversTheDataChunkExactlyAndSeeksToTheFrame)
{
  Wav w;
  w.data = tone(44100 + 300, 2);
  Outcome all = play(write_file("tone.wav", wav_bytes(w)));
  ASSERT_EQ(all.connect, S_OK);
  EXPECT_EQ(all.code, EC_COMPLETE);
  EXPECT_TRUE(all.bytes == w.data) << all.bytes.size() << " of " << w.data.size();

  // Half a second in: frame 22050 first, at time 0 of the new segment.
  Outcome half = play(write_file("tone.wav", wav_bytes(w)), UNITS / 2);
  EXPECT_EQ(half.code, EC_COMPLETE);
  ASSERT_EQ(half.bytes.size(), w.data.size() - 22050 * 4);
  EXPECT_TRUE(std::equal(half.bytes.begin(), half.bytes.end(), w.data.begin() + 22050 * 4));
  EXPECT_EQ(half.first_time, 0);

  // A data size beyond the end of a file that stops mid-frame: the whole
  // frames that are there.
  w.declared_data = uint32_t(w.data.size() + 100000);
  std::vector<BYTE> cut = wav_bytes(w);
  cut.resize(cut.size() - 4003);
  Outcome shortened = play(write_file("cut.wav", cut));
  EXPECT_EQ(shortened.code, EC_COMPLETE);
  size_t whole = (w.data.size() - 4003) / 4 * 4;
  ASSERT_EQ(shortened.bytes.size(), whole);
  EXPECT_TRUE(std::equal(shortened.bytes.begin(), shortened.bytes.end(), w.data.begin()));
}

TEST_F(WaveGraph, RefusesBadFormatsAndDamagedFilesAtConnection)
{
  auto refused = [](Wav w, const char *what) {
    w.data = tone(1000, 2);
    Outcome o = play(write_file("bad.wav", wav_bytes(w)));
    EXPECT_TRUE(FAILED(o.connect)) << what;
    EXPECT_TRUE(o.bytes.empty()) << what;
  };
  Wav w;
  w.channels = 0;
  refused(w, "no channels");
  w = Wav();
  w.channels = 9;
  w.block = 18;
  refused(w, "nine channels");
  w = Wav();
  w.rate = 0;
  refused(w, "rate 0");
  w = Wav();
  w.rate = 384001;
  refused(w, "rate too high");
  w = Wav();
  w.block = 0;
  refused(w, "block align 0");
  w = Wav();
  w.block = 3;
  refused(w, "PCM block align that is not channels times bytes");
  w = Wav();
  w.tag = 2;
  w.extra = {32, 0};  // cbSize 32 in an 18-byte format
  refused(w, "cbSize beyond the format");

  // Random bytes, and a file cut inside its header.
  std::vector<BYTE> noise(5000);
  uint32_t x = 12345;
  for (BYTE &b : noise) b = BYTE((x = x * 1103515245 + 12345) >> 16);
  EXPECT_TRUE(FAILED(play(write_file("noise.wav", noise)).connect));
  Wav good;
  good.data = tone(100, 2);
  std::vector<BYTE> head = wav_bytes(good);
  head.resize(30);
  EXPECT_TRUE(FAILED(play(write_file("head.wav", head)).connect));
}

TEST_F(WaveGraph, AcmWrapperDecodesAdpcmAndMpegAudioInWav)
{
  struct Case {
    const char *codec, *file;
    size_t slack;  // frames: one codec frame and the encoder's delay
  };
  const Case cases[] = {
    {"adpcm_ms", MEDIA_WAV_MS_ADPCM, 2048},
    {"adpcm_ima_wav", MEDIA_WAV_IMA_ADPCM, 2048},
    {"mp2", MEDIA_WAV_MP2, 1152 * 2},
    {"mp3", MEDIA_WAV_MP3, 1152 * 3},
  };
  for (const Case &c : cases) {
    std::string name = media_fixture(c.file);
    Outcome o = play(std::u16string(name.begin(), name.end()), -1, true);
    ASSERT_EQ(o.connect, S_OK) << c.codec;
    EXPECT_EQ(o.code, EC_COMPLETE) << c.codec;
    size_t frames = o.bytes.size() / 4;
    EXPECT_LE(frames > 88200 ? frames - 88200 : 88200 - frames, c.slack) << c.codec << " " << frames;
    double hz = tone_hz(o.bytes);
    EXPECT_NEAR(hz, 1000, 2) << c.codec;
    // Half a second in: the decoded stream is that much shorter.
    Outcome half = play(std::u16string(name.begin(), name.end()), UNITS / 2, true);
    EXPECT_EQ(half.code, EC_COMPLETE) << c.codec;
    size_t left = half.bytes.size() / 4;
    EXPECT_LE(left > frames - 22050 ? left - (frames - 22050) : frames - 22050 - left, c.slack) << c.codec;
  }
}

}  // namespace
