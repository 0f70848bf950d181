// WAV, AVI and LPCM files built from bytes: the format record, the
// properties the readers give, and files whose chunks lie about their size.
#include <gtest/gtest.h>
#include <tarvo_tag/tag_riff.h>
#include <tarvo_test.h>
#include <tarvo_util/sys_file.h>
#include <tarvo_util/utf8file.h>

#include <cstring>
#include <memory>

#include "riff_bytes.h"
#include "tag_test.h"

using namespace riff_bytes;
using tag_test::props;
using tarvo_test::scratch_dir;
using tarvo_test::write_file;

namespace {

const char kFlags[] = "DLNA.ORG_FLAGS=00200000000000000000000000000000";

class Riff : public ::testing::Test {
 protected:
  scratch_dir d;
  std::string path;

  // The properties of the bytes as a file of that MIME type.
  props &read(const std::string &bytes, const char *mime)
  {
    path = d / "file";
    write_file(path, bytes);
    p = std::make_unique<props>();
    EXPECT_EQ(tarvo_tag_get_properties(path.c_str(), mime, p->n(), p->v()), 1);
    return *p;
  }
  // wav_info_parse on the bytes, into a record first filled with 0xFF.
  int parse(const std::string &bytes, wav_info *w)
  {
    write_file(path = d / "parse.wav", bytes);
    std::memset(w, 0xFF, sizeof *w);
    int file;
    if (!utf8file_open_read(&file, path.c_str())) return -1;
    int ok = wav_info_parse(w, file);
    sys_file_close(file);
    return ok;
  }
  std::unique_ptr<props> p;
};

std::string pcm(uint32_t bytes) { return chunk("data", std::string(bytes, '\x10')); }

}  // namespace

TEST_F(Riff, WavFormatAndDataInEitherOrder)
{
  std::string f = chunk("fmt ", fmt(1, 2, 44100, 16));
  for (const std::string &body : {f + pcm(441000), pcm(441000) + f}) {
    props &r = read(riff("WAVE", body), "audio/wav");
    EXPECT_EQ(r.get("res@nrAudioChannels"), "2");
    EXPECT_EQ(r.get("res@sampleFrequency"), "44100");
    EXPECT_EQ(r.get("res@bitrate"), "176400");
    EXPECT_EQ(r.get("res@bitsPerSample"), "16");
    EXPECT_EQ(r.get("res@duration"), "0:00:02.500");
    EXPECT_EQ(r.get("res@protocolInfo"), std::string("http-get:*:audio/wav:DLNA.ORG_OP=01;DLNA.ORG_CI=0;") + kFlags);
  }
  // Without data, or with a fmt too short, the file is no WAV file.
  for (const std::string &body : {f, chunk("fmt ", fmt(1, 2, 44100, 16).substr(0, 13)) + pcm(4)}) {
    props &r = read(riff("WAVE", body), "audio/wav");
    EXPECT_EQ(r.get("res@sampleFrequency"), "<none>");
    EXPECT_EQ(r.get("upnp:class"), "object.item");
  }
}

TEST_F(Riff, ExtensibleFormatGivesItsValidBits)
{
  wav_info w;
  ASSERT_EQ(parse(riff("WAVE", chunk("fmt ", fmt(0xFFFE, 2, 48000, 32, 22, 24)) + pcm(8)), &w), 1);
  EXPECT_EQ(w.format_tag, 0xFFFE);
  EXPECT_EQ(w.bits_per_sample, 24);
  // A cbSize too small for the valid bits leaves the container size.
  ASSERT_EQ(parse(riff("WAVE", chunk("fmt ", fmt(0xFFFE, 2, 48000, 32, 10, 24)) + pcm(8)), &w), 1);
  EXPECT_EQ(w.bits_per_sample, 32);
  // A cbSize that promises valid bits the chunk does not hold fails.
  EXPECT_EQ(parse(riff("WAVE", chunk("fmt ", fmt(0xFFFE, 2, 48000, 32, 22).substr(0, 18)) + pcm(8)), &w), 0);
}

TEST_F(Riff, WavInfoParseClearsTheRecordItself)
{
  // A 14-byte fmt has no bits per sample: the field is 0, not what the
  // caller's record held before.
  wav_info w;
  ASSERT_EQ(parse(riff("WAVE", chunk("fmt ", fmt(1, 1, 8000, 8).substr(0, 14)) + pcm(16000)), &w), 1);
  EXPECT_EQ(w.bits_per_sample, 0);
  EXPECT_EQ(w.channels, 1);
  EXPECT_EQ(w.data_size, 16000u);
}

TEST_F(Riff, OddSizedChunksArePaddedToEvenSizes)
{
  // An odd LIST (INFO), bext and id3 chunk, each followed by its pad byte,
  // before and between the chunks the reader wants.
  std::string odd = list("INFO", chunk("INAM", "Odd")) + chunk("bext", std::string(601, 'b'));
  std::string body = odd + chunk("fmt ", fmt(1, 2, 44100, 16)) + chunk("id3 ", "ID3...") + pcm(176400);
  ASSERT_EQ(chunk("INAM", "Odd").size() % 2, 0u);
  props &r = read(riff("WAVE", body), "audio/wav");
  EXPECT_EQ(r.get("res@duration"), "0:00:01");
  wav_info w;
  ASSERT_EQ(parse(riff("WAVE", pcm(3) + chunk("fmt ", fmt(1, 1, 8000, 8))), &w), 1);
  EXPECT_EQ(w.data_size, 3u);
  EXPECT_EQ(w.sample_rate, 8000u);
}

