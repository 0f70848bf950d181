// The automation socket: line requests read and answered on the GUI
// thread's GLib context, so that every answer sees the windows as they are.
#include <tarvo_ui/ui_automation.h>
#include <tarvo_ui/ui_limits.h>
#include <tarvo_ui/ui_page.h>

#include <tarvo_util/sys_socket.h>

#include <fcntl.h>
#include <glib-unix.h>
#include <glib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

struct client {
  int fd;
  guint source;
  std::string in;
};

struct automation {
  int fd = -1;
  guint source = 0;
  std::string path;
  std::map<int, client> clients;
} state;

std::string escaped(const char *text)
{
  std::string out;
  for (const char *p = text ? text : ""; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    char buf[8];
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c < 0x20 || c == 0x7F) {
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else out.push_back(static_cast<char>(c));
  }
  return out;
}

std::string ok(const std::vector<std::string> &lines)
{
  std::string out = "ok " + std::to_string(lines.size()) + "\n";
  for (const std::string &l : lines) out += l + "\n";
  return out;
}

std::string cmd_windows(const std::vector<std::string> &)
{
  std::vector<HWND> handles(UI_AUTOMATION_WINDOWS_MAX);
  uint32_t n = EnumWindowHandles(handles.data(), UI_AUTOMATION_WINDOWS_MAX);
  std::vector<std::string> lines;
  for (uint32_t i = 0; i < n && i < UI_AUTOMATION_WINDOWS_MAX; ++i) {
    const char *cls = GetWindowClass(handles[i]), *title = GetWindowTitle(handles[i]);
    if (!cls) continue;  // gone since the list was taken
    char h[24];
    std::snprintf(h, sizeof h, "%016jx", static_cast<uintmax_t>(reinterpret_cast<uintptr_t>(handles[i])));
    lines.push_back(std::string(h) + " " + escaped(cls) + " " + escaped(title));
  }
  return ok(lines);
}

bool parse_number(const std::string &s, int base, uintmax_t *out)
{
  if (s.empty() || s[0] == '-' || s[0] == '+') return false;
  errno = 0;
  char *end;
  *out = strtoumax(s.c_str(), &end, base);
  return errno == 0 && *end == '\0';
}

std::string cmd_command(const std::vector<std::string> &args)
{
  uintmax_t h, id;
  if (args.size() != 3 || !parse_number(args[1], 16, &h) || !parse_number(args[2], 10, &id) || id > 0xFFFFu)
    return "error usage: command HWND ID\n";
  HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(h));
  if (!IsWindow(window)) return "error no such window\n";
  return PostMessage(window, WM_COMMAND, static_cast<WPARAM>(id), 0) ? ok({}) : "error not posted\n";
}

std::string cmd_html_scripts(const std::vector<std::string> &)
{
  std::vector<std::string> lines;
  for (uint32_t i = 0, n = PageScriptCount(); i < n; ++i) lines.push_back(escaped(PageScriptAt(i)));
  return ok(lines);
}

struct command_row {
  const char *name;
  std::string (*run)(const std::vector<std::string> &args);
};

const command_row commands[] = {
    {"windows", cmd_windows},
    {"command", cmd_command},
    {"html-scripts", cmd_html_scripts},
};

std::map<std::string, UI_AUTOMATION_FN> &added()
{
  static std::map<std::string, UI_AUTOMATION_FN> table;
  return table;
}

void emit_line(void *ctx, const char *line) { static_cast<std::vector<std::string> *>(ctx)->push_back(escaped(line)); }

std::string run_added(UI_AUTOMATION_FN fn, const std::vector<std::string> &args)
{
  std::vector<const char *> argv;
  for (const std::string &a : args) argv.push_back(a.c_str());
  std::vector<std::string> lines;
  char error[UI_AUTOMATION_LINE_MAX] = "";
  if (!fn(static_cast<int>(argv.size()), argv.data(), emit_line, &lines, error, sizeof error))
    return "error " + escaped(error[0] ? error : "failed") + "\n";
  return ok(lines);
}

std::string answer(const std::string &line)
{
  std::vector<std::string> args;
  for (size_t i = 0; i < line.size();) {
    size_t j = line.find(' ', i);
    if (j == std::string::npos) j = line.size();
    if (j > i) args.push_back(line.substr(i, j - i));
    i = j + 1;
  }
  if (args.empty()) return "error empty request\n";
  for (const command_row &c : commands)
    if (args[0] == c.name) return c.run(args);
  auto it = added().find(args[0]);
  if (it != added().end()) return run_added(it->second, args);
  return "error unknown command\n";
}

