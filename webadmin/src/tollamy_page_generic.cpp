// The pages that every controller serves by their "get_page_" action.
#include <string>

#include "tollamy_page.h"
#include "tollamy_server.h"

namespace {

bool page_name(tollamy_request *r)
{
  std::string name, page;
  tollamy_fills f;
  tollamy_fill_texts(r, &f, {"SERVER_TITLE", "SERVER_FOOTER_MESSAGE", "COMMON_APPLY", "COMMON_UNDO", "COMMON_LOGOUT"});
  // The name is any LAN client's to set: it enters the page as data.
  bool ok = tollamy_server_friendly_name(r->port, &name);
  tollamy_fill_value(&f, "SERVER_NAME", tollamy_page_data(name));
  ok = ok && tollamy_page_fill(r, "tollamy_page_name.html.part", f, true, &page);
  tollamy_messages m;
  tollamy_messages_texts(r, &m, {{"NAME_FAILED_GET_SERVER_NAME", "SERVER_NAME_FAILED_GET_SERVER_NAME"},
                                 {"NAME_FAILED_SET_SERVER_NAME", "SERVER_NAME_FAILED_SET_SERVER_NAME"}});
  // The page script shows its own message when the page is empty.
  return tollamy_answer_page(r, true, ok ? page : "", &m);
}

bool page_view(tollamy_request *r)
{
  const char *lang = tollamy_setting_get(r->config, TOLLAMY_LANGUAGE);
  std::string l = lang ? lang : "";
  tollamy_fills f;
  tollamy_fill_value(&f, "lang_ja", l == "ja" ? "selected='selected'" : "");
  tollamy_fill_value(&f, "lang_en", l == "en" ? "selected='selected'" : "");
  tollamy_fill_texts(r, &f, {"COMMON_APPLY", "COMMON_UNDO", "LANGUAGE_ITEM_JA", "LANGUAGE_ITEM_EN", "LANGUAGE_TITLE",
                             "DESIGN_TITLE", "DESIGN_ITEM_DEFAULT", "DESIGN_ITEM_NONE"});
  std::string page;
  bool ok = tollamy_page_fill(r, "tollamy_page_view.html.part", f, true, &page);
  tollamy_messages m;
  tollamy_messages_texts(r, &m, {{"VIEW_FAILED_CHANGE_LANGUAGE", "LANGUAGE_FAILED_CHANGE_LANGUAGE"},
                                 {"VIEW_FAILED_CHANGE_STYLESHEET", "DESIGN_FAILED_CHANGE_STYLESHEET"}});
  if (!ok) {
    std::string body = "<html/>" + tollamy_message_list(m);
    tollamy_answer(r, TOLLAMY_FAILURE, body.c_str());
    return false;
  }
  return tollamy_answer_page(r, true, page, &m);
}

bool page_mimetype(tollamy_request *r)
{
  tollamy_fills f;
  tollamy_fill_texts(r, &f, {"MIMETYPE_TITLE", "MIMETYPE_ADD", "MIMETYPE_EDIT", "MIMETYPE_UNREGISTER", "MIMETYPE_RESET",
                             "MIMETYPE_EXTENTION", "MIMETYPE_MIMETYPE", "COMMON_RELOAD", "COMMON_SELECT_ALL",
                             "COMMON_UNSELECT_ALL"});
  std::string page;
  bool ok = tollamy_page_fill(r, "tollamy_page_mimetype.html.part", f, true, &page);
  tollamy_messages m;
  tollamy_messages_texts(
      r, &m,
      {{"MIMETYPE_FAILED_REGISTER", "MIMETYPE_FAILED_REGISTER_MIMETYPE"},
       {"MIMETYPE_FAILED_REGISTER_ALREADY_REGISTERED", "MIMETYPE_FAILED_REGISTER_MIMETYPE_ALREADY_REGISTERED"},
       {"MIMETYPE_FAILED_REGISTER_INVALID_EXTENSION", "MIMETYPE_FAILED_REGISTER_MIMETYPE_INVALID_EXTENSION"},
       {"MIMETYPE_FAILED_REGISTER_INVALID_MIMETYPE", "MIMETYPE_FAILED_REGISTER_MIMETYPE_INVALID_MIMETYPE"},
       {"MIMETYPE_FAILED_EDIT", "MIMETYPE_FAILED_EDIT_MIMETYPE"},
       {"MIMETYPE_FAILED_UNREGISTER", "MIMETYPE_FAILED_UNREGISTER_MIMETYPE"},
       {"MIMETYPE_FAILED_RESET", "MIMETYPE_FAILED_RESET_MIMETYPE"},
       {"MIMETYPE_ASK_UNREGISTER", "MIMETYPE_ASK_UNREGISTER_MIMETYPE"},
       {"MIMETYPE_ASK_RESET", "MIMETYPE_ASK_RESET_MIMETYPE"}});
  ok = ok && tollamy_messages_loading(r, &m, "MIMETYPE_LOADING", "tollamy_page_mimetype_loading.html.part");
  return tollamy_answer_page(r, ok, page, &m);
}

// A page of texts only, with its message list (none: html alone).
bool text_page(tollamy_request *r, const char *tmpl, std::initializer_list<const char *> keys,
               const tollamy_messages *m)
{
  tollamy_fills f;
  tollamy_fill_texts(r, &f, keys);
  std::string page;
  bool ok = tollamy_page_fill(r, tmpl, f, true, &page);
  return tollamy_answer_page(r, ok, page, m);
}

bool page_database(tollamy_request *r)
{
  tollamy_messages m;
  tollamy_messages_texts(r, &m, {{"DATABASE_FAILED_REPAIR_DATABASE", "DATABASE_FAILED_REPAIR_DATABASE"}});
  return text_page(r, "tollamy_page_database.html.part",
                   {"DATABASE_TITLE", "DATABASE_NOTICE_MESSAGE", "DATABASE_REPAIR_DATABASE", "COMMON_EXEC"}, &m);
}

bool backup_messages(tollamy_request *r, tollamy_messages *m)
{
  tollamy_messages_texts(r, m,
                         {{"BACKUP_FAILED_UNREGISTER_TASK", "BACKUP_FAILED_REMOVE_TASK"},
                          {"BACKUP_FAILED_BROWSE_CONTAINER", "BACKUP_FAILED_BROWSE_CONTAINER"},
                          {"BACKUP_FAILED_REGISTER_TASK", "BACKUP_FAILED_CREATE_TASK"},
                          {"BACKUP_ASK_REGISTER_TASK", "BACKUP_ASK_REGISTER_TASK"},
                          {"BACKUP_ASK_UNREGISTER_TASK", "BACKUP_ASK_REMOVE_TASK"}});
  return tollamy_messages_loading(r, m, "BACKUP_LOADING_SERVER_LIST",
                                  "tollamy_page_backup_server_table_loading.html.part") &&
         tollamy_messages_loading(r, m, "BACKUP_LOADING_TASK_LIST", "tollamy_page_backup_task_table_loading.html.part") &&
         tollamy_messages_loading(r, m, "BACKUP_LOADING_PAGE_BROWSE",
                                  "tollamy_page_backup_page_browse_container_loading.html.part");
}

// A backup page of texts with the backup message list.
bool backup_page(tollamy_request *r, const char *tmpl, std::initializer_list<const char *> keys)
{
  tollamy_fills f;
  tollamy_fill_texts(r, &f, keys);
  std::string page;
  tollamy_messages m;
  bool ok = tollamy_page_fill(r, tmpl, f, true, &page) && backup_messages(r, &m);
  return tollamy_answer_page(r, ok, page, &m);
}

bool page_backup(tollamy_request *r) { return backup_page(r, "tollamy_page_backup.html.part", {"BACKUP_TITLE"}); }

bool page_backup_server_list(tollamy_request *r)
{
  return backup_page(r, "tollamy_page_backup_page_server_list.html.part", {"BACKUP_SERVER_LIST", "COMMON_RELOAD"});
}

bool page_control(tollamy_request *r)
{
  return text_page(r, "tollamy_page_control.html.part",
                   {"CONTROL_TITLE", "CONTROL_STATE", "CONTROL_EXPLANATION", "CONTROL_STATE_ON", "CONTROL_STATE_OFF",
                    "CONTROL_STOP_SERVER", "CONTROL_START_SERVER", "CONTROL_AUTORUN_TITLE",
                    "CONTROL_AUTORUN_EXPLANATION"},
                   nullptr);
}

bool page_share(tollamy_request *r)
{
  tollamy_fills f;
  tollamy_fill_texts(r, &f, {"SHARE_TITLE", "SHARE_ADD", "SHARE_CONTAINER", "SHARE_UNREGISTER", "DATABASE_TITLE",
                             "DATABASE_NOTICE_MESSAGE", "DATABASE_REPAIR_DATABASE", "COMMON_RELOAD",
                             "COMMON_SELECT_ALL", "COMMON_UNSELECT_ALL"});
  std::string page;
  bool ok = tollamy_page_fill(r, "tollamy_page_share.html.part", f, true, &page);
  tollamy_messages m;
  tollamy_messages_texts(r, &m,
                         {{"SHARE_FAILED_UNSHARE", "SHARE_FAILED_UNREGISTER"},
                          {"SHARE_FAILED_REBUILD_DATABASE", "DATABASE_FAILED_REPAIR_DATABASE"},
                          {"SHARE_ASK_UNSHARE", "SHARE_ASK_UNREGISTER"}});
  ok = ok && tollamy_messages_loading(r, &m, "SHARE_LOADING", "tollamy_page_share_share_list_loading.html.part");
  return tollamy_answer_page(r, ok, page, &m);
}

bool page_setting(tollamy_request *r)
{
  return text_page(r, "tollamy_page_setting.html.part",
                   {"COMMON_LOADING_PAGE", "SETTING_TITLE_DATABASE", "SETTING_TITLE_NAME", "SETTING_TITLE_MIMETYPE",
                    "SETTING_TITLE_VIEW", "SETTING_TITLE_PASSWORD"},
                   nullptr);
}

bool page_browse_container(tollamy_request *r)
{
  const char *udn = tollamy_arg_set(r, "udn"), *url = tollamy_arg_set(r, "control_url_cd");
  const char *name = tollamy_arg_set(r, "friendly_name"), *icon = tollamy_arg_set(r, "icon_url");
  if (!udn || !url || !name || !icon) return tollamy_answer_done(r, false);
  tollamy_fills f;
  tollamy_fill_value(&f, "UDN", tollamy_page_data(udn));
  tollamy_fill_value(&f, "CONTROL_URL_CD", tollamy_page_data(url));
  tollamy_fill_value(&f, "FRIENDLY_NAME", tollamy_page_data(name));
  tollamy_fill_value(&f, "ICON_URL", tollamy_page_data(icon));
  tollamy_fill_texts(r, &f,
                     {"BACKUP_BROWSE_CONTAINER_TITLE", "BACKUP_RETRIEVING_CONTAINER_LIST", "BACKUP_CONTAINER_NAME",
                      "BACKUP_BUTTON_CREATE_TASK", "BACKUP_CREATING_TASK", "BACKUP_FAILED_BROWSE_CONTAINER",
                      "BACKUP_FAILED_NO_CONTAINER_IN_SERVER", "BACKUP_BACK_TO_SERVER_LIST",
                      "BACKUP_S_CONTAINER_LIST", "COMMON_RELOAD"});
  std::string page, echoes;
  bool ok = tollamy_page_fill(r, "tollamy_page_backup_page_browse_container.html.part", f, true, &page);
  tollamy_echo(&echoes, "udn", udn);
  tollamy_echo(&echoes, "control_url_cd", url);
  return tollamy_answer_page(r, ok, page, nullptr, echoes);
}

}  // namespace

