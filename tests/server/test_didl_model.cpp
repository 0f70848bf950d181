#include <vennard/didl.h>
#include <vennard/vennard_limits.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "didl_test.h"
#include "tarvo_test.h"

using didl_test::object_ptr;
using didl_test::parse;

namespace {

const std::string kHead = "<item id=\"\" parentID=\"4\" restricted=\"0\">";

bool checks(const std::string &properties, const std::string &head = kHead)
{
  const char *end = head.rfind("<item", 0) == 0 ? "</item>" : "</container>";
  object_ptr o = parse(head + properties + end);
  EXPECT_TRUE(o) << properties;
  return o && didl_object_check(o.get());
}

std::string pair_text(const char *name, const char *attribute, int allow_private)
{
  avcp_didl_name_pair p;
  if (!didl_name_pair_checked(name, attribute, allow_private, &p)) return "refused";
  return std::string(p.element ? p.element : "-") + "@" + (p.attribute ? p.attribute : "-");
}

// Ids of the objects that match, in order.
std::string matching(const char *criteria, const std::vector<object_ptr> &objects, int allow_private = 0)
{
  didl_search s{};
  EXPECT_TRUE(didl_search_parse(&s, criteria, allow_private)) << criteria;
  std::string ids;
  for (const auto &o : objects)
    if (didl_search_match(&s, o.get())) ids += std::string(didl_attribute_get(&o->attributes, DIDL_NAME(AT_ID))) + " ";
  didl_search_free(&s);
  return ids;
}

std::vector<object_ptr> tracks()
{
  std::vector<object_ptr> v;
  v.push_back(parse("<item id=\"1\" parentID=\"0\" restricted=\"1\"><dc:title>Beta</dc:title>"
                    "<upnp:class>object.item.audioItem.musicTrack</upnp:class><upnp:album>Red</upnp:album>"
                    "<upnp:originalTrackNumber>10</upnp:originalTrackNumber>"
                    "<res protocolInfo=\"a:*:b:*\" size=\"500\">/1-2.mp3</res></item>"));
  v.push_back(parse("<item id=\"2\" parentID=\"0\" restricted=\"1\"><dc:title>alpha</dc:title>"
                    "<upnp:class>object.item.imageItem</upnp:class><upnp:artist>x</upnp:artist>"
                    "<upnp:originalTrackNumber>2</upnp:originalTrackNumber>"
                    "<upnp:albumArtURI>/9-9.jpg</upnp:albumArtURI></item>"));
  v.push_back(parse("<item id=\"3\" parentID=\"0\" restricted=\"1\"><dc:title>Gamma</dc:title>"
                    "<upnp:class>object.itemx</upnp:class></item>"));
  return v;
}

}  // namespace

TEST(DidlModel, ParserIsStrict)
{
  auto parses = [](const std::string &body) {
    didl_object *o = nullptr;
    bool ok = didl_parse_one(didl_test::doc(body).c_str(), 0, &o);
    didl_object_free(o);
    return ok;
  };
  const std::string t = "<dc:title>t</dc:title>";
  EXPECT_TRUE(parses("<item id=\"1\" xml:lang=\"en\">" + t + "</item>"));  // foreign namespace: ignored
  EXPECT_FALSE(parses("<item id=\"1\" colour=\"red\">" + t + "</item>"));
  EXPECT_FALSE(parses("<item>" + t + "<dc:nosuch>x</dc:nosuch></item>"));
  EXPECT_FALSE(parses("<item><dlna:containerType>x</dlna:containerType></item>"));
  EXPECT_FALSE(parses("<item><dc:title>a<b>c</b></dc:title></item>"));
  EXPECT_FALSE(parses("<item><item/></item>"));
  EXPECT_FALSE(parses("<res>x</res>"));
  EXPECT_FALSE(parses("<item>" + t + "</item><item>" + t + "</item>"));
  EXPECT_FALSE(parses("<item>" + t + "</item"));
  didl_object *o = nullptr;
  EXPECT_FALSE(didl_parse_one("<DIDL-Lite><item/></DIDL-Lite>", 0, &o));

  // Attributes keep their namespace's prefix; text is trimmed.
  object_ptr p = parse("<item id=\"1\" tarvo:private=\"1\"><res tarvo:filename=\"/f\" dlna:profileID=\"P\">"
                       "\r\n /1-1.mp3\t</res></item>");
  ASSERT_TRUE(p);
  didl_property *res = didl_property_first(p.get(), DIDL_NAME(EL_RES));
  ASSERT_TRUE(res);
  EXPECT_STREQ(res->text, "/1-1.mp3");
  EXPECT_STREQ(didl_attribute_get(&res->attributes, DIDL_NAME(AT_DLNA_PROFILE_ID)), "P");
  EXPECT_STREQ(didl_attribute_get(&p->attributes, DIDL_NAME(AT_TARVO_PRIVATE)), "1");

  tarvo_test::scratch_dir dir;
  sys_ptralloc_rec objects{};
  EXPECT_FALSE(didl_parse((dir / "missing.xml").c_str(), 0, &objects));
  tarvo_test::write_file(dir / "two.xml", didl_test::doc("<item id=\"1\"/><container id=\"2\"/>"));
  EXPECT_FALSE(didl_parse((dir / "two.xml").c_str(), 1, &objects));  // neither passes the check
  ASSERT_TRUE(didl_parse((dir / "two.xml").c_str(), 0, &objects));
  EXPECT_EQ(objects.len, 2u);
  didl_object_array_free(&objects);
}

