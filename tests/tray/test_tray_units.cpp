// The tray helper's rules without the program: popup placement for the four
// panel edges and none, the fade sequences, hook chains on a window, the
// known-client list and one-line files, the poll thread's end, and a
// message posted to a window of another process.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "../util/script_server.h"
#include "helper_app.h"
#include "helper_files.h"
#include "notify_popup.h"
#include "popup_place.h"
#include "quessel_resources.h"
#include "subclass_wnd.h"
#include "tarvo_live.h"
#include "tarvo_test.h"

#include <glib.h>
#include <tarvo_ui/ui_resource.h>

namespace fs = std::filesystem;

namespace {

using tarvo_test::scratch_dir;

TEST(TrayUnits, PlacementAtEachPanelEdge)
{
  popup_rect work{100, 50, 800, 600};  // right 900, bottom 650
  struct {
    int edge, x, y;
  } cases[] = {{PANEL_BOTTOM, 900 - 243, 650 - 82}, {PANEL_RIGHT, 900 - 243, 650 - 82}, {PANEL_LEFT, 100, 650 - 82},
               {PANEL_TOP, 900 - 243, 50}, {PANEL_NONE, 10, 8}, {7, 10, 8}};
  for (auto &c : cases) {
    int x, y;
    popup_place(c.edge, work, 243, 82, &x, &y);
    EXPECT_EQ(x, c.x) << c.edge;
    EXPECT_EQ(y, c.y) << c.edge;
  }
}

TEST(TrayUnits, FadeInAndOutTakeThirteenSteps)
{
  std::vector<int> in, out;
  int alpha = 0, ended = 0;
  while (!ended) {
    ended = popup_fade_step(1, &alpha);
    in.push_back(alpha);
  }
  EXPECT_EQ(in, (std::vector<int>{20, 40, 60, 80, 100, 120, 140, 160, 180, 200, 220, 240, 255}));
  alpha = 255;
  ended = 0;
  while (!ended) {
    ended = popup_fade_step(0, &alpha);
    out.push_back(alpha);
  }
  EXPECT_EQ(out, (std::vector<int>{235, 215, 195, 175, 155, 135, 115, 95, 75, 55, 35, 15, 0}));
}

std::vector<std::string> seen;

struct named_hook : CSubclassWnd {
  explicit named_hook(const char *n) : name(n) {}
  LRESULT HandleMessage(UINT msg, WPARAM w, LPARAM l) override
  {
    if (msg == WM_USER || msg == WM_NCDESTROY) seen.push_back(name);
    return CSubclassWnd::HandleMessage(msg, w, l);
  }
  const char *name;
};

LRESULT own_proc(HWND, UINT msg, WPARAM, LPARAM)
{
  if (msg == WM_USER) seen.push_back("own");
  if (msg == WM_NCDESTROY) seen.push_back("own-ncdestroy");
  return 7;
}

TEST(TrayUnits, HookChainsNewestFirstAndGoneAtDestroy)
{
  HWND w = CreateMessageWindow("HookTest", "", own_proc, nullptr);
  named_hook older("older"), newer("newer");
  older.AttachWindow(w);
  newer.AttachWindow(w);
  EXPECT_EQ(SendMessage(w, WM_USER, 0, 0), 7);
  EXPECT_EQ(seen, (std::vector<std::string>{"newer", "older", "own"}));
  seen.clear();
  older.AttachWindow(nullptr);  // out of the middle
  SendMessage(w, WM_USER, 0, 0);
  EXPECT_EQ(seen, (std::vector<std::string>{"newer", "own"}));
  newer.AttachWindow(nullptr);
  EXPECT_EQ(GetWindowProc(w), own_proc);
  // Destroying the window unhooks every hook before its procedure's last message.
  older.AttachWindow(w);
  newer.AttachWindow(w);
  seen.clear();
  DestroyWindow(w);
  EXPECT_EQ(seen, (std::vector<std::string>{"own-ncdestroy"}));
  EXPECT_EQ(older.Window(), nullptr);
  EXPECT_EQ(newer.Window(), nullptr);
}

TEST(TrayUnits, KnownClientListReplacedWholeAndNeverThroughLinks)
{
  std::vector<std::string> keys;
  std::string data = "aa-01\r\n\r\nbb-02\ncc-03";
  known_clients_parse(data.data(), data.size(), &keys);
  EXPECT_EQ(keys, (std::vector<std::string>{"aa-01", "bb-02", "cc-03"}));
  std::string many;
  for (int i = 0; i < 10005; ++i) many += "k" + std::to_string(i) + "\n";
  known_clients_parse(many.data(), many.size(), &keys);
  EXPECT_EQ(keys.size(), KNOWN_CLIENTS_MAX);

  scratch_dir d;
  std::string path = d / "quessel", victim = d / "victim";
  tarvo_test::write_file(path, "old\r\n");
  ASSERT_EQ(link(path.c_str(), (d / "old-link").c_str()), 0);
  ASSERT_TRUE(known_clients_store(path, {"aa-01", "bb-02"}));
  EXPECT_EQ(tarvo_test::read_file(path), "aa-01\r\nbb-02\r\n");
  EXPECT_EQ(tarvo_test::read_file(d / "old-link"), "old\r\n");  // replaced by rename, not rewritten
  ASSERT_TRUE(known_clients_load(path, &keys));
  EXPECT_EQ(keys, (std::vector<std::string>{"aa-01", "bb-02"}));
  // A link planted at the list's name or the ini's is not written through.
  tarvo_test::write_file(victim, "precious");
  std::filesystem::remove(path);
  std::filesystem::create_symlink(victim, path);
  ASSERT_TRUE(known_clients_store(path, {"cc-03"}));
  EXPECT_EQ(tarvo_test::read_file(victim), "precious");
  int existed = 0;
  std::filesystem::create_symlink(victim, d / "quessel.ini");
  EXPECT_FALSE(create_new_file(d / "quessel.ini", &existed));
  EXPECT_EQ(existed, 1);
  EXPECT_EQ(tarvo_test::read_file(victim), "precious");
  // A stale temporary file from a crash does not stop the next save.
  tarvo_test::write_file(path + ".tmp", "junk");
  ASSERT_TRUE(known_clients_store(path, {"dd-04"}));
  EXPECT_EQ(tarvo_test::read_file(path), "dd-04\r\n");
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
}

TEST(TrayUnits, FirstLinesAreBoundedAndWellFormed)
{
  std::string line;
  ASSERT_TRUE(first_line_of("30002\r\nrest", 11, &line));
  EXPECT_EQ(line, "30002");
  std::string big(5000, 'x');
  ASSERT_TRUE(first_line_of(big.data(), big.size(), &line));
  EXPECT_EQ(line.size(), HELPER_LINE_MAX);
  // A character cut by the bound is dropped, not reported as bad text.
  std::string cut(HELPER_LINE_MAX - 1, 'a');
  cut += "\xE3\x81\x82";
  ASSERT_TRUE(first_line_of(cut.data(), cut.size(), &line));
  EXPECT_EQ(line.size(), HELPER_LINE_MAX - 1);
  EXPECT_FALSE(first_line_of("\xFF\xFE", 2, &line));
}

// The poll thread sleeps on a condition: the end wakes and joins it at once.
TEST(TrayUnits, PollThreadEndsAtOnceAndIsJoined)
{
  if (!tarvo_test::private_net().empty()) GTEST_SKIP() << tarvo_test::private_net();  // own mutex namespace
  tarvo_test::script_server dmsm({{"HTTP/1.1 200 OK\r\nX-DUV-STATE: active\r\n\r\n", true}}, true);
  scratch_dir prog, data;
  std::filesystem::create_directories(data.path / "m/conf");
  std::filesystem::create_directories(data.path / "q");
  tarvo_test::write_file(prog / "data_home", data / "m");  // absolute: taken as it is
  tarvo_test::write_file(prog / "helper_home", "q");
  tarvo_test::write_file(data / "m/conf/dmsm_port", std::to_string(dmsm.port()));
  tarvo_test::write_file(data / "m/conf/upnp_port", "1");
  setenv("TARVO_SERVICE_DIR", prog.path.c_str(), 1);
  setenv("TARVO_COMMON_APPDATA", data.path.c_str(), 1);
  int code = -1;
  ASSERT_TRUE(helper_init_instance(&code));
  EXPECT_EQ(query_server_state(), 1);
  EXPECT_TRUE(tarvo_test::eventually([] { return app().polled_state == 1; }));
  // Not a speed: the poller is woken, not waited out till its next round.
  auto t0 = std::chrono::steady_clock::now();
  helper_exit_instance();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(HELPER_POLL_MS));
  EXPECT_FALSE(app().poller.joinable());
  std::string conf;
  ASSERT_TRUE(conf_dir_path(&conf));
  EXPECT_EQ(conf, data / "m/conf/");
  EXPECT_EQ(tarvo_test::read_file(data / "q/" + program_base_name() + ".ini").find("NoMsg:ConnectAllow=0") !=
                std::string::npos,
            true);
}

