#include <vennard/didl.h>
#include <vennard/plugin.h>

#include <gtest/gtest.h>

#include <tarvo_avcp/avcp_didl.h>
#include <tarvo_util/xml.h>

#include <cstring>
#include <string>
#include <vector>

#include "didl_test.h"
#include "tarvo_test.h"

using didl_test::object_ptr;
using didl_test::parse;
using didl_test::take;

namespace {

const char *const kTrack =
    "<item id=\"12\" parentID=\"3\" restricted=\"1\" tarvo:private=\"1\" tarvo:referenced=\"40\">"
    "<dc:title>Song &amp; &lt;dance&gt; \"q\" 'a' \xC3\xA9</dc:title>"
    "<upnp:class>object.item.audioItem.musicTrack</upnp:class>"
    "<upnp:albumArtURI>/12-3.jpg</upnp:albumArtURI>"
    "<upnp:icon>:8080/icon.png</upnp:icon>"
    "<res protocolInfo=\"http-get:*:audio/mpeg:DLNA.ORG_PN=MP3\" size=\"1000\" tarvo:filename=\"/music/a b.mp3\""
    " tarvo:timestamp=\"1234\">/12-4.mp3</res>"
    "<res protocolInfo=\"http-get:*:audio/L16:*\" tarvo:filter=\"lpcm\" tarvo:filename=\"/music/a b.mp3\">/12-5.lpcm</res>"
    "<res protocolInfo=\"http-get:*:audio/mpeg:*\">http://elsewhere/x.mp3</res>"
    "</item>";

char kPrefixA[] = "http://10.0.0.1:8200";
char kPrefixB[] = "http://192.168.1.5:8200";
char *const kTwoInterfaces[] = {kPrefixA, kPrefixB, nullptr};
char *const kOneInterface[] = {kPrefixA, nullptr};

std::string for_client(const didl_object *o, char *const *prefixes, const char *filter_text, int local,
                       const sys_ptralloc_rec *plugins = nullptr, const connection_addresses *conn = nullptr)
{
  didl_filter f{};
  EXPECT_TRUE(didl_filter_parse(&f, filter_text, local));
  sys_stralloc_rec sa{};
  EXPECT_TRUE(didl_write_for_client(&sa, o, prefixes, &f, local, conn, plugins));
  std::string plain = take(&sa);
  // Written escaped for an answer, after what the answer holds: the same
  // text, escaped once more.
  sys_stralloc_rec escaped{}, want{};
  EXPECT_TRUE(sys_stralloc_copys(&escaped, "<Result>") && sys_stralloc_copys(&want, "<Result>"));
  EXPECT_TRUE(didl_write_for_client_escaped(&escaped, o, prefixes, &f, local, conn, plugins));
  EXPECT_TRUE(xml_gen_encode_appendb(&want, plain.data(), uint32_t(plain.size())));
  EXPECT_EQ(take(&escaped), take(&want));
  didl_filter_free(&f);
  return plain;
}

std::string for_db(const didl_object *o, const sys_ptralloc_rec *plugins = nullptr)
{
  sys_stralloc_rec sa{};
  EXPECT_TRUE(didl_write(&sa, o, plugins));
  return take(&sa);
}

}  // namespace

TEST(DidlWrite, DocumentFraming)
{
  sys_stralloc_rec sa{};
  ASSERT_TRUE(sys_stralloc_copys(&sa, "left over"));
  ASSERT_TRUE(didl_xml_begin(&sa, 1));
  const std::string with =
      "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\"\r\n"
      "xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\"\r\n"
      "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"\r\n"
      "xmlns:dlna=\"urn:schemas-dlna-org:metadata-1-0/\"\r\n"
      "xmlns:tarvo=\"" AVCP_DIDL_NS_TARVO_URI "\"\r\n"
      "xmlns:arib=\"urn:schemas-arib-or-jp:elements-1-0/\">\r\n";
  EXPECT_EQ(std::string(sa.buf, sa.len), with);
  // The object model frames its documents with the same bytes.
  sys_stralloc_rec model{};
  ASSERT_TRUE(avcp_didl_xml_begin(&model));
  EXPECT_EQ(take(&model), with);

  ASSERT_TRUE(didl_xml_begin(&sa, 0));
  std::string without = with;
  without.erase(without.find("xmlns:tarvo"), without.find("xmlns:arib") - without.find("xmlns:tarvo"));
  EXPECT_EQ(std::string(sa.buf, sa.len), without);

  sa.len = 0;
  ASSERT_TRUE(didl_xml_end(&sa));
  EXPECT_EQ(take(&sa), "</DIDL-Lite>\r\n");
}

