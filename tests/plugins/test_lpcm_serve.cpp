// The LPCM plug-ins inside the running server: the resources they add, the
// PCM they stream with byte ranges and time seek, and damaged sources,
// lost clients and a missing movie toolbox that leave the server serving.
#include "plugin_server.h"

#include "encoder_probe.h"
#include "media_fixtures.h"
#include "tarvo_live.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <map>

namespace {

using namespace plugin_test;

constexpr int kRate = 44100;

void put16(std::string &s, int v)
{
  s += char(v & 0xFF);
  s += char((v >> 8) & 0xFF);
}
void put32(std::string &s, uint32_t v)
{
  put16(s, int(v & 0xFFFF));
  put16(s, int(v >> 16));
}

// A PCM WAV file of tag 1 holding samples (interleaved, little-endian).
std::string wav(int channels, const std::vector<int16_t> &samples)
{
  std::string f = "RIFF";
  put32(f, uint32_t(36 + samples.size() * 2));
  f += "WAVEfmt ";
  put32(f, 16);
  put16(f, 1);
  put16(f, channels);
  put32(f, kRate);
  put32(f, uint32_t(kRate * channels * 2));
  put16(f, channels * 2);
  put16(f, 16);
  f += "data";
  put32(f, uint32_t(samples.size() * 2));
  for (int16_t v : samples) put16(f, v);
  return f;
}

// One second of a 1 kHz tone, the right channel at half the left.
std::vector<int16_t> stereo_tone()
{
  std::vector<int16_t> s;
  for (int i = 0; i < kRate; i++) {
    double v = 8000 * std::sin(2 * M_PI * 1000 * i / kRate);
    s.push_back(int16_t(std::lround(v)));
    s.push_back(int16_t(std::lround(v / 2)));
  }
  return s;
}

// The samples as the wire carries them: 16-bit big-endian.
std::string big_endian(const std::vector<int16_t> &s)
{
  std::string b;
  for (int16_t v : s) {
    b += char((uint16_t(v) >> 8) & 0xFF);
    b += char(uint16_t(v) & 0xFF);
  }
  return b;
}

// The tone's frequency from its rising zero crossings (left channel of
// big-endian stereo, or mono), away from the edges where codecs fade in
// and out.
double frequency(const std::string &pcm, int channels, int rate)
{
  size_t frames = pcm.size() / (2 * size_t(channels)) * 8 / 10;
  auto sample = [&](size_t i) {
    return int16_t(uint16_t(uint8_t(pcm[i * 2 * channels]) << 8 | uint8_t(pcm[i * 2 * channels + 1])));
  };
  double first = -1, last = -1;
  int crossings = 0;
  for (size_t i = frames / 8 + 1; i < frames; i++) {
    int a = sample(i - 1), b = sample(i);
    if (a < 0 && b >= 0 && b - a > 100) {
      double t = double(i - 1) + double(-a) / double(b - a);
      if (first < 0) first = t;
      last = t;
      crossings++;
    }
  }
  return crossings > 1 ? (crossings - 1) * double(rate) / (last - first) : 0;
}

// An item of the listing: its res elements (protocolInfo, URL path, size).
struct item {
  std::vector<std::pair<std::string, std::string>> res;
  std::vector<size_t> sizes;
  size_t size(int n) const
  {
    for (size_t i = 0; i < res.size(); i++)
      if (res[i].first.find("audio/L16") != std::string::npos && !n--) return sizes[i];
    return 0;
  }
  std::string lpcm(int n) const
  {
    for (auto &[info, url] : res)
      if (info.find("audio/L16") != std::string::npos && !n--) return url;
    return "";
  }
  std::string info(int n) const
  {
    for (auto &[info, url] : res)
      if (info.find("audio/L16") != std::string::npos && !n--) return info;
    return "";
  }
};

std::map<std::string, item> items_of(const std::string &listing)
{
  std::map<std::string, item> items;
  std::regex one("<item [\\s\\S]*?</item>"), title("<dc:title>([^<]*)</dc:title>"),
      res("<res protocolInfo=\"([^\"]*)\"([^>]*)>http://127\\.0\\.0\\.1:30001(/[^<]*)</res>"), size(" size=\"(\\d+)\"");
  for (std::sregex_iterator i(listing.begin(), listing.end(), one), e; i != e; ++i) {
    std::string text = i->str();
    std::smatch t, source;
    // Keyed by the title and the suffix of the source's own URL.
    if (!std::regex_search(text, t, title) ||
        !std::regex_search(text, source, std::regex(">http://[^<]*(\\.[a-z0-9]+)</res>")))
      continue;
    item &it = items[std::string(t[1]) + std::string(source[1])];
    for (std::sregex_iterator r(text.begin(), text.end(), res); r != e; ++r) {
      it.res.push_back({(*r)[1], (*r)[3]});
      std::smatch z;
      std::string attrs = (*r)[2];
      it.sizes.push_back(std::regex_search(attrs, z, size) ? std::stoul(z[1]) : 0);
    }
  }
  return items;
}

const char *const kFixtures[] = {MEDIA_MP3_CBR, MEDIA_WMA, MEDIA_M4A, MEDIA_OGG_44100, MEDIA_OGG_48000,
                                 MEDIA_OGG_32000, MEDIA_WAV_6CH};

class LpcmServer : public ::testing::Test {
 protected:
  static void SetUpTestSuite()
  {
    if (!tarvo_test::private_net().empty()) return;
    // One plug-in named by its library's path, the other by its name: both
    // serve the resources that name them.
    const char *bin = std::getenv("TARVO_BIN");
    srv = new running_server(std::string(bin ? bin : "bin") + "/libcorda_lpcm.so\ncorda_lpcm_mp4\n");
    std::string m = srv->media + "/";
    tarvo_test::write_file(m + "tone.wav", wav(2, stereo_tone()));
    std::vector<int16_t> six;
    for (int i = 0; i < kRate; i++) six.insert(six.end(), {0, 0, 10000, 0, 0, 0});
    tarvo_test::write_file(m + "six.wav", wav(6, six));
    // The generator's fixtures, and of each compressed kind a truncated
    // copy (cut in half) and a corrupt one (the header kept, the rest
    // overwritten).
    for (const char *name : kFixtures)
      tarvo_test::write_file(m + name, tarvo_test::read_file(media_fixture(name)));
    for (const char *name : {"tone.wav", MEDIA_MP3_CBR, MEDIA_WMA, MEDIA_OGG_44100, MEDIA_M4A}) {
      std::string whole = tarvo_test::read_file(m + name);
      tarvo_test::write_file(m + "cut_" + name, whole.substr(0, whole.size() / 2));
      std::string bad = whole;
      for (size_t i = std::min<size_t>(bad.size(), 4096); i < bad.size(); i++) bad[i] = char(i * 131 + 7);
      tarvo_test::write_file(m + "bad_" + name, bad);
    }
    srv->start();
    listing = srv->children_when([&](const std::string &c) {
      auto items = items_of(c);
      size_t n = 0;
      for (const char *t : kFixtures) n += items.count(t) && !items[t].lpcm(0).empty();
      return n == std::size(kFixtures) - 1;  // all but the 32000 Hz Ogg
    });
    // The database file is written at most once a second after a change:
    // the suite starts once it holds them all.
    tarvo_test::eventually([] {
      std::string db = tarvo_test::read_file(srv->data + "/conf/data.xml");
      for (const char *name : kFixtures)
        if (db.find(std::string("/") + name + "\"") == std::string::npos) return false;
      return true;
    });
  }
  static void TearDownTestSuite()
  {
    delete srv;
    srv = nullptr;
  }
  void SetUp() override
  {
    if (!tarvo_test::private_net().empty()) GTEST_SKIP() << tarvo_test::private_net();
    items = items_of(listing);
  }

