// Names, records, the parser, the finders and the document framing.
#include "helper_didl.h"

#include <gtest/gtest.h>
#include <tarvo_avcp/avcp_didl.h>

#include <cstring>
#include <string>

using namespace didl_test;

TEST(DidlNames, LookupsAreInternedAndExact)
{
  const char *title = avcp_didl_element_name_find("dc:title");
  ASSERT_NE(title, nullptr);
  EXPECT_EQ(title, AVCP_DIDL_NAME(EL_DC_TITLE));
  std::string copy = "dc:title";
  EXPECT_EQ(avcp_didl_element_name_find(copy.c_str()), title);
  EXPECT_EQ(avcp_didl_element_name_find("dc:Title"), nullptr);
  EXPECT_EQ(avcp_didl_element_name_find("title"), nullptr);
  EXPECT_EQ(avcp_didl_element_name_find("*"), nullptr);
  EXPECT_EQ(avcp_didl_element_name_find("urn:schemas-dlna-org:metadata-1-0/"), nullptr);
  EXPECT_EQ(avcp_didl_element_name_find("id"), nullptr);
  EXPECT_EQ(avcp_didl_attribute_name_find("dc:title"), nullptr);
  EXPECT_EQ(avcp_didl_attribute_name_find("tarvo:filename"), AVCP_DIDL_NAME(AT_TARVO_FILENAME));
  EXPECT_EQ(avcp_didl_attribute_name_find("arib:resolution"), AVCP_DIDL_NAME(AT_ARIB_RESOLUTION));
  EXPECT_EQ(avcp_didl_element_name_find("arib:caProgramInfo"), AVCP_DIDL_NAME(EL_ARIB_CA_PROGRAM_INFO));
  EXPECT_EQ(avcp_didl_element_name_find(nullptr), nullptr);
}

TEST(DidlNames, TableHoldsEveryNameOnce)
{
  EXPECT_EQ(AVCP_DIDL_NAME_COUNT, 8 + 61 + 33 + 1);
  for (int i = 0; i < AVCP_DIDL_NAME_COUNT; i++)
    for (int j = i + 1; j < AVCP_DIDL_NAME_COUNT; j++)
      EXPECT_STRNE(avcp_didl_name_table[i], avcp_didl_name_table[j]);
  for (int i = AVCP_DIDL_EL_DIDL_LITE; i < AVCP_DIDL_AT_ID; i++)
    EXPECT_EQ(avcp_didl_element_name_find(avcp_didl_name_table[i]), avcp_didl_name_table[i]);
  for (int i = AVCP_DIDL_AT_ID; i < AVCP_DIDL_WILDCARD; i++)
    EXPECT_EQ(avcp_didl_attribute_name_find(avcp_didl_name_table[i]), avcp_didl_name_table[i]);
}

TEST(DidlNames, PairsAndSplitting)
{
  avcp_didl_name_pair p;
  avcp_didl_property_parameter_set("dc:title", "nosuch", &p);
  EXPECT_EQ(p.element, nullptr);
  EXPECT_EQ(p.attribute, nullptr);
  avcp_didl_property_parameter_set("", "id", &p);
  EXPECT_EQ(p.element, nullptr);
  EXPECT_EQ(p.attribute, AVCP_DIDL_NAME(AT_ID));
  avcp_didl_property_parameter_set("nosuch", "id", &p);
  EXPECT_EQ(p.element, nullptr);
  EXPECT_EQ(p.attribute, nullptr);
  avcp_didl_property_parameter_set("res", "size", &p);
  EXPECT_EQ(p.element, AVCP_DIDL_NAME(EL_RES));
  EXPECT_EQ(p.attribute, AVCP_DIDL_NAME(AT_SIZE));

  char a[] = "res@size", b[] = "@id", c[] = "dc:title", d[] = "x@y@z";
  char *name, *attr;
  avcp_didl_split_name_attribute(a, &name, &attr);
  EXPECT_STREQ(name, "res");
  EXPECT_STREQ(attr, "size");
  avcp_didl_split_name_attribute(b, &name, &attr);
  EXPECT_STREQ(name, "");
  EXPECT_STREQ(attr, "id");
  avcp_didl_split_name_attribute(c, &name, &attr);
  EXPECT_STREQ(name, "dc:title");
  EXPECT_STREQ(attr, "");
  avcp_didl_split_name_attribute(d, &name, &attr);
  EXPECT_STREQ(name, "x");
  EXPECT_STREQ(attr, "y@z");
}

