// The main window's messages, the queue and the popup flow.
#include "helper_main.h"

#include "helper_app.h"
#include "helper_dialogs.h"
#include "helper_files.h"
#include "host_watch.h"
#include "notify_popup.h"
#include "quessel_resources.h"
#include "tray_icon.h"

#include <tarvo_platform/clock.h>
#include <tarvo_platform/named.h>
#include <tarvo_platform/subtree_watch.h>
#include <tarvo_ui/ui_automation.h>
#include <tarvo_ui/ui_resource.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/utf8file.h>

#include <arpa/inet.h>
#include <glib.h>
#include <dirent.h>
#include <netdb.h>
#include <spawn.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>

extern char **environ;

namespace {

struct main_state {
  HWND hwnd = nullptr;
  std::string access;
  subtree_watch_rec *watch = nullptr;
  CNotifyPopupDlg *popup = nullptr;
  int pending = 0;
  int inquiry_off = 0;
  int query_open = 0, settings_open = 0;
  named_event_rec *close_event = nullptr;
  CTrayIcon *tray = nullptr;
  int last_state = -1;
  std::vector<std::string> known;
  std::deque<NOTIFY_ITEM> queue;
  HWND settings_marker = nullptr;
} st;

UINT refresh_timer_id()
{
  static const UINT id = RegisterWindowMessage("TID_REFRESHCLIENTLIST_message");
  return id;
}

std::string load(UINT id)
{
  char buf[4096];
  return LoadString(id, buf, sizeof buf) ? buf : "";
}

std::string format_texts(UINT id, const std::string &a1, const std::string &a2 = "")
{
  char out[4096];
  sys_str_format_texts(out, sizeof out, load(id).c_str(), a1.c_str(), a2.c_str());
  return out;
}

bool same_key_nocase(const std::string &a, const std::string &b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

// A blocking reverse look-up (or the hosts file that stands in for it).
std::string host_of(const std::string &address)
{
  in_addr a;
  if (inet_pton(AF_INET, address.c_str(), &a) != 1) return "";
  if (const char *path = std::getenv("TARVO_HOSTS_FILE")) {
    sys_stralloc_rec sa{};
    std::string name;
    if (file_read_all_max(path, &sa, HOSTS_FILE_MAX)) hosts_file_name(sa.buf, sa.len, address.c_str(), &name);
    sys_stralloc_free(&sa);
    return name;
  }
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr = a;
  char host[NI_MAXHOST];
  if (getnameinfo(reinterpret_cast<sockaddr *>(&sin), sizeof sin, host, sizeof host, nullptr, 0, NI_NAMEREQD) != 0)
    return "";
  return host;
}

void save_known_clients()
{
  list_access_keys(st.access, &st.known);
  std::string path;
  if (!known_clients_path(&path)) return;
  int existed = 0;
  if (create_new_file(path, &existed) == 0 && !existed) helper_message_box("Failed to create ini file.", HELPER_TITLE, 0);
  std::vector<std::string> keep;
  for (const std::string &k : st.known) {
    bool queued = false;
    for (const NOTIFY_ITEM &n : st.queue) queued = queued || same_key_nocase(n.key, k);
    if (!queued) keep.push_back(k);
  }
  known_clients_store(path, keep);
}

int load_known_clients()
{
  std::string path;
  std::vector<std::string> keys;
  if (!known_clients_path(&path) || !known_clients_load(path, &keys)) return 0;
  st.known = keys;
  return 1;
}

void destroy_popup()
{
  delete st.popup;
  st.popup = nullptr;
}

void post_peer(WPARAM w)
{
  if (HWND peer = FindWindow(HELPER_PEER_CLASS, nullptr)) PostMessage(peer, HELPER_MSG_POPUP, w, 0);
}

void refresh_client_queue()
{
  std::vector<std::string> present;
  list_access_keys(st.access, &present);
  std::vector<NOTIFY_ITEM> found;
  for (const std::string &key : present) {
    bool known = false;
    for (const std::string &k : st.known) known = known || k == key;
    if (known) continue;
    std::string address, host;
    for (int i = 0; i < ACCESS_READ_TRIES && read_client_address(st.access, key, &address, &host) == 11; ++i)
      platform_sleep_ms(ACCESS_READ_PAUSE_MS);
    if (address.empty()) address = key;
    address = cut_chars(address, NOTIFY_KEY_CHARS);
    std::string line = host.empty() ? format_texts(QIDS_HOST_BARE, address) : format_texts(QIDS_HOST_NAMED, host, address);
    found.push_back({1, cut_chars(line, NOTIFY_HOST_CHARS), cut_chars(load(QIDS_POPUP_MESSAGE), NOTIFY_MESSAGE_CHARS),
                     cut_chars(key, NOTIFY_KEY_CHARS), address});
  }
  for (const NOTIFY_ITEM &n : found) {
    bool queued = false;
    for (const NOTIFY_ITEM &q : st.queue) queued = queued || same_key_nocase(q.key, n.key);
    if (!queued) st.queue.push_back(n);
  }
  save_known_clients();
  std::string path;
  if (st.popup && !st.queue.empty() && st.queue.front().kind == 1 && !client_key_exists(st.access, st.queue.front().key, &path)) {
    destroy_popup();
    st.queue.pop_front();
    st.pending = 0;
  }
}

void open_notification(const NOTIFY_ITEM &n)
{
  st.popup = new CNotifyPopupDlg(st.hwnd);
  st.popup->SetTexts(n.message, n.host_line);
  st.popup->Show();
  post_peer(WPARAM(st.hwnd));
}

void show_next_notification()
{
  const NOTIFY_ITEM &head = st.queue.front();
  std::string path;
  if (st.inquiry_off || !client_key_exists(st.access, head.key, &path)) {
    st.queue.pop_front();
    st.pending = 0;
    return;
  }
  open_notification(head);
  st.pending = 1;
}

void launch_tool(const char *args)
{
  std::string name;
  if (!read_first_line(program_folder() + "/tool_name", &name) || name.empty()) return;
  std::string prog = program_folder() + "/" + name;
  std::vector<char *> argv{prog.data()};
  std::string a = args ? args : "";
  if (!a.empty()) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, prog.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return;
  g_child_watch_add(pid, [](GPid, gint, gpointer) {}, nullptr);  // reaped, not waited for
}

void handle_popup_result(LPARAM code)
{
  if (code == 1028 && !st.queue.empty()) {
    st.queue.pop_front();
    st.pending = 0;
  } else if (code == 1029 && !st.queue.empty()) {
    NOTIFY_ITEM head = st.queue.front();
    std::string path;
    if (client_key_exists(st.access, head.key, &path)) {
      query_dialog_rec q;
      q.check = st.inquiry_off;
      int def = 0;
      q.selection = query_default_client_state(&def) && def == 1 ? 1 : 0;
      q.question = format_texts(QIDS_QUESTION, head.host_line);
      q.host_line = head.host_line;
      st.query_open = 1;
      intptr_t r = run_query_dialog(st.hwnd, &q);
      st.query_open = 0;
      if (r == IDOK) set_client_permission(head.key, head.address, q.selection ? 1 : 2);
      else if (q.ended_for_tool) launch_tool("-t1");
      if (q.check) {
        st.inquiry_off = 1;
        ini_write(HELPER_KEY_NO_INQUIRY, 1);
      }
    }
    if (!st.queue.empty()) st.queue.pop_front();
    st.pending = 0;
  }
  save_known_clients();
}

void popup_closed(int result)
{
  if (st.pending == 1) handle_popup_result(result ? 1029 : 1028);
  if (FindWindow(HELPER_PEER_CLASS, nullptr)) {
    platform_sleep_ms(HELPER_CLOSE_NOTE_MS);
    post_peer(0);
  }
}

void show_state(int state)
{
  if (state == st.last_state) return;
  st.tray->m_serverRunning = state == 1;
  st.tray->m_serverReachable = state != 2;
  st.tray->ShowIcon(quessel_image_path(state == 1 ? QIDI_MAIN : QIDI_STOPPED).c_str(),
                    HELPER_TITLE);
  st.last_state = state;
}

void on_tick(WPARAM id)
{
  show_state(query_server_state());
  if (id != refresh_timer_id()) return;
  if (subtree_watch_signalled(st.watch)) {
    subtree_watch_rearm(st.watch);
    refresh_client_queue();
  }
  if (!st.pending && !st.queue.empty()) show_next_notification();
  if (named_event_wait(st.close_event, 0)) {
    int result = st.popup ? st.popup->Result() : 1;
    destroy_popup();
    popup_closed(result);
  }
}

void rebuild_database()
{
  if (run_message_box(st.hwnd, load(QIDS_REBUILD).c_str(), HELPER_TITLE, 1) != IDOK) return;
  if (!query_server_active()) return;
  sys_str_list paths = nullptr;
  tarvo_avcpl_handle *h = &app().avcpl;
  if (tarvo_avcpl_share_list(h, &paths) != 0 || !paths) return;
  for (sys_str_list p = paths; *p; ++p) tarvo_avcpl_unshare(h, *p);
  for (sys_str_list p = paths; *p; ++p) tarvo_avcpl_share(h, *p);
  sys_str_list_free(paths);
}

void settings_command()
{
  st.settings_open = 1;
  settings_dialog_rec d;
  d.inquiry = st.inquiry_off;
  if (run_settings_dialog(st.hwnd, &d) == IDOK) {
    st.inquiry_off = d.inquiry;
    ini_write(HELPER_KEY_NO_INQUIRY, d.inquiry);
  }
  st.settings_open = 0;
}

LRESULT main_proc(HWND h, UINT msg, WPARAM w, LPARAM l)
{
  switch (msg) {
  case WM_USER:
    if (st.pending) handle_popup_result(l);
    return 0;
  case WM_TIMER: on_tick(w); return 0;
  case WM_CLOSE:
    destroy_popup();
    end_open_dialogs();
    EndDialog(h, IDCANCEL);
    return 0;
  case WM_COMMAND:
    switch (w) {
    case QID_CMD_TOOL: launch_tool(nullptr); break;
    case QID_CMD_SETTINGS: settings_command(); break;
    case QID_CMD_EXIT: EndDialog(h, IDOK); break;
    case QID_CMD_START: request_server_start(); break;
    case QID_CMD_STOP: request_server_stop(); break;
    case QID_CMD_REBUILD: rebuild_database(); break;
    }
    return 0;
  case HELPER_MSG_RAISE:
    if (st.popup && st.popup->IsVisible()) st.popup->Raise();
    return 0;
  }
  return 0;
}

int cmd_popup(int, const char *const *, UI_AUTOMATION_EMIT emit, void *ctx, char *error, uint32_t size)
{
  if (!st.popup) {
    std::snprintf(error, size, "no popup");
    return 0;
  }
  int shown, mapped, x, y, alpha;
  UiPopupState(st.popup->Popup(), &shown, &mapped, &x, &y, &alpha);
  char line[160];
  std::snprintf(line, sizeof line, "popup shown=%d mapped=%d x=%d y=%d alpha=%d xid=%lu w=%d h=%d", shown, mapped, x, y,
                alpha, UiPopupXid(st.popup->Popup()), st.popup->Width(), st.popup->Height());
  emit(ctx, line);
  for (int n : {0, 1, 2}) emit(ctx, ("label " + st.popup->Label(n)).c_str());
  return 1;
}

int cmd_queue(int, const char *const *, UI_AUTOMATION_EMIT emit, void *ctx, char *, uint32_t)
{
  for (const NOTIFY_ITEM &n : st.queue) emit(ctx, ("item " + n.key + " " + n.address + " " + n.host_line).c_str());
  for (const std::string &k : st.known) emit(ctx, ("known " + k).c_str());
  return 1;
}

}  // namespace

std::string cut_chars(const std::string &text, size_t chars)
{
  size_t at = 0, n = 0;
  while (at < text.size() && n < chars) {
    unsigned char c = static_cast<unsigned char>(text[at]);
    size_t len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : 4;
    if (at + len > text.size()) break;
    at += len;
    ++n;
  }
  return text.substr(0, at);
}

void list_access_keys(const std::string &access, std::vector<std::string> *keys)
{
  keys->clear();
  for (const char *sub : {"allow", "deny"}) {
    std::string dir = access + "/" + sub;
    DIR *d = opendir(dir.c_str());
    if (!d) continue;
    while (dirent *e = readdir(d)) {
      if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
      struct stat s;
      if (lstat((dir + "/" + e->d_name).c_str(), &s) != 0 || S_ISDIR(s.st_mode)) continue;
      if (keys->size() >= KNOWN_CLIENTS_MAX) break;
      keys->push_back(e->d_name);
    }
    closedir(d);
  }
}

int client_key_exists(const std::string &access, const std::string &key, std::string *path)
{
  if (key.empty() || key.find('/') != std::string::npos || key == "." || key == "..") return 0;
  for (const char *sub : {"/allow/", "/deny/"}) {
    std::string p = access + sub + key;
    struct stat s;
    if (lstat(p.c_str(), &s) == 0 && !S_ISDIR(s.st_mode)) {
      *path = p;
      return 1;
    }
  }
  return 0;
}

int read_client_address(const std::string &access, const std::string &key, std::string *address, std::string *host)
{
  std::string path, line;
  if (!client_key_exists(access, key, &path)) return ENOENT;
  sys_file_stat_rec fs{};
  if (!utf8file_stat(path.c_str(), &fs)) return ENOENT;
  if (fs.size == 0 || !read_first_line(path, &line)) return 11;  // not yet written
  *address = line;
  *host = host_of(line);
  return 0;
}

HWND helper_main_create()
{
  st.hwnd = CreateMessageWindow("#32770", HELPER_MAIN_TITLE, main_proc, nullptr);
  if (!st.hwnd) return nullptr;
  // The peer told of the popup answers with 0x511 from its own process.
  PublishWindowClass(st.hwnd);
  st.tray = new CTrayIcon(QIDR_TRAY_MENU);
  st.tray->Bind(st.hwnd, WM_USER);
  tray_menu_set_icon(st.tray);
  TraySetMenuSource(st.hwnd, QIDR_TRAY_MENU, tray_menu_fill);
  st.tray->ShowIconResource(QIDI_MAIN);
  st.close_event = named_event_open(POPUP_CLOSE_EVENT);
  std::string conf;
  if (conf_dir_path(&conf)) st.access = conf + "access";
  st.known.clear();
  st.queue.clear();
  st.inquiry_off = ini_read(HELPER_KEY_NO_INQUIRY);
  if (load_known_clients()) refresh_client_queue();
  else list_access_keys(st.access, &st.known);
  st.watch = st.access.empty() ? nullptr : subtree_watch_open(st.access.c_str());
  if (st.watch) SetTimer(st.hwnd, refresh_timer_id(), HELPER_TICK_MS);
  UiAutomationAddCommand("popup", cmd_popup);
  UiAutomationAddCommand("queue", cmd_queue);
  return st.hwnd;
}

intptr_t helper_main_run(HWND main)
{
  intptr_t r = ModalLoop(main);
  destroy_popup();
  delete st.tray;
  st.tray = nullptr;
  subtree_watch_close(st.watch);
  st.watch = nullptr;
  named_event_close(st.close_event);
  DestroyWindow(main);
  return r;
}
