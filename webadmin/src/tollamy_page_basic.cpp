// The small controllers: menu, message texts, server name, password,
// language, database rebuild and the settings page.
#include <cstring>
#include <tarvo_util/digest.h>
#include <tarvo_util/utf8file.h>

#include "tollamy_limits.h"
#include "tollamy_page.h"
#include "tollamy_server.h"

namespace {

bool logout(tollamy_request *r) { return tollamy_login_page(r); }

bool message(tollamy_request *r)
{
  tollamy_messages m;
  for (const std::string &key : tollamy_args(r, "msg")) m.emplace_back(key, tollamy_page_text(r, key.c_str()));
  std::string body = "<html/>" + tollamy_message_list(m);
  tollamy_answer(r, TOLLAMY_SUCCESS, body.c_str());
  return true;
}

bool get_name(tollamy_request *r)
{
  std::string name, echo;
  bool ok = tollamy_server_friendly_name(r->port, &name);
  tollamy_echo(&echo, "server_name", ok ? name : "");
  return tollamy_answer_done(r, ok, echo);
}

bool change_name(tollamy_request *r)
{
  const char *sent = tollamy_arg(r, "server_name");
  if (!sent) return tollamy_answer_result(r, false, "Client need to send 'server_name' query");
  // An empty name is not sent: the server keeps its name.
  bool ok = !*sent || tollamy_server_set_friendly_name(r->port, sent);
  std::string name, echo;
  ok = tollamy_server_friendly_name(r->port, &name) && ok;
  tollamy_echo(&echo, "new_server_name", name);
  return tollamy_answer_done(r, ok, echo);
}

// Only the languages that have a text file: the value names the file that
// every later start reads.
bool change_language(tollamy_request *r)
{
  const char *lang = tollamy_arg_set(r, "language");
  std::string failed = tollamy_page_text(r, "COMMON_FAILED");
  if (!lang || (std::strcmp(lang, "en") && std::strcmp(lang, "ja")) ||
      !tollamy_setting_set(r->config, TOLLAMY_LANGUAGE, lang))
    return tollamy_answer_result(r, false, failed);
  tollamy_settings_mark(r->config, TOLLAMY_LANG_CONFIG_PATH, {TOLLAMY_LANGUAGE});
  bool ok = tollamy_load_texts(r->config);
  return tollamy_answer_result(r, ok, ok ? "" : failed);
}

bool rebuild_database(tollamy_request *r) { return tollamy_answer_done(r, tollamy_server_rebuild(r->port)); }

bool page_language(tollamy_request *r)
{
  tollamy_fills f;
  tollamy_fill_texts(r, &f, {"LANGUAGE_TITLE", "COMMON_APPLY"});
  tollamy_fill_text(r, &f, "LANGUAGE_JA", "LANGUAGE_ITEM_JA");
  tollamy_fill_text(r, &f, "LANGUAGE_EN", "LANGUAGE_ITEM_EN");
  std::string page;
  bool ok = tollamy_page_fill(r, "tollamy_page_language.html.part", f, true, &page);
  return tollamy_answer_page(r, ok, page, nullptr);
}

const char password_chars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890";

bool write_login(tollamy_request *r, const char *password)
{
  sha1_ctx_rec ctx;
  unsigned char digest[20];
  sha1_init(&ctx);
  sha1_write(&ctx, password, uint32_t(std::strlen(password)));
  sha1_final(&ctx, digest);
  std::string path = tollamy_param_path(r->config, TOLLAMY_CONFIG_RESOURCE_DIR, "login/password"), temp;
  if (path.empty() || !tollamy_write_temp(path, std::string(reinterpret_cast<char *>(digest), 20), &temp))
    return false;
  if (utf8file_rename(temp.c_str(), path.c_str())) return true;
  utf8file_remove(temp.c_str());
  return false;
}

// Checks the two arguments and writes the login file; the answer's text
// in *text.
bool password_change(tollamy_request *r, std::string *text)
{
  const char *p1 = tollamy_arg(r, "password_1"), *p2 = tollamy_arg(r, "password_2");
  if (!p1 || !p2) {
    *text = "Client need to send 'password_1' or 'password_2' query";
    return false;
  }
  const char *key = nullptr;
  if (!*p1 || !*p2) key = "PASSWORD_MISSMATCH_MESSAGE";
  else if (std::strspn(p1, password_chars) != std::strlen(p1)) key = "PASSWORD_INVALIDCHAR_MESSAGE";
  else if (std::strcmp(p1, p2)) key = "PASSWORD_MISSMATCH_MESSAGE";
  else if (!write_login(r, p1)) key = "COMMON_FAILED";
  *text = tollamy_page_text(r, key ? key : "PASSWORD_CHANGED_MESSAGE");
  return key == nullptr;
}

bool change_password(tollamy_request *r)
{
  std::string text;
  bool ok = password_change(r, &text);
  return tollamy_answer_result(r, ok, text);
}

}  // namespace

const tollamy_action_row tollamy_actions_menu[] = {{"logout", logout}, {nullptr, nullptr}};
// Every action of the message service lists the texts.
const tollamy_action_row tollamy_actions_message[] = {{nullptr, message}, {nullptr, nullptr}};
const tollamy_action_row tollamy_actions_name[] = {
    {"get_name", get_name}, {"change_name", change_name}, {nullptr, nullptr}};
const tollamy_action_row tollamy_actions_password[] = {{"change_password", change_password}, {nullptr, nullptr}};
const tollamy_action_row tollamy_actions_view[] = {{"change_language", change_language}, {nullptr, nullptr}};
const tollamy_action_row tollamy_actions_database[] = {{"rebuild_database", rebuild_database}, {nullptr, nullptr}};
const tollamy_action_row tollamy_actions_setting[] = {
    {"get_page_password", tollamy_page_password_page}, {"get_page_language", page_language}, {nullptr, nullptr}};