TEST(DidlNames, ValueTypes)
{
  auto type = [](const char *e, const char *a) {
    avcp_didl_name_pair p;
    avcp_didl_property_parameter_set(e, a, &p);
    return avcp_didl_value_type(&p);
  };
  EXPECT_EQ(type("res", "size"), AVCP_DIDL_TYPE_UINT64);
  EXPECT_EQ(type("res", ""), AVCP_DIDL_TYPE_URI);
  EXPECT_EQ(type("", "childCount"), AVCP_DIDL_TYPE_INT32);
  EXPECT_EQ(type("res", "bitrate"), AVCP_DIDL_TYPE_UINT32);
  EXPECT_EQ(type("upnp:storageUsed", ""), AVCP_DIDL_TYPE_INT64);
  EXPECT_EQ(type("", "restricted"), AVCP_DIDL_TYPE_BOOLEAN);
  EXPECT_EQ(type("dc:title", ""), AVCP_DIDL_TYPE_STRING);
  EXPECT_EQ(type("upnp:originalTrackNumber", ""), AVCP_DIDL_TYPE_INT32);
  EXPECT_EQ(type("arib:objectType", ""), AVCP_DIDL_TYPE_UNKNOWN);
  EXPECT_EQ(type("res", "dlna:profileID"), AVCP_DIDL_TYPE_UNKNOWN);
  EXPECT_EQ(type("", ""), AVCP_DIDL_TYPE_UNKNOWN);
}

TEST(DidlValues, DerivedFromAndBoolean)
{
  EXPECT_EQ(avcp_didl_derived_from("object.container", "object.container"), 1);
  EXPECT_EQ(avcp_didl_derived_from("object.containerX", "object.container"), 0);
  EXPECT_EQ(avcp_didl_derived_from("object.item.audioItem.musicTrack", "object.item"), 1);
  EXPECT_EQ(avcp_didl_derived_from("object.item", "object.item.audioItem"), 0);
  EXPECT_EQ(avcp_didl_derived_from("Object.item", "object.item"), 0);
  EXPECT_EQ(avcp_didl_derived_from(nullptr, "object"), 0);
  for (const char *t : {"1", "true", "yes"}) EXPECT_EQ(avcp_didl_boolean_value(t), 1) << t;
  for (const char *t : {"0", "TRUE", "Yes", "", "2", "false"}) EXPECT_EQ(avcp_didl_boolean_value(t), 0) << t;
  EXPECT_EQ(avcp_didl_boolean_value(nullptr), 0);
}