namespace {

int serves(plugin_http_get_request *) { return 0; }

// The plug-in "lpcm", loaded and serving its resources.
struct lpcm_loaded {
  char name[5] = "lpcm";
  plugin_record record{};
  sys_ptralloc_rec list{};
  lpcm_loaded()
  {
    record.name = name;
    record.http_get = serves;
    EXPECT_TRUE(sys_ptralloc_append(&list, &record));
  }
  ~lpcm_loaded() { sys_ptralloc_free(&list); }
};

}  // namespace

TEST(DidlWrite, ClientFormForALocalRequester)
{
  object_ptr o = parse(kTrack);
  ASSERT_TRUE(o);
  lpcm_loaded lpcm;
  const std::string res_mp3 =
      "<res protocolInfo=\"http-get:*:audio/mpeg:DLNA.ORG_PN=MP3\" size=\"1000\" tarvo:filename=\"/music/a b.mp3\">";
  const std::string res_lpcm =
      "<res protocolInfo=\"http-get:*:audio/L16:*\" tarvo:filter=\"lpcm\" tarvo:filename=\"/music/a b.mp3\">";
  EXPECT_EQ(for_client(o.get(), kTwoInterfaces, "*", 1, &lpcm.list),
            "<item id=\"12\" parentID=\"3\" restricted=\"1\" tarvo:private=\"1\">\r\n"
            "<dc:title>Song &amp; &lt;dance&gt; &quot;q&quot; &apos;a&apos; \xC3\xA9</dc:title>\r\n"
            "<upnp:class>object.item.audioItem.musicTrack</upnp:class>\r\n"
            "<upnp:albumArtURI>http://10.0.0.1:8200/12-3.jpg</upnp:albumArtURI>\r\n"
            "<upnp:icon>http://10.0.0.1:8080/icon.png</upnp:icon>\r\n" +
                res_mp3 + "http://10.0.0.1:8200/12-4.mp3</res>\r\n" + res_mp3 +
                "http://192.168.1.5:8200/12-4.mp3</res>\r\n"
                "<res protocolInfo=\"internal:127.0.0.1:audio/mpeg:*\" size=\"1000\">file:///music/a%20b.mp3</res>\r\n" +
                res_lpcm + "http://10.0.0.1:8200/12-5.lpcm</res>\r\n" + res_lpcm +
                "http://192.168.1.5:8200/12-5.lpcm</res>\r\n"
                "<res protocolInfo=\"http-get:*:audio/mpeg:*\">http://elsewhere/x.mp3</res>\r\n"
                "</item>\r\n");
}

