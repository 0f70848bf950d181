// Configuration files, template fill and the default file-type list of the
// web administration program, in process, with the server calls answered
// by this test.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "helper_tollamy.h"
#include "tollamy_config.h"
#include "tollamy_filetype.h"
#include "tollamy_request.h"
#include "tollamy_server.h"

using namespace tollamy_test;

namespace {

int server_calls = 0;
bool server_up = true;
std::string racing_file;  // written by "another request" during the call

std::vector<std::string> names(const std::string &dir)
{
  std::vector<std::string> out;
  DIR *d = opendir(dir.c_str());
  while (dirent *e = d ? readdir(d) : nullptr)
    if (e->d_name[0] != '.') out.push_back(e->d_name);
  if (d) closedir(d);
  std::sort(out.begin(), out.end());
  return out;
}

struct loaded : folder {
  tollamy_config c;
  loaded()
  {
    if (chdir(dir.c_str()) != 0) ADD_FAILURE();
    EXPECT_TRUE(tollamy_load_params(&c) && tollamy_load_settings(&c) && tollamy_load_texts(&c));
  }
};

}  // namespace

bool tollamy_server_file_types(uint16_t port, std::vector<std::string> *exts, std::vector<std::string> *mimes)
{
  EXPECT_EQ(port, 30000);
  server_calls++;
  if (!racing_file.empty()) put(racing_file, "theirs");
  *exts = {"mp3", "jpg", "a&b", "avi"};
  *mimes = {"audio/mpeg", "image/jpeg", "x/<y>", "video/avi"};
  return server_up;
}

bool tollamy_server_friendly_name(uint16_t, std::string *name)
{
  *name = "<b>name</b>";
  return true;
}

TEST(TollamyConfig, SettingsFirstOccurrenceAndWriteThroughUniqueTemp)
{
  std::vector<tollamy_entry> s;
  std::string text = "# note\n LANGUAGE=\"en\"\nLANGUAGE=\"ja\"\r\nLANGUAGE=\"en\"\nOTHER=\"x\"\nSHOW_SECURITY_DIALOG=";
  tollamy_parse_settings(text.data(), uint32_t(text.size()), &s);
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].value, "ja");
  std::vector<tollamy_entry> bare;
  tollamy_parse_settings("LANGUAGE=ja", 11, &bare);
  ASSERT_EQ(bare.size(), 1u);
  EXPECT_EQ(bare[0].value, "ja");

  loaded f;
  EXPECT_FALSE(tollamy_setting_set(&f.c, 99, "x"));
  ASSERT_TRUE(tollamy_setting_set(&f.c, TOLLAMY_LANGUAGE, "ja"));
  tollamy_settings_mark(&f.c, TOLLAMY_LANG_CONFIG_PATH, {TOLLAMY_LANGUAGE});
  tollamy_settings_mark(&f.c, TOLLAMY_LANG_CONFIG_PATH, {TOLLAMY_SHOW_SECURITY_DIALOG});
  ASSERT_TRUE(tollamy_settings_write(&f.c));
  EXPECT_EQ(get(f.dir + "/lang.conf"), "LANGUAGE=\"ja\"\n");
  EXPECT_EQ(get(f.dir + "/view.conf"), "SHOW_SECURITY_DIALOG=\"true\"\n");
  // Nothing but the files themselves is left beside them.
  for (const std::string &n : names(f.dir)) EXPECT_EQ(n.find(".tmp"), std::string::npos) << n;
  // A temporary name another writer holds is never reused or truncated.
  put(f.dir + "/lang.conf.tmp", "held");
  ASSERT_TRUE(tollamy_settings_write(&f.c));
  EXPECT_EQ(get(f.dir + "/lang.conf.tmp"), "held");

  // A file that cannot be written keeps the old one.
  tollamy_config broken = f.c;
  broken.params.insert(broken.params.begin(), {TOLLAMY_LANG_CONFIG_PATH, f.dir + "/missing/lang.conf"});
  EXPECT_FALSE(tollamy_settings_write(&broken));
  EXPECT_EQ(get(f.dir + "/lang.conf"), "LANGUAGE=\"ja\"\n");
}

TEST(TollamyConfig, ReadersKeepKnownEntriesOnly)
{
  std::vector<tollamy_entry> p;
  std::string xml = "<parameter_list><parameter><id>NOPE</id><value>a</value></parameter>"
                    "<other><id>MS_CONFIG_DIR</id><value>b</value></other>"
                    "<parameter><id>MS_CONFIG_DIR</id><x><value>c</value></x></parameter>"
                    "<parameter><id>MS_CONFIG_DIR</id><value></value></parameter>"
                    "<parameter><id>HTML_RESOURCE_DIR</id><value>d &amp; e</value></parameter></parameter_list>";
  ASSERT_TRUE(tollamy_parse_params(xml.data(), uint32_t(xml.size()), &p));
  ASSERT_EQ(p.size(), 2u);
  EXPECT_EQ(p[0].number, TOLLAMY_MS_CONFIG_DIR);
  EXPECT_EQ(p[0].value, "");
  EXPECT_EQ(p[1].value, "d & e");
  std::string other = "<text_list><text><id>COMMON_FAILED</id><value>x</value></text></text_list>";
  EXPECT_FALSE(tollamy_parse_params(other.data(), uint32_t(other.size()), &p));
  EXPECT_EQ(p.size(), 2u);
  std::vector<tollamy_entry> t;
  ASSERT_TRUE(tollamy_parse_texts(other.data(), uint32_t(other.size()), &t));
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].number, 2u);
}

