// ID3 tags built from bytes: which value wins, text encodings, ID3v2.4
// frame sizes, comments, genres, and frames passed unread.
#include <gtest/gtest.h>
#include <tarvo_test.h>
#include <tarvo_util/charset.h>

#include <fcntl.h>
#include <unistd.h>

#include "mp3_test.h"
#include "tag_test.h"

using namespace mp3_test;
using tag_test::props;

namespace {

// The properties of a file made of the bytes and a short stream, as the
// reader gives them (nothing when it fails).
std::vector<std::pair<std::string, std::string>> tags_of(const std::string &head, const std::string &tail = "")
{
  tarvo_test::scratch_dir d;
  std::string path = d / "t.mp3";
  tarvo_test::write_file(path, head + frames(kind{}, 10) + tail);
  int fd = open(path.c_str(), O_RDONLY);
  sys_file_stat_rec st;
  sys_file_fstat(fd, &st);
  props p;
  if (tag_mp3_read(fd, &st, 0, "audio/mpeg", p.n(), p.v())) {
    close(fd);
    auto all = p.all();
    std::erase_if(all, [](auto &e) { return e.first.starts_with("res@"); });
    return all;
  }
  close(fd);
  return {};
}

std::string value(const std::vector<std::pair<std::string, std::string>> &all, const std::string &name)
{
  for (auto &[n, v] : all)
    if (n == name) return v;
  return "<none>";
}

std::string utf16le(const std::u16string &s)
{
  std::string b;
  for (char16_t c : s) b += {char(c & 0xFF), char(c >> 8)};
  return b;
}

std::string decode(const std::string &bytes, int order)
{
  char *out = nullptr;
  if (!tag_utf16_decode(reinterpret_cast<const unsigned char *>(bytes.data()), uint32_t(bytes.size()), order, &out))
    return "<failed>";
  std::string r = out;
  sys_alloc_free(out);
  return r;
}

std::string genre(const char *text)
{
  char *out = nullptr;
  if (!id3_genre_resolve(text, &out)) return "<failed>";
  std::string r = out;
  sys_alloc_free(out);
  return r;
}

}  // namespace

TEST(Id3, FirstValueWinsAndArtistIsCreatorToo)
{
  std::string v2 = id3v2(3, frame(3, "TIT2", text("Two")) + frame(3, "TIT2", text("Second")) +
                                frame(3, "TPE1", text("Band")) + frame(3, "TRCK", text("07/12")));
  auto all = tags_of(v2, id3v1("One", 17));
  std::vector<std::pair<std::string, std::string>> want = {{"dc:title", "Two"},     {"dc:creator", "Band"},
                                                           {"upnp:artist", "Band"}, {"upnp:genre", "Rock"},
                                                           {"upnp:originalTrackNumber", "7"}};
  EXPECT_EQ(all, want);
  // ID3v1 alone; a genre byte past the table gives none.
  auto v1 = tags_of("", id3v1("One", 148, 3));
  EXPECT_EQ(value(v1, "dc:title"), "One");
  EXPECT_EQ(value(v1, "upnp:genre"), "<none>");
  EXPECT_EQ(value(v1, "upnp:originalTrackNumber"), "3");
  // A flag the reader cannot follow drops every tag, ID3v1 included.
  EXPECT_TRUE(tags_of(id3v2(3, frame(3, "TIT2", text("X")), 0x80), id3v1("One", 17)).size() == 0);
  EXPECT_EQ(value(tags_of(id3v2(2, frame(2, "TT2", text("Old")))), "dc:title"), "Old");
  // Extended headers: ID3v2.3 counts the bytes after its size, ID3v2.4 the
  // whole header (here 6 bytes: size, one flag byte, no flags).
  std::string ext23 = be32(6) + std::string(6, '\0'), ext24 = syncsafe(6) + std::string("\1\0", 2);
  EXPECT_EQ(value(tags_of(id3v2(3, ext23 + frame(3, "TIT2", text("Ext3")), 0x40)), "dc:title"), "Ext3");
  EXPECT_EQ(value(tags_of(id3v2(4, ext24 + frame(4, "TIT2", text("Ext4")), 0x40)), "dc:title"), "Ext4");
}

// ffmpeg writes ID3v2.4 with syncsafe frame sizes: read as plain numbers,
// a frame of 128 bytes or more hid every frame after it.  Old writers put
// plain sizes there, which still read.
TEST(Id3, Id3v24FrameSizesAreSyncsafeWithPlainFallback)
{
  std::string long_title(299, 'a');  // a size of 300: 0x12C, or 172 read syncsafe
  for (bool plain : {false, true}) {
    SCOPED_TRACE(plain ? "plain" : "syncsafe");
    std::string tag = frame(4, "TIT2", text(long_title), plain) + frame(4, "TPE1", text("After"), plain) +
                      frame(4, "TALB", '\3' + std::string("Über"), plain);
    auto all = tags_of(id3v2(4, tag + std::string(40, '\0')));
    EXPECT_EQ(value(all, "dc:title"), long_title);
    EXPECT_EQ(value(all, "upnp:artist"), "After");
    EXPECT_EQ(value(all, "upnp:album"), "Über");
  }
}

