// Ogg Vorbis files encoded in the test: comments mapped to properties,
// stream facts, and a file beyond 4 GiB read through 64-bit positions.
#include <gtest/gtest.h>
#include <tarvo_test.h>
#include <vorbis/vorbisenc.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "tag_test.h"

using tag_test::props;
using tarvo_test::scratch_dir;

namespace {

struct encoding {
  std::vector<std::string> comments;
  bool no_nominal_bitrate = false;
  double seconds = 1;
  int serial = 1234;
  // Added to the audio pages' granule positions: a stream saved from
  // mid-way, as from an internet radio.
  int64_t saved_from = 0;
};

// The page's granule position moved by `by`, its checksum set again.
void shift_granule(std::string *page, int64_t by)
{
  auto *b = reinterpret_cast<unsigned char *>(page->data());
  ogg_page og{b, long(27 + b[26]), b + 27 + b[26], long(page->size()) - long(27 + b[26])};
  ogg_int64_t g = ogg_page_granulepos(&og) + by;
  for (int i = 0; i < 8; i++) b[6 + i] = uint8_t(uint64_t(g) >> (8 * i));
  ogg_page_checksum_set(&og);
}

std::string page_bytes(const ogg_page &og)
{
  return std::string(reinterpret_cast<const char *>(og.header), size_t(og.header_len)) +
         std::string(reinterpret_cast<const char *>(og.body), size_t(og.body_len));
}

// The pages of a mono 44.1 kHz tone, headers first.
std::vector<std::string> encode(const encoding &e)
{
  vorbis_info vi;
  vorbis_comment vc;
  vorbis_dsp_state vd;
  vorbis_block vb;
  ogg_stream_state os;
  vorbis_info_init(&vi);
  vorbis_encode_init(&vi, 1, 44100, -1, 64000, -1);
  vorbis_comment_init(&vc);
  for (const std::string &c : e.comments) vorbis_comment_add(&vc, c.c_str());
  vorbis_analysis_init(&vd, &vi);
  vorbis_block_init(&vd, &vb);
  ogg_stream_init(&os, e.serial);
  ogg_packet id, comm, code;
  vorbis_analysis_headerout(&vd, &vc, &id, &comm, &code);
  // bitrate_nominal lies at byte 20 of the identification header.
  std::string id_bytes(reinterpret_cast<char *>(id.packet), size_t(id.bytes));
  if (e.no_nominal_bitrate) id_bytes.replace(20, 4, 4, '\0');
  id.packet = reinterpret_cast<unsigned char *>(id_bytes.data());
  for (ogg_packet *p : {&id, &comm, &code}) ogg_stream_packetin(&os, p);
  std::vector<std::string> pages;
  ogg_page og;
  while (ogg_stream_flush(&os, &og)) pages.push_back(page_bytes(og));
  size_t headers = pages.size();
  long total = long(e.seconds * 44100), done = 0;
  while (true) {
    long n = std::min(4096L, total - done);
    float **buf = vorbis_analysis_buffer(&vd, int(n));
    for (long i = 0; i < n; i++) buf[0][i] = float(0.3 * std::sin((done + i) * 0.06));
    vorbis_analysis_wrote(&vd, int(n));
    done += n;
    while (vorbis_analysis_blockout(&vd, &vb) == 1) {
      vorbis_analysis(&vb, nullptr);
      vorbis_bitrate_addblock(&vb);
      ogg_packet op;
      while (vorbis_bitrate_flushpacket(&vd, &op)) {
        ogg_stream_packetin(&os, &op);
        // A page per packet: the large-file test needs several.
        while (ogg_stream_flush(&os, &og)) pages.push_back(page_bytes(og));
      }
    }
    if (n == 0) break;
  }
  while (ogg_stream_flush(&os, &og)) pages.push_back(page_bytes(og));
  for (size_t i = headers; e.saved_from && i < pages.size(); i++) shift_granule(&pages[i], e.saved_from);
  ogg_stream_clear(&os);
  vorbis_block_clear(&vb);
  vorbis_dsp_clear(&vd);
  vorbis_comment_clear(&vc);
  vorbis_info_clear(&vi);
  return pages;
}

std::string join(const std::vector<std::string> &pages)
{
  std::string r;
  for (const std::string &p : pages) r += p;
  return r;
}

class Ogg : public ::testing::Test {
 protected:
  scratch_dir d;
  props &read(const std::string &bytes)
  {
    std::string path = d / "song.ogg";
    tarvo_test::write_file(path, bytes);
    p = std::make_unique<props>();
    EXPECT_EQ(tarvo_tag_get_properties(path.c_str(), "application/ogg", p->n(), p->v()), 1);
    return *p;
  }
  std::unique_ptr<props> p;
};

}  // namespace