TEST(TollamyConfig, TemplateFillLeftToRightWithoutRescanning)
{
  // Keys sharing a prefix: the first listed wins at each position.
  const char *keys[] = {"[[A]]", "[[A]]]", "[[B]]", "[[C]]", nullptr};
  const char *values[] = {"<[[B]]>", "never", "b", nullptr};
  EXPECT_EQ(tollamy_fill("x[[A]]][[B]][[C]][[", keys, values, false), "x<[[B]]>]b[[C]][[");
  EXPECT_EQ(tollamy_fill("'[[B]]'&", keys, values, true), "&apos;b&apos;&amp;");
  loaded f;
  std::string out;
  EXPECT_TRUE(tollamy_fill_file(&f.c, "tollamy_page_login.html.part", keys, values, false, &out));
  EXPECT_EQ(out, "<p>[[LOGIN_TITLE]] [[server_name]] [[lose_session]]</p>");
  EXPECT_FALSE(tollamy_fill_file(&f.c, "none.html.part", keys, values, false, &out));
  EXPECT_STREQ(tollamy_text_get(&f.c, "LIST_LOADING"), "=LIST_LOADING=");
}

TEST(TollamyConfig, DefaultFileTypeListMadeOnceWholeAndEscaped)
{
  loaded f;
  std::string path = f.dir + "/config/default_filetype.xml";
  unlink(path.c_str());
  server_up = false;
  server_calls = 0;
  EXPECT_FALSE(tollamy_default_list_ensure(&f.c, 30000));
  EXPECT_EQ(names(f.dir + "/config"), (std::vector<std::string>{"login"}));

  server_up = true;
  ASSERT_TRUE(tollamy_default_list_ensure(&f.c, 30000));
  EXPECT_EQ(get(path),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
            "<!DOCTYPE default_filetype_list SYSTEM \"default_filetype.dtd\">\n\n"
            "<default_filetype_list>\n"
            "\t<filetype>\n\t\t<extention>a&amp;b</extention>\n\t\t<mimetype>x/&lt;y&gt;</mimetype>\n\t</filetype>\n"
            "\t<filetype>\n\t\t<extention>avi</extention>\n\t\t<mimetype>video/avi</mimetype>\n\t</filetype>\n"
            "\t<filetype>\n\t\t<extention>jpg</extention>\n\t\t<mimetype>image/jpeg</mimetype>\n\t</filetype>\n"
            "\t<filetype>\n\t\t<extention>mp3</extention>\n\t\t<mimetype>audio/mpeg</mimetype>\n\t</filetype>\n"
            "</default_filetype_list>\n");
  ASSERT_TRUE(tollamy_default_list_ensure(&f.c, 30000));
  EXPECT_EQ(server_calls, 2);
  std::vector<std::string> exts, mimes;
  ASSERT_TRUE(tollamy_default_list_read(&f.c, &exts, &mimes));
  EXPECT_EQ(exts, (std::vector<std::string>{"a&b", "avi", "jpg", "mp3"}));
  EXPECT_EQ(mimes[0], "x/<y>");

  // Another request that puts the file first wins; this one still succeeds.
  unlink(path.c_str());
  racing_file = path;
  EXPECT_TRUE(tollamy_default_list_ensure(&f.c, 30000));
  racing_file.clear();
  EXPECT_EQ(get(path), "theirs");
  EXPECT_EQ(names(f.dir + "/config"), (std::vector<std::string>{"default_filetype.xml", "login"}));

  exts.clear();
  mimes.clear();
  const std::string other = "<list><filetype><extention>x</extention></filetype></list>";
  EXPECT_TRUE(tollamy_default_list_parse(other.data(), uint32_t(other.size()), &exts, &mimes));
  EXPECT_TRUE(exts.empty() && mimes.empty());
  auto doc = [](const std::string &inner) {
    return "<default_filetype_list><filetype>" + inner + "</filetype></default_filetype_list>";
  };
  for (auto [inner, ok] : {std::pair<std::string, bool>{"<extention>" + std::string(255, 'e') + "</extention>", true},
                          {"<extention>" + std::string(256, 'e') + "</extention>", false},
                          {"<mimetype><b/></mimetype>", false},
                          {"<other><b/></other><mimetype/>", true}}) {
    exts.clear();
    mimes.clear();
    std::string d = doc(inner);
    EXPECT_EQ(tollamy_default_list_parse(d.data(), uint32_t(d.size()), &exts, &mimes), ok) << inner;
  }
  EXPECT_EQ(mimes, (std::vector<std::string>{""}));
}

TEST(TollamyConfig, SessionIdsAndBirthTime)
{
  char a[37], b[37];
  ASSERT_TRUE(tollamy_session_id_make(a) && tollamy_session_id_make(b));
  EXPECT_TRUE(tollamy_session_id_valid(a));
  EXPECT_STRNE(a, b);
  struct statx x {};
  x.stx_mtime.tv_sec = 1000;
  x.stx_btime.tv_sec = 0;
  EXPECT_EQ(tollamy_session_born(&x), 1000);
  x.stx_mask = STATX_BTIME;
  EXPECT_EQ(tollamy_session_born(&x), 1000);
  x.stx_btime.tv_sec = 900;
  EXPECT_EQ(tollamy_session_born(&x), 900);
}