// A child publishes a window; the parent finds it by class and posts to it.
// Garbage on the child's socket is dropped.
TEST(TrayUnits, PostToAWindowOfAnotherProcess)
{
  scratch_dir run;
  setenv("TARVO_RUNTIME_DIR", (run / "rt").c_str(), 1);
  int up[2], down[2];
  ASSERT_EQ(pipe(up), 0);
  ASSERT_EQ(pipe(down), 0);
  pid_t pid = fork();
  if (pid == 0) {
    static int out;
    out = up[1];
    HWND h = CreateMessageWindow("tray_peer_test", "", [](HWND, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
      if (msg == 0x9999) {
        long long v[2] = {static_cast<long long>(w), static_cast<long long>(l)};
        if (write(out, v, sizeof v) < 0) _exit(3);
      }
      return 0;
    }, nullptr);
    char ok = h && PublishWindowClass(h) ? 'y' : 'n';
    if (write(up[1], &ok, 1) < 0) _exit(3);
    for (int i = 0; i < 3000; ++i) g_main_context_iteration(nullptr, FALSE), usleep(1000);
    _exit(0);
  }
  char ok = 0;
  ASSERT_EQ(read(up[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'y');
  HWND h = FindWindow("tray_peer_test", nullptr);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(uint32_t(reinterpret_cast<uintptr_t>(h) >> 32), uint32_t(pid));
  EXPECT_EQ(FindWindow("TRAY_PEER_TEST", nullptr), h);  // classes match without case
  // Garbage first: a short datagram and one for a window of another process.
  int s = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::string path = run / ("rt/ui-" + std::to_string(pid) + ".sock");
  std::strcpy(a.sun_path, path.c_str());
  EXPECT_EQ(sendto(s, "junk", 4, 0, reinterpret_cast<sockaddr *>(&a), sizeof a), 4);
  close(s);
  EXPECT_TRUE(PostMessage(h, 0x9999, 42, -7));
  long long v[2] = {0, 0};
  ASSERT_EQ(read(up[0], v, sizeof v), ssize_t(sizeof v));
  EXPECT_EQ(v[0], 42);
  EXPECT_EQ(v[1], -7);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  EXPECT_EQ(FindWindow("tray_peer_test", nullptr), nullptr);  // its process is gone
  struct stat st;
  ASSERT_EQ(stat((run / "rt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  close(up[0]);
  close(up[1]);
  close(down[0]);
  close(down[1]);
}

// "Help_Resource.so" beside the program: its rows first, its menu whole,
// its PNG items in place of the program's images (only those that decode),
// and its texts in the popup's template.
TEST(TrayUnits, ResourceLibraryOverridesRowsAndImages)
{
  const char *dir = std::getenv("TRAY_HELP_RESOURCE_DIR");
  if (!dir) GTEST_SKIP() << "no resource library built";
  setenv("TARVO_SERVICE_DIR", dir, 1);
  setenv("LANG", "C", 1);
  quessel_resources_init();
  char buf[512];
  ASSERT_TRUE(LoadString(120, buf, sizeof buf));
  EXPECT_STREQ(buf, "Replaced message");
  ASSERT_TRUE(LoadString(123, buf, sizeof buf));
  EXPECT_STREQ(buf, "Do you want to permit connection from %s?");
  ASSERT_TRUE(LoadDialogText(131, 0, buf, sizeof buf));
  EXPECT_STREQ(buf, "Replaced caption");
  UI_RESOURCE_ROW rows[16];
  ASSERT_EQ(LoadMenuItems(129, rows, 16), 1u);
  EXPECT_STREQ(rows[0].en, "Quit");

  std::string client = quessel_image_path(QIDB_CLIENT), close = quessel_image_path(QIDB_CLOSE);
  EXPECT_EQ(fs::path(client).filename(), "quessel_156.png");
  EXPECT_NE(fs::path(client).parent_path(), fs::path(dir));
  EXPECT_EQ(tarvo_test::read_file(client), tarvo_test::read_file(tarvo_test::data_dir() + "/tray/help_156.png"));
  struct stat st;
  ASSERT_EQ(stat(fs::path(client).parent_path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(close, (fs::path(dir) / "quessel_145.png").string());  // not a PNG: the program's own
  EXPECT_EQ(quessel_image_path(QIDI_MAIN), (fs::path(dir) / "quessel_118.png").string());

  {
    CNotifyPopupDlg popup(nullptr);
    EXPECT_STREQ(UiPopupLabel(popup.Popup(), 0), "Tarvo Media Server Helper");
    EXPECT_STREQ(UiPopupLabel(popup.Popup(), 1), "The host (IP)");
    EXPECT_STREQ(UiPopupLabel(popup.Popup(), 2), "Replaced placeholder");
    popup.SetTexts("message", "host");
    popup.Show();
    EXPECT_STREQ(UiPopupLabel(popup.Popup(), 1), "host");
    EXPECT_STREQ(UiPopupLabel(popup.Popup(), 2), "message");
  }

  quessel_resources_end();
  EXPECT_FALSE(fs::exists(fs::path(client).parent_path()));
  EXPECT_EQ(quessel_image_path(QIDB_CLIENT), (fs::path(dir) / "quessel_156.png").string());
}

}  // namespace
