// Start, files, clients and the background poll of quessel.
#include "helper_app.h"

#include "helper_files.h"

#include <tarvo_platform/named.h>
#include <tarvo_platform/path.h>
#include <tarvo_platform/profile.h>
#include <tarvo_platform/special_folder.h>
#include <tarvo_util/sys_alloc.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

void stderr_box(const char *text, const char *caption, int) { std::fprintf(stderr, "%s: %s\n", caption, text); }

std::string appdata()
{
  char buf[PATH_APPEND_MAX];
  return special_folder_common_appdata(buf, sizeof buf) ? buf : "";
}

std::string joined(std::string a, const std::string &b)
{
  char buf[PATH_APPEND_MAX];
  if (a.size() >= sizeof buf) return "";
  std::memcpy(buf, a.c_str(), a.size() + 1);
  return path_append(buf, sizeof buf, b.c_str()) ? buf : "";
}

// A one-line file beside the program.
int beside_program(const char *name, std::string *line)
{
  return read_first_line(joined(program_folder(), name), line) && !line->empty();
}

int dmsm_call(int (*call)(tarvo_dmsm_handle *))
{
  helper_app &a = app();
  std::lock_guard<std::mutex> g(a.lock);
  return a.dmsm_set && call(&a.dmsm);
}

int dmsm_state(int *active)
{
  helper_app &a = app();
  std::lock_guard<std::mutex> g(a.lock);
  return a.dmsm_set && tarvo_dmsm_get_server_state(&a.dmsm, active);
}

void server_state_poll()
{
  helper_app &a = app();
  while (a.running) {
    int active = 0;
    a.polled_state = dmsm_state(&active) ? (active ? 1 : 0) : 2;
    std::unique_lock<std::mutex> l(a.sleep_lock);
    a.wake.wait_for(l, std::chrono::milliseconds(HELPER_POLL_MS), [&a] { return !a.running; });
  }
}

}  // namespace

void (*helper_message_box)(const char *text, const char *caption, int flags) = stderr_box;

helper_app &app()
{
  static helper_app *a = new helper_app;  // its thread is joined before exit
  return *a;
}

std::string program_folder()
{
  char buf[PATH_APPEND_MAX];
  return path_program_folder(buf, sizeof buf) ? buf : "";
}

std::string program_base_name()
{
  char buf[PATH_APPEND_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "quessel";
  std::string p(buf, size_t(n));
  p = p.substr(p.rfind('/') + 1);
  size_t dot = p.rfind('.');
  return dot == std::string::npos || dot == 0 ? p : p.substr(0, dot);
}

// An absolute data_home is the server's data folder as it is; any other
// line lies under the common application-data folder.
int conf_dir_path(std::string *path)
{
  static std::string kept;
  if (kept.empty()) {
    std::string line, base;
    if (!beside_program("data_home", &line)) return 0;
    if (line[0] == '/') base = line;
    else if ((base = appdata()).empty() || (base = joined(base, line)).empty()) return 0;
    std::string conf = joined(base, "conf");
    if (conf.empty()) return 0;
    kept = conf + "/";
  }
  *path = kept;
  return 1;
}

static int helper_file(const char *suffix, std::string *path)
{
  std::string line, base = appdata();
  if (base.empty() || !beside_program("helper_home", &line)) return 0;
  *path = joined(joined(base, line), program_base_name() + suffix);
  return !path->empty();
}

int helper_ini_path(std::string *path) { return helper_file(".ini", path); }

int known_clients_path(std::string *path)
{
  static std::string kept;
  if (kept.empty() && !helper_file("", &kept)) return 0;
  *path = kept;
  return 1;
}

int read_conf_port(const char *name, uint16_t *port)
{
  std::string conf, line;
  if (!conf_dir_path(&conf) || !read_first_line(joined(conf, name), &line)) return 0;
  uint32_t v = 0;
  for (size_t i = 0; i < line.size() && line[i] >= '0' && line[i] <= '9' && v <= 0xFFFFFu; ++i)
    v = v * 10 + uint32_t(line[i] - '0');
  *port = uint16_t(v);
  return 1;
}

int ini_read(const char *key)
{
  std::string ini;
  return helper_ini_path(&ini) ? profile_get_int(HELPER_INI_SECTION, key, 0, ini.c_str()) : 0;
}

void ini_write(const char *key, int value)
{
  std::string ini;
  if (helper_ini_path(&ini)) profile_write_string(HELPER_INI_SECTION, key, std::to_string(value).c_str(), ini.c_str());
}

int helper_init_instance(int *code)
{
  helper_app &a = app();
  *code = 0;
  uint16_t port = 0;
  {
    std::lock_guard<std::mutex> g(a.lock);
    if (read_conf_port("dmsm_port", &port)) a.dmsm_set = tarvo_dmsm_init(&a.dmsm, port);
  }
  int exists = 0;
  if (!named_mutex_create(HELPER_TITLE, NAMED_SCOPE_USER, &a.mutex_fd, &exists)) return 0;
  std::string ini;
  int existed = 0;
  if (helper_ini_path(&ini) && !create_new_file(ini, &existed) && !existed)
    helper_message_box("Failed to create ini file.", HELPER_TITLE, 0);
  if (!existed) {
    ini_write(HELPER_KEY_NO_NOTICE, 0);
    ini_write(HELPER_KEY_NO_INQUIRY, 0);
  }
  if (!read_conf_port("upnp_port", &port)) return 0;
  if (!tarvo_avcpl_init(&a.avcpl, port)) {
    helper_message_box("Error: tarvo_avcpl_init()", "Media Server Tool", 1);
    *code = 1;
    return 0;
  }
  tarvo_avcpl_set_read_timeout(&a.avcpl, HELPER_AVCPL_READ_MS);
  a.running = true;
  try {
    a.poller = std::thread(server_state_poll);
  } catch (...) {
    a.running = false;
    helper_message_box("fatal error - Couldn't create thread", HELPER_TITLE, 0);
    *code = 1;
    return 0;
  }
  return 1;
}

void helper_exit_instance()
{
  helper_app &a = app();
  {
    std::lock_guard<std::mutex> l(a.sleep_lock);
    a.running = false;
  }
  a.wake.notify_all();
  if (a.poller.joinable()) a.poller.join();
  tarvo_avcpl_free(&a.avcpl);
  std::lock_guard<std::mutex> g(a.lock);
  if (a.dmsm_set) tarvo_dmsm_free(&a.dmsm);
  a.dmsm_set = false;
}

int request_server_start() { return dmsm_call(tarvo_dmsm_start_server); }
int request_server_stop() { return dmsm_call(tarvo_dmsm_stop_server); }

int query_server_active()
{
  int active = 0;
  return dmsm_state(&active) && active;
}

int query_server_state()
{
  int active = 0;
  return dmsm_state(&active) ? (active ? 1 : 0) : 2;
}

int set_client_permission(const std::string &key, const std::string &address, int kind)
{
  static const char *const states[] = {"default", "allow", "deny"};
  if (kind < 0 || kind > 2) return 0;
  return tarvo_avcpl_set_client_permissions(&app().avcpl, key.c_str(), address.c_str(), states[kind]) == 0;
}

int query_default_client_state(int *state)
{
  char *text = nullptr;
  if (tarvo_avcpl_get_default_client_state(&app().avcpl, &text) != 0) return 0;
  int r = 0;
  if (text && std::strcmp(text, "allow") == 0) r = 1;
  else if (text && std::strcmp(text, "deny") == 0) r = 2;
  sys_alloc_free(text);
  if (r) *state = r;
  return r != 0;
}