TEST(DidlParse, ItemsContainersAndNamespaces)
{
  parsed p(doc("<container id=\"1\" parentID=\"0\" restricted=\"1\" childCount=\"2\" searchable=\"1\">"
               "<dc:title>Music</dc:title><upnp:class>object.container.storageFolder</upnp:class>"
               "<upnp:storageUsed>-1</upnp:storageUsed></container>"
               "<item id=\"1$2\" parentID=\"1\" restricted=\"0\" refID=\"9\" tarvo:private=\"1\">"
               "<dc:title>Song &amp; dance</dc:title><dc:creator>A</dc:creator>"
               "<upnp:class>object.item.audioItem.musicTrack</upnp:class>"
               "<upnp:artist role=\"Composer\">B</upnp:artist><upnp:artist>C</upnp:artist>"
               "<upnp:album>D</upnp:album><upnp:originalTrackNumber>7</upnp:originalTrackNumber>"
               "<upnp:albumArtURI dlna:profileID=\"JPEG_TN\">http://h/a.jpg</upnp:albumArtURI>"
               "<dlna:containerType>Tuner_1_0</dlna:containerType>"
               "<arib:objectType>ARIB_TB</arib:objectType>"
               "<res protocolInfo=\"http-get:*:audio/mpeg:*\" size=\"3000000000\" duration=\"0:03:00\""
               " tarvo:filename=\"/m/a.mp3\" tarvo:filter=\"x\">http://h/1.mp3</res>"
               "<res protocolInfo=\"http-get:*:audio/L16;rate=44100:*\" arib:resolution=\"r\""
               " dlna:cleartextSize=\"5\">http://h/1.lpcm</res>"
               "</item>"));
  ASSERT_EQ(p.ok, 1);
  ASSERT_EQ(p.size(), 2u);
  avcp_didl_object *c = p[0], *i = p[1];
  EXPECT_EQ(c->element, AVCP_DIDL_NAME(EL_CONTAINER));
  EXPECT_EQ(i->element, AVCP_DIDL_NAME(EL_ITEM));
  EXPECT_EQ(attr_of(c, "childCount"), "2");
  EXPECT_EQ(attr_of(c, "searchable"), "1");
  EXPECT_EQ(text_of(c, "upnp:storageUsed"), "-1");
  EXPECT_EQ(attr_of(i, "id"), "1$2");
  EXPECT_EQ(attr_of(i, "refID"), "9");
  EXPECT_EQ(attr_of(i, "tarvo:private"), "1");
  EXPECT_EQ(i->attribute_names[0], AVCP_DIDL_NAME(AT_ID));
  EXPECT_EQ(text_of(i, "dc:title"), "Song & dance");
  EXPECT_EQ(text_of(i, "upnp:artist"), "B");
  EXPECT_NE(avcp_didl_property_find2(i, "upnp:artist", "C"), nullptr);
  EXPECT_EQ(avcp_didl_property_find2(i, "upnp:artist", "D"), nullptr);
  std::vector<std::string> want = {"dc:title", "dc:creator", "upnp:class", "upnp:artist", "upnp:artist",
                                   "upnp:album", "upnp:originalTrackNumber", "upnp:albumArtURI",
                                   "dlna:containerType", "arib:objectType", "res", "res"};
  EXPECT_EQ(prop_names(i), want);
  const avcp_didl_property *art = avcp_didl_property_find(i, "upnp:albumArtURI");
  EXPECT_STREQ(avcp_didl_attribute_find(art->attribute_names, art->attribute_values, "dlna:profileID"), "JPEG_TN");
  const avcp_didl_property *res = avcp_didl_property_find(i, "res");
  EXPECT_STREQ(res->text, "http://h/1.mp3");
  EXPECT_STREQ(avcp_didl_attribute_find(res->attribute_names, res->attribute_values, "size"), "3000000000");
  EXPECT_STREQ(avcp_didl_attribute_find(res->attribute_names, res->attribute_values, "tarvo:filename"), "/m/a.mp3");
  EXPECT_STREQ(avcp_didl_attribute_find(res->attribute_names, res->attribute_values, "tarvo:filter"), "x");
  const avcp_didl_property *res2 = i->properties[11];
  EXPECT_STREQ(avcp_didl_attribute_find(res2->attribute_names, res2->attribute_values, "arib:resolution"), "r");
  EXPECT_STREQ(avcp_didl_attribute_find(res2->attribute_names, res2->attribute_values, "dlna:cleartextSize"), "5");
  EXPECT_EQ(avcp_didl_attribute_find(res2->attribute_names, res2->attribute_values, "size"), nullptr);
  // Every record has both arrays, even without attributes.
  const avcp_didl_property *t = avcp_didl_property_find(i, "dc:title");
  ASSERT_NE(t->attribute_names, nullptr);
  ASSERT_NE(t->attribute_values, nullptr);
  EXPECT_EQ(t->attribute_names[0], nullptr);
  EXPECT_EQ(avcp_didl_attribute_find_index(t->attribute_names, "id"), 0u);
}

