// Values the media server reads from resources, the time-seek byte
// ranges it announces, and the paths a share may have.
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
  EXPECT_EQ(media_duration_parse("2:3:4", &ms), 1);
  EXPECT_EQ(ms, 7384000u);
  for (const char *bad : {"", "1:2", "a:00:00", "0:01:00.", "2000:00:00"}) {
    EXPECT_EQ(media_duration_parse(bad, &ms), 0) << bad;
    EXPECT_EQ(ms, 0u) << bad;
  }
  EXPECT_EQ(media_duration_parse(nullptr, &ms), 0);
}

TEST(SeekTimes, StartInsideEndAfterItCutToTheDuration)
{
  http_server_npt_rec npt{};
  EXPECT_EQ(media_seek_times(10000, 0, 0, 60000, &npt), uint32_t(MEDIA_SEEK_OK));
  EXPECT_EQ(npt.start_ms, 10000u);
  EXPECT_EQ(npt.end_ms, 60000u);
  EXPECT_EQ(npt.total_ms, 60000u);
  EXPECT_EQ(media_seek_times(10000, 90000, 1, 60000, &npt), uint32_t(MEDIA_SEEK_OK));
  EXPECT_EQ(npt.end_ms, 60000u);
  EXPECT_EQ(media_seek_times(60000, 0, 0, 60000, &npt), uint32_t(MEDIA_SEEK_BAD_RANGE));
  EXPECT_EQ(media_seek_times(2000, 2000, 1, 60000, &npt), uint32_t(MEDIA_SEEK_BAD_RANGE));
  EXPECT_EQ(media_seek_times(0, 0, 0, 0, &npt), uint32_t(MEDIA_SEEK_BAD_RANGE));
}

TEST(L16Range, WholeFramesAndNeverBeyondTheFile)
{
  http_server_npt_rec npt{10000, 60000, 60000};
  http_server_range_rec range{0, 0, 10584000};
  // 10 s at 176400 bytes per second.
  EXPECT_EQ(media_l16_range(176400, 2, &npt, &range), uint32_t(MEDIA_SEEK_OK));
  EXPECT_EQ(range.offset, 1764000u);
  EXPECT_EQ(range.length, 10584000u - 1764000u);

  // Start down and end up to whole frames of 4 bytes (2 channels).
  npt = {1, 3, 60000};
  range = {0, 0, 10584000};
  EXPECT_EQ(media_l16_range(176400, 2, &npt, &range), uint32_t(MEDIA_SEEK_OK));
  EXPECT_EQ(range.offset, 176u);
  EXPECT_EQ(range.length, 532u - 176u);

  // A bit rate that promises more than the file holds: the end is the
  // file's end, a start beyond it is refused.
  npt = {1000, 30000, 60000};
  range = {0, 0, 1000000};
  EXPECT_EQ(media_l16_range(176400, 2, &npt, &range), uint32_t(MEDIA_SEEK_OK));
  EXPECT_EQ(range.offset + range.length, 1000000u);
  npt = {10000, 30000, 60000};
  EXPECT_EQ(media_l16_range(176400, 2, &npt, &range), uint32_t(MEDIA_SEEK_BAD_RANGE));
  EXPECT_EQ(media_l16_range(176400, 0, &npt, &range), uint32_t(MEDIA_SEEK_BAD_RANGE));
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
