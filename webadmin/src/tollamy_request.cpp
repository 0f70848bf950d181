// The request frame: CGI variables and body, the free pass, sessions, the
// password login and the XML answer.
#include "tollamy_request.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <tarvo_util/digest.h>
#include <tarvo_util/http_message.h>
#include <tarvo_util/sys_socket.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/sys_thread.h>
#include <tarvo_util/sys_time.h>
#include <tarvo_util/uri.h>
#include <tarvo_util/utf8file.h>
#include <tarvo_util/xml.h>

#include "tollamy_dispatch.h"
#include "tollamy_filetype.h"
#include "tollamy_limits.h"
#include "tollamy_server.h"

namespace {

constexpr const char *free_pass = "free-pass";

// Request bytes that no XML document may hold (ill-formed UTF-8, control
// bytes) would make the whole answer unreadable: such a value is echoed as
// empty.
// Texts of answers may be pages of several lines.
const char *legal(const char *s) { return s && xml_gen_is_legal_text(s) ? s : ""; }

std::string escaped(const char *s)
{
  own::stralloc sa;
  if (!xml_gen_encode_append(&sa.s, s ? s : "")) throw std::bad_alloc();
  return std::string(sa.s.buf ? sa.s.buf : "", sa.s.len);
}

bool read_body(std::string *body)
{
  const char *length = std::getenv("CONTENT_LENGTH");
  uint64_t n;
  // Few enough digits that the number cannot wrap before it is compared.
  size_t digits = length ? std::strlen(length) : 0;
  if (digits == 0 || digits > 9 || sys_str_scan_uint64(length, &n) != digits || n > TOLLAMY_BODY_MAX) return false;
  int in;
  if (!sys_file_stdin(&in)) return false;
  body->resize(size_t(n));
  // A pipe hands the body over in pieces: read until it is whole.
  for (size_t have = 0; have < n;) {
    uint32_t got = 0;
    if (!sys_file_read(in, body->data() + have, uint32_t(n - have), &got) || got == 0) return false;
    have += got;
  }
  return true;
}

bool read_port(tollamy_request *r)
{
  std::string text;
  if (!tollamy_read_file(tollamy_param_path(r->config, TOLLAMY_MS_CONFIG_DIR, "conf/upnp_port"),
                         TOLLAMY_PORT_FILE_MAX, &text))
    return false;
  uint64_t port;
  uint32_t n = text.size() > 5 && std::isdigit(uint8_t(text[5])) ? 0 : sys_str_scan_uint64(text.c_str(), &port);
  if (n == 0 || port == 0 || port > 65535 || (n != text.size() && text[n] != '\n' && text[n] != '\r')) return false;
  r->port = uint16_t(port);
  return true;
}

// Requests that a page elsewhere made the browser send, or that came under
// a name rebound to this machine, are refused before they change anything:
// the free pass would otherwise hand them the whole administration.
bool request_foreign()
{
  const char *site = std::getenv("HTTP_SEC_FETCH_SITE");
  if (site && (!std::strcmp(site, "cross-site") || !std::strcmp(site, "same-site"))) return true;
  const char *host = std::getenv("HTTP_HOST");
  const char *origin = std::getenv("HTTP_ORIGIN");
  if (origin && (!host || std::string("http://") + host != origin)) return true;
  return host && !http_host_allowed(host, uint32_t(std::strlen(host)));
}

std::string session_dir(const tollamy_request *r)
{
  return tollamy_param_path(r->config, TOLLAMY_CONFIG_RESOURCE_DIR, "session");
}

bool session_born(const std::string &path, int64_t *born)
{
  struct statx x;
  if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_MTIME, &x) != 0) return false;
  *born = tollamy_session_born(&x);
  return true;
}

bool session_sweep(const tollamy_request *r)
{
  std::string dir = session_dir(r);
  sys_dir_rec d;
  int64_t now;
  if (dir.empty() || !sys_time_now(&now) || !utf8dir_open(&d, dir.c_str())) return false;
  char *name;
  while (utf8dir_read(&d, &name)) {
    own::str n(name);
    std::string path = tollamy_path_join(dir.c_str(), name);
    int64_t born;
    if (session_born(path, &born) && now - born > TOLLAMY_SESSION_LIFETIME) utf8file_remove(path.c_str());
  }
  sys_dir_close(&d);
  return true;
}

