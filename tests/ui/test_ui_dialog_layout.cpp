// Every dialog, message box and popup of the desktop programs, in English
// and in Japanese, on a 1280 x 800 display with the installed fonts, at the
// default and at 1.5 times the text size, without a window manager and
// under one whose margins make the work area smaller than the screen: from
// each window's automation layout, the window with its frame lies inside
// the work area, message boxes (an alert of the tool's page too, each with
// its own title bar), the page host, the tool's window, its About box and
// folder chooser and the title edit open centred (on their shown owner,
// else on the work area), no two shown controls overlap, every text fits
// its control as Pango measures it in the control's font, the window's
// drawing has ink where each text ends and a page paints all its host
// gives it.  One screenshot per dialog, language and setting stays in the
// test output.
#define TARVO_XVFB_SCREEN "1280x800x24"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cairo.h>
#include <pango/pangocairo.h>
#include <unistd.h>
#include <gtk/gtk.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "../tool/haldor_run.h"
#include "../tray/quessel_dirs.h"
#include "../util/script_server.h"
#include "gtk_xvfb.h"
#include "soap_reply.h"
#include "tarvo_live.h"
#include "tarvo_test.h"

namespace fs = std::filesystem;

namespace {

using tarvo_test::scratch_dir;

constexpr int kScreenW = 1280, kScreenH = 800;

// The display as the user has set it up: the text size the programs get
// (GDK_DPI_SCALE) and whether a window manager runs.
struct setting {
  double scale;
  bool wm;
  const char *tag;
};
const setting kSettings[] = {{1.0, false, "1x"}, {1.5, false, "1.5x"}, {1.0, true, "1x-wm"}, {1.5, true, "1.5x-wm"}};
setting g_setting = kSettings[0];

// What each program started by a test adds to its environment.
std::string display_env()
{
  std::ostringstream e;
  e << " GDK_DPI_SCALE=" << g_setting.scale << " ";
  return e.str();
}

std::string bin(const std::string &name) { return std::string(std::getenv("TARVO_BIN")) + "/" + name; }

// Every wait is on the program's own state, within the one liveness bound.
using tarvo_test::eventually;

// Where CI keeps what a test leaves: $TARVO_TEST_OUTPUT, else a temporary
// folder of the test's own, removed at its end: the build tree may be one
// that the user can only read.
fs::path output_dir()
{
  const char *o = std::getenv("TARVO_TEST_OUTPUT");
  if (!o || !*o) {
    static const tarvo_test::scratch_dir scratch;
    return scratch.path;
  }
  fs::create_directories(o);
  return o;
}

// A program of the test, with its automation socket.
struct program {
  pid_t pid = -1;
  std::string sock;

  void start(const std::string &env, const std::string &cmdline)
  {
    pid = fork();
    if (pid == 0) {
      // The language is the LANG each is given, not the harness's messages.
      std::string cmd = "exec env -u LC_MESSAGES " + env + display_env() + "TARVO_UI_AUTOMATION=" + sock + " " + cmdline +
                        " >/dev/null 2>&1";
      execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char *>(nullptr));
      _exit(127);
    }
  }
  ~program() { stop(); }
  void stop()
  {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    if (tarvo_test::wait_exit(pid, 2000) == -2) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
    pid = -1;
  }
  std::string ask(const std::string &request, int *status = nullptr) const
  {
    int s;
    std::string out = tarvo_test::command_output(bin("uictl") + " " + sock + " " + request + " 2>/dev/null", &s);
    if (status) *status = s;
    return out;
  }
  // Handles of the windows of class cls.
  std::set<std::string> windows(const std::string &cls = "#32770") const
  {
    std::set<std::string> out;
    std::istringstream lines(ask("windows"));
    for (std::string l; std::getline(lines, l);)
      if (l.size() > 17 && l.compare(17, cls.size() + 1, cls + " ") == 0) out.insert(l.substr(0, 16));
    return out;
  }
  // A window of class cls that was not among before, once it is shown.
  std::string new_window(const std::set<std::string> &before, const std::string &cls = "#32770") const
  {
    std::string found;
    eventually([&] {
      for (const std::string &h : windows(cls))
        if (!before.count(h) && ask("layout " + h).rfind("window ", 0) == 0) return found = h, true;
      return false;
    });
    return found;
  }
};

