// Names, the parser, the finders and the document framing.
#include "helper_didl.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace didl_test;

namespace {

std::vector<std::string> prop_names(const avcp_didl_object *o)
{
  std::vector<std::string> v;
  for (avcp_didl_property **p = o->properties; *p; p++) v.push_back((*p)->element);
  return v;
}

}  // namespace

TEST(DidlNames, TableAndLookups)
{
  EXPECT_EQ(AVCP_DIDL_NAME_COUNT, 8 + 61 + 33 + 1);
  for (int i = 0; i < AVCP_DIDL_NAME_COUNT; i++)
    for (int j = i + 1; j < AVCP_DIDL_NAME_COUNT; j++) EXPECT_STRNE(avcp_didl_name_table[i], avcp_didl_name_table[j]);
  for (int i = AVCP_DIDL_EL_DIDL_LITE; i < AVCP_DIDL_AT_ID; i++)
    EXPECT_EQ(avcp_didl_element_name_find(std::string(avcp_didl_name_table[i]).c_str()), avcp_didl_name_table[i]);
  for (int i = AVCP_DIDL_AT_ID; i < AVCP_DIDL_WILDCARD; i++)
    EXPECT_EQ(avcp_didl_attribute_name_find(std::string(avcp_didl_name_table[i]).c_str()), avcp_didl_name_table[i]);
  for (const char *none : {"dc:Title", "title", "*", "id", "urn:schemas-dlna-org:metadata-1-0/"})
    EXPECT_EQ(avcp_didl_element_name_find(none), nullptr) << none;
  EXPECT_EQ(avcp_didl_attribute_name_find("dc:title"), nullptr);
  avcp_didl_name_pair p;
  avcp_didl_property_parameter_set("dc:title", "nosuch", &p);
  EXPECT_TRUE(!p.element && !p.attribute);
}

TEST(DidlValues, DerivedFromAndBoolean)
{
  EXPECT_EQ(avcp_didl_derived_from("object.container", "object.container"), 1);
  EXPECT_EQ(avcp_didl_derived_from("object.item.audioItem", "object.item"), 1);
  EXPECT_EQ(avcp_didl_derived_from("object.containerX", "object.container"), 0);
  EXPECT_EQ(avcp_didl_boolean_value("yes"), 1);
  EXPECT_EQ(avcp_didl_boolean_value("TRUE"), 0);
}

TEST(DidlParse, RecordsOfEveryNamespace)
{
  parsed p(doc("<container id=\"1\" childCount=\"2\"><dc:title>Music</dc:title></container>" +
               item("1$2", "<dc:title>Song &amp; dance</dc:title><upnp:artist role=\"Composer\">B</upnp:artist>"
                           "<upnp:artist>C</upnp:artist><dlna:containerType>T</dlna:containerType>"
                           "<arib:objectType>ARIB_TB</arib:objectType>"
                           "<res protocolInfo=\"p\" size=\"3000000000\" tarvo:filename=\"/m/a.mp3\">h/1</res>"
                           "<res arib:resolution=\"r\" dlna:profileID=\"MP3\">h/2</res>",
                    " refID=\"9\" tarvo:private=\"1\"")));
  ASSERT_EQ(p.ok, 1);
  ASSERT_EQ(p.size(), 2u);
  avcp_didl_object *c = p[0], *i = p[1];
  EXPECT_EQ(c->element, AVCP_DIDL_NAME(EL_CONTAINER));
  EXPECT_EQ(i->element, AVCP_DIDL_NAME(EL_ITEM));
  EXPECT_EQ(attr_of(c, "childCount"), "2");
  EXPECT_EQ(attr_of(i, "tarvo:private"), "1");
  EXPECT_EQ(i->attribute_names[1], AVCP_DIDL_NAME(AT_REF_ID));
  EXPECT_EQ(text_of(i, "dc:title"), "Song & dance");
  EXPECT_NE(avcp_didl_property_find2(i, "upnp:artist", "C"), nullptr);
  EXPECT_EQ(avcp_didl_property_find2(i, "upnp:artist", "D"), nullptr);
  EXPECT_EQ(prop_names(i), (std::vector<std::string>{"dc:title", "upnp:artist", "upnp:artist", "dlna:containerType",
                                                     "arib:objectType", "res", "res"}));
  EXPECT_EQ(attr_of(i->properties[5], "tarvo:filename"), "/m/a.mp3");
  EXPECT_EQ(attr_of(i->properties[5], "size"), "3000000000");
  EXPECT_EQ(attr_of(i->properties[6], "arib:resolution"), "r");
  EXPECT_EQ(attr_of(i->properties[6], "dlna:profileID"), "MP3");
  // Records without attributes still have both (empty) arrays.
  EXPECT_TRUE(i->properties[0]->attribute_names && !i->properties[0]->attribute_names[0]);
  EXPECT_TRUE(i->properties[0]->attribute_values && !i->properties[0]->attribute_values[0]);
}

