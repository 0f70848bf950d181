#include <vennard/content_db.h>
#include <vennard/server.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <future>
#include <string>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "didl_test.h"
#include "server_test.h"
#include "tarvo_live.h"

using namespace server_test;
using namespace std::chrono_literals;

namespace {

const std::string kHead = didl_test::doc("").substr(0, didl_test::doc("").find("</DIDL-Lite>"));

std::string root(const std::string &attributes, const std::string &children)
{
  return "<container id=\"0\" parentID=\"-1\" restricted=\"1\" searchable=\"1\" childCount=\"1\" " + attributes +
         " tarvo:children=\"" + children +
         "\">\r\n<dc:title>root</dc:title>\r\n<upnp:class>object.container</upnp:class>\r\n</container>\r\n";
}

std::string item(const std::string &id, const std::string &parent, const std::string &extra = "",
                 const std::string &properties = "")
{
  return "<item id=\"" + id + "\" parentID=\"" + parent + "\" restricted=\"1\"" + extra + ">\r\n<dc:title>t" + id +
         "</dc:title>\r\n<upnp:class>object.item.audioItem</upnp:class>\r\n" + properties + "</item>\r\n";
}

// Whether the thread tid is blocked in an open (of a pipe without a
// reader), as the kernel reports its system call.
bool waits_in_open(pid_t tid)
{
  std::string call = tarvo_test::read_file("/proc/self/task/" + std::to_string(tid) + "/syscall");
  return call.rfind(std::to_string(SYS_openat) + " ", 0) == 0;
}

struct file : ::testing::Test {
  server srv;
  server_rec *s = &srv.s;
  std::string data_path = srv.data.conf + "/data.xml";

