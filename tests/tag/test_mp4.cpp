// MP4 and 3GPP files built from bytes: the properties and MIME type of an
// item, the choice of tracks and sample entries, files over 4 GB, codecs
// the reader does not decode, malformed files, and the AAC configuration.
#include <gtest/gtest.h>
#include <tarvo_tag/tag_limits.h>
#include <tarvo_tag/tag_mp4.h>
#include <tarvo_test.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "mp4_bytes.h"
#include "tag_test.h"

using namespace mp4_bytes;
using tag_test::props;

namespace {

class Mp4 : public ::testing::Test {
 protected:
  tarvo_test::scratch_dir d;
  std::unique_ptr<props> p;

  props &read(const std::string &bytes, const char *mime)
  {
    std::string path = d / "file";
    tarvo_test::write_file(path, bytes);
    return read_path(path, mime);
  }
  props &read_path(const std::string &path, const char *mime)
  {
    p = std::make_unique<props>();
    EXPECT_EQ(tarvo_tag_get_properties(path.c_str(), mime, p->n(), p->v()), 1);
    return *p;
  }
  // The class and the MIME type of the protocolInfo.
  static std::string kind(const props &r)
  {
    std::string pi = r.get("res@protocolInfo");
    return r.get("upnp:class") + " " + pi.substr(11, pi.find(':', 11) - 11);
  }
};

std::string tags()
{
  std::string freeform = box("----", box("mean", zeros(4) + "com.apple.iTunes") + box("name", zeros(4) + "x") +
                                         box("data", be32(1) + be32(0) + "free"));
  std::string utf16 = std::string("\0T\0\xE0\xD8\x3D\xDE\x00", 8);  // "Tà" and an emoji as UTF-16BE
  return udta(freeform + item("\xA9nam", utf16, 2) + item("\xA9" "ART", "Band") + item("\xA9wrt", "Writer") +
              item("\xA9" "alb", "Record") + item("\xA9" "cmt", "Note") + item("\xA9gen", "Rock") +
              item("gnre", be16(1)) + item("gnre", be16(0)) + item("trkn", be32(5) + be32(0x000C0000)) +
              item("\xA9" "cpy", "Me") + item("covr", "picture", 13));
}

uint64_t bytes_read()
{
  std::ifstream f("/proc/self/io");
  for (std::string line; std::getline(f, line);)
    if (line.rfind("rchar:", 0) == 0) return std::stoull(line.substr(6));
  return 0;
}

}  // namespace

TEST_F(Mp4, MovieGivesItsTagsAndStreamsAndKeepsTheGivenMime)
{
  std::string m = movie(aac_trak(2) + avc_trak(1, 640, 480, 500000), 100, tags());
  props &r = read(m, "video/mp4");
  std::vector<std::pair<std::string, std::string>> want = {
      {"dc:title", "T\xC3\xA0\xF0\x9F\x98\x80"}, {"dc:creator", "Band"}, {"upnp:artist", "Band"},
      {"upnp:album", "Record"}, {"dc:description", "Note"}, {"upnp:genre", "Blues"},
      {"upnp:originalTrackNumber", "5"}, {"dc:rights", "Me"}, {"res@sampleFrequency", "44100"},
      {"res@nrAudioChannels", "2"}, {"res@resolution", "640x480"}, {"res@duration", "0:00:00.100"},
      {"res@bitrate", "78500"},
      {"res@protocolInfo", "http-get:*:video/mp4:DLNA.ORG_OP=01;DLNA.ORG_CI=0;DLNA.ORG_FLAGS=00200000000000000000000000000000"},
      {"upnp:class", "object.item.videoItem"}};
  std::vector<std::pair<std::string, std::string>> got = r.all();
  got.resize(std::min(got.size(), want.size()));
  EXPECT_EQ(got, want);
  // A video file offered as audio keeps what it was offered as.
  EXPECT_EQ(kind(read(m, "audio/mp4")), "object.item.audioItem.musicTrack audio/mp4");
  std::string audio = movie(aac_trak(1), 100);
  EXPECT_EQ(kind(read(audio, "video/mp4")), "object.item.audioItem.musicTrack audio/mp4");
  EXPECT_EQ(kind(read(audio, "video/3gpp")), "object.item.audioItem.musicTrack audio/3gpp");
}

