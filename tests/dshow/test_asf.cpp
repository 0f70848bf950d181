// The WM ASF Reader and the DMO wrapper in a graph, made through the class
// table: the WMA fixture decoded to its tone and length, a seek that starts
// the PCM on the right sample, the decoder objects' table and its test
// replacement, and damaged files that end without a hang or a thread left.
#include <gtest/gtest.h>

#include "../common/media_fixtures.h"
#include "sys_graph.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

IBaseFilter *dmo(REFCLSID object)
{
  IBaseFilter *f = make<IBaseFilter>(CLSID_DMOWrapperFilter, IID_IBaseFilter);
  IDMOWrapperFilter *w = nullptr;
  EXPECT_EQ(f->QueryInterface(IID_IDMOWrapperFilter, reinterpret_cast<void **>(&w)), S_OK);
  EXPECT_EQ(w->Init(object, DMOCATEGORY_AUDIO_DECODER), S_OK);
  w->Release();
  return f;
}

Outcome play_wma(const std::string &file, REFERENCE_TIME seek = -1, REFCLSID object = CLSID_CWMADecMediaObject)
{
  return sys_play(CLSID_WMAsfReader, wide(file), {dmo(object)}, seek);
}

// Seeks to `to` while the renderer holds the first sample.
Outcome play_wma_seeking_late(const std::string &file, REFERENCE_TIME to)
{
  auto seek = [&](IMediaSeeking *s) {
    EXPECT_EQ(s->SetPositions(&to, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
  };
  return sys_play(CLSID_WMAsfReader, wide(file), {dmo(CLSID_CWMADecMediaObject)}, -1, seek, true);
}

int16_t left(const std::vector<BYTE> &pcm, size_t frame)
{
  return int16_t(pcm[frame * 4] | pcm[frame * 4 + 1] << 8);
}

// The offset into whole at which part's first 4096 frames match best,
// searched within ±range of near.
long best_offset(const std::vector<BYTE> &whole, const std::vector<BYTE> &part, long near, long range)
{
  long best = -1;
  double best_err = 1e300;
  for (long off = near - range; off <= near + range; off++) {
    if (off < 0 || size_t(off + 4096) * 4 > whole.size() || part.size() < 4096 * 4) continue;
    double err = 0;
    for (size_t i = 0; i < 4096; i++) {
      double d = double(left(whole, size_t(off) + i)) - left(part, i);
      err += d * d;
    }
    if (err < best_err) best_err = err, best = off;
  }
  return best;
}

class AsfGraph : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CoInitialize(nullptr), S_OK); }
  void TearDown() override { CoUninitialize(); }
};

constexpr size_t WMA_FRAME = 2048;  // samples of one WMA frame at 44100 Hz

TEST_F(AsfGraph, DecodesTheWmaToneToItsLengthAndSeeksToTheSample)
{
  const int threads = thread_baseline();
  Outcome all = play_wma(media_fixture(MEDIA_WMA));
  ASSERT_EQ(all.load, S_OK);
  ASSERT_EQ(all.connect, S_OK);
  EXPECT_EQ(all.code, EC_COMPLETE);
  const size_t frames = all.bytes.size() / 4, source = 44100 * TARVO_MEDIA_SECONDS;
  EXPECT_LE(frames > source ? frames - source : source - frames, WMA_FRAME) << frames;
  EXPECT_NEAR(tone_hz(all.bytes), TARVO_MEDIA_TONE_HZ, 2);
  EXPECT_EQ(all.first_time, 0);

  // Half a second in: the PCM starts at time 0 of the segment with the
  // sample that was 22050 frames into the whole decode.
  Outcome half = play_wma(media_fixture(MEDIA_WMA), UNITS / 2);
  ASSERT_EQ(half.connect, S_OK);
  EXPECT_EQ(half.code, EC_COMPLETE);
  EXPECT_GE(half.first_time, 0);
  EXPECT_LT(half.first_time, UNITS / 1000);
  size_t rest = half.bytes.size() / 4;
  EXPECT_LE(rest > frames - 22050 ? rest - (frames - 22050) : frames - 22050 - rest, WMA_FRAME) << rest;
  long at = best_offset(all.bytes, half.bytes, 22050, long(WMA_FRAME));
  EXPECT_LE(std::labs(at - 22050), 44) << at;  // within the file's millisecond times

  // The same seek made while streaming: the pins flush and the stream
  // starts again there.
  Outcome late = play_wma_seeking_late(media_fixture(MEDIA_WMA), UNITS / 2);
  EXPECT_EQ(late.code, EC_COMPLETE);
  EXPECT_EQ(late.first_time, half.first_time);
  EXPECT_TRUE(late.bytes == half.bytes) << late.bytes.size() << " " << half.bytes.size();
  EXPECT_LE(thread_count_settled(threads), threads);
}