struct rect {
  int x = 0, y = 0, w = 0, h = 0;
  int right() const { return x + w; }
  int bottom() const { return y + h; }
  bool inside(const rect &o) const { return x >= o.x && y >= o.y && right() <= o.right() && bottom() <= o.bottom(); }
  bool meets(const rect &o) const { return x < o.right() && o.x < right() && y < o.bottom() && o.y < bottom(); }
};

std::ostream &operator<<(std::ostream &os, const rect &r) { return os << r.x << "," << r.y << " " << r.w << "x" << r.h; }

struct control {
  std::string id, kind;
  bool visible = false, has_text = false, wrap = false;
  rect r, t;
  std::string lang, font, text;
};

struct layout {
  rect window, frame;     // the frame: with the window manager's decoration
  std::string placement;  // "placed" once a centred window stands at its final place and size, else "placing"
  int laid = -1;          // a template dialog: 1 once its controls stand where its layout put them, else 0
  std::vector<control> controls;
};

// The socket's escapes undone: \\, \n, \r, \xHH.
std::string unescape(const std::string &s)
{
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 >= s.size()) {
      out += s[i];
      continue;
    }
    char c = s[++i];
    if (c == 'n') out += '\n';
    else if (c == 'r') out += '\r';
    else if (c == 'x' && i + 2 < s.size()) out += char(std::stoi(s.substr(i + 1, 2), nullptr, 16)), i += 2;
    else out += c;
  }
  return out;
}

layout parse(const std::string &answer)
{
  layout l;
  std::istringstream lines(answer);
  std::string line;
  if (std::getline(lines, line)) {
    std::istringstream w(line.substr(std::min(line.size(), size_t(7))));
    w >> l.window.x >> l.window.y >> l.window.w >> l.window.h;
  }
  l.frame = l.window;
  while (std::getline(lines, line)) {
    if (line.rfind("frame ", 0) == 0) {
      std::istringstream f(line.substr(6));
      f >> l.frame.x >> l.frame.y >> l.frame.w >> l.frame.h >> l.placement;
    }
    if (line.rfind("laid ", 0) == 0) l.laid = std::stoi(line.substr(5));
    size_t bar = line.find('|');
    if (bar == std::string::npos) continue;
    control c;
    std::istringstream head(line.substr(0, bar));
    std::string tx;
    int vis = 0;
    head >> c.id >> c.kind >> vis >> c.r.x >> c.r.y >> c.r.w >> c.r.h >> tx;
    c.visible = vis != 0;
    c.has_text = tx != "-";
    if (c.has_text) {
      c.t.x = std::stoi(tx);
      head >> c.t.y >> c.t.w >> c.t.h;
    }
    size_t bar2 = line.find('|', bar + 1), bar3 = line.find('|', bar2 + 1), bar4 = line.find('|', bar3 + 1);
    c.wrap = line.compare(bar + 1, 1, "1") == 0;
    c.lang = line.substr(bar2 + 1, bar3 - bar2 - 1);
    c.font = line.substr(bar3 + 1, bar4 - bar3 - 1);
    c.text = unescape(line.substr(bar4 + 1));
    l.controls.push_back(c);
  }
  return l;
}

// The text laid out as a label lays it out: its size, and the top and
// height of its last line.
struct measured {
  int w = 0, h = 0, last_top = 0, last_h = 0;
};

measured measure(const control &c)
{
  static bool display = gtk_init_check(nullptr, nullptr);  // the programs' screen and its font settings
  if (!display) return {};
  PangoContext *ctx = gdk_pango_context_get();
  double dpi = gdk_screen_get_resolution(gdk_screen_get_default());
  pango_cairo_context_set_resolution(ctx, (dpi > 0 ? dpi : 96.0) * g_setting.scale);
  pango_context_set_language(ctx, pango_language_from_string(c.lang.c_str()));  // the label's: it picks the fonts
  PangoLayout *l = pango_layout_new(ctx);
  PangoFontDescription *f = pango_font_description_from_string(c.font.c_str());
  pango_layout_set_font_description(l, f);
  pango_font_description_free(f);
  pango_layout_set_text(l, c.text.c_str(), -1);
  if (c.wrap) {
    pango_layout_set_width(l, c.t.w * PANGO_SCALE);
    pango_layout_set_wrap(l, PANGO_WRAP_WORD_CHAR);
  }
  measured m;
  pango_layout_get_pixel_size(l, &m.w, &m.h);
  PangoLayoutIter *it = pango_layout_get_iter(l);
  while (!pango_layout_iter_at_last_line(it)) pango_layout_iter_next_line(it);
  PangoRectangle ink, logical;
  pango_layout_iter_get_line_extents(it, &ink, &logical);
  pango_extents_to_pixels(&logical, nullptr);
  m.last_top = logical.y, m.last_h = logical.height;
  pango_layout_iter_free(it);
  g_object_unref(l);
  g_object_unref(ctx);
  return m;
}

