// The web backend of the HTML view on WebKitGTK: load phases from the
// view's load signals, captured events through a message handler with
// reply, script runs that wait in a nested loop, key and right-button
// filtering, no context menu, and alerts the program can see and answer.
#include "html_capture.h"
#include "html_view_impl.h"

#include <tarvo_html/html_limits.h>
#include <tarvo_platform/clock.h>
#include <tarvo_ui/ui_gtk.h>
#include <tarvo_ui/ui_limits.h>

#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_str.h>

#include <gdk/gdkkeysyms.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr HRESULT kOk = 0;
constexpr HRESULT kFail = HRESULT(0x80004005u);
constexpr HRESULT kAbort = HRESULT(0x80004004u);
constexpr HRESULT kInvalidArg = HRESULT(0x80070057u);
constexpr char kWorld[] = "tarvo";    // the capture script's own script world
constexpr char kHandler[] = "tarvo";  // its message handler
// How often a waiting script run checks its time limit.
constexpr unsigned kTickMs = 50;
// How long a result that could not be brought over waits for news of the
// web process's end.
constexpr unsigned kSettleMs = 100;

// One script run; shared by the waiting caller and the completion, which
// may come after the caller has given up.
struct eval_wait {
  bool done = false;
  HRESULT hr = kFail;
  std::string text;
  bool has_text = false;
  GMainLoop *loop = nullptr;
  unsigned open_ms = 0;  // real time spent without an alert open
};

struct open_alert {
  WebKitScriptDialog *dialog = nullptr;
} alert;

}  // namespace

struct html_web {
  HTML_VIEW *view = nullptr;
  WebKitWebView *web = nullptr;
  WebKitUserContentManager *content = nullptr;
  bool load_failed = false;
  bool dead = false;  // the web process ended; scripts fail until the next load
  std::vector<std::shared_ptr<eval_wait>> waits;
  std::shared_ptr<bool> alive = std::make_shared<bool>(true);  // false once destroyed
};

namespace {

void end_wait(eval_wait *w, HRESULT hr)
{
  if (w->done) return;
  w->done = true;
  w->hr = hr;
  if (w->loop) g_main_loop_quit(w->loop);
}

void on_eval_done(GObject *source, GAsyncResult *res, gpointer data)
{
  std::unique_ptr<std::shared_ptr<eval_wait>> holder(static_cast<std::shared_ptr<eval_wait> *>(data));
  eval_wait *w = holder->get();
  GError *error = nullptr;
  JSCValue *value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), res, &error);
  if (w->done) {
    // The caller has already given up (time-out, web process gone).
  } else if (!value && g_error_matches(error, WEBKIT_JAVASCRIPT_ERROR, WEBKIT_JAVASCRIPT_ERROR_INVALID_RESULT)) {
    // A value that cannot be brought over (a DOM node) still means the
    // script ran, but a web process that has just ended reports the same:
    // its end, if that is what it was, is signalled within a moment.
    g_timeout_add(kSettleMs, [](gpointer d) {
      std::unique_ptr<std::shared_ptr<eval_wait>> h(static_cast<std::shared_ptr<eval_wait> *>(d));
      end_wait(h->get(), kOk);
      return G_SOURCE_REMOVE;
    }, holder.release());
  } else if (!value) {
    end_wait(w, kFail);
  } else {
    if (!jsc_value_is_undefined(value)) {
      gchar *s = jsc_value_to_string(value);
      w->text = s ? s : "";
      w->has_text = true;
      g_free(s);
    }
    end_wait(w, kOk);
  }
  if (error) g_error_free(error);
  if (value) g_object_unref(value);
}

gboolean on_tick(gpointer data)
{
  auto *w = static_cast<eval_wait *>(data);
  if (UiQuitting()) end_wait(w, kAbort);  // the program ends: no run holds it
  // An open alert stops the clock: the script waits for the user, not hangs.
  if (!HtmlViewAlertOpen()) w->open_ms += kTickMs;
  if (w->open_ms >= platform_real_ms(HTML_SCRIPT_TIMEOUT_MS)) end_wait(w, E_TIMEOUT);
  return w->done ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
}