// Without corda_lpcm loaded, its audio/L16 resources stayed listed and
// their URLs sent the MP3's bytes: a player played noise.
TEST(DidlWrite, ResourcesNoPlugInAnswersAreLeftOutButAPlaylistStays)
{
  object_ptr o = parse(kTrack);
  ASSERT_TRUE(o);
  lpcm_loaded lpcm;
  lpcm.record.http_get = nullptr;
  sys_ptralloc_rec nothing{};
  const sys_ptralloc_rec *lists[] = {nullptr, &nothing, &lpcm.list};
  for (const sys_ptralloc_rec *plugins : lists)
    for (int local : {0, 1}) {
      std::string text = for_client(o.get(), kOneInterface, "*", local, plugins);
      EXPECT_EQ(text.find("12-5.lpcm"), std::string::npos) << text;
      EXPECT_NE(text.find(">http://10.0.0.1:8200/12-4.mp3</res>"), std::string::npos) << text;
      EXPECT_NE(text.find(">http://elsewhere/x.mp3</res>"), std::string::npos) << text;
    }

  // A playlist's resource is the file itself, under its own type: with its
  // plug-in gone it is still the file.
  object_ptr list = parse("<item id=\"13\" parentID=\"3\" restricted=\"1\"><dc:title>l</dc:title>"
                          "<res protocolInfo=\"http-get:*:audio/x-mpegurl:*\" tarvo:filter=\"corda_m3u\""
                          " tarvo:filename=\"/music/l.m3u\">/13-6.m3u</res></item>");
  ASSERT_TRUE(list);
  std::string text = for_client(list.get(), kOneInterface, "*", 0, &nothing);
  EXPECT_NE(text.find(">http://10.0.0.1:8200/13-6.m3u</res>"), std::string::npos) << text;
}

TEST(DidlWrite, ClientFormHidesPrivateNamesFromRemoteRequesters)
{
  object_ptr o = parse(kTrack);
  ASSERT_TRUE(o);
  std::string remote = for_client(o.get(), kOneInterface, "*,@tarvo:private,res@tarvo:filename", 0);
  EXPECT_EQ(remote.find("tarvo:"), std::string::npos) << remote;
  EXPECT_EQ(remote.find("internal:"), std::string::npos);
  EXPECT_NE(remote.find(">http://10.0.0.1:8200/12-4.mp3</res>"), std::string::npos);

  // A local requester asking only for the private flag gets it, but the
  // server's own bookkeeping stays inside.
  object_ptr c = parse("<container id=\"0\" parentID=\"-1\" restricted=\"1\" tarvo:containerUpdateID=\"7\""
                       " tarvo:children=\"1,2\" tarvo:maxObjectID=\"9\" tarvo:private=\"1\">"
                       "<dc:title>root</dc:title><upnp:class>object.container</upnp:class>"
                       "<tarvo:dynamic>1</tarvo:dynamic><tarvo:reflectChildProperty>1</tarvo:reflectChildProperty>"
                       "</container>");
  ASSERT_TRUE(c);
  EXPECT_EQ(for_client(c.get(), kOneInterface, "@tarvo:private", 1),
            "<container id=\"0\" parentID=\"-1\" restricted=\"1\" tarvo:private=\"1\">\r\n"
            "<dc:title>root</dc:title>\r\n<upnp:class>object.container</upnp:class>\r\n</container>\r\n");
  EXPECT_EQ(for_client(c.get(), kOneInterface, "@tarvo:private", 0).find("tarvo:"), std::string::npos);
}

TEST(DidlWrite, ClientFormFollowsTheFilter)
{
  object_ptr o = parse(kTrack);
  ASSERT_TRUE(o);
  lpcm_loaded lpcm;
  // res asked for brings its protocolInfo; other attributes only by name.
  EXPECT_EQ(for_client(o.get(), kOneInterface, "res", 0, &lpcm.list),
            "<item id=\"12\" parentID=\"3\" restricted=\"1\">\r\n"
            "<dc:title>Song &amp; &lt;dance&gt; &quot;q&quot; &apos;a&apos; \xC3\xA9</dc:title>\r\n"
            "<upnp:class>object.item.audioItem.musicTrack</upnp:class>\r\n"
            "<res protocolInfo=\"http-get:*:audio/mpeg:DLNA.ORG_PN=MP3\">http://10.0.0.1:8200/12-4.mp3</res>\r\n"
            "<res protocolInfo=\"http-get:*:audio/L16:*\">http://10.0.0.1:8200/12-5.lpcm</res>\r\n"
            "<res protocolInfo=\"http-get:*:audio/mpeg:*\">http://elsewhere/x.mp3</res>\r\n"
            "</item>\r\n");
  // An attribute that gets a prefix of its own leaves the text alone.
  didl_property *res = didl_property_first(o.get(), DIDL_NAME(EL_RES));
  ASSERT_TRUE(didl_attribute_add(&res->attributes, DIDL_NAME(AT_IMPORT_URI), "/import/some/longer/path"));
  EXPECT_NE(for_client(o.get(), kOneInterface, "res@importUri", 0)
                .find(" importUri=\"http://10.0.0.1:8200/import/some/longer/path\">http://10.0.0.1:8200/12-4.mp3</res>"),
            std::string::npos);
  // The extra local resource keeps the filter too.
  std::string local = for_client(o.get(), kOneInterface, "res@size", 1);
  EXPECT_NE(local.find("<res protocolInfo=\"internal:127.0.0.1:audio/mpeg:*\" size=\"1000\">"), std::string::npos);
  EXPECT_EQ(local.find("tarvo:filename"), std::string::npos);
}

