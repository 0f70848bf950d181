// The page files that ship with the web administration program: both
// language files define exactly the program's text keys, with texts that
// are safe to write unescaped into an answer; every template exists and
// uses only the placeholders that its controller fills, and none carries
// script; the parameter file names every parameter.
#include <dirent.h>
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <string>

#include "helper_tollamy.h"
#include "tollamy_config.h"
#include "tollamy_text_keys.h"

namespace {

const std::string data = TOLLAMY_DATA_DIR;

using keys = std::set<std::string>;

// Each template with the placeholders its filler knows.
const std::map<std::string, keys> templates = {
    {"tollamy_menu", {"COMMON_LOADING_PAGE", "MENU_TITLE_SHARE", "MENU_TITLE_SECURITY", "MENU_TITLE_BACKUP",
                      "MENU_TITLE_CONTROL", "MENU_TITLE_SETTING", "MENU_TITLE_LOGOUT"}},
    {"tollamy_page_login", {"LOGIN_TITLE", "LOGIN_PASSWORD", "LOGIN_LOGIN", "server_name", "lose_session"}},
    {"tollamy_page_name",
     {"SERVER_TITLE", "SERVER_FOOTER_MESSAGE", "SERVER_NAME", "COMMON_APPLY", "COMMON_UNDO", "COMMON_LOGOUT"}},
    {"tollamy_page_view",
     {"lang_ja", "lang_en", "COMMON_APPLY", "COMMON_UNDO", "LANGUAGE_ITEM_JA", "LANGUAGE_ITEM_EN", "LANGUAGE_TITLE",
      "DESIGN_TITLE", "DESIGN_ITEM_DEFAULT", "DESIGN_ITEM_NONE"}},
    {"tollamy_page_password",
     {"PASSWORD_TITLE", "PASSWORD_PASSWORD", "PASSWORD_RETYPE", "PASSWORD_NEW_PASSWORD",
      "PASSWORD_DIFFERENT_PASSWORD", "COMMON_APPLY", "COMMON_CLEAR"}},
    {"tollamy_page_mimetype",
     {"MIMETYPE_TITLE", "MIMETYPE_ADD", "MIMETYPE_EDIT", "MIMETYPE_UNREGISTER", "MIMETYPE_RESET",
      "MIMETYPE_EXTENTION", "MIMETYPE_MIMETYPE", "COMMON_RELOAD", "COMMON_SELECT_ALL", "COMMON_UNSELECT_ALL"}},
    {"tollamy_page_mimetype_loading", {"LIST_LOADING"}},
    {"tollamy_page_mimetype_page_register",
     {"MIMETYPE_TITLE_REGISTER", "MIMETYPE_EXTENTION", "MIMETYPE_MIMETYPE", "COMMON_CLEAR", "MIMETYPE_ADD",
      "MIMETYPE", "EXTENTION", "EDIT_FLAG"}},
    {"tollamy_page_mimetype_mimetype_start", {"MIMETYPE_ADD", "COMMON_CANCEL"}},
    {"tollamy_page_mimetype_mimetype_body",
     {"MIMETYPE", "EXTENTION", "SE_ID", "TR_ID", "COMMON_APPLY", "COMMON_CANCEL"}},
    {"tollamy_page_mimetype_mimetype_end", {}},
    {"tollamy_page_database",
     {"DATABASE_TITLE", "DATABASE_NOTICE_MESSAGE", "DATABASE_REPAIR_DATABASE", "COMMON_EXEC"}},
    {"tollamy_page_backup", {"BACKUP_TITLE"}},
    {"tollamy_page_backup_server_table_loading", {"LIST_LOADING"}},
    {"tollamy_page_backup_task_table_loading", {"LIST_LOADING"}},
    {"tollamy_page_backup_page_browse_container_loading", {"LIST_LOADING"}},
    {"tollamy_page_backup_page_browse_container",
     {"UDN", "CONTROL_URL_CD", "FRIENDLY_NAME", "ICON_URL", "BACKUP_BROWSE_CONTAINER_TITLE",
      "BACKUP_RETRIEVING_CONTAINER_LIST", "BACKUP_CONTAINER_NAME", "BACKUP_BUTTON_CREATE_TASK",
      "BACKUP_CREATING_TASK", "BACKUP_FAILED_BROWSE_CONTAINER", "BACKUP_FAILED_NO_CONTAINER_IN_SERVER",
      "BACKUP_BACK_TO_SERVER_LIST", "BACKUP_S_CONTAINER_LIST", "COMMON_RELOAD"}},
    {"tollamy_page_backup_page_server_list", {"BACKUP_SERVER_LIST", "COMMON_RELOAD"}},
    {"tollamy_page_backup_server_table_start", {}},
    {"tollamy_page_backup_server_table_body",
     {"udn", "icon_url", "friendly_name", "control_url_cd", "button_value_create_task", "loading_task_list",
      "BACKUP_FAILED_RETRIEVE_TASK_LIST", "BACKUP_RERETRIEVE_TASK_LIST", "BACKUP_NTASK", "ntask", "TR_ID",
      "SE_ID"}},
    {"tollamy_page_backup_server_table_end", {}},
    {"tollamy_page_backup_task_table_start",
     {"folder", "state", "date", "udn", "control_url_cd", "friendly_name", "icon_url", "BACKUP_BUTTON_ADD_TASK",
      "BACKUP_BUTTON_REMOVE_TASK", "COMMON_SELECT_ALL", "COMMON_UNSELECT_ALL", "COMMON_RELOAD"}},
    {"tollamy_page_backup_task_table_body",
     {"container_name", "state", "time", "udn", "control_url_cd", "task_id", "btn_str", "btn_remove_task", "TR_ID",
      "SE_ID"}},
    {"tollamy_page_backup_task_table_end", {}},
    {"tollamy_page_security",
     {"SECURITY_CHECK_SHOW_SECURITY_DIALOG", "SECURITY_ALLOW", "SECURITY_ALLOW_LIST", "SECURITY_DENY",
      "SECURITY_DENY_LIST", "SECURITY_TO_ALLOW", "SECURITY_TO_DENY", "SECURITY_TITLE", "SECURITY_BUTTON_DELETE",
      "SECURITY_BUTTON_PUBLIC", "SECURITY_BUTTON_PRIVATE", "SECURITY_DEFAULT", "SECURITY_HOST", "SECURITY_IP_MAC",
      "SECURITY_DEFAULT_FOOTER_MESSAGE", "SECURITY_ALLOW_LIST_FOOTNOTE", "SECURITY_DENY_LIST_FOOTNOTE",
      "SECURITY_SHOW_SECURITY_DIALOG", "COMMON_RELOAD", "COMMON_SELECT_ALL", "COMMON_UNSELECT_ALL"}},
    {"tollamy_page_security_client_list_loading", {"LIST_LOADING"}},
    {"tollamy_page_security_default",
     {"SECURITY_DEFAULT_ALLOW", "SECURITY_DEFAULT_DENY", "DEFAULT_IS_ALLOW", "DEFAULT_IS_DENY"}},
    {"tollamy_page_security_client_list_start", {"TABLE_ID"}},
    {"tollamy_page_security_client_list_body",
     {"MAC", "IP", "HOST", "DENY_OR_ALLOW", "MAC_AND_IP", "LIST", "TR_NAME", "TR_ID", "SE_NAME", "SE_ID",
      "HOST_ID"}},
    {"tollamy_page_security_client_list_end", {}},
    {"tollamy_page_control",
     {"CONTROL_TITLE", "CONTROL_EXPLANATION", "CONTROL_STATE", "CONTROL_STATE_ON", "CONTROL_STATE_OFF",
      "CONTROL_STOP_SERVER", "CONTROL_START_SERVER", "CONTROL_AUTORUN_TITLE", "CONTROL_AUTORUN_EXPLANATION"}},
    {"tollamy_page_share",
     {"SHARE_TITLE", "SHARE_ADD", "SHARE_CONTAINER", "SHARE_UNREGISTER", "DATABASE_TITLE",
      "DATABASE_NOTICE_MESSAGE", "DATABASE_REPAIR_DATABASE", "COMMON_RELOAD", "COMMON_SELECT_ALL",
      "COMMON_UNSELECT_ALL"}},
    {"tollamy_page_share_share_list_loading", {"LIST_LOADING"}},
    {"tollamy_page_share_share_list_start", {}},
    {"tollamy_page_share_share_list_body", {"PATH", "SE_ID", "TR_ID"}},
    {"tollamy_page_share_share_list_end", {}},
    {"tollamy_page_setting",
     {"COMMON_LOADING_PAGE", "SETTING_TITLE_DATABASE", "SETTING_TITLE_NAME", "SETTING_TITLE_MIMETYPE",
      "SETTING_TITLE_VIEW", "SETTING_TITLE_PASSWORD"}},
    {"tollamy_page_language", {"LANGUAGE_TITLE", "LANGUAGE_JA", "LANGUAGE_EN", "COMMON_APPLY"}},
};

std::set<std::string> files_in(const std::string &dir)
{
  std::set<std::string> out;
  DIR *d = opendir(dir.c_str());
  for (dirent *e; d && (e = readdir(d));)
    if (e->d_name[0] != '.') out.insert(e->d_name);
  if (d) closedir(d);
  return out;
}

size_t occurrences(const std::string &s, const std::string &what)
{
  size_t n = 0;
  for (size_t i = s.find(what); i != s.npos; i = s.find(what, i + 1)) n++;
  return n;
}

}  // namespace