void on_load_changed(WebKitWebView *wv, WebKitLoadEvent event, gpointer data)
{
  auto *web = static_cast<html_web *>(data);
  const char *uri = webkit_web_view_get_uri(wv);
  if (event == WEBKIT_LOAD_STARTED) {
    web->load_failed = false;
    html_phase_before(web->view, uri ? uri : "");
  } else if (event == WEBKIT_LOAD_COMMITTED) {
    web->dead = false;
    html_phase_committed(web->view, uri ? uri : "");
  } else if (event == WEBKIT_LOAD_FINISHED && !web->load_failed) {
    html_phase_finished(web->view);
  }
}

gboolean on_load_failed(WebKitWebView *, WebKitLoadEvent, gchar *, GError *, gpointer data)
{
  static_cast<html_web *>(data)->load_failed = true;
  return FALSE;
}

void on_terminated(WebKitWebView *, WebKitWebProcessTerminationReason, gpointer data)
{
  auto *web = static_cast<html_web *>(data);
  web->dead = true;
  web->view->has_document = false;
  for (auto &w : web->waits) end_wait(w.get(), kAbort);
  if (alert.dialog) html_web_close_alert();
}

gboolean on_message(WebKitUserContentManager *, JSCValue *value, WebKitScriptMessageReply *reply, gpointer data)
{
  auto *web = static_cast<html_web *>(data);
  HRESULT hr = kFail;
  HTML_EVENT_SNAPSHOT s;
  if (jsc_value_is_string(value)) {
    gchar *text = jsc_value_to_string(value);
    if (HtmlEventSnapshotParse(text, std::strlen(text), &s)) {
      hr = web->view->cb.dom_event ? web->view->cb.dom_event(web->view->user, &s) : kOk;
      HtmlEventSnapshotFree(&s);
    }
    g_free(text);
  }
  JSCValue *answer = jsc_value_new_number(jsc_value_get_context(value), double(hr));
  webkit_script_message_reply_return_value(reply, answer);
  g_object_unref(answer);
  return TRUE;
}

// The alert is shown from the loop, not from inside the engine's signal:
// a message box of the desktop layer, modal to the view's window and
// captioned as the program's window that holds the view.
gboolean show_alert(gpointer data)
{
  auto *web = static_cast<html_web *>(data);
  WebKitScriptDialog *d = alert.dialog;
  GtkWidget *top = gtk_widget_get_toplevel(GTK_WIDGET(web->web));
  const char *title = GTK_IS_WINDOW(top) ? gtk_window_get_title(GTK_WINDOW(top)) : nullptr;
  MessageBox(web->view->owner, webkit_script_dialog_get_message(d), title ? title : "", MB_OK);
  alert = {};
  html_alert_closed();
  webkit_script_dialog_close(d);
  webkit_script_dialog_unref(d);
  return G_SOURCE_REMOVE;
}

// Alerts are the program's own message boxes, so that the program (and its
// automation) knows one is open; the other dialogs stay the engine's.
gboolean on_script_dialog(WebKitWebView *, WebKitScriptDialog *dialog, gpointer data)
{
  if (webkit_script_dialog_get_dialog_type(dialog) != WEBKIT_SCRIPT_DIALOG_ALERT || alert.dialog) return FALSE;
  alert.dialog = webkit_script_dialog_ref(dialog);
  html_alert_opened(webkit_script_dialog_get_message(dialog));
  g_idle_add(show_alert, data);
  return TRUE;
}

// The view's window stands for the window the page lies in, so that its
// message boxes are modal to it.
void on_hierarchy(GtkWidget *widget, GtkWidget *, gpointer data)
{
  auto *web = static_cast<html_web *>(data);
  GtkWidget *top = gtk_widget_get_toplevel(widget);
  if (gtk_widget_is_toplevel(top) && GTK_IS_WINDOW(top) && !UiGtkWidget(web->view->owner))
    UiGtkRegisterWindow(web->view->owner, top);
}