TEST(DidlParse, TextIsTrimmedAndKeepsEntitiesAndCdata)
{
  parsed p(doc("<item id=\"1\"><dc:title> A\r\nB </dc:title>"
               "<dc:description><![CDATA[<b>x</b> & y]]></dc:description>"
               "<dc:creator>&#x41;&#66;&lt;&gt;&quot;&apos;</dc:creator>"
               "<upnp:genre>\xE3\x83\xAD\xE3\x83\x83\xE3\x82\xAF</upnp:genre>"
               "<dc:publisher>\t \n</dc:publisher></item>"));
  ASSERT_EQ(p.ok, 1);
  ASSERT_EQ(p.size(), 1u);
  EXPECT_EQ(text_of(p[0], "dc:title"), "A B");
  EXPECT_EQ(text_of(p[0], "dc:description"), "<b>x</b> & y");
  EXPECT_EQ(text_of(p[0], "dc:creator"), "AB<>\"'");
  EXPECT_EQ(text_of(p[0], "upnp:genre"), "\xE3\x83\xAD\xE3\x83\x83\xE3\x82\xAF");
  EXPECT_EQ(text_of(p[0], "dc:publisher"), "");
}

TEST(DidlParse, DropsWhatItDoesNotKnow)
{
  parsed p(doc("<item id=\"1\" foo=\"x\" xmlns:o=\"urn:other\" o:filename=\"f\">"
               "<dc:title>before<b xmlns=\"urn:other\">child<i>deep</i></b>after</dc:title>"
               "<container id=\"c\"><dc:title>nested</dc:title></container>"
               "<upnp:nosuch>gone</upnp:nosuch><o:title>gone</o:title><tarvo:dynamic/>"
               "<res protocolInfo=\"p\" foo=\"bar\" o:size=\"9\">r</res>"
               "</item>"
               "<desc id=\"d\" nameSpace=\"n\">skipped at the top</desc>"
               "<o:item xmlns:o=\"urn:other\" id=\"2\"><dc:title>other namespace</dc:title></o:item>"
               "<item id=\"3\"><dc:title>last</dc:title></item>"));
  ASSERT_EQ(p.ok, 1);
  ASSERT_EQ(p.size(), 2u);
  avcp_didl_object *i = p[0];
  EXPECT_EQ(attr_of(i, "id"), "1");
  EXPECT_EQ(i->attribute_names[1], nullptr);
  EXPECT_EQ(text_of(i, "dc:title"), "beforeafter");
  EXPECT_EQ(prop_names(i), (std::vector<std::string>{"dc:title", "res"}));
  const avcp_didl_property *res = avcp_didl_property_find(i, "res");
  EXPECT_EQ(res->attribute_names[0], AVCP_DIDL_NAME(AT_PROTOCOL_INFO));
  EXPECT_EQ(res->attribute_names[1], nullptr);
  EXPECT_EQ(attr_of(p[1], "id"), "3");
  EXPECT_EQ(text_of(p[1], "dc:title"), "last");
}

TEST(DidlParse, NamespacesByPrefix)
{
  // The unslashed namespaces and extended URIs map like the slashed ones;
  // attributes in the DIDL-Lite namespace keep their local name.
  parsed p("<r:DIDL-Lite xmlns:r=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite\""
           " xmlns:u=\"urn:schemas-upnp-org:metadata-1-0/upnp\">"
           "<r:item r:id=\"5\"><u:album>x</u:album></r:item></r:DIDL-Lite>");
  ASSERT_EQ(p.ok, 1);
  ASSERT_EQ(p.size(), 1u);
  EXPECT_EQ(text_of(p[0], "upnp:album"), "x");
  // "r:id" is in the unslashed DIDL-Lite namespace, which attributes do
  // not accept.
  EXPECT_EQ(p[0]->attribute_names[0], nullptr);
}

TEST(DidlParse, Failures)
{
  avcp_didl_object_list list = reinterpret_cast<avcp_didl_object_list>(&list);
  const char *bad[] = {
      "",
      "<DIDL-Lite><item/></DIDL-Lite>",
      "<DIDL-Lite xmlns=\"urn:other\"><item/></DIDL-Lite>",
      "<x xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\"/>",
      "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\"><item>",
      "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\"><item></container></DIDL-Lite>",
      ("<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\"><item><dc:title>x</dc:title></item>"
       "</DIDL-Lite>"),
      "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\"><item/></DIDL-Lite><x/>",
      "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\"><item a=\"1\" a=\"2\"/></DIDL-Lite>",
  };
  for (const char *t : bad) {
    EXPECT_EQ(avcp_didl_parse(t, &list), 0) << t;
    EXPECT_EQ(list, reinterpret_cast<avcp_didl_object_list>(&list)) << t;
  }
  EXPECT_EQ(avcp_didl_parse(nullptr, &list), 0);
}

