/* The automation socket of the desktop programs: a test hook, off unless
 * $TARVO_UI_AUTOMATION names a socket path.  Each request is one line; each
 * answer is "ok N" and N lines, or "error TEXT".  Requests:
 *   windows              one line per window: handle (hex), class, title
 *   command HWND ID      posts WM_COMMAND ID to the window
 *   html-scripts         every script run in the page so far, in order
 * Texts in answers have backslash, CR, LF and other control bytes escaped
 * (\\, \r, \n, \xHH), so that each stays on its line. */
#ifndef TARVO_UI_AUTOMATION_H
#define TARVO_UI_AUTOMATION_H

#include <tarvo_ui/ui_core.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the socket (mode 0600, its folder made 0700 when missing) and
 * answers on the calling thread's GLib context.  1 when open or when the
 * variable is unset; 0 when the socket cannot be had. */
int UiAutomationStart(void);
/* Closes it and removes the socket file. */
void UiAutomationStop(void);

/* A request handler added by a backend (widgets, the HTML view, the tray):
 * argv[0] is the request's name.  It answers through emit, one line at a
 * time (escaped by the socket), and returns 1; or it writes a short reason
 * into error and returns 0. */
typedef void (*UI_AUTOMATION_EMIT)(void *ctx, const char *line);
typedef int (*UI_AUTOMATION_FN)(int argc, const char *const *argv, UI_AUTOMATION_EMIT emit, void *ctx,
                                char *error, uint32_t error_size);
/* Adds (or replaces) the handler of a request name; call on the GUI thread
 * before or after UiAutomationStart.  1 when added. */
int UiAutomationAddCommand(const char *name, UI_AUTOMATION_FN fn);

#ifdef __cplusplus
}
#endif
#endif