TEST(DidlModel, ObjectCheck)
{
  const std::string ok = "<dc:title>t</dc:title><upnp:class>object.item</upnp:class>";
  EXPECT_TRUE(checks(ok));
  EXPECT_FALSE(checks(ok, "<item id=\"\" parentID=\"4\">"));
  EXPECT_FALSE(checks(ok + "<dc:title>u</dc:title>"));
  EXPECT_TRUE(checks(ok + "<upnp:artist>a</upnp:artist><upnp:artist>b</upnp:artist>"));
  EXPECT_FALSE(checks("<dc:title>t</dc:title><upnp:class>object.container</upnp:class>"));
  EXPECT_FALSE(checks("<upnp:class>object.item</upnp:class>"));
  EXPECT_FALSE(checks(ok + "<res>/x</res>"));
  EXPECT_TRUE(checks(ok + "<res protocolInfo=\"*:*:*:*\">/x</res>"));
  EXPECT_TRUE(checks(ok + "<dc:date>2007-03-15</dc:date>"));
  EXPECT_FALSE(checks(ok + "<dc:date>2007-3-15x</dc:date>"));
  EXPECT_FALSE(checks(ok + "<desc id=\"d\">x</desc>"));
  EXPECT_FALSE(checks(ok + "<upnp:createClass>object.item</upnp:createClass>"));

  const std::string folder = "<container id=\"\" parentID=\"4\" restricted=\"0\">";
  EXPECT_FALSE(checks("<dc:title>f</dc:title><upnp:class>object.container.storageFolder</upnp:class>", folder));
  EXPECT_TRUE(checks("<dc:title>f</dc:title><upnp:class>object.container.storageFolder</upnp:class>"
                     "<upnp:storageUsed>-1</upnp:storageUsed>",
                     folder));
  EXPECT_FALSE(checks("<dc:title>f</dc:title><upnp:class>object.container.storageVolume</upnp:class>"
                      "<upnp:storageTotal>1</upnp:storageTotal><upnp:storageUsed>1</upnp:storageUsed>"
                      "<upnp:storageFree>1</upnp:storageFree>",
                      folder));

  // A value that cannot be written back fails the check at the edge.
  object_ptr o = parse(kHead + ok + "</item>");
  ASSERT_TRUE(o);
  ASSERT_TRUE(didl_property_add(o.get(), DIDL_NAME(EL_DC_DESCRIPTION), "a\tb", nullptr));
  EXPECT_FALSE(didl_object_check(o.get()));
}

