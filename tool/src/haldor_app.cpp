// haldor's application: one instance per user (a second start asks the
// first to present its window), the fixed frame with its keys and About
// box, the monitor and the watcher, and the shutdown in their order.
#include "haldor_app.h"

#include "haldor_resources.h"
#include "host_watch.h"
#include "mgmt_client.h"
#include "server_state.h"
#include "tool_settings.h"

#include <haldor_tool_window.h>
#include <tarvo_platform/named.h>
#include <tarvo_ui/ui_automation.h>
#include <tarvo_ui/ui_resource.h>
#include <tarvo_util/sys_str.h>

#include <glib-unix.h>
#include <gtk/gtk.h>
#include <pwd.h>
#include <unistd.h>

#include <cctype>
#include <cstring>

CHaldorViewHost *(*haldor_view_factory)() = nullptr;
CHaldor2App *CHaldor2App::s_app = nullptr;

namespace {

// Dialog 100, the About box.
enum : UINT {
  IDD_ABOUTBOX = 100,
  IDC_ABOUT_TOOL = 1000,
  IDC_ABOUT_SERVER = 1001,
  IDC_ABOUT_TRAY = 1002,
  IDC_ABOUT_NOTICE = 1003,
};
const UI_DIALOG_ITEM about_items[] = {
    {UI_CTL_ICON, 1004, 10, 10, 24, 24, "dialog-information", 0},
    {UI_CTL_STATIC, IDC_ABOUT_TOOL, 44, 10, 190, 10, "", 0},
    {UI_CTL_STATIC, IDC_ABOUT_SERVER, 44, 24, 190, 10, "", 0},
    {UI_CTL_STATIC, IDC_ABOUT_TRAY, 44, 38, 190, 10, "", 0},
    {UI_CTL_STATIC, IDC_ABOUT_NOTICE, 44, 56, 190, 10, "", 0},
    {UI_CTL_DEFBUTTON, IDOK, 184, 74, 50, 14, "OK", 0},
};
const UI_DIALOG_TEMPLATE about_template = {IDD_ABOUTBOX, "", 244, 96, about_items,
                                           sizeof about_items / sizeof about_items[0]};
constexpr char kAboutNotice[] = "Copyright (C) Tarvo. All rights reserved.";

// The accelerators: Alt+F4, Ctrl+W and Ctrl+Alt+NumPad1.
struct accel_row {
  UINT mods;
  UINT keyval;
  UINT command;
};
const accel_row accelerators[] = {
    {UI_KEYMOD_ALT, GDK_KEY_F4, HALDOR_CMD_CLOSE_ALT_F4},
    {UI_KEYMOD_CTRL, GDK_KEY_w, HALDOR_CMD_CLOSE_CTRL_W},
    {UI_KEYMOD_CTRL | UI_KEYMOD_ALT, GDK_KEY_KP_1, HALDOR_CMD_NOTHING},
    {UI_KEYMOD_CTRL | UI_KEYMOD_ALT, GDK_KEY_KP_End, HALDOR_CMD_NOTHING},  // NumPad1 without Num Lock
};

bool valid_utf8(const std::string &s) { return g_utf8_validate(s.data(), gssize(s.size()), nullptr); }

// The view until the HTML one is there: the record-only page on a message
// window that applies the host push rule.
class CRecordView : public CHaldorViewHost {
 public:
  int Create(HWND, GtkWidget *) override
  {
    m_hwnd = CreateMessageWindow("HaldorView", "", proc, this);
    return m_hwnd != nullptr;
  }
  HWND Window() override { return m_hwnd; }
  void Destroy() override
  {
    if (m_hwnd) DestroyWindow(m_hwnd);
    m_hwnd = nullptr;
  }

 private:
  static LRESULT proc(HWND hwnd, UINT msg, WPARAM w, LPARAM)
  {
    auto *self = static_cast<CRecordView *>(GetWindowUserData(hwnd));
    if (msg == WM_HOSTS_CHANGED) host_push_rule(hwnd, &self->m_push);
    if (msg == WM_TIMER && w == HOST_PUSH_TIMER) host_push_timer(hwnd, &self->m_push);
    return 0;
  }
  HWND m_hwnd = nullptr;
  host_push_state m_push;
};

// A second instance asked to be shown instead.
gboolean on_activate(gint fd, GIOCondition, gpointer)
{
  if (named_mutex_take_request(fd) && CHaldor2App::Instance()) UiWindowPresent(CHaldor2App::Instance()->MainWindow());
  return G_SOURCE_CONTINUE;
}

LRESULT about_proc(HWND h, UINT msg, WPARAM, LPARAM)
{
  if (msg != WM_INITDIALOG) return 0;
  CToolSettings &s = CToolSettings::Instance();
  std::string title = s.Text("ABOUTBOX_TITLE");
  if (!valid_utf8(title)) return 0;
  UiWindowSetTitle(h, title.c_str());
  SetDlgItemText(h, IDC_ABOUT_NOTICE, kAboutNotice);
  std::string folder;
  if (!CToolSettings::ProgramFolder(&folder)) return 0;
  const std::string fmt = s.Text("ABOUTBOX_VERSION_FMT");
  SetDlgItemText(h, IDC_ABOUT_TOOL, haldor_version_line(folder + "/haldor", fmt).c_str());
  SetDlgItemText(h, IDC_ABOUT_SERVER, haldor_version_line(folder + "/vennard", fmt).c_str());
  SetDlgItemText(h, IDC_ABOUT_TRAY, haldor_version_line(folder + "/quessel", fmt).c_str());
  return 0;
}

// A Windows menu text ("&About...") as a GTK mnemonic ("_About...").
std::string mnemonic_text(const std::string &text)
{
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '_') out += "__";
    else if (text[i] == '&' && i + 1 < text.size() && text[i + 1] == '&') out += text[i++];
    else out += text[i] == '&' ? '_' : text[i];
  }
  return out;
}

}  // namespace

