// Sort criteria and ordering objects by them.
#include "helper_didl.h"

#include <gtest/gtest.h>
#include <tarvo_avcp/avcp_didl_criteria.h>

#include <random>
#include <string>
#include <vector>

using namespace didl_test;

namespace {

struct sorting {
  avcp_didl_sort_criteria *c = nullptr;
  int ok;
  explicit sorting(const char *text) { ok = avcp_didl_sort_criteria_parse(&c, text); }
  ~sorting() { avcp_didl_sort_criteria_free(&c); }
  uint32_t keys() const { return c ? c->keys.len : 0; }
  const avcp_didl_sort_key *key(uint32_t i) const { return static_cast<const avcp_didl_sort_key *>(c->keys.buf[i]); }
};

// Ids of the document's objects in the order the criteria give.
std::string sorted_ids(const char *criteria, const parsed &p)
{
  sorting s(criteria);
  if (!s.ok) return "<parse failed>";
  std::vector<avcp_didl_object *> v(p.list, p.list + p.size());
  avcp_didl_sort(&s.c, v.data(), uint32_t(v.size()));
  std::string ids;
  for (auto *o : v) ids += (ids.empty() ? "" : ",") + attr_of(o, "id");
  return ids;
}

std::string track(const std::string &id, const std::string &n)
{
  return item("id=\"" + id + "\"", n.empty() ? "" : "<upnp:originalTrackNumber>" + n + "</upnp:originalTrackNumber>");
}

}  // namespace

TEST(DidlSortParse, KeysAndErrors)
{
  sorting s("+dc:title,-res@size,+@id,-nosuch,+");
  ASSERT_EQ(s.ok, 1);
  ASSERT_EQ(s.keys(), 5u);
  EXPECT_EQ(s.key(0)->ascending, 1);
  EXPECT_EQ(s.key(0)->element, AVCP_DIDL_NAME(EL_DC_TITLE));
  EXPECT_EQ(s.key(0)->type, AVCP_DIDL_TYPE_STRING);
  EXPECT_EQ(s.key(1)->ascending, 0);
  EXPECT_EQ(s.key(1)->attribute, AVCP_DIDL_NAME(AT_SIZE));
  EXPECT_EQ(s.key(1)->type, AVCP_DIDL_TYPE_UINT64);
  EXPECT_EQ(s.key(2)->element, nullptr);
  EXPECT_EQ(s.key(2)->attribute, AVCP_DIDL_NAME(AT_ID));
  EXPECT_EQ(s.key(3)->element, nullptr);
  EXPECT_EQ(s.key(3)->attribute, nullptr);
  EXPECT_EQ(s.key(3)->type, AVCP_DIDL_TYPE_UNKNOWN);
  sorting empty("");
  EXPECT_EQ(empty.ok, 1);
  EXPECT_EQ(empty.keys(), 0u);
  for (const char *bad : {"dc:title", " +dc:title", "+dc:title,", "+dc:title,dc:date", ",+dc:title", "*"}) {
    avcp_didl_sort_criteria *c = reinterpret_cast<avcp_didl_sort_criteria *>(&c);
    EXPECT_EQ(avcp_didl_sort_criteria_parse(&c, bad), 0) << bad;
    EXPECT_EQ(c, nullptr) << bad;
  }
  // A backslash keeps a comma inside one key, which is then unknown.
  sorting escaped("+dc:title\\,x");
  ASSERT_EQ(escaped.ok, 1);
  EXPECT_EQ(escaped.keys(), 1u);
  EXPECT_EQ(escaped.key(0)->element, nullptr);
}