struct picture {
  cairo_surface_t *s;
  explicit picture(const std::string &png) : s(cairo_image_surface_create_from_png(png.c_str())) {}
  ~picture() { cairo_surface_destroy(s); }
  bool ok() const { return cairo_surface_status(s) == CAIRO_STATUS_SUCCESS; }
  uint32_t at(int x, int y) const
  {
    const uint8_t *p = cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s) + x * 4;
    return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
  }
  // Pixels in r that nothing painted (still transparent).
  int bare(const rect &r) const
  {
    int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s), n = 0;
    for (int y = std::max(0, r.y); y < std::min(h, r.bottom()); ++y)
      for (int x = std::max(0, r.x); x < std::min(w, r.right()); ++x)
        n += cairo_image_surface_get_data(s)[y * cairo_image_surface_get_stride(s) + x * 4 + 3] == 0;
    return n;
  }
  // Pixels in r that stand out from r's commonest colour.
  int ink(const rect &r) const
  {
    int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
    std::map<uint32_t, int> count;
    for (int y = std::max(0, r.y); y < std::min(h, r.bottom()); ++y)
      for (int x = std::max(0, r.x); x < std::min(w, r.right()); ++x) ++count[at(x, y)];
    if (count.empty()) return 0;
    uint32_t bg = count.begin()->first;
    for (auto &[c, n] : count)
      if (n > count[bg]) bg = c;
    auto luma = [](uint32_t c) { return int((c >> 16) & 0xFF) * 3 + int((c >> 8) & 0xFF) * 6 + int(c & 0xFF); };
    int n = 0;
    for (auto &[c, k] : count)
      if (std::abs(luma(c) - luma(bg)) > 300) n += k;
    return n;
  }
};

bool blank(const std::string &s) { return s.find_first_not_of(" \t\n") == std::string::npos; }

// The work area the window manager publishes; the screen without one.
rect work_area()
{
  rect r{0, 0, kScreenW, kScreenH};
  int status = 0;
  std::string out = tarvo_test::command_output("xprop -root -notype _NET_WORKAREA 2>/dev/null", &status);
  size_t eq = out.find('=');
  if (eq != std::string::npos && std::sscanf(out.c_str() + eq + 1, " %d, %d, %d, %d", &r.x, &r.y, &r.w, &r.h) == 4)
    return r;
  return {0, 0, kScreenW, kScreenH};
}

// Where a window of size f centred on over opens: there, kept inside work.
rect centred(const rect &over, const rect &work, rect f)
{
  f.x = std::max(work.x, std::min(over.x + (over.w - f.w) / 2, work.right() - f.w));
  f.y = std::max(work.y, std::min(over.y + (over.h - f.h) / 2, work.bottom() - f.h));
  return f;
}

// The frame of a shown window of the program (an owner to centre on).
rect frame_of(const program &p, const std::string &hwnd) { return parse(p.ask("layout " + hwnd)).frame; }

enum placement { anywhere, on_work_area, on_owner };

