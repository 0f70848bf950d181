// The reader contract: what the core does with a reader's properties, and
// the helpers readers add them with.
#include <gtest/gtest.h>
#include <tarvo_test.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "tag_test.h"

using tag_test::props;
using List = std::vector<std::pair<std::string, std::string>>;

namespace {

const char kFlags[] = "DLNA.ORG_OP=01;DLNA.ORG_CI=0;DLNA.ORG_FLAGS=00200000000000000000000000000000";

// Reads the first four bytes as the title, and adds what a careless reader
// might.
int rich_reader(int file, const sys_file_stat_rec *, const char *, sys_ptralloc_rec *n, sys_ptralloc_rec *v)
{
  char head[5] = {};
  if (read(file, head, 4) != 4) return 0;
  return tag_property_add("dc:title", head, n, v) && tag_property_add("dc:description", "tab\there", n, v) &&
         tag_property_add("upnp:class", "object.item.audioItem.audioBook", n, v) &&
         tag_property_add("upnp:artist", "bad\xc0\xafutf8", n, v) && tag_property_add("dc:title", "second", n, v) &&
         tag_protocol_info("audio/x-own", "DLNA.ORG_PN=OWN", n, v) && tag_property_add("res@bitrate", "16000", n, v) &&
         tag_property_add("dc:creator", "Someone", n, v);
}

int failing_reader(int, const sys_file_stat_rec *, const char *, sys_ptralloc_rec *n, sys_ptralloc_rec *v)
{
  tag_property_add("upnp:class", "object.item.audioItem", n, v);
  return 0;
}

struct opened {
  tarvo_test::scratch_dir d;
  std::string path = d / "Album/track.wav";
  int fd = -1;
  sys_file_stat_rec st{};
  opened()
  {
    setenv("TZ", "UTC", 1);
    std::filesystem::create_directories(d.path / "Album");
    tarvo_test::write_file(path, "HEADrest");
    fd = open(path.c_str(), O_RDONLY);
    lseek(fd, 3, SEEK_SET);  // the core rewinds before the reader runs
    sys_file_fstat(fd, &st);
    st.mtime = 0;
  }
  ~opened() { close(fd); }
};

}  // namespace

TEST(TagReader, ReaderValuesComeFirstAndOverrideDefaults)
{
  opened f;
  props p;
  ASSERT_EQ(tag_properties_from_reader(rich_reader, f.path.c_str(), f.fd, &f.st, "audio/wav", p.n(), p.v()), 1);
  List want = {{"dc:title", "HEAD"},
               {"upnp:class", "object.item.audioItem.audioBook"},
               {"dc:title", "second"},
               {"res@protocolInfo", "http-get:*:audio/x-own:DLNA.ORG_PN=OWN"},
               {"res@bitrate", "16000"},
               {"dc:creator", "Someone"},
               {"res@size", "8"},
               {"dc:date", "1970-01-01T00:00:00"},
               {"upnp:album", "Album"},
               {"upnp:genre", "Unknown"},
               {"upnp:artist", "Unknown"}};
  EXPECT_EQ(p.all(), want);
  char *text = nullptr;
  ASSERT_EQ(tag_item_xml(p.n(), p.v(), &text), 1);
  std::string t = text;
  sys_alloc_free(text);
  EXPECT_NE(t.find("<item>\r\n<dc:title>HEAD</dc:title>\r\n<res protocolInfo=\"http-get:*:audio/x-own:DLNA.ORG_PN=OWN\" "
                   "bitrate=\"16000\" size=\"8\"/>\r\n<upnp:class>"),
            std::string::npos)
      << t;
  EXPECT_EQ(t.find("second"), std::string::npos);
}

TEST(TagReader, AFailedReaderLeavesAPlainFile)
{
  opened f;
  props p;
  ASSERT_EQ(tag_properties_from_reader(failing_reader, f.path.c_str(), f.fd, &f.st, "audio/wav", p.n(), p.v()), 1);
  List want = {{"upnp:class", "object.item"},
               {"res@size", "8"},
               {"dc:title", "track"},
               {"dc:date", "1970-01-01T00:00:00"},
               {"res@protocolInfo", std::string("http-get:*:application/octet-stream:") + kFlags}};
  EXPECT_EQ(p.all(), want);
}

TEST(TagReader, ItemTextNeedsATitleAndWritesAnEmptyRes)
{
  props p;
  tag_property_add("upnp:class", "object.item", p.n(), p.v());
  char *text = nullptr;
  EXPECT_EQ(tag_item_xml(p.n(), p.v(), &text), 0);
  tag_title_from_path("x", 0, p.n(), p.v());
  tag_property_add("upnp:genre", "a", p.n(), p.v());
  tag_property_add("upnp:genre", "b", p.n(), p.v());
  tag_property_add("odd@thing", "c", p.n(), p.v());
  ASSERT_EQ(tag_item_xml(p.n(), p.v(), &text), 1);
  std::string t = text;
  sys_alloc_free(text);
  EXPECT_NE(t.find("<item>\r\n<dc:title>x</dc:title>\r\n<res/>\r\n<upnp:class>object.item</upnp:class>\r\n"
                   "<upnp:genre>a</upnp:genre>\r\n<upnp:genre>b</upnp:genre>\r\n</item>\r\n"),
            std::string::npos)
      << t;
}

TEST(TagHelpers, Formats)
{
  props p;
  for (uint32_t ms : {0u, 999u, 61000u, 3600000u, 3723004u, 4294967295u}) tag_duration_format(ms, p.n(), p.v());
  tag_resolution_format(0, 480, p.n(), p.v());
  tag_resolution_format(640, 480, p.n(), p.v());
  tag_uint_property_add("upnp:originalTrackNumber", 4294967295u, p.n(), p.v());
  tag_protocol_info_no_profile("image/png", p.n(), p.v());
  List want = {{"res@duration", "0:00:00"},
               {"res@duration", "0:00:00.999"},
               {"res@duration", "0:01:01"},
               {"res@duration", "1:00:00"},
               {"res@duration", "1:02:03.004"},
               {"res@duration", "1193:02:47.295"},
               {"res@resolution", "640x480"},
               {"upnp:originalTrackNumber", "4294967295"},
               {"res@protocolInfo", std::string("http-get:*:image/png:") + kFlags}};
  EXPECT_EQ(p.all(), want);
}

TEST(TagHelpers, BlankAndForeignText)
{
  props p;
  EXPECT_EQ(tag_property_add("dc:title", " \t\n", p.n(), p.v()), 1);
  tag_property_add("dc:title", nullptr, p.n(), p.v());
  tag_property_add("dc:rights", "\r", p.n(), p.v());
  tag_text_property_add("dc:title", "", p.n(), p.v());
  tag_text_property_add("upnp:album", "plain", p.n(), p.v());
  // Shift-JIS bytes of a Japanese word become UTF-8.
  tag_text_property_add("upnp:artist", "\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x89\xcc", p.n(), p.v());
  List want = {{"dc:rights", "\r"}, {"upnp:album", "plain"}, {"upnp:artist", "日本語の歌"}};
  EXPECT_EQ(p.all(), want);
  EXPECT_STREQ(tarvo_tag_normalize_property("upnp:actor", ""), "Unknown");
  EXPECT_STREQ(tarvo_tag_normalize_property("dc:creator", nullptr), "Unknown");
  EXPECT_EQ(tarvo_tag_normalize_property("upnp:album", nullptr), nullptr);
}