TEST_F(Ogg, CommentsMapToPropertiesByKey)
{
  props &r = read(join(encode({{"TITLE=Song", "ARTIST=A", "artist=B", "Album=Disc", "COMMENT=x", "DESCRIPTION=y",
                                 "COMMENT=z", "GENRE=Jazz", "TRACKNUMBER=3/12", "COPYRIGHT=(c) me", "DATE=2001",
                                 "TITLE=", "noequals"}})));
  std::vector<std::pair<std::string, std::string>> want = {
      {"dc:title", "Song"},          {"dc:creator", "A"},       {"upnp:artist", "A"},
      {"upnp:artist", "B"},          {"upnp:album", "Disc"},    {"dc:description", "y"},
      {"upnp:genre", "Jazz"},        {"upnp:originalTrackNumber", "3/12"}, {"dc:rights", "(c) me"}};
  std::vector<std::pair<std::string, std::string>> got;
  for (auto &[n, v] : r.all())
    if (n.find('@') == std::string::npos && n != "upnp:class" && n != "dc:date") got.emplace_back(n, v);
  EXPECT_EQ(got, want);
  // The class is the default for the MIME type: the reader adds none.
  EXPECT_EQ(r.get("upnp:class"), "object.item.audioItem.musicTrack");
  EXPECT_EQ(r.get("res@duration"), "0:00:01");
  EXPECT_EQ(r.get("res@nrAudioChannels"), "1");
  EXPECT_EQ(r.get("res@sampleFrequency"), "44100");
  EXPECT_EQ(r.get("res@bitrate"), "8000");
  EXPECT_EQ(r.get("res@protocolInfo"),
            "http-get:*:application/ogg:DLNA.ORG_OP=01;DLNA.ORG_CI=0;DLNA.ORG_FLAGS=00200000000000000000000000000000");
}

TEST_F(Ogg, NoNominalBitrateGivesNoBitrate)
{
  encoding e;
  e.no_nominal_bitrate = true;
  props &r = read(join(encode(e)));
  EXPECT_EQ(r.get("res@bitrate"), "<none>");
  EXPECT_EQ(r.get("res@sampleFrequency"), "44100");
}

TEST_F(Ogg, DamagedStreamIsNoOggFile)
{
  std::string bytes = join(encode({}));
  props &r = read(bytes.substr(0, 200));
  EXPECT_EQ(r.get("res@sampleFrequency"), "<none>");
  EXPECT_EQ(r.get("upnp:class"), "object.item");
}

TEST_F(Ogg, FileBeyondFourGibibytesKeepsItsPositions)
{
  // The header pages at the start and the last page at 5 GiB, a hole
  // between: the total time comes from the last page, which positions cut
  // to 32 bits would miss.
  encoding e;
  e.seconds = 2;
  std::vector<std::string> pages = encode(e);
  ASSERT_GT(pages.size(), 4u);
  std::string tail = pages.back();
  pages.pop_back();
  std::string head = join(pages);
  std::string path = d / "big.ogg";
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  off_t end = off_t(5) << 30;
  bool ok = pwrite(fd, head.data(), head.size(), 0) == ssize_t(head.size()) &&
            pwrite(fd, tail.data(), tail.size(), end - off_t(tail.size())) == ssize_t(tail.size());
  close(fd);
  if (!ok) GTEST_SKIP() << "cannot write a sparse 5 GiB file here";
  props r;
  ASSERT_EQ(tarvo_tag_get_properties(path.c_str(), "application/ogg", r.n(), r.v()), 1);
  EXPECT_EQ(r.get("res@duration"), "0:00:02");
  EXPECT_EQ(r.get("res@size"), "5368709120");
}

