// A database file edited by hand or by another program: what the load
// drops or cuts, what Browse then answers, and that a save and a restart
// keep it so.
#include <vennard/content_db.h>
#include <vennard/server.h>
#include <vennard/vennard_limits.h>

#include <tarvo_util/util_limits.h>
#include <tarvo_util/xml.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "cds_test.h"
#include "didl_test.h"
#include "server_test.h"

using namespace server_test;

namespace {

const std::string kHead = didl_test::doc("").substr(0, didl_test::doc("").find("</DIDL-Lite>"));
const std::string kTail = "</DIDL-Lite>\r\n";

std::string root(const std::string &children, const std::string &max = "5")
{
  return "<container id=\"0\" parentID=\"-1\" restricted=\"1\" searchable=\"1\" childCount=\"1\" "
         "tarvo:containerUpdateID=\"3\" tarvo:maxObjectID=\"" + max + "\" tarvo:children=\"" + children +
         "\">\r\n<dc:title>root</dc:title>\r\n<upnp:class>object.container</upnp:class>\r\n</container>\r\n";
}

std::string box(const std::string &id, const std::string &parent, const std::string &children)
{
  return "<container id=\"" + id + "\" parentID=\"" + parent + "\" restricted=\"1\" childCount=\"9\" "
         "tarvo:containerUpdateID=\"1\" tarvo:children=\"" + children + "\">\r\n<dc:title>b" + id +
         "</dc:title>\r\n<upnp:class>object.container</upnp:class>\r\n</container>\r\n";
}

std::string item(const std::string &id, const std::string &parent, const std::string &title = "")
{
  return "<item id=\"" + id + "\" parentID=\"" + parent + "\" restricted=\"1\">\r\n<dc:title>" +
         (title.empty() ? "t" + id : title) + "</dc:title>\r\n<upnp:class>object.item.audioItem</upnp:class>\r\n</item>\r\n";
}

std::string ref(const std::string &id, const std::string &parent, const std::string &target)
{
  return "<item id=\"" + id + "\" parentID=\"" + parent + "\" refID=\"" + target + "\" restricted=\"1\">\r\n</item>\r\n";
}

struct damage : ::testing::Test {
  server srv;
  server_rec *s = &srv.s;
  void SetUp() override { srv.data.put("special_object", ""); }
  cds_test::answer children(const std::string &id) { return cds_test::browse(s, id, 0, 0); }
  std::string child_ids(const std::string &id)
  {
    cds_test::answer a = children(id);
    if (a.code) return "error " + std::to_string(a.code);
    std::string v;
    for (const std::string &c : cds_test::ids(a.out("Result"))) v += (v.empty() ? "" : ",") + c;
    return v;
  }
};

// Reference items without a live target made their container answer 501,
// a container of its own parent was its own child, references to each
// other came out untitled, a reference to a container was served as an
// item with the container's title, an item held children: such objects go
// at the load, with what hangs below them, and the lists that named them
// close up.
TEST_F(damage, ObjectsCutOffFromTheRootAndReferencesWithoutATargetItemGo)
{
  srv.data.put("data.xml", kHead + root("1,2,3", "5") +
                               box("1", "0", "10,11,12,13,14,1,0,20,99,48,49") + box("2", "2", "2,20") +
                               box("3", "4", "30") + box("4", "3", "3") + item("10", "1") + ref("11", "1", "10") +
                               ref("12", "1", "77") + ref("13", "1", "14") + ref("14", "1", "13") + item("20", "2") +
                               item("30", "3") + item("40", "77") + item("45", "10") + box("46", "10", "47") +
                               item("47", "46") + ref("48", "1", "1") + ref("49", "1", "48") + ref("50", "1", "20") +
                               kTail);
  auto check = [&](const char *when) {
    SCOPED_TRACE(when);
    EXPECT_EQ(child_ids("0"), "1");
    EXPECT_EQ(child_ids("1"), "10,11");
    cds_test::answer meta = cds_test::act(s, "Browse", cds_test::browse_args("11", "BrowseMetadata", 0, 0));
    EXPECT_NE(meta.out("Result").find("t10"), std::string::npos) << meta.text;
    for (const char *gone : {"2", "3", "4", "12", "13", "14", "20", "30", "40", "45", "46", "47", "48", "49", "50"})
      EXPECT_EQ(content_db_find(s, gone), content_db_count(s)) << gone;
  };
  ASSERT_TRUE(srv.start());
  check("after the load");
  ASSERT_TRUE(content_db_save(s));
  std::string saved = srv.data.get("data.xml");
  EXPECT_NE(saved.find("childCount=\"3\" tarvo:containerUpdateID=\"1\" tarvo:children=\"10,11,99\""),
            std::string::npos) << saved;
  EXPECT_NE(saved.find("childCount=\"1\" tarvo:containerUpdateID=\"3\" tarvo:maxObjectID=\"50\" tarvo:children=\"1\""),
            std::string::npos);
  srv.stop();
  ASSERT_TRUE(srv.start());
  check("after a restart");
  // The ids of the dropped objects are not handed out again.
  held lock(s);
  char number[CONTENT_DB_NUMBER_SIZE];
  ASSERT_TRUE(content_db_new_number(s, number));
  EXPECT_STREQ(number, "51");
}

// The same damage among ids far apart, which the load's check finds by
// search instead of by a table of numbers: the same objects go, and a
// child listed by a folder not its own leaves that folder's list.
TEST_F(damage, ObjectsCutOffAmongSparseIdsGoToo)
{
  srv.data.put("data.xml", kHead + root("1000,2000000,3000000", "90000000") +
                               box("1000", "0", "5000000,5500000,6000000,7000000,8000000,9000000,9500000,2000000") +
                               box("2000000", "77", "8000000,90000000") + box("3000000", "0", "5500000") +
                               item("5000000", "1000") + ref("6000000", "1000", "5000000") +
                               item("5500000", "3000000") + ref("7000000", "1000", "77") + item("8000000", "2000000") +
                               item("9000000", "1000") + item("90000000", "2000000") +
                               // A reference with a title of its own is kept encoded.
                               "<item id=\"9500000\" parentID=\"1000\" refID=\"77\" restricted=\"1\">\r\n"
                               "<dc:title>r</dc:title>\r\n</item>\r\n" + kTail);
  ASSERT_TRUE(srv.start());
  EXPECT_EQ(child_ids("0"), "1000,3000000");
  EXPECT_EQ(child_ids("1000"), "5000000,6000000,9000000");
  EXPECT_EQ(child_ids("3000000"), "5500000");
  for (const char *gone : {"2000000", "7000000", "8000000", "90000000", "9500000"})
    EXPECT_EQ(content_db_find(s, gone), content_db_count(s)) << gone;
}

// What a stored library relies on stays: the special objects below the
// root, references into them, a reference to a reference, and children
// listed that are not there.
TEST_F(damage, WhatTheServerWritesIsLeftAsItIs)
{
  srv.data.put("special_object", "Container:A\n");
  std::string special = box("Container:A", "0", "5,6,7");
  srv.data.put("data.xml", kHead + special + root("Container:A,1", "7") + box("1", "0", "3,4,8") + item("3", "1") +
                               ref("4", "1", "3") + ref("5", "Container:A", "3") + ref("6", "Container:A", "5") +
                               item("7", "Container:A") + kTail);
  ASSERT_TRUE(srv.start());
  std::string before = srv.data.get("data.xml");
  EXPECT_EQ(child_ids("Container:A"), "5,6,7");
  EXPECT_EQ(child_ids("1"), "3,4");
  ASSERT_TRUE(content_db_save(s));
  EXPECT_EQ(srv.data.get("data.xml"), before);
}

// A title of 32 MiB made every answer holding its item too large for a
// control point: the text is cut at a character below the bound, and the
// item stays.
TEST_F(damage, AnOverlongTextIsCutAtACharacter)
{
  std::string big = "a";
  while (big.size() < (32u << 20)) big += "\xC3\xA9&amp;";
  srv.data.put("data.xml", kHead + root("1") + box("1", "0", "2,3") + item("2", "1", big) + item("3", "1") + kTail);
  auto check = [&](const char *when) {
    SCOPED_TRACE(when);
    held lock(s);
    didl_property *title = didl_property_first(content_db_get(s, "2"), DIDL_NAME(EL_DC_TITLE));
    ASSERT_NE(title, nullptr);
    std::string t = title->text;
    EXPECT_LE(t.size(), DIDL_PROPERTY_TEXT_MAX);
    EXPECT_GT(t.size(), DIDL_PROPERTY_TEXT_MAX - 4);
    EXPECT_TRUE(xml_gen_is_legal_value(t.c_str()));
    EXPECT_EQ(t.substr(0, 7), "a\xC3\xA9&\xC3\xA9&");
  };
  ASSERT_TRUE(srv.start());
  check("after the load");
  cds_test::answer a = children("1");
  EXPECT_EQ(a.code, 0u);
  EXPECT_LT(a.text.size(), size_t(SOAP_BODY_MAX));
  EXPECT_EQ(cds_test::ids(a.out("Result")).size(), 2u);
  srv.stop();
  ASSERT_TRUE(srv.start());
  check("after a restart");
}

// An attribute value of 32 MiB was kept, and every answer holding its
// item was larger still: the value is cut at a character below the bound
// and the item stays.  The lists of ids, which grow with a container's
// children, are not values of the bound.
TEST_F(damage, AnOverlongAttributeValueIsCutAtACharacterAndIdListsStayWhole)
{
  std::string big = "a";
  while (big.size() < (2u << 20)) big += "\xC3\xA9&amp;";
  constexpr int kMany = 15000;
  std::string kids, many;
  for (int i = 0; i < kMany; i++) {
    kids += (i ? "," : "") + std::to_string(10 + i);
    many += item(std::to_string(10 + i), "3");
  }
  ASSERT_GT(kids.size(), size_t(DIDL_ATTRIBUTE_VALUE_MAX));
  const std::string artist = "<item id=\"2\" parentID=\"1\" restricted=\"1\">\r\n<dc:title>t2</dc:title>\r\n"
                             "<upnp:class>object.item.audioItem</upnp:class>\r\n<upnp:artist role=\"" + big +
                             "\">x</upnp:artist>\r\n</item>\r\n";
  // Values at the bound and one byte over.
  auto sized = [](const std::string &id, size_t n) {
    return "<item id=\"" + id + "\" parentID=\"1\" restricted=\"1\">\r\n<dc:title>t" + id +
           "</dc:title>\r\n<upnp:class>object.item.audioItem</upnp:class>\r\n<upnp:artist role=\"" +
           std::string(n, 'b') + "\">x</upnp:artist>\r\n</item>\r\n";
  };
  srv.data.put("data.xml", kHead + root("1,3") + box("1", "0", "2,4,5") + artist + box("3", "0", kids) +
                               sized("4", DIDL_ATTRIBUTE_VALUE_MAX) + sized("5", DIDL_ATTRIBUTE_VALUE_MAX + 1) +
                               many + kTail);
  auto check = [&](const char *when) {
    SCOPED_TRACE(when);
    {
      held lock(s);
      didl_property *p = didl_property_first(content_db_get(s, "2"), DIDL_NAME(EL_UPNP_ARTIST));
      ASSERT_NE(p, nullptr);
      std::string role = didl_attribute_get(&p->attributes, DIDL_NAME(AT_ROLE));
      EXPECT_LE(role.size(), DIDL_ATTRIBUTE_VALUE_MAX);
      EXPECT_GT(role.size(), DIDL_ATTRIBUTE_VALUE_MAX - 4);
      EXPECT_TRUE(xml_gen_is_legal_value(role.c_str()));
      EXPECT_EQ(role.substr(0, 7), "a\xC3\xA9&\xC3\xA9&");
      for (const char *id : {"4", "5"}) {
        p = didl_property_first(content_db_get(s, id), DIDL_NAME(EL_UPNP_ARTIST));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(std::string(didl_attribute_get(&p->attributes, DIDL_NAME(AT_ROLE))),
                  std::string(DIDL_ATTRIBUTE_VALUE_MAX, 'b')) << id;
      }
    }
    cds_test::answer a = children("1");
    EXPECT_EQ(a.code, 0u);
    EXPECT_LT(a.text.size(), size_t(32 * DIDL_ATTRIBUTE_VALUE_MAX));
    EXPECT_EQ(cds_test::ids(a.out("Result")), (std::vector<std::string>{"2", "4", "5"}));
    EXPECT_EQ(cds_test::browse(s, "3", 0, 1).out("TotalMatches"), std::to_string(kMany));
  };
  ASSERT_TRUE(srv.start());
  check("after the load");
  srv.stop();
  ASSERT_TRUE(srv.start());
  check("after a restart");
}

// A Search from the root showed another machine what lay below a private
// container whose objects lacked the mark (a file edited by hand); a
// Search below the container showed it nothing.  Both hide it now.
TEST_F(damage, ARemoteSearchFromTheRootFindsNothingBelowAPrivateContainer)
{
  auto open_box = [](const std::string &id, const std::string &parent, const std::string &children, bool hidden) {
    return "<container id=\"" + id + "\" parentID=\"" + parent + "\" restricted=\"1\" searchable=\"1\" " +
           (hidden ? "tarvo:private=\"1\" " : "") + "childCount=\"1\" tarvo:containerUpdateID=\"1\" "
           "tarvo:children=\"" + children + "\">\r\n<dc:title>b" + id +
           "</dc:title>\r\n<upnp:class>object.container</upnp:class>\r\n</container>\r\n";
  };
  srv.data.put("data.xml", kHead + root("1,5") + open_box("1", "0", "2,3,6", true) + item("2", "1") +
                               ref("3", "1", "4") + item("4", "5") + open_box("5", "0", "4", false) +
                               open_box("6", "1", "7", false) + item("7", "6") + kTail);
  ASSERT_TRUE(srv.start());
  auto found = [&](const std::string &from, bool remote) {
    cds_test::answer a = cds_test::act(s, "Search",
                                       {{"ContainerID", from}, {"SearchCriteria", "*"}, {"Filter", "*"},
                                        {"StartingIndex", "0"}, {"RequestedCount", "0"}, {"SortCriteria", "+@id"}},
                                       remote);
    std::string v;
    for (const std::string &id : cds_test::ids(a.out("Result"))) v += (v.empty() ? "" : ",") + id;
    return a.code ? "error " + std::to_string(a.code) : v;
  };
  EXPECT_EQ(found("0", false), "0,1,2,3,4,5,6,7");
  EXPECT_EQ(found("0", true), "0,4,5");
  EXPECT_EQ(found("1", true), "");
  EXPECT_EQ(found("5", true), "4,5");
}

// A stop that comes while the file is read ends the load, and the file
// stays as it was rather than being replaced by the defaults.
TEST_F(damage, AStopDuringTheLoadEndsItAndKeepsTheFile)
{
  std::string items, kids;
  for (int i = 2; i < 20000; i++) {
    kids += (i > 2 ? "," : "") + std::to_string(i);
    items += item(std::to_string(i), "1");
  }
  const std::string text = kHead + root("1") + box("1", "0", kids) + items + kTail;
  srv.data.put("data.xml", text);
  ASSERT_TRUE(cm_state_start(s));
  ASSERT_TRUE(content_db_open(s, srv.data.home.c_str()));
  std::atomic_ref<int32_t>(s->content.stopping).store(1);
  EXPECT_FALSE(content_db_open_finish(s, srv.data.home.c_str(), "Tarvo Media Server"));
  content_db_stop(s);
  cm_state_stop(s);
  EXPECT_FALSE(srv.data.exists("data.xml.bad"));
  EXPECT_TRUE(srv.data.get("data.xml") == text);
}

}  // namespace
