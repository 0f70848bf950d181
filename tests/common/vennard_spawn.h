// Starting the server program from a test: bin/vennard with the service
// folder given by TARVO_SERVICE_DIR and no systemd notification socket,
// the rest of the test's environment kept.
#pragma once

#include <spawn.h>
#include <sys/types.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char **environ;

namespace tarvo_test {

inline bool spawn_vennard(const std::string &service_dir, pid_t *pid, std::vector<std::string> extra_env = {})
{
  std::vector<std::string> env = {"TARVO_SERVICE_DIR=" + service_dir};
  for (char **e = environ; *e; e++)
    if (std::strncmp(*e, "TARVO_SERVICE_DIR=", 18) && std::strncmp(*e, "NOTIFY_SOCKET=", 14)) env.push_back(*e);
  env.insert(env.end(), extra_env.begin(), extra_env.end());
  std::vector<char *> envp;
  for (auto &e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  const char *bin = std::getenv("TARVO_BIN");
  std::string prog = std::string(bin ? bin : "bin") + "/vennard";
  char *argv[] = {prog.data(), nullptr};
  return posix_spawn(pid, prog.c_str(), nullptr, nullptr, argv, envp.data()) == 0;
}

}  // namespace tarvo_test
