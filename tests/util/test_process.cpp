// Child processes, the environment and dynamic libraries.
#include <gtest/gtest.h>

#include <tarvo_util/sys_dlib.h>
#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_process.h>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tarvo_test.h"

extern char **environ;

namespace {

void out(const std::string &s) { (void)!write(STDOUT_FILENO, s.data(), s.size()); }

// This program doubles as the child: TARVO_CHILD_ACT picks what it reports
// on its standard output before main runs.
int child_hook = [] {
  const char *act = std::getenv("TARVO_CHILD_ACT");
  if (!act) return 0;
  std::string a = act;
  if (a == "argv") {
    std::string cmdline = tarvo_test::read_file("/proc/self/cmdline");
    for (char &c : cmdline)
      if (c == 0) c = '\n';
    out(cmdline);
  } else if (a == "env") {
    for (char **e = environ; *e; e++) out(std::string(*e) + "\n");
  } else if (a == "fds") {
    DIR *d = opendir("/proc/self/fd");
    while (dirent *e = readdir(d))
      if (e->d_name[0] != '.' && std::atoi(e->d_name) != dirfd(d)) out(std::string(e->d_name) + "\n");
    closedir(d);
  } else if (a == "echo") {
    char b[256];
    ssize_t r;
    while ((r = read(STDIN_FILENO, b, sizeof b)) > 0) out(std::string(b, size_t(r)));
    out("<eof>");
  } else if (a == "cwd") {
    out(std::filesystem::current_path().string());
  }
  _exit(0);
}();

std::string self() { return std::filesystem::read_symlink("/proc/self/exe").string(); }

struct child {
  sys_process_handle pid = 0;
  int from = -1, to = -1;
  int ok = 0;
  child(const std::string &act, std::vector<std::string> args = {}, std::vector<std::string> env = {},
        const char *cwd = nullptr, std::string program = self())
  {
    env.push_back("TARVO_CHILD_ACT=" + act);
    args.insert(args.begin(), program);
    std::vector<char *> av, ev;
    for (auto &s : args) av.push_back(s.data());
    for (auto &s : env) ev.push_back(s.data());
    av.push_back(nullptr);
    ev.push_back(nullptr);
    ok = sys_process_create(&pid, &from, &to, program.c_str(), av.data(), ev.data(), cwd);
  }
  // Everything the child writes, then its exit status.
  std::string output()
  {
    sys_file_close(to);
    to = -1;
    std::string s;
    char b[512];
    uint32_t got;
    while (sys_file_read(from, b, sizeof b, &got) && got) s.append(b, got);
    return s;
  }
  int wait() { return sys_process_join(pid); }
  ~child()
  {
    sys_file_close(from);
    sys_file_close(to);
  }
};

size_t open_fds() { return size_t(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {})); }

}  // namespace

TEST(Process, ArgumentsArriveUnchanged)
{
  child c("argv", {"a b", "", "\"q\"", "x\\y"});
  ASSERT_EQ(c.ok, 1);
  EXPECT_EQ(c.output(), self() + "\na b\n\n\"q\"\nx\\y\n");
  EXPECT_EQ(c.wait(), 1);
}

TEST(Process, EnvironmentIsTheListAndSystemRoot)
{
  setenv("SystemRoot", "C:\\Windows", 1);
  {
    child c("env", {}, {"B=2", "A=1"});
    ASSERT_EQ(c.ok, 1);
    EXPECT_EQ(c.output(), "B=2\nA=1\nTARVO_CHILD_ACT=env\nSYSTEMROOT=C:\\Windows\n");
    c.wait();
  }
  unsetenv("SystemRoot");
  child c("env");
  ASSERT_EQ(c.ok, 1);
  EXPECT_EQ(c.output(), "TARVO_CHILD_ACT=env\nSYSTEMROOT=\n");
  c.wait();
}