std::string parse_tool_command_line(const std::string &line)
{
  size_t b = line.find_first_not_of(" \t\r\n\v\f"), e = line.find_last_not_of(" \t\r\n\v\f");
  std::string t = b == std::string::npos ? "" : line.substr(b, e - b + 1);
  for (char &c : t) c = char(std::tolower(static_cast<unsigned char>(c)));
  if (t.size() <= 2 || t[0] != '-') return "";
  t.erase(0, 1);
  if (t[0] != 't') return "";
  unsigned long n = 0;
  for (size_t i = 1; i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])) && n < 1000000; ++i)
    n = n * 10 + unsigned(t[i] - '0');
  return n == 1 ? "security" : "";
}

int haldor_section_fill(void *section, unsigned size, const char *user)
{
  glong units = 0;
  gunichar2 *name = user ? g_utf8_to_utf16(user, -1, nullptr, &units, nullptr) : nullptr;
  auto *bytes = static_cast<uint8_t *>(section);
  bool fits = name && HALDOR_SECTION_NAME_OFFSET + (units + 1) * 2 <= size;
  int32_t len = fits ? int32_t(units + 2) : 2;  // with its terminator, plus 1
  std::memcpy(bytes, &len, sizeof len);
  std::memset(bytes + HALDOR_SECTION_NAME_OFFSET, 0, 4);
  if (fits) std::memcpy(bytes + HALDOR_SECTION_NAME_OFFSET, name, (units + 1) * 2);
  g_free(name);
  return fits;
}

std::string haldor_version_line(const std::string &path, const std::string &format)
{
  char name[256], version[256], out[1024];
  if (!UiVersionValue(path.c_str(), "ProductName", name, sizeof name) || !*name ||
      !UiVersionValue(path.c_str(), "ProductVersion", version, sizeof version) || !*version || !valid_utf8(format))
    return "";
  sys_str_format_texts(out, sizeof out, format.c_str(), name, version);
  return out;
}

CHaldor2App::~CHaldor2App()
{
  if (m_section) named_section_close(m_section);
  named_mutex_close(m_localMutex);
  named_mutex_close(m_globalMutex);
}

HWND CHaldor2App::ActiveView() const { return m_view ? m_view->Window() : nullptr; }

// 1 for the first instance; 0 when another runs (it was asked to show
// itself) or the guard cannot be had.
int CHaldor2App::check_single_instance(const char *name)
{
  int exists = 0;
  std::string global = std::string(name) + "Global";
  named_mutex_create(global.c_str(), NAMED_SCOPE_GLOBAL, &m_globalMutex, &exists);
  if (!named_mutex_create(name, NAMED_SCOPE_USER, &m_localMutex, &exists)) {
    named_mutex_close(m_globalMutex);
    m_globalMutex = -1;
    if (exists) named_mutex_activate(name, NAMED_SCOPE_USER);
    return 0;
  }
  void *map = nullptr;
  m_section = named_section_create(name, NAMED_SCOPE_GLOBAL, &map);
  if (m_section) {
    const passwd *pw = getpwuid(getuid());
    haldor_section_fill(map, NAMED_SECTION_SIZE, pw ? pw->pw_name : nullptr);
  }
  m_activateSource = g_unix_fd_add(m_localMutex, G_IO_IN, on_activate, nullptr);
  return 1;
}

int CHaldor2App::key_hook(HWND frame, UINT keyval, UINT mods, void *)
{
  keyval = gdk_keyval_to_lower(keyval);
  if ((mods & UI_KEYMOD_ALT) && keyval == GDK_KEY_F4) {  // before the accelerators, as the platform does
    PostMessage(frame, WM_COMMAND, HALDOR_ID_APP_EXIT, 0);
    return 1;
  }
  for (const accel_row &a : accelerators)
    if (a.mods == (mods & (UI_KEYMOD_CTRL | UI_KEYMOD_ALT | UI_KEYMOD_SHIFT)) && a.keyval == keyval) {
      PostMessage(frame, WM_COMMAND, a.command, 0);
      return 1;
    }
  return 0;
}