TEST(DidlModel, NamesFromRequests)
{
  EXPECT_EQ(pair_text("*", "", 0), "*@-");
  EXPECT_EQ(pair_text("", "id", 0), "-@id");
  EXPECT_EQ(pair_text("res", "nosuch", 0), "-@-");
  EXPECT_EQ(pair_text("dc:nosuch", "", 0), "refused");
  EXPECT_EQ(pair_text("tarvo:dynamic", "", 1), "refused");
  EXPECT_EQ(pair_text("res", "tarvo:timestamp", 1), "refused");
  EXPECT_EQ(pair_text("", "tarvo:children", 1), "refused");
  EXPECT_EQ(pair_text("res", "tarvo:filename", 0), "refused");
  EXPECT_EQ(pair_text("res", "tarvo:filename", 1), "res@tarvo:filename");

  didl_filter f{};
  ASSERT_TRUE(didl_filter_parse(&f, "dc:creator,ALLIP,@tarvo:private", 0));
  EXPECT_TRUE(f.all_interfaces);
  EXPECT_TRUE(didl_filter_match(&f, DIDL_NAME(EL_DC_CREATOR), nullptr));
  EXPECT_FALSE(didl_filter_match(&f, DIDL_NAME(EL_ITEM), DIDL_NAME(AT_TARVO_PRIVATE)));
  EXPECT_FALSE(didl_filter_match(&f, DIDL_NAME(EL_RES), nullptr));
  uint32_t n = 0;
  while (f.entries[n]) n++;
  EXPECT_EQ(n, 14u);  // dc:creator and the thirteen always kept
  didl_filter_free(&f);
  ASSERT_TRUE(didl_filter_parse(&f, "@tarvo:private", 1));
  EXPECT_FALSE(f.all_interfaces);
  EXPECT_TRUE(didl_filter_match(&f, DIDL_NAME(EL_CONTAINER), DIDL_NAME(AT_TARVO_PRIVATE)));
  didl_filter_free(&f);
}

TEST(DidlModel, SearchCriteria)
{
  auto v = tracks();
  for (const auto &o : v) ASSERT_TRUE(o);
  EXPECT_EQ(matching("*", v), "1 2 3 ");
  EXPECT_EQ(matching("upnp:class derivedfrom \"object.item\"", v), "1 2 ");
  EXPECT_EQ(matching("res@size > \"100\"", v), "1 ");
  EXPECT_EQ(matching("upnp:artist doesNotContain \"y\"", v), "2 ");
  EXPECT_EQ(matching("upnp:artist exists false", v), "1 3 ");
  EXPECT_EQ(matching("@refID exists false and dc:title < \"b\"", v), "2 ");
  // "and" binds tighter than "or", brackets tighter still.
  EXPECT_EQ(matching("dc:title = \"gamma\" or dc:title = \"beta\" and upnp:album = \"Blue\"", v), "3 ");
  EXPECT_EQ(matching("(dc:title = \"gamma\" or dc:title = \"beta\") and upnp:album = \"red\"", v), "1 ");
  EXPECT_EQ(matching("dc:title@nosuch exists true or @id = \"3\"", v), "3 ");

  didl_search s{};
  for (const char *bad : {"", " *", "dc:title", "dc:title = \"a\" and", "nosuch:x exists true",
                          "res@tarvo:timestamp exists true", "res@tarvo:filename exists true", "* exists true"}) {
    EXPECT_FALSE(didl_search_parse(&s, bad, 0)) << bad;
    EXPECT_EQ(s.nodes.len, 0u);
  }
  EXPECT_EQ(matching("res@tarvo:filename exists false", v, 1), "1 2 3 ");

  // A client may search with the full URL of a stored path.
  char pa[] = "http://10.0.0.1:8200", pb[] = "http://10.0.0.1:82";
  char *const prefixes[] = {pb, pa, nullptr};
  ASSERT_TRUE(didl_search_parse(&s, "upnp:albumArtURI = \"http://10.0.0.1:8200/9-9.jpg\" or "
                                    "dc:title = \"http://10.0.0.1:8200/x\"", 0));
  didl_search_strip_prefixes(&s, prefixes);
  EXPECT_STREQ(static_cast<avcp_didl_search_relation *>(s.nodes.buf[0])->operand, "/9-9.jpg");
  EXPECT_STREQ(static_cast<avcp_didl_search_relation *>(s.nodes.buf[1])->operand, "http://10.0.0.1:8200/x");
  EXPECT_TRUE(didl_search_match(&s, v[1].get()));
  didl_search_free(&s);
}