  static running_server *srv;
  static std::string listing;
  std::map<std::string, item> items;
};

running_server *LpcmServer::srv = nullptr;
std::string LpcmServer::listing;

}  // namespace

TEST_F(LpcmServer, WavGainsTwoResourcesAndStreamsItsSamplesSwappedInChunksOf8000)
{
  const item &tone = items["tone.wav"];
  ASSERT_FALSE(tone.lpcm(1).empty()) << listing;
  EXPECT_EQ(tone.info(0), "http-get:*:audio/L16;rate=44100;channels=2:DLNA.ORG_PN=LPCM;DLNA.ORG_OP=11;DLNA.ORG_CI=1;"
                          "DLNA.ORG_FLAGS=00200000000000000000000000000000");
  EXPECT_EQ(tone.info(1).substr(0, 41), "http-get:*:audio/L16;rate=48000;channels=");

  // The stored item: the source res's attributes copied after the LPCM
  // ones, in their order, with the server's own text.
  std::string db = tarvo_test::read_file(srv->data + "/conf/data.xml");
  std::smatch stamp;
  ASSERT_TRUE(std::regex_search(db, stamp, std::regex("tone\\.wav\" tarvo:timestamp=\"(\\d+)\"")));
  std::string tail = " duration=\"0:00:01\" tarvo:filename=\"" + srv->media + "/tone.wav\" tarvo:timestamp=\"" +
                     std::string(stamp[1]) + "\" bitsPerSample=\"16\" tarvo:filter=\"corda_lpcm\">/";
  for (auto [rate, bitrate] : {std::pair{"44100", "176400"}, {"48000", "192000"}}) {
    std::string res = std::string("<res protocolInfo=\"http-get:*:audio/L16;rate=") + rate +
                      ";channels=2:DLNA.ORG_PN=LPCM;DLNA.ORG_OP=11;DLNA.ORG_CI=1;DLNA.ORG_FLAGS="
                      "00200000000000000000000000000000\" sampleFrequency=\"" + rate + "\" bitrate=\"" + bitrate +
                      "\" nrAudioChannels=\"2\" size=\"" + bitrate + "\"" + tail;
    EXPECT_NE(db.find(res), std::string::npos) << res;
  }

  reply r = get(tone.lpcm(0), "RANGE: bytes=0-\r\n");
  EXPECT_EQ(r.status(), "HTTP/1.1 206 partial content");
  EXPECT_EQ(r.header("CONTENT-RANGE"), "bytes 0-176399/176400");
  EXPECT_EQ(r.header("CONTENT-TYPE"), "audio/L16;rate=44100;channels=2");
  EXPECT_EQ(r.header("TRANSFER-ENCODING"), "chunked");
  EXPECT_EQ(r.header("contentFeatures.dlna.org"),
            "DLNA.ORG_PN=LPCM;DLNA.ORG_OP=11;DLNA.ORG_CI=1;DLNA.ORG_FLAGS=00200000000000000000000000000000");
  chunks c = dechunk(r.body());
  std::vector<size_t> sizes(22, 8000);
  sizes.push_back(400);
  EXPECT_EQ(c.sizes, sizes);
  EXPECT_TRUE(c.ended);
  EXPECT_TRUE(c.data == big_endian(stereo_tone()));

  // HTTP/1.0: a plain body of the whole length, and the server closes.
  reply old = talk(kHttpPort, "GET " + tone.lpcm(0) + " HTTP/1.0\r\n\r\n", tarvo_test::kLiveMs);
  EXPECT_EQ(old.status(), "HTTP/1.1 200 OK");
  EXPECT_TRUE(old.closed);
  EXPECT_EQ(old.body().size(), 176400u);
  EXPECT_TRUE(old.body() == big_endian(stereo_tone()));
}