TEST(DidlParse, EmptyDocumentGivesEmptyList)
{
  parsed p(doc(" \r\n<!-- none -->"));
  ASSERT_EQ(p.ok, 1);
  ASSERT_NE(p.list, nullptr);
  EXPECT_EQ(p.list[0], nullptr);
  parsed q(doc("<item/>"));
  ASSERT_EQ(q.ok, 1);
  ASSERT_EQ(q.size(), 1u);
  ASSERT_NE(q[0]->properties, nullptr);
  EXPECT_EQ(q[0]->properties[0], nullptr);
  EXPECT_EQ(q[0]->attribute_names[0], nullptr);
  EXPECT_EQ(q[0]->attribute_values[0], nullptr);
}

// The parser feeds 1024 bytes at a time; text that straddles a boundary,
// a document of exactly one piece and one a byte longer parse alike.
TEST(DidlParse, PieceBoundaries)
{
  std::string open = head() + "<item id=\"1\"><dc:title>";
  std::string close = "</dc:title></item></DIDL-Lite>";
  for (size_t total : {size_t(1023), size_t(1024), size_t(1025), size_t(2048), size_t(2049), size_t(5000)}) {
    ASSERT_GT(total, open.size() + close.size() + 2);
    size_t fill = total - open.size() - close.size();
    // A three-byte character placed across the first boundary.
    std::string title(fill, 'a');
    size_t at = 1024 - open.size() - 1;
    if (at + 3 <= fill) title.replace(at, 3, "\xE2\x82\xAC");
    std::string text = open + title + close;
    ASSERT_EQ(text.size(), total);
    parsed p(text);
    ASSERT_EQ(p.ok, 1) << total;
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(text_of(p[0], "dc:title"), title) << total;
  }
}

TEST(DidlParse, LargeDocument)
{
  std::string body;
  for (int i = 0; i < 500; i++)
    body += "<item id=\"" + std::to_string(i) + "\"><dc:title>t" + std::to_string(i) +
            "</dc:title><res protocolInfo=\"p\">u</res></item>";
  parsed p(doc(body));
  ASSERT_EQ(p.ok, 1);
  ASSERT_EQ(p.size(), 500u);
  EXPECT_EQ(attr_of(p[499], "id"), "499");
  EXPECT_EQ(text_of(p[250], "dc:title"), "t250");
}

TEST(DidlFrame, BeginAndEnd)
{
  sys_stralloc_rec sa{};
  ASSERT_EQ(avcp_didl_xml_begin(&sa), 1);
  ASSERT_EQ(avcp_didl_xml_end(&sa), 1);
  std::string s(sa.buf, sa.len);
  sys_stralloc_free(&sa);
  EXPECT_EQ(s,
            "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\"\r\n"
            "xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\"\r\n"
            "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"\r\n"
            "xmlns:dlna=\"urn:schemas-dlna-org:metadata-1-0/\"\r\n"
            "xmlns:tarvo=\"" AVCP_DIDL_NS_TARVO_URI "\"\r\n"
            "xmlns:arib=\"urn:schemas-arib-or-jp:elements-1-0/\">\r\n"
            "</DIDL-Lite>\r\n");
  // What the framing writes parses back, private names included.
  std::string doc = s.substr(0, s.size() - 14) +
                    "<item tarvo:private=\"1\"><res tarvo:filename=\"/a\">u</res></item></DIDL-Lite>";
  parsed p(doc);
  ASSERT_EQ(p.ok, 1);
  ASSERT_EQ(p.size(), 1u);
  EXPECT_EQ(attr_of(p[0], "tarvo:private"), "1");
}
