// The management page view: texts, state display, buttons, share-add.
#include "haldor_view.h"

#include "haldor_resources.h"
#include "js_escape.h"
#include "tool_settings.h"

#include <tarvo_platform/clock.h>
#include <tarvo_ui/ui_gtk.h>
#include <tarvo_ui/ui_page.h>
#include <tarvo_ui/ui_resource.h>

#include <glib.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>

namespace {

// What the view has shown, for the whole process.
int shown_server_state = -1, shown_auto_run_state = -1;
// The initial page is applied once per process, at the first local document.
bool initial_page_pending = true;
std::string initial_page;

const char kHostsPrefix[] = "tollamy_data_hosts_update_hosts(";

const haldor_share_source *share_source = mgmt_client_shares();

// The desktop layer's folder chooser, with the view's rule deciding OK.
int choose_folder(HWND owner, const std::string &title, const std::function<int(const char *)> &ok_rule,
                  std::string *path)
{
  char out[PATH_MAX];
  auto decide = [](const char *p, void *user) { return (*static_cast<const std::function<int(const char *)> *>(user))(p); };
  if (!UiFolderChoose(owner, title.c_str(), decide, const_cast<std::function<int(const char *)> *>(&ok_rule), out,
                      sizeof out))
    return 0;
  *path = out;
  return 1;
}
haldor_folder_dialog_fn folder_dialog = choose_folder;

// A text of the language file as the inside of a quoted literal; false
// when it is no valid UTF-8 (the text cannot be had).
bool page_text(const char *key, std::string *out)
{
  std::string t = CToolSettings::Instance().Text(key);
  if (!g_utf8_validate(t.data(), gssize(t.size()), nullptr)) return false;
  *out = js_string_escape(t);
  return true;
}

const char *auto_run_script(int a)
{
  return a == 1 ? "cntl('cntl', 'change_state', 'autorun_disabled')"
       : a == 2 ? "cntl('cntl', 'change_state', 'autorun_enabled')"
                : nullptr;
}

const char *server_script(int s, int transitioning)
{
  if (s == 0) return "cntl('cntl', 'change_state', 'service_stopped')";
  if (s == 1)
    return transitioning ? "cntl('cntl', 'change_state', 'server_starting')"
                         : "cntl('cntl', 'change_state', 'server_stopped')";
  if (s == 2)
    return transitioning ? "cntl('cntl', 'change_state', 'server_stopping')"
                         : "cntl('cntl', 'change_state', 'server_started')";
  return nullptr;
}

// Runs step until it succeeds, at most three times, 100 ms apart.
template <class F> HRESULT with_retries(F step)
{
  HRESULT hr = step();
  for (int i = 1; i < PAGE_SCRIPT_TRIES && FAILED(hr); ++i) {
    platform_sleep_ms(PAGE_SCRIPT_RETRY_MS);
    hr = step();
  }
  return hr;
}

bool folder_hidden(const char *path)
{
  const char *base = std::strrchr(path, '/');
  base = base ? base + 1 : path;
  return base[0] == '.';
}

}  // namespace

void haldor_view_set_share_source(const haldor_share_source *source) { share_source = source; }

void haldor_view_set_folder_dialog(haldor_folder_dialog_fn dialog) { folder_dialog = std::move(dialog); }

CHaldor2View::CHaldor2View() { CSubjectServerState::Instance().Attach(this); }

CHaldor2View::~CHaldor2View()
{
  CSubjectServerState::Instance().Detach(this);
  m_scriptHost.detach_document();
  DestroyView();
}

void CHaldor2View::SetInitialPage(const std::string &page) { initial_page = page; }

int CHaldor2View::Create(void *parent)
{
  std::string folder;
  if (CToolSettings::ProgramFolder(&folder)) SetLocalFolder(folder);
  if (!CreateView("HaldorView", parent)) return 0;
  OnInitialUpdate();
  return 1;
}

void CHaldor2View::OnInitialUpdate()
{
  std::string path;
  if (!CToolSettings::Instance().PagePath(&path)) return;  // the view stays empty
  gchar *uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
  if (uri) Navigate2(uri);
  g_free(uri);
}

const DHtmlEventMapEntry *CHaldor2View::GetDHtmlEventMap()
{
  static const DHtmlEventMapEntry map[] = {
      {DHTMLEVENTMAPENTRY_NAME, DISPID_HTMLELEMENTEVENTS_ONCLICK, "qel_control_change_btn",
       static_cast<DHtmlEventHandler>(&CHaldor2View::on_change_button)},
      {DHTMLEVENTMAPENTRY_NAME, DISPID_HTMLELEMENTEVENTS_ONCLICK, "qel_control_autorun_chk",
       static_cast<DHtmlEventHandler>(&CHaldor2View::on_autorun_check)},
      {DHTMLEVENTMAPENTRY_NAME, DISPID_HTMLELEMENTEVENTS_ONCLICK, "qel_con_share_add",
       static_cast<DHtmlEventHandler>(&CHaldor2View::on_share_add)},
      {DHTMLEVENTMAPENTRY_END, 0, nullptr, nullptr},
  };
  return map;
}