// The checks on one window; name names its screenshot (with the setting's
// tag).  A centred window is checked against over, its owner's frame, or
// the work area.
void check_window(const program &p, const std::string &hwnd, const std::string &base, placement where = anywhere,
                  rect over = {})
{
  std::string name = base + "-" + g_setting.tag;
  SCOPED_TRACE(name);
  ASSERT_FALSE(hwnd.empty()) << "not shown";
  layout l;
  // Read once the program says it is done: every shown control and its
  // text have their places, a window the layer centres stands where it was
  // sent at its final size (its frame told), and a template dialog's
  // controls stand where its layout put them (a control's new look is
  // laid out when the loop is idle).
  std::string now;
  bool settled = eventually([&] {
    now = p.ask("layout " + hwnd);
    l = parse(now);
    for (const control &c : l.controls)
      if (c.visible && (c.r.w <= 1 || (c.has_text && !blank(c.text) && c.t.w <= 1))) return false;
    if ((where != anywhere || !l.placement.empty()) && l.placement != "placed") return false;
    return l.laid != 0 && l.window.w > 1;
  });
  EXPECT_TRUE(settled) << "never settled: " << now;
  SCOPED_TRACE("as laid out: " + now);
  rect work = work_area(), own{0, 0, l.window.w, l.window.h};
  EXPECT_TRUE(l.frame.inside(work)) << "the window at " << l.frame << " leaves the work area " << work;
  if (where != anywhere) {
    rect want = centred(where == on_owner ? over : work, work, l.frame);
    EXPECT_TRUE(l.frame.x == want.x && l.frame.y == want.y)
        << "the window at " << l.frame << " is not centred on " << (where == on_owner ? over : work) << " in "
        << work << ": " << want;
  }
  std::vector<const control *> shown;
  for (const control &c : l.controls)
    if (c.visible) shown.push_back(&c);
  for (size_t i = 0; i < shown.size(); ++i) {
    const control &a = *shown[i];
    EXPECT_TRUE(a.r.inside(own)) << a.id << " " << a.kind << " at " << a.r << " is cut by the window's edge " << own;
    for (size_t j = i + 1; j < shown.size(); ++j) {
      const control &b = *shown[j];
      bool framed = (a.kind == "group" && b.r.inside(a.r)) || (b.kind == "group" && a.r.inside(b.r));
      EXPECT_FALSE(a.r.meets(b.r) && !framed) << a.id << " " << a.kind << " at " << a.r << " overlaps " << b.id << " "
                                              << b.kind << " at " << b.r << " (" << a.text << " / " << b.text << ")";
    }
  }
  std::string png = (output_dir() / (name + ".png")).string();
  int status = 1;
  p.ask("screenshot " + hwnd + " " + png, &status);
  ASSERT_EQ(status, 0) << "no screenshot";
  picture shot(png);
  ASSERT_TRUE(shot.ok()) << png;
  for (const control *c : shown) {
    if (!c->has_text || blank(c->text)) continue;
    measured m = measure(*c);
    EXPECT_LE(m.w, c->t.w) << c->id << " " << c->kind << " '" << c->text << "' is " << m.w << " wide in " << c->font
                           << ", its room " << c->t;
    EXPECT_LE(m.h, c->t.h) << c->id << " " << c->kind << " '" << c->text << "' is " << m.h << " tall in " << c->font
                           << ", its room " << c->t;
    EXPECT_TRUE(c->t.inside(c->r)) << c->id << " text at " << c->t << " outside its control at " << c->r;
    // The last line is drawn: ink in its band, within the text's room.
    rect last{c->t.x, c->t.y + m.last_top, c->t.w, std::min(m.last_h, std::max(0, c->t.h - m.last_top))};
    EXPECT_GT(shot.ink(last), 3) << c->id << " '" << c->text << "': no text drawn at " << last << " in " << png;
  }
}

// quessel with stand-ins for the server's two ports and the record-only
// tray; the message boxes are real.
struct quessel_run : program {
  scratch_dir prog, data, run;
  std::string conf;
  tarvo_test::script_server dmsm{{{"HTTP/1.1 200 OK\r\nX-DUV-STATE: active\r\n\r\n", true}}, true};
  tarvo_test::script_server soap{script()};

  static std::vector<tarvo_test::script_reply> script()
  {
    std::vector<tarvo_test::script_reply> r;
    for (int i = 0; i < 4; ++i) {
      r.push_back({tarvo_test::soap_response("GetDefaultClientState", "<DefaultClientState>allow</DefaultClientState>")});
      r.push_back({tarvo_test::soap_response("SetClientPermissions", "")});
    }
    return r;
  }