// On the thread's own context, where its windows' messages run.
guint watch_fd(int fd, GUnixFDSourceFunc fn)
{
  GMainContext *ctx = g_main_context_get_thread_default();
  GSource *s = g_unix_fd_source_new(fd, G_IO_IN);
  g_source_set_callback(s, reinterpret_cast<GSourceFunc>(reinterpret_cast<void (*)()>(fn)), nullptr, nullptr);
  guint id = g_source_attach(s, ctx ? ctx : g_main_context_default());
  g_source_unref(s);
  return id;
}

void unwatch(guint id)
{
  GMainContext *ctx = g_main_context_get_thread_default();
  GSource *s = g_main_context_find_source_by_id(ctx ? ctx : g_main_context_default(), id);
  if (s) g_source_destroy(s);
}

void drop(int fd)
{
  auto it = state.clients.find(fd);
  if (it == state.clients.end()) return;
  unwatch(it->second.source);
  sys_socket_close(fd);
  state.clients.erase(it);
}

gboolean on_client(gint fd, GIOCondition, gpointer)
{
  client &c = state.clients.at(fd);
  char buf[UI_AUTOMATION_LINE_MAX];
  uint32_t got = 0;
  if (!sys_socket_recv(fd, buf, sizeof buf, &got) || got == 0) {
    c.source = 0;  // removed by returning G_SOURCE_REMOVE
    sys_socket_close(fd);
    state.clients.erase(fd);
    return G_SOURCE_REMOVE;
  }
  c.in.append(buf, got);
  for (size_t nl; (nl = c.in.find('\n')) != std::string::npos;) {
    std::string line = c.in.substr(0, nl);
    c.in.erase(0, nl + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string a = answer(line);
    if (!sys_socket_allsend(fd, a.data(), static_cast<uint32_t>(a.size()))) break;
  }
  if (c.in.size() > UI_AUTOMATION_LINE_MAX) {
    static const char too_long[] = "error line too long\n";
    sys_socket_allsend(fd, too_long, sizeof too_long - 1);
    c.source = 0;
    sys_socket_close(fd);
    state.clients.erase(fd);
    return G_SOURCE_REMOVE;
  }
  return G_SOURCE_CONTINUE;
}

gboolean on_accept(gint fd, GIOCondition, gpointer)
{
  int c = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
  if (c < 0) return G_SOURCE_CONTINUE;
  if (state.clients.size() >= UI_AUTOMATION_CLIENTS_MAX) {
    sys_socket_close(c);
    return G_SOURCE_CONTINUE;
  }
  client &rec = state.clients[c];
  rec.fd = c;
  rec.source = watch_fd(c, on_client);
  return G_SOURCE_CONTINUE;
}

// The socket's folder: made 0700 when missing; an existing one must be the
// user's own and closed to others, or another user could reach the socket.
bool folder_ready(const std::string &path)
{
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  if (mkdir(dir.c_str(), 0700) == 0) return true;
  struct stat st;
  return errno == EEXIST && lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
         (st.st_mode & 077) == 0;
}

int open_socket(const std::string &path)
{
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::memcpy(a.sun_path, path.c_str(), path.size());
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) unlink(path.c_str());  // left by a killed run
  mode_t old = umask(0177);  // 0600 from the start: no moment open to others
  int bound = bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
  umask(old);
  if (bound != 0 || chmod(path.c_str(), 0600) != 0 || listen(fd, UI_AUTOMATION_CLIENTS_MAX) != 0) {
    sys_socket_close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

extern "C" {

int UiAutomationStart(void)
{
  const char *path = std::getenv("TARVO_UI_AUTOMATION");
  if (!path || !*path) return 1;
  if (state.fd >= 0) return 1;
  std::string p = path;
  if (p.size() > UI_AUTOMATION_PATH_MAX || !folder_ready(p)) return 0;
  state.fd = open_socket(p);
  if (state.fd < 0) return 0;
  state.path = p;
  state.source = watch_fd(state.fd, on_accept);
  return 1;
}

int UiAutomationAddCommand(const char *name, UI_AUTOMATION_FN fn)
{
  if (!name || !*name || !fn) return 0;
  added()[name] = fn;
  return 1;
}

void UiAutomationStop(void)
{
  if (state.fd < 0) return;
  while (!state.clients.empty()) drop(state.clients.begin()->first);
  unwatch(state.source);
  sys_socket_close(state.fd);
  unlink(state.path.c_str());
  state = automation{};
}
}