// A file whose name is not UTF-8 is found by the form in which the answers
// give its name, with any operator; ordinary names compare as before.
TEST(DidlModel, SearchOnAFileNameThatIsNotUtf8TakesTheAnswersForm)
{
  std::vector<object_ptr> v;
  v.push_back(parse("<item id=\"1\" parentID=\"0\" restricted=\"1\"><dc:title>a</dc:title>"
                    "<res tarvo:filename=\"%/m/caf%E9.mp3\"></res></item>"));
  v.push_back(parse("<item id=\"2\" parentID=\"0\" restricted=\"1\"><dc:title>b</dc:title>"
                    "<res tarvo:filename=\"/m/cafe.mp3\"></res></item>"));
  for (const auto &o : v) ASSERT_TRUE(o);
  ASSERT_STREQ(didl_attribute_get(&property_at(v[0].get(), 1)->attributes, DIDL_NAME(AT_TARVO_FILENAME)),
               "/m/caf\xE9.mp3");
  EXPECT_EQ(matching("res@tarvo:filename = \"%/m/caf%E9.mp3\"", v, 1), "1 ");
  EXPECT_EQ(matching("res@tarvo:filename = \"%/m/caf%e9.mp3\" or dc:title = \"b\"", v, 1), "1 2 ");
  EXPECT_EQ(matching("res@tarvo:filename contains \"%caf%E9\"", v, 1), "1 ");
  EXPECT_EQ(matching("res@tarvo:filename doesNotContain \"%caf%E9\"", v, 1), "2 ");
  EXPECT_EQ(matching("res@tarvo:filename != \"%/m/caf%E9.mp3\"", v, 1), "2 ");
  EXPECT_EQ(matching("res@tarvo:filename = \"/m/cafe.mp3\"", v, 1), "2 ");
  // Forms of legal or broken bytes are the text itself.
  EXPECT_EQ(matching("res@tarvo:filename = \"%/m/cafe.mp3\"", v, 1), "");
  EXPECT_EQ(matching("res@tarvo:filename = \"%/m/caf%E\"", v, 1), "");
  EXPECT_EQ(matching("dc:title = \"%/m/caf%E9.mp3\"", v, 1), "");
}

// contains found a name that is not UTF-8 only by an operand that began
// with its listed form's "%"; a part such as "%E9" or "caf%E9" found
// nothing.  Either form of the name is searched now, and doesNotContain
// wants every name free of the part in both.
TEST(DidlModel, ContainsTakesAnyPartOfTheListedFormOfAFileName)
{
  std::vector<object_ptr> v;
  v.push_back(parse("<item id=\"1\" parentID=\"0\" restricted=\"1\"><dc:title>a</dc:title>"
                    "<res tarvo:filename=\"%/m/caf%E9.mp3\"></res></item>"));
  v.push_back(parse("<item id=\"2\" parentID=\"0\" restricted=\"1\"><dc:title>b</dc:title>"
                    "<res tarvo:filename=\"/m/cafe.mp3\"></res></item>"));
  // A UTF-8 name whose text holds "%E9", beside one that is not UTF-8.
  v.push_back(parse("<item id=\"3\" parentID=\"0\" restricted=\"1\"><dc:title>c</dc:title>"
                    "<res tarvo:filename=\"/m/50%E9.mp3\"></res>"
                    "<res tarvo:filename=\"%/m/na%EFve.mp3\"></res></item>"));
  for (const auto &o : v) ASSERT_TRUE(o);
  EXPECT_EQ(matching("res@tarvo:filename contains \"%E9\"", v, 1), "1 3 ");
  EXPECT_EQ(matching("res@tarvo:filename contains \"caf%e9.MP3\"", v, 1), "1 ");
  EXPECT_EQ(matching("res@tarvo:filename contains \"%/m/\"", v, 1), "1 3 ");
  EXPECT_EQ(matching("res@tarvo:filename contains \"%EFve\"", v, 1), "3 ");
  EXPECT_EQ(matching("res@tarvo:filename contains \"/m/caf\"", v, 1), "1 2 ");
  EXPECT_EQ(matching("res@tarvo:filename doesNotContain \"%E9\"", v, 1), "2 ");
  EXPECT_EQ(matching("res@tarvo:filename doesNotContain \"%EF\"", v, 1), "1 2 ");
  EXPECT_EQ(matching("res@tarvo:filename doesNotContain \"caf\"", v, 1), "3 ");
  // The listed form is no property of other names nor of other operators.
  EXPECT_EQ(matching("dc:title contains \"%\"", v, 1), "");
  EXPECT_EQ(matching("res@tarvo:filename = \"%E9\"", v, 1), "");
}

