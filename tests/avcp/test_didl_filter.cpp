// Filters: parsing and matching names against them.
#include <gtest/gtest.h>
#include <tarvo_avcp/avcp_didl_criteria.h>

#include <string>
#include <vector>

namespace {

struct filter {
  avcp_didl_filter f = nullptr;
  int ok;
  explicit filter(const char *text) { ok = avcp_didl_filter_parse(&f, text); }
  ~filter() { avcp_didl_filter_free(&f); }
  size_t size() const
  {
    size_t n = 0;
    while (f && f[n]) n++;
    return n;
  }
  bool pass(const char *name) const { return avcp_didl_filter_match(&f, name) == 1; }
};

const size_t kKept = 13;

}  // namespace

TEST(DidlFilter, EmptyKeepsTheFixedEntries)
{
  filter f("");
  ASSERT_EQ(f.ok, 1);
  EXPECT_EQ(f.size(), kKept);
  for (const char *n : {"container@id", "container@parentID", "container@restricted", "item@id", "item@parentID",
                        "item@restricted", "dc:title", "upnp:class", "upnp:storageTotal", "upnp:storageUsed",
                        "upnp:storageFree", "upnp:storageMaxPartition", "upnp:storageMedium"})
    EXPECT_TRUE(f.pass(n)) << n;
  for (const char *n : {"res", "res@protocolInfo", "upnp:genre", "item@refID", "container@childCount", "nosuch", "",
                        "@", "dc:title@id"})
    EXPECT_FALSE(f.pass(n)) << n;
}

TEST(DidlFilter, ResBringsItsProtocolInfo)
{
  filter res("res");
  EXPECT_EQ(res.size(), kKept + 2);
  EXPECT_TRUE(res.pass("res"));
  EXPECT_TRUE(res.pass("res@protocolInfo"));
  EXPECT_FALSE(res.pass("res@size"));
  filter pi("res@protocolInfo");
  EXPECT_EQ(pi.size(), kKept + 1);
  EXPECT_TRUE(pi.pass("res"));
  EXPECT_TRUE(pi.pass("res@protocolInfo"));
  filter size("res@size");
  EXPECT_EQ(size.size(), kKept + 2);
  EXPECT_TRUE(size.pass("res"));
  EXPECT_TRUE(size.pass("res@size"));
  EXPECT_TRUE(size.pass("res@protocolInfo"));
  EXPECT_FALSE(size.pass("res@duration"));
}

TEST(DidlFilter, WildcardAndObjectAttributes)
{
  filter all("*");
  for (const char *n : {"upnp:genre", "res@size", "nosuch", "item@refID"}) EXPECT_TRUE(all.pass(n)) << n;
  filter creator("dc:creator");
  EXPECT_TRUE(creator.pass("dc:creator"));
  EXPECT_FALSE(creator.pass("res"));
  EXPECT_FALSE(creator.pass("dc:creator@id"));
  filter id("@childCount");
  EXPECT_TRUE(id.pass("container@childCount"));
  EXPECT_TRUE(id.pass("item@childCount"));
  EXPECT_TRUE(id.pass("@childCount"));
  EXPECT_FALSE(id.pass("res@childCount"));
  filter item("item@refID");
  EXPECT_TRUE(item.pass("item@refID"));
  EXPECT_FALSE(item.pass("container@refID"));
}

TEST(DidlFilter, PiecesAreCutAtEveryComma)
{
  // Unknown and empty pieces give entries that fit no attribute; a comma
  // at the end opens no piece; a backslash is an ordinary character.
  filter f("nosuch,,upnp:genre,upnp:album\\,upnp:artist,");
  ASSERT_EQ(f.ok, 1);
  EXPECT_EQ(f.size(), 5 + kKept);
  EXPECT_TRUE(f.pass("upnp:genre"));
  EXPECT_TRUE(f.pass("upnp:artist"));
  EXPECT_FALSE(f.pass("upnp:album"));
  EXPECT_FALSE(f.pass("nosuch"));
  EXPECT_FALSE(f.pass("item@id@x"));
  filter blank(" dc:creator");
  EXPECT_FALSE(blank.pass("dc:creator"));
}

TEST(DidlFilter, NoFilterLetsEverythingThrough)
{
  EXPECT_EQ(avcp_didl_filter_match(nullptr, "upnp:genre"), 1);
  avcp_didl_filter none = nullptr;
  EXPECT_EQ(avcp_didl_filter_match(&none, "res@size"), 1);
  avcp_didl_filter_free(&none);
  avcp_didl_filter_free(nullptr);
  avcp_didl_filter f = nullptr;
  EXPECT_EQ(avcp_didl_filter_parse(&f, nullptr), 0);
  EXPECT_EQ(f, nullptr);
}
