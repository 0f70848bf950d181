#include "server_test.h"

#include "helper_client.h"

#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_str.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace server_test {

data_folder::data_folder()
{
  // Ports of its own: test programs run side by side, and the media server
  // listens on them.
  std::string ports;
  for (int i = 0; i < 3; i++) ports += " " + std::to_string(mgmt_test::free_port());
  std::string cmd = tarvo_test::data_dir() + "/../scripts/layout-data '" + home + "'" + ports + " >/dev/null";
  if (std::system(cmd.c_str()) != 0) std::abort();
}

void data_folder::put(const std::string &key, const std::string &text) const
{
  tarvo_test::write_file(conf + "/" + key, text);
}

std::string data_folder::get(const std::string &key) const { return tarvo_test::read_file(conf + "/" + key); }

bool data_folder::exists(const std::string &key) const { return std::filesystem::exists(conf + "/" + key); }

std::string plugin(const std::string &variant)
{
  const char *bin = std::getenv("TARVO_BIN");
  return std::string(bin ? bin : ".") + "/libmsf_" + variant + ".so";
}

plugin_log::plugin_log()
{
  char name[] = "/tmp/tarvo-plugin-log-XXXXXX";
  int fd = mkstemp(name);
  if (fd < 0) std::abort();
  close(fd);
  path = name;
  setenv("TARVO_TEST_PLUGIN_LOG", path.c_str(), 1);
}

plugin_log::~plugin_log()
{
  unsetenv("TARVO_TEST_PLUGIN_LOG");
  std::remove(path.c_str());
}

std::vector<std::string> plugin_log::lines() const
{
  std::vector<std::string> v;
  std::ifstream f(path);
  for (std::string l; std::getline(f, l);) v.push_back(l);
  return v;
}

size_t plugin_log::count(const std::string &line) const
{
  size_t n = 0;
  for (const std::string &l : lines()) n += l == line;
  return n;
}

server::server()
{
  sys_str_clone(data.home.c_str(), &s.data_home);
}

server::~server()
{
  stop();
  sys_alloc_free(s.data_home);
  sys_alloc_free(s.description);
}

bool server::start()
{
  if (!cm_state_start(&s)) return false;
  started = content_db_start(&s, data.home.c_str(), "Tarvo Media Server") != 0;
  if (!started) cm_state_stop(&s);
  return started;
}

void server::stop()
{
  if (!started) return;
  content_db_stop(&s);
  cm_state_stop(&s);
  started = false;
  // The next start begins from a zero-filled record, as the server's does.
  char *home = s.data_home, *description = s.description;
  s = server_rec{};
  s.data_home = home;
  s.description = description;
}

std::string take(char *s)
{
  std::string v = s ? s : "";
  sys_alloc_free(s);
  return v;
}

std::string joined(char **list)
{
  std::string v;
  for (char **l = list; l && *l; l++) v += (l == list ? "" : ",") + std::string(*l);
  sys_str_list_free(list);
  return v;
}

}  // namespace server_test