TEST(DidlModel, SortCriteria)
{
  auto v = tracks();
  std::vector<didl_object *> objs;
  for (const auto &o : v) objs.push_back(o.get());
  auto order = [&](const char *text) {
    didl_sort_criteria c{};
    EXPECT_TRUE(didl_sort_parse(&c, text, 0)) << text;
    didl_sort(&c, objs.data(), uint32_t(objs.size()));
    didl_sort_free(&c);
    std::string ids;
    for (auto *o : objs) ids += didl_attribute_get(&o->attributes, DIDL_NAME(AT_ID));
    return ids;
  };
  EXPECT_EQ(order("+dc:title"), "213");
  EXPECT_EQ(order("-dc:title"), "312");
  EXPECT_EQ(order("+upnp:originalTrackNumber"), "213");
  EXPECT_EQ(order("-upnp:originalTrackNumber,+dc:title"), "312");
  EXPECT_EQ(order("+res@size,-@id"), "132");
  didl_sort_criteria c{};
  for (const char *bad : {"dc:title", "+tarvo:timestamp", "+res@tarvo:timestamp", "+desc", "+nosuch", "+res@nosuch",
                          "+dc:title,-res@tarvo:filter"})
    EXPECT_FALSE(didl_sort_parse(&c, bad, 0)) << bad;
  EXPECT_TRUE(didl_sort_parse(&c, "-res@tarvo:filter", 1));
  didl_sort_free(&c);
}

TEST(DidlModel, Editing)
{
  object_ptr o = parse("<container id=\"7\" parentID=\"0\" restricted=\"1\" childCount=\"2\""
                       " tarvo:children=\"12,3,45\"><dc:title>t</dc:title><upnp:class>object.container</upnp:class>"
                       "<upnp:createClass includeDerived=\"1\">object.item.audioItem</upnp:createClass>"
                       "<upnp:createClass includeDerived=\"0\">object.container.album</upnp:createClass>"
                       "<res protocolInfo=\"p\" size=\"1\">/a</res></container>");
  ASSERT_TRUE(o);
  didl_attributes *a = &o->attributes;
  const char *children = DIDL_NAME(AT_TARVO_CHILDREN), *count = DIDL_NAME(AT_CHILD_COUNT);

  char *list = static_cast<char *>(a->values.buf[didl_attribute_index(a, children)]);
  EXPECT_TRUE(didl_list_remove(list, "3"));
  EXPECT_STREQ(list, "12,45");
  EXPECT_FALSE(didl_list_remove(list, "4"));
  EXPECT_TRUE(didl_list_remove(list, "45"));
  EXPECT_STREQ(list, "12");
  EXPECT_TRUE(didl_list_remove(list, "12"));
  EXPECT_STREQ(list, "");
  ASSERT_TRUE(didl_attribute_list_append(a, children, "8"));
  ASSERT_TRUE(didl_attribute_list_append(a, children, "9"));
  EXPECT_STREQ(didl_attribute_get(a, children), "8,9");

  char piece[3];
  uint32_t pos = 0;
  const char *ids = "8,123,,9";
  std::vector<std::string> got;
  while (didl_csv_next(ids, &pos, piece, sizeof piece)) got.push_back(piece);
  EXPECT_EQ(got, std::vector<std::string>{"8"});  // "123" does not fit
  EXPECT_EQ(pos, 2u);

  ASSERT_TRUE(didl_counter_add(a, count, 5));
  EXPECT_STREQ(didl_attribute_get(a, count), "7");
  ASSERT_TRUE(didl_counter_add(a, count, -9));
  EXPECT_STREQ(didl_attribute_get(a, count), "0");
  ASSERT_TRUE(didl_counter_add(a, DIDL_NAME(AT_TARVO_CONTAINER_UPDATE_ID), 1));
  EXPECT_STREQ(didl_attribute_get(a, DIDL_NAME(AT_TARVO_CONTAINER_UPDATE_ID)), "1");
  EXPECT_TRUE(didl_attribute_remove(a, count));
  EXPECT_FALSE(didl_attribute_remove(a, count));
  EXPECT_EQ(didl_attribute_index(a, count), a->names.len);
  EXPECT_EQ(a->names.len, a->values.len);

  EXPECT_TRUE(didl_class_allowed_create(o.get(), "object.item.audioItem.musicTrack"));
  EXPECT_TRUE(didl_class_allowed_create(o.get(), "object.container.album"));
  EXPECT_FALSE(didl_class_allowed_create(o.get(), "object.container.album.musicAlbum"));
  EXPECT_TRUE(didl_class_allowed_search(o.get(), "object.anything"));

  // A copy is deep, and properties compare by their attribute sets.
  didl_object *copy;
  ASSERT_TRUE(didl_object_clone(o.get(), &copy));
  object_ptr c(copy);
  didl_property *res = didl_property_first(c.get(), DIDL_NAME(EL_RES));
  ASSERT_TRUE(res);
  ASSERT_TRUE(didl_string_replace(&res->text, "/b"));
  EXPECT_STREQ(didl_property_first(o.get(), DIDL_NAME(EL_RES))->text, "/a");
  object_ptr other = parse("<item><res size=\"1\" protocolInfo=\"p\">/a</res></item>");
  ASSERT_TRUE(other);
  didl_property *reordered = didl_property_first(other.get(), DIDL_NAME(EL_RES));
  EXPECT_EQ(didl_property_find_equal(&o->properties, reordered), 4u);
  EXPECT_EQ(didl_property_find_equal(&c->properties, reordered), c->properties.len);
  ASSERT_TRUE(didl_attribute_set(&reordered->attributes, DIDL_NAME(AT_SIZE), "2"));
  EXPECT_FALSE(didl_property_equal(reordered, didl_property_first(o.get(), DIDL_NAME(EL_RES))));

  EXPECT_TRUE(didl_required_property(DIDL_NAME(EL_UPNP_STORAGE_MEDIUM)));
  EXPECT_FALSE(didl_required_property(DIDL_NAME(EL_UPNP_ARTIST)));
  EXPECT_TRUE(didl_fixed_property(DIDL_NAME(EL_UPNP_SEARCH_CLASS), 0));
  EXPECT_FALSE(didl_fixed_property(DIDL_NAME(EL_UPNP_SEARCH_CLASS), 1));
}