  std::string title(const char *id)
  {
    didl_object *o = content_db_get(s, id);
    didl_property *p = o ? didl_property_first(o, DIDL_NAME(EL_DC_TITLE)) : nullptr;
    return p ? p->text : "<none>";
  }
  std::string ids()
  {
    std::string v;
    for (uint32_t i = 0; i < content_db_count(s); i++)
      v += std::string(i ? "," : "") + didl_attribute_get(&content_db_at(s, i)->attributes, DIDL_NAME(AT_ID));
    return v;
  }
};

TEST_F(file, FirstStartBuildsTheDefaultTree)
{
  srv.data.put("sync/data/77", "/left/over");
  ASSERT_TRUE(srv.start());
  EXPECT_EQ(srv.data.get("data.xml"), srv.data.get("data_default.xml"));
  EXPECT_FALSE(srv.data.exists("data.xml.bad"));
  EXPECT_FALSE(srv.data.exists("sync/data/77"));
  EXPECT_EQ(content_db_count(s), 16u);
  EXPECT_EQ(title("Container:AllMusic"), "All Music");
  EXPECT_EQ(content_db_at(s, 15), content_db_root(s));
}

TEST_F(file, ACorruptFileIsKeptAsBadAndTheDefaultsReturn)
{
  for (const std::string &bad : {std::string("<DIDL-Lite><item"),
                                 kHead + item("5", "0") + "</DIDL-Lite>\r\n",
                                 kHead + "<container id=\"0\" parentID=\"-1\" restricted=\"1\"><dc:title>r</dc:title>"
                                         "</container></DIDL-Lite>\r\n"}) {
    srv.data.put("data.xml", bad);
    srv.data.put("sync/data/77", "/left/over");
    srv.data.put("sync/data_default/78", "/kept/share");
    ASSERT_TRUE(srv.start()) << bad;
    EXPECT_EQ(srv.data.get("data.xml.bad"), bad);
    EXPECT_EQ(srv.data.get("data.xml"), srv.data.get("data_default.xml"));
    EXPECT_FALSE(srv.data.exists("sync/data/77"));
    EXPECT_EQ(srv.data.get("sync/data/78"), "/kept/share");
    EXPECT_EQ(title("Container:UserFiles"), "Folders");
    srv.stop();
  }
  // Without defaults the database cannot start.
  srv.data.put("data.xml", "junk");
  std::filesystem::remove(srv.data.conf + "/data_default.xml");
  EXPECT_FALSE(srv.start());
}

TEST_F(file, FileOrderIsCheckedAndRestored)
{
  srv.data.put("special_object", "S\n");
  srv.data.put("data.xml", kHead + root("tarvo:containerUpdateID=\"7\" tarvo:maxObjectID=\"3\"", "20,5,S,12,99") +
                               item("20", "0") + item("5", "0") + item("S", "0") + item("00012", "0") +
                               "</DIDL-Lite>\r\n");
  ASSERT_TRUE(srv.start());
  EXPECT_EQ(ids(), "S,0,5,00012,20");
  for (const char *id : {"5", "12", "20", "S"}) EXPECT_NE(content_db_get(s, id), nullptr) << id;
  EXPECT_EQ(content_db_system_update_id(s), 7u);
  // A listed child that is not there is passed over, and kept.
  sys_ptralloc_rec children{};
  ASSERT_TRUE(content_db_children(s, content_db_root(s), &children));
  ASSERT_EQ(children.len, 4u);
  EXPECT_EQ(children.buf[0], content_db_get(s, "20"));
  EXPECT_EQ(children.buf[3], content_db_get(s, "12"));
  sys_ptralloc_free(&children);
  // A counter behind the ids of the file does not hand them out again.
  char number[CONTENT_DB_NUMBER_SIZE];
  ASSERT_TRUE(content_db_new_number(s, number));
  EXPECT_STREQ(number, "21");
  ASSERT_TRUE(content_db_save(s));
  std::string saved = srv.data.get("data.xml");
  EXPECT_LT(saved.find("id=\"S\""), saved.find("id=\"0\""));
  EXPECT_LT(saved.find("id=\"0\""), saved.find("id=\"5\""));
  EXPECT_LT(saved.find("id=\"5\""), saved.find("id=\"00012\""));
  EXPECT_LT(saved.find("id=\"00012\""), saved.find("id=\"20\""));
  EXPECT_NE(saved.find("tarvo:children=\"20,5,S,12,99\""), std::string::npos);
}

TEST_F(file, ADestroyEndsOnListsThatLoop)
{
  auto box = [](const std::string &id, const std::string &parent, const std::string &children) {
    return "<container id=\"" + id + "\" parentID=\"" + parent + "\" restricted=\"1\" childCount=\"1\" "
           "tarvo:containerUpdateID=\"0\" tarvo:children=\"" + children + "\"><dc:title>b</dc:title></container>\r\n";
  };
  srv.data.put("data.xml", kHead + root("tarvo:containerUpdateID=\"1\"", "5,7") + box("5", "0", "5,6,0") +
                               box("6", "5", "5") + item("7", "0") + "</DIDL-Lite>\r\n");
  ASSERT_TRUE(srv.start());
  held lock(s);
  EXPECT_EQ(content_db_destroy(s, "5"), 0u);
  EXPECT_EQ(ids(), "0,7");
}

TEST_F(file, StoredValuesThatCannotBeWrittenAgainAreMended)
{
  srv.data.put("data.xml", kHead + root("tarvo:containerUpdateID=\"1\"", "5") +
                               item("5", "0", " tarvo:filter=\"a&#9;b\"", "<dc:creator>x&#10;y&#13;</dc:creator>\r\n") +
                               "</DIDL-Lite>\r\n");
  ASSERT_TRUE(srv.start());
  EXPECT_STREQ(didl_attribute_get(&content_db_get(s, "5")->attributes, DIDL_NAME(AT_TARVO_FILTER)), "a b");
  EXPECT_STREQ(didl_property_first(content_db_get(s, "5"), DIDL_NAME(EL_DC_CREATOR))->text, "x y");
  EXPECT_TRUE(content_db_save(s));
}

TEST_F(file, AStartNeitherRewritesNorAnnounces)
{
  ASSERT_TRUE(srv.start());
  srv.stop();
  struct stat before {};
  ASSERT_EQ(stat(data_path.c_str(), &before), 0);
  std::filesystem::last_write_time(data_path, std::filesystem::last_write_time(data_path) - 1h);
  std::filesystem::file_time_type old = std::filesystem::last_write_time(data_path);
  ASSERT_TRUE(srv.start());
  std::this_thread::sleep_for(2500ms);
  EXPECT_FALSE(content_db_work_pending(s));
  srv.stop();
  EXPECT_EQ(std::filesystem::last_write_time(data_path), old);
  struct stat after {};
  ASSERT_EQ(stat(data_path.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
}

TEST_F(file, ListsSurviveASaveAndALoad)
{
  ASSERT_TRUE(srv.start());
  char *a = nullptr, *b = nullptr, *r = nullptr;
  uint32_t id = 0;
  {
    held lock(s);
    ASSERT_EQ(content_db_create_container(s, "Container:UserFiles", "a & b", "object.container", &a, nullptr), 0u);
    ASSERT_EQ(content_db_create(s, a, didl_test::doc(item("", a, "", "")).c_str(), 1, &b, nullptr), 712u);
    std::string one = "<item id=\"\" parentID=\"" + std::string(a) +
                      "\" restricted=\"0\"><dc:title>x</dc:title><upnp:class>object.item</upnp:class></item>";
    ASSERT_EQ(content_db_create(s, a, didl_test::doc(one).c_str(), 1, &b, nullptr), 0u);
    ASSERT_EQ(content_db_reference(s, "Container:AllMusic", b, &r), 0u);
    id = content_db_system_update_id(s);
  }
  srv.stop();
  std::string saved = srv.data.get("data.xml");
  EXPECT_NE(saved.find("tarvo:referenced=\"" + take(r) + "\""), std::string::npos) << saved;
  ASSERT_TRUE(srv.start());
  EXPECT_EQ(content_db_system_update_id(s), id);
  sys_stralloc_rec sa{};
  ASSERT_TRUE(content_db_list_text(s, content_db_get(s, a), CONTENT_ENTRY_HAS_CHILDREN, &sa));
  EXPECT_EQ(std::string(sa.buf), take(b));
  ASSERT_TRUE(content_db_list_text(s, content_db_get(s, "Container:UserFiles"), CONTENT_ENTRY_HAS_CHILDREN, &sa));
  EXPECT_EQ(std::string(sa.buf), a);
  sys_stralloc_free(&sa);
  EXPECT_EQ(title(a), "a & b");
  take(a);
  srv.stop();
  EXPECT_EQ(srv.data.get("data.xml"), saved);
}

TEST_F(file, SavesComeWholeToEveryReader)
{
  ASSERT_TRUE(srv.start());
  std::atomic<bool> done{false};
  std::atomic<int> reads{0}, partial{0};
  std::thread reader([&] {
    while (!done) {
      std::string t = tarvo_test::read_file(data_path);
      reads++;
      if (t.rfind("<DIDL-Lite", 0) != 0 || t.size() < 14 || t.compare(t.size() - 14, 14, "</DIDL-Lite>\r\n"))
        partial++;
    }
  });
  // However late the reader starts, it reads while the saves go on.
  while (!reads) std::this_thread::yield();
  for (int i = 0; i < 200; i++) {
    ASSERT_TRUE(content_db_lock(s));
    std::string body = "<item id=\"\" parentID=\"Container:UserFiles\" restricted=\"0\"><dc:title>" +
                       std::string(200, 'x') + "</dc:title><upnp:class>object.item</upnp:class></item>";
    ASSERT_EQ(content_db_create(s, "Container:UserFiles", didl_test::doc(body).c_str(), 1, nullptr, nullptr), 0u);
    content_db_unlock(s);
    if (i % 10 == 0) {
      ASSERT_TRUE(content_db_save(s));
    }
  }
  done = true;
  reader.join();
  EXPECT_EQ(partial.load(), 0);
  // The save thread may be writing a change of the loop's end: only once
  // it has stopped is no temporary file left.
  srv.stop();
  EXPECT_FALSE(srv.data.exists(".tmp.data.xml"));
}

TEST_F(file, TheLockIsFreeWhileTheFileIsWritten)
{
  ASSERT_TRUE(srv.start());
  // The temporary file is a pipe: the write waits for a reader, and the
  // lock must not wait with it.
  std::string tmp = srv.data.conf + "/.tmp.data.xml";
  ASSERT_EQ(mkfifo(tmp.c_str(), 0600), 0);
  std::atomic<bool> saved{false};
  std::atomic<pid_t> saver_tid{0};
  std::thread saver([&] {
    saver_tid = gettid();
    content_db_save(s);
    saved = true;
  });
  ASSERT_TRUE(tarvo_test::eventually([&] { return saver_tid && waits_in_open(saver_tid); }));
  auto locked = std::async(std::launch::async, [&] {
    if (!content_db_lock(s)) return false;
    content_db_unlock(s);
    return true;
  });
  EXPECT_EQ(locked.wait_for(tarvo_test::kLive), std::future_status::ready) << "the lock waits for the file";
  std::string text = tarvo_test::read_file(tmp);
  EXPECT_TRUE(locked.get());
  saver.join();
  EXPECT_TRUE(saved);
  EXPECT_EQ(text.rfind("<DIDL-Lite", 0), 0u);
  std::filesystem::remove(data_path);
}

TEST_F(file, TheSaveThreadWritesChangesAndTheLastOnesAtStop)
{
  ASSERT_TRUE(srv.start());
  ASSERT_TRUE(content_db_lock(s));
  ASSERT_EQ(content_db_create_container(s, "Container:UserFiles", "early", "object.container", nullptr, nullptr), 0u);
  content_db_unlock(s);
  EXPECT_TRUE(tarvo_test::eventually([&] { return srv.data.get("data.xml").find(">early<") != std::string::npos; }));
  ASSERT_TRUE(content_db_lock(s));
  ASSERT_EQ(content_db_create_container(s, "Container:UserFiles", "late", "object.container", nullptr, nullptr), 0u);
  content_db_unlock(s);
  srv.stop();
  EXPECT_NE(srv.data.get("data.xml").find(">late<"), std::string::npos);
}

// A database in the form the server writes it: folders with items whose
// values repeat (classes, genres, protocolInfo, flags) and items of their
// own (titles with markup characters, empty texts, several resources),
// references, private objects and the kept lists.
std::string generated_database(int folders, int per_folder)
{
  std::string objects, root_children;
  const char *genres[] = {"Rock", "Jazz &amp; Blues", "", "Unknown"};
  uint64_t next = 1;
  std::vector<std::string> refs;
  for (int f = 0; f < folders; f++) {
    std::string folder = std::to_string(next++), children, items;
    root_children += (f ? "," : "") + folder;
    for (int i = 0; i < per_folder; i++) {
      std::string id = std::to_string(next++), ref = std::to_string(next++);
      children += (i ? "," : "") + id;
      refs.push_back("<item id=\"" + ref + "\" parentID=\"" + folder + "\" refID=\"" + id + "\" restricted=\"1\"" +
                     (i % 5 == 0 ? " tarvo:private=\"1\"" : "") + ">\r\n</item>\r\n");
      children += "," + ref;
      items += "<item id=\"" + id + "\" parentID=\"" + folder + "\" restricted=\"" + (i % 3 ? "1" : "0") +
               "\"" + (i % 5 == 0 ? " tarvo:private=\"1\"" : "") + " tarvo:referenced=\"" + ref + "\">\r\n" +
               "<dc:title>T&amp;" + id + " &lt;\xc3\xa9t\xc3\xa9&gt; &quot;q&quot;</dc:title>\r\n" +
               "<upnp:class>object.item.audioItem.musicTrack</upnp:class>\r\n" +
               "<upnp:genre>" + genres[i % 4] + "</upnp:genre>\r\n" +
               "<upnp:artist>Artist " + std::to_string(i % 7) + "</upnp:artist>\r\n" +
               "<res protocolInfo=\"http-get:*:audio/mpeg:DLNA.ORG_PN=MP3;DLNA.ORG_OP=01\" size=\"" +
               std::to_string(4000000 + i) + "\" duration=\"0:03:25.000\" tarvo:filename=\"/srv/m/" + folder +
               "/a &amp; &quot;" + id + "&quot;.mp3\" tarvo:timestamp=\"1241354096\">/" + id + ".mp3</res>\r\n" +
               (i % 4 == 0 ? "<res protocolInfo=\"http-get:*:image/jpeg:*\" tarvo:filename=\"/srv/m/c.jpg\">" +
                                 std::string("</res>\r\n")
                           : "") +
               "</item>\r\n";
    }
    objects += "<container id=\"" + folder + "\" parentID=\"0\" restricted=\"0\" searchable=\"1\" childCount=\"" +
               std::to_string(2 * per_folder) + "\" tarvo:containerUpdateID=\"" + std::to_string(f + 2) +
               "\" tarvo:children=\"" + children + "\">\r\n<dc:title>Folder " + std::to_string(f) +
               "</dc:title>\r\n<upnp:class>object.container</upnp:class>\r\n"
               "<upnp:createClass includeDerived=\"1\">object.item</upnp:createClass>\r\n</container>\r\n" +
               items;
  }
  // Each reference follows its item in id order.
  std::string ordered;
  size_t r = 0, at = 0;
  while (at < objects.size()) {
    size_t end = objects.find("</item>\r\n", at);
    size_t container_end = objects.find("</container>\r\n", at);
    if (container_end < end) {
      ordered += objects.substr(at, container_end + 14 - at);
      at = container_end + 14;
      continue;
    }
    ordered += objects.substr(at, end + 9 - at) + refs[r++];
    at = end + 9;
  }
  return kHead + root("tarvo:containerUpdateID=\"9\" tarvo:maxObjectID=\"" + std::to_string(next - 1) + "\"",
                      root_children) +
         ordered + "</DIDL-Lite>\r\n";
}

TEST_F(file, ALoadAndASaveGiveTheFileBackByteForByte)
{
  const std::string text = generated_database(6, 40);
  srv.data.put("data.xml", text);
  srv.data.put("special_object", "");
  ASSERT_TRUE(srv.start());
  EXPECT_EQ(content_db_count(s), 1u + 6u * 81u);
  ASSERT_TRUE(content_db_save(s));
  std::string saved = srv.data.get("data.xml");
  ASSERT_EQ(saved.size(), text.size());
  EXPECT_TRUE(saved == text) << "first difference at "
                             << std::mismatch(saved.begin(), saved.end(), text.begin()).first - saved.begin();
  srv.stop();
  // Again from the saved file, through a stop that has nothing to save.
  ASSERT_TRUE(srv.start());
  ASSERT_TRUE(content_db_save(s));
  srv.stop();
  EXPECT_TRUE(srv.data.get("data.xml") == text);
}

TEST_F(file, DynamicItemsComeFreshFromTheirFilesOrStayAsStored)
{
  std::string media = srv.data.home + "/media";
  std::filesystem::create_directories(media);
  // Three frames of MPEG-1 Layer III, 32 kbit/s at 48 kHz: what the MP3
  // reader takes for a stream.
  std::string frame = std::string("\xff\xfb\x14\xc0", 4) + std::string(92, '\0');
  tarvo_test::write_file(media + "/new.mp3", frame + frame + frame);
  // A socket has a name and a type but cannot be opened.
  std::string socket_path = media + "/sock.mp3";
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(socket_path.size(), sizeof addr.sun_path);
  std::strcpy(addr.sun_path, socket_path.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
  auto dyn = [](const std::string &id, const std::string &path) {
    return item(id, "0", "",
                "<res protocolInfo=\"http-get:*:audio/mpeg:*\" tarvo:filename=\"" + path + "\">/" + id +
                    "-9.mp3</res>\r\n<tarvo:dynamic>1</tarvo:dynamic>\r\n");
  };
  srv.data.put("data.xml", kHead + root("tarvo:containerUpdateID=\"1\" tarvo:maxObjectID=\"9\"", "1,2,3") +
                               dyn("1", media + "/new.mp3") + dyn("2", socket_path) + dyn("3", media + "/gone.mp3") +
                               "</DIDL-Lite>\r\n");
  ASSERT_TRUE(srv.start());
  close(fd);
  EXPECT_EQ(title("1"), "new");
  didl_object *fresh = content_db_get(s, "1");
  didl_property *res = didl_property_first(fresh, DIDL_NAME(EL_RES));
  ASSERT_NE(res, nullptr);
  EXPECT_STREQ(res->text, "/1-9.mp3");
  EXPECT_STREQ(didl_attribute_get(&res->attributes, DIDL_NAME(AT_SIZE)), "288");
  EXPECT_STREQ(didl_attribute_get(&fresh->attributes, DIDL_NAME(AT_RESTRICTED)), "1");
  EXPECT_EQ(title("2"), "t2");
  EXPECT_EQ(title("3"), "t3");
}

}  // namespace

namespace {

// An object's attributes as name=value, in their order.
std::string attributes_of(const didl_object *o)
{
  std::string v;
  for (uint32_t i = 0; o && i < o->attributes.names.len; i++)
    v += std::string(i ? " " : "") + static_cast<const char *>(o->attributes.names.buf[i]) + "=" +
         static_cast<const char *>(o->attributes.values.buf[i]);
  return o ? v : "<none>";
}

}  // namespace

// Reference items that hold only their ids are kept compact: read, edited
// through, referred to, destroyed and saved as the objects they stand for.
TEST_F(file, ReferenceItemsReadEditAndSaveAsTheObjectsTheyStandFor)
{
  auto ref = [](const std::string &id, const std::string &attributes, const std::string &extra = "") {
    return "<item id=\"" + id + "\" parentID=\"1\" " + attributes + extra + ">\r\n</item>\r\n";
  };
  const std::string box = "<container id=\"1\" parentID=\"0\" restricted=\"1\" childCount=\"8\" "
                          "tarvo:containerUpdateID=\"0\" tarvo:children=\"3,4,5,6,7,8,9,10\">\r\n"
                          "<dc:title>b</dc:title>\r\n<upnp:class>object.container</upnp:class>\r\n</container>\r\n";
  srv.data.put("special_object", "");
  srv.data.put("data.xml",
               kHead + root("tarvo:containerUpdateID=\"1\" tarvo:maxObjectID=\"10\"", "1,2") + box +
                   item("2", "0", " tarvo:referenced=\"3,4,5,6,7,8\"") +
                   ref("3", "refID=\"2\" restricted=\"1\"") +                        // compact
                   ref("4", "refID=\"2\" restricted=\"1\" tarvo:private=\"1\"") +    // compact, private
                   ref("5", "refID=\"002\" restricted=\"1\"") +                      // kept: the id's text
                   ref("6", "refID=\"2\" restricted=\"0\"") +                        // kept: not restricted
                   ref("7", "refID=\"2\" restricted=\"1\" searchable=\"0\"") +       // kept: one more
                   ref("8", "refID=\"2\" restricted=\"1\"") + ref("9", "refID=\"8\" restricted=\"1\"") +
                   "<item id=\"10\" parentID=\"1\" refID=\"2\" restricted=\"1\">\r\n<dc:title>x</dc:title>\r\n"
                   "<upnp:class>object.item</upnp:class>\r\n</item>\r\n</DIDL-Lite>\r\n");
  ASSERT_TRUE(srv.start());
  ASSERT_TRUE(content_db_save(s));
  const std::string saved = srv.data.get("data.xml");
  for (const char *id : {"3", "4", "5", "6", "7", "8", "9"})
    EXPECT_NE(saved.find("<item id=\"" + std::string(id) + "\""), std::string::npos) << id;
  {
    held lock(s);
    didl_object *three = content_db_get(s, "3");
    EXPECT_EQ(attributes_of(three), "id=3 parentID=1 refID=2 restricted=1");
    EXPECT_EQ(content_db_get(s, "3"), three);
    EXPECT_EQ(content_db_parent(s, three), content_db_get(s, "1"));
    EXPECT_EQ(attributes_of(content_db_get(s, "4")), "id=4 parentID=1 refID=2 restricted=1 tarvo:private=1");
    EXPECT_EQ(attributes_of(content_db_get(s, "5")), "id=5 parentID=1 refID=002 restricted=1");
    EXPECT_EQ(attributes_of(content_db_get(s, "00003")), "id=3 parentID=1 refID=2 restricted=1");
    sys_ptralloc_rec objects{};
    ASSERT_TRUE(content_db_children(s, content_db_get(s, "1"), &objects));
    ASSERT_EQ(objects.len, 8u);
    EXPECT_EQ(attributes_of(static_cast<didl_object *>(objects.buf[5])), "id=8 parentID=1 refID=2 restricted=1");
    objects.len = 0;
    ASSERT_TRUE(content_db_referencing(s, content_db_get(s, "2"), &objects));
    EXPECT_EQ(objects.len, 6u);
    objects.len = 0;
    EXPECT_EQ(content_db_referencing(s, content_db_get(s, "3"), &objects), 1);
    EXPECT_EQ(objects.len, 0u);
    sys_ptralloc_free(&objects);
    sys_stralloc_rec sa{};
    EXPECT_EQ(content_db_list_text(s, three, CONTENT_ENTRY_HAS_REFERENCED, &sa), 0);
    sys_stralloc_free(&sa);
  }
  {
    held lock(s);
    // Through a reference the target changes; the reference stays as it was.
    EXPECT_EQ(content_db_update(s, "3", "<dc:title>t2</dc:title>", "<dc:title>u</dc:title>", 1), 0u);
    EXPECT_EQ(title("2"), "u");
    EXPECT_EQ(attributes_of(content_db_get(s, "3")), "id=3 parentID=1 refID=2 restricted=1");
    // 9 refers to 8, itself a reference: 8 takes a list of its own.
    char *made = nullptr;
    ASSERT_EQ(content_db_reference(s, "1", "9", &made), 0u);
    EXPECT_EQ(attributes_of(content_db_get(s, made)), "id=11 parentID=1 refID=8 restricted=1");
    sys_stralloc_rec sa{};
    ASSERT_TRUE(content_db_list_text(s, content_db_get(s, "8"), CONTENT_ENTRY_HAS_REFERENCED, &sa));
    EXPECT_STREQ(sa.buf, "11");
    sys_stralloc_free(&sa);
    take(made);
    EXPECT_EQ(content_db_destroy(s, "4"), 0u);
    EXPECT_EQ(content_db_get(s, "4"), nullptr);
    EXPECT_STREQ(didl_attribute_get(&content_db_get(s, "1")->attributes, DIDL_NAME(AT_CHILD_COUNT)), "8");
  }
  srv.stop();
  const std::string edited = srv.data.get("data.xml");
  EXPECT_NE(edited.find("<item id=\"11\" parentID=\"1\" refID=\"8\" restricted=\"1\">"), std::string::npos) << edited;
  EXPECT_NE(edited.find("id=\"8\" parentID=\"1\" refID=\"2\" restricted=\"1\" tarvo:referenced=\"11\""),
            std::string::npos) << edited;
  EXPECT_EQ(edited.find("id=\"4\""), std::string::npos);
  // What the edits left alone comes back byte for byte.
  for (const char *id : {"3", "5", "6", "7", "9", "10"}) {
    auto piece = [id](const std::string &text) {
      size_t at = text.find("<item id=\"" + std::string(id) + "\"");
      return at == std::string::npos ? std::string() : text.substr(at, text.find("</item>", at) - at);
    };
    EXPECT_EQ(piece(edited), piece(saved)) << id;
  }
  ASSERT_TRUE(srv.start());
  ASSERT_TRUE(content_db_save(s));
  EXPECT_TRUE(srv.data.get("data.xml") == edited);
}

// Items are kept encoded between readers: every kind of value comes back
// as it was read, an object stays the same for the holder of the lock
// through the edits made under it, and edits, destroys and saves see the
// item whole.
TEST_F(file, EncodedItemsReadEditAndSaveAsTheirObjects)
{
  const std::string box = "<container id=\"1\" parentID=\"0\" restricted=\"1\" childCount=\"6\" "
                          "tarvo:containerUpdateID=\"0\" tarvo:children=\"2,3,4,5,6,7\">\r\n"
                          "<dc:title>b</dc:title>\r\n<upnp:class>object.container</upnp:class>\r\n</container>\r\n";
  const std::string long_text(300, 'x');
  const std::string full =
      "<item id=\"2\" parentID=\"1\" restricted=\"1\" tarvo:referenced=\"7\">\r\n<dc:title>t \xc3\xa9 &amp; "
      "&lt;</dc:title>\r\n<res protocolInfo=\"http-get:*:audio/mpeg:*\" size=\"0\" duration=\"\" bitrate=\"1\" "
      "tarvo:filename=\"/m/a.mp3\">/2-3.mp3</res>\r\n<upnp:artist>A</upnp:artist>\r\n<upnp:album></upnp:album>\r\n"
      "<dc:description>" + long_text + "</dc:description>\r\n<upnp:class>object.item.audioItem</upnp:class>\r\n"
      "</item>\r\n";
  srv.data.put("special_object", "");
  auto file_of = [&](const std::string &date) {
    return kHead + root("tarvo:containerUpdateID=\"1\" tarvo:maxObjectID=\"7\"", "1") + box + full +
           item("3", "1", " tarvo:private=\"1\"") + item("4", "1", "", "<upnp:toc>u</upnp:toc>\r\n") +
           item("5", "1", "", "<dc:date>" + date + "</dc:date>\r\n") + item("6", "1") +
           "<item id=\"7\" parentID=\"1\" refID=\"2\" restricted=\"1\">\r\n</item>\r\n</DIDL-Lite>\r\n";
  };
  srv.data.put("data.xml", file_of("a&#9;b"));  // the tab is mended by the load
  ASSERT_TRUE(srv.start());
  ASSERT_TRUE(content_db_save(s));
  // Every item comes back byte for byte, but for the mended value.
  EXPECT_EQ(srv.data.get("data.xml"), file_of("a b"));
  {
    held lock(s);
    didl_object *two = content_db_get(s, "2");
    ASSERT_NE(two, nullptr);
    EXPECT_EQ(content_db_get(s, "2"), two);
    EXPECT_EQ(content_db_parent(s, two), content_db_get(s, "1"));
    EXPECT_EQ(attributes_of(two), "id=2 parentID=1 restricted=1");
    EXPECT_STREQ(didl_property_first(two, DIDL_NAME(EL_DC_DESCRIPTION))->text, long_text.c_str());
    sys_stralloc_rec sa{};
    ASSERT_TRUE(content_db_list_text(s, two, CONTENT_ENTRY_HAS_REFERENCED, &sa));
    EXPECT_STREQ(sa.buf, "7");
    sys_stralloc_free(&sa);
    sys_ptralloc_rec objects{};
    EXPECT_EQ(content_db_children(s, two, &objects), 1);
    EXPECT_EQ(objects.len, 0u);
    sys_ptralloc_free(&objects);
    // An update and an edit in place: what was read stays readable until
    // the lock goes.
    EXPECT_EQ(content_db_update(s, "2", "<upnp:artist>A</upnp:artist>", "<upnp:artist>B</upnp:artist>", 1), 0u);
    EXPECT_STREQ(didl_property_first(two, DIDL_NAME(EL_UPNP_ARTIST))->text, "A");
    EXPECT_STREQ(didl_property_first(content_db_get(s, "2"), DIDL_NAME(EL_UPNP_ARTIST))->text, "B");
    didl_object *three = content_db_own(s, content_db_get(s, "3"));
    ASSERT_NE(three, nullptr);
    EXPECT_TRUE(didl_attribute_remove(&three->attributes, DIDL_NAME(AT_TARVO_PRIVATE)));
    EXPECT_EQ(content_db_destroy(s, "6"), 0u);
  }
  {
    held lock(s);
    EXPECT_STREQ(didl_property_first(content_db_get(s, "2"), DIDL_NAME(EL_UPNP_ARTIST))->text, "B");
    EXPECT_EQ(attributes_of(content_db_get(s, "3")), "id=3 parentID=1 restricted=1");
    EXPECT_EQ(content_db_get(s, "6"), nullptr);
    // A destroyed target takes its references along.
    EXPECT_EQ(content_db_destroy(s, "2"), 0u);
    EXPECT_EQ(content_db_get(s, "7"), nullptr);
    EXPECT_STREQ(didl_attribute_get(&content_db_get(s, "1")->attributes, DIDL_NAME(AT_CHILD_COUNT)), "3");
  }
  srv.stop();
  const std::string edited = srv.data.get("data.xml");
  EXPECT_NE(edited.find(item("3", "1")), std::string::npos) << edited;
  EXPECT_EQ(edited.find("id=\"2\""), std::string::npos);
  EXPECT_EQ(edited.find("id=\"7\""), std::string::npos);
  ASSERT_TRUE(srv.start());
  ASSERT_TRUE(content_db_save(s));
  EXPECT_TRUE(srv.data.get("data.xml") == edited);
}
