// The dialog helper on a display of its own, driven by xdotool as a user
// would: the title it prints, and the answers of the message boxes as exit
// codes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "../ui/gtk_xvfb.h"
#include "tarvo_test.h"

namespace {

// The helper started with args and env ("NAME=value") added, its standard
// output into the file out.
pid_t start(const std::vector<std::string> &args, const std::string &out, const std::vector<std::string> &env)
{
  std::string prog = std::string(std::getenv("TARVO_BIN")) + "/tarvo-shellext-ui";
  pid_t pid = fork();
  if (pid == 0) {
    int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || dup2(fd, 1) < 0) _exit(126);
    for (const std::string &e : env) putenv(const_cast<char *>(e.c_str()));
    std::vector<char *> argv{prog.data()};
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(prog.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

// Whether the child has ended, leaving its status to be collected.
bool ended(pid_t pid)
{
  siginfo_t si{};
  return waitid(P_PID, pid_t(pid), &si, WEXITED | WNOHANG | WNOWAIT) == 0 && si.si_pid != 0;
}

// The first X window titled exactly so, waited for up to 20 s while the
// helper runs.  Its UTF-8 title is read: without the locale installed the
// toolkit cannot give a Japanese one in the legacy form.  xprop writes it
// as it is only in a UTF-8 locale (in the POSIX one it escapes the bytes),
// so it runs in one whatever the test's locale.
std::string window_named(const std::string &title, pid_t pid)
{
  const std::string find =
      "for w in $(xwininfo -root -children | grep -o '^ *0x[0-9a-f]*'); do LC_ALL=C.UTF-8 xprop -id $w "
      "_NET_WM_NAME | grep -qxF '_NET_WM_NAME(UTF8_STRING) = \"" +
      title + "\"' && echo $w; done";
  for (int i = 0; i < 200 && !ended(pid); ++i) {
    int st;
    std::string w = tarvo_test::command_output("(" + find + ") 2>/dev/null", &st);
    if (!w.empty()) return w.substr(0, w.find('\n'));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return {};
}

// Runs the helper, types the keys (xdotool arguments, one command each)
// into its window, and checks its exit code and output as "code:output".
void drive(const std::vector<std::string> &args, const std::string &title, const std::vector<std::string> &keys,
           const std::string &expected, const std::vector<std::string> &env = {})
{
  tarvo_test::scratch_dir d;
  pid_t pid = start(args, d / "out", env);
  std::string w = window_named(title, pid);
  if (w.empty()) {
    int code = tarvo_test::wait_exit(pid, 0);
    ADD_FAILURE() << "no window titled " << title << " (" << args[0] << "); the helper "
                  << (code == -2 ? std::string("still ran") : "ended with " + std::to_string(code));
    return;
  }
  int st;
  tarvo_test::command_output("xdotool windowfocus --sync " + w + " 2>&1", &st);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the focus reaching the entry
  for (const std::string &k : keys) tarvo_test::command_output("xdotool " + k + " 2>&1", &st);
  int code = tarvo_test::wait_exit(pid, 10000);
  EXPECT_EQ(std::to_string(code) + ":" + tarvo_test::read_file(d / "out"), expected) << args[0] << " " << keys.back();
}

}  // namespace

TEST(ShellextUi, TitleDialogAndMessageBoxesAnswerAsTheModulesExpect)
{
  TARVO_NEED_DISPLAY();
  int st;
  tarvo_test::command_output("command -v xdotool", &st);
  if (st != 0) GTEST_SKIP() << "xdotool is not installed";
  std::string geometry = tarvo_test::command_output("xdotool getdisplaygeometry 2>&1", &st);
  if (st != 0) GTEST_SKIP() << "the virtual display cannot be reached: " << geometry;
  const std::string title = "Media Server Title Edit";
  drive({"title-edit", "a.mp3", "Old"}, title,
        {"key --clearmodifiers ctrl+a", "type 'New <&> \"t\"'", "key Return"}, "0:New <&> \"t\"\n");
  drive({"title-edit", "a.mp3", "Old"}, title, {"key Escape"}, "1:");
  // Names and titles that look like the toolkit's options reach the dialog.
  drive({"title-edit", "--display=nowhere:0", "--name=Old"}, title, {"key Return"}, "0:--name=Old\n");
  // In a Japanese session the dialog is the Japanese one.
  drive({"title-edit", "b.mp3", "古い"}, "メディアサーバー タイトル編集", {"key Return"}, "0:古い\n",
        {"LC_ALL=ja_JP.UTF-8"});
  // Yes is the default button; Escape is No.
  drive({"msgbox", "yesno", "Cancel Publication", "Sure?"}, "Cancel Publication", {"key Return"}, "6:");
  drive({"msgbox", "yesno", "Cancel Publication", "Sure?"}, "Cancel Publication", {"key Escape"}, "7:");
  drive({"msgbox", "ok", "Folder publication", "Failed."}, "Folder publication", {"key Return"}, "1:");
}