// Values that many records repeat (flags, parent ids, classes, protocolInfo,
// genres) are kept once: editing, copying or freeing one record leaves the
// others as they were.
TEST(DidlModel, RepeatedValuesStayEachRecordsOwn)
{
  const std::string text = "<item id=\"5\" parentID=\"4\" restricted=\"1\"><dc:title></dc:title>"
                           "<upnp:class>object.item.audioItem</upnp:class><upnp:genre>Rock</upnp:genre>"
                           "<res protocolInfo=\"http-get:*:audio/mpeg:*\" size=\"0\">/a</res></item>";
  std::vector<object_ptr> v;
  for (int i = 0; i < 3; i++) v.push_back(parse(text));
  ASSERT_TRUE(v[0] && v[1] && v[2]);
  didl_object *o = v[0].get();
  didl_property *res = didl_property_first(o, DIDL_NAME(EL_RES));
  ASSERT_TRUE(didl_attribute_set(&res->attributes, DIDL_NAME(AT_PROTOCOL_INFO), "http-get:*:audio/wav:*"));
  ASSERT_TRUE(didl_counter_add(&res->attributes, DIDL_NAME(AT_SIZE), 3));
  ASSERT_TRUE(didl_attribute_list_append(&o->attributes, DIDL_NAME(AT_PARENT_ID), "9"));
  ASSERT_TRUE(didl_attribute_remove(&o->attributes, DIDL_NAME(AT_RESTRICTED)));
  ASSERT_TRUE(didl_string_replace(&didl_property_first(o, DIDL_NAME(EL_UPNP_CLASS))->text, "object.item"));
  ASSERT_TRUE(didl_property_add(o, DIDL_NAME(EL_UPNP_GENRE), "Rock", nullptr));
  didl_object *copy = nullptr;
  ASSERT_TRUE(didl_object_clone(v[1].get(), &copy));
  v[1].reset();
  object_ptr c(copy);
  for (didl_object *other : {v[2].get(), c.get()}) {
    sys_stralloc_rec out{};
    ASSERT_TRUE(didl_write(&out, other, nullptr));
    EXPECT_EQ(std::string(out.buf, out.len),
              "<item id=\"5\" parentID=\"4\" restricted=\"1\">\r\n<dc:title></dc:title>\r\n"
              "<upnp:class>object.item.audioItem</upnp:class>\r\n<upnp:genre>Rock</upnp:genre>\r\n"
              "<res protocolInfo=\"http-get:*:audio/mpeg:*\" size=\"0\">/a</res>\r\n</item>\r\n");
    sys_stralloc_free(&out);
  }
  EXPECT_STREQ(didl_attribute_get(&o->attributes, DIDL_NAME(AT_PARENT_ID)), "4,9");
  EXPECT_STREQ(didl_attribute_get(&res->attributes, DIDL_NAME(AT_SIZE)), "3");
}