TEST(DidlWrite, DatabaseFormKeepsEverythingAndReadsBackUnchanged)
{
  object_ptr o = parse(kTrack);
  ASSERT_TRUE(o);
  std::string item = for_db(o.get());
  EXPECT_EQ(item.substr(0, item.find("<dc:title>")),
            "<item id=\"12\" parentID=\"3\" restricted=\"1\" tarvo:private=\"1\" tarvo:referenced=\"40\">\r\n");
  EXPECT_NE(item.find("<upnp:albumArtURI>/12-3.jpg</upnp:albumArtURI>\r\n"), std::string::npos);
  EXPECT_NE(item.find(" tarvo:timestamp=\"1234\">/12-4.mp3</res>\r\n"), std::string::npos);

  object_ptr root = parse(
      "<container id=\"0\" parentID=\"-1\" restricted=\"1\" searchable=\"1\" childCount=\"2\""
      " tarvo:containerUpdateID=\"5\" tarvo:children=\"12,13\" tarvo:maxObjectID=\"14\">"
      "<dc:title>Root</dc:title><upnp:class>object.container</upnp:class>"
      "<upnp:createClass includeDerived=\"1\">object.item</upnp:createClass>"
      "<tarvo:reflectChildProperty/></container>");
  object_ptr odd = parse("<item id=\"13\" parentID=\"0\" restricted=\"0\" refID=\"12\">"
                         "<dc:title>  a\r\nb  </dc:title><upnp:class>object.item</upnp:class>"
                         "<res protocolInfo=\"http-get:*:video/mp2t:*\" dlna:profileID=\"x\" arib:resolution=\"1\""
                         " dlna:cleartextSize=\"5\">/13-1.ts</res>"
                         "<tarvo:dynamic>yes</tarvo:dynamic><arib:objectType>1</arib:objectType></item>");
  ASSERT_TRUE(root && odd);
  std::string body = for_db(root.get()) + item + for_db(odd.get());
  EXPECT_NE(body.find("<dc:title>a b</dc:title>"), std::string::npos);
  tarvo_test::scratch_dir dir;
  std::string path = dir / "data.xml";
  tarvo_test::write_file(path, didl_test::doc(body));

  sys_ptralloc_rec objects{};
  ASSERT_TRUE(didl_parse(path.c_str(), 0, &objects));
  ASSERT_EQ(objects.len, 3u);
  std::string again;
  for (uint32_t i = 0; i < objects.len; i++) again += for_db(static_cast<didl_object *>(objects.buf[i]));
  didl_object_array_free(&objects);
  EXPECT_EQ(again, body);
}

