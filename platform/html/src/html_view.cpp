// The HTML view's calls: backend choice, the load phases, the record-only
// page, the alert list and the automation requests html-eval, html-click,
// html-alerts and html-alert-close.
#include "html_view_impl.h"

#include <tarvo_html/html_limits.h>
#include <tarvo_ui/ui_automation.h>
#include <tarvo_ui/ui_page.h>

#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_str.h>

#include <glib.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace {

constexpr HRESULT kOk = 0;
constexpr HRESULT kNotHandled = 1;  // S_FALSE: the event was not one the view captures
constexpr HRESULT kFail = HRESULT(0x80004005u);
constexpr HRESULT kInvalidArg = HRESULT(0x80070057u);

std::vector<HTML_VIEW *> views;  // GUI thread; the newest serves the automation requests
std::deque<std::string> alerts;
bool alert_open = false;

HTML_VIEW *newest() { return views.empty() ? nullptr : views.back(); }

// A script run in the page; the program's own runs are kept in the page's
// script list (html-scripts) with either backend, the automation's not.
HRESULT exec_script(HTML_VIEW *view, const char *script, char **result, bool listed)
{
  if (result) *result = nullptr;
  if (!view || !script) return kInvalidArg;
  if (!view->has_document) return E_PENDING;
  if (view->web) {
    if (listed) PageRunScript(view->owner, script);
    return html_web_exec(view->web, script, result);
  }
  if (!PageRunScript(view->owner, script)) return kFail;
  if (result) sys_str_clone("", result);
  return kOk;
}

std::string joined(int argc, const char *const *argv)
{
  std::string s;
  for (int i = 1; i < argc; ++i) s += (i > 1 ? " " : "") + std::string(argv[i]);
  return s;
}

int fail(char *error, uint32_t size, const char *why)
{
  g_strlcpy(error, why, size);
  return 0;
}

int cmd_eval(int argc, const char *const *argv, UI_AUTOMATION_EMIT emit, void *ctx, char *error, uint32_t size)
{
  HTML_VIEW *v = newest();
  if (argc < 2) return fail(error, size, "usage: html-eval SCRIPT");
  if (!v) return fail(error, size, "no view");
  char *result = nullptr;
  HRESULT hr = exec_script(v, joined(argc, argv).c_str(), &result, false);
  if (hr != kOk) {
    char why[64];
    g_snprintf(why, sizeof why, "script failed 0x%08X", unsigned(hr));
    return fail(error, size, why);
  }
  emit(ctx, result ? result : "");
  sys_alloc_free(result);
  return 1;
}

int cmd_click(int argc, const char *const *argv, UI_AUTOMATION_EMIT emit, void *ctx, char *error, uint32_t size)
{
  HTML_VIEW *v = newest();
  if (argc != 2) return fail(error, size, "usage: html-click ID");
  if (!v) return fail(error, size, "no view");
  HRESULT hr = HtmlViewClick(v, argv[1]);
  if (hr < 0) return fail(error, size, hr == kInvalidArg ? "no such element" : "click failed");
  char line[32];
  g_snprintf(line, sizeof line, "0x%08X", unsigned(hr));
  emit(ctx, line);
  return 1;
}

int cmd_alerts(int, const char *const *, UI_AUTOMATION_EMIT emit, void *ctx, char *, uint32_t)
{
  for (size_t i = 0; i < alerts.size(); ++i) {
    bool open = i + 1 == alerts.size() && alert_open;
    emit(ctx, ((open ? "open " : "closed ") + alerts[i]).c_str());
  }
  return 1;
}

int cmd_alert_close(int, const char *const *, UI_AUTOMATION_EMIT, void *, char *error, uint32_t size)
{
  return HtmlViewCloseAlert() ? 1 : fail(error, size, "no alert open");
}

void add_commands()
{
  static bool added = false;
  if (added) return;
  added = true;
  UiAutomationAddCommand("html-eval", cmd_eval);
  UiAutomationAddCommand("html-click", cmd_click);
  UiAutomationAddCommand("html-alerts", cmd_alerts);
  UiAutomationAddCommand("html-alert-close", cmd_alert_close);
}

// The record backend completes a navigation on the next turn of the loop,
// as a web view would, so that callers see the same order of calls.
gboolean record_load(gpointer data)
{
  auto *v = static_cast<HTML_VIEW *>(data);
  if (std::find(views.begin(), views.end(), v) == views.end()) return G_SOURCE_REMOVE;
  --v->pending_loads;
  html_phase_committed(v, v->uri.c_str());
  html_phase_finished(v);
  return G_SOURCE_REMOVE;
}

}  // namespace

int html_capture_matches(const HTML_VIEW *view, const HTML_EVENT_SNAPSHOT *s)
{
  for (const html_capture_entry &e : view->capture) {
    HTML_CAPTURE c{e.kind, e.event.c_str(), e.name.c_str()};
    if (HtmlCaptureMatches(&c, s)) return 1;
  }
  return 0;
}