TEST_F(LpcmServer, TimeSeekAnnouncesAndSendsExactlyTheFrameAlignedBytes)
{
  std::string url = items["tone.wav"].lpcm(0);
  ASSERT_FALSE(url.empty()) << listing;
  reply half = get(url, "TimeSeekRange.dlna.org: npt=0.5-\r\n");
  EXPECT_EQ(half.status(), "HTTP/1.1 200 OK");
  EXPECT_EQ(half.header("TimeSeekRange.dlna.org"), "npt=0.500-1/1 bytes=88200-176399/176400");
  chunks c = dechunk(half.body());
  EXPECT_TRUE(c.ended);
  EXPECT_TRUE(c.data == big_endian(stereo_tone()).substr(88200));
  // A middle part at the 48000 Hz resource: its length is the header's
  // byte range, not a rounded rate times the time.
  reply part = get(items["tone.wav"].lpcm(1), "TimeSeekRange.dlna.org: npt=0.1-0.3\r\n");
  EXPECT_EQ(part.header("TimeSeekRange.dlna.org"), "npt=0.100-0.300/1 bytes=19200-57599/192000");
  EXPECT_EQ(dechunk(part.body()).data.size(), 38400u);
  EXPECT_EQ(get(url, "TimeSeekRange.dlna.org: npt=1-\r\n").status(), "HTTP/1.1 416 requested range not satisfiable");
  EXPECT_EQ(get(url, "TimeSeekRange.dlna.org: npt=abc\r\n").status(), "HTTP/1.1 400 bad request");
  EXPECT_EQ(get(url, "PlaySpeed.dlna.org: speed=2\r\n").status(), "HTTP/1.1 406 not acceptable");
}

