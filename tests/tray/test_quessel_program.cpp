// The quessel program with the record-only tray, its automation socket, a
// fixture data tree and loopback stand-ins for the server's two ports: the
// first start writes the ini and records the clients present; a new access
// file gives a popup, the query dialog and the security notice, the answer
// goes to the server; "Start ..." starts the tool; the settings dialog
// writes the ini; a published "dozarezu_wnd" hears 0x510; SIGTERM ends it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "quessel_dirs.h"
#include "../util/script_server.h"
#include "helper_peer.h"
#include "soap_reply.h"
#include "tarvo_live.h"
#include "tarvo_test.h"

namespace {

using namespace std::chrono;
using tarvo_test::scratch_dir;
using tarvo_test::script_reply;
using tarvo_test::soap_response;

std::string bin(const char *name) { return std::string(std::getenv("TARVO_BIN")) + "/" + name; }

struct fixture {
  scratch_dir prog, data, run;
  std::string sock, env, conf, ini, known;

  fixture(uint16_t dmsm, uint16_t upnp)
  {
    namespace fs = std::filesystem;
    tarvo_test::write_file(prog / "data_home", "tarvo/media\r\n");
    tarvo_test::write_file(prog / "helper_home", "tarvo/quessel\n");
    tarvo_test::write_file(prog / "tool_name", "tool_stub\n");
    tarvo_test::write_file(prog / "tool_stub", "#!/bin/sh\nfor f in /proc/$$/fd/*; do readlink $f; done > " +
                                                   run / "tool_fds" + "\necho \"$@\" > " + run / "tool_args" + "\n");
    chmod((prog / "tool_stub").c_str(), 0755);
    conf = quessel_dirs::lay_out(prog.path, data.path);
    tarvo_test::write_file(conf + "/dmsm_port", std::to_string(dmsm) + "\r\n");
    tarvo_test::write_file(conf + "/upnp_port", std::to_string(upnp) + "\n");
    tarvo_test::write_file(conf + "/access/allow/00-11-22-33-44-55", "127.0.0.2\n");
    tarvo_test::write_file(run / "hosts", "127.0.0.1 localhost\n");
    ini = data / "tarvo/quessel/quessel.ini";
    known = data / "tarvo/quessel/quessel";
    sock = run / "ui/quessel.sock";
    env = "TARVO_TRAY_BACKEND=record TARVO_SERVICE_DIR=" + prog.path.string() + " TARVO_COMMON_APPDATA=" +
          data.path.string() + " TARVO_UI_AUTOMATION=" + sock + " TARVO_HOSTS_FILE=" + run / "hosts" +
          " TARVO_RUNTIME_DIR=" + run / "rt" + " TARVO_WORKAREA=0,0,1024,740,3 TARVO_UI_MSGBOX=record GDK_BACKEND=x11 NO_AT_BRIDGE=1";
  }

  pid_t start() const
  {
    pid_t pid = fork();
    if (pid == 0) {
      std::string cmd = "exec env " + env + " " + (std::getenv("TRAY_GDB") ? "gdb -q -batch -ex run -ex bt --args " : "") + bin("quessel");
      execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char *>(nullptr));
      _exit(127);
    }
    return pid;
  }

  std::string ask(const std::string &request, int *status = nullptr) const
  {
    int s;
    std::string out = tarvo_test::command_output(bin("uictl") + " " + sock + " " + request + " 2>/dev/null", &s);
    if (status) *status = s;
    return out;
  }
};