TEST(tollamy_data, text_files_define_every_key_once)
{
  for (const char *lang : {"en", "ja"}) {
    SCOPED_TRACE(lang);
    std::string xml = tollamy_test::get(data + "/text/text_" + lang + ".xml");
    std::vector<tollamy_entry> texts;
    ASSERT_TRUE(tollamy_parse_texts(xml.data(), uint32_t(xml.size()), &texts));
    // Unknown keys are dropped by the reader: count the entries in the file.
    EXPECT_EQ(tollamy_text_key_count, occurrences(xml, "<text>"));
    std::map<uint32_t, int> seen;
    for (const tollamy_entry &t : texts) {
      seen[t.number]++;
      EXPECT_FALSE(t.value.empty()) << tollamy_text_keys[t.number - 1];
      EXPECT_EQ(std::string::npos, t.value.find_first_of("<&")) << tollamy_text_keys[t.number - 1];
    }
    ASSERT_EQ(tollamy_text_key_count, seen.size());
    for (auto &[number, count] : seen) EXPECT_EQ(1, count) << tollamy_text_keys[number - 1];
  }
}

TEST(tollamy_data, templates_use_only_their_placeholders)
{
  std::set<std::string> want;
  for (auto &[name, _] : templates) want.insert(name + ".html.part");
  EXPECT_EQ(want, files_in(data + "/html"));
  const std::regex placeholder(R"(\[\[([A-Za-z_]+)\]\])");
  const std::regex handler(R"(\son[a-z]+\s*=|<script|javascript:)", std::regex::icase);
  for (auto &[name, allowed] : templates) {
    SCOPED_TRACE(name);
    std::string t = tollamy_test::get(data + "/html/" + name + ".html.part");
    ASSERT_FALSE(t.empty());
    for (std::sregex_iterator m(t.begin(), t.end(), placeholder), end; m != end; ++m)
      EXPECT_TRUE(allowed.count((*m)[1])) << (*m)[0];
    // Nothing in a template runs: the page script binds every event.
    EXPECT_FALSE(std::regex_search(t, handler));
    EXPECT_EQ(occurrences(t, "[["), occurrences(t, "]]"));
  }
}

TEST(tollamy_data, parameter_file_and_page_script)
{
  std::string xml = tollamy_test::get(data + "/parameter/parameter.xml");
  std::vector<tollamy_entry> params;
  ASSERT_TRUE(tollamy_parse_params(xml.data(), uint32_t(xml.size()), &params));
  std::set<uint32_t> numbers;
  for (const tollamy_entry &p : params) numbers.insert(p.number);
  EXPECT_EQ(13u, numbers.size());
  // The management tool's page calls these two.
  std::string page = tollamy_test::get(data + "/index.html");
  EXPECT_NE(std::string::npos, page.find("function tollamy_page_share_get_share_list(force)"));
  EXPECT_NE(std::string::npos, page.find("function tollamy_data_hosts_update_hosts(map)"));
}
