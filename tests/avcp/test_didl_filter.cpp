// Filters: parsing and matching names against them.
#include <gtest/gtest.h>
#include <tarvo_avcp/avcp_didl_criteria.h>

namespace {

struct filter {
  avcp_didl_filter f = nullptr;
  size_t size = 0;
  explicit filter(const char *text)
  {
    EXPECT_EQ(avcp_didl_filter_parse(&f, text), 1) << text;
    while (f && f[size]) size++;
  }
  ~filter() { avcp_didl_filter_free(&f); }
  bool pass(const char *name) const { return avcp_didl_filter_match(&f, name) == 1; }
};

const size_t kKept = 13;

}  // namespace

TEST(DidlFilter, EmptyKeepsTheFixedEntries)
{
  filter f("");
  EXPECT_EQ(f.size, kKept);
  for (const char *n : {"container@id", "container@parentID", "item@restricted", "dc:title", "upnp:class",
                        "upnp:storageMaxPartition", "upnp:storageMedium"})
    EXPECT_TRUE(f.pass(n)) << n;
  for (const char *n : {"res", "upnp:genre", "item@refID", "@id", "nosuch", "", "@", "dc:title@id"})
    EXPECT_FALSE(f.pass(n)) << n;
}

TEST(DidlFilter, ResBringsItsProtocolInfo)
{
  filter res("res"), pi("res@protocolInfo"), size("res@size");
  EXPECT_EQ(res.size, kKept + 2);
  EXPECT_EQ(pi.size, kKept + 1);
  EXPECT_EQ(size.size, kKept + 2);
  EXPECT_TRUE(res.pass("res") && res.pass("res@protocolInfo") && !res.pass("res@size"));
  EXPECT_TRUE(pi.pass("res") && pi.pass("res@protocolInfo"));
  EXPECT_TRUE(size.pass("res") && size.pass("res@size") && size.pass("res@protocolInfo") && !size.pass("res@duration"));
}

TEST(DidlFilter, WildcardObjectAttributesAndPieces)
{
  filter all("*");
  for (const char *n : {"upnp:genre", "res@size", "nosuch"}) EXPECT_TRUE(all.pass(n)) << n;
  filter creator("dc:creator");
  EXPECT_TRUE(creator.pass("dc:creator") && !creator.pass("res") && !creator.pass("dc:creator@id"));
  filter count("@childCount");
  EXPECT_TRUE(count.pass("container@childCount") && count.pass("item@childCount") && !count.pass("res@childCount"));
  filter ref("item@refID");
  EXPECT_TRUE(ref.pass("item@refID") && !ref.pass("container@refID"));
  // Unknown and empty pieces fit nothing; a final comma opens no piece; a
  // backslash and white space are ordinary characters.
  filter f("nosuch,,upnp:genre,upnp:album\\,upnp:artist, dc:creator,");
  EXPECT_EQ(f.size, 6 + kKept);
  EXPECT_TRUE(f.pass("upnp:genre") && f.pass("upnp:artist"));
  EXPECT_FALSE(f.pass("upnp:album") || f.pass("dc:creator") || f.pass("nosuch") || f.pass("item@id@x"));
  // No filter lets everything through.
  EXPECT_EQ(avcp_didl_filter_match(nullptr, "upnp:genre"), 1);
  avcp_didl_filter none = nullptr;
  EXPECT_EQ(avcp_didl_filter_match(&none, "res@size"), 1);
  EXPECT_EQ(avcp_didl_filter_parse(&none, nullptr), 0);
}
