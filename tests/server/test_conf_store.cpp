#include <vennard/conf_store.h>

#include <gtest/gtest.h>

#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_str.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tarvo_test.h"

namespace fs = std::filesystem;

namespace {

struct store {
  tarvo_test::scratch_dir dir;
  std::string home = dir.path.string();

  store()
  {
    for (const char *d : {"conf", "conf/access/allow", "conf/access/deny", "conf/filetype", "conf/sync/share",
                          "conf/sync/data"})
      fs::create_directories(dir.path / d);
  }
  std::string conf(const std::string &key) const { return home + "/conf/" + key; }
  void put(const std::string &key, const std::string &text) const { tarvo_test::write_file(conf(key), text); }
  std::string get(const std::string &key) const { return tarvo_test::read_file(conf(key)); }
  const char *h() const { return home.c_str(); }
};

std::vector<std::string> take(sys_str_list l)
{
  std::vector<std::string> v;
  for (char **p = l; p && *p; p++) v.emplace_back(*p);
  sys_str_list_free(l);
  return v;
}

std::string take(char *s)
{
  std::string v = s ? s : "";
  sys_alloc_free(s);
  return v;
}

std::vector<std::string> files_of(const std::string &folder)
{
  std::vector<std::string> v;
  for (auto &e : fs::directory_iterator(folder)) v.push_back(e.path().filename().string());
  std::sort(v.begin(), v.end());
  return v;
}

}  // namespace

TEST(conf_store, values_numbers_and_ports)
{
  store s;
  char *v = nullptr;
  s.put("friendly_name", "Living room\r\nsecond line\n");
  ASSERT_EQ(conf_value_read(s.h(), CONF_KEY_FRIENDLY_NAME, &v), 1);
  EXPECT_EQ(take(v), "Living room");
  s.put("friendly_name", "");
  ASSERT_EQ(conf_value_read(s.h(), CONF_KEY_FRIENDLY_NAME, &v), 1);
  EXPECT_EQ(take(v), "");
  s.put("friendly_name", " padded \r\r\n");
  ASSERT_EQ(conf_value_read(s.h(), CONF_KEY_FRIENDLY_NAME, &v), 1);
  EXPECT_EQ(take(v), " padded \r");
  EXPECT_EQ(conf_value_read(s.h(), "missing", &v), 0);

  uint32_t age = 0;
  EXPECT_EQ(conf_max_age_read(s.h(), &age), 1);
  EXPECT_EQ(age, 1800u);
  s.put("max_age", "abc");
  EXPECT_EQ(conf_max_age_read(s.h(), &age), 1);
  EXPECT_EQ(age, 0u);
  s.put("max_age", "900 seconds");
  EXPECT_EQ(conf_max_age_read(s.h(), &age), 1);
  EXPECT_EQ(age, 900u);

  uint16_t port = 1;
  EXPECT_EQ(conf_port_read(s.h(), CONF_KEY_DMSM_PORT, &port), 0);
  s.put("dmsm_port", "30002\r\n");
  EXPECT_EQ(conf_port_read(s.h(), CONF_KEY_DMSM_PORT, &port), 1);
  EXPECT_EQ(port, 30002);
  s.put("dmsm_port", "70000");  // the low 16 bits
  EXPECT_EQ(conf_port_read(s.h(), CONF_KEY_DMSM_PORT, &port), 1);
  EXPECT_EQ(port, 70000 & 0xFFFF);
  s.put("dmsm_port", " 80");
  EXPECT_EQ(conf_port_read(s.h(), CONF_KEY_DMSM_PORT, &port), 1);
  EXPECT_EQ(port, 0);

  // A line longer than any value is refused rather than cut.
  s.put("friendly_name", std::string(100000, 'x'));
  EXPECT_EQ(conf_value_read(s.h(), CONF_KEY_FRIENDLY_NAME, &v), 0);
}

TEST(conf_store, lists)
{
  store s;
  sys_str_list l = nullptr;
  ASSERT_EQ(conf_list_read(s.h(), CONF_KEY_FILTER, &l), 1);
  EXPECT_TRUE(take(l).empty());
  s.put("filter", "first\r\n\r\nsecond\n\nthird");
  ASSERT_EQ(conf_list_read(s.h(), CONF_KEY_FILTER, &l), 1);
  EXPECT_EQ(take(l), (std::vector<std::string>{"first", "second", "third"}));
  fs::remove(s.conf("filter"));
  fs::create_directory(s.conf("filter"));
  ASSERT_EQ(conf_list_read(s.h(), CONF_KEY_FILTER, &l), 1);
  EXPECT_TRUE(take(l).empty());

  sys_ptralloc_rec pa{};
  s.put("special_object", "0\n12\n");
  ASSERT_EQ(conf_list_append(s.h(), CONF_KEY_SPECIAL_OBJECT, &pa), 1);
  ASSERT_EQ(pa.len, 2u);
  EXPECT_STREQ(static_cast<char *>(pa.buf[1]), "12");
  for (uint32_t i = 0; i < pa.len; i++) sys_alloc_free(pa.buf[i]);
  sys_ptralloc_free(&pa);

  // The share list must exist; the list of offered folders need not.
  EXPECT_EQ(conf_share_list_read(s.h(), &l), 0);
  ASSERT_EQ(conf_share_done_read(s.h(), &l), 1);
  EXPECT_TRUE(take(l).empty());
  const char *shares[] = {"/srv/music", "/srv/photo album", nullptr};
  ASSERT_EQ(conf_share_list_write(s.h(), const_cast<char *const *>(shares)), 1);
  EXPECT_EQ(s.get("sync/share/list"), "/srv/music\n/srv/photo album\n");
  ASSERT_EQ(conf_share_list_read(s.h(), &l), 1);
  EXPECT_EQ(take(l), (std::vector<std::string>{"/srv/music", "/srv/photo album"}));
  ASSERT_EQ(conf_share_done_write(s.h(), const_cast<char *const *>(shares + 1)), 1);
  EXPECT_EQ(s.get("sync/share_done"), "/srv/photo album\n");
  EXPECT_EQ(files_of(s.conf("sync/share")), std::vector<std::string>{"list"});
  EXPECT_FALSE(fs::exists(s.conf("sync/share_done.tmp")));
}