  explicit quessel_run(const std::string &lang)
  {
    tarvo_test::write_file(prog / "data_home", "tarvo/media\n");
    tarvo_test::write_file(prog / "helper_home", "tarvo/quessel\n");
    tarvo_test::write_file(prog / "tool_name", "true\n");
    conf = quessel_dirs::lay_out(prog.path, data.path);
    tarvo_test::write_file(conf + "/dmsm_port", std::to_string(dmsm.port()) + "\n");
    tarvo_test::write_file(conf + "/upnp_port", std::to_string(soap.port()) + "\n");
    tarvo_test::write_file(run / "hosts", "127.0.0.1 localhost\n");
    sock = run / "ui/quessel.sock";
    start("LANG=" + lang + " TARVO_TIME_SCALE=10 TARVO_TRAY_BACKEND=record TARVO_SERVICE_DIR=" + prog.path.string() +
              " TARVO_COMMON_APPDATA=" + data.path.string() + " TARVO_HOSTS_FILE=" + run / "hosts" +
              " TARVO_RUNTIME_DIR=" + run / "rt" + " GDK_BACKEND=x11 NO_AT_BRIDGE=1",
          bin("quessel"));
  }
};

struct language {
  const char *lang, *tag;
};
const language kLanguages[] = {{"en_US.UTF-8", "en"}, {"ja_JP.UTF-8", "ja"}};

// A message box is as wide as its caption in the title bar's bold face,
// with room beside it for the close button; the title bar is its own, so
// that a window manager adds no frame with minimise and maximise buttons.
void check_box(const program &p, const std::string &hwnd)
{
  std::string windows = p.ask("windows"), head = hwnd + " #32770 ";
  size_t at = windows.find(head);
  ASSERT_NE(at, std::string::npos) << windows;
  size_t end = windows.find('\n', at);
  layout l = parse(p.ask("layout " + hwnd));
  ASSERT_FALSE(l.controls.empty());
  control caption = l.controls.front();
  caption.text = windows.substr(at + head.size(), end - at - head.size());
  caption.wrap = false;
  PangoFontDescription *bold = pango_font_description_from_string(caption.font.c_str());
  pango_font_description_set_weight(bold, PANGO_WEIGHT_BOLD);
  char *name = pango_font_description_to_string(bold);
  caption.font = name;
  g_free(name);
  pango_font_description_free(bold);
  EXPECT_GE(l.window.w, measure(caption).w + 48) << "the caption '" << caption.text << "' is cut";
  EXPECT_TRUE(l.frame.x == l.window.x && l.frame.y == l.window.y && l.frame.w == l.window.w && l.frame.h == l.window.h)
      << "the window manager framed the box at " << l.frame << " around " << l.window;
}

// Each test under each setting; under a window manager it runs while the
// test does, its margins making the work area smaller than the screen.
class DialogLayout : public ::testing::TestWithParam<setting> {
 protected:
  void SetUp() override
  {
    g_setting = GetParam();
    if (!g_setting.wm || !tarvo_test::xvfb_problem().empty()) return;
    if (access("/usr/bin/openbox", X_OK) != 0) GTEST_SKIP() << "openbox is not installed: no window manager";
    tarvo_test::write_file(conf_ / "rc.xml",
                           "<?xml version=\"1.0\"?>\n<openbox_config xmlns=\"http://openbox.org/3.4/rc\">"
                           "<margins><top>30</top><bottom>44</bottom><left>16</left><right>60</right></margins>"
                           "</openbox_config>\n");
    wm_.start("", "/usr/bin/openbox --sm-disable --config-file " + (conf_ / "rc.xml"));
    ASSERT_TRUE(eventually([] { return work_area().w == kScreenW - 76; })) << "the window manager did not start";
  }
  void TearDown() override
  {
    if (wm_.pid <= 0) return;
    wm_.stop();
    // What it published stays on the root window: the next test has none.
    for (const char *prop : {"_NET_WORKAREA", "_NET_SUPPORTING_WM_CHECK", "_NET_SUPPORTED"})
      tarvo_test::command_output(std::string("xprop -root -remove ") + prop + " 2>/dev/null", &status_);
  }
  scratch_dir conf_;
  program wm_;
  int status_ = 0;
};

INSTANTIATE_TEST_SUITE_P(Settings, DialogLayout, ::testing::ValuesIn(kSettings),
                         [](const ::testing::TestParamInfo<setting> &i) {
                           std::string n = i.param.tag;
                           for (char &c : n)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return n;
                         });