// A packed object is edited, copied and freed through the same helpers as
// an ordinary one and ends up the same; what an edit replaced or grew, and
// a copy, outlive its block.
TEST(DidlModel, PackedObjectsEditLikeOrdinaryOnes)
{
  const std::string text = "<container id=\"7\" parentID=\"4\" restricted=\"1\" childCount=\"2\""
                           " tarvo:children=\"12,3,45\"><dc:title>Title</dc:title>"
                           "<upnp:class>object.container</upnp:class><upnp:genre>Rock</upnp:genre>"
                           "<res protocolInfo=\"http-get:*:audio/mpeg:*\" size=\"10\" duration=\"0:01\">/a</res>"
                           "<upnp:artist role=\"Composer\">Someone</upnp:artist></container>";
  auto edit = [](didl_object *o) {
    didl_attributes *a = &o->attributes;
    const char *children = DIDL_NAME(AT_TARVO_CHILDREN);
    EXPECT_TRUE(didl_list_remove(static_cast<char *>(a->values.buf[didl_attribute_index(a, children)]), "3"));
    EXPECT_TRUE(didl_attribute_list_append(a, children, "8"));
    EXPECT_TRUE(didl_counter_add(a, DIDL_NAME(AT_CHILD_COUNT), 1));
    EXPECT_TRUE(didl_attribute_remove(a, DIDL_NAME(AT_RESTRICTED)));
    EXPECT_TRUE(didl_attribute_add(a, DIDL_NAME(AT_SEARCHABLE), "1"));
    EXPECT_TRUE(didl_attribute_add(a, DIDL_NAME(AT_TARVO_CONTAINER_UPDATE_ID), "12"));
    didl_property *res = didl_property_first(o, DIDL_NAME(EL_RES));
    EXPECT_TRUE(didl_string_replace(&res->text, "/b"));
    EXPECT_TRUE(didl_attribute_set(&res->attributes, DIDL_NAME(AT_SIZE), "11"));
    EXPECT_TRUE(didl_attribute_add(&res->attributes, DIDL_NAME(AT_BITRATE), "320"));
    uint32_t genre = didl_property_index(o, DIDL_NAME(EL_UPNP_GENRE));
    didl_property_free(property_at(o, genre));
    EXPECT_TRUE(sys_ptralloc_remove(&o->properties, genre));
    didl_property *album = nullptr;
    EXPECT_TRUE(didl_property_add(o, DIDL_NAME(EL_UPNP_ALBUM), "Album", &album));
    EXPECT_TRUE(didl_attribute_add(&album->attributes, DIDL_NAME(AT_ID), "x"));
  };
  auto written = [](const didl_object *o) {
    sys_stralloc_rec out{};
    EXPECT_TRUE(didl_write(&out, o, nullptr));
    return didl_test::take(&out);
  };

  object_ptr plain = parse(text);
  ASSERT_TRUE(plain);
  didl_object *packed = parse(text).release();
  ASSERT_TRUE(packed);
  const didl_object *before = packed;
  didl_object_pack(&packed);
  object_ptr owner(packed);
  EXPECT_NE(packed, before);
  EXPECT_EQ(written(packed), written(plain.get()));

  didl_object *copy = nullptr;
  ASSERT_TRUE(didl_object_clone(packed, &copy));
  object_ptr c(copy);
  edit(plain.get());
  edit(packed);
  const std::string edited = written(plain.get());
  EXPECT_EQ(written(packed), edited);
  EXPECT_NE(edited.find("tarvo:children=\"12,45,8\""), std::string::npos);

  // Packed again after the edits, and after its copy went: still the same.
  didl_object_pack(&packed);
  owner.release();
  owner.reset(packed);
  EXPECT_EQ(written(packed), edited);
  didl_object *again = nullptr;
  ASSERT_TRUE(didl_object_clone(packed, &again));
  owner.reset();
  object_ptr a(again);
  EXPECT_EQ(written(again), edited);
  EXPECT_EQ(written(c.get()), written(parse(text).get()));

  // An object near the size of a block is packed; a larger one keeps its
  // own storage.
  for (size_t n : {size_t(DIDL_PACKED_MAX) - 256, size_t(DIDL_PACKED_MAX)}) {
    const std::string title(n, 'x');
    didl_object *big = parse("<item id=\"1\"><dc:title>" + title + "</dc:title></item>").release();
    ASSERT_TRUE(big);
    before = big;
    didl_object_pack(&big);
    object_ptr b(big);
    EXPECT_EQ(big == before, n == DIDL_PACKED_MAX) << n;
    EXPECT_EQ(didl_property_first(big, DIDL_NAME(EL_DC_TITLE))->text, title);
  }
}