void CHaldor2App::ShowAbout() { DialogBoxTemplate(m_frame, &about_template, about_proc, nullptr); }

LRESULT CHaldor2App::frame_proc(HWND h, UINT msg, WPARAM w, LPARAM)
{
  CHaldor2App *app = s_app;
  if (msg == host_name_message()) {
    on_host_name(h, w, app->ActiveView());
    return 0;
  }
  switch (msg) {
    case WM_SYSCOMMAND:
      if (w == UI_FRAME_ABOUT_ID) app->ShowAbout();
      return 1;
    case WM_COMMAND:
      if (UI_LOWORD(w) == HALDOR_ID_APP_ABOUT) app->ShowAbout();
      if (UI_LOWORD(w) == HALDOR_CMD_SHARES_CHANGED && app->m_view) app->m_view->SharesChanged();
      if (UI_LOWORD(w) == HALDOR_ID_APP_EXIT || UI_LOWORD(w) == HALDOR_CMD_CLOSE_ALT_F4 ||
          UI_LOWORD(w) == HALDOR_CMD_CLOSE_CTRL_W)
        SendMessage(h, WM_CLOSE, 0, 0);
      return 1;
    case WM_CLOSE:  // the loop ends; ExitInstance runs before the frame goes
      gtk_widget_hide(UiGtkWidget(h));
      PostQuitMessage(0);
      return 1;
    case WM_DESTROY: host_lookups_cancel(); return 0;
    default: return 0;
  }
}

int CHaldor2App::InitInstance(int argc, char **argv)
{
  haldor_resources_init();
  char title[256];
  if (!LoadString(HALDOR_IDS_PRODUCT_TITLE, title, sizeof title)) return 0;
  if (!check_single_instance(title)) return 0;
  std::string line;
  for (int i = 1; i < argc; ++i) line += (i > 1 ? " " : "") + std::string(argv[i]);
  m_initialPage = parse_tool_command_line(line);
  CToolSettings &settings = CToolSettings::Instance();  // exits 1 on failure
  std::string about = settings.Text("ABOUTBOX_MENU_TITLE");
  if (!valid_utf8(about) || !UiGtkInit(&argc, &argv)) std::exit(1);
  tool_message_box = [](const char *text) { MessageBox(CHaldor2App::Instance()->m_frame, text, "", MB_OK); };
  CSubjectServerState::Instance().server_state_start(tool_port(settings.Setting("DMSM_PORT")));
  mgmt_client_init(tool_port(settings.Setting("UPNP_PORT")));
  host_watch_set_source(mgmt_client_host_lists());
  m_frame = UiFrameCreate("HaldorMainFrame", "", HALDOR_FRAME_WIDTH, HALDOR_FRAME_HEIGHT,
                          mnemonic_text(about).c_str(), frame_proc, this);
  if (!m_frame) return 0;
  UiFrameSetKeyHook(m_frame, key_hook, this);
  m_view = haldor_view_factory ? haldor_view_factory() : new CRecordView;
  if (!m_view || !m_view->Create(m_frame, UiFrameContent(m_frame)) || !UiAutomationStart()) return 0;
  UiWindowSetTitle(m_frame, title);
  UiWindowPlace(m_frame);  // centred on the work area with or without a window manager
  UiWindowShow(m_frame);
  // The file manager's menu tells the frame when it changed the published
  // folders; without a published class its post could not arrive.
  if (PublishWindowClass(m_frame)) m_windowSection = haldor_tool_window_publish(m_frame);
  CSubjectServerState &monitor = CSubjectServerState::Instance();
  if (!CClientHostWatcher::Instance().Start(m_frame, [&monitor] { return monitor.server_state(); }))
    tool_message_box("fatal error - Couldn't create thread");
  return 1;
}

int CHaldor2App::ExitInstance()
{
  CClientHostWatcher::Instance().Stop();
  CSubjectServerState::Instance().server_state_stop();
  return 0;
}

int CHaldor2App::Run(int argc, char **argv)
{
  s_app = this;
  UiQuitOnStopSignals();  // also while a dialog or a script run waits
  int started = InitInstance(argc, argv);
  int code = started ? MessageLoop() : 0;
  ExitInstance();
  if (m_view) {
    m_view->Destroy();
    delete m_view;
    m_view = nullptr;
  }
  named_section_close(m_windowSection);  // it names the frame, which goes now
  m_windowSection = nullptr;
  if (m_frame) DestroyWindow(m_frame);  // the pending look-ups are cancelled
  m_frame = nullptr;
  mgmt_client_free();
  UiAutomationStop();
  if (m_activateSource) g_source_remove(m_activateSource);
  s_app = nullptr;
  return code;
}
