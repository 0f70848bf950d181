// Item text of media files: classes, defaults, titles, albums, dates, sizes,
// protocolInfo and values that the text could not carry.
#include <gtest/gtest.h>
#include <tarvo_avcp/avcp_didl.h>
#include <tarvo_tag/tag_limits.h>
#include <tarvo_test.h>

#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "mp3_test.h"
#include "tag_test.h"

using tag_test::item;
using tag_test::props;
using tarvo_test::scratch_dir;
using tarvo_test::write_file;

namespace {

const char kFlags[] = "DLNA.ORG_OP=01;DLNA.ORG_CI=0;DLNA.ORG_FLAGS=00200000000000000000000000000000";
const time_t kWhen = 1241354096;  // 2009-05-03 12:34:56 UTC

// A file with the given content and modification time.
std::string make(const scratch_dir &d, const std::string &name, const std::string &data = "data")
{
  std::string p = d / name;
  std::filesystem::create_directories(std::filesystem::path(p).parent_path());
  write_file(p, data);
  utimbuf t{kWhen, kWhen};
  utime(p.c_str(), &t);
  return p;
}

std::string frame(const std::string &body)
{
  sys_stralloc_rec b{}, e{};
  avcp_didl_xml_begin(&b);
  avcp_didl_xml_end(&e);
  std::string r = std::string(b.buf, b.len) + body + std::string(e.buf, e.len);
  sys_stralloc_free(&b);
  sys_stralloc_free(&e);
  return r;
}

class TagItem : public ::testing::Test {
 protected:
  void SetUp() override { setenv("TZ", "UTC", 1); }
  scratch_dir d;
};

}  // namespace

TEST_F(TagItem, FileOfNoReaderGetsTheDefaultsInOrder)
{
  std::string p = make(d, "notes.txt", "hello");
  EXPECT_EQ(item(p, "text/plain"),
            frame(std::string("<item>\r\n<dc:title>notes</dc:title>\r\n<res size=\"5\" protocolInfo=\"http-get:*:text/plain:") +
                  kFlags +
                  "\"/>\r\n<upnp:class>object.item.textItem</upnp:class>\r\n"
                  "<dc:date>2009-05-03T12:34:56</dc:date>\r\n</item>\r\n"));
  // The server reads the text back with the DIDL-Lite parser.
  avcp_didl_object_list list = nullptr;
  ASSERT_EQ(avcp_didl_parse(item(p, "text/plain").c_str(), &list), 1);
  ASSERT_TRUE(list[0] && !list[1]);
  EXPECT_STREQ(avcp_didl_property_find(list[0], "dc:title")->text, "notes");
  avcp_didl_object_list_free(list);
}

TEST_F(TagItem, DefaultsFollowTheClass)
{
  // MPEG-2 audio: read by the MP3 reader, but without a DLNA profile.
  std::string mp3 = mp3_test::frames(mp3_test::kind{2, 1, 8, 0, 0}, 3);
  struct {
    const char *file, *mime, *cls;
    bool album, genre, creator, actor;
    std::string data = "data";
  } cases[] = {
      {"Music/song.mp3", "audio/mpeg", "object.item.audioItem.musicTrack", true, true, true, false, mp3},
      {"Video/clip.mov", "video/quicktime", "object.item.videoItem", true, true, false, true},
      {"Photos/pic.ico", "image/x-icon", "object.item.imageItem.photo", true, false, false, false},
      {"Misc/blob.bin", "application/x-unknown", "object.item", false, false, false, false},
      {"Lists/mix.m3u", "audio/x-mpegurl", "object.container.playlistContainer", false, false, false, false},
      {"Rec/show.dtcp", "application/x-dtcp1", "object.item.videoItem", true, true, false, true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.mime);
    props pr;
    ASSERT_EQ(tarvo_tag_get_properties(make(d, c.file, c.data).c_str(), c.mime, pr.n(), pr.v()), 1);
    EXPECT_EQ(pr.get("upnp:class"), c.cls);
    EXPECT_EQ(pr.get("res@protocolInfo"), std::string("http-get:*:") + c.mime + ":" + kFlags);
    std::string folder = std::string(c.file).substr(0, std::string(c.file).find('/'));
    EXPECT_EQ(pr.get("upnp:album"), c.album ? folder : "<none>");
    EXPECT_EQ(pr.get("upnp:genre"), c.genre ? "Unknown" : "<none>");
    EXPECT_EQ(pr.get("dc:creator"), c.creator ? "Unknown" : "<none>");
    EXPECT_EQ(pr.get("upnp:artist"), c.creator ? "Unknown" : "<none>");
    EXPECT_EQ(pr.get("upnp:actor"), c.actor ? "Unknown" : "<none>");
  }
}

TEST(TagClass, FromMimeWithoutCase)
{
  EXPECT_STREQ(tag_class_from_mime("AUDIO/X-MPEGURL"), "object.container.playlistContainer");
  EXPECT_STREQ(tag_class_from_mime("Audio/L16;rate=44100"), "object.item.audioItem.musicTrack");
  EXPECT_STREQ(tag_class_from_mime("text/html"), "object.item.textItem");
  EXPECT_STREQ(tag_class_from_mime("application/ogg"), "object.item.audioItem.musicTrack");
  EXPECT_STREQ(tag_class_from_mime("audiox/mpeg"), "object.item");
  EXPECT_TRUE(tag_mp4_match("audio/3GPP") && tag_mp4_match("video/mp4") && !tag_mp4_match("image/mp4"));
}