gboolean on_context_menu(WebKitWebView *, WebKitContextMenu *, GdkEvent *, WebKitHitTestResult *, gpointer)
{
  return TRUE;  // no context menu, whatever opened it
}

uint32_t virtual_key(guint keyval)
{
  guint k = gdk_keyval_to_upper(keyval);
  if (k >= GDK_KEY_A && k <= GDK_KEY_Z) return 'A' + (k - GDK_KEY_A);
  if (k >= GDK_KEY_0 && k <= GDK_KEY_9) return '0' + (k - GDK_KEY_0);
  if (k >= GDK_KEY_F1 && k <= GDK_KEY_F12) return 0x70 + (k - GDK_KEY_F1);
  static const struct {
    guint key;
    uint32_t vk;
  } table[] = {{GDK_KEY_Escape, 0x1B}, {GDK_KEY_Help, 0x2F},      {GDK_KEY_Left, 0x25},   {GDK_KEY_Up, 0x26},
               {GDK_KEY_Right, 0x27},  {GDK_KEY_Down, 0x28},      {GDK_KEY_Return, 0x0D}, {GDK_KEY_Tab, 0x09},
               {GDK_KEY_BackSpace, 0x08}, {GDK_KEY_Delete, 0x2E}, {GDK_KEY_Home, 0x24},   {GDK_KEY_End, 0x23},
               {GDK_KEY_Page_Up, 0x21}, {GDK_KEY_Page_Down, 0x22}, {GDK_KEY_space, 0x20}};
  for (const auto &e : table)
    if (e.key == k) return e.vk;
  return 0;
}

gboolean on_key(GtkWidget *, GdkEventKey *ev, gpointer data)
{
  auto *web = static_cast<html_web *>(data);
  if (!web->view->cb.pre_translate) return FALSE;
  HTML_INPUT_MSG m{};
  m.ctrl = (ev->state & GDK_CONTROL_MASK) != 0;
  m.alt = (ev->state & GDK_MOD1_MASK) != 0;
  m.shift = (ev->state & GDK_SHIFT_MASK) != 0;
  bool down = ev->type == GDK_KEY_PRESS;
  m.message = m.alt ? (down ? WM_SYSKEYDOWN : WM_SYSKEYUP) : (down ? WM_KEYDOWN : WM_KEYUP);
  m.vk = virtual_key(ev->keyval);
  return web->view->cb.pre_translate(web->view->user, &m) ? TRUE : FALSE;
}

gboolean on_button(GtkWidget *, GdkEventButton *ev, gpointer data)
{
  auto *web = static_cast<html_web *>(data);
  if (ev->button != GDK_BUTTON_SECONDARY || !web->view->cb.pre_translate) return FALSE;
  if (ev->type != GDK_BUTTON_PRESS && ev->type != GDK_2BUTTON_PRESS) return FALSE;
  HTML_INPUT_MSG m{};
  m.message = ev->type == GDK_BUTTON_PRESS ? WM_RBUTTONDOWN : WM_RBUTTONDBLCLK;
  m.ctrl = (ev->state & GDK_CONTROL_MASK) != 0;
  m.shift = (ev->state & GDK_SHIFT_MASK) != 0;
  return web->view->cb.pre_translate(web->view->user, &m) ? TRUE : FALSE;
}

void send_pointer(GtkWidget *widget, GdkEventType type, double x, double y)
{
  GdkWindow *window = gtk_widget_get_window(widget);
  GdkEvent *e = gdk_event_new(type);
  if (type == GDK_MOTION_NOTIFY) {
    e->motion.window = GDK_WINDOW(g_object_ref(window));
    e->motion.time = GDK_CURRENT_TIME;
    e->motion.x = x;
    e->motion.y = y;
  } else {
    e->button.window = GDK_WINDOW(g_object_ref(window));
    e->button.time = GDK_CURRENT_TIME;
    e->button.x = x;
    e->button.y = y;
    e->button.button = GDK_BUTTON_PRIMARY;
    e->button.state = type == GDK_BUTTON_RELEASE ? GDK_BUTTON1_MASK : 0;
  }
  gdk_event_set_device(e, gdk_seat_get_pointer(gdk_display_get_default_seat(gtk_widget_get_display(widget))));
  gtk_widget_event(widget, e);
  gdk_event_free(e);
}