bool session_exists(const tollamy_request *r, const char *id)
{
  sys_file_stat_rec st;
  return tollamy_session_id_valid(id) && session_sweep(r) &&
         utf8file_stat(tollamy_path_join(session_dir(r).c_str(), id).c_str(), &st);
}

bool session_delete(const tollamy_request *r, const std::string &id)
{
  if (!session_sweep(r)) return false;
  if (tollamy_session_id_valid(id.c_str())) utf8file_remove(tollamy_path_join(session_dir(r).c_str(), id.c_str()).c_str());
  return true;
}

bool session_create(const tollamy_request *r, std::string *id)
{
  std::string dir = session_dir(r);
  sys_file_stat_rec st;
  if (dir.empty() || (!utf8file_stat(dir.c_str(), &st) && !utf8dir_make(dir.c_str())) || !session_sweep(r))
    return false;
  for (int attempt = 0; attempt < TOLLAMY_SESSION_ATTEMPTS; attempt++) {
    char made[37];
    int fd;
    if (!tollamy_session_id_make(made)) return false;
    if (!utf8file_open_excl(&fd, tollamy_path_join(dir.c_str(), made).c_str())) continue;
    sys_file_close(fd);
    *id = made;
    return true;
  }
  return false;
}

// 1 match, 0 no match, -1 error (no login file of 20 bytes, no password).
int password_check(const tollamy_request *r)
{
  const char *password = tollamy_arg(r, "tollamy_page_login_password");
  std::string stored;
  if (!password ||
      !tollamy_read_file(tollamy_param_path(r->config, TOLLAMY_CONFIG_RESOURCE_DIR, "login/password"),
                         TOLLAMY_LOGIN_FILE_MAX, &stored) ||
      stored.size() != 20)
    return -1;
  sha1_ctx_rec ctx;
  unsigned char digest[20];
  sha1_init(&ctx);
  sha1_write(&ctx, password, uint32_t(std::strlen(password)));
  sha1_final(&ctx, digest);
  // Every byte is compared, so that the time taken tells nothing.
  unsigned char diff = 0;
  for (int i = 0; i < 20; i++) diff |= static_cast<unsigned char>(digest[i] ^ uint8_t(stored[i]));
  return diff == 0;
}

std::string text_of(const tollamy_request *r, const char *key)
{
  const char *t = tollamy_text_get(r->config, key);
  return t ? t : "";
}

std::string html_failed(const tollamy_request *r)
{
  std::string body;
  tollamy_element(&body, "html", tollamy_text_get(r->config, "COMMON_FAILED"), nullptr, nullptr, true);
  return body;
}

std::string message_list(const tollamy_request *r, const char *const *ids, const char *const *keys)
{
  std::string items;
  for (size_t i = 0; ids[i]; i++) {
    std::string m;
    tollamy_element(&m, "id", ids[i], nullptr, nullptr, true);
    tollamy_element(&m, "value", tollamy_text_get(r->config, keys[i]), nullptr, nullptr, true);
    tollamy_element(&items, "message", m.c_str(), nullptr, nullptr, false);
  }
  std::string out;
  tollamy_element(&out, "message_list", items.c_str(), nullptr, nullptr, false);
  return out;
}

// A template filled with the texts of the keys its placeholders name.
bool fill_texts(const tollamy_request *r, const char *tmpl, const char *const *text_keys, std::string *out)
{
  std::vector<std::string> keys;
  std::vector<const char *> k, v;
  for (size_t i = 0; text_keys[i]; i++) keys.push_back(std::string("[[") + text_keys[i] + "]]");
  for (size_t i = 0; i < keys.size(); i++) {
    k.push_back(keys[i].c_str());
    // A key without a text keeps its placeholder.
    v.push_back(tollamy_text_get(r->config, text_keys[i]));
  }
  k.push_back(nullptr);
  return tollamy_fill_file(r->config, tmpl, k.data(), v.data(), true, out);
}

}  // namespace