// A chained file is timed over all its streams, by a walk over its pages:
// vorbisfile's own search of the links read four times the file, and a
// read refused amid it lost the streams it had opened.
TEST_F(Ogg, ChainedStreamsTimedTogether)
{
  encoding first, second;
  first.comments = {"TITLE=Part 0"};
  second.serial = 99;
  second.seconds = 3;
  second.comments = {"TITLE=Part 1", "DESCRIPTION=" + std::string(400 * 1024, 'x')};
  props &chained = read(join(encode(first)) + join(encode(second)));
  EXPECT_EQ(chained.get("res@duration"), "0:00:04");
  EXPECT_EQ(chained.get("dc:title"), "Part 0");
  // Saved from 30 s into a stream, the first link was timed from 0 (30 s
  // too long); links saved from mid-way are timed from their first sample.
  first.saved_from = 30 * 44100;
  second.saved_from = 7 * 44100 + 17;
  EXPECT_EQ(read(join(encode(first)) + join(encode(second))).get("res@duration"), "0:00:04");
  EXPECT_EQ(read(join(encode(second)) + join(encode(first))).get("res@duration"), "0:00:04");
}

// The link that plays at a time, where a seek starts: its bytes and play
// times.  Bytes whose last page belongs to a stream their link did not
// open are not given, since vorbisfile opening them alone would search
// them for further links.
TEST_F(Ogg, LinkAtGivesTheBytesAndTimesOfTheLinkThatPlays)
{
  encoding second, third;
  second.serial = 99;
  second.seconds = 2;
  third.serial = 7;
  std::string a = join(encode({})), b = join(encode(second)), path = d / "chain.ogg";
  std::vector<std::string> c = encode(third);
  tag_ogg_link l{};
  auto link_at = [&](const std::string &bytes, double at) {
    tarvo_test::write_file(path, bytes);
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    int found = tag_ogg_link_at(fd, at, &l);
    close(fd);
    return found;
  };
  ASSERT_EQ(link_at(a + b + join(c), 2.5), 1);
  EXPECT_EQ(std::vector<double>({double(l.begin), double(l.end), l.start, l.seconds}),
            std::vector<double>({double(a.size()), double(a.size() + b.size()), 1, 2}));
  EXPECT_EQ(link_at(a + b + join(c), 4), 0);
  // On a link's first sample it is that link that plays.
  ASSERT_EQ(link_at(a + b + join(c), 3), 1);
  EXPECT_EQ(std::vector<double>({double(l.begin), l.start}), std::vector<double>({double(a.size() + b.size()), 3}));
  // A first link saved from 30 s into a stream took 31 s, not 1 s.
  encoding radio;
  radio.saved_from = 30 * 44100;
  std::string r = join(encode(radio));
  ASSERT_EQ(link_at(r + b + join(c), 1), 1);
  EXPECT_EQ(std::vector<double>({double(l.begin), l.start, l.seconds}), std::vector<double>({double(r.size()), 1, 2}));
  // A link that plays nothing (its header gives no channels) has no time;
  // a link cut mid-page hid the next link's first pages.  The links after
  // either are found where they play.
  std::vector<std::string> none = encode(second);
  none[0][28 + 11] = 0;  // the identification header's channel count
  shift_granule(&none[0], 0);
  ASSERT_EQ(link_at(a + join(none) + join(c), 1.5), 1);
  EXPECT_EQ(std::vector<double>({double(l.begin), l.start, l.seconds}),
            std::vector<double>({double(a.size() + join(none).size()), 1, 1}));
  std::string cut = b.substr(0, b.size() - 10);
  ASSERT_EQ(link_at(a + cut + join(c), 3.5), 1);
  EXPECT_EQ(l.begin, a.size() + cut.size());
  // The third link's last page moved to the end of the second's bytes.
  std::string moved = c.back();
  c.pop_back();
  EXPECT_EQ(link_at(a + b + moved + join(c), 1.5), 0);
  EXPECT_EQ(link_at(a + b + moved + join(c), 0.5), 1);
}
