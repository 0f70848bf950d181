// Sort criteria and ordering objects by them.
#include "helper_didl.h"

#include <gtest/gtest.h>
#include <tarvo_avcp/avcp_didl_criteria.h>

#include <random>
#include <string>
#include <vector>

using namespace didl_test;

namespace {

// Ids of the objects in the order the criteria give, or "<parse failed>".
std::string sorted_ids(const char *criteria, const parsed &p)
{
  avcp_didl_sort_criteria *c = nullptr;
  if (!avcp_didl_sort_criteria_parse(&c, criteria)) return "<parse failed>";
  std::vector<avcp_didl_object *> v(p.list, p.list + p.size());
  avcp_didl_sort(&c, v.data(), uint32_t(v.size()));
  avcp_didl_sort_criteria_free(&c);
  std::string ids;
  for (auto *o : v) ids += (ids.empty() ? "" : ",") + attr_of(o, "id");
  return ids;
}

std::string track(const std::string &id, const std::string &n)
{
  return item(id, n.empty() ? "" : "<upnp:originalTrackNumber>" + n + "</upnp:originalTrackNumber>");
}

}  // namespace

TEST(DidlSortParse, KeysAndErrors)
{
  avcp_didl_sort_criteria *c = nullptr;
  ASSERT_EQ(avcp_didl_sort_criteria_parse(&c, "+dc:title,-res@size,-nosuch,+"), 1);
  ASSERT_EQ(c->keys.len, 4u);
  auto key = [&](uint32_t i) { return static_cast<const avcp_didl_sort_key *>(c->keys.buf[i]); };
  EXPECT_TRUE(key(0)->ascending && key(0)->element == AVCP_DIDL_NAME(EL_DC_TITLE));
  EXPECT_TRUE(!key(1)->ascending && key(1)->attribute == AVCP_DIDL_NAME(AT_SIZE));
  EXPECT_EQ(key(1)->type, AVCP_DIDL_TYPE_UINT64);
  EXPECT_TRUE(!key(2)->element && !key(2)->attribute && key(2)->type == AVCP_DIDL_TYPE_UNKNOWN);
  avcp_didl_sort_criteria_free(&c);
  for (const char *bad : {"dc:title", " +dc:title", "+dc:title,", "+dc:title,dc:date", "*"}) {
    EXPECT_EQ(avcp_didl_sort_criteria_parse(&c, bad), 0) << bad;
    EXPECT_EQ(c, nullptr) << bad;
  }
}

TEST(DidlSort, KeysInTurn)
{
  parsed p(doc(item("1", "<dc:title>b</dc:title><dc:date>2001-01-01</dc:date>") +
               item("2", "<dc:title>A</dc:title><dc:date>2003-01-01</dc:date>") +
               item("3", "<dc:title>B</dc:title><dc:date>2002-01-01</dc:date>") +
               item("4", "<dc:title>a</dc:title><dc:date>2004-01-01</dc:date>") + item("5", "<dc:title>c</dc:title>")));
  EXPECT_EQ(sorted_ids("+dc:title,-dc:date", p), "4,2,3,1,5");
  EXPECT_EQ(sorted_ids("-dc:title,+dc:date", p), "5,1,3,2,4");
  EXPECT_EQ(sorted_ids("+nosuch,-@id", p), "5,4,3,2,1");
}

TEST(DidlSort, MissingValuesGoLastAscendingFirstDescending)
{
  parsed p(doc(track("a", "10") + track("b", "") + track("c", "2") + track("d", "x") + track("e", "-3") +
               track("f", "")));
  std::string asc = sorted_ids("+upnp:originalTrackNumber", p), desc = sorted_ids("-upnp:originalTrackNumber", p);
  EXPECT_EQ(asc.substr(0, 8), "e,c,a,d,");
  EXPECT_TRUE(asc.substr(8) == "b,f" || asc.substr(8) == "f,b") << asc;
  EXPECT_TRUE(desc.substr(0, 4) == "b,f," || desc.substr(0, 4) == "f,b,") << desc;
  EXPECT_EQ(desc.substr(4), "d,a,c,e");
}

