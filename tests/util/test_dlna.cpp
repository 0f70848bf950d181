// Comma lists, DLNA flags, MIME types, npt values and protocolInfo.
#include <tarvo_util/dlna.h>

#include <gtest/gtest.h>

#include "tarvo_test.h"

#include <filesystem>
#include <string>
#include <vector>

namespace {

using strings = std::vector<std::string>;

strings split(const char *s)
{
  sys_str_list l = nullptr;
  EXPECT_TRUE(csv_split(s, &l)) << s;
  strings v;
  for (char **p = l; p && *p; p++) v.push_back(*p);
  sys_str_list_free(l);
  return v;
}

TEST(Csv, SplitHonoursEscapesAndKeepsEmptyFields)
{
  EXPECT_EQ(split("a\\,b,c"), (strings{"a,b", "c"}));
  EXPECT_EQ(split(""), (strings{""}));
  EXPECT_EQ(split("x,"), (strings{"x", ""}));
  EXPECT_EQ(split("a\\\\,b\\"), (strings{"a\\", "b"}));
  EXPECT_EQ(split("a,\\"), (strings{"a", ""}));
  sys_str_list l = nullptr;
  EXPECT_EQ(csv_split(nullptr, &l), 0);
}

TEST(Csv, ConcatenateRoundTripsThroughSplit)
{
  const char *in[] = {"a,b", "c", "", "d\\e", "\\,", nullptr};
  char *out = nullptr;
  ASSERT_TRUE(csv_concatenate(const_cast<char **>(in), &out));
  EXPECT_STREQ(out, "a\\,b,c,,d\\\\e,\\\\\\,");
  EXPECT_EQ(split(out), (strings{"a,b", "c", "", "d\\e", "\\,"}));
  sys_alloc_free(out);
  ASSERT_TRUE(csv_concatenate(nullptr, &out));
  EXPECT_STREQ(out, "");
  sys_alloc_free(out);
}

TEST(Csv, LastAndRemoveLast)
{
  char s[] = "a,b,c";
  EXPECT_STREQ(csv_last(s), "c");
  csv_remove_last(s);
  EXPECT_STREQ(s, "a,b");
  char one[] = "abc";
  EXPECT_EQ(csv_last(one), one);
  csv_remove_last(one);
  EXPECT_STREQ(one, "");
  EXPECT_EQ(csv_last(""), nullptr);
  csv_remove_last(nullptr);
}

TEST(FlagsParam, PrimaryBits)
{
  char p[FLAGS_PARAM_SIZE];
  flags_param_init(p);
  ASSERT_TRUE(flags_param_set_primary_flag(p, 20));
  EXPECT_EQ(std::string(p), "00100000" + std::string(24, '0'));
  ASSERT_TRUE(flags_param_set_primary_flag(p, 31));
  ASSERT_TRUE(flags_param_set_primary_flag(p, 0));
  EXPECT_EQ(std::string(p, 8), "80100001");
  EXPECT_EQ(flags_param_get_primary_flag(p, 20), 1);
  EXPECT_EQ(flags_param_get_primary_flag(p, 21), 0);
}

TEST(FlagsParam, BadValuesAndBitsChangeNothing)
{
  char p[FLAGS_PARAM_SIZE] = "01F00000000000000000000000000000";
  ASSERT_TRUE(flags_param_set_primary_flag(p, 1));
  EXPECT_EQ(std::string(p, 9), "01f000020");
  for (int bit : {-1, 32}) {
    EXPECT_EQ(flags_param_set_primary_flag(p, bit), 0);
    EXPECT_EQ(flags_param_get_primary_flag(p, bit), 0);
  }
  EXPECT_EQ(std::string(p, 9), "01f000020");
  char bad[] = "0010000g";
  EXPECT_EQ(flags_param_set_primary_flag(bad, 0), 0);
  EXPECT_EQ(flags_param_get_primary_flag(bad, 20), 0);
  EXPECT_STREQ(bad, "0010000g");
}

TEST(Mimetype, StaticTableAndComparisons)
{
  EXPECT_STREQ(mimetype_from_path_static("/v/CLIP.MPG"), "video/mpeg");
  EXPECT_STREQ(mimetype_from_path_static("rec.dvr-ms"), "video/x-ms-dvr");
  EXPECT_STREQ(mimetype_from_path_static("/music/noext"), "application/octet-stream");
  EXPECT_STREQ(mimetype_from_path_static("a.mp3x"), "application/octet-stream");
  EXPECT_STREQ(mimetype_from_path_static("/a.mp3/file"), "application/octet-stream");
  EXPECT_EQ(mimetype_major_equal("Video/mpeg", "video"), 1);
  EXPECT_EQ(mimetype_major_equal("videos/x", "video"), 0);
  EXPECT_EQ(mimetype_sub_equal("audio/L16;rate=44100", "l16"), 1);
  EXPECT_EQ(mimetype_sub_equal("audio/mpegurl", "mpeg"), 0);
  EXPECT_EQ(mimetype_sub_equal("mpeg", "mpeg"), 0);
}

TEST(Mimetype, FromTheFileTypeFolder)
{
  tarvo_test::scratch_dir d;
  std::filesystem::create_directories(d.path / "folder");
  std::filesystem::create_directories(d.path / "dir");
  tarvo_test::write_file(d / "mp3", "audio/mpeg\r\nsecond line\n");
  tarvo_test::write_file(d / "mkv", "video/x-matroska");
  tarvo_test::write_file(d / "empty", "\r\n");
  tarvo_test::write_file(d / "long", std::string(2000, 'x'));
  tarvo_test::write_file(d / "folder/secret", "text/secret\n");
  auto type = [&](const char *path) {
    char *t = nullptr;
    if (!mimetype_from_path(d.path.c_str(), path, &t)) return std::string("FAIL");
    std::string r = t;
    sys_alloc_free(t);
    return r;
  };
  EXPECT_EQ(type("/music/Song.MP3"), "audio/mpeg");
  EXPECT_EQ(type("/v/a.b.mkv"), "video/x-matroska");
  for (const char *bad : {"/music/noext", "/x.empty", "/x.dir", "/x.none", "/x.long", "/x."})
    EXPECT_EQ(type(bad), "FAIL") << bad;
  // A '.' in a folder name must not lead into a folder below the type
  // folder.
  EXPECT_EQ(type("/media/my.folder/secret"), "FAIL");
}

TEST(Npt, SecondsAndHoursMinutesSeconds)
{
  int64_t ms = -1;
  EXPECT_EQ(npt_scan_sec("12.5", &ms), 4u);
  EXPECT_EQ(ms, 12500);
  EXPECT_EQ(npt_scan_sec("0.125 -", &ms), 5u);
  EXPECT_EQ(ms, 125);
  EXPECT_EQ(npt_scan_hhmmss("1:02:03.25", &ms), 10u);
  EXPECT_EQ(ms, 3723250);
  EXPECT_EQ(npt_scan_hhmmss("0 : 01: 00.250-", &ms), 14u);
  EXPECT_EQ(ms, 60250);
  ms = -1;
  for (const char *bad : {"", "x", "1:02:03", "1 :02", "5.", "5.1234", "99999999999999999999"})
    EXPECT_EQ(npt_scan_sec(bad, &ms), 0u) << bad;
  for (const char *bad : {"1:02", ":02:03", "1:02 :03", "1:02:03.", "1:02:03.1234", "9999999999999999:00:00"})
    EXPECT_EQ(npt_scan_hhmmss(bad, &ms), 0u) << bad;
  EXPECT_EQ(ms, -1);
}

TEST(ProtocolInfo, ExactlyFourFields)
{
  protocol_info_rec r{};
  ASSERT_TRUE(protocol_info_parse(&r, "http-get:*:video/mpeg:DLNA.ORG_PN=MPEG_PS_NTSC"));
  EXPECT_STREQ(r.protocol, "http-get");
  EXPECT_STREQ(r.network, "*");
  EXPECT_STREQ(r.content_format, "video/mpeg");
  EXPECT_STREQ(r.additional_info, "DLNA.ORG_PN=MPEG_PS_NTSC");
  protocol_info_free(&r);
  ASSERT_TRUE(protocol_info_parse(&r, ":::"));
  EXPECT_STREQ(r.additional_info, "");
  protocol_info_free(&r);

  protocol_info_rec untouched{};
  for (const char *bad : {"", "a:b:c", "a:b:c:d:e"}) EXPECT_EQ(protocol_info_parse(&untouched, bad), 0) << bad;
  EXPECT_EQ(untouched.protocol, nullptr);
}

}  // namespace