TEST(DidlParse, TextIsTrimmedWithEntitiesAndCdata)
{
  parsed p(doc(item("1", "<dc:title> A\r\nB </dc:title><dc:description><![CDATA[<b>x</b> & y]]></dc:description>"
                         "<dc:creator>&#x41;&#66;&lt;&quot;</dc:creator><dc:publisher>\t \n</dc:publisher>")));
  ASSERT_EQ(p.ok, 1);
  EXPECT_EQ(text_of(p[0], "dc:title"), "A B");
  EXPECT_EQ(text_of(p[0], "dc:description"), "<b>x</b> & y");
  EXPECT_EQ(text_of(p[0], "dc:creator"), "AB<\"");
  EXPECT_EQ(text_of(p[0], "dc:publisher"), "");
}

TEST(DidlParse, DropsWhatItDoesNotKnow)
{
  parsed p(doc("<item id=\"1\" foo=\"x\" xmlns:o=\"urn:other\" o:filename=\"f\">"
               "<dc:title>before<b xmlns=\"urn:other\">child<i>deep</i></b>after</dc:title>"
               "<container id=\"c\"><dc:title>nested</dc:title></container>"
               "<upnp:nosuch>gone</upnp:nosuch><o:title>gone</o:title><tarvo:dynamic/>"
               "<res protocolInfo=\"p\" foo=\"bar\" o:size=\"9\">r</res></item>"
               "<desc id=\"d\">skipped</desc><o:item xmlns:o=\"urn:other\" id=\"2\"/>" +
               item("3", "") +
               "<item xmlns:r=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite\" r:id=\"4\"></item>"));
  ASSERT_EQ(p.ok, 1);
  ASSERT_EQ(p.size(), 3u);
  EXPECT_EQ(p[0]->attribute_names[1], nullptr);
  EXPECT_EQ(text_of(p[0], "dc:title"), "beforeafter");
  EXPECT_EQ(prop_names(p[0]), (std::vector<std::string>{"dc:title", "res"}));
  EXPECT_EQ(p[0]->properties[1]->attribute_names[1], nullptr);
  EXPECT_EQ(attr_of(p[1], "id"), "3");
  // Attributes take the DIDL-Lite namespace only with its final slash.
  EXPECT_EQ(p[2]->attribute_names[0], nullptr);
}

TEST(DidlParse, FailuresAndEmptyDocuments)
{
  const std::string ns = "xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\"";
  for (const std::string &t : {std::string(), std::string("<DIDL-Lite><item/></DIDL-Lite>"),
                               std::string("<DIDL-Lite xmlns=\"urn:other\"/>"), "<x " + ns + "/>",
                               "<DIDL-Lite " + ns + "><item>", "<DIDL-Lite " + ns + "><item><dc:title/></item></DIDL-Lite>",
                               "<DIDL-Lite " + ns + "/><x/>"}) {
    avcp_didl_object_list list = nullptr;
    EXPECT_EQ(avcp_didl_parse(t.c_str(), &list), 0) << t;
    EXPECT_EQ(list, nullptr) << t;
  }
  parsed empty(doc(" <!-- none --> "));
  ASSERT_EQ(empty.ok, 1);
  ASSERT_NE(empty.list, nullptr);
  EXPECT_EQ(empty.list[0], nullptr);
  parsed bare(doc("<item/>"));
  ASSERT_EQ(bare.size(), 1u);
  EXPECT_TRUE(bare[0]->properties && !bare[0]->properties[0] && !bare[0]->attribute_names[0]);
}

// The text goes to the XML parser 1024 bytes at a time: a character split
// across pieces, one piece exactly and a byte more must parse alike.
TEST(DidlParse, PieceBoundaries)
{
  std::string open = doc(""), close = "</dc:title></item></DIDL-Lite>";
  open = open.substr(0, open.size() - 12) + "<item id=\"1\"><dc:title>";
  for (size_t total : {1024, 1025, 2049, 5000}) {
    std::string title(total - open.size() - close.size(), 'a');
    size_t at = 1023 - open.size();
    if (at + 3 <= title.size()) title.replace(at, 3, "\xE2\x82\xAC");
    parsed p(open + title + close);
    ASSERT_EQ(p.ok, 1) << total;
    EXPECT_EQ(text_of(p[0], "dc:title"), title) << total;
  }
}

TEST(DidlFrame, BeginAndEndParseBack)
{
  sys_stralloc_rec sa{};
  ASSERT_EQ(avcp_didl_xml_begin(&sa), 1);
  std::string s(sa.buf, sa.len);
  EXPECT_EQ(s, "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\"\r\n"
               "xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\"\r\n"
               "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"\r\nxmlns:dlna=\"urn:schemas-dlna-org:metadata-1-0/\"\r\n"
               "xmlns:tarvo=\"" AVCP_DIDL_NS_TARVO_URI "\"\r\nxmlns:arib=\"urn:schemas-arib-or-jp:elements-1-0/\">\r\n");
  ASSERT_EQ(sys_stralloc_cats(&sa, "<item><res tarvo:filename=\"/a\">u</res></item>"), 1);
  ASSERT_EQ(avcp_didl_xml_end(&sa), 1);
  s.assign(sa.buf, sa.len);
  sys_stralloc_free(&sa);
  EXPECT_EQ(s.substr(s.size() - 14), "</DIDL-Lite>\r\n");
  parsed p(s);
  ASSERT_EQ(p.size(), 1u);
  EXPECT_EQ(attr_of(p[0]->properties[0], "tarvo:filename"), "/a");
}