TEST(DidlSort, TitleThenDateDescending)
{
  parsed p(doc(item("id=\"1\"", "<dc:title>b</dc:title><dc:date>2001-01-01</dc:date>") +
               item("id=\"2\"", "<dc:title>A</dc:title><dc:date>2003-01-01</dc:date>") +
               item("id=\"3\"", "<dc:title>B</dc:title><dc:date>2002-01-01</dc:date>") +
               item("id=\"4\"", "<dc:title>a</dc:title><dc:date>2004-01-01</dc:date>") +
               item("id=\"5\"", "<dc:title>c</dc:title>")));
  EXPECT_EQ(sorted_ids("+dc:title,-dc:date", p), "4,2,3,1,5");
  EXPECT_EQ(sorted_ids("-dc:title,+dc:date", p), "5,1,3,2,4");
  EXPECT_EQ(sorted_ids("-dc:date", p), "5,4,2,3,1");
  EXPECT_EQ(sorted_ids("+dc:date", p), "1,3,2,4,5");
}

TEST(DidlSort, MissingValuesGoLastAscendingFirstDescending)
{
  parsed p(doc(track("a", "10") + track("b", "") + track("c", "2") + track("d", "x") + track("e", "-3") +
               track("f", "")));
  std::string asc = sorted_ids("+upnp:originalTrackNumber", p);
  EXPECT_EQ(asc.substr(0, 8), "e,c,a,d,");
  EXPECT_TRUE(asc.substr(8) == "b,f" || asc.substr(8) == "f,b") << asc;
  std::string desc = sorted_ids("-upnp:originalTrackNumber", p);
  EXPECT_TRUE(desc.substr(0, 4) == "b,f," || desc.substr(0, 4) == "f,b,") << desc;
  EXPECT_EQ(desc.substr(4), "d,a,c,e");
  // A key that no object has never decides; the next one does.
  EXPECT_EQ(sorted_ids("+nosuch,-@id", p), "f,e,d,c,b,a");
}

TEST(DidlSort, NumbersAtTheirFullWidth)
{
  // Each kind of number is ordered by its value, also at the ends of its
  // range where a subtraction would overflow.
  parsed p(doc(item("id=\"1\" childCount=\"2147483647\"",
                    "<res size=\"18446744073709551615\" bitrate=\"4294967295\">u</res>"
                    "<upnp:storageUsed>9223372036854775807</upnp:storageUsed>") +
               item("id=\"2\" childCount=\"-2147483648\"",
                    "<res size=\"1\" bitrate=\"1\">u</res><upnp:storageUsed>-9223372036854775808</upnp:storageUsed>") +
               item("id=\"3\" childCount=\"0\"",
                    "<res size=\"9223372036854775808\" bitrate=\"2147483648\">u</res>"
                    "<upnp:storageUsed>0</upnp:storageUsed>")));
  EXPECT_EQ(sorted_ids("+@childCount", p), "2,3,1");
  EXPECT_EQ(sorted_ids("-@childCount", p), "1,3,2");
  EXPECT_EQ(sorted_ids("+res@size", p), "2,3,1");
  EXPECT_EQ(sorted_ids("+res@bitrate", p), "2,3,1");
  EXPECT_EQ(sorted_ids("+upnp:storageUsed", p), "2,3,1");
  EXPECT_EQ(sorted_ids("-upnp:storageUsed", p), "1,3,2");
}

TEST(DidlSort, KeysOnObjectsAndResources)
{
  parsed p(doc(item("id=\"i1\" restricted=\"yes\"", "<res protocolInfo=\"b\">u</res><res size=\"5\">v</res>") +
               "<container id=\"c1\" restricted=\"0\"><res size=\"3\">w</res></container>" +
               item("id=\"i2\" restricted=\"maybe\"", "<res size=\"4\">x</res>") +
               item("id=\"i3\" restricted=\"false\"", "")));
  // The first res that has the attribute gives the value.
  EXPECT_EQ(sorted_ids("+res@size,+@id", p), "c1,i2,i1,i3");
  // Booleans: false before true, a non-boolean after both.
  EXPECT_EQ(sorted_ids("+@restricted,+@id", p), "c1,i3,i1,i2");
  // item@id gives containers no value.
  EXPECT_EQ(sorted_ids("-item@id", p), "c1,i3,i2,i1");
  EXPECT_EQ(sorted_ids("+container@id,-@id", p), "c1,i3,i2,i1");
}

