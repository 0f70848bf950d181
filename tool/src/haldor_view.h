// The management tool's view: its page gets the tool's texts, shows the
// server's state and auto-run in step with the server-state monitor,
// answers the start/stop button, the auto-run box and the share-add
// button, and lists the client host names.
//
// The frame uses it so:
//   CHaldor2View::SetInitialPage("security");   // from the command line
//   auto *view = new CHaldor2View;               // attaches to the monitor
//   view->Create(gtk_container);                 // window, page, loads it
//   ... view->GetSafeHwnd() is the active view for WM_USER+101 ...
//   delete view;                                 // before the monitor stops
#pragma once

#include "dhtml_view.h"
#include "host_watch.h"
#include "mgmt_client.h"
#include "page_script_host.h"
#include "server_state.h"

#include <tarvo_util/sys_owner.h>
#include <tarvo_util/sys_str.h>

#include <functional>
#include <mutex>
#include <string>

// The view's messages.
constexpr UINT WM_VIEW_STATE = WM_USER + 100;   // show the state (wparam VIEW_STATE_FORCE: both parts)
constexpr UINT WM_VIEW_HOSTS = WM_USER + 101;   // the host push rule
constexpr UINT WM_VIEW_TOGGLE = WM_USER + 102;  // the monitor's start/stop
constexpr WPARAM VIEW_STATE_FORCE = 1;
// The folder count at which no more folders can be shared.
constexpr size_t HALDOR_SHARE_MAX = 63;
// Program time between two looks at a start or stop that is running.
constexpr unsigned VIEW_WORKER_WATCH_MS = 100;
// Timers of the view window (101 is the host push's).
constexpr uintptr_t VIEW_WORKER_TIMER = 102, VIEW_SETTLE_TIMER = 103;

// The share calls: the application's client holder, or a test's own.
void haldor_view_set_share_source(const haldor_share_source *source);

// The folder dialog: shows title, lets OK be pressed only on a folder for
// which ok_rule gives 1, and gives 1 with the chosen path, 0 on cancel.
// The desktop layer's folder chooser unless a test sets its own.
using haldor_folder_dialog_fn =
    std::function<int(HWND owner, const std::string &title, const std::function<int(const char *)> &ok_rule,
                      std::string *path)>;
void haldor_view_set_folder_dialog(haldor_folder_dialog_fn dialog);

class CHaldor2View : public CDHtmlViewSpec, public CObserverServerState {
 public:
  CHaldor2View();
  ~CHaldor2View() override;

  // The page to open on the first document, once per process ("security").
  static void SetInitialPage(const std::string &page);

  // Makes the window ("HaldorView") and the page inside parent (a
  // GtkContainer *, or NULL), then the initial update (loads the page).
  int Create(void *parent);
  void OnInitialUpdate();

  void OnServerStateChanged(int event) override;
  void OnDocumentComplete(const char *url) override;
  const DHtmlEventMapEntry *GetDHtmlEventMap() override;
  LRESULT WindowProc(UINT msg, WPARAM wparam, LPARAM lparam) override;

  // The steps of a completed document, and the state display.
  void page_ready();
  HRESULT push_page_texts();
  HRESULT update_page_state(int transitioning, int force);
  int update_page_hosts();
  // The page reads its share list again (after a change made elsewhere).
  HRESULT refresh_share_list() { return m_scriptHost.refresh_share_list(); }
  int alert(const std::string &text);
  // The folder dialog's OK rule for a path.
  static int share_folder_ok(const char *path);

  HRESULT on_change_button(const HTML_EVENT_SNAPSHOT *element);
  HRESULT on_autorun_check(const HTML_EVENT_SNAPSHOT *element);
  HRESULT on_share_add(const HTML_EVENT_SNAPSHOT *element);

 private:
  void watch_worker();
  std::mutex m_viewLock;  // the shown state; never held across a script run
  CPageScriptHost m_scriptHost;
  host_push_state m_push;
};