TEST(Process, PipesAndNothingElseInherited)
{
  // A descriptor that is not close-on-exec must not reach the child either.
  int stray = open("/dev/null", O_RDONLY);
  ASSERT_GE(stray, 0);
  {
    child c("fds");
    ASSERT_EQ(c.ok, 1);
    EXPECT_EQ(c.output(), "0\n1\n2\n");
    c.wait();
  }
  close(stray);

  child c("echo");
  ASSERT_EQ(c.ok, 1);
  EXPECT_TRUE(fcntl(c.from, F_GETFD) & FD_CLOEXEC);
  EXPECT_TRUE(fcntl(c.to, F_GETFD) & FD_CLOEXEC);
  ASSERT_EQ(sys_file_allwrite(c.to, "hello", 5), 1);
  // Closing our write end must end the child's input: no copy of it may
  // stay open in the child.
  EXPECT_EQ(c.output(), "hello<eof>");
  EXPECT_EQ(c.wait(), 1);
}

TEST(Process, FolderAndFailures)
{
  tarvo_test::scratch_dir t;
  std::string here = std::filesystem::current_path().string();
  {
    child c("cwd", {}, {}, t.path.c_str());
    ASSERT_EQ(c.ok, 1);
    EXPECT_EQ(c.output(), std::filesystem::canonical(t.path).string());
    c.wait();
  }
  {
    // A relative program path is taken from this process's folder.
    std::string rel = std::filesystem::relative(self(), here).string();
    child c("cwd", {}, {}, t.path.c_str(), rel);
    ASSERT_EQ(c.ok, 1);
    c.output();
    c.wait();
  }
  {
    child c("cwd");
    ASSERT_EQ(c.ok, 1);
    EXPECT_EQ(c.output(), here);
    c.wait();
  }
  size_t before = open_fds();
  {
    child c("argv", {}, {}, nullptr, t / "missing");
    EXPECT_EQ(c.ok, 0);
    child d("argv", {}, {}, (t / "missing").c_str());
    EXPECT_EQ(d.ok, 0);
  }
  EXPECT_EQ(open_fds(), before);
}

TEST(Environment, Lookup)
{
  setenv("TARVO_ENV_PROBE", "v=1", 1);
  ASSERT_NE(sys_env_get("TARVO_ENV_PROBE"), nullptr);
  EXPECT_STREQ(sys_env_get("TARVO_ENV_PROBE"), "v=1");
  EXPECT_EQ(sys_env_get("TARVO_ENV_PROB"), nullptr);
  EXPECT_EQ(sys_env_get(nullptr), nullptr);
}

TEST(DynamicLibraries, NameLookup)
{
  auto answer = [](const char *name) {
    sys_dlib_handle lib = nullptr;
    if (!sys_dlib_load(&lib, name)) return -1;
    sys_dlib_fn fn;
    int r = sys_dlib_name(&lib, "tarvo_sample_answer", &fn) ? reinterpret_cast<int (*)()>(fn)() : -2;
    EXPECT_EQ(sys_dlib_free(&lib), 1);
    return r;
  };
  EXPECT_EQ(answer("tarvo_dl_a"), 1);  // lib<name>.so before <name>.so
  EXPECT_EQ(answer("tarvo_dl_b"), 3);
  std::string plain = std::filesystem::path(self()).parent_path() / "tarvo_dl_a.so";
  EXPECT_EQ(answer(plain.c_str()), 2);  // a path is taken as it is
  EXPECT_EQ(answer("tarvo_dl_missing"), -1);
  EXPECT_EQ(answer(""), -1);

  // Names not beside the program go through the loader's search.
  sys_dlib_handle lib = nullptr;
  ASSERT_EQ(sys_dlib_load(&lib, "expat"), 1);
  sys_dlib_fn fn;
  EXPECT_EQ(sys_dlib_name(&lib, "XML_ParserCreate", &fn), 1);
  EXPECT_EQ(sys_dlib_name(&lib, "no_such_function", &fn), 0);
  EXPECT_EQ(sys_dlib_free(&lib), 1);
}
