#include <vennard/content_db.h>
#include <vennard/server.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "didl_test.h"
#include "server_test.h"

using namespace server_test;

namespace {

const char *kMusic = "Container:Music";
const char *kUserFiles = "Container:UserFiles";

struct db : ::testing::Test {
  server srv;
  server_rec *s = &srv.s;

  bool locked = false;

  // The calls run under the content-database lock, as they do in the
  // server: the save thread reads the counters they change.
  void SetUp() override
  {
    start();
    locked = content_db_lock(s) != 0;
  }
  void TearDown() override
  {
    if (locked) content_db_unlock(s);
  }
  virtual void start() { ASSERT_TRUE(srv.start()); }

  // CreateObject of body under container; the new id, or the error code
  // as "#<code>".
  std::string create(const std::string &container, const std::string &body, int local = 1)
  {
    char *id = nullptr;
    uint32_t r = content_db_create(s, container.c_str(), didl_test::doc(body).c_str(), local, &id, nullptr);
    return r ? "#" + std::to_string(r) : take(id);
  }
  std::string item(const std::string &parent, const std::string &title, const std::string &extra = "")
  {
    return create(parent, "<item id=\"\" parentID=\"" + parent + "\" restricted=\"0\"><dc:title>" + title +
                              "</dc:title><upnp:class>object.item.audioItem.musicTrack</upnp:class>" + extra +
                              "</item>");
  }
  std::string folder(const std::string &parent, const std::string &title,
                     const std::string &cls = "object.container")
  {
    char *id = nullptr;
    uint32_t r = content_db_create_container(s, parent.c_str(), title.c_str(), cls.c_str(), &id, nullptr);
    return r ? "#" + std::to_string(r) : take(id);
  }
  std::string reference(const std::string &container, const std::string &target)
  {
    char *id = nullptr;
    uint32_t r = content_db_reference(s, container.c_str(), target.c_str(), &id);
    return r ? "#" + std::to_string(r) : take(id);
  }
  const char *attribute(const std::string &id, int name)
  {
    didl_object *o = content_db_get(s, id.c_str());
    return o ? didl_attribute_get(&o->attributes, didl_name_table[name]) : nullptr;
  }
  std::string list(const std::string &id, uint32_t which)
  {
    sys_stralloc_rec sa{};
    didl_object *o = content_db_get(s, id.c_str());
    std::string v = o && content_db_list_text(s, o, which, &sa) ? sa.buf : "<none>";
    sys_stralloc_free(&sa);
    return v;
  }
  std::string children(const std::string &id) { return list(id, CONTENT_ENTRY_HAS_CHILDREN); }
  std::string property(const std::string &id, int element)
  {
    didl_object *o = content_db_get(s, id.c_str());
    didl_property *p = o ? didl_property_first(o, didl_name_table[element]) : nullptr;
    return p ? p->text : "<none>";
  }
  std::string res_attribute(const std::string &id, int name)
  {
    didl_object *o = content_db_get(s, id.c_str());
    didl_property *p = o ? didl_property_first(o, DIDL_NAME(EL_RES)) : nullptr;
    const char *v = p ? didl_attribute_get(&p->attributes, didl_name_table[name]) : nullptr;
    return v ? v : "<none>";
  }
  uint32_t update(const std::string &id, const std::string &current, const std::string &fresh, int local = 1)
  {
    return content_db_update(s, id.c_str(), current.c_str(), fresh.c_str(), local);
  }
};

TEST_F(db, IdsAreFoundByValueAndSpecialsByName)
{
  std::string a = item(kUserFiles, "a");
  ASSERT_EQ(a, "1");
  EXPECT_EQ(content_db_get(s, "0001"), content_db_get(s, "1"));
  EXPECT_NE(content_db_get(s, "1"), nullptr);
  for (const char *absent : {"1a", "", "-1", "99999999999999999999999", "Container:Nope"})
    EXPECT_EQ(content_db_find(s, absent), content_db_count(s)) << absent;
  EXPECT_STREQ(attribute(kMusic, DIDL_AT_PARENT_ID), "0");
  EXPECT_EQ(content_db_root(s), content_db_get(s, "0"));
  EXPECT_TRUE(content_db_is_special(s, kMusic));
  EXPECT_EQ(content_db_parent(s, content_db_get(s, a.c_str())), content_db_get(s, kUserFiles));
}

TEST_F(db, CreateObjectRefusesWhatItMayNotStore)
{
  const std::string item_head = "<item id=\"\" parentID=\"Container:UserFiles\" restricted=\"0\">";
  const std::string title = "<dc:title>t</dc:title><upnp:class>object.item</upnp:class>";
  const std::string box = "<container id=\"\" parentID=\"Container:UserFiles\" restricted=\"0\"><dc:title>c</dc:title>";
  const std::string file_res = "\" tarvo:filename=\"/m/a.mp3\">";
  EXPECT_EQ(create("Container:Nope", item_head + title + "</item>"), "#710");
  EXPECT_EQ(create(item(kUserFiles, "an item"), item_head + title + "</item>"), "#710");
  for (const std::string &bad : {
           "<item id=\"5\" parentID=\"Container:UserFiles\" restricted=\"0\">" + title + "</item>",
           "<item id=\"\" parentID=\"Container:UserFiles\" restricted=\"1\">" + title + "</item>",
           "<item id=\"\" parentID=\"0\" restricted=\"0\">" + title + "</item>",
           "<item id=\"\" parentID=\"Container:UserFiles\" restricted=\"no\" refID=\"1\">" + title + "</item>",
           item_head + "<dc:title>t</dc:title><dc:title>u</dc:title><upnp:class>object.item</upnp:class></item>",
           box + "<upnp:class>object.container.storageSystem</upnp:class></container>",
           box + "<upnp:class>object.container.person</upnp:class></container>",
           box + "<upnp:class>object.container</upnp:class><upnp:createClass includeDerived=\"1\">x</upnp:createClass>"
                 "</container>",
           box + "<upnp:class>object.container.storageFolder</upnp:class><upnp:storageUsed>5</upnp:storageUsed>"
                 "</container>",
           // Resources: a plain one needs its URL; a served one has none
           // and a real MIME type over http-get.
           item_head + title + "<res protocolInfo=\"http-get:*:audio/mpeg:*\"></res></item>",
           item_head + title + "<res protocolInfo=\"rtsp-rtp-udp:*:audio/mpeg:*" + file_res + "</res></item>",
           item_head + title + "<res protocolInfo=\"http-get:*:*:*" + file_res + "</res></item>",
           item_head + title + "<res protocolInfo=\"http-get:*:audio/mpeg" + file_res + "</res></item>",
           item_head + title + "<res protocolInfo=\"http-get:*:audio/mpeg:*" + file_res + "/1-2.mp3</res></item>",
           item_head + title + "<res protocolInfo=\"http-get:*:audio/mpeg:*\" importUri=\"http://x/\">http://x/a</res>"
                               "</item>"})
    EXPECT_EQ(create(kUserFiles, bad), "#712") << bad;
  const std::string search = box + "<upnp:class>object.container</upnp:class><upnp:searchClass "
                                   "includeDerived=\"1\">object.item</upnp:searchClass></container>";
  EXPECT_EQ(create(kUserFiles, search, 0), "#712");
  std::string searchable = create(kUserFiles, search, 1);
  ASSERT_NE(searchable[0], '#');
  // Nothing half-made was kept.
  EXPECT_EQ(children(kUserFiles), "1," + searchable);
  EXPECT_STREQ(attribute(kUserFiles, DIDL_AT_CHILD_COUNT), "2");
}

TEST_F(db, CreateObjectNumbersFilesAndFillsInTheContainer)
{
  uint32_t before = content_db_system_update_id(s);
  std::string artist = folder(kUserFiles, "Artist", "object.container.person.musicArtist");
  ASSERT_EQ(artist, "1");
  EXPECT_EQ(children(kUserFiles), artist);
  EXPECT_STREQ(attribute(kUserFiles, DIDL_AT_CHILD_COUNT), "1");
  EXPECT_STREQ(attribute(artist, DIDL_AT_SEARCHABLE), "1");
  EXPECT_STREQ(attribute(artist, DIDL_AT_TARVO_CONTAINER_UPDATE_ID), "0");
  EXPECT_STREQ(attribute(artist, DIDL_AT_CHILD_COUNT), "0");
  EXPECT_STREQ(attribute(artist, DIDL_AT_RESTRICTED), "1");
  EXPECT_EQ(children(artist), "");
  didl_object *a = content_db_get(s, artist.c_str());
  std::string created;
  for (uint32_t i = 0; i < a->properties.len; i++) {
    auto *p = static_cast<didl_property *>(a->properties.buf[i]);
    if (p->element != DIDL_NAME(EL_UPNP_CREATE_CLASS)) continue;
    EXPECT_STREQ(didl_attribute_get(&p->attributes, DIDL_NAME(AT_INCLUDE_DERIVED)), "1");
    created += std::string(created.empty() ? "" : ",") + p->text;
  }
  EXPECT_EQ(created, "object.container.album.musicAlbum,object.item.audioItem.musicTrack,"
                     "object.item.videoItem.musicVideoClip");
  EXPECT_GT(content_db_system_update_id(s), before);
  // The artist's class list now rules what may be made in it.
  EXPECT_EQ(create(artist, "<item id=\"\" parentID=\"1\" restricted=\"0\"><dc:title>p</dc:title>"
                           "<upnp:class>object.item.imageItem.photo</upnp:class></item>"),
            "#712");

  std::string track = item(artist, "Song",
                           "<res protocolInfo=\"*:*:audio/mpeg:DLNA.ORG_PN=MP3\" tarvo:filename=\"/m/Song.MP3\"></res>"
                           "<upnp:albumArtURI>http://127.0.0.1:" + std::to_string(s->http_port) +
                               "/9-9.jpg</upnp:albumArtURI>"
                           "<upnp:albumArtURI tarvo:filename=\"/m/cover.jpg\"></upnp:albumArtURI>");
  ASSERT_EQ(track, "3");
  EXPECT_EQ(res_attribute(track, DIDL_AT_PROTOCOL_INFO), "http-get:*:audio/mpeg:DLNA.ORG_PN=MP3");
  EXPECT_EQ(property(track, DIDL_EL_RES), "/3-4.MP3");
  didl_object *t = content_db_get(s, track.c_str());
  EXPECT_STREQ(static_cast<didl_property *>(t->properties.buf[3])->text, "/9-9.jpg");
  EXPECT_STREQ(static_cast<didl_property *>(t->properties.buf[4])->text, "/3-5.jpg");
  EXPECT_STREQ(attribute("0", DIDL_AT_TARVO_MAX_OBJECT_ID), "5");
  // Its resource's protocolInfo is offered, profiled entries first.
  char *source = nullptr;
  ASSERT_EQ(cm_query_state_variable(nullptr, "SourceProtocolInfo", s, &source), 0u);
  EXPECT_EQ(take(source).find("http-get:*:audio/mpeg:DLNA.ORG_PN=MP3"), 0u);
}

TEST_F(db, PrivateAndUnsearchableParentsPassOnToNewObjects)
{
  std::string hidden = folder(kUserFiles, "hidden");
  ASSERT_TRUE(didl_attribute_set(&content_db_get(s, hidden.c_str())->attributes, DIDL_NAME(AT_TARVO_PRIVATE), "1"));
  std::string in_hidden = item(hidden, "x");
  EXPECT_STREQ(attribute(in_hidden, DIDL_AT_TARVO_PRIVATE), "1");
  std::string in_music = folder(kMusic, "m");
  EXPECT_STREQ(attribute(in_music, DIDL_AT_SEARCHABLE), "0");
  EXPECT_EQ(attribute(in_music, DIDL_AT_TARVO_PRIVATE), nullptr);
  EXPECT_STREQ(attribute(reference(kMusic, in_hidden), DIDL_AT_TARVO_PRIVATE), "1");
}

TEST_F(db, DestroyTakesTheSubtreeAndEveryReference)
{
  std::string share = folder(kUserFiles, "share");
  std::string sub = folder(share, "sub");
  std::string t1 = item(sub, "t1"), t2 = item(sub, "t2"), t3 = item(share, "t3");
  std::string artist = folder(kMusic, "artist");
  std::string r1 = reference("Container:AllMusic", t1), r2 = reference(artist, t1);
  std::string r3 = reference("Container:AllMusic", t3), r3b = reference("Container:AllMusic", r3);
  EXPECT_STREQ(attribute(r3b, DIDL_AT_REF_ID), t3.c_str());
  EXPECT_EQ(list(t1, CONTENT_ENTRY_HAS_REFERENCED), r1 + "," + r2);
  std::string keep = item(kUserFiles, "keep");
  std::string rk = reference("Container:AllMusic", keep);
  ASSERT_EQ(children("Container:AllMusic"), r1 + "," + r3 + "," + r3b + "," + rk);
  sys_ptralloc_rec refs{};
  ASSERT_TRUE(content_db_referencing(s, content_db_get(s, t1.c_str()), &refs));
  ASSERT_EQ(refs.len, 2u);
  EXPECT_EQ(refs.buf[1], content_db_get(s, r2.c_str()));
  sys_ptralloc_free(&refs);

  uint32_t count = content_db_count(s);
  uint32_t before = content_db_system_update_id(s);
  EXPECT_EQ(content_db_destroy(s, share.c_str()), 0u);
  for (const std::string &gone : {share, sub, t1, t2, t3, r1, r2, r3, r3b})
    EXPECT_EQ(content_db_get(s, gone.c_str()), nullptr) << gone;
  EXPECT_EQ(content_db_count(s), count - 9);
  EXPECT_EQ(children("Container:AllMusic"), rk);
  EXPECT_STREQ(attribute("Container:AllMusic", DIDL_AT_CHILD_COUNT), "1");
  EXPECT_EQ(children(artist), "");
  EXPECT_STREQ(attribute(artist, DIDL_AT_CHILD_COUNT), "0");
  EXPECT_EQ(children(kUserFiles), keep);
  EXPECT_GT(content_db_system_update_id(s), before);
  EXPECT_EQ(content_db_root(s), content_db_get(s, "0"));
  for (const std::string &id : {keep, rk, artist}) EXPECT_NE(content_db_get(s, id.c_str()), nullptr) << id;

  // A reference alone leaves its target's list.
  EXPECT_EQ(content_db_destroy(s, rk.c_str()), 0u);
  EXPECT_EQ(list(keep, CONTENT_ENTRY_HAS_REFERENCED), "");
  EXPECT_EQ(content_db_destroy(s, "0"), 501u);
  EXPECT_EQ(content_db_destroy(s, share.c_str()), 701u);
}

// Lists of every length keep their order through growth and destroys, and
// the index's entries (thousands of them, more than one chunk of their
// storage) are freed and made again without a trace of the ones before.
TEST_F(db, ListsAndEntriesKeepOrderThroughGrowthAndDestroys)
{
  std::string target = item(kUserFiles, "target"), box = folder(kMusic, "box");
  std::vector<std::string> refs;
  for (int i = 0; i < 40; i++) refs.push_back(reference(box, target));
  auto joined = [](const std::vector<std::string> &v) {
    std::string out;
    for (const std::string &id : v) out += (out.empty() ? "" : ",") + id;
    return out;
  };
  EXPECT_EQ(list(target, CONTENT_ENTRY_HAS_REFERENCED), joined(refs));
  EXPECT_EQ(children(box), joined(refs));
  std::vector<std::string> kept;
  for (size_t i = 0; i < refs.size(); i++) {
    if (i % 3 == 1) {
      EXPECT_EQ(content_db_destroy(s, refs[i].c_str()), 0u);
    } else {
      kept.push_back(refs[i]);
    }
  }
  EXPECT_EQ(list(target, CONTENT_ENTRY_HAS_REFERENCED), joined(kept));
  EXPECT_EQ(children(box), joined(kept));
  kept.push_back(reference(box, target));
  EXPECT_EQ(list(target, CONTENT_ENTRY_HAS_REFERENCED), joined(kept));

  uint32_t count = content_db_count(s);
  for (int round = 0; round < 2; round++) {
    std::string many = folder(kUserFiles, "many");
    std::string last;
    for (int i = 0; i < 7000; i++) last = folder(many, "f" + std::to_string(i));
    EXPECT_EQ(content_db_count(s), count + 7001);
    EXPECT_STREQ(attribute(last, DIDL_AT_PARENT_ID), many.c_str());
    EXPECT_EQ(content_db_destroy(s, many.c_str()), 0u);
    EXPECT_EQ(content_db_count(s), count);
  }
  EXPECT_EQ(children(box), joined(kept));
}

TEST_F(db, UpdateObjectChangesOnlyWhatMayChange)
{
  std::string t = item(kUserFiles, "A",
                       "<upnp:artist>X</upnp:artist><res protocolInfo=\"http-get:*:audio/mpeg:*\" "
                       "tarvo:filename=\"/m/a.mp3\"></res>");
  EXPECT_EQ(update(t, "<dc:title>A</dc:title>", ""), 704u);
  EXPECT_EQ(update(t, "<dc:title>B</dc:title>", "<dc:title>C</dc:title>"), 702u);
  EXPECT_EQ(update(t, "<dc:title>A</dc:title>", "<upnp:artist>C</upnp:artist>"), 703u);
  EXPECT_EQ(update(t, "<upnp:class>object.item.audioItem.musicTrack</upnp:class>",
                   "<upnp:class>object.item</upnp:class>"),
            705u);
  EXPECT_EQ(update(t, "<dc:title>A</dc:title>,", "<dc:title>B</dc:title>"), 706u);
  EXPECT_EQ(update(t, "", ""), 402u);
  EXPECT_EQ(update(t, "<dc:title>A</dc:title><upnp:artist>X</upnp:artist>", ","), 402u);
  EXPECT_EQ(update(t, "<dc:title>A", "<dc:title>B</dc:title>"), 402u);
  EXPECT_EQ(update(t, "", "<dc:title>B</dc:title>"), 712u);
  EXPECT_EQ(update("999", "<dc:title>A</dc:title>", "<dc:title>B</dc:title>"), 701u);
  EXPECT_EQ(update(kMusic, "<dc:title>Music</dc:title>", "<dc:title>B</dc:title>"), 501u);
  EXPECT_EQ(property(t, DIDL_EL_DC_TITLE), "A");

  uint32_t before = content_db_system_update_id(s);
  EXPECT_EQ(update(t, "<dc:title>A</dc:title>,<upnp:artist>X</upnp:artist>,",
                   "<dc:title>B &amp; C</dc:title>,,<upnp:genre>G</upnp:genre>"),
            0u);
  EXPECT_EQ(property(t, DIDL_EL_DC_TITLE), "B & C");
  EXPECT_EQ(property(t, DIDL_EL_UPNP_ARTIST), "<none>");
  EXPECT_EQ(property(t, DIDL_EL_UPNP_GENRE), "G");
  EXPECT_GT(content_db_system_update_id(s), before);

  // A served resource keeps its path; a different one is refused.
  std::string path = property(t, DIDL_EL_RES);
  std::string res = "<res protocolInfo=\"http-get:*:audio/mpeg:*\" tarvo:filename=\"/m/a.mp3\">" + path + "</res>";
  EXPECT_EQ(update(t, res, "<res protocolInfo=\"http-get:*:audio/mpeg:*\" tarvo:filename=\"/m/a.mp3\">/7-7.mp3</res>"),
            705u);
  EXPECT_EQ(update(t, res, "<res protocolInfo=\"http-get:*:audio/mp4:*\" tarvo:filename=\"/m/a.mp3\"></res>"), 0u);
  EXPECT_EQ(property(t, DIDL_EL_RES), path);
  EXPECT_EQ(res_attribute(t, DIDL_AT_PROTOCOL_INFO), "http-get:*:audio/mp4:*");

  // Through a reference the target changes.
  std::string r = reference("Container:AllMusic", t);
  EXPECT_EQ(update(r, "<upnp:genre>G</upnp:genre>", "<upnp:genre>H</upnp:genre>"), 0u);
  EXPECT_EQ(property(t, DIDL_EL_UPNP_GENRE), "H");
}

TEST_F(db, UpdateObjectDropsTheDtcpHostOfAResource)
{
  std::string t = item(kUserFiles, "A");
  EXPECT_EQ(update(t, "",
                   "<res protocolInfo=\"http-get:*:application/x-dtcp1;DTCP1HOST=10.0.0.1;DTCP1PORT=8000;"
                   "CONTENTFORMAT=video/mpeg:*\">http://10.0.0.1/v</res>"),
            0u);
  EXPECT_EQ(res_attribute(t, DIDL_AT_PROTOCOL_INFO), "http-get:*:application/x-dtcp1;CONTENTFORMAT=video/mpeg:*");
  EXPECT_EQ(update(t, "", "<res protocolInfo=\"http-get:*:application/x-dtcp1;DTCP1HOST=10.0.0.1\">http://a/</res>"),
            501u);
  EXPECT_EQ(update(t, "", "<res protocolInfo=\"http-get:*\">http://a/</res>"), 501u);
}

TEST_F(db, CreateReferenceFollowsTargetsAndClassLists)
{
  std::string t = item(kUserFiles, "t");
  std::string r = reference("Container:AllMusic", t);
  EXPECT_STREQ(attribute(r, DIDL_AT_REF_ID), t.c_str());
  EXPECT_STREQ(attribute(r, DIDL_AT_RESTRICTED), "1");
  EXPECT_STREQ(attribute(r, DIDL_AT_PARENT_ID), "Container:AllMusic");
  EXPECT_EQ(content_db_get(s, r.c_str())->properties.len, 0u);
  EXPECT_STREQ(attribute(reference(kMusic, r), DIDL_AT_REF_ID), t.c_str());
  EXPECT_EQ(reference(kMusic, "999"), "#701");
  EXPECT_EQ(reference(kMusic, kUserFiles), "#701");
  EXPECT_EQ(reference("999", t), "#710");
  EXPECT_EQ(reference(t, t), "#710");
  std::string photos = folder(kUserFiles, "photos", "object.container.album.photoAlbum");
  EXPECT_EQ(reference(photos, t), "#501");
}

TEST_F(db, ChangedContainersAreListedOnceForTheScanner)
{
  folder(kUserFiles, "f");
  folder(kUserFiles, "g");
  sys_str_list reflect = nullptr;
  ASSERT_TRUE(content_db_reflect_take(s, &reflect));
  EXPECT_EQ(joined(reflect), std::string(kUserFiles) + ",0");
  ASSERT_TRUE(content_db_reflect_take(s, &reflect));
  EXPECT_EQ(joined(reflect), "");
}

struct shares : db {
  std::string dir(const std::string &name)
  {
    std::string p = srv.data.home + "/media/" + name;
    std::filesystem::create_directories(p);
    return p;
  }
};

TEST_F(shares, ShareKeepsOneEntryPerTreeAndAtMost63)
{
  std::string music = dir("music"), sub = dir("music/sub");
  EXPECT_EQ(content_db_share(s, (srv.data.home + "/media/none").c_str()), 800u);
  tarvo_test::write_file(srv.data.home + "/media/file", "x");
  EXPECT_EQ(content_db_share(s, (srv.data.home + "/media/file").c_str()), 800u);
  EXPECT_EQ(content_db_share(s, sub.c_str()), 0u);
  EXPECT_EQ(content_db_share(s, music.c_str()), 0u);
  EXPECT_EQ(srv.data.get("sync/share/list"), music + "\n");
  EXPECT_EQ(content_db_share(s, sub.c_str()), 801u);
  EXPECT_EQ(content_db_share(s, music.c_str()), 801u);
  // A name that merely begins like a share is not inside it.
  std::string musical = dir("musical");
  EXPECT_EQ(content_db_share(s, musical.c_str()), 0u);
  for (int i = 0; i < 61; i++) ASSERT_EQ(content_db_share(s, dir("d" + std::to_string(i)).c_str()), 0u) << i;
  EXPECT_EQ(content_db_share(s, dir("last").c_str()), 805u);
}

TEST_F(shares, UnshareDestroysTheShareContainers)
{
  std::string music = dir("music");
  ASSERT_EQ(content_db_share(s, music.c_str()), 0u);
  std::string c = folder(kUserFiles, "music");
  std::string t = item(c, "t");
  std::string r = reference("Container:AllMusic", t);
  srv.data.put("sync/data/" + c, music);
  EXPECT_FALSE(content_db_unshare(s, (music + "/other").c_str()));
  EXPECT_TRUE(content_db_unshare(s, music.c_str()));
  EXPECT_EQ(content_db_get(s, c.c_str()), nullptr);
  EXPECT_EQ(content_db_get(s, r.c_str()), nullptr);
  EXPECT_FALSE(srv.data.exists("sync/data/" + c));
  EXPECT_EQ(srv.data.get("sync/share/list"), "");
  EXPECT_FALSE(content_db_unshare(s, music.c_str()));
}

}  // namespace