TEST_F(LpcmServer, SixChannelPcmIsDownmixedToStereo)
{
  const item &six = items["six.wav"];
  ASSERT_FALSE(six.lpcm(0).empty()) << listing;
  EXPECT_NE(six.info(0).find("rate=44100;channels=2:"), std::string::npos);
  chunks c = dechunk(get(six.lpcm(0)).body());
  ASSERT_EQ(c.data.size(), 176400u);
  auto at = [&](size_t i) { return int16_t(uint16_t(uint8_t(c.data[i]) << 8 | uint8_t(c.data[i + 1]))); };
  EXPECT_EQ(at(88200), 7079);
  EXPECT_EQ(at(88202), 7079);
}

TEST_F(LpcmServer, CompressedSourcesStreamTheirLengthAsA1kHzTone)
{
  for (const char *name : {MEDIA_MP3_CBR, MEDIA_WMA, MEDIA_OGG_44100, MEDIA_OGG_48000, MEDIA_M4A, MEDIA_WAV_6CH}) {
    SCOPED_TRACE(name);
    auto found = items.find(name);
    ASSERT_NE(found, items.end()) << listing;
    const item &it = found->second;
    std::smatch m;
    std::string info = it.info(0);
    ASSERT_TRUE(std::regex_search(info, m, std::regex("rate=(\\d+);channels=(\\d+)"))) << listing;
    int rate = std::stoi(m[1]), channels = std::stoi(m[2]);
    chunks c = dechunk(get(it.lpcm(0)).body());
    EXPECT_TRUE(c.ended);
    EXPECT_EQ(c.data.size(), it.size(0));
    EXPECT_GT(c.data.size(), size_t(rate) * channels * 2 * (TARVO_MEDIA_SECONDS - 0.1));
    EXPECT_NEAR(frequency(c.data, channels, rate), TARVO_MEDIA_TONE_HZ, 2);
    // From the middle: the rest of the announced length, still the tone.
    chunks rest = dechunk(get(it.lpcm(0), "TimeSeekRange.dlna.org: npt=1-\r\n").body());
    EXPECT_TRUE(rest.ended);
    EXPECT_EQ(rest.data.size(), it.size(0) - size_t(rate) * channels * 2);
    EXPECT_NEAR(frequency(rest.data, channels, rate), TARVO_MEDIA_TONE_HZ, 2);
  }
  // Ogg at 48000 Hz: one resource; at 32000 Hz: none.
  EXPECT_NE(items[MEDIA_OGG_48000].info(0).find("rate=48000;channels=2:"), std::string::npos);
  EXPECT_TRUE(items[MEDIA_OGG_48000].lpcm(1).empty());
  EXPECT_TRUE(items[MEDIA_OGG_32000].lpcm(0).empty());
}

