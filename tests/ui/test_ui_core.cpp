// The message-window core: subclass chains and the order of destruction,
// timers inside a modal loop, posts from other threads, lookups, and the
// stop signal ending every loop.
#include <gtest/gtest.h>
#include <tarvo_ui/ui_core.h>

#include <signal.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "tarvo_live.h"

namespace {

std::vector<std::string> seen;
WNDPROC base_proc_saved;

LRESULT base_proc(HWND, UINT msg, WPARAM w, LPARAM)
{
  seen.push_back("base " + std::to_string(msg) + " " + std::to_string(w));
  return 7;
}

LRESULT sub_proc(HWND h, UINT msg, WPARAM w, LPARAM l)
{
  seen.push_back("sub " + std::to_string(msg));
  if (msg == WM_NCDESTROY) {
    EXPECT_TRUE(IsWindow(h));  // still valid for its last message
  }
  return CallWindowProc(base_proc_saved, h, msg, w, l) + 1;
}

TEST(UiCore, SubclassChainSeesEveryMessageAndNcDestroyComesLast)
{
  seen.clear();
  HWND h = CreateMessageWindow("chain", "Chain", base_proc, nullptr);
  ASSERT_TRUE(h);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(h) >> 32, uintptr_t(getpid()));
  base_proc_saved = SetWindowProc(h, sub_proc);
  EXPECT_EQ(base_proc_saved, base_proc);
  EXPECT_EQ(SendMessage(h, WM_USER, 5, 0), 8);
  ASSERT_TRUE(SetTimer(h, 9, 60000));
  EXPECT_EQ(FindWindow("CHAIN", nullptr), h);
  EXPECT_EQ(FindWindow(nullptr, "Chain"), h);
  EXPECT_EQ(FindWindow("chain", "other"), nullptr);
  ASSERT_TRUE(DestroyWindow(h));
  EXPECT_FALSE(IsWindow(h));
  EXPECT_FALSE(KillTimer(h, 9));
  EXPECT_FALSE(PostMessage(h, WM_USER, 0, 0));
  std::vector<std::string> want = {"sub 1024", "base 1024 5", "sub 2", "base 2 0", "sub 130", "base 130 0"};
  EXPECT_EQ(seen, want);
}

int ticks;
LRESULT timer_proc(HWND h, UINT msg, WPARAM w, LPARAM)
{
  if (msg == WM_TIMER && w == 3 && ++ticks == 3) EndDialog(h, 42);
  if (msg == WM_USER + 1) {
    const UI_MSG *m = GetCurrentMessage();
    EXPECT_TRUE(m && m->hwnd == h && m->message == msg);
    seen.push_back(std::to_string(w));
    if (w == 99) PostQuitMessage(5);
  }
  return 0;
}

TEST(UiCore, TimersFireInsideAModalLoopAndPostsArriveInOrderFromOtherThreads)
{
  ticks = 0;
  seen.clear();
  HWND h = CreateMessageWindow("dialog", "", timer_proc, nullptr);
  ASSERT_EQ(SetTimer(h, 3, 10), 3u);
  EXPECT_EQ(ModalLoop(h), 42);
  EXPECT_EQ(ticks, 3);
  KillTimer(h, 3);

  std::thread other([h] {
    for (WPARAM i = 0; i < 50; i++) PostMessage(h, WM_USER + 1, i, 0);
    EXPECT_EQ(SendMessage(h, WM_USER + 1, 1000, 0), 0);  // not this thread's window
    PostMessage(h, WM_USER + 1, 99, 0);
  });
  EXPECT_EQ(MessageLoop(), 5);
  other.join();
  ASSERT_EQ(seen.size(), 51u);
  for (size_t i = 0; i < 50; i++) EXPECT_EQ(seen[i], std::to_string(i));
  DestroyWindow(h);
}

TEST(UiCore, RegisteredMessagesAreStablePerName)
{
  UINT a = RegisterWindowMessage("TaskbarCreated");
  EXPECT_GE(a, UI_REGISTERED_MESSAGE_FIRST);
  EXPECT_EQ(RegisterWindowMessage("taskbarcreated"), a);
  EXPECT_NE(RegisterWindowMessage("Other"), a);
  EXPECT_EQ(RegisterWindowMessage(""), 0u);
}

// A SIGTERM that comes while a handler runs a modal loop (a dialog inside
// the program's loop) ends both loops, and loops started afterwards end at
// once.  In a child: the quit is for the whole process.  The signal is
// sent from a message the modal loop delivers, so that it comes while that
// loop runs.
LRESULT nested_proc(HWND h, UINT msg, WPARAM, LPARAM)
{
  if (msg != WM_USER) return 0;
  HWND dialog = CreateMessageWindow(
      "dialog", "",
      [](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
        if (m == WM_USER) kill(getpid(), SIGTERM);
        return 0;
      },
      nullptr);
  PostMessage(dialog, WM_USER, 0, 0);
  intptr_t r = ModalLoop(dialog);
  DestroyWindow(dialog);
  return r == -1 && IsWindow(h) ? 0 : 1;
}

void quit_while_nested()
{
  if (!UiQuitOnStopSignals()) std::_Exit(2);
  HWND h = CreateMessageWindow("frame", "", nested_proc, nullptr);
  PostMessage(h, WM_USER, 0, 0);
  alarm(tarvo_test::kLiveMs / 1000);  // a loop that does not end kills the child
  int code = MessageLoop();
  HWND later = CreateMessageWindow("dialog", "", nullptr, nullptr);
  bool ends_at_once = ModalLoop(later) == -1 && MessageLoop() == 0;
  std::_Exit(code == 0 && ends_at_once && UiQuitting() ? 0 : 1);
}

TEST(UiCore, StopSignalEndsTheModalLoopAndTheProgramLoop)
{
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(quit_while_nested(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