bool tollamy_menu_page(tollamy_request *r)
{
  static constexpr const char *keys[] = {"COMMON_LOADING_PAGE", "MENU_TITLE_SHARE",   "MENU_TITLE_SECURITY",
                                         "MENU_TITLE_BACKUP",   "MENU_TITLE_CONTROL", "MENU_TITLE_SETTING",
                                         "MENU_TITLE_LOGOUT",   nullptr};
  static constexpr const char *ids[] = {"COMMON_FAILED_LOADING_PAGE", "COMMON_FAILED_LOADING_LIST",
                                        "COMMON_CONFIRM_CONNECTION", nullptr};
  static constexpr const char *texts[] = {"COMMON_FAILED_GET_PAGE", "COMMON_FAILED_GET_LIST",
                                          "COMMON_CONFIRM_CONNECTION", nullptr};
  std::string page, body;
  bool ok = fill_texts(r, "tollamy_menu.html.part", keys, &page);
  body = ok ? std::string() : html_failed(r);
  if (ok) tollamy_element(&body, "html", page.c_str(), nullptr, nullptr, false);
  tollamy_element(&body, "session_id", r->session_id.c_str(), nullptr, nullptr, false);
  body += message_list(r, ids, texts);
  tollamy_answer(r, ok ? TOLLAMY_SUCCESS : TOLLAMY_FAILURE, body.c_str());
  return ok;
}

bool tollamy_login_page(tollamy_request *r)
{
  bool ok = r->session_id.empty() || r->session_id == free_pass || session_delete(r, r->session_id);
  std::string name, page;
  ok = ok && tollamy_server_friendly_name(r->port, &name);
  const char *lose = tollamy_arg(r, "lose_session");
  ok = ok && lose && *lose;
  if (ok) {
    // The name is any LAN client's to set: it enters the page as text.
    std::string name_html = escaped(name.c_str());
    std::string lost = lose[0] == 'y' ? text_of(r, "LOGIN_LOST_SESSION") : "";
    std::string t1 = text_of(r, "LOGIN_TITLE"), t2 = text_of(r, "LOGIN_PASSWORD"), t3 = text_of(r, "LOGIN_LOGIN");
    const char *keys[] = {"[[LOGIN_TITLE]]", "[[LOGIN_PASSWORD]]", "[[LOGIN_LOGIN]]", "[[server_name]]",
                          "[[lose_session]]", nullptr};
    const char *values[] = {t1.c_str(), t2.c_str(), t3.c_str(), name_html.c_str(), lost.c_str()};
    ok = tollamy_fill_file(r->config, "tollamy_page_login.html.part", keys, values, true, &page);
  }
  std::string body;
  if (ok) tollamy_element(&body, "html", page.c_str(), nullptr, nullptr, false);
  tollamy_answer(r, ok ? TOLLAMY_SUCCESS : TOLLAMY_FAILURE, ok ? body.c_str() : html_failed(r).c_str());
  return ok;
}

namespace {

// A login always makes a new session: an id that came with it is never
// taken over, and the session it replaces ends.
bool login(tollamy_request *r)
{
  int match = password_check(r);
  if (match == 0) {
    sys_thread_sleep(TOLLAMY_LOGIN_FAIL_WAIT_MS);
    std::string body;
    tollamy_element(&body, "html", tollamy_text_get(r->config, "LOGIN_INVALID_PASSWORD"), nullptr, nullptr, false);
    tollamy_answer(r, TOLLAMY_FAILURE, body.c_str());
    return false;
  }
  std::string id;
  if (match < 0 || !session_create(r, &id)) {
    tollamy_answer(r, TOLLAMY_NO_SESSION, nullptr);
    return false;
  }
  if (!r->session_id.empty() && r->session_id != free_pass) session_delete(r, r->session_id);
  r->session_id = id;
  return tollamy_menu_page(r);
}

bool is(const char *a, const char *b) { return a && !std::strcmp(a, b); }

bool login_flow(tollamy_request *r)
{
  if (!r->controller || !r->action) {
    tollamy_answer(r, TOLLAMY_NO_SESSION, nullptr);
    return false;
  }
  if (!is(r->controller, "tollamy_page_login")) {
    tollamy_answer(r, TOLLAMY_NO_SESSION, "invalid session");
    return true;
  }
  if (is(r->action, "get_page_login")) return tollamy_login_page(r);
  return true;
}

}  // namespace

const char *tollamy_arg(const tollamy_request *r, const char *name)
{
  for (size_t i = 0; r->names.l && r->names.l[i]; i++)
    if (!std::strcmp(r->names.l[i], name)) return r->values.l[i];
  return nullptr;
}

