// Child processes with piped standard input and output, and the
// environment.
#include <tarvo_util/sys_process.h>
#include <tarvo_util/sys_str.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Keeps a pipe end off descriptors 0-2, where moving the child's ends into
// place could overwrite one with the other.
bool lift(int *fd)
{
  if (*fd > STDERR_FILENO) return true;
  int n = fcntl(*fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  close(*fd);
  *fd = n;
  return n >= 0;
}

struct pipe_pair {
  int fd[2] = {-1, -1};
  pipe_pair(const pipe_pair &) = delete;
  pipe_pair &operator=(const pipe_pair &) = delete;
  pipe_pair() = default;
  ~pipe_pair()
  {
    for (int f : fd)
      if (f >= 0) close(f);
  }
  bool make() { return pipe2(fd, O_CLOEXEC) == 0 && lift(&fd[0]) && lift(&fd[1]); }
  int take(int i)
  {
    int f = fd[i];
    fd[i] = -1;
    return f;
  }
};

struct spawn_setup {
  posix_spawn_file_actions_t fa;
  posix_spawnattr_t attr;
  bool fa_ok = false, attr_ok = false;
  spawn_setup() = default;
  spawn_setup(const spawn_setup &) = delete;
  spawn_setup &operator=(const spawn_setup &) = delete;
  ~spawn_setup()
  {
    if (fa_ok) posix_spawn_file_actions_destroy(&fa);
    if (attr_ok) posix_spawnattr_destroy(&attr);
  }
};

int create(sys_process_handle *process, int *child_stdout_read, int *child_stdin_write, const char *program,
           char *const *argv, char *const *envp, const char *cwd)
{
  pipe_pair in, out;  // the child's standard input and output
  if (!in.make() || !out.make()) return 0;

  std::vector<char *> env;
  for (char *const *e = envp; e && *e; e++) env.push_back(*e);
  const char *root = std::getenv("SystemRoot");
  std::string root_line = std::string("SYSTEMROOT=") + (root ? root : "");
  env.push_back(root_line.data());
  env.push_back(nullptr);

  char *const fallback[] = {const_cast<char *>(program), nullptr};
  if (!argv) argv = fallback;

  // The child changes folder before it starts the program: a relative
  // program path still names a file of this process's folder.
  std::string path = program;
  if (cwd && program[0] != '/') {
    char here[PATH_MAX];
    if (!getcwd(here, sizeof here)) return 0;
    path = std::string(here) + "/" + program;
  }

  spawn_setup s;
  if (posix_spawn_file_actions_init(&s.fa) != 0) return 0;
  s.fa_ok = true;
  if (posix_spawnattr_init(&s.attr) != 0) return 0;
  s.attr_ok = true;
  // The child starts with no signal blocked and SIGPIPE at its default,
  // whatever this process set up for itself.
  sigset_t none, pipe_only;
  sigemptyset(&none);
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  if (posix_spawnattr_setsigmask(&s.attr, &none) != 0 || posix_spawnattr_setsigdefault(&s.attr, &pipe_only) != 0 ||
      posix_spawnattr_setflags(&s.attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) != 0)
    return 0;
  if (posix_spawn_file_actions_adddup2(&s.fa, in.fd[0], STDIN_FILENO) != 0 ||
      posix_spawn_file_actions_adddup2(&s.fa, out.fd[1], STDOUT_FILENO) != 0 ||
      posix_spawn_file_actions_addclosefrom_np(&s.fa, STDERR_FILENO + 1) != 0)
    return 0;
  if (cwd && posix_spawn_file_actions_addchdir_np(&s.fa, cwd) != 0) return 0;

  pid_t pid;
  if (posix_spawn(&pid, path.c_str(), &s.fa, &s.attr, argv, env.data()) != 0) return 0;
  *process = pid;
  *child_stdin_write = in.take(1);
  *child_stdout_read = out.take(0);
  return 1;
}

}  // namespace

extern "C" {

int sys_process_create(sys_process_handle *process, int *child_stdout_read, int *child_stdin_write,
                       const char *program, char *const *argv, char *const *envp, const char *cwd)
{
  try {
    return create(process, child_stdout_read, child_stdin_write, program, argv, envp, cwd);
  } catch (...) {  // out of memory
    return 0;
  }
}

const char *sys_env_get(const char *name)
{
  return name ? std::getenv(name) : nullptr;
}

}  // extern "C"