// On the polling thread: only a posted message, so that the poller never
// waits for the GUI thread.
void CHaldor2View::OnServerStateChanged(int) { PostMessage(m_hWnd, WM_VIEW_STATE, 0, 0); }

LRESULT CHaldor2View::WindowProc(UINT msg, WPARAM w, LPARAM l)
{
  if (msg == WM_VIEW_STATE) return FAILED(update_page_state(0, w == VIEW_STATE_FORCE)) ? 1 : 0;
  if (msg == WM_VIEW_TOGGLE) {
    if (CSubjectServerState::Instance().server_toggle()) SetTimer(m_hWnd, VIEW_WORKER_TIMER, VIEW_WORKER_WATCH_MS);
    return 0;
  }
  if (msg == WM_VIEW_HOSTS || (msg == WM_TIMER && w == HOST_PUSH_TIMER)) {
    uint32_t before = PageScriptCount();
    if (msg == WM_VIEW_HOSTS) host_push_rule(m_hWnd, &m_push);
    else host_push_timer(m_hWnd, &m_push);
    // The push rule records its script; a real page must also run it.
    const char *last = PageScriptCount() > before ? PageScriptAt(PageScriptCount() - 1) : nullptr;
    if (last && !HtmlViewRecordBackend() && std::strncmp(last, kHostsPrefix, sizeof kHostsPrefix - 1) == 0)
      update_page_hosts();
    return 0;
  }
  if (msg == WM_TIMER && w == VIEW_WORKER_TIMER) {
    watch_worker();
    return 0;
  }
  if (msg == WM_TIMER && w == VIEW_SETTLE_TIMER) {
    KillTimer(m_hWnd, VIEW_SETTLE_TIMER);
    PostMessage(m_hWnd, WM_VIEW_STATE, VIEW_STATE_FORCE, 0);
    return 0;
  }
  return CDHtmlViewSpec::WindowProc(msg, w, l);
}

// A start or stop that fails changes nothing the monitor would notify, so
// once the worker has ended and the monitor has read the state again, the
// settled state is shown whatever it is.
void CHaldor2View::watch_worker()
{
  if (CSubjectServerState::Instance().busy()) return;
  KillTimer(m_hWnd, VIEW_WORKER_TIMER);
  SetTimer(m_hWnd, VIEW_SETTLE_TIMER, SERVER_STATE_POLL_MS + VIEW_WORKER_WATCH_MS);
}

void CHaldor2View::OnDocumentComplete(const char *) { page_ready(); }

// Every completed document of the tool's own page gets the texts and the
// whole state, so that a page that reloads itself is complete again.
void CHaldor2View::page_ready()
{
  if (!DocumentIsLocal()) return;
  m_scriptHost.attach_document(m_page, LocalFolder());
  with_retries([this] { return push_page_texts(); });
  with_retries([this] { return update_page_state(0, 1); });
  if (initial_page_pending && !initial_page.empty() && CSubjectServerState::Instance().server_state() == 2)
    m_scriptHost.run_page_script("qel_tab_main.set_initial_page('" + js_string_escape(initial_page) + "')");
  initial_page_pending = false;
}

HRESULT CHaldor2View::push_page_texts()
{
  std::string t[7];
  if (!page_text("COMMON_FAILED_LOADING_PAGE", &t[0]) || !page_text("COMMON_FAILED_LOADING_LIST", &t[1]) ||
      !page_text("COMMON_LOADING_PAGE", &t[2]))
    return S_OK;
  HRESULT hr = m_scriptHost.run_page_script("msg_add({COMMON_FAILED_LOADING_PAGE : '" + t[0] +
                                            "',\tCOMMON_FAILED_LOADING_LIST : '" + t[1] +
                                            "',\tCOMMON_LOADING_PAGE : '" + t[2] + "'});");
  if (FAILED(hr)) return hr;
  static const char *const keys[7] = {"CONTROL_START_SERVER",    "CONTROL_STOP_SERVER",     "CONTROL_SERVICE_STOPPED",
                                      "CONTROL_SERVER_STOPPING", "CONTROL_SERVER_STOPPED",  "CONTROL_SERVER_STARTING",
                                      "CONTROL_SERVER_STARTED"};
  static const char *const props[7] = {"start_server",   "stop_server",    "service_stopped", "server_stopping",
                                       "server_stopped", "server_starting", "server_started"};
  std::string script = "cntl('cntl', 'set_text', {";
  for (int i = 0; i < 7; ++i) {
    if (!page_text(keys[i], &t[i])) return S_OK;
    script += std::string(i ? ",\t " : "") + props[i] + " : '" + t[i] + "'";
  }
  return m_scriptHost.run_page_script(script + "});");
}