TEST_F(Mp4, TracksAndEntriesAreChosenByIdAndPriority)
{
  // Enabled audio with the lowest id; the disabled track 1 is never chosen.
  props &r = read(movie(aac_trak(3, 96000) + aac_trak(2, 64000) + aac_trak(1, 32000, false), 100), "audio/mp4");
  EXPECT_EQ(r.get("res@bitrate"), "8000");
  // AMR: the entry's channels, the media timescale as rate.
  std::string amr = trak(1, "soun", 8000, audio_entry("samr", 1, 16000, box("damr", zeros(9))));
  props &a = read(movie(amr, 100), "audio/3gpp");
  EXPECT_EQ(a.get("res@sampleFrequency") + " " + a.get("res@nrAudioChannels"), "8000 1");
  // Of two entries the one with the higher stream priority; a mono
  // configuration wins over the entry's template count of 2.
  std::string two = audio_entry("mp4a", 2, 44100, esds(0x40, 1000, 1000, asc(4, 2))) +
                    audio_entry("mp4a", 2, 44100, esds(0x40, 2000, 2000, asc(3, 1), 5));
  props &e = read(movie(trak(1, "soun", 44100, two, 2), 100), "audio/mp4");
  EXPECT_EQ(e.get("res@sampleFrequency") + " " + e.get("res@nrAudioChannels") + " " + e.get("res@bitrate"),
            "48000 1 250");
  // Without a timescale there is no duration, and so no cap on the rate.
  props &t = read(ftyp() + box("moov", mvhd(0, 5000) + aac_trak(1)), "audio/mp4");
  EXPECT_EQ(t.get("res@duration") + " " + t.get("res@bitrate"), "<none> 16000");
}

TEST_F(Mp4, HevcPhoneVideoOver4GbKeepsItsItem)
{
  // An HEVC and AC-3 movie behind 5 GB of media data, with 64-bit chunk
  // offsets: the entries' own fields, and the rate of size over duration
  // past 32 bits clamped, not wrapped.
  std::string tracks = trak(1, "vide", 30, video_entry("hvc1", 1920, 1080, box("hvcC", zeros(23))), 1, true, "co64") +
                       trak(2, "soun", 48000, audio_entry("ac-3", 6, 48000, box("dac3", zeros(3))), 1, true, "co64");
  std::string moov = box("moov", mvhd(1000, 1000) + tracks);
  uint64_t media = 5ull << 30;
  std::string path = d / "phone.mp4";
  {
    std::ofstream f(path, std::ios::binary);
    f << ftyp() << be32(1) << "mdat" << be64(media + 16);
    f.seekp(std::streamoff(ftyp().size() + 16 + media));
    f << moov;
  }
  uint64_t before = bytes_read();
  props &r = read_path(path, "video/mp4");
  uint64_t used = bytes_read() - before;
  EXPECT_EQ(r.get("res@resolution") + " " + r.get("res@sampleFrequency") + " " + r.get("res@nrAudioChannels"),
            "1920x1080 48000 6");
  EXPECT_EQ(r.get("res@duration"), "0:00:01");
  EXPECT_EQ(r.get("res@bitrate"), std::to_string(UINT32_MAX / 8));
  EXPECT_EQ(kind(r), "object.item.videoItem video/mp4");
  EXPECT_LE(used, TAG_MP4_READ_MAX + moov.size());
}

TEST_F(Mp4, BoxesAfterTheMovieAreReadOnlyWithinTheAllowance)
{
  // A fragmented recording: the movie, then a long run of fragments.
  std::string moov = box("moov", mvhd(1000, 100) + aac_trak(1));
  std::string f = ftyp() + moov;
  for (int i = 0; i < 200; i++) f += box("moof", zeros(16 * 1024));
  uint64_t before = bytes_read();
  props &r = read(f, "audio/mp4");
  uint64_t used = bytes_read() - before;
  EXPECT_EQ(r.get("res@duration"), "0:00:00.100");
  EXPECT_LE(used, TAG_MP4_READ_MAX + moov.size());
}

TEST_F(Mp4, LongValuesAreTakenUpToTheirLimits)
{
  // A configuration up to its limit is decoded (48000 Hz); past it, passed
  // unread, so that the rate is the media timescale.  A text likewise.
  for (uint32_t extra : {0u, 1u}) {
    SCOPED_TRACE(extra);
    std::string config = asc(3, 2) + zeros(TAG_MP4_CONFIG_MAX - 2 + extra);
    std::string title(TAG_MP4_TEXT_MAX + extra, 't');
    std::string a = trak(1, "soun", 22050, audio_entry("mp4a", 2, 0, esds(0x40, 0, 0, config)));
    props &r = read(movie(a, 100, udta(item("\xA9nam", title))), "audio/mp4");
    EXPECT_EQ(r.get("res@sampleFrequency"), extra ? "22050" : "48000");
    EXPECT_EQ(r.get("dc:title"), extra ? "file" : title);
  }
}

