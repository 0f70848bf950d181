// The dialog helper under Xvfb, driven by xdotool as a user would: the
// title it prints, and the answers of the message boxes as exit codes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <string>

#include "tarvo_test.h"

namespace {

// Runs the helper with args, then the keys, in one Xvfb session; the exit
// code and standard output of the helper as "code:output".
std::string drive(const std::string &args, const std::string &window, const std::string &keys)
{
  tarvo_test::scratch_dir d;
  // The same display settings as the other window tests: X11, no
  // accessibility bridge (it waits on a session bus that may not answer).
  // The window is looked for once it is mapped, and focus is waited for
  // with a bound, so a slow start cannot leave the keys with no window.
  std::string script = "B='" + std::string(std::getenv("TARVO_BIN")) + "'\n" +
                       "export GDK_BACKEND=x11 NO_AT_BRIDGE=1 GTK_A11Y=none\n" +
                       "\"$B/tarvo-shellext-ui\" " + args + " > '" + d / "out" + "' &\nP=$!\n" +
                       "W=$(timeout 30 xdotool search --sync --onlyvisible --name '" + window + "' | head -1)\n" +
                       "for i in $(seq 50); do xdotool windowfocus \"$W\"; [ \"$(xdotool getwindowfocus)\" = \"$W\" ] && break; "
                       "sleep 0.1; done\nsleep 0.3\n" +
                       keys + "\nwait $P\necho $? > '" + d / "code" + "'\n";
  tarvo_test::write_file(d / "run.sh", script);
  int status;
  tarvo_test::command_output("timeout 60 xvfb-run -a -s '-screen 0 1280x1024x24 -nolisten tcp' sh '" + d / "run.sh" +
                                 "' 2>'" + d / "err" + "'",
                             &status);
  std::string code = tarvo_test::read_file(d / "code");
  if (!code.empty() && code.back() == '\n') code.pop_back();
  if (code.empty()) ADD_FAILURE() << "no answer from the helper; its errors:\n" << tarvo_test::read_file(d / "err");
  return code + ":" + tarvo_test::read_file(d / "out");
}

}  // namespace

TEST(ShellextUi, TitleDialogAndMessageBoxesAnswerAsTheModulesExpect)
{
  int status;
  tarvo_test::command_output("command -v xvfb-run && command -v xdotool", &status);
  if (status != 0) GTEST_SKIP() << "xvfb-run or xdotool is not installed";
  const std::string &problem = tarvo_test::private_net();
  if (!problem.empty()) GTEST_SKIP() << problem;
  EXPECT_EQ(drive("title-edit a.mp3 Old", "Media Server Title Edit",
                  "xdotool key --clearmodifiers ctrl+a\nxdotool type 'New <&> \"t\"'\nxdotool key Return"),
            "0:New <&> \"t\"\n");
  EXPECT_EQ(drive("title-edit a.mp3 Old", "Media Server Title Edit", "xdotool key Escape"), "1:");
  // Names and titles that look like the toolkit's options reach the dialog.
  EXPECT_EQ(drive("title-edit --display=nowhere:0 --name=Old", "Media Server Title Edit", "xdotool key Return"),
            "0:--name=Old\n");
  // Yes is the default button; Escape is No.
  EXPECT_EQ(drive("msgbox yesno 'Cancel Publication' 'Sure?'", "Cancel Publication", "xdotool key Return"), "6:");
  EXPECT_EQ(drive("msgbox yesno 'Cancel Publication' 'Sure?'", "Cancel Publication", "xdotool key Escape"), "7:");
  EXPECT_EQ(drive("msgbox ok 'Folder publication' 'Failed.'", "Folder publication", "xdotool key Return"), "1:");
}