TEST_P(DialogLayout, QuesselPopupDialogsAndMessageBox)
{
  TARVO_NEED_DISPLAY();
  // Its single-instance lock and ports in a namespace of their own.
  if (!tarvo_test::private_net().empty()) GTEST_SKIP() << tarvo_test::private_net();
  for (const language &lang : kLanguages) {
    std::string tag = std::string("quessel-") + lang.tag;
    quessel_run q(lang.lang);
    ASSERT_TRUE(eventually([&] { return q.ask("windows").find(" #32770 Quessel\n") != std::string::npos; }));
    std::string main_window;
    for (const std::string &h : q.windows())
      if (q.ask("windows").find(h + " #32770 Quessel\n") != std::string::npos) main_window = h;

    // A new client: the popup, once it has faded in.
    std::set<std::string> before = q.windows();
    tarvo_test::write_file(q.conf + "/access/deny/aa-bb-cc-dd-ee-ff", "127.0.0.1\n");
    ASSERT_TRUE(eventually([&] { return q.ask("popup").find("alpha=255") != std::string::npos; })) << q.ask("popup");
    std::string popup = q.new_window(before);
    check_window(q, popup, tag + "-popup");

    // Its click: the query dialog, then OK with Allow: the security notice.
    before = q.windows();
    q.ask("command " + popup + " 1");
    std::string query = q.new_window(before);
    check_window(q, query, tag + "-query");
    before = q.windows();
    q.ask("command " + query + " 1");  // posted: a click would wait for the notice's end
    std::string notice = q.new_window(before);
    check_window(q, notice, tag + "-notice");
    q.ask("command " + notice + " 2");
    ASSERT_TRUE(eventually([&] { return !q.windows().count(query); }));

    // The settings dialog and the rebuild's question.
    before = q.windows();
    q.ask("command " + main_window + " 32773");
    std::string settings = q.new_window(before);
    check_window(q, settings, tag + "-settings");
    q.ask("command " + settings + " 2");
    ASSERT_TRUE(eventually([&] { return !q.windows().count(settings); }));
    before = q.windows();
    q.ask("command " + main_window + " 32780");
    std::string box = q.new_window(before);
    check_window(q, box, tag + "-rebuild-box", on_work_area);
    check_box(q, box);
    q.ask("command " + box + " 2");
  }
}

// haldor in its program folder, in a language, with env added, talking
// to the management and UPnP ports given (by default to nothing); frame:
// its main window once shown.
struct tool_run : program {
  scratch_dir prog, data, run;
  std::string frame;

  tool_run(const language &lang, const std::string &env, bool real_page, uint16_t dmsm_port = 1,
           uint16_t upnp_port = 1)
  {
    haldor_run::lay_out(prog.path, data.path, lang.tag, dmsm_port, upnp_port);
    for (const char *other : {"vennard", "quessel"}) fs::create_symlink(bin(other), prog / other);
    if (real_page) fs::copy(bin("page"), prog / "page", fs::copy_options::recursive);
    sock = run / "ui/haldor.sock";
    start("LANG=" + std::string(lang.lang) + " " + env + " TARVO_SERVICE_DIR=" + prog.path.string() +
              " TARVO_COMMON_APPDATA=" + data.path.string() + " TARVO_RUNTIME_DIR=" + run / "rt" +
              " GDK_BACKEND=x11 NO_AT_BRIDGE=1",
          prog / "haldor");
    eventually([&] { return !(frame = new_window({}, "HaldorMainFrame")).empty(); });
  }
};