TEST_F(AsfGraph, DecoderObjectsComeFromTheTableAndATestTableReplacesIt)
{
  IBaseFilter *f = make<IBaseFilter>(CLSID_DMOWrapperFilter, IID_IBaseFilter);
  IDMOWrapperFilter *w = nullptr;
  ASSERT_EQ(f->QueryInterface(IID_IDMOWrapperFilter, reinterpret_cast<void **>(&w)), S_OK);
  EXPECT_EQ(w->Init(CLSID_WMAsfReader, DMOCATEGORY_AUDIO_DECODER), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(w->Init(CLSID_CWMADecMediaObject, CLSID_WMAsfReader), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(w->Init(CLSID_CWMADecMediaObject, DMOCATEGORY_AUDIO_DECODER), S_OK);
  EXPECT_EQ(w->Init(CLSID_CWMADecMediaObject, DMOCATEGORY_AUDIO_DECODER), E_UNEXPECTED);
  w->Release();
  f->Release();

  // The voice decoder does not take WMA v2, until a test table says so,
  // and a table can leave the WMA decoder without a tag.
  EXPECT_TRUE(FAILED(play_wma(media_fixture(MEDIA_WMA), -1, CLSID_CWMSPDecMediaObject).connect));
  setenv("TARVO_DMO_VOICE_TAGS", "161", 1);
  setenv("TARVO_DMO_WMA_TAGS", "", 1);
  EXPECT_TRUE(FAILED(play_wma(media_fixture(MEDIA_WMA)).connect));
  Outcome voice = play_wma(media_fixture(MEDIA_WMA), -1, CLSID_CWMSPDecMediaObject);
  unsetenv("TARVO_DMO_VOICE_TAGS");
  unsetenv("TARVO_DMO_WMA_TAGS");
  ASSERT_EQ(voice.connect, S_OK);
  EXPECT_EQ(voice.code, EC_COMPLETE);
  EXPECT_NEAR(tone_hz(voice.bytes), TARVO_MEDIA_TONE_HZ, 2);
}

std::vector<BYTE> read_all(const std::string &path)
{
  std::vector<BYTE> v;
  if (FILE *f = std::fopen(path.c_str(), "rb")) {
    int c;
    while ((c = std::fgetc(f)) != EOF) v.push_back(BYTE(c));
    std::fclose(f);
  }
  return v;
}

std::string write_all(const std::string &name, const std::vector<BYTE> &bytes)
{
  if (FILE *f = std::fopen(name.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  return name;
}

TEST_F(AsfGraph, DamagedFilesEndWithoutAHangAndLeaveNoThread)
{
  const int threads = thread_baseline();
  const std::vector<BYTE> good = read_all(media_fixture(MEDIA_WMA));
  ASSERT_GT(good.size(), 20000u);
  uint32_t x = 777;
  auto noise = [&](size_t n) {
    std::vector<BYTE> v(n);
    for (BYTE &b : v) b = BYTE((x = x * 1103515245 + 12345) >> 16);
    return v;
  };
  std::vector<std::vector<BYTE>> files;
  files.push_back(noise(8000));                                                    // random bytes
  files.emplace_back(good.begin(), good.begin() + 300);                            // cut in the header
  files.emplace_back(good.begin(), good.begin() + long(good.size() * 3 / 5) + 7);  // cut in a packet
  std::vector<BYTE> smashed = good;
  std::vector<BYTE> junk = noise(6000);
  std::copy(junk.begin(), junk.end(), smashed.begin() + long(smashed.size() / 2));
  files.push_back(smashed);  // random bytes over packets
  // A content-encryption object in the header: protected, so refused.
  std::vector<BYTE> locked(good.begin(), good.begin() + 30);
  const BYTE encryption[24] = {0xFB, 0xB3, 0x11, 0x22, 0x23, 0xBD, 0xD2, 0x11, 0xB4, 0xB7, 0x00, 0xC0,
                               0x4F, 0xB8, 0xB0, 0xC8, 24, 0, 0, 0, 0, 0, 0, 0};
  locked.insert(locked.end(), encryption, encryption + 24);
  locked.insert(locked.end(), good.begin() + 30, good.end());
  uint64_t header = 0;  // the header's size and object count grow by it
  for (int i = 7; i >= 0; i--) header = header << 8 | locked[size_t(16 + i)];
  header += 24;
  for (int i = 0; i < 8; i++) locked[size_t(16 + i)] = BYTE(header >> (8 * i));
  locked[24]++;
  files.push_back(locked);
  tarvo_test::scratch_dir d;
  for (size_t i = 0; i < files.size(); i++) {
    Outcome o = play_wma(write_all(d / "damaged.wma", files[i]));
    if (SUCCEEDED(o.load) && SUCCEEDED(o.connect)) {
      EXPECT_TRUE(o.code == EC_COMPLETE || o.code == EC_ERRORABORT) << i << " " << o.code;
    }
    if (i == 0) {
      EXPECT_TRUE(FAILED(o.load));
    }
    if (i == 2) {
      EXPECT_FALSE(o.bytes.empty());
    }
    if (i == 4) {
      EXPECT_EQ(o.load, E_ACCESSDENIED);
    }
  }
  EXPECT_LE(thread_count_settled(threads), threads);
}

}  // namespace
