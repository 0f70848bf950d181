// Chained Ogg Vorbis files (links encoded apart, then joined) served as
// L16: time seeks and byte ranges into later links, links in another rate
// or channel count, and a link of more channels than Vorbis orders.
#include "plugin_server.h"

#include <cstdlib>

namespace {

using namespace plugin_test;

bool run(const std::string &cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

// One link: a tone of its own, encoded by ffmpeg (libvorbis), sox or
// oggenc.
struct part {
  const char *name, *encoder;
  int rate, channels;
  double seconds;
  int hz;
};

bool encode(const std::string &dir, const part &l)
{
  std::string base = dir + "/" + l.name, enc = l.encoder, hz = std::to_string(l.hz), sec = std::to_string(l.seconds);
  std::string sox = "sox -n -r " + std::to_string(l.rate) + " -c " + std::to_string(l.channels) + " ",
              tone = " synth " + sec + " sine " + hz + " vol 0.4";
  if (enc == "sox") return run(sox + base + ".ogg" + tone);
  if (enc == "oggenc") return run(sox + "-b 16 " + base + ".wav" + tone) && run("oggenc -Q -q 2 -o " + base + ".ogg " + base + ".wav");
  return run("ffmpeg -loglevel error -y -f lavfi -i sine=frequency=" + hz + ":duration=" + sec + ":sample_rate=" +
             std::to_string(l.rate) + " -ac " + std::to_string(l.channels) + " -metadata title=" + l.name +
             " -c:a libvorbis " + base + ".ogg");
}

// The links encoded apart and joined into the media folder under the
// first one's name (its title too); false when an encoder is missing.
bool chain(const std::string &dir, const std::string &media, const std::vector<part> &links)
{
  std::string joined;
  for (const part &l : links) {
    if (!encode(dir, l)) return false;
    joined += tarvo_test::read_file(dir + "/" + l.name + ".ogg");
  }
  tarvo_test::write_file(media + "/" + links[0].name + ".ogg", joined);
  return true;
}

// What ffmpeg decodes from the links one after the other, as the wire
// carries it at 44100 Hz stereo.  ffmpeg's own reading of the joined file
// adds 128 samples at every link's start, so each link is decoded apart.
std::string reference(const std::string &dir, const std::vector<part> &links)
{
  std::string pcm;
  for (const part &l : links) {
    std::string raw = dir + "/" + l.name + ".raw";
    if (!run("ffmpeg -loglevel error -y -i " + dir + "/" + l.name + ".ogg -f s16be -ar 44100 -ac 2 " + raw)) return "";
    pcm += tarvo_test::read_file(raw);
  }
  return pcm;
}

int16_t sample(const std::string &pcm, size_t i)
{
  return int16_t(uint16_t(uint8_t(pcm[2 * i]) << 8 | uint8_t(pcm[2 * i + 1])));
}

// The largest difference between the samples of got and of want from
// byte `from`, leaving out the first `settle` frames (a resampler's start).
int worst(const std::string &got, const std::string &want, size_t from, size_t settle = 0)
{
  if (from > want.size() || got.size() != want.size() - from) return INT32_MAX;
  int top = 0;
  for (size_t i = settle * 2; 2 * i + 1 < got.size(); i++)
    top = std::max(top, std::abs(sample(got, i) - sample(want, from / 2 + i)));
  return top;
}

// The L16 resource's path of the item titled title.
std::string lpcm_url(const std::string &listing, const std::string &title)
{
  std::regex one("<item [\\s\\S]*?</item>"),
      res("protocolInfo=\"http-get:\\*:audio/L16[^>]*>http://127\\.0\\.0\\.1:30001(/[^<]*)</res>");
  for (std::sregex_iterator i(listing.begin(), listing.end(), one), e; i != e; ++i) {
    std::string text = i->str();
    std::smatch m;
    if (text.find("<dc:title>" + title + "</dc:title>") != std::string::npos && std::regex_search(text, m, res)) return m[1];
  }
  return "";
}

std::string seek(const std::string &url, const std::string &npt)
{
  return dechunk(get(url, "TimeSeekRange.dlna.org: npt=" + npt + "-\r\n").body()).data;
}

constexpr size_t kBytesPerSecond = 176400;  // 44100 Hz stereo

size_t bytes_at(size_t ms) { return ms * kBytesPerSecond / 1000; }
// Within ffmpeg's rounding of the same floats: a start one frame off
// differs by hundreds at these tones.
constexpr int kTolerance = 2;

}  // namespace

// A time seek or byte range into a later link of a chained file once
// decoded every link before it (0.9 s before the first byte 19 minutes
// into a 20-minute file); it now starts in the link that plays then.  The
// served PCM is compared with ffmpeg's decoding of the links from the same
// place, in links of the served format and in a 48 kHz mono one converted
// to it, and after it.
TEST(LpcmChainedOgg, SeeksIntoLaterLinksGiveTheChainsSamplesFromThere)
{
  if (!tarvo_test::private_net().empty()) GTEST_SKIP() << tarvo_test::private_net();
  running_server srv("corda_lpcm\n");
  tarvo_test::scratch_dir parts;
  std::vector<part> same = {{"same", "ffmpeg", 44100, 2, 2.5, 500}, {"s1", "ffmpeg", 44100, 2, 2.25, 750},
                            {"s2", "sox", 44100, 2, 3, 1000}},
                    mixed = {{"mixed", "ffmpeg", 44100, 2, 2, 500}, {"m1", "ffmpeg", 48000, 1, 2, 1250},
                             {"m2", "sox", 44100, 2, 2, 1000}};
  bool oggenc = run("oggenc --version");
  if (oggenc) same.push_back({"s3", "oggenc", 44100, 2, 4, 1500});
  if (!chain(parts.path, srv.media, same) || !chain(parts.path, srv.media, mixed))
    GTEST_SKIP() << "ffmpeg with libvorbis and sox with Ogg Vorbis are needed for the fixtures";
  ASSERT_TRUE(srv.start());
  std::string listing = srv.children_when(
      [](const std::string &c) { return !lpcm_url(c, "same").empty() && !lpcm_url(c, "mixed").empty(); });

  std::string url = lpcm_url(listing, "same"), ref = reference(parts.path, same);
  ASSERT_FALSE(url.empty()) << listing;
  ASSERT_EQ(ref.size(), bytes_at(oggenc ? 11750 : 7750));
  EXPECT_LE(worst(dechunk(get(url).body()).data, ref, 0), kTolerance);
  // 0.4 s into sox's link; 0.3 s and 37 frames into the second (decoded
  // from the whole second before it).
  EXPECT_LE(worst(seek(url, "5.15"), ref, bytes_at(5150)), kTolerance);
  size_t from = bytes_at(2800) + 37 * 4;
  reply range = get(url, "RANGE: bytes=" + std::to_string(from) + "-\r\n");
  EXPECT_EQ(range.status(), "HTTP/1.1 206 partial content");
  EXPECT_LE(worst(dechunk(range.body()).data, ref, from), kTolerance);
  if (oggenc) {
    EXPECT_LE(worst(seek(url, "10.5"), ref, bytes_at(10500)), kTolerance);
  }

  url = lpcm_url(listing, "mixed");
  ref = reference(parts.path, mixed);
  ASSERT_FALSE(url.empty()) << listing;
  EXPECT_LE(worst(dechunk(get(url).body()).data, ref, 0), kTolerance);
  // Into the converted link (its resampler starts afresh there), and into
  // the link after it.
  EXPECT_LE(worst(seek(url, "2.6"), ref, bytes_at(2600), 64), kTolerance);
  EXPECT_LE(worst(seek(url, "4.2"), ref, bytes_at(4200)), kTolerance);
  EXPECT_EQ(srv.stop(), 0);
}

// A link of more channels than Vorbis gives an order to was left out
// without a word; the log now names it and the limit.  A link of 8 plays,
// mixed down, and the links after both play where the chain times them.
TEST(LpcmChainedOgg, ALinkOfMoreThanEightChannelsIsLeftOutAndLogged)
{
  if (!tarvo_test::private_net().empty()) GTEST_SKIP() << tarvo_test::private_net();
  running_server srv("corda_lpcm\n");
  std::string log = srv.data + "/../lpcm.log";
  srv.extra_env = {"SYS_LOG_LEVEL=5", "SYS_LOG_OUTPUT=" + log};
  tarvo_test::scratch_dir parts;
  std::vector<part> links = {{"wide", "ffmpeg", 44100, 2, 2, 500}, {"w8", "sox", 44100, 8, 2, 750},
                             {"w10", "sox", 44100, 10, 2, 750}, {"w2", "sox", 44100, 2, 2, 1000}};
  if (!chain(parts.path, srv.media, links)) GTEST_SKIP() << "ffmpeg with libvorbis and sox with Ogg Vorbis are needed";
  std::string first = reference(parts.path, {links[0]}), last = reference(parts.path, {links[3]});
  ASSERT_TRUE(srv.start());
  std::string url = lpcm_url(srv.children_when([](const std::string &c) { return !lpcm_url(c, "wide").empty(); }), "wide");
  ASSERT_FALSE(url.empty());
  std::string whole = dechunk(get(url).body()).data;
  ASSERT_EQ(whole.size(), 8 * kBytesPerSecond);
  EXPECT_LE(worst(whole.substr(0, first.size()), first, 0), kTolerance);
  int loud = 0;
  for (size_t i = bytes_at(2100) / 2; i < bytes_at(3900) / 2; i++) loud = std::max(loud, std::abs(int(sample(whole, i))));
  EXPECT_GT(loud, 1000);
  std::string text = tarvo_test::read_file(log);
  EXPECT_NE(text.find("wide.ogg: a Vorbis link of 10 channels is left out (at most 8 have a known order)"), std::string::npos)
      << text;
  EXPECT_EQ(text.find("link of 8 channels"), std::string::npos) << text;
  EXPECT_LE(worst(seek(url, "6.5"), last, kBytesPerSecond / 2), kTolerance);
  EXPECT_EQ(srv.stop(), 0);
}