// A file names the same elements and attributes over and over; a name met
// once in one namespace must not stand for the same local name in another,
// whatever prefixes the file chose.
TEST(DidlModel, NamesRepeatedInAFileKeepTheirNamespaces)
{
  const std::string head = "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" "
                           "xmlns:u=\"urn:schemas-upnp-org:metadata-1-0/upnp/\" "
                           "xmlns:d=\"http://purl.org/dc/elements/1.1/\" "
                           "xmlns:t=\"urn:tarvo-org:metadata-1-0/tarvo/DIDL-Lite/\" "
                           "xmlns:x=\"urn:example-org:other/\">\r\n";
  auto item = [](int id, const std::string &inside) {
    return "<item id=\"" + std::to_string(id) + "\" t:private=\"1\" x:private=\"2\">" + inside + "</item>\r\n";
  };
  std::string good;
  for (int i = 1; i <= 50; i++)
    good += item(i, "<d:title>T" + std::to_string(i) + "</d:title><u:album>A</u:album>"
                    "<res t:filename=\"/f" + std::to_string(i) + "\" protocolInfo=\"p\">/x</res>");
  tarvo_test::scratch_dir dir;
  tarvo_test::write_file(dir / "good.xml", head + good + "</DIDL-Lite>\r\n");
  sys_ptralloc_rec objects{};
  ASSERT_TRUE(didl_parse((dir / "good.xml").c_str(), 0, &objects));
  ASSERT_EQ(objects.len, 50u);
  auto *last = static_cast<didl_object *>(objects.buf[49]);
  ASSERT_TRUE(didl_property_first(last, DIDL_NAME(EL_DC_TITLE)));
  EXPECT_STREQ(didl_property_first(last, DIDL_NAME(EL_DC_TITLE))->text, "T50");
  ASSERT_TRUE(didl_property_first(last, DIDL_NAME(EL_UPNP_ALBUM)));
  // The foreign x:private is passed over; the private one is kept.
  EXPECT_STREQ(didl_attribute_get(&last->attributes, DIDL_NAME(AT_TARVO_PRIVATE)), "1");
  EXPECT_EQ(last->attributes.names.len, 2u);
  didl_property *res = didl_property_first(last, DIDL_NAME(EL_RES));
  ASSERT_TRUE(res);
  EXPECT_STREQ(didl_attribute_get(&res->attributes, DIDL_NAME(AT_TARVO_FILENAME)), "/f50");
  didl_object_array_free(&objects);

  // The same local names after many good ones, in namespaces where the
  // model has no such name.
  for (const char *bad : {"<u:title>T</u:title>", "<d:album>A</d:album>", "<t:title>T</t:title>",
                          "<res d:filename=\"/f\">/x</res>", "<title>T</title>"}) {
    tarvo_test::write_file(dir / "bad.xml", head + good + item(51, bad) + "</DIDL-Lite>\r\n");
    EXPECT_FALSE(didl_parse((dir / "bad.xml").c_str(), 0, &objects)) << bad;
  }
}
