// Clusters and date clusters.
#include "helper_didl.h"

#include <gtest/gtest.h>
#include <tarvo_avcp/avcp_didl_cluster.h>

#include <cstdlib>
#include <ctime>
#include <string>

using namespace didl_test;

namespace {

// "key:id id|key:id ..." in result order; "-" for no key.
template <class R> std::string show(R **r)
{
  std::string s;
  for (; *r; r++) {
    if constexpr (std::is_same_v<R, avcp_didl_cluster_result>)
      s += (s.empty() ? "" : "|") + std::string((*r)->key ? (*r)->key : "-") + ":";
    else
      s += (s.empty() ? "" : "|") + std::to_string((*r)->key) + ":";
    for (avcp_didl_object **o = (*r)->objects; *o; o++) s += (o == (*r)->objects ? "" : " ") + attr_of(*o, "id");
  }
  return s;
}

template <class R> uint32_t count(R **r)
{
  uint32_t n = 0;
  while (r[n]) n++;
  return n;
}

// Groups every object of p; sort: 0 none, 1 ascending, -1 descending.
std::string cluster(const char *key, const parsed &p, int exact = 1, int sort = 0)
{
  avcp_didl_cluster *c = nullptr;
  if (!avcp_didl_cluster_init(&c, key)) return "<init failed>";
  for (size_t i = 0; i < p.size(); i++) EXPECT_EQ(avcp_didl_cluster_add2(&c, p[i], exact), 1);
  avcp_didl_cluster_result **r = nullptr;
  EXPECT_EQ(avcp_didl_cluster_final(&c, &r), 1);
  if (sort) avcp_didl_cluster_result_sort(r, count(r), sort > 0);
  std::string s = show(r);
  avcp_didl_cluster_result_list_free(r);
  avcp_didl_cluster_free(&c);
  return s;
}

std::string date_cluster(int part, int prefer, const parsed &p, int sort = 0)
{
  avcp_didl_date_cluster *c = nullptr;
  if (!avcp_didl_date_cluster_init(&c, part, prefer)) return "<init failed>";
  for (size_t i = 0; i < p.size(); i++) EXPECT_EQ(avcp_didl_date_cluster_add(&c, p[i]), 1);
  avcp_didl_date_cluster_result **r = nullptr;
  EXPECT_EQ(avcp_didl_date_cluster_final(&c, &r), 1);
  if (sort) avcp_didl_date_cluster_result_sort(r, count(r), sort > 0);
  std::string s = show(r);
  avcp_didl_date_cluster_result_list_free(r);
  avcp_didl_date_cluster_free(&c);
  return s;
}

std::string dated(const std::string &id, const std::string &date, const std::string &scheduled = "")
{
  return item(id, (scheduled.empty() ? "" : "<upnp:scheduledStartTime>" + scheduled + "</upnp:scheduledStartTime>") +
                      (date.empty() ? "" : "<dc:date>" + date + "</dc:date>"));
}

}  // namespace

TEST(DidlCluster, Keys)
{
  parsed none(doc(""));
  for (const char *good : {"upnp:album", "@id", "res@size", "item@id"})
    EXPECT_EQ(cluster(good, none), "") << good;
  for (const char *bad : {"item", "container", "nosuch", "", "@nosuch", "dc:title@nosuch"}) {
    avcp_didl_cluster *c = nullptr;
    EXPECT_EQ(avcp_didl_cluster_init(&c, bad), 0) << bad;
    EXPECT_EQ(c, nullptr);
  }
}

TEST(DidlCluster, ByValue)
{
  parsed p(doc(item("1", "<upnp:album>A</upnp:album>") + item("2", "<upnp:album>a</upnp:album>") + item("3", "") +
               item("4", "<upnp:album>A</upnp:album>") + item("5", "<upnp:album>B</upnp:album><upnp:album>A</upnp:album>") +
               item("6", "<upnp:album>C</upnp:album><upnp:album>C</upnp:album>")));
  EXPECT_EQ(cluster("upnp:album", p), "A:1 4 5|a:2|-:3|B:5|C:6 6");
  EXPECT_EQ(cluster("upnp:album", p, 0), "A:1 2 4 5|-:3|B:5|C:6 6");
  EXPECT_EQ(cluster("upnp:album", p, 0, -1), "-:3|C:6 6|B:5|A:1 2 4 5");
  parsed q(doc(item("1", "<res size=\"10\">u</res><res>v</res><res size=\"20\">w</res>") + item("2", "<res>u</res>") +
               "<container id=\"3\" childCount=\"4\"/>" + item("4", "<res size=\"20\">x</res>", " childCount=\"4\"")));
  EXPECT_EQ(cluster("res@size", q), "10:1|20:1 4|-:2 3");
  // The object's own element is not checked against the key's.
  EXPECT_EQ(cluster("item@childCount", q), "-:1 2|4:3 4");
}

TEST(DidlDateCluster, Parts)
{
  parsed p(doc(dated("1", "2007-03-15T10:00:00") + dated("2", "2007-00-15") + dated("3", "March 2007") +
               dated("4", "2008-03-01") + dated("5", "") + dated("6", "2007-3-5+09:00") +
               dated("7", "99999999999-01-01") + dated("8", "0-01-01")));
  EXPECT_EQ(date_cluster(AVCP_DIDL_DATE_YEAR, 0, p), "2007:1 2 6|-1:3 5 7 8|2008:4");
  EXPECT_EQ(date_cluster(AVCP_DIDL_DATE_MONTH, 0, p), "3:1 4 6|-1:2 3 5 7|1:8");
  EXPECT_EQ(date_cluster(AVCP_DIDL_DATE_DAY, 0, p), "15:1 2|-1:3 5 7|1:4 8|5:6");
  EXPECT_EQ(date_cluster(9, 0, p), "-1:1 2 3 4 5 6 7 8");
  EXPECT_EQ(date_cluster(AVCP_DIDL_DATE_MONTH, 0, p, -1), "-1:2 3 5 7|3:1 4 6|1:8");
  EXPECT_EQ(date_cluster(0, 0, p), "<init failed>");
  parsed q(doc(dated("1", "2001-05-01", "2009-07-01") + dated("2", "2001-05-01") + dated("3", "", "2009-08-01")));
  EXPECT_EQ(date_cluster(AVCP_DIDL_DATE_MONTH, 1, q), "7:1|5:2|8:3");
  EXPECT_EQ(date_cluster(AVCP_DIDL_DATE_MONTH, 0, q), "5:1 2|-1:3");
}

TEST(DidlDateCluster, WeekdayInAnyZone)
{
  for (const char *tz : {"UTC", "Asia/Tokyo", "America/Los_Angeles"}) {
    setenv("TZ", tz, 1);
    tzset();
    parsed p(doc(dated("sun", "2007-03-11") + dated("thu", "2007-03-15T23:59:59") + dated("sat", "2000-01-01") +
                 dated("none", "x") + dated("bad", "2007-02-30")));
    EXPECT_EQ(date_cluster(AVCP_DIDL_DATE_WEEKDAY, 0, p), "0:sun|4:thu|6:sat|-1:none bad") << tz;
  }
  unsetenv("TZ");
  tzset();
}