namespace {

// The entries of a folder: the server's threads or open descriptors.
size_t count_in(const std::string &dir)
{
  size_t n = 0;
  std::error_code ec;
  for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) n++;
  return n;
}

// Reads one chunked answer on fd up to its final chunk.
std::string read_chunked(int fd)
{
  std::string text;
  char buf[65536];
  pollfd p{fd, POLLIN, 0};
  auto done = [&] {
    size_t head = text.find("\r\n\r\n");
    return head != std::string::npos && text.size() >= head + 11 && !text.compare(text.size() - 7, 7, "\r\n0\r\n\r\n");
  };
  while (!done()) {
    if (poll(&p, 1, 10000) <= 0) break;
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    text.append(buf, size_t(n));
  }
  return text;
}

}  // namespace

TEST_F(LpcmServer, DamagedSourcesAndLostClientsLeaveTheServerServing)
{
  std::string good = items["tone.wav"].lpcm(0);
  ASSERT_FALSE(good.empty()) << listing;
  std::string proc = "/proc/" + std::to_string(srv->pid);
  size_t threads = count_in(proc + "/task"), fds = count_in(proc + "/fd");
  for (auto &[title, it] : items) {
    if (title.rfind("cut_", 0) && title.rfind("bad_", 0)) continue;  // keyed "cut_tone.wav" and the like
    if (it.lpcm(0).empty()) continue;
    SCOPED_TRACE(title);
    reply r = get(it.lpcm(0));
    chunks c = dechunk(r.body());
    EXPECT_TRUE(r.closed);
    if (!title.rfind("cut_", 0)) {
      // Padded with silence to the length the item announces.
      EXPECT_TRUE(c.ended);
    }
    // Whole, or ended at once without the final chunk.
    if (c.ended) {
      EXPECT_EQ(c.data.size(), it.size(0));
    }
  }
  // A client that goes away in the middle of a stream.
  int fd = connect_loopback(kHttpPort);
  std::string req = "GET " + good + " HTTP/1.1\r\nHOST: 127.0.0.1\r\n\r\n";
  ASSERT_EQ(send(fd, req.data(), req.size(), MSG_NOSIGNAL), ssize_t(req.size()));
  char buf[1000];
  EXPECT_GT(recv(fd, buf, sizeof buf, MSG_WAITALL), 0);
  close(fd);
  EXPECT_EQ(dechunk(get(good).body()).data.size(), 176400u);

  // A whole answer keeps an HTTP/1.1 connection for the next request.
  fd = connect_loopback(kHttpPort);
  std::string keep = "GET " + good + " HTTP/1.1\r\nHOST: 127.0.0.1\r\n\r\n";
  for (int i = 0; i < 2; i++) {
    ASSERT_EQ(send(fd, keep.data(), keep.size(), MSG_NOSIGNAL), ssize_t(keep.size()));
    reply r{read_chunked(fd)};
    EXPECT_EQ(r.status(), "HTTP/1.1 200 OK") << i;
    EXPECT_EQ(dechunk(r.body()).data.size(), 176400u) << i;
  }
  close(fd);

  // Every stream's graph threads and descriptors are gone again.
  tarvo_test::eventually([&] { return count_in(proc + "/task") <= threads && count_in(proc + "/fd") <= fds; });
  EXPECT_LE(count_in(proc + "/task"), threads);
  EXPECT_LE(count_in(proc + "/fd"), fds);
}

