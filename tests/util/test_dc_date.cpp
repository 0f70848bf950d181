// dc:date normalisation on a machine nine hours east of UTC.
#include <tarvo_util/dlna.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace {

// Set before any test runs, so every conversion sees the same zone.
const int zone_set = [] {
  setenv("TZ", "JST-9", 1);
  tzset();
  return 0;
}();

std::string norm(const char *in)
{
  char out[DC_DATE_SIZE] = "untouched";
  if (!dc_date_normalize(in, out)) return "FAIL";
  EXPECT_EQ(std::string(out).size(), 23u);
  return out;
}

TEST(DcDate, WithoutAZoneFieldsAreWrittenAsTheyAre)
{
  EXPECT_EQ(norm("2008-05-01"), "2008-05-01T00:00:00.000");
  EXPECT_EQ(norm("2008-05-01T12:34:56"), "2008-05-01T12:34:56.000");
  EXPECT_EQ(norm("2008-05-01T12:34:56.789"), "2008-05-01T12:34:56.789");
  EXPECT_EQ(norm("2008-13-01"), "2008-13-01T00:00:00.000");
}

TEST(DcDate, TheMachinesOwnZoneKeepsTheFields)
{
  EXPECT_EQ(norm("2008-05-01T12:00:00+09:00"), "2008-05-01T12:00:00.000");
  EXPECT_EQ(norm("2008-13-01T00:00:00+09:00"), "2008-13-01T00:00:00.000");
}

TEST(DcDate, OtherZonesAreConvertedToLocalTime)
{
  EXPECT_EQ(norm("2008-05-01T03:00:00Z"), "2008-05-01T12:00:00.000");
  EXPECT_EQ(norm("2008-05-01T03:00:00.123-05:30"), "2008-05-01T17:30:00.123");
  EXPECT_EQ(norm("2008-12-31T20:00:00Z"), "2009-01-01T05:00:00.000");
  EXPECT_EQ(norm("2008-05-01T12:00:00+00:00"), "2008-05-01T21:00:00.000");
  // Instants before 1970 are taken as the epoch.
  EXPECT_EQ(norm("1960-01-01T00:00:00Z"), "1970-01-01T09:00:00.000");
}

TEST(DcDate, MalformedOrImpossibleDatesFail)
{
  for (const char *bad : {"", "2008-5-01", "08-05-01", "2008-05-01T12:00", "2008-05-01T12:00:00.12",
                          "2008-05-01T12:00:00x", "2008-05-01Z", "2008-05-01T12:00:00+0900", "2008-05-01 ",
                          "2008-02-30T00:00:00Z", "9999-12-31T23:00:00-12:00"})
    EXPECT_EQ(norm(bad), "FAIL") << bad;
  char out[DC_DATE_SIZE];
  EXPECT_EQ(dc_date_normalize("2008-05-01", nullptr), 0);
  EXPECT_EQ(dc_date_normalize(nullptr, out), 0);
}

}  // namespace