// The tool's window, centred on the work area; its About box and, with
// stand-ins for a started server with no shared folder, the chooser of
// "Add a folder...", both centred on it.
TEST_P(DialogLayout, ToolWindowAboutBoxAndFolderChooser)
{
  TARVO_NEED_DISPLAY();
  if (!tarvo_test::private_net().empty()) GTEST_SKIP() << tarvo_test::private_net();
  tarvo_test::script_server dmsm{{{"HTTP/1.1 200 OK\r\nX-DUV-STATE: active\r\nContent-Length: 0\r\n\r\n", true}}, true};
  tarvo_test::script_server soap{{{tarvo_test::soap_response("X_ShareList", "<PathList></PathList>")}}, true};
  for (const language &lang : kLanguages) {
    std::string tag = std::string("haldor-") + lang.tag;
    tool_run t(lang, "TARVO_TIME_SCALE=50 TARVO_UI_MSGBOX=record TARVO_PAGE_BACKEND=record", true, dmsm.port(),
               soap.port());
    const std::string &frame = t.frame;
    ASSERT_FALSE(frame.empty()) << "the tool's window is not shown";
    check_window(t, frame, tag + "-main", on_work_area);
    std::set<std::string> before = t.windows();
    t.ask("command " + frame + " 57664");
    std::string about = t.new_window(before);
    check_window(t, about, tag + "-about", on_owner, frame_of(t, frame));
    // The tool's, the server's and the tray helper's lines, each read from
    // the program beside the tool.
    std::map<std::string, std::string> lines;
    for (const control &c : parse(t.ask("layout " + about)).controls) lines[c.id] = c.text;
    EXPECT_NE(lines["1000"].find("Tarvo Media Server Tool"), std::string::npos) << lines["1000"];
    EXPECT_NE(lines["1001"].find("Tarvo Media Server"), std::string::npos) << "no server line";
    EXPECT_NE(lines["1002"].find("Tarvo Media Server Helper"), std::string::npos) << lines["1002"];
    for (const char *id : {"1000", "1001", "1002"}) EXPECT_NE(lines[id].find("1.0.0"), std::string::npos) << id;
    t.ask("key " + about + " Escape");
    ASSERT_TRUE(eventually([&] { return !t.windows().count(about); }));

    // Once the page shows the server started, the click opens the chooser
    // (its answer waits for the chooser's end: asked in the background).
    ASSERT_TRUE(eventually([&] { return t.ask("html-scripts").find("'server_started'") != std::string::npos; }))
        << t.ask("html-scripts");
    before = t.windows();
    int status = 0;
    tarvo_test::command_output(bin("uictl") + " " + t.sock + " html-click qel_con_share_add >/dev/null 2>&1 &", &status);
    std::string chooser = t.new_window(before);
    check_window(t, chooser, tag + "-folder-chooser", on_owner, frame_of(t, frame));
    t.ask("key " + chooser + " Escape");
    EXPECT_TRUE(eventually([&] { return !t.windows().count(chooser); }));
  }
}

// A real alert of the tool's page, on the real web view: with the service
// unreachable, the page's start button clicked through the page answers
// with it, a message box centred on the tool's window.
TEST_P(DialogLayout, ToolPageAlert)
{
  TARVO_NEED_DISPLAY();
  if (!tarvo_test::private_net().empty()) GTEST_SKIP() << tarvo_test::private_net();
  for (const language &lang : kLanguages) {
    tool_run t(lang, "TARVO_TIME_SCALE=50", true);
    const std::string &frame = t.frame;
    ASSERT_FALSE(frame.empty()) << "the tool's window is not shown";
    // Clicked again until the page has its state and the alert opens.
    std::set<std::string> before = t.windows();
    bool open = eventually([&] {
      t.ask("html-click qel_control_change_btn");
      return eventually([&] { return t.ask("html-alerts").find("open ") != std::string::npos; }, 2000);
    }, 30000);
    ASSERT_TRUE(open) << t.ask("html-alerts");
    std::string box = t.new_window(before);
    check_window(t, box, std::string("haldor-") + lang.tag + "-page-alert", on_owner, frame_of(t, frame));
    check_box(t, box);
    t.ask("command " + box + " 1");
    EXPECT_TRUE(eventually([&] { return t.ask("html-alerts").find("open ") == std::string::npos; }));
  }
}

TEST_P(DialogLayout, FileManagerHelperDialogs)
{
  TARVO_NEED_DISPLAY();
  struct box_text {
    const char *kind, *caption, *text;
  };
  // The extension's texts, as it passes them to the helper.
  const box_text en[] = {{"yesno", "Cancel Publication", "Are you sure you want to cancel the publication of folder?"},
                         {"ok", "Folder publication", "The publication of folder has failed."}};
  const box_text ja[] = {{"yesno", "公開の取り消し", "フォルダーの公開を取り消してもよろしいですか?"},
                         {"ok", "フォルダーの公開", "フォルダーの公開に失敗しました。"}};
  for (const language &lang : kLanguages) {
    scratch_dir run;
    const box_text *texts = lang.tag == std::string("ja") ? ja : en;
    std::string env = "LANG=" + std::string(lang.lang) + " GDK_BACKEND=x11 NO_AT_BRIDGE=1";
    {
      program h;
      h.sock = run / "ui/title.sock";
      h.start(env, bin("tarvo-shellext-ui") + " title-edit '/home/user/Music/A rather long folder name/track01.flac' "
                                             "'Track one'");
      std::string title = h.new_window({});
      check_window(h, title, std::string("helper-") + lang.tag + "-title-edit", on_work_area);
      h.ask("key " + title + " Escape");
    }
    for (int i = 0; i < 2; ++i) {
      program h;
      h.sock = run / ("ui/box" + std::to_string(i) + ".sock");
      h.start(env, bin("tarvo-shellext-ui") + " msgbox " + texts[i].kind + " '" + texts[i].caption + "' '" +
                       texts[i].text + "'");
      std::string box = h.new_window({});
      check_window(h, box, std::string("helper-") + lang.tag + "-box-" + texts[i].kind, on_work_area);
      check_box(h, box);
      h.ask("key " + box + " Escape");
    }
  }
}