bool tollamy_page_password_page(tollamy_request *r)
{
  tollamy_messages m;
  tollamy_messages_texts(r, &m, {{"PASSWORD_FAILED_CHANGE_PASSWORD", "PASSWORD_FAILED_CHANGE_PASSWORD"}});
  return text_page(r, "tollamy_page_password.html.part",
                   {"PASSWORD_TITLE", "PASSWORD_PASSWORD", "PASSWORD_RETYPE", "PASSWORD_NEW_PASSWORD",
                    "PASSWORD_DIFFERENT_PASSWORD", "COMMON_APPLY", "COMMON_CLEAR"},
                   &m);
}

const tollamy_action_row tollamy_generic_pages[] = {
    {"get_page_login", tollamy_login_page},
    {"get_page_name", page_name},
    {"get_page_view", page_view},
    {"get_page_password", tollamy_page_password_page},
    {"get_page_mimetype", page_mimetype},
    {"get_page_database", page_database},
    {"get_page_backup", page_backup},
    {"get_page_security", tollamy_page_security_page},
    {"get_page_control", page_control},
    {"get_page_share", page_share},
    {"get_page_setting", page_setting},
    {"get_page_browse_container", page_browse_container},
    {"get_page_backup_server_list", page_backup_server_list},
    {nullptr, nullptr},
};
