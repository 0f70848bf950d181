// Values the media server reads from resources, and the paths a share may
// have.
#include <vennard/media_http.h>
#include <vennard/share_scanner.h>

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(MimeParams, FindsNamesAnywhereAndL16NeedsBothAboveZero)
{
  const char *mime = "audio/L16;Rate=44100;channels=2";
  EXPECT_STREQ(mime_param_find(mime, "rate"), "44100;channels=2");
  // The match is made at every position, so a longer name ending in it
  // matches too.
  EXPECT_STREQ(mime_param_find("audio/L16;samplerate=8000", "rate"), "8000");
  EXPECT_EQ(mime_param_find("audio/L16;rate", "rate"), nullptr);

  uint32_t rate = 0, channels = 0;
  EXPECT_EQ(mime_l16_params(mime, &rate, &channels), 1);
  EXPECT_EQ(rate, 44100u);
  EXPECT_EQ(channels, 2u);
  for (const char *bad : {"audio/L16;rate=44100", "audio/L16;rate=44100;channels=x",
                          "audio/L16;rate=44100;channels=0", "audio/L16;rate=0;channels=2",
                          "audio/L16;rate=99999999999;channels=2"})
    EXPECT_EQ(mime_l16_params(bad, &rate, &channels), 0) << bad;
}

TEST(Duration, HoursMinutesSecondsAndAFraction)
{
  uint32_t ms = 7;
  EXPECT_EQ(media_duration_parse("0:01:00.5", &ms), 1);
  EXPECT_EQ(ms, 60500u);
  EXPECT_EQ(media_duration_parse("0:01:00.250", &ms), 1);
  EXPECT_EQ(ms, 60250u);
  EXPECT_EQ(media_duration_parse("1:00:00.1239", &ms), 1);
  EXPECT_EQ(ms, 3600123u);
  for (const char *bad : {"", "1:2", "a:00:00", "0:01:00.", "2000:00:00"}) {
    EXPECT_EQ(media_duration_parse(bad, &ms), 0) << bad;
    EXPECT_EQ(ms, 0u) << bad;
  }
}

TEST(SharePath, OnlyPlainAbsolutePaths)
{
  for (const char *good : {"/", "/srv/music", "/home/a b/Müsik"}) EXPECT_EQ(share_path_check(good), 1) << good;
  for (const char *bad : {"", "srv", "/srv/", "//srv", "/srv/../etc", "/srv/./x", "/..", "/a\nb", "/a\tb",
                          "/\xff"})
    EXPECT_EQ(share_path_check(bad), 0) << bad;
  EXPECT_EQ(share_path_check(("/" + std::string(5000, 'a')).c_str()), 0);
}

}  // namespace
