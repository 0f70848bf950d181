#include <vennard/plugin.h>
#include <vennard/server.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "didl_test.h"
#include "server_test.h"

using namespace server_test;

namespace {

std::string names(const sys_ptralloc_rec &plugins)
{
  std::string v;
  for (uint32_t i = 0; i < plugins.len; i++) {
    std::string n = static_cast<plugin_record *>(plugins.buf[i])->name;
    v += (i ? "," : "") + n;
  }
  return v;
}

struct host : ::testing::Test {
  plugin_log log;
  data_folder data;
  server_rec s{};
  void load(std::initializer_list<std::string> lines)
  {
    std::string filter;
    for (const std::string &l : lines) filter += l + "\r\n";
    data.put("filter", filter);
    s.data_home = const_cast<char *>(data.home.c_str());
    ASSERT_TRUE(plugins_load(&s));
  }
  void TearDown() override { plugins_unload(&s); }
  std::string genres(const didl_object *o)
  {
    std::string v;
    for (uint32_t i = 0; i < o->properties.len; i++) {
      auto *p = static_cast<didl_property *>(o->properties.buf[i]);
      if (p->element == DIDL_NAME(EL_UPNP_GENRE)) v += std::string(v.empty() ? "" : "|") + p->text;
    }
    return v;
  }
};

const char *kItem =
    "<item id=\"5\" parentID=\"0\" restricted=\"1\"><dc:title>t</dc:title>"
    "<upnp:class>object.item.audioItem</upnp:class></item>";

// A plug-in named by its path was known by the path, which no resource
// names: its resources were served as the file under their own MIME type.
TEST_F(host, LoadsInOrderSkippingWhatCannotServeKnownByName)
{
  load({"/nowhere/libmissing.so", plugin("first"), plugin("initfail"), plugin("nofree"), plugin("second")});
  EXPECT_EQ(names(s.content.plugins), "msf_first,msf_second");
  EXPECT_EQ(plugin_find(&s.content.plugins, "missing"), nullptr);
  plugin_record *first = plugin_find(&s.content.plugins, "msf_first");
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(first->get_size && first->export_xml_db && first->import_xml_db && !first->http_get);
  EXPECT_TRUE(plugin_find(&s.content.plugins, "msf_second")->http_get);
  // A plug-in that is not ready is never freed; one without free is let go
  // right after its init.
  EXPECT_EQ(log.count("initfail:init"), 1u);
  EXPECT_EQ(log.count("initfail:free"), 0u);
  EXPECT_EQ(log.count("nofree:init"), 1u);

  auto item = didl_test::parse(kItem);
  didl_object *o = item.release();
  ASSERT_TRUE(plugins_rewrite(&s.content.plugins, "/m/a.mp3", "audio/mpeg", &o));
  didl_test::object_ptr owned(o);
  EXPECT_EQ(log.count("nofree:rewrite"), 0u);

  plugins_unload(&s);
  std::vector<std::string> l = log.lines();
  auto at = [&](const char *line) { return std::find(l.begin(), l.end(), line) - l.begin(); };
  EXPECT_LT(at("second:free"), at("first:free"));
  EXPECT_EQ(at("first:free") + 1, long(l.size()));
}

TEST_F(host, RewritesChainInFilterOrder)
{
  load({plugin("first"), plugin("second")});
  didl_object *o = didl_test::parse(kItem).release();
  ASSERT_TRUE(plugins_rewrite(&s.content.plugins, "/m/a.mp3", "audio/mpeg", &o));
  didl_test::object_ptr owned(o);
  EXPECT_EQ(genres(o), "first|second after first");
  EXPECT_STREQ(didl_attribute_get(&o->attributes, DIDL_NAME(AT_ID)), "5");
  EXPECT_EQ(log.count("first:is_updated"), 1u);
  EXPECT_EQ(log.count("second:is_updated"), 1u);

  // A plug-in asked about an object it does not want leaves it alone.
  didl_object *keep = didl_test::parse("<item id=\"6\" parentID=\"0\" restricted=\"1\"><dc:title>keep</dc:title>"
                                       "<upnp:class>object.item</upnp:class></item>")
                          .release();
  ASSERT_TRUE(plugins_rewrite(&s.content.plugins, "/m/b.mp3", "audio/mpeg", &keep));
  didl_test::object_ptr kept(keep);
  EXPECT_EQ(genres(keep), "");
  EXPECT_EQ(log.count("first:rewrite"), 1u);
}

// One plug-in's unreadable answer used to drop the item, and with it the
// media file, from the library.
TEST_F(host, UnparsableRewriteIsPassedOverAndTheItemKept)
{
  load({plugin("first"), plugin("broken"), plugin("second")});
  didl_object *o = didl_test::parse(kItem).release();
  ASSERT_TRUE(plugins_rewrite(&s.content.plugins, "/m/a.mp3", "audio/mpeg", &o));
  didl_test::object_ptr owned(o);
  EXPECT_EQ(genres(o), "first|second after first");
  EXPECT_EQ(log.count("broken:rewrite"), 1u);

  // Alone, it leaves the object as it was.
  plugins_unload(&s);
  load({plugin("broken")});
  didl_object *alone = didl_test::parse(kItem).release(), *before = alone;
  ASSERT_TRUE(plugins_rewrite(&s.content.plugins, "/m/a.mp3", "audio/mpeg", &alone));
  didl_test::object_ptr kept(alone);
  EXPECT_EQ(alone, before);
  EXPECT_EQ(genres(alone), "");
}

TEST_F(host, SuffixSizeAndChangeQuestions)
{
  load({plugin("first"), plugin("second")});
  char buf[CONTENT_DB_NUMBER_SIZE];
  const sys_ptralloc_rec *p = &s.content.plugins;
  std::string first = "msf_first", second = "msf_second";
  EXPECT_TRUE(plugin_dot_suffix(p, first.c_str(), "http-get:*:audio/L16;rate=44100;channels=2:*", buf, sizeof buf));
  EXPECT_STREQ(buf, ".lpcm");
  EXPECT_FALSE(plugin_dot_suffix(p, first.c_str(), "http-get:*:audio/mpeg:*", buf, sizeof buf));
  EXPECT_FALSE(plugin_dot_suffix(p, second.c_str(), "http-get:*:audio/L16:*", buf, sizeof buf));
  EXPECT_FALSE(plugin_dot_suffix(p, "corda_m3u", "http-get:*:audio/L16:*", buf, sizeof buf));
  EXPECT_FALSE(plugin_dot_suffix(p, first.c_str(), "http-get:*:audio/L16:*", buf, 5));

  uint64_t stamp = 1000;
  auto keep = didl_test::parse("<item id=\"6\" parentID=\"0\" restricted=\"1\"><dc:title>keep</dc:title></item>");
  EXPECT_TRUE(plugins_any_is_updated(p, "/m/a.mp3", "audio/mpeg", &stamp, nullptr));
  EXPECT_EQ(log.count("first:is_updated_stored"), 1u);
  EXPECT_EQ(log.count("second:is_updated_stored"), 0u);
  EXPECT_FALSE(plugins_any_is_updated(p, "/m/a.mp3", "audio/mpeg", &stamp, keep.get()));
  EXPECT_EQ(log.count("import_xml_db"), 0u);
  for (const std::string &l : log.lines()) EXPECT_EQ(l.find("import"), std::string::npos) << l;
}

}  // namespace