// The element's centre in the widget's pixels: the page measures in its
// own CSS pixels, which the view's zoom (and the text size it follows)
// makes larger than the widget's; the page's width in both gives the scale.
bool centre_of(const std::string &text, GtkWidget *widget, double *x, double *y)
{
  double page_w = 0;
  if (std::sscanf(text.c_str(), "%lf,%lf,%lf", x, y, &page_w) != 3) return false;
  int widget_w = gtk_widget_get_allocated_width(widget);
  double scale = page_w > 0 && widget_w > 0 ? widget_w / page_w : 1.0;
  *x *= scale, *y *= scale;
  return true;
}

}  // namespace

int html_web_init()
{
  static int ready = -1;
  if (ready < 0) ready = gtk_init_check(nullptr, nullptr) ? 1 : 0;
  return ready;
}

html_web *html_web_create(HTML_VIEW *view, void *parent)
{
  if (!html_web_init()) return nullptr;
  auto *web = new html_web;
  web->view = view;
  web->content = webkit_user_content_manager_new();
  webkit_user_content_manager_register_script_message_handler_with_reply(web->content, kHandler, kWorld);
  g_signal_connect(web->content, "script-message-with-reply-received::tarvo", G_CALLBACK(on_message), web);
  web->web = WEBKIT_WEB_VIEW(g_object_ref_sink(webkit_web_view_new_with_user_content_manager(web->content)));
  // The programs' pages are local files that read the local server's own
  // web administration, which sends no cross-origin headers.
  WebKitSettings *settings = webkit_web_view_get_settings(web->web);
  webkit_settings_set_allow_file_access_from_file_urls(settings, TRUE);
  webkit_settings_set_allow_universal_access_from_file_urls(settings, TRUE);
  g_signal_connect(web->web, "load-changed", G_CALLBACK(on_load_changed), web);
  g_signal_connect(web->web, "load-failed", G_CALLBACK(on_load_failed), web);
  g_signal_connect(web->web, "web-process-terminated", G_CALLBACK(on_terminated), web);
  g_signal_connect(web->web, "script-dialog", G_CALLBACK(on_script_dialog), web);
  g_signal_connect(web->web, "context-menu", G_CALLBACK(on_context_menu), web);
  g_signal_connect(web->web, "key-press-event", G_CALLBACK(on_key), web);
  g_signal_connect(web->web, "key-release-event", G_CALLBACK(on_key), web);
  g_signal_connect(web->web, "button-press-event", G_CALLBACK(on_button), web);
  g_signal_connect(web->web, "hierarchy-changed", G_CALLBACK(on_hierarchy), web);
  if (parent) gtk_container_add(GTK_CONTAINER(parent), GTK_WIDGET(web->web));
  gtk_widget_show(GTK_WIDGET(web->web));
  return web;
}

void html_web_destroy(html_web *web)
{
  *web->alive = false;
  for (auto &w : web->waits) end_wait(w.get(), kAbort);
  g_signal_handlers_disconnect_by_data(web->content, web);
  g_signal_handlers_disconnect_by_data(web->web, web);
  GtkWidget *parent = gtk_widget_get_parent(GTK_WIDGET(web->web));
  if (parent) gtk_container_remove(GTK_CONTAINER(parent), GTK_WIDGET(web->web));
  gtk_widget_destroy(GTK_WIDGET(web->web));
  g_object_unref(web->web);
  g_object_unref(web->content);
  delete web;
}

void *html_web_widget(html_web *web) { return web->web; }

