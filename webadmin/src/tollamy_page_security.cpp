// The security page: allow and deny lists with host names, moving and
// removing clients, the default state and the security-dialog setting.
#include <algorithm>
#include <cstring>
#include <new>
#include <numeric>
#include <tarvo_util/dlna.h>
#include <tarvo_util/sys_owner.h>

#include "tollamy_hosts.h"
#include "tollamy_list.h"
#include "tollamy_page.h"
#include "tollamy_server.h"

namespace {

bool client_list(tollamy_request *r, bool allow)
{
  std::vector<std::string> macs, ips, hosts;
  bool ok = allow ? tollamy_server_allow_list(r->port, &macs, &ips) : tollamy_server_deny_list(r->port, &macs, &ips);
  ok = ok && macs.size() == ips.size();
  if (ok) tollamy_host_names(ips, &hosts);
  ok = ok && hosts.size() == ips.size();
  // By host name; clients without one last, equal names in server order.
  std::vector<size_t> order(ok ? ips.size() : 0);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    if (hosts[a].empty() || hosts[b].empty()) return !hosts[a].empty() && hosts[b].empty();
    return hosts[a] < hosts[b];
  });
  std::vector<std::string> m, i, h;
  for (size_t k : order) {
    m.push_back(macs[k]);
    i.push_back(ips[k]);
    h.push_back(hosts[k]);
  }
  std::string items;
  ok = ok && tollamy_list_clients(r->config, allow, m, i, h, &items);
  return tollamy_answer_list(r, ok, "html", items);
}

bool get_allow_list(tollamy_request *r) { return client_list(r, true); }
bool get_deny_list(tollamy_request *r) { return client_list(r, false); }

// The chosen clients ("MAC,IP" in sec_a_se and sec_d_se, in request order)
// as the two comma lists of the server; false when one has fewer fields.
bool chosen(const tollamy_request *r, std::string *mac_csv, std::string *ip_csv)
{
  own::stralloc macs, ips;
  bool any = false;
  for (size_t i = 0; r->names.l && r->names.l[i]; i++) {
    if (std::strcmp(r->names.l[i], "sec_a_se") && std::strcmp(r->names.l[i], "sec_d_se")) continue;
    own::str_list fields;
    if (!csv_split(r->values.l[i], &fields.l) || !fields.l[0] || !fields.l[1]) return false;
    if (!csv_append(&macs.s, fields.l[0]) || !csv_append(&ips.s, fields.l[1])) throw std::bad_alloc();
    any = true;
  }
  if (any) {
    csv_end(&macs.s);
    csv_end(&ips.s);
  }
  mac_csv->assign(macs.s.buf ? macs.s.buf : "", macs.s.len);
  ip_csv->assign(ips.s.buf ? ips.s.buf : "", ips.s.len);
  return true;
}

bool permissions(tollamy_request *r, const char *state)
{
  std::string macs, ips;
  bool ok = chosen(r, &macs, &ips) && tollamy_server_set_client_permissions(r->port, macs.c_str(), ips.c_str(), state);
  return tollamy_answer_done(r, ok);
}

bool to_allow(tollamy_request *r) { return permissions(r, "allow"); }
bool to_deny(tollamy_request *r) { return permissions(r, "deny"); }

bool remove(tollamy_request *r)
{
  std::string macs, ips;
  bool ok = chosen(r, &macs, &ips) && tollamy_server_unregister_clients(r->port, macs.c_str());
  return tollamy_answer_done(r, ok);
}

bool get_default(tollamy_request *r)
{
  std::string state, page;
  bool ok = tollamy_server_default_client_state(r->port, &state);
  tollamy_fills f;
  tollamy_fill_text(r, &f, "SECURITY_DEFAULT_ALLOW", "SECURITY_PUBLIC");
  tollamy_fill_text(r, &f, "SECURITY_DEFAULT_DENY", "SECURITY_PRIVATE");
  tollamy_fill_value(&f, "DEFAULT_IS_ALLOW", state == "allow" ? "checked=''" : "");
  tollamy_fill_value(&f, "DEFAULT_IS_DENY", state == "allow" ? "" : "checked=''");
  ok = ok && tollamy_page_fill(r, "tollamy_page_security_default.html.part", f, true, &page);
  return tollamy_answer_page(r, ok, page, nullptr);
}

bool set_default(tollamy_request *r)
{
  const char *v = tollamy_arg_set(r, "default");
  bool ok = v && tollamy_server_set_default_client_state(r->port, std::strcmp(v, "allow") ? "deny" : "allow");
  return tollamy_answer_done(r, ok);
}