bool tollamy_request_read(tollamy_request *r)
{
  const char *method = std::getenv("REQUEST_METHOD");
  std::string text;
  if (is(method, "POST")) {
    if (!read_body(&text)) return false;
  } else if (is(method, "GET")) {
    const char *q = std::getenv("QUERY_STRING");
    if (!q) return false;
    text = q;
  } else {
    return false;
  }
  if (text.size() != std::strlen(text.c_str())) return false;
  if (!text.empty() && !uri_parse_query(text.c_str(), &r->names.l, &r->values.l)) return false;
  r->controller = tollamy_arg(r, "controller");
  r->action = tollamy_arg(r, "action");
  r->content = tollamy_arg(r, "content");
  r->sent_session_id = tollamy_arg(r, "session_id");
  const char *remote = std::getenv("REMOTE_ADDR");
  return read_port(r) && sys_ip4_get(r->own_ip) && remote && *remote &&
         sys_ip4_scan(remote, r->remote) == std::strlen(remote);
}

bool tollamy_request_handle(tollamy_request *r)
{
  if (request_foreign()) {
    tollamy_answer(r, TOLLAMY_FAILURE, html_failed(r).c_str());
    return false;
  }
  static const uint8_t loopback[4] = {127, 0, 0, 1};
  if (!std::memcmp(r->remote, loopback, 4) || !std::memcmp(r->remote, r->own_ip, 4)) r->session_id = free_pass;
  else if (r->sent_session_id && session_exists(r, r->sent_session_id)) r->session_id = r->sent_session_id;
  if (!tollamy_default_list_ensure(r->config, r->port)) return false;
  if (!is(r->content, "partial")) return false;
  if (is(r->controller, "tollamy_page_login") && is(r->action, "login")) return login(r);
  return r->session_id.empty() ? login_flow(r) : tollamy_dispatch(r);
}

int64_t tollamy_session_born(const struct statx *x)
{
  return (x->stx_mask & STATX_BTIME) && x->stx_btime.tv_sec ? x->stx_btime.tv_sec : x->stx_mtime.tv_sec;
}

bool tollamy_session_id_valid(const char *id)
{
  if (!id || std::strlen(id) != 36) return false;
  for (int i = 0; i < 36; i++) {
    bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    char ch = id[i];
    if (dash ? ch != '-' : !((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f'))) return false;
  }
  return true;
}

bool tollamy_session_id_make(char out[37])
{
  unsigned char b[16];
  if (getrandom(b, sizeof b, 0) != ssize_t(sizeof b)) return false;
  char *p = out;
  for (int i = 0; i < 16; i++) {
    if (i == 4 || i == 6 || i == 8 || i == 10) *p++ = '-';
    *p++ = "0123456789abcdef"[b[i] >> 4];
    *p++ = "0123456789abcdef"[b[i] & 15];
  }
  *p = 0;
  return true;
}

void tollamy_element(std::string *out, const char *name, const char *text, const char *const *attr_names,
                     const char *const *attr_values, bool escape)
{
  own::stralloc sa;
  bool ok = sys_stralloc_append(&sa.s, "<") && sys_stralloc_cats(&sa.s, name);
  for (size_t i = 0; ok && attr_names && attr_names[i]; i++)
    ok = xml_gen_attribute_append(&sa.s, attr_names[i], legal(attr_values[i]));
  if (!ok) throw std::bad_alloc();
  out->append(sa.s.buf, sa.s.len);
  if (escape) text = legal(text);
  if (text && *text) out->append(">").append(escape ? escaped(text) : text).append("</").append(name).append(">");
  else out->append("/>");
}

void tollamy_answer(tollamy_request *r, tollamy_kind kind, const char *body)
{
  static const char *const state[] = {"success", "failure", "failure"};
  static const char *const message[] = {"success", "internal server error", "no session"};
  static const char *const id[] = {"TOLLAMY_SUCCESS", "TOLLAMY_INTERNAL_SERVER_ERROR", "TOLLAMY_NO_SESSION"};
  own::stralloc sa;
  bool ok = sys_stralloc_cats(&sa.s, "Content-Type: application/xml; charset=UTF-8\n\n"
                                     "<?xml version='1.0' encoding='UTF-8'?><root><head>") &&
            xml_gen_element_append(&sa.s, "controller", legal(r->controller)) &&
            xml_gen_element_append(&sa.s, "action", legal(r->action)) &&
            xml_gen_element_append(&sa.s, "state", state[kind]) &&
            xml_gen_element_append(&sa.s, "message", message[kind]) &&
            xml_gen_element_append(&sa.s, "message_id", id[kind]) && sys_stralloc_cats(&sa.s, "</head>");
  if (!ok) throw std::bad_alloc();
  r->answer.assign(sa.s.buf, sa.s.len);
  if (body) r->answer.append("<body>").append(body).append("</body>");
  r->answer.append("</root>");
}