TEST(LpcmMp4Server, TwoResourcesTheSourceRateFirstAndOneDynamicMark)
{
  if (!tarvo_test::private_net().empty()) GTEST_SKIP() << tarvo_test::private_net();
  if (!tarvo_test::ffmpeg_encodes("aac") || !tarvo_test::ffmpeg_filters("sine"))
    GTEST_SKIP() << "ffmpeg with the aac encoder and the lavfi sources is needed for the fixture";
  running_server srv("corda_lpcm_mp4\n");
  ASSERT_EQ(std::system(("ffmpeg -loglevel error -y -f lavfi -i sine=frequency=1000:duration=1:sample_rate=48000 -ac 1 "
                         "-c:a aac " + srv.media + "/tone48.m4a >/dev/null 2>&1").c_str()), 0);
  ASSERT_TRUE(srv.start());
  std::string listing = srv.children_when([](const std::string &c) { return !items_of(c)["tone48.m4a"].lpcm(1).empty(); });
  item it = items_of(listing)["tone48.m4a"];
  ASSERT_FALSE(it.lpcm(1).empty()) << listing;
  EXPECT_NE(it.info(0).find("audio/L16;rate=48000;channels=1:"), std::string::npos);
  EXPECT_NE(it.info(1).find("audio/L16;rate=44100;channels=1:"), std::string::npos);
  reply r = get(it.lpcm(1), "TimeSeekRange.dlna.org: npt=0.25-\r\n");
  EXPECT_EQ(r.header("TimeSeekRange.dlna.org"), "npt=0.250-1/1 bytes=22050-88199/88200");
  chunks c = dechunk(r.body());
  EXPECT_TRUE(c.ended);
  EXPECT_EQ(c.data.size(), 66150u);
  EXPECT_NEAR(frequency(c.data, 1, 44100), 1000, 2);
  // Saved once by the save thread; the stop must not add a second mark.
  EXPECT_TRUE(tarvo_test::eventually([&] {
    return tarvo_test::read_file(srv.data + "/conf/data.xml").find("<tarvo:dynamic>") != std::string::npos;
  }));
  ASSERT_EQ(srv.stop(), 0);
  std::string db = tarvo_test::read_file(srv.data + "/conf/data.xml");
  size_t mark = db.find("<tarvo:dynamic></tarvo:dynamic>");
  EXPECT_NE(mark, std::string::npos) << db;
  EXPECT_EQ(db.find("<tarvo:dynamic", mark + 1), std::string::npos) << db;
}

namespace {

// The peak of one channel of big-endian PCM.
int peak(const std::string &pcm, int channels, int channel)
{
  int top = 0;
  for (size_t i = size_t(channel) * 2; i + 1 < pcm.size(); i += 2 * size_t(channels))
    top = std::max(top, std::abs(int(int16_t(uint16_t(uint8_t(pcm[i]) << 8 | uint8_t(pcm[i + 1]))))));
  return top;
}

}  // namespace

