/* The HTML view of the desktop programs: a page shown in a web view
 * (WebKitGTK) inside a GTK container, with its load phases, the DOM events
 * of chosen elements held back until the program has answered, script runs
 * that wait for their result, key and right-button filtering, and no
 * context menu.  With $TARVO_PAGE_BACKEND=record (or without WebKit) the
 * view shows nothing: its scripts are only recorded (tarvo_ui/ui_page.h)
 * and its events come from HtmlViewDispatchEvent, for tests. */
#ifndef TARVO_HTML_VIEW_H
#define TARVO_HTML_VIEW_H

#include <stddef.h>
#include <stdint.h>

#include <tarvo_ui/ui_core.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t HRESULT; /* the same type as tarvo_com's */

/* What the page's capture script saw of the element an event came from.
 * checked: -1 when the element is no check box or radio button. */
typedef struct {
  char *event;      /* "click" */
  char *id;         /* its id attribute, "" when none */
  char *tag;        /* its tag name in upper case */
  char *class_name; /* its class attribute */
  int checked;
  char *value; /* its value property, "" when none */
} HTML_EVENT_SNAPSHOT;

/* The snapshot text the page posts: a JSON array of six strings (event,
 * id, tag, class, checked as "1", "0" or "", value).  1 when parsed; the
 * strings are heap copies freed by HtmlEventSnapshotFree. */
int HtmlEventSnapshotParse(const char *text, size_t size, HTML_EVENT_SNAPSHOT *out);
void HtmlEventSnapshotFree(HTML_EVENT_SNAPSHOT *snapshot);

/* Which elements' events the view captures: by id, by one of its classes,
 * or by tag name (case-insensitive).  An event of a captured element is
 * held back, handed to dom_event, and its default action happens (the
 * event reaches the page again) only when dom_event returns S_OK. */
enum { HTML_CAPTURE_BY_ID = 1, HTML_CAPTURE_BY_CLASS = 2, HTML_CAPTURE_BY_TAG = 3 };
typedef struct {
  int kind;
  const char *event; /* DOM event name: "click" */
  const char *name;
} HTML_CAPTURE;

/* 1 when the snapshot's element and event are those entry names. */
int HtmlCaptureMatches(const HTML_CAPTURE *entry, const HTML_EVENT_SNAPSHOT *snapshot);

/* A key or button that reaches the view, as the message the program's
 * filter expects: WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN, WM_SYSKEYUP (with
 * the virtual-key code), WM_RBUTTONDOWN or WM_RBUTTONDBLCLK; the modifier
 * keys held at that moment. */
/* (each guarded: the desktop layer's header names some of them too) */
#ifndef WM_KEYDOWN
#define WM_KEYDOWN 0x0100u
#endif
#ifndef WM_KEYUP
#define WM_KEYUP 0x0101u
#endif
#ifndef WM_SYSKEYDOWN
#define WM_SYSKEYDOWN 0x0104u
#endif
#ifndef WM_SYSKEYUP
#define WM_SYSKEYUP 0x0105u
#endif
#ifndef WM_RBUTTONDOWN
#define WM_RBUTTONDOWN 0x0204u
#endif
#ifndef WM_RBUTTONDBLCLK
#define WM_RBUTTONDBLCLK 0x0206u
#endif
typedef struct {
  UINT message;
  uint32_t vk;
  int ctrl, alt, shift;
} HTML_INPUT_MSG;

/* The view's calls into its program, on the GUI thread.  Any may be NULL. */
typedef struct {
  void (*before_navigate)(void *user, const char *uri);   /* a main-frame navigation starts */
  void (*navigate_complete)(void *user, const char *uri); /* its document replaced the old one */
  void (*document_complete)(void *user, const char *uri); /* the document has loaded */
  HRESULT (*dom_event)(void *user, const HTML_EVENT_SNAPSHOT *event);
  int (*pre_translate)(void *user, const HTML_INPUT_MSG *msg); /* 1 swallows it */
} HTML_VIEW_CALLBACKS;

typedef struct HTML_VIEW HTML_VIEW;

/* 1 when views made now only record (the variable, or no WebKit). */
int HtmlViewRecordBackend(void);
/* A view for owner's window; with the web backend its widget is added to
 * parent (a GtkContainer *) when parent is not NULL.  NULL on failure, also
 * for the web backend without a display. */
HTML_VIEW *HtmlViewCreate(HWND owner, void *parent, const HTML_VIEW_CALLBACKS *callbacks, void *user);
void HtmlViewDestroy(HTML_VIEW *view);
/* The GtkWidget * of the page; NULL for the record backend. */
void *HtmlViewWidget(HTML_VIEW *view);
HWND HtmlViewOwner(HTML_VIEW *view);
/* The elements whose events are captured from the next document on. */
int HtmlViewSetCapture(HTML_VIEW *view, const HTML_CAPTURE *entries, uint32_t count);
/* Starts loading uri (file:, http:); the phases follow on the GUI loop. */
int HtmlViewNavigate(HTML_VIEW *view, const char *uri);
/* The URI of the document shown ("" before the first); valid until the
 * next navigation. */
const char *HtmlViewUri(HTML_VIEW *view);
/* 1 between a navigation's completion and the next navigation's start. */
int HtmlViewHasDocument(HTML_VIEW *view);
/* Runs script in the page's main world and waits, running the thread's
 * loop, for its end: S_OK with the result's text in *result (heap text
 * freed with sys_alloc_free; result may be NULL); E_FAIL when it threw,
 * E_ABORT when the web process ended, E_PENDING without a document,
 * E_TIMEOUT past the time limit (not counting time an alert is open). */
HRESULT HtmlViewExecScript(HTML_VIEW *view, const char *script, char **result);
/* A click on the element with that id: a pointer press and release at its
 * centre (web backend), or the snapshot of an element with that id handed
 * to dom_event (record backend). */
HRESULT HtmlViewClick(HTML_VIEW *view, const char *element_id);
/* Hands an event to the view as if its page had posted it (record backend). */
HRESULT HtmlViewDispatchEvent(HTML_VIEW *view, const HTML_EVENT_SNAPSHOT *event);
/* The alerts the pages have shown, oldest first, and whether one is open;
 * HtmlViewCloseAlert answers the open one.  An alert is a message box of
 * the desktop layer (ui_gtk.h), so it is among its alerts too, and under
 * its recorder it is answered at once. */
uint32_t HtmlViewAlertCount(void);
const char *HtmlViewAlertAt(uint32_t index);
int HtmlViewAlertOpen(void);
int HtmlViewCloseAlert(void);

#define E_PENDING ((HRESULT)0x8000000Au)
#define E_TIMEOUT ((HRESULT)0x800705B4u)

#ifdef __cplusplus
}
#endif
#endif