TEST_F(TagItem, TitlesComeFromTheFileName)
{
  props pr;
  for (const char *name : {"a.b.c.mp3", "noext", ".mp3", "Tom & Jerry <1>.mp3"}) {
    tag_title_from_path((d / name).c_str(), 0, pr.n(), pr.v());
    tag_title_from_path(name, 1, pr.n(), pr.v());
  }
  std::vector<std::pair<std::string, std::string>> want;
  for (const char *t : {"a.b.c", "a.b.c.mp3", "noext", "noext", "", ".mp3", "Tom & Jerry <1>", "Tom & Jerry <1>.mp3"})
    want.emplace_back("dc:title", t);
  EXPECT_EQ(pr.all(), want);
  // Markup is escaped.
  EXPECT_NE(item(make(d, "x/Tom & Jerry <1>.mp3"), "audio/mpeg").find("<dc:title>Tom &amp; Jerry &lt;1&gt;</dc:title>"),
            std::string::npos);
}

TEST(TagAlbum, IsTheFolderHoldingTheFile)
{
  props pr;
  for (const char *p : {"/song.mp3", "song.mp3", "/Music/song.mp3", "rel/Disc 1/x.mp3", "/a//b.mp3", "/x/ /y.mp3"})
    tag_album_from_path(p, pr.n(), pr.v());
  std::vector<std::pair<std::string, std::string>> want = {{"upnp:album", "Music"}, {"upnp:album", "Disc 1"}};
  EXPECT_EQ(pr.all(), want);
}

TEST(TagDate, LocalCalendarTimeZeroPadded)
{
  props pr;
  setenv("TZ", "UTC", 1);
  tag_date_property_add(kWhen, pr.n(), pr.v());
  setenv("TZ", "JST-9", 1);
  tag_date_property_add(kWhen, pr.n(), pr.v());
  setenv("TZ", "UTC", 1);
  tag_date_property_add(-11644473600 + 90061, pr.n(), pr.v());  // 1601-01-02T01:01:01
  // A time the calendar cannot show gives no date, not a failure.
  EXPECT_EQ(tag_date_property_add(INT64_MAX, pr.n(), pr.v()), 1);
  std::vector<std::pair<std::string, std::string>> want = {
      {"dc:date", "2009-05-03T12:34:56"}, {"dc:date", "2009-05-03T21:34:56"}, {"dc:date", "1601-01-02T01:01:01"}};
  EXPECT_EQ(pr.all(), want);
}

TEST_F(TagItem, SizesBeyondFourGiB)
{
  std::string p = make(d, "big/huge.mpg", "");
  ASSERT_EQ(truncate(p.c_str(), (5ll << 30) + 3), 0);
  props pr;
  ASSERT_EQ(tarvo_tag_get_properties(p.c_str(), "video/mpeg", pr.n(), pr.v()), 1);
  EXPECT_EQ(pr.get("res@size"), "5368709123");
}

TEST_F(TagItem, NamesTheTextCannotCarryShowEachBadByteAsAReplacement)
{
  // Control bytes or bad UTF-8 in the file name: each such byte is U+FFFD.
  const char *const kBad = "\xEF\xBF\xBD";
  const std::pair<const char *, std::string> names[] = {{"tab\there.mp3", std::string("tab") + kBad + "here"},
                                                        {"bad\xff.mp3", std::string("bad") + kBad},
                                                        {"cut\xe3\x81.mp3", std::string("cut") + kBad + kBad}};
  for (const auto &[name, title] : names) {
    std::string p = make(d, std::string("M/") + name);
    props pr;
    EXPECT_EQ(tarvo_tag_get_properties(p.c_str(), "audio/mpeg", pr.n(), pr.v()), 1) << name;
    EXPECT_EQ(pr.get("dc:title"), title);
    EXPECT_NE(item(p, "audio/mpeg").find("<dc:title>" + title + "</dc:title>"), std::string::npos);
  }
  // The folder name gives the album the same way.
  props pr;
  ASSERT_EQ(tarvo_tag_get_properties(make(d, "dir\xe9/pic.ico").c_str(), "image/x-icon", pr.n(), pr.v()), 1);
  EXPECT_EQ(pr.get("upnp:album"), std::string("dir") + kBad);
  EXPECT_EQ(pr.get("dc:title"), "pic");
}

TEST_F(TagItem, OnlyRegularFilesAreRead)
{
  std::string fifo = d / "pipe.mp3";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::filesystem::create_directories(d / "folder.mp3");
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(item(fifo, "audio/mpeg"), "<failed>");
  EXPECT_EQ(item(d / "folder.mp3", "audio/mpeg"), "<failed>");
  // Neither blocks nor is tried again: less than one retry's pause.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(TAG_OPEN_RETRY_PAUSE_MS));
}