// The value becomes a line of a settings file: a line break or a quote in
// it would add lines or end the value early.
bool set_visibility(tollamy_request *r)
{
  const char *v = tollamy_arg_set(r, "visibility");
  bool ok = v && !std::strpbrk(v, "\r\n\"") && tollamy_setting_set(r->config, TOLLAMY_SHOW_SECURITY_DIALOG, v);
  if (ok) tollamy_settings_mark(r->config, TOLLAMY_VIEW_CONFIG_PATH, {TOLLAMY_SHOW_SECURITY_DIALOG});
  return tollamy_answer_done(r, ok);
}

}  // namespace

bool tollamy_page_security_page(tollamy_request *r)
{
  const char *show = tollamy_setting_get(r->config, TOLLAMY_SHOW_SECURITY_DIALOG);
  tollamy_fills f;
  tollamy_fill_value(&f, "SECURITY_CHECK_SHOW_SECURITY_DIALOG", show && !std::strcmp(show, "true") ? "checked=\"checked\"" : "");
  tollamy_fill_text(r, &f, "SECURITY_ALLOW", "SECURITY_ALLOW_LIST");
  tollamy_fill_text(r, &f, "SECURITY_ALLOW_LIST", "SECURITY_ALLOW_LIST");
  tollamy_fill_text(r, &f, "SECURITY_DENY", "SECURITY_DENY_LIST");
  tollamy_fill_text(r, &f, "SECURITY_DENY_LIST", "SECURITY_DENY_LIST");
  tollamy_fill_text(r, &f, "SECURITY_TO_ALLOW", "SECURITY_PUBLIC");
  tollamy_fill_text(r, &f, "SECURITY_TO_DENY", "SECURITY_PRIVATE");
  tollamy_fill_texts(r, &f,
                     {"SECURITY_TITLE", "SECURITY_BUTTON_DELETE", "SECURITY_BUTTON_PUBLIC", "SECURITY_BUTTON_PRIVATE",
                      "SECURITY_DEFAULT", "SECURITY_HOST", "SECURITY_IP_MAC", "SECURITY_DEFAULT_FOOTER_MESSAGE",
                      "SECURITY_ALLOW_LIST_FOOTNOTE", "SECURITY_DENY_LIST_FOOTNOTE", "SECURITY_SHOW_SECURITY_DIALOG",
                      "COMMON_RELOAD", "COMMON_SELECT_ALL", "COMMON_UNSELECT_ALL"});
  std::string page;
  // The page is cut into pieces before it is escaped.
  bool ok = tollamy_page_fill(r, "tollamy_page_security.html.part", f, false, &page);
  tollamy_messages m;
  tollamy_messages_texts(r, &m,
                         {{"SECURITY_FAILED_CHANGE_SECURITY", "SECURITY_FAILED_CHANGE_SECURITY"},
                          {"SECURITY_FAILED_UNREGISTER", "SECURITY_FAILED_UNREGISTER_CLIENT"},
                          {"SECURITY_FAILED_CHANGE_DEFAULT", "SECURITY_FAILED_CHANGE_DEFAULT_SECURITY"},
                          {"SECURITY_FAILED_GET_DEFAULT", "SECURITY_FAILED_GET_DEFAULT_SECURITY"},
                          {"SECURITY_FAILED_CHANGE_SECURITY_DIALOG_VISIBILITY",
                           "SECURITY_FAILED_CHANGE_SECURITY_DIALOG_VISIBILITY"},
                          {"SECURITY_SECURITY_DIALOG_TOALLOW", "SECURITY_SECURITY_DIALOG_TOALLOW"},
                          {"SECURITY_SECURITY_DIALOG_DEFAULT_ALLOW", "SECURITY_SECURITY_DIALOG_DEFAULT_ALLOW"}});
  ok = ok && tollamy_messages_loading(r, &m, "SECURITY_LOADING", "tollamy_page_security_client_list_loading.html.part");
  return tollamy_answer_chunked(r, ok, page, m);
}

const tollamy_action_row tollamy_actions_security[] = {
    {"get_allow_list", get_allow_list},
    {"get_deny_list", get_deny_list},
    {"to_allow", to_allow},
    {"to_deny", to_deny},
    {"remove", remove},
    {"get_default", get_default},
    {"set_default", set_default},
    {"set_security_dialog_visibility", set_visibility},
    {nullptr, nullptr},
};