TEST(conf_store, flags_and_auto_run)
{
  store s;
  int on = 1;
  ASSERT_EQ(conf_flag_read(s.h(), CONF_KEY_AUTO_RUN, &on), 1);
  EXPECT_EQ(on, 0);
  ASSERT_EQ(conf_auto_run_write(s.h(), 0), 1);
  EXPECT_FALSE(fs::exists(s.conf("auto_run")));
  ASSERT_EQ(conf_auto_run_write(s.h(), 1), 1);
  ASSERT_EQ(conf_auto_run_write(s.h(), 7), 1);
  EXPECT_TRUE(fs::is_regular_file(s.conf("auto_run")));
  EXPECT_EQ(fs::file_size(s.conf("auto_run")), 0u);
  ASSERT_EQ(conf_flag_read(s.h(), CONF_KEY_AUTO_RUN, &on), 1);
  EXPECT_EQ(on, 1);
  ASSERT_EQ(conf_auto_run_write(s.h(), 0), 1);
  EXPECT_FALSE(fs::exists(s.conf("auto_run")));

  fs::create_directory(s.conf("suspend_action"));
  ASSERT_EQ(conf_flag_read(s.h(), CONF_KEY_SUSPEND_ACTION, &on), 1);
  EXPECT_EQ(on, 0);
}

TEST(conf_store, access_default)
{
  store s;
  int allow = -1;
  EXPECT_EQ(conf_access_default_read(s.h(), &allow), 0);
  struct {
    const char *text;
    int allow;
  } cases[] = {{"allow", 1}, {"allow\r\n", 1}, {"al", 1}, {"", 1}, {"deny", 0}, {"allow ", 0}, {"Allow", 0}};
  for (auto &c : cases) {
    s.put("access/default", c.text);
    ASSERT_EQ(conf_access_default_read(s.h(), &allow), 1) << c.text;
    EXPECT_EQ(allow, c.allow) << c.text;
  }
  ASSERT_EQ(conf_access_default_write(s.h(), 0), 1);
  EXPECT_EQ(s.get("access/default"), "deny");
  ASSERT_EQ(conf_access_default_write(s.h(), 1), 1);
  EXPECT_EQ(s.get("access/default"), "allow");
  EXPECT_EQ(files_of(s.conf("access")), (std::vector<std::string>{"allow", "default", "deny"}));
}

TEST(conf_store, folders_of_records)
{
  store s;
  ASSERT_EQ(conf_access_write(s.h(), 1, "00-11-22-33-44-55", "192.168.0.20"), 1);
  ASSERT_EQ(conf_access_write(s.h(), 1, "00-11-22-33-44-01", "192.168.0.9"), 1);
  ASSERT_EQ(conf_access_write(s.h(), 0, "aa-bb-cc-dd-ee-ff", "192.168.0.30"), 1);
  EXPECT_EQ(s.get("access/allow/00-11-22-33-44-55"), "192.168.0.20");
  // A write that was cut off leaves a temporary file, which is no record.
  s.put("access/allow/.tmp.0f3b", "192.168.0.99");
  sys_str_list names = nullptr, values = nullptr;
  ASSERT_EQ(conf_folder_list(s.h(), CONF_KEY_ACCESS_ALLOW, &names, &values), 1);
  EXPECT_EQ(take(names), (std::vector<std::string>{"00-11-22-33-44-01", "00-11-22-33-44-55"}));
  EXPECT_EQ(take(values), (std::vector<std::string>{"192.168.0.9", "192.168.0.20"}));
  // Nothing left behind in the access folder by the writes.
  EXPECT_EQ(files_of(s.conf("access")), (std::vector<std::string>{"allow", "deny"}));

  // Names that would leave the folder or hide as temporary files.
  EXPECT_EQ(conf_access_write(s.h(), 1, "../../x", "1.2.3.4"), 0);
  EXPECT_EQ(conf_access_write(s.h(), 1, "..", "1.2.3.4"), 0);
  EXPECT_EQ(conf_access_write(s.h(), 1, "", "1.2.3.4"), 0);
  EXPECT_EQ(conf_filetype_write(s.h(), "a/b", "x/y"), 0);
  EXPECT_EQ(conf_filetype_write(s.h(), ".tmp.mp3", "x/y"), 0);

  ASSERT_EQ(conf_filetype_write(s.h(), "MP3", "audio/mpeg"), 1);
  ASSERT_EQ(conf_filetype_write(s.h(), "jpg", "image/jpeg"), 1);
  EXPECT_EQ(s.get("filetype/mp3"), "audio/mpeg");
  ASSERT_EQ(conf_folder_list(s.h(), CONF_KEY_FILETYPE, &names, &values), 1);
  EXPECT_EQ(take(names), (std::vector<std::string>{"jpg", "mp3"}));
  EXPECT_EQ(take(values), (std::vector<std::string>{"image/jpeg", "audio/mpeg"}));

  ASSERT_EQ(conf_share_data_write(s.h(), "17", "/srv/music"), 1);
  EXPECT_EQ(s.get("sync/data/17"), "/srv/music");
  ASSERT_EQ(conf_share_data_remove(s.h(), "17"), 1);
  EXPECT_TRUE(files_of(s.conf("sync/data")).empty());

  EXPECT_EQ(conf_folder_list(s.h(), "missing", &names, &values), 0);
}