// A filter's page in the page host; the downmix page also in its Custom
// view.
TEST_P(DialogLayout, PropertyPages)
{
  TARVO_NEED_DISPLAY();
  struct page {
    const char *name, *lib, *clsid;
    bool skin;
  };
  // The resampler's page also without the skin library: its warning box,
  // then the page drawn plain.
  const page pages[] = {{"resample", "libmirrow.so", "{845A578B-836A-41F9-A22A-D1E31F26B1ED}", true},
                        {"downmix", "libsaltrey.so", "{0B7AD138-D072-48BC-895D-C547799730E4}", true},
                        {"resample-plain", "libmirrow.so", "{845A578B-836A-41F9-A22A-D1E31F26B1ED}", false}};
  for (const language &lang : kLanguages)
    for (const page &pg : pages) {
      scratch_dir run;
      fs::copy_file(bin("pagehost"), run / "pagehost");
      if (pg.skin) fs::copy_file(fs::path(bin("")) / "../tests/ui/libvellisk.so", run / "libvellisk.so");
      program h;
      h.sock = run / "ui/host.sock";
      h.start("LANG=" + std::string(lang.lang) + " LD_LIBRARY_PATH=" + bin("") +
                  (pg.skin ? " TARVO_UI_MSGBOX=record" : "") + " GDK_BACKEND=x11 NO_AT_BRIDGE=1",
              run / "pagehost" + " " + bin(pg.lib) + " '" + pg.clsid + "'");
      std::string name = std::string(pg.name) + "-" + lang.tag;
      if (!pg.skin) {
        std::string box = h.new_window({});
        check_window(h, box, name + "-warning", on_work_area);
        check_box(h, box);
        h.ask("command " + box + " 1");
      }
      std::string frame;
      ASSERT_TRUE(eventually([&] { return !(frame = h.new_window({}, "TarvoPageHost")).empty(); }));
      // The page: the dialog holding a list (its controls' ids differ).
      std::string dialog;
      eventually([&] {
        for (const std::string &d : h.windows())
          if (h.ask("controls " + d).find(" droplist ") != std::string::npos) return dialog = d, true;
        return false;
      });
      check_window(h, frame, name + "-host", on_work_area);
      check_window(h, dialog, name + "-page");
      // The frame holds the page and the buttons below it: no band beside.
      layout host = parse(h.ask("layout " + frame)), shown = parse(h.ask("layout " + dialog));
      EXPECT_LE(host.window.w, shown.window.w + 16) << "the host " << host.window << " for the page " << shown.window;
      // The page paints all the room the host gives it, however narrow its
      // own layout.
      picture shot((output_dir() / (name + "-page-" + g_setting.tag + ".png")).string());
      EXPECT_EQ(shot.bare({0, 0, shown.window.w, shown.window.h}), 0)
          << "the page " << shown.window << " leaves the host's background showing";
      if (!pg.skin) {
        // The slider drawn plain: its groove and thumb in the screenshot.
        for (const control &c : shown.controls)
          if (c.id == "1008") {
            EXPECT_GT(shot.ink(c.r), 40) << "no slider drawn at " << c.r;
          }
      }
      if (pg.name == std::string("downmix")) {
        h.ask("select " + dialog + " 1278 2");  // the method list: Custom
        ASSERT_TRUE(eventually([&] { return h.ask("controls " + dialog).find("1346 group 1") != std::string::npos; }))
            << h.ask("controls " + dialog);
        check_window(h, dialog, name + "-custom");
      }
    }
}

}  // namespace