// A UTF-16 comment's empty description ends with a zero unit: skipping a
// single byte read lame's comments as garbage.
TEST(Id3, CommentDescriptionEndsByEncoding)
{
  std::string bom = "\xff\xfe";
  std::string utf16 = frame(3, "COMM", "\1eng" + std::string(2, '\0') + bom + utf16le(u"lame comment"));
  EXPECT_EQ(value(tags_of(id3v2(3, utf16)), "dc:description"), "lame comment");
  std::string described = frame(3, "COMM", "\1eng" + bom + utf16le(u"d") + std::string(2, '\0') + bom + utf16le(u"text"));
  EXPECT_EQ(value(tags_of(id3v2(3, described)), "dc:description"), "text");
  std::string latin = frame(4, "COMM", std::string("\0eng", 4) + "desc" + '\0' + "plain");
  EXPECT_EQ(value(tags_of(id3v2(4, latin)), "dc:description"), "plain");
  std::string be = frame(4, "COMM", std::string("\2eng\0\0\0h\0i", 10));
  EXPECT_EQ(value(tags_of(id3v2(4, be)), "dc:description"), "hi");
}

// A title holding an emoji was dropped by the legality filter when each
// half of its surrogate pair became a character of its own.
TEST(Id3, Utf16PairsCombineAndLoneSurrogatesDrop)
{
  std::string title = "\xff\xfe" + utf16le(u"Song \U0001F3B5");
  EXPECT_EQ(value(tags_of(id3v2(3, frame(3, "TIT2", '\1' + title))), "dc:title"), "Song \xf0\x9f\x8e\xb5");

  EXPECT_EQ(decode("\xfe\xff" + std::string("\0A\xd8\x3c\xdf\xb5", 6), UTF8_ORDER_LITTLE), "A\xf0\x9f\x8e\xb5");
  EXPECT_EQ(decode(utf16le(u"a") + "\x3c\xd8" + utf16le(u"b") + "\xb5\xdf", UTF8_ORDER_LITTLE), "ab");
  EXPECT_EQ(decode(std::string("\0x\0y", 4), UTF8_ORDER_BIG), "xy");
  // The length bounds the text, whatever follows it.
  std::string unterminated = utf16le(u"abc") + "\x3c";
  EXPECT_EQ(decode(unterminated, UTF8_ORDER_LITTLE), "abc");
  EXPECT_EQ(decode(utf16le(u"ab") + std::string(2, '\0') + utf16le(u"cd"), UTF8_ORDER_LITTLE), "ab");
}

TEST(Id3, GenreReferences)
{
  const std::pair<const char *, const char *> cases[] = {
      {"(17)", "Rock"},      {"(17)Rock", "Rock"}, {"((Live", "(Live"},  {"(RX)", "Remix"},  {"(CR)", "Cover"},
      {"(200)", ""},         {"Pop", "Pop"},       {"Rock(17)", "Rock"}, {"(RX", "<failed>"}, {"(CX)", "<failed>"},
      {"(1x", "(x"},         {"(", ""},            {"(147)", "Synthpop"},
  };
  for (auto [text, want] : cases) EXPECT_EQ(genre(text), want) << text;
  EXPECT_EQ(value(tags_of(id3v2(3, frame(3, "TCON", text("(67)")))), "upnp:genre"), "Psychadelic");
}

// Pictures and other frames the reader does not keep are passed by
// seeking, and a frame body over the cap is not read at all.
TEST(Id3, FramesNotKeptArePassedUnread)
{
  std::string picture = frame(3, "APIC", std::string(3 << 20, 'p'));
  std::string huge_comment = frame(3, "COMM", std::string("\0eng\0", 5) + std::string(2 << 20, 'c'));
  tarvo_test::scratch_dir d;
  std::string path = d / "art.mp3";
  std::string tag = id3v2(3, picture + huge_comment + frame(3, "TIT2", text("After art")));
  tarvo_test::write_file(path, tag + frames(kind{}, 10));
  props p;
  uint64_t before = bytes_read();
  ASSERT_EQ(tarvo_tag_get_properties(path.c_str(), "audio/mpeg", p.n(), p.v()), 1);
  EXPECT_LT(bytes_read() - before, 64u * 1024);
  EXPECT_EQ(p.get("dc:title"), "After art");
  EXPECT_EQ(p.get("dc:description"), "<none>");
}
