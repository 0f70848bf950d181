// The module's own place, and the programs it starts: the dialog helper,
// whose answer it waits for, and the management tool, which it leaves
// running.
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <spawn.h>
#include <sys/wait.h>
#include <tarvo_shellext/shellext.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace {

bool put(const std::string &s, char *buf, uint32_t size)
{
  if (s.empty() || s.size() >= size) return false;
  std::memcpy(buf, s.c_str(), s.size() + 1);
  return true;
}

std::string helper_program()
{
  const char *ui = std::getenv("TARVO_SHELLEXT_UI");
  if (ui && *ui) return ui;
  char folder[SHELLEXT_PATH_MAX];
  return shellext_module_folder(folder, sizeof folder) ? std::string(folder) + "/tarvo-shellext-ui" : "";
}

// Runs the helper with args; its exit code (-1 when it did not run or was
// killed) and what it wrote on standard output, bounded.
int run_helper(const std::vector<std::string> &args, std::string *out)
{
  std::string program = helper_program();
  if (program.empty()) return -1;
  std::vector<char *> argv{program.data()};
  std::vector<std::string> copy = args;
  for (auto &a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
  pid_t pid;
  int r = posix_spawn(&pid, program.c_str(), &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  sys_file_close(fds[1]);
  if (r != 0) {
    sys_file_close(fds[0]);
    return -1;
  }
  char buf[4096];
  uint32_t got;
  while (sys_file_read(fds[0], buf, sizeof buf, &got) && got)
    if (out->size() < SHELLEXT_UI_ANSWER_MAX) out->append(buf, got);
  sys_file_close(fds[0]);
  int status;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

extern "C" {

int shellext_module_path(char *buf, uint32_t size)
{
  Dl_info info;
  if (!dladdr(reinterpret_cast<void *>(&shellext_module_path), &info) || !info.dli_fname) return 0;
  return put(info.dli_fname, buf, size);
}

int shellext_module_folder(char *buf, uint32_t size)
{
  char path[SHELLEXT_PATH_MAX], real[PATH_MAX];
  if (!shellext_module_path(path, sizeof path) || !realpath(path, real)) return 0;
  std::string s = real;
  size_t slash = s.rfind('/');
  if (slash == std::string::npos) return 0;
  return put(slash ? s.substr(0, slash) : "/", buf, size);
}

int shellext_ui_title_edit(const char *file_name, const char *title, char **new_title)
{
  std::string out;
  if (run_helper({"title-edit", file_name, title ? title : ""}, &out) != 0) return 0;
  if (!out.empty() && out.back() == '\n') out.pop_back();
  if (out.size() >= SHELLEXT_UI_ANSWER_MAX) return 0;
  char *copy = static_cast<char *>(sys_alloc(out.size() + 1));
  if (!copy) return 0;
  std::memcpy(copy, out.c_str(), out.size() + 1);
  *new_title = copy;
  return 1;
}

int shellext_ui_message_box(const char *text, const char *caption, uint32_t type)
{
  std::string out;
  int code = run_helper({"msgbox", type == SHELLEXT_MB_YESNO ? "yesno" : "ok", caption, text}, &out);
  return code == SHELLEXT_IDOK || code == SHELLEXT_IDYES || code == SHELLEXT_IDNO ? code : 0;
}

int shellext_start_program(const char *program)
{
  char *argv[] = {const_cast<char *>(program), nullptr};
  pid_t pid;
  if (posix_spawn(&pid, program, nullptr, nullptr, argv, environ) != 0) return 0;
  // Reaped when it ends, so that the file manager keeps no zombie.
  try {
    std::thread([pid] {
      int status;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::exception &) {
  }
  return 1;
}

}  // extern "C"