TEST_F(Mp4, MalformedFilesGetOnlyTheDefaults)
{
  std::string a = aac_trak(1);
  std::string moov = box("moov", mvhd(1000, 100) + a);
  std::string inner = a;
  inner[3] = char(inner[3] + 1);  // the track reaches past the movie
  const std::pair<const char *, std::string> bad[] = {
      {"movie before ftyp", moov + ftyp()},
      {"child past its parent", ftyp() + box("moov", mvhd(1000, 100) + inner)},
      {"no chunk offsets", movie(trak(1, "soun", 44100, audio_entry("samr", 1, 0, ""), 1, true, "free"))},
      {"gnre of 3 bytes", movie(a, 100, udta(item("gnre", "abc")))},
      {"trkn of 6 bytes", movie(a, 100, udta(item("trkn", zeros(6))))},
      {"mp4a without esds", movie(trak(1, "soun", 44100, audio_entry("mp4a", 2, 44100, btrt(1, 1))))},
      {"avc1 with a picture parameter set", movie(trak(1, "vide", 25, video_entry("avc1", 64, 64, avcc(0x68))))},
      {"mp4v with its object layer cut", movie(trak(1, "vide", 25, video_entry("mp4v", 64, 64, esds(0x20, 0, 0, mpeg4_config().substr(0, 24)))))},
      {"only a disabled track", movie(aac_trak(1, 1000, false))},
      {"size 0 inside the movie", ftyp() + box("moov", mvhd(1000, 100) + be32(0) + "free" + a)},
      {"truncated header at the end", movie(a) + zeros(2)},
  };
  for (const auto &[what, bytes] : bad) {
    SCOPED_TRACE(what);
    props &r = read(bytes, "audio/mp4");
    EXPECT_EQ(kind(r), "object.item application/octet-stream");
  }
  // A box of size 0 at the top level runs to the end of the file.
  props &r = read(ftyp() + moov + be32(0) + "mdat" + zeros(1000), "audio/mp4");
  EXPECT_EQ(r.get("res@duration"), "0:00:00.100");
}

namespace {

// Bits written most significant first.
struct bits {
  std::string out;
  uint32_t used = 0;
  bits &put(uint32_t n, uint32_t v)
  {
    while (n--) {
      if (used % 8 == 0) out += '\0';
      if (v >> n & 1) out.back() = char(out.back() | 0x80 >> (used % 8));
      used++;
    }
    return *this;
  }
};

mp4_audio_config config_of(const std::string &s, int *ok)
{
  mp4_audio_config c{};
  *ok = mp4_audio_specific_config(reinterpret_cast<const unsigned char *>(s.data()), uint32_t(s.size()), &c);
  return c;
}

}  // namespace

TEST(Mp4Config, AudioSpecificConfigRatesAndChannels)
{
  int ok;
  // HE-AAC: SBR with a table index keeps the core rate; an explicit
  // extension frequency replaces it.
  mp4_audio_config c = config_of(bits{}.put(5, 5).put(4, 6).put(4, 2).put(4, 3).put(5, 2).put(3, 0).out, &ok);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(c.sample_rate, 24000u);
  EXPECT_EQ(c.object_type, 2u);
  c = config_of(bits{}.put(5, 5).put(4, 6).put(4, 2).put(4, 15).put(24, 48000).put(5, 2).put(3, 0).out, &ok);
  EXPECT_EQ(c.sample_rate, 48000u);
  EXPECT_EQ(c.channels, 2u);
  // Configuration 0: a program config of one front pair and one LFE.
  bits pce;
  pce.put(5, 2).put(4, 4).put(4, 0).put(3, 0).put(10, 0).put(4, 1).put(4, 0).put(4, 0).put(2, 1).put(7, 0).put(3, 0);
  pce.put(1, 1).put(4, 0).put(4, 0);
  c = config_of(pce.out, &ok);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(c.channels, 3u);
  EXPECT_EQ(c.sample_rate, 44100u);
  // Cut inside the program config.
  config_of(pce.out.substr(0, 4), &ok);
  EXPECT_EQ(ok, 0);
}
