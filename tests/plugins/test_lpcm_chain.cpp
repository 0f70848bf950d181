// Chained Ogg Vorbis files (links encoded apart, then joined) served as
// L16: time seeks and byte ranges into later links, links in another rate
// or channel count, a link of more channels than Vorbis orders, a stream
// saved from mid-way, and damaged links.
#include "plugin_server.h"

#include <encoder_probe.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

using namespace plugin_test;

bool run(const std::string &cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

// What the fixtures need, named when this machine lacks it.
std::string lacking()
{
  if (!tarvo_test::ffmpeg_encodes("libvorbis") || !tarvo_test::ffmpeg_filters("sine"))
    return "ffmpeg with libvorbis and the lavfi sources is needed for the fixtures";
  if (!tarvo_test::sox_writes("vorbis")) return "sox with Ogg Vorbis is needed for the fixtures";
  return "";
}

enum damage { INTACT, NO_CHANNELS, RATE_0, CUT_MID_PAGE };

// One link: a tone of its own, encoded by ffmpeg (libvorbis), sox or
// oggenc, or by ffmpeg from 3 s into a longer tone ("radio"), its
// granule positions kept as a saved radio stream keeps them.
struct part {
  const char *name, *encoder;
  int rate, channels;
  double seconds;
  int hz;
  damage harm = INTACT;
};

// The Ogg page checksum: CRC-32 of polynomial 0x04C11DB7, unreflected,
// over the page with its checksum field zero.
uint32_t page_crc(const std::string &page)
{
  uint32_t crc = 0;
  for (size_t i = 0; i < page.size(); i++) {
    crc ^= uint32_t(i >= 22 && i < 26 ? 0 : uint8_t(page[i])) << 24;
    for (int b = 0; b < 8; b++) crc = crc & 0x80000000u ? crc << 1 ^ 0x04C11DB7u : crc << 1;
  }
  return crc;
}

// The file's identification header given no channels or rate 0 (its
// page's checksum made good, so that only the header is wrong), or the
// file cut in the middle of its last page.
bool harm(const std::string &path, damage d)
{
  std::string f = tarvo_test::read_file(path);
  size_t last = f.rfind("OggS");
  if (f.size() < 64 || last == std::string::npos) return false;
  if (d == CUT_MID_PAGE) {
    f.resize((last + f.size()) / 2);
  } else {
    size_t head = 27 + uint8_t(f[26]), first = head;
    for (size_t i = 27; i < head; i++) first += uint8_t(f[i]);
    if (d == NO_CHANNELS) f[head + 11] = 0;
    if (d == RATE_0) f.replace(head + 12, 4, 4, '\0');
    uint32_t crc = page_crc(f.substr(0, first));
    for (int i = 0; i < 4; i++) f[22 + size_t(i)] = char(crc >> (8 * i));
  }
  tarvo_test::write_file(path, f);
  return true;
}

bool encode(const std::string &dir, const part &l)
{
  std::string base = dir + "/" + l.name, enc = l.encoder, hz = std::to_string(l.hz), sec = std::to_string(l.seconds);
  std::string sox = "sox -n -r " + std::to_string(l.rate) + " -c " + std::to_string(l.channels) + " ",
              tone = " synth " + sec + " sine " + hz + " vol 0.4";
  if (enc == "sox") return run(sox + base + ".ogg" + tone);
  if (enc == "oggenc") return run(sox + "-b 16 " + base + ".wav" + tone) && run("oggenc -Q -q 2 -o " + base + ".ogg " + base + ".wav");
  bool radio = enc == "radio";
  std::string whole = radio ? base + ".whole.ogg" : base + ".ogg";
  if (radio) sec = std::to_string(l.seconds + 3);
  return run("ffmpeg -loglevel error -y -f lavfi -i sine=frequency=" + hz + ":duration=" + sec + ":sample_rate=" +
             std::to_string(l.rate) + " -ac " + std::to_string(l.channels) + " -metadata title=" + l.name +
             " -c:a libvorbis " + whole) &&
         (!radio || run("ffmpeg -loglevel error -y -ss 3 -i " + whole + " -c copy -copyts " + base + ".ogg")) &&
         (l.harm == INTACT || harm(base + ".ogg", l.harm));
}

// The links encoded apart and joined into the media folder under the
// first one's name (its title too); false when one cannot be made.
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
// byte `from`, leaving out the first `settle` frames (a resampler's start);
// got may be `slack` bytes shorter (a length listed in whole milliseconds).
int worst(const std::string &got, const std::string &want, size_t from, size_t settle = 0, size_t slack = 0)
{
  if (from > want.size() || got.size() > want.size() - from || got.size() + slack < want.size() - from) return INT32_MAX;
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

// The chain made of links and the server started on it: the L16 path of
// its item, empty when it could not be made or is not listed.
std::string serve_chain(running_server &srv, const std::string &dir, const std::vector<part> &links)
{
  std::string title = links[0].name;
  if (!chain(dir, srv.media, links) || !srv.start()) return "";
  return lpcm_url(srv.children_when([&](const std::string &c) { return !lpcm_url(c, title).empty(); }), title);
}

std::string seek(const std::string &url, const std::string &npt)
{
  return dechunk(get(url, "TimeSeekRange.dlna.org: npt=" + npt + "-\r\n").body()).data;
}

constexpr size_t kBytesPerSecond = 176400;  // 44100 Hz stereo

size_t bytes_at(size_t ms) { return ms * kBytesPerSecond / 1000; }
// Whole milliseconds of PCM, as a listed duration rounds them down.
size_t ms_of(size_t bytes) { return bytes * 1000 / kBytesPerSecond; }
constexpr size_t kBytesPerMs = 177;

std::string npt(size_t ms)
{
  char t[32];
  std::snprintf(t, sizeof t, "%zu.%03zu", ms / 1000, ms % 1000);
  return t;
}
// Within ffmpeg's rounding of the same floats: a start one frame off
// differs by hundreds at these tones.
constexpr int kTolerance = 2;

// Each test serves chains made by the Debian encoders through the LPCM
// plug-in.
class LpcmChainedOgg : public ::testing::Test {
 protected:
  void SetUp() override
  {
    if (!tarvo_test::private_net().empty()) GTEST_SKIP() << tarvo_test::private_net();
    if (!lacking().empty()) GTEST_SKIP() << lacking();
    srv = std::make_unique<running_server>("corda_lpcm\n");
  }
  std::unique_ptr<running_server> srv;
  tarvo_test::scratch_dir parts;
};

}  // namespace

// A time seek or byte range into a later link of a chained file once
// decoded every link before it (0.9 s before the first byte 19 minutes
// into a 20-minute file); it now starts in the link that plays then.  The
// served PCM is compared with ffmpeg's decoding of the links from the same
// place, in links of the served format and in a 48 kHz mono one converted
// to it, and after it.
TEST_F(LpcmChainedOgg, SeeksIntoLaterLinksGiveTheChainsSamplesFromThere)
{
  std::vector<part> same = {{"same", "ffmpeg", 44100, 2, 2.5, 500}, {"s1", "ffmpeg", 44100, 2, 2.25, 750},
                            {"s2", "sox", 44100, 2, 3, 1000}},
                    mixed = {{"mixed", "ffmpeg", 44100, 2, 2, 500}, {"m1", "ffmpeg", 48000, 1, 2, 1250},
                             {"m2", "sox", 44100, 2, 2, 1000}};
  bool oggenc = tarvo_test::program_found("oggenc");
  if (oggenc) same.push_back({"s3", "oggenc", 44100, 2, 4, 1500});
  ASSERT_TRUE(chain(parts.path, srv->media, same) && chain(parts.path, srv->media, mixed));
  ASSERT_TRUE(srv->start());
  std::string listing = srv->children_when(
      [](const std::string &c) { return !lpcm_url(c, "same").empty() && !lpcm_url(c, "mixed").empty(); });

  std::string url = lpcm_url(listing, "same"), ref = reference(parts.path, same);
  ASSERT_FALSE(url.empty()) << listing;
  ASSERT_EQ(ref.size(), bytes_at(oggenc ? 11750 : 7750));
  EXPECT_LE(worst(dechunk(get(url).body()).data, ref, 0), kTolerance);
  // 0.4 s into sox's link; 0.3 s and 37 frames into the second (decoded
  // from the whole second before it).
  EXPECT_LE(worst(seek(url, "5.15"), ref, bytes_at(5150)), kTolerance);
  // On a link's first sample: that link from its start.
  EXPECT_LE(worst(seek(url, "2.5"), ref, bytes_at(2500)), kTolerance);
  EXPECT_LE(worst(seek(url, "4.75"), ref, bytes_at(4750)), kTolerance);
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
  EXPECT_EQ(srv->stop(), 0);
}

// A link of more channels than Vorbis gives an order to was left out
// without a word, and the link after it played in its place: the stream
// ended in silence, and seeks past it landed early.  The log now names it
// and the limit, its time plays as silence where it stands, and a plain
// play and every seek agree with the listed length.  A link of 8 plays,
// mixed down.
TEST_F(LpcmChainedOgg, ALinkOfMoreThanEightChannelsKeepsItsTimeAsSilence)
{
  std::string log = srv->data + "/../lpcm.log";
  srv->extra_env = {"SYS_LOG_LEVEL=5", "SYS_LOG_OUTPUT=" + log};
  std::vector<part> links = {{"wide", "ffmpeg", 44100, 2, 2, 500}, {"w8", "sox", 44100, 8, 2, 750},
                             {"w10", "sox", 44100, 10, 2, 750}, {"w2", "sox", 44100, 2, 2, 1000}};
  std::string url = serve_chain(*srv, parts.path, links);
  ASSERT_FALSE(url.empty());
  std::string first = reference(parts.path, {links[0]}), last = reference(parts.path, {links[3]});
  std::string whole = dechunk(get(url).body()).data;
  ASSERT_EQ(whole.size(), 8 * kBytesPerSecond);
  EXPECT_LE(worst(whole.substr(0, first.size()), first, 0), kTolerance);
  auto loudest = [&](const std::string &pcm, size_t from, size_t to) {
    int loud = 0;
    for (size_t i = from / 2; i < to / 2 && 2 * i + 1 < pcm.size(); i++) loud = std::max(loud, std::abs(int(sample(pcm, i))));
    return loud;
  };
  EXPECT_GT(loudest(whole, bytes_at(2100), bytes_at(3900)), 1000);
  EXPECT_EQ(loudest(whole, bytes_at(4000), bytes_at(6000)), 0);
  EXPECT_LE(worst(whole.substr(bytes_at(6000)), last, 0), kTolerance);
  std::string text = tarvo_test::read_file(log);
  EXPECT_NE(text.find("wide.ogg: a Vorbis link of 10 channels plays as silence (at most 8 have a known order)"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("link of 8 channels"), std::string::npos) << text;
  std::string quiet = seek(url, "4.5");
  EXPECT_EQ(quiet.size(), bytes_at(3500));
  EXPECT_EQ(loudest(quiet, 0, bytes_at(1500)), 0);
  EXPECT_LE(worst(quiet.substr(bytes_at(1500)), last, 0), kTolerance);
  EXPECT_LE(worst(seek(url, "6.5"), last, kBytesPerSecond / 2), kTolerance);
  EXPECT_EQ(srv->stop(), 0);
}

// A stream saved from mid-way (a radio stream's first link begins past
// granule 0) was timed from 0: listed and sized 3 s too long, ending in
// silence, with seeks and byte ranges into the later links 3 s early and a
// seek past its end playing.  Compared with ffmpeg's decoding of each link.
TEST_F(LpcmChainedOgg, AStreamSavedFromMidWayIsTimedAndSoughtFromItsFirstSample)
{
  std::vector<part> links = {{"radio", "radio", 44100, 2, 3, 500}, {"r1", "ffmpeg", 44100, 2, 2, 1000},
                             {"r2", "sox", 44100, 2, 2, 1500}};
  std::string url = serve_chain(*srv, parts.path, links);
  ASSERT_FALSE(url.empty());
  std::string ref = reference(parts.path, links), saved = reference(parts.path, {links[0]});
  std::string whole = dechunk(get(url).body()).data;
  EXPECT_LE(worst(whole, ref, 0, 0, kBytesPerMs), kTolerance) << whole.size() << " bytes for " << ref.size();
  // Into the second link by time and by bytes, and after the end.
  size_t second = (ms_of(saved.size()) / 10 + 1) * 10 + 500, from = bytes_at(second + 1000) + 13 * 4;
  EXPECT_LE(worst(seek(url, npt(second)), ref, bytes_at(second), 0, kBytesPerMs), kTolerance);
  reply range = get(url, "RANGE: bytes=" + std::to_string(from) + "-\r\n");
  EXPECT_EQ(range.status(), "HTTP/1.1 206 partial content");
  EXPECT_LE(worst(dechunk(range.body()).data, ref, from, 0, kBytesPerMs), kTolerance);
  EXPECT_EQ(get(url, "TimeSeekRange.dlna.org: npt=" + npt(ms_of(ref.size()) + 300) + "-\r\n").status(),
            "HTTP/1.1 416 requested range not satisfiable");
  EXPECT_EQ(srv->stop(), 0);
}

// A link whose header gives no channels or rate 0, or a link cut
// mid-page, ended the stream: the intact links after it never played.
// They are passed over, and the links after them play in the same
// timeline as the listing's: whole, and from a seek.
TEST_F(LpcmChainedOgg, DamagedLinksArePassedOverAndTheLinksAfterThemPlay)
{
  std::vector<part> links = {{"harmed", "ffmpeg", 44100, 2, 2, 500},       {"h1", "ffmpeg", 44100, 2, 2, 700, NO_CHANNELS},
                             {"h2", "sox", 44100, 2, 2, 1000},             {"h3", "ffmpeg", 44100, 2, 2, 800, RATE_0},
                             {"h4", "ffmpeg", 44100, 2, 2, 900, CUT_MID_PAGE}, {"h5", "sox", 44100, 2, 2, 1500}};
  std::string url = serve_chain(*srv, parts.path, links);
  ASSERT_FALSE(url.empty());
  std::string ref = reference(parts.path, {links[0], links[2], links[4], links[5]}),
              last = reference(parts.path, {links[5]});
  std::string whole = dechunk(get(url).body()).data;
  EXPECT_LE(worst(whole, ref, 0, 0, kBytesPerMs), kTolerance) << whole.size() << " bytes for " << ref.size();
  // Into the link before the one of rate 0, and into the last.
  EXPECT_LE(worst(seek(url, "2.5"), ref, bytes_at(2500), 0, kBytesPerMs), kTolerance);
  size_t into_last = (ms_of(ref.size() - last.size()) / 10 + 1) * 10 + 500;
  EXPECT_LE(worst(seek(url, npt(into_last)), ref, bytes_at(into_last), 0, kBytesPerMs), kTolerance);
  EXPECT_EQ(srv->stop(), 0);
}