void html_web_set_capture(html_web *web, const std::vector<html_capture_entry> &capture)
{
  webkit_user_content_manager_remove_all_scripts(web->content);
  std::string text = html_capture_script(capture);
  WebKitUserScript *s = webkit_user_script_new_for_world(text.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                                         WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, kWorld,
                                                         nullptr, nullptr);
  webkit_user_content_manager_add_script(web->content, s);
  webkit_user_script_unref(s);
}

int html_web_navigate(html_web *web, const char *uri)
{
  webkit_web_view_load_uri(web->web, uri);
  return 1;
}

HRESULT html_web_exec(html_web *web, const char *script, char **result)
{
  if (web->dead || UiQuitting()) return kAbort;
  std::shared_ptr<bool> alive = web->alive;
  auto w = std::make_shared<eval_wait>();
  w->loop = g_main_loop_new(g_main_context_get_thread_default(), FALSE);
  web->waits.push_back(w);
  webkit_web_view_evaluate_javascript(web->web, script, -1, nullptr, nullptr, nullptr, on_eval_done,
                                      new std::shared_ptr<eval_wait>(w));
  GSource *tick = g_timeout_source_new(kTickMs);
  g_source_set_callback(tick, on_tick, w.get(), nullptr);
  g_source_attach(tick, g_main_context_get_thread_default());
  if (!w->done) g_main_loop_run(w->loop);
  g_source_destroy(tick);
  g_source_unref(tick);
  g_main_loop_unref(w->loop);
  w->loop = nullptr;
  // The view may have gone while the loop ran (its destruction ended the wait).
  if (*alive) web->waits.erase(std::remove(web->waits.begin(), web->waits.end(), w), web->waits.end());
  if (w->hr == kOk && result && w->has_text) {
    sys_str_clone(w->text.c_str(), result);
  }
  return w->hr;
}

HRESULT html_web_click(html_web *web, const char *element_id)
{
  std::string id;
  for (const char *p = element_id; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x20 || c == '"' || c == '\\' || c == '<') return kInvalidArg;
    id.push_back(char(c));
  }
  std::string script = "(function(){const e=document.getElementById(\"" + id +
                       "\");if(!e)return '';e.scrollIntoView({block:'nearest',inline:'nearest'});"
                       "const r=e.getBoundingClientRect();"
                       "return (r.left+r.width/2)+','+(r.top+r.height/2)+','+window.innerWidth;})()";
  char *text = nullptr;
  HRESULT hr = html_web_exec(web, script.c_str(), &text);
  GtkWidget *widget = GTK_WIDGET(web->web);
  double x, y;
  bool found = hr == kOk && text && centre_of(text, widget, &x, &y);
  sys_alloc_free(text);
  if (hr != kOk) return hr;
  if (!found) return kInvalidArg;
  if (!gtk_widget_get_realized(widget)) return kFail;
  if (!gtk_widget_get_has_window(widget)) {
    GtkAllocation a;
    gtk_widget_get_allocation(widget, &a);
    x += a.x;
    y += a.y;
  }
  send_pointer(widget, GDK_MOTION_NOTIFY, x, y);
  send_pointer(widget, GDK_BUTTON_PRESS, x, y);
  send_pointer(widget, GDK_BUTTON_RELEASE, x, y);
  return kOk;
}

int html_web_close_alert()
{
  // The open alert's box is the newest dialog window.
  std::vector<HWND> windows(UI_AUTOMATION_WINDOWS_MAX);
  uint32_t n = std::min(EnumWindowHandles(windows.data(), UI_AUTOMATION_WINDOWS_MAX), UI_AUTOMATION_WINDOWS_MAX);
  for (uint32_t i = n; alert.dialog && i-- > 0;) {
    const char *cls = GetWindowClass(windows[i]);
    if (cls && std::strcmp(cls, UI_DIALOG_CLASS) == 0)
      return PostMessage(windows[i], WM_COMMAND, UI_MAKEWPARAM(IDOK, BN_CLICKED), 0);
  }
  return 0;
}