TEST(DidlSort, ComparatorIsConsistent)
{
  // Random values of every shape, readable or not, present or missing:
  // the comparator must be antisymmetric and transitive, and the sort must
  // leave every neighbour pair in order.
  std::mt19937 rng(7);
  const char *samples[] = {"", "0", "-0", "+5", "-5", "12", "012", "x", "X", "abc", "ABD", "4294967296",
                           "-2147483649", "99999999999999999999", "true", "no", "yes", "1", " 7", "7 "};
  std::string body;
  for (int i = 0; i < 300; i++) {
    std::string props;
    for (const char *el : {"dc:title", "upnp:originalTrackNumber", "upnp:storageUsed"})
      if (rng() % 4) props += std::string("<") + el + ">" + samples[rng() % 20] + "</" + el + ">";
    std::string attrs = "id=\"" + std::to_string(i) + "\"";
    if (rng() % 4) attrs += std::string(" restricted=\"") + samples[rng() % 20] + "\"";
    if (rng() % 4) props += std::string("<res bitrate=\"") + samples[rng() % 20] + "\" size=\"" +
                            samples[rng() % 20] + "\">u</res>";
    body += item(attrs, props);
  }
  parsed p(doc(body));
  ASSERT_EQ(p.size(), 300u);
  for (const char *criteria : {"+dc:title", "-upnp:originalTrackNumber", "+upnp:storageUsed", "-@restricted",
                               "+res@bitrate", "-res@size", "+res@size,-dc:title,+@restricted"}) {
    sorting s(criteria);
    ASSERT_EQ(s.ok, 1);
    auto cmp = [&](avcp_didl_object *a, avcp_didl_object *b) { return avcp_didl_sort_compare(&a, &b, s.c); };
    std::vector<avcp_didl_object *> v(p.list, p.list + 60);
    for (auto *a : v)
      for (auto *b : v) {
        int ab = cmp(a, b), ba = cmp(b, a);
        ASSERT_EQ((ab > 0) - (ab < 0), -((ba > 0) - (ba < 0))) << criteria;
        if (ab > 0) continue;
        for (auto *c : v) {
          if (cmp(b, c) <= 0) {
            ASSERT_LE(cmp(a, c), 0) << criteria;
          }
        }
      }
    std::vector<avcp_didl_object *> all(p.list, p.list + p.size());
    avcp_didl_sort(&s.c, all.data(), uint32_t(all.size()));
    for (size_t i = 1; i < all.size(); i++) ASSERT_LE(cmp(all[i - 1], all[i]), 0) << criteria << " at " << i;
  }
}

TEST(DidlSort, ValueCompareAndNoCriteria)
{
  avcp_didl_sort_key up{1, AVCP_DIDL_TYPE_INT32, nullptr, nullptr}, down{0, AVCP_DIDL_TYPE_INT32, nullptr, nullptr};
  EXPECT_LT(avcp_didl_sort_value_compare(&up, "2", "10"), 0);
  EXPECT_GT(avcp_didl_sort_value_compare(&down, "2", "10"), 0);
  EXPECT_LT(avcp_didl_sort_value_compare(&up, "2", nullptr), 0);
  EXPECT_GT(avcp_didl_sort_value_compare(&down, "2", nullptr), 0);
  EXPECT_EQ(avcp_didl_sort_value_compare(&up, nullptr, nullptr), 0);
  EXPECT_EQ(avcp_didl_sort_value_compare(&down, "x", "y"), 0);
  EXPECT_LT(avcp_didl_sort_value_compare(&up, "-1", "x"), 0);
  parsed p(doc(track("a", "2") + track("b", "1")));
  std::vector<avcp_didl_object *> v(p.list, p.list + 2);
  avcp_didl_sort(nullptr, v.data(), 2);
  avcp_didl_sort_criteria *none = nullptr;
  avcp_didl_sort(&none, v.data(), 2);
  EXPECT_EQ(attr_of(v[0], "id"), "a");
  avcp_didl_sort_criteria_free(&none);
  avcp_didl_sort_criteria_free(nullptr);
}
