/* The notification-area icon of the desktop programs, in the shape of the
 * shell's call: add, modify and delete an icon that a message window owns;
 * clicks arrive at that window as its callback message with wParam = the
 * icon id and lParam = WM_RBUTTONUP or WM_LBUTTONDBLCLK, and a restarted
 * panel as the registered message "TaskbarCreated".
 *
 * The automation request "tray-event restart" stands for a new panel: the
 * icons are forgotten, then "TaskbarCreated" goes out.
 *
 * Backends, chosen once: $TARVO_TRAY_BACKEND = "record" keeps the icons
 * in memory only (for tests); "status-icon" forces the GtkStatusIcon;
 * otherwise the Ayatana indicator where the session bus has a
 * StatusNotifier watcher (when built with it), else the GtkStatusIcon. */
#ifndef TARVO_TRAY_TRAY_H
#define TARVO_TRAY_TRAY_H

#include <tarvo_ui/ui_core.h>

#ifdef __cplusplus
extern "C" {
#endif

#define WM_LBUTTONDBLCLK 0x0203u
#define WM_RBUTTONUP 0x0205u

#define TRAY_ADD 0u
#define TRAY_MODIFY 1u
#define TRAY_DELETE 2u

#define TRAY_FLAG_MESSAGE 0x1u
#define TRAY_FLAG_ICON 0x2u
#define TRAY_FLAG_TIP 0x4u

/* A tip: 127 characters and the terminator (UTF-8, so up to 4 bytes each). */
#define TRAY_TIP_CHARS 127u
#define TRAY_TIP_SIZE (TRAY_TIP_CHARS * 4u + 1u)

typedef struct {
  HWND hwnd;
  UINT id;
  UINT flags;
  UINT callback_message;
  const char *icon_path; /* a PNG file; NULL or "" for none */
  char tip[TRAY_TIP_SIZE];
} TRAY_ICON_DATA;

/* One operation; 1 on success.  Adding an icon that the host still shows
 * changes it; changing or deleting one that is not there fails. */
int TrayNotifyIcon(UINT op, const TRAY_ICON_DATA *data);

/* Cuts text to at most TRAY_TIP_CHARS code points into out (TRAY_TIP_SIZE
 * bytes), never inside a character. */
void TrayCutTip(const char *text, char *out);

/* A menu item as the owner wants it shown. */
typedef struct {
  UINT id; /* 0: separator */
  const char *text;
  int grayed;
  int is_default;
} TRAY_MENU_ITEM;

/* Fills the menu's items: called before each showing (and by the indicator
 * whenever it refreshes its menu). */
typedef uint32_t (*TRAY_MENU_FN)(HWND owner, TRAY_MENU_ITEM *items, uint32_t max);
/* The owner's menu for the icon (id) of window: the indicator shows it on
 * its own; the status icon and the record tray track it on the owner's
 * right-click (TrayTrackMenu).  A chosen item reaches owner as WM_COMMAND. */
int TraySetMenuSource(HWND owner, UINT id, TRAY_MENU_FN fn);
/* Shows the menu now (from the owner's WM_RBUTTONUP): returns at once; the
 * record tray keeps the items for the automation request "tray". */
int TrayTrackMenu(HWND owner, UINT id);

/* The backend's name: "record", "status-icon" or "indicator". */
const char *TrayBackendName(void);

/* Adds the automation requests "tray" and "tray-event
 * rbuttonup|lbuttondblclk|restart". */
void TrayAutomationInit(void);

#ifdef __cplusplus
}
#endif
#endif