TEST(DidlWrite, ValuesThatAreNotXmlAreRefused)
{
  object_ptr o = parse(kTrack);
  ASSERT_TRUE(o);
  didl_property *title = didl_property_first(o.get(), DIDL_NAME(EL_DC_TITLE));
  for (const char *bad : {"a\x01z", "tab\there", "cut \xC3", "\xED\xA0\x80 surrogate"}) {
    SCOPED_TRACE(bad);
    ASSERT_TRUE(didl_string_replace(&title->text, bad));
    sys_stralloc_rec sa{};
    ASSERT_TRUE(sys_stralloc_copys(&sa, "kept"));
    EXPECT_FALSE(didl_write(&sa, o.get(), nullptr));
    EXPECT_FALSE(didl_write_for_client(&sa, o.get(), kOneInterface, nullptr, 1, nullptr, nullptr));
    EXPECT_FALSE(didl_write_for_client_escaped(&sa, o.get(), kOneInterface, nullptr, 1, nullptr, nullptr));
    EXPECT_EQ(take(&sa), "kept");
  }
  ASSERT_TRUE(didl_string_replace(&title->text, "fine"));
  ASSERT_TRUE(didl_attribute_set(&o->attributes, DIDL_NAME(AT_TARVO_PRIVATE), "\x1f"));
  sys_stralloc_rec sa{};
  EXPECT_FALSE(didl_write(&sa, o.get(), nullptr));
  // Hidden from a remote requester, the bad value is never written.
  EXPECT_TRUE(didl_write_for_client(&sa, o.get(), kOneInterface, nullptr, 0, nullptr, nullptr));
  sys_stralloc_free(&sa);
}

namespace {

std::vector<std::string> g_seen;
uint16_t g_port;

int append_a(const char *text, char *buf, uint32_t cap)
{
  g_seen.push_back(text);
  std::string t = std::string(text) + "A";
  if (t.size() >= cap) return 0;
  std::memcpy(buf, t.c_str(), t.size() + 1);
  return 1;
}
int unterminated(const char *text, char *buf, uint32_t cap)
{
  g_seen.push_back(text);
  std::memset(buf, 'x', cap);
  return 1;
}
int declines(const char *text, char *buf, uint32_t)
{
  g_seen.push_back(text);
  std::strcpy(buf, "ignored");
  return 0;
}
int client_hook(const connection_addresses *conn, const char *text, char *buf, uint32_t cap)
{
  g_port = conn->local_port;
  return append_a(text, buf, cap);
}

}  // namespace

TEST(DidlWrite, PluginsRewriteDynamicObjectsInTurn)
{
  object_ptr dyn = parse("<item id=\"5\" parentID=\"0\" restricted=\"1\"><dc:title>t</dc:title>"
                         "<tarvo:dynamic>1</tarvo:dynamic></item>");
  object_ptr plain = parse("<item id=\"6\" parentID=\"0\" restricted=\"1\"><dc:title>t</dc:title></item>");
  ASSERT_TRUE(dyn && plain);
  plugin_record a{}, b{}, none{}, c{}, d{};
  a.export_xml_db = append_a;
  b.export_xml_db = unterminated;
  c.export_xml_db = declines;
  d.export_xml_db = append_a;
  a.export_xml = client_hook;
  sys_ptralloc_rec plugins{};
  for (plugin_record *p : {&a, &b, &none, &c, &d}) ASSERT_TRUE(sys_ptralloc_append(&plugins, p));

  g_seen.clear();
  const std::string stored = "<item id=\"5\" parentID=\"0\" restricted=\"1\">\r\n<dc:title>t</dc:title>\r\n"
                             "<tarvo:dynamic>1</tarvo:dynamic>\r\n</item>\r\n";
  // An answer with no end inside the buffer, and a "no", change nothing.
  EXPECT_EQ(for_db(dyn.get(), &plugins), stored + "AA");
  EXPECT_EQ(g_seen, (std::vector<std::string>{stored, stored + "A", stored + "A", stored + "A"}));

  g_seen.clear();
  EXPECT_EQ(for_db(plain.get(), &plugins).back(), '\n');
  EXPECT_TRUE(g_seen.empty());

  connection_addresses conn{};
  conn.local_port = 8200;
  std::string client = for_client(dyn.get(), kOneInterface, "*", 0, &plugins, &conn);
  EXPECT_EQ(client, "<item id=\"5\" parentID=\"0\" restricted=\"1\">\r\n<dc:title>t</dc:title>\r\n</item>\r\nA");
  EXPECT_EQ(g_port, 8200);
  sys_ptralloc_free(&plugins);
}