// Joined recordings whose second part has other channels or another rate
// (the decoders change their frames in the middle of the stream): every
// L16 resource streams its announced length at its announced rate, whole
// and from inside the second part, and the server lives.  Once mono frames
// went into a converter made for stereo (SIGSEGV), and 48 kHz frames came
// out as 44.1 kHz ones (the tone 8% low).  The ASF files carry the
// joined MP3 for the WMA decoder object, which takes tag 0x55 for the test.
TEST(LpcmJoinedSources, ChangedChannelsOrRateMidStreamKeepTheAgreedFormat)
{
  if (!tarvo_test::private_net().empty()) GTEST_SKIP() << tarvo_test::private_net();
  if (!tarvo_test::ffmpeg_encodes("libmp3lame") || !tarvo_test::ffmpeg_filters("sine"))
    GTEST_SKIP() << "ffmpeg with libmp3lame and the lavfi sources is needed for the fixture";
  running_server srv("corda_lpcm\ncorda_lpcm_mp4\n");
  srv.extra_env.push_back("TARVO_DMO_WMA_TAGS=161,55");
  std::string m = srv.media + "/";
  auto part = [&](const char *name, int rate, int channels) {
    return std::system(("ffmpeg -loglevel error -y -f lavfi -i sine=frequency=1000:duration=1:sample_rate=" +
                        std::to_string(rate) + " -ac " + std::to_string(channels) + " -c:a libmp3lame -b:a 128k -f mp3 " + m +
                        name + " >/dev/null 2>&1").c_str()) == 0;
  };
  ASSERT_TRUE(part("st.part", 44100, 2) && part("mo.part", 44100, 1) && part("st48.part", 48000, 2));
  const char *names[] = {"mono", "rate"};
  for (const char *name : names) {
    std::string joined = m + name + ".mp3";
    tarvo_test::write_file(joined, tarvo_test::read_file(m + "st.part") +
                                       tarvo_test::read_file(m + (name[0] == 'm' ? "mo.part" : "st48.part")));
    for (const char *kind : {"wma", "m4a"})
      ASSERT_EQ(std::system(("ffmpeg -loglevel error -y -i " + joined + " -c:a copy -f " +
                             (kind[0] == 'w' ? "asf " : "mp4 ") + m + name + "." + kind).c_str()), 0);
  }
  for (const char *p : {"st.part", "mo.part", "st48.part"}) fs::remove(m + p);
  ASSERT_TRUE(srv.start());
  std::vector<std::string> keys;
  for (const char *name : names)
    for (const char *kind : {".mp3", ".wma", ".m4a"}) keys.push_back(std::string(name) + kind);
  std::string listing = srv.children_when([&](const std::string &c) {
    auto items = items_of(c);
    return std::all_of(keys.begin(), keys.end(), [&](auto &k) { return !items[k].lpcm(1).empty(); });
  });
  auto items = items_of(listing);
  for (const std::string &key : keys) {
    for (int n = 0; n < 2; n++) {
      SCOPED_TRACE(key + " resource " + std::to_string(n));
      const item &it = items[key];
      std::smatch f;
      std::string info = it.info(n);
      ASSERT_TRUE(std::regex_search(info, f, std::regex("rate=(\\d+);channels=(\\d+)"))) << listing;
      int rate = std::stoi(f[1]), channels = std::stoi(f[2]);
      EXPECT_EQ(channels, 2);
      chunks whole = dechunk(get(it.lpcm(n)).body());
      EXPECT_TRUE(whole.ended);
      EXPECT_EQ(whole.data.size(), it.size(n));
      // The first part's tone, short of the joint (the encoders' padding
      // and the second file's tag lie there).
      EXPECT_NEAR(frequency(whole.data.substr(0, size_t(rate) * 4 * 9 / 10), channels, rate), 1000, 2);
      reply r = get(it.lpcm(n), "TimeSeekRange.dlna.org: npt=1.2-\r\n");
      std::smatch range;
      std::string seek = r.header("TimeSeekRange.dlna.org");
      ASSERT_TRUE(std::regex_search(seek, range, std::regex("bytes=(\\d+)-(\\d+)/(\\d+)$"))) << r.text.substr(0, 400);
      chunks rest = dechunk(r.body());
      EXPECT_TRUE(rest.ended);
      EXPECT_EQ(rest.data.size(), std::stoul(range[2]) - std::stoul(range[1]) + 1);
      EXPECT_EQ(std::stoul(range[3]), it.size(n));
      EXPECT_NEAR(frequency(rest.data, channels, rate), 1000, 2);
      // The second part (mono in one file) reaches both channels.
      EXPECT_GT(peak(rest.data, 2, 1), 2000);
    }
  }
  EXPECT_EQ(waitpid(srv.pid, nullptr, WNOHANG), 0);
  EXPECT_EQ(srv.stop(), 0);
}