TEST(DidlSort, EveryKindOfValue)
{
  // Numbers at the ends of their range, where a subtraction would
  // overflow; booleans; object attributes; the first res with the
  // attribute.
  parsed p(doc(item("1",
                    "<res protocolInfo=\"p\">u</res><res size=\"18446744073709551615\" bitrate=\"4294967295\">u</res>"
                    "<upnp:storageUsed>9223372036854775807</upnp:storageUsed>",
                    " childCount=\"2147483647\" restricted=\"yes\"") +
               item("2", "<res size=\"1\" bitrate=\"1\">u</res><upnp:storageUsed>-9223372036854775808</upnp:storageUsed>",
                    " childCount=\"-2147483648\" restricted=\"maybe\"") +
               item("3", "<res size=\"9223372036854775808\" bitrate=\"2147483648\">u</res><upnp:storageUsed>0</upnp:storageUsed>",
                    " childCount=\"0\" restricted=\"false\"") +
               "<container id=\"4\"/>"));
  for (const char *key : {"+@childCount", "+res@size", "+res@bitrate", "+upnp:storageUsed"})
    EXPECT_EQ(sorted_ids(key, p), "2,3,1,4") << key;
  EXPECT_EQ(sorted_ids("-upnp:storageUsed", p), "4,1,3,2");
  EXPECT_EQ(sorted_ids("+@restricted", p), "3,1,2,4");
  EXPECT_EQ(sorted_ids("+container@id,-item@id", p), "4,3,2,1");
}

TEST(DidlSort, ComparatorIsConsistent)
{
  // Random values of every shape, readable or not, present or missing:
  // the comparator must be antisymmetric and transitive, and the sort must
  // leave every neighbour pair in order.
  std::mt19937 rng(7);
  const char *samples[] = {"", "0", "-0", "+5", "-5", "12", "012", "x", "X", "abc", "ABD", "4294967296",
                           "-2147483649", "99999999999999999999", "true", "no", "yes", "1", " 7", "7 "};
  auto pick = [&] { return std::string(samples[rng() % 20]); };
  std::string body;
  for (int i = 0; i < 300; i++) {
    std::string props, attrs = rng() % 4 ? " restricted=\"" + pick() + "\"" : "";
    for (std::string el : {"dc:title", "upnp:originalTrackNumber", "upnp:storageUsed"})
      if (rng() % 4) props += "<" + el + ">" + pick() + "</" + el + ">";
    if (rng() % 4) props += "<res bitrate=\"" + pick() + "\" size=\"" + pick() + "\">u</res>";
    body += item(std::to_string(i), props, attrs);
  }
  parsed p(doc(body));
  ASSERT_EQ(p.size(), 300u);
  for (const char *criteria : {"+dc:title", "-upnp:originalTrackNumber", "+upnp:storageUsed", "-@restricted",
                               "+res@bitrate", "-res@size,-dc:title,+@restricted"}) {
    avcp_didl_sort_criteria *c = nullptr;
    ASSERT_EQ(avcp_didl_sort_criteria_parse(&c, criteria), 1);
    auto cmp = [&](avcp_didl_object *a, avcp_didl_object *b) {
      int r = avcp_didl_sort_compare(&a, &b, c);
      return (r > 0) - (r < 0);
    };
    std::vector<avcp_didl_object *> v(p.list, p.list + 50), all(p.list, p.list + p.size());
    for (auto *a : v)
      for (auto *b : v) {
        ASSERT_EQ(cmp(a, b), -cmp(b, a)) << criteria;
        for (auto *x : v) {
          if (cmp(a, b) <= 0 && cmp(b, x) <= 0) {
            ASSERT_LE(cmp(a, x), 0) << criteria;
          }
        }
      }
    avcp_didl_sort(&c, all.data(), uint32_t(all.size()));
    for (size_t i = 1; i < all.size(); i++) ASSERT_LE(cmp(all[i - 1], all[i]), 0) << criteria << " at " << i;
    avcp_didl_sort_criteria_free(&c);
  }
}