// The state is read and the shown state noted before any script runs: a
// run's wait may bring the next update here.
HRESULT CHaldor2View::update_page_state(int transitioning, int force)
{
  int s = 0, a = 0;
  CSubjectServerState::Instance().read_state(&s, &a);
  const char *auto_script, *state_script;
  {
    std::lock_guard<std::mutex> g(m_viewLock);
    auto_script = force || a != shown_auto_run_state ? auto_run_script(a) : nullptr;
    state_script = force || s != shown_server_state ? server_script(s, transitioning) : nullptr;
    shown_server_state = s;
    shown_auto_run_state = a;
  }
  HRESULT hr = S_OK;
  if (auto_script) {
    hr = m_scriptHost.run_page_script(auto_script);
    if (FAILED(hr)) return hr;
  }
  if (state_script) hr = m_scriptHost.run_page_script(state_script);
  return hr;
}

int CHaldor2View::update_page_hosts() { return SUCCEEDED(m_scriptHost.run_page_script(host_table_script())); }

int CHaldor2View::alert(const std::string &text)
{
  if (!g_utf8_validate(text.data(), gssize(text.size()), nullptr)) return 0;
  return SUCCEEDED(m_scriptHost.run_page_script("alert('" + js_string_escape(text) + "')"));
}

HRESULT CHaldor2View::on_change_button(const HTML_EVENT_SNAPSHOT *)
{
  CSubjectServerState &monitor = CSubjectServerState::Instance();
  if (monitor.busy()) return S_OK;
  if (monitor.server_state() == 0) {
    alert(CToolSettings::Instance().Text("COMMON_FAILED_FOR_STOPPED_SERVICE"));
    return S_OK;
  }
  HRESULT hr = update_page_state(1, 1);
  PostMessage(m_hWnd, WM_VIEW_TOGGLE, 0, 0);
  return hr;
}

HRESULT CHaldor2View::on_autorun_check(const HTML_EVENT_SNAPSHOT *element)
{
  CSubjectServerState &monitor = CSubjectServerState::Instance();
  if (monitor.server_state() == 0) {
    alert(CToolSettings::Instance().Text("COMMON_FAILED_FOR_STOPPED_SERVICE"));
    return E_FAIL;
  }
  int checked = 0;
  if (FAILED(GetElementChecked(element, &checked))) return E_FAIL;
  return monitor.set_auto_run(checked ? 1 : 0) ? S_OK : E_FAIL;
}

int CHaldor2View::share_folder_ok(const char *path)
{
  struct stat st;
  if (!path || !*path || folder_hidden(path) || stat(path, &st) != 0 || !S_ISDIR(st.st_mode)) return 0;
  if (access(path, R_OK | X_OK) != 0 || !g_utf8_validate(path, -1, nullptr)) return 0;
  int state = 1;
  return share_source && share_source->share_state && share_source->share_state(path, &state) == 0 && state == 0;
}

HRESULT CHaldor2View::on_share_add(const HTML_EVENT_SNAPSHOT *)
{
  CToolSettings &texts = CToolSettings::Instance();
  if (CSubjectServerState::Instance().server_state() != 2) {
    alert(texts.Text("COMMON_FAILED_FOR_STOPPED_SERVER"));
    return S_FALSE;
  }
  own::str_list shares;
  if (!share_source || !share_source->share_list || share_source->share_list(&shares.l) != 0) {
    alert(texts.Text("SHARE_FAILED_REGISTER"));
    return S_FALSE;
  }
  size_t count = 0;
  for (char **p = shares.l; p && *p; ++p) ++count;
  if (count >= HALDOR_SHARE_MAX) {
    alert(texts.Text("SHARE_FAILED_REGISTER_FOR_OVER_ITEM"));
    return S_FALSE;
  }
  // The chooser's title is in the tool's language, as its page is.
  char title[512] = "";
  std::string lang;
  texts.Language(&lang);
  UiLoadStringIn(HALDOR_IDS_FOLDER_DIALOG_TITLE, lang == "ja", title, sizeof title);
  std::string path;
  if (!folder_dialog || !folder_dialog(m_hWnd, title, share_folder_ok, &path)) return S_OK;
  if (g_utf8_validate(path.c_str(), -1, nullptr) && share_source && share_source->share &&
      share_source->share(path.c_str()) == 0)
    m_scriptHost.refresh_share_list();
  else
    alert(texts.Text("SHARE_FAILED_REGISTER"));
  return S_OK;
}