void html_phase_before(HTML_VIEW *view, const char *uri)
{
  view->has_document = false;
  if (view->cb.before_navigate) view->cb.before_navigate(view->user, uri);
}

void html_phase_committed(HTML_VIEW *view, const char *uri)
{
  view->uri = uri ? uri : "";
  view->has_document = true;
  if (view->cb.navigate_complete) view->cb.navigate_complete(view->user, view->uri.c_str());
}

void html_phase_finished(HTML_VIEW *view)
{
  if (view->cb.document_complete) view->cb.document_complete(view->user, view->uri.c_str());
}

void html_alert_opened(const char *text)
{
  if (alerts.size() >= HTML_ALERTS_MAX) alerts.pop_front();
  alerts.emplace_back(text ? text : "");
  alert_open = true;
}

void html_alert_closed() { alert_open = false; }

extern "C" {

int HtmlViewRecordBackend(void)
{
  const char *b = g_getenv("TARVO_PAGE_BACKEND");
  return (b && std::strcmp(b, "record") == 0) || !html_web_init();
}

HTML_VIEW *HtmlViewCreate(HWND owner, void *parent, const HTML_VIEW_CALLBACKS *callbacks, void *user)
{
  if (!IsWindow(owner)) return nullptr;
  auto *v = new HTML_VIEW;
  v->owner = owner;
  if (callbacks) v->cb = *callbacks;
  v->user = user;
  if (!HtmlViewRecordBackend() && !(v->web = html_web_create(v, parent))) {
    delete v;
    return nullptr;
  }
  views.push_back(v);
  add_commands();
  return v;
}

void HtmlViewDestroy(HTML_VIEW *view)
{
  if (!view) return;
  views.erase(std::remove(views.begin(), views.end(), view), views.end());
  if (view->web) html_web_destroy(view->web);
  delete view;
}

void *HtmlViewWidget(HTML_VIEW *view) { return view && view->web ? html_web_widget(view->web) : nullptr; }

HWND HtmlViewOwner(HTML_VIEW *view) { return view ? view->owner : nullptr; }

int HtmlViewSetCapture(HTML_VIEW *view, const HTML_CAPTURE *entries, uint32_t count)
{
  if (!view || count > HTML_CAPTURE_MAX || (count && !entries)) return 0;
  std::vector<html_capture_entry> list;
  for (uint32_t i = 0; i < count; ++i) {
    const HTML_CAPTURE &e = entries[i];
    if (e.kind < HTML_CAPTURE_BY_ID || e.kind > HTML_CAPTURE_BY_TAG || !e.event || !e.name || !*e.event ||
        std::strlen(e.event) > HTML_CAPTURE_NAME_MAX || std::strlen(e.name) > HTML_CAPTURE_NAME_MAX)
      return 0;
    list.push_back({e.kind, e.event, e.name});
  }
  view->capture = std::move(list);
  if (view->web) html_web_set_capture(view->web, view->capture);
  return 1;
}

int HtmlViewNavigate(HTML_VIEW *view, const char *uri)
{
  if (!view || !uri || !*uri) return 0;
  if (view->web) return html_web_navigate(view->web, uri);
  html_phase_before(view, uri);
  view->uri = uri;
  ++view->pending_loads;
  g_idle_add(record_load, view);
  return 1;
}

const char *HtmlViewUri(HTML_VIEW *view) { return view ? view->uri.c_str() : ""; }

int HtmlViewHasDocument(HTML_VIEW *view) { return view && view->has_document; }

HRESULT HtmlViewExecScript(HTML_VIEW *view, const char *script, char **result)
{
  return exec_script(view, script, result, true);
}

HRESULT HtmlViewClick(HTML_VIEW *view, const char *element_id)
{
  if (!view || !element_id) return kInvalidArg;
  if (view->web) return html_web_click(view->web, element_id);
  char ev[] = "click", empty[] = "";
  HTML_EVENT_SNAPSHOT s{ev, const_cast<char *>(element_id), empty, empty, -1, empty};
  return HtmlViewDispatchEvent(view, &s);
}

HRESULT HtmlViewDispatchEvent(HTML_VIEW *view, const HTML_EVENT_SNAPSHOT *event)
{
  if (!view || !event || !event->event || !event->id || !event->tag || !event->class_name || !event->value)
    return kInvalidArg;
  if (!view->has_document || !html_capture_matches(view, event)) return kNotHandled;
  return view->cb.dom_event ? view->cb.dom_event(view->user, event) : kOk;
}

uint32_t HtmlViewAlertCount(void) { return uint32_t(alerts.size()); }

const char *HtmlViewAlertAt(uint32_t index) { return index < alerts.size() ? alerts[index].c_str() : nullptr; }

int HtmlViewAlertOpen(void) { return alert_open; }

int HtmlViewCloseAlert(void) { return alert_open && html_web_close_alert(); }
}