TEST_F(Riff, ChunkSizesAreHeldToTheFile)
{
  wav_info w;
  // A data chunk that says more than the file holds (a stream, or a copy
  // cut short) counts what is there.
  std::string head = riff("WAVE", chunk("fmt ", fmt(1, 2, 44100, 16)) + pcm(0));
  std::string cut = head.substr(0, head.size() - 4) + le32(0xFFFFFFF0) + std::string(88200, '\0');
  ASSERT_EQ(parse(cut, &w), 1);
  EXPECT_EQ(w.data_size, 88200u);
  // A huge chunk before fmt ends the walk instead of seeking past the end.
  EXPECT_EQ(parse(riff("WAVE", "junk" + le32(0x7FFFFFFF) + chunk("fmt ", fmt(1, 2, 44100, 16)) + pcm(4)), &w), 0);
  // Endless tiny chunks stop at the read budget.
  std::string many;
  for (int i = 0; i < 20000; i++) many += chunk("junk", "");
  EXPECT_EQ(parse(riff("WAVE", many + chunk("fmt ", fmt(1, 2, 44100, 16)) + pcm(4)), &w), 0);
  // The item keeps its class and what the walk found before the budget ran
  // out, instead of becoming application/octet-stream.
  for (auto [body, rate] : {std::pair{many + chunk("fmt ", fmt(1, 2, 44100, 16)) + pcm(4), "<none>"},
                            {chunk("fmt ", fmt(1, 2, 44100, 16)) + many + pcm(4), "44100"}}) {
    props &r = read(riff("WAVE", body), "audio/wav");
    EXPECT_EQ(r.get("upnp:class"), "object.item.audioItem.musicTrack");
    EXPECT_EQ(r.get("res@sampleFrequency"), rate);
    EXPECT_EQ(r.get("res@protocolInfo"), std::string("http-get:*:audio/wav:DLNA.ORG_OP=01;DLNA.ORG_CI=0;") + kFlags);
  }
}

TEST_F(Riff, LpcmIsReadFromItsSizeAlone)
{
  props &r = read(std::string(176400, '\0'), "audio/L16");
  EXPECT_EQ(r.get("res@nrAudioChannels"), "2");
  EXPECT_EQ(r.get("res@sampleFrequency"), "44100");
  EXPECT_EQ(r.get("res@bitsPerSample"), "16");
  EXPECT_EQ(r.get("res@bitrate"), "176400");
  EXPECT_EQ(r.get("res@duration"), "0:00:01");
  EXPECT_EQ(r.get("res@protocolInfo"),
            std::string("http-get:*:audio/L16;rate=44100;channels=2:DLNA.ORG_PN=LPCM;DLNA.ORG_OP=11;DLNA.ORG_CI=0;") +
                kFlags);
}

TEST_F(Riff, AviStreamsChosenByPriority)
{
  // The video rectangle replaces the main header's size; of two audio
  // streams of equal priority the first counts, a higher priority wins.
  std::string h = avih(40000, 250, 4, 320, 240) + strl("vids", 0, {0, 0, 640, 480}) + strl("auds", 0, {}, 2) +
                  strl("auds", 0, {}, 6) + strl("txts", 9, {});
  props &r = read(avi(h), "video/avi");
  EXPECT_EQ(r.get("res@resolution"), "640x480");
  EXPECT_EQ(r.get("res@duration"), "0:00:10");
  EXPECT_EQ(r.get("res@nrAudioChannels"), "2");
  EXPECT_EQ(r.get("res@protocolInfo"), std::string("http-get:*:video/avi:DLNA.ORG_OP=01;DLNA.ORG_CI=0;") + kFlags);

  h = avih(33367, 30, 3, 320, 240) + strl("vids", 0, {}) + strl("auds", 0, {}, 2) + strl("auds", 1, {}, 6);
  props &q = read(avi(h), "video/avi");
  EXPECT_EQ(q.get("res@resolution"), "320x240");
  EXPECT_EQ(q.get("res@duration"), "0:00:01.001");
  EXPECT_EQ(q.get("res@nrAudioChannels"), "6");
}

TEST_F(Riff, AviHeadersMustFitTheirLists)
{
  std::string good = avih(40000, 25, 1, 320, 240) + strl("vids", 0, {});
  ASSERT_EQ(read(avi(good), "video/avi").get("res@resolution"), "320x240");
  // A stream count beyond the lists present, an avih larger than its list,
  // a strh too short for the rectangle, and a stream count that would walk
  // far beyond the budget: each fails the reader.
  std::string strh_short = list("strl", chunk("strh", std::string(40, '\0')) + chunk("strf", std::string(40, '\0')));
  std::string many;
  for (int i = 0; i < 2000; i++) many += strl("vids", 0, {});
  for (const std::string &bad : {avi(avih(40000, 25, 2, 320, 240) + strl("vids", 0, {})),
                                 riff("AVI ", "LIST" + le32(60) + "hdrl" + "avih" + le32(1000) + std::string(52, '\0')),
                                 avi(avih(40000, 25, 1, 320, 240) + strh_short),
                                 avi(avih(40000, 25, 2000, 320, 240) + many)}) {
    props &r = read(bad, "video/avi");
    EXPECT_EQ(r.get("res@resolution"), "<none>");
    EXPECT_EQ(r.get("upnp:class"), "object.item");
  }
}