int wait_exit(pid_t pid, int ms)
{
  for (int i = 0; i < ms / 5; ++i) {
    int status;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::this_thread::sleep_for(milliseconds(5));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -2;
}

bool wait_for(const std::function<bool()> &ok, int ms)
{
  for (auto end = steady_clock::now() + milliseconds(ms); steady_clock::now() < end;) {
    if (ok()) return true;
    std::this_thread::sleep_for(milliseconds(10));
  }
  return ok();
}

// The handle of the first window with that class and title in "windows".
std::string handle_of(const std::string &windows, const std::string &cls_title)
{
  size_t at = windows.find(" " + cls_title + "\n");
  if (at == std::string::npos) return "";
  size_t start = windows.rfind('\n', at);
  start = start == std::string::npos ? 0 : start + 1;
  return windows.substr(start, at - start);
}

// "#RRGGBB" of one pixel of the root window ("" without ImageMagick).
std::string screen_pixel(int x, int y)
{
  scratch_dir d;
  int status;
  std::string shot = d / "root.png";
  std::string out = tarvo_test::command_output("import -window root " + shot + " 2>/dev/null && convert " + shot +
                                                   " -crop 1x1+" + std::to_string(x) + "+" + std::to_string(y) +
                                                   " txt:- 2>/dev/null",
                                               &status);
  size_t hash = out.find('#', out.find('\n'));  // past the header line
  return hash == std::string::npos ? "" : out.substr(hash, 7);
}

std::string popup_handle(const fixture &f) { return handle_of(f.ask("windows"), "#32770 "); }

// A top-level X window as xwininfo lists the root's children (top-most
// first); top: whether it lies above every other.
struct x_window {
  std::string id;
  int w = 0, h = 0, x = 0, y = 0;
  bool top = false;
};

// The children of the root, mapped or not, top-most first.
std::vector<x_window> x_windows()
{
  int status;
  std::string out = tarvo_test::command_output("xwininfo -root -children 2>/dev/null", &status);
  static const std::regex line(R"(^\s*(0x[0-9a-f]+) .*\)\s+(\d+)x(\d+)\+(-?\d+)\+(-?\d+) )");
  std::vector<x_window> all;
  std::istringstream in(out);
  for (std::string l; std::getline(in, l);) {
    std::smatch m;
    if (std::regex_search(l, m, line))
      all.push_back({m[1], std::stoi(m[2]), std::stoi(m[3]), std::stoi(m[4]), std::stoi(m[5]), all.empty()});
  }
  return all;
}

// The one whose top-left corner is at x, y.
x_window x_window_at(int x, int y)
{
  for (const x_window &w : x_windows())
    if (w.x == x && w.y == y) return w;
  return {};
}

// The popup's place from its automation state.
bool popup_at(const fixture &f, int *x, int *y)
{
  std::string p = f.ask("popup");
  size_t at = p.find(" x=");
  return at != std::string::npos && std::sscanf(p.c_str() + at, " x=%d y=%d", x, y) == 2;
}

std::vector<script_reply> soap_script()
{
  std::vector<script_reply> r;
  for (int i = 0; i < 4; ++i) {
    r.push_back({soap_response("GetDefaultClientState", "<DefaultClientState>allow</DefaultClientState>")});
    r.push_back({soap_response("SetClientPermissions", "")});
  }
  return r;
}

TEST(QuesselProgram, ClientsPopupsDialogsAndStop)
{
  // A namespace of its own: its single-instance mutex and ports are its own.
  if (!tarvo_test::private_net().empty()) GTEST_SKIP() << tarvo_test::private_net();
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display: the dialogs need one (run under xvfb-run)";
  tarvo_test::script_server dmsm({{"HTTP/1.1 200 OK\r\nX-DUV-STATE: active\r\n\r\n", true}}, true);
  tarvo_test::script_server soap(soap_script());
  fixture f(dmsm.port(), soap.port());
  // The peer is published where quessel looks for it.
  setenv("TARVO_RUNTIME_DIR", (f.run / "rt").c_str(), 1);
  tray_test::peer_window peer("dozarezu_wnd");
  ASSERT_TRUE(peer.published());
  pid_t pid = f.start();
  struct killer {
    pid_t *pid;
    ~killer()
    {
      if (*pid > 0 && kill(*pid, SIGKILL) == 0) waitpid(*pid, nullptr, 0);
    }
  } guard{&pid};
  ASSERT_TRUE(wait_for([&] { return f.ask("windows").find("#32770 Quessel") != std::string::npos; }, 5000));
  std::string main_handle = handle_of(f.ask("windows"), "#32770 Quessel");

  // First start: both keys "0"; the client present is known, not queued.
  std::string ini = tarvo_test::read_file(f.ini);
  EXPECT_NE(ini.find("NoMsg:ConnectAllow=0"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Setting:ConnectClient=0"), std::string::npos) << ini;
  EXPECT_EQ(f.ask("queue"), "known 00-11-22-33-44-55\n");

  // Active server: icon 118, Start grayed, Stop not.
  ASSERT_TRUE(wait_for([&] { return f.ask("tray").find("icon 129 quessel_118.png Tarvo Media Server Helper") != std::string::npos; }, 3000))
      << f.ask("tray");
  f.ask("tray-event rbuttonup");
  ASSERT_TRUE(wait_for([&] { return f.ask("tray").find("menu 32778 1 1") == std::string::npos &&
                                    f.ask("tray").find("menu 32778 1 0") != std::string::npos; }, 2000));
  std::string tray = f.ask("tray");
  EXPECT_NE(tray.find("menu 32772 0 1 Start &Media Server Tool"), std::string::npos) << tray;
  EXPECT_NE(tray.find("menu 32779 0 0 Stop M&edia Server"), std::string::npos) << tray;
  EXPECT_NE(tray.find("menu 32773 0 0 Settin&gs"), std::string::npos) << tray;

  // A restarted panel gets the icon back with its tip.
  f.ask("tray-event restart");
  EXPECT_TRUE(wait_for([&] { return f.ask("tray").find("icon 129 quessel_118.png Tarvo Media Server Helper") != std::string::npos; }, 2000))
      << f.ask("tray");

  // A new client: the popup at the next tick (bench_quessel.py times it),
  // well before a watch's 30 s fallback; the peer told with the main window.
  tarvo_test::write_file(f.conf + "/access/deny/aa-bb-cc-dd-ee-ff", "127.0.0.1\r\n");
  ASSERT_TRUE(wait_for([&] { return f.ask("popup").find("shown=1") != std::string::npos; }, 10000));
  std::string popup = f.ask("popup");
  EXPECT_NE(popup.find("label Tarvo Media Server Helper\nlabel localhost(127.0.0.1)\n"
                       "label Click here to allow or refuse connection\\nfrom this client.\n"),
            std::string::npos)
      << popup;
  {
    EXPECT_TRUE(wait_for([&] { return f.ask("popup").find("mapped=1") != std::string::npos; }, 2000));
    // The bottom panel's corner: 1024 and 740 less its size, which its
    // texts in its font gave it.
    int w = 0, h = 0;
    size_t at = popup.find(" w=");
    ASSERT_NE(at, std::string::npos) << popup;
    ASSERT_EQ(std::sscanf(popup.c_str() + at, " w=%d h=%d", &w, &h), 2) << popup;
    EXPECT_GT(w, 200);
    EXPECT_GT(h, 60);
    int x = 1024 - w, y = 740 - h;
    EXPECT_NE(popup.find("x=" + std::to_string(x) + " y=" + std::to_string(y) + " "), std::string::npos) << popup;
    // All of it inside the 1024 x 740 work area, as the X server has it:
    // its right and bottom edges on the area's.
    int px = 0, py = 0;
    ASSERT_TRUE(popup_at(f, &px, &py)) << popup;
    x_window shown = x_window_at(px, py);
    ASSERT_FALSE(shown.id.empty());
    EXPECT_EQ(shown.x + shown.w, 1024) << shown.w;
    EXPECT_EQ(shown.y + shown.h, 740) << shown.h;
    // On the screen: the body's fill in its left margin, and the root
    // window at the outermost corner pixel that the round shape leaves out.
    EXPECT_TRUE(wait_for([&] { return f.ask("popup").find("alpha=255") != std::string::npos; }, 2000));
    EXPECT_TRUE(wait_for([&] { return screen_pixel(x + 3, y + h / 2) == "#FFFFE1"; }, 3000))
        << screen_pixel(x + 3, y + h / 2);
    EXPECT_EQ(screen_pixel(x, y), screen_pixel(2, 2));
    // The popup is its template's dialog: the controls of dialog 140.
    std::string controls = f.ask("controls " + popup_handle(f));
    EXPECT_NE(controls.find("1023 static 1 1 0 localhost(127.0.0.1)\n"), std::string::npos) << controls;
    EXPECT_NE(controls.find("1027 icon 1"), std::string::npos) << controls;
  }
  ASSERT_TRUE(wait_for([&] { return peer.messages().size() == 1; }, 2000));
  EXPECT_EQ(peer.messages()[0].msg, 0x510u);
  EXPECT_EQ(peer.messages()[0].w, std::strtoull(main_handle.c_str(), nullptr, 16));
  // The peer answers with 0x511 from its own process: the main window is
  // published for it, and the popup, put under the other windows, comes
  // back to the top.
  {
    int px = 0, py = 0;
    ASSERT_TRUE(popup_at(f, &px, &py));
    std::string id = x_window_at(px, py).id;
    ASSERT_FALSE(id.empty());
    std::string other;
    for (const x_window &w : x_windows())
      if (w.id != id) other = w.id;
    ASSERT_EQ(std::system(("xdotool windowraise " + other + " >/dev/null 2>&1").c_str()), 0);
    ASSERT_TRUE(wait_for([&] { return !x_window_at(px, py).top; }, 2000));
    HWND main_window = reinterpret_cast<HWND>(uintptr_t(std::strtoull(main_handle.c_str(), nullptr, 16)));
    ASSERT_EQ(PostMessage(main_window, 0x511, 0, 0), 1);
    EXPECT_TRUE(wait_for([&] { return x_window_at(px, py).top; }, 2000));
  }

  // Enter on the popup: the fade-out, then the query dialog with the
  // server's default selection.
  f.ask("command " + popup_handle(f) + " 1");
  ASSERT_TRUE(wait_for([&] { return !handle_of(f.ask("windows"), "#32770 Security").empty(); }, 3000));
  std::string query = handle_of(f.ask("windows"), "#32770 Security");
  std::string controls = f.ask("controls " + query);
  EXPECT_NE(controls.find("1007 static 1 1 0 Do you want to permit connection from localhost(127.0.0.1)?"),
            std::string::npos)
      << controls;
  EXPECT_NE(controls.find("1010 button 1 1 0 Start Media Server Tool"), std::string::npos) << controls;
  EXPECT_NE(controls.find("1001 radio 1 1 1 Allow connection"), std::string::npos) << controls;
  EXPECT_NE(controls.find("1005 check 1 1 0 "), std::string::npos) << controls;
  // OK with Allow: the security notice first; Yes sends "allow".
  f.ask("click " + query + " 1");
  ASSERT_TRUE(wait_for([&] { return !handle_of(f.ask("windows"), "#32770 About Security").empty(); }, 2000));
  std::string notice = handle_of(f.ask("windows"), "#32770 About Security");
  controls = f.ask("controls " + notice);
  EXPECT_NE(controls.find("Are you sure you want to open the contents for localhost(127.0.0.1)?"), std::string::npos)
      << controls;
  EXPECT_NE(controls.find("1005 check 1 1 0 "), std::string::npos) << controls;
  f.ask("click " + notice + " 1");
  ASSERT_TRUE(wait_for([&] { return soap.requests().size() >= 2; }, 3000));
  auto dialog_end = steady_clock::now();
  std::string set = soap.requests()[1];
  EXPECT_NE(set.find("SetClientPermissions"), std::string::npos);
  EXPECT_NE(set.find("<MacList>aa-bb-cc-dd-ee-ff</MacList>"), std::string::npos) << set;
  EXPECT_NE(set.find("<IpList>127.0.0.1</IpList>"), std::string::npos) << set;
  EXPECT_NE(set.find("<ClientState>allow</ClientState>"), std::string::npos) << set;
  // About a second later the peer hears 0x510 with 0.
  ASSERT_TRUE(wait_for([&] { return peer.messages().size() == 2; }, 3000));
  auto late = duration_cast<milliseconds>(peer.messages()[1].at - dialog_end).count();
  EXPECT_EQ(peer.messages()[1].w, 0u);
  EXPECT_GT(late, 800);
  EXPECT_LT(late, 2500);
  EXPECT_EQ(tarvo_test::read_file(f.known), "00-11-22-33-44-55\r\naa-bb-cc-dd-ee-ff\r\n");

  // "Start ..." sends nothing and starts the tool with "-t1".
  tarvo_test::write_file(f.conf + "/access/allow/01-02-03-04-05-06", "127.0.0.3");
  ASSERT_TRUE(wait_for([&] { return f.ask("popup").find("shown=1") != std::string::npos; }, 3000));
  f.ask("command " + popup_handle(f) + " 1");
  ASSERT_TRUE(wait_for([&] { return !handle_of(f.ask("windows"), "#32770 Security").empty(); }, 3000));
  f.ask("click " + handle_of(f.ask("windows"), "#32770 Security") + " 1010");
  EXPECT_TRUE(wait_for([&] { return tarvo_test::read_file(f.run / "tool_args") == "-t1\n"; }, 3000));
  // The tool holds none of quessel's sockets, watches or files.
  std::string fds = tarvo_test::read_file(f.run / "tool_fds");
  EXPECT_FALSE(fds.empty());
  EXPECT_EQ(fds.find("socket:"), std::string::npos) << fds;
  EXPECT_EQ(fds.find("inotify"), std::string::npos) << fds;
  EXPECT_EQ(fds.find("quessel"), std::string::npos) << fds;
  EXPECT_EQ(soap.requests().size(), 3u);  // only the default state was read

  // Settings: Settings and Exit gray while open; Cancel writes nothing.
  auto settings_open = [&] { return !handle_of(f.ask("windows"), "#32770 Tarvo Media Server Helper").empty(); };
  f.ask("command " + main_handle + " 32773");
  ASSERT_TRUE(wait_for(settings_open, 3000));
  f.ask("tray-event rbuttonup");
  EXPECT_TRUE(wait_for([&] { return f.ask("tray").find("menu 32774 1 0 E&xit") != std::string::npos; }, 2000));
  EXPECT_NE(f.ask("tray").find("menu 32773 1 0"), std::string::npos);
  std::string settings = handle_of(f.ask("windows"), "#32770 Tarvo Media Server Helper");
  std::string before = tarvo_test::read_file(f.ini);
  controls = f.ask("controls " + settings);
  EXPECT_NE(controls.find("1000 radio 1 1 1 The inquiry is necessary. "), std::string::npos) << controls;
  EXPECT_NE(controls.find("1022 check 1 1 1 Show the security dialog box."), std::string::npos) << controls;
  f.ask("click " + settings + " 1011");
  f.ask("click " + settings + " 2");
  ASSERT_TRUE(wait_for([&] { return !settings_open(); }, 2000));
  EXPECT_EQ(tarvo_test::read_file(f.ini), before);
  f.ask("command " + main_handle + " 32773");
  ASSERT_TRUE(wait_for(settings_open, 3000));
  settings = handle_of(f.ask("windows"), "#32770 Tarvo Media Server Helper");
  f.ask("click " + settings + " 1011");
  f.ask("check " + settings + " 1022 0");
  f.ask("click " + settings + " 1");
  ASSERT_TRUE(wait_for([&] { return !settings_open(); }, 2000));
  ini = tarvo_test::read_file(f.ini);
  EXPECT_NE(ini.find("NoMsg:ConnectAllow=1"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Setting:ConnectClient=1"), std::string::npos) << ini;

  // Start and stop go to the management port; the rebuild asks first (the
  // recorder answers OK) and then lists the shares.
  f.ask("command " + main_handle + " 32778");
  f.ask("command " + main_handle + " 32779");
  auto asked = [&](const char *path) {
    for (const std::string &r : dmsm.requests())
      if (r.rfind(std::string("GET ") + path + " ", 0) == 0) return true;
    return false;
  };
  EXPECT_TRUE(wait_for([&] { return asked("/start_server") && asked("/stop_server"); }, 3000));
  size_t soap_before = soap.requests().size();
  f.ask("command " + main_handle + " 32780");
  EXPECT_TRUE(wait_for([&] { return f.ask("alerts").find("The database will be rebuilt") != std::string::npos; }, 3000));
  EXPECT_TRUE(wait_for([&] { return soap.requests().size() > soap_before; }, 3000));
  if (soap.requests().size() > soap_before) {
    EXPECT_NE(soap.requests()[soap_before].find("X_ShareList"), std::string::npos);
  }

  // A second instance ends; SIGTERM ends the first.
  EXPECT_EQ(wait_exit(f.start(), tarvo_test::kLiveMs), 0);
  kill(pid, SIGTERM);
  EXPECT_EQ(wait_exit(pid, tarvo_test::kLiveMs), 0);
  pid = 0;
  EXPECT_FALSE(std::filesystem::exists(f.sock));
  // A later start leaves the ini's bytes alone.
  ini = tarvo_test::read_file(f.ini);
  pid = f.start();
  EXPECT_TRUE(wait_for([&] { return f.ask("windows").find("#32770 Quessel") != std::string::npos; }, 5000));
  // Exit from the menu ends the program.
  f.ask("command " + handle_of(f.ask("windows"), "#32770 Quessel") + " 32774");
  EXPECT_EQ(wait_exit(pid, 3000), 0);
  pid = 0;
  EXPECT_EQ(tarvo_test::read_file(f.ini), ini);
}

}  // namespace