TEST(conf_store, writes_keep_the_old_value_on_failure)
{
  store s;
  s.put("friendly_name", "old");
  // The temporary file cannot be made: the old value stays.
  fs::create_directory(s.conf(".tmp.friendly_name"));
  EXPECT_EQ(conf_value_write(s.h(), CONF_KEY_FRIENDLY_NAME, "new"), 0);
  EXPECT_EQ(s.get("friendly_name"), "old");
  fs::remove(s.conf(".tmp.friendly_name"));
  ASSERT_EQ(conf_value_write(s.h(), CONF_KEY_FRIENDLY_NAME, "new"), 1);
  EXPECT_EQ(s.get("friendly_name"), "new");

  // The rename fails (the key is a folder): the temporary file goes.
  fs::create_directories(s.conf("access/default/x"));
  EXPECT_EQ(conf_access_default_write(s.h(), 1), 0);
  EXPECT_FALSE(fs::exists(s.conf("access/.tmp.default")));
}

TEST(conf_store, udn)
{
  store s;
  char udn[CONF_UDN_LENGTH + 1];
  ASSERT_EQ(conf_udn_read(s.h(), udn), 1);
  std::string made = udn;
  EXPECT_EQ(made.size(), 41u);
  EXPECT_EQ(made.rfind("uuid:", 0), 0u);
  EXPECT_EQ(made[19], '1');  // a time-based UUID
  EXPECT_EQ(s.get("udn"), made);
  EXPECT_EQ(files_of(s.conf("")), (std::vector<std::string>{"access", "filetype", "sync", "udn"}));
  ASSERT_EQ(conf_udn_read(s.h(), udn), 1);
  EXPECT_EQ(made, udn);

  std::string odd = "urn:0123456789012345678901234567890123456";
  s.put("udn", odd + "\r\n");
  ASSERT_EQ(conf_udn_read(s.h(), udn), 1);
  EXPECT_EQ(odd, udn);

  // A short UDN, as a write cut off would leave it, is replaced.
  s.put("udn", "uuid:0123");
  ASSERT_EQ(conf_udn_read(s.h(), udn), 1);
  EXPECT_EQ(std::string(udn).size(), 41u);
  EXPECT_NE(made, udn);
}

TEST(conf_store, dot_entries_and_whole_files)
{
  store s;
  s.put("sync/data/.tmp.12", "x");
  s.put("sync/data/12", "/srv");
  s.put("sync/data/.hidden", "y");
  ASSERT_EQ(conf_dot_entries_remove(s.conf("sync/data").c_str()), 1);
  EXPECT_EQ(files_of(s.conf("sync/data")), std::vector<std::string>{"12"});
  EXPECT_EQ(conf_dot_entries_remove(s.conf("none").c_str()), 0);

  std::string big(20000, 'a');
  big[8191] = '\n';
  fs::create_directories(s.conf("upnp_root/description"));
  s.put("upnp_root/description/av_msd.xml", big);
  sys_stralloc_rec sa{};
  ASSERT_EQ(sys_stralloc_copys(&sa, "pre:"), 1);
  ASSERT_EQ(conf_description_read(s.h(), &sa), 1);
  EXPECT_EQ(std::string(sa.buf, sa.len), "pre:" + big);
  sys_stralloc_free(&sa);
  sa = sys_stralloc_rec{};
  EXPECT_EQ(file_read_all(s.conf("none").c_str(), &sa), 0);
  sys_stralloc_free(&sa);
}

TEST(conf_store, default_friendly_name)
{
  store s;
  char host[256] = "";
  gethostname(host, sizeof host);
  char *p = nullptr;
  ASSERT_EQ(conf_friendly_name_default("Media Server", &p), 1);
  EXPECT_EQ(take(p), std::string(host) + " Media Server");
}
