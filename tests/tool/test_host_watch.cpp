// The client host watcher with fake list calls and a hosts file in place of
// reverse look-ups: no list calls while the server is not running, the exact
// push, one look-up per address, failed look-ups never pushed nor retried,
// a held-back push delivered by its timer, completions delivered inside a
// push's wait, and the script escaper.
#include "host_watch.h"
#include "js_escape.h"

#include <tarvo_ui/ui_page.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// A cycle of 100 ms and a push window of 40 ms.
const bool scaled = setenv("TARVO_TIME_SCALE", "50", 1) == 0;

struct fake_lists {
  std::mutex m;
  std::vector<const char *> allow, deny;
  int calls = 0;
} lists;

uint32_t give(std::vector<const char *> v, sys_str_list *macs, sys_str_list *ips)
{
  v.push_back(nullptr);
  std::vector<const char *> none{nullptr};
  if (!sys_str_list_clone(const_cast<char *const *>(v.data()), ips) ||
      !sys_str_list_clone(const_cast<char *const *>(none.data()), macs))
    return 1;
  return 0;
}

uint32_t allow_list(sys_str_list *macs, sys_str_list *ips)
{
  std::lock_guard<std::mutex> g(lists.m);
  ++lists.calls;
  return give(lists.allow, macs, ips);
}

uint32_t deny_list(sys_str_list *macs, sys_str_list *ips)
{
  std::lock_guard<std::mutex> g(lists.m);
  ++lists.calls;
  return give(lists.deny, macs, ips);
}

const host_list_source source{allow_list, deny_list};

HWND view;
host_push_state push;

LRESULT main_proc(HWND hwnd, UINT msg, WPARAM w, LPARAM)
{
  if (msg == host_name_message()) on_host_name(hwnd, w, view);
  if (msg == WM_DESTROY) host_lookups_cancel();
  return 0;
}

// As the real page's script run does, a push waits in a nested loop, which
// delivers the completions that came meanwhile (they once found the look-up
// list's lock still held and froze the tool).
void nested_wait(int ms)
{
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end)
    if (!g_main_context_iteration(nullptr, FALSE)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

LRESULT view_proc(HWND hwnd, UINT msg, WPARAM w, LPARAM)
{
  if (msg == WM_HOSTS_CHANGED) {
    host_push_rule(hwnd, &push);
    nested_wait(20);
  }
  if (msg == WM_TIMER && w == HOST_PUSH_TIMER) host_push_timer(hwnd, &push);
  return 0;
}

// Runs the GUI context for at most ms real milliseconds or until done().
bool run_until(std::function<bool()> done, int ms)
{
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return done();
}

std::string last_script()
{
  uint32_t n = PageScriptCount();
  return n ? PageScriptAt(n - 1) : "";
}

void write_hosts(const std::string &path, const char *text)
{
  FILE *f = std::fopen(path.c_str(), "w");
  ASSERT_TRUE(f);
  std::fputs(text, f);
  std::fclose(f);
}

TEST(HostWatch, ListsLookupsAndPushes)
{
  ASSERT_TRUE(scaled);
  std::string hosts = ::testing::TempDir() + "hosts-" + std::to_string(getpid());
  write_hosts(hosts, "# stand-in\n127.0.0.1\tlocalhost loopback\n127.0.0.2 o'brien<\\x>\n127.0.0.5 five\n");
  setenv("TARVO_HOSTS_FILE", hosts.c_str(), 1);
  host_watch_set_source(&source);
  HWND main = CreateMessageWindow("HaldorMainFrame", "t", main_proc, nullptr);
  view = CreateMessageWindow("HaldorView", "", view_proc, nullptr);
  std::atomic<int> state{1};
  {
    std::lock_guard<std::mutex> g(lists.m);
    lists.allow = {"127.0.0.1", "not an address", "255.255.255.255"};
    lists.deny = {"127.0.0.1"};
  }
  CClientHostWatcher &w = CClientHostWatcher::Instance();
  ASSERT_TRUE(w.Start(main, [&state] { return state.load(); }));

  // Stopped server: cycles pass, no list call is made.
  run_until([] { return false; }, 450);
  {
    std::lock_guard<std::mutex> g(lists.m);
    EXPECT_EQ(lists.calls, 0);
  }
  state = 2;
  ASSERT_TRUE(run_until([] { return PageScriptCount() == 1; }, 3000));
  EXPECT_EQ(last_script(), "tollamy_data_hosts_update_hosts({'127.0.0.1' : 'localhost'});");

  // Two names at once: the second is held back within the window, and its
  // timer still brings both; 127.0.0.3 is not in the file and never listed.
  {
    std::lock_guard<std::mutex> g(lists.m);
    lists.deny = {"127.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.5"};
  }
  const std::string both =
      "tollamy_data_hosts_update_hosts({'127.0.0.1' : 'localhost', '127.0.0.2' : 'o\\'brien\\u003C\\\\x>', "
      "'127.0.0.5' : 'five'});";
  ASSERT_TRUE(run_until([&] { return last_script() == both; }, 3000)) << last_script();

  // A changed file: seen addresses are not looked up again, resolved or not.
  write_hosts(hosts, "127.0.0.1 changed\n127.0.0.3 three\n127.0.0.4 four\n");
  {
    std::lock_guard<std::mutex> g(lists.m);
    lists.allow = {"127.0.0.4", "127.0.0.3"};
  }
  ASSERT_TRUE(run_until([&] { return last_script().find("four") != std::string::npos; }, 3000));
  EXPECT_EQ(last_script(),
            "tollamy_data_hosts_update_hosts({'127.0.0.1' : 'localhost', '127.0.0.2' : 'o\\'brien\\u003C\\\\x>', "
            "'127.0.0.4' : 'four', '127.0.0.5' : 'five'});");
  uint32_t pushes = PageScriptCount();
  run_until([] { return false; }, 400);
  EXPECT_EQ(PageScriptCount(), pushes);  // nothing new, nothing pushed

  w.Stop();
  DestroyWindow(view);
  DestroyWindow(main);
  unlink(hosts.c_str());
}

TEST(HostWatch, HostsFileAndEscaper)
{
  std::string name;
  const char text[] = "  # 127.0.0.1 commented\n127.0.0.10 ten\n127.0.0.1\tone # tail\n127.0.0.7\n";
  EXPECT_TRUE(hosts_file_name(text, sizeof text - 1, "127.0.0.1", &name));
  EXPECT_EQ(name, "one");
  EXPECT_FALSE(hosts_file_name(text, sizeof text - 1, "127.0.0.7", &name));  // no name on its line
  EXPECT_FALSE(hosts_file_name(text, 10, "127.0.0.10", &name));             // cut before the line

  EXPECT_EQ(js_string_escape("host-1.example_lan"), "host-1.example_lan");
  const char odd[] = "a'b\"c\\d\re\nf\x01g\x7f</script>\xe2\x80\xa8\xe2\x80\xa9\xe2\x80\xaa\xe2\x80";
  EXPECT_EQ(js_string_escape(odd),
            "a\\'b\\\"c\\\\d\\re\\nf\\u0001g\\u007F\\u003C/script>\\u2028\\u2029\xe2\x80\xaa\xe2\x80");
  EXPECT_EQ(js_string_escape(std::string("\0z", 2)), "\\u0000z");
}

}  // namespace
