/* Dialogs placed inside another window (property pages), and the combo
 * boxes they hold, on the GTK 3 backend.  The dialog's controls answer
 * GetDlgItemText, SetDlgItemText, CheckDlgButton and the automation
 * requests like those of modal dialogs. */
#ifndef TARVO_UI_CONTROLS_H
#define TARVO_UI_CONTROLS_H

#include <tarvo_ui/ui_gtk.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
  int x, y, cx, cy;
} RECT_XYWH;

/* Template kinds beyond ui_gtk.h's. */
#define UI_CTL_COMBO 20u    /* drop-down with an edit field */
#define UI_CTL_DROPLIST 21u /* drop-down list */

#define CB_ERR (-1)
#define CB_GETCOUNT 0x0146u
#define CB_GETCURSEL 0x0147u
#define CB_GETLBTEXT 0x0148u /* lparam: a buffer of UI_COMBO_TEXT_MAX bytes */
#define CB_RESETCONTENT 0x014Bu
#define CB_FINDSTRINGEXACT 0x0158u /* wparam -1: from the start */
#define CB_SETCURSEL 0x014Eu       /* wparam -1: no selection */
#define CB_ADDSTRING 0x0143u       /* lparam: UTF-8 text; the new index */
#define CB_GETITEMDATA 0x0150u
#define CB_SETITEMDATA 0x0151u
#define UI_COMBO_TEXT_MAX 256u
/* A combo box's text (its edit field's, else the selected item's): wparam
 * the buffer size, lparam the buffer; the length. */
#define WM_SETTEXT 0x000Cu
#define WM_GETTEXT 0x000Du
/* Notification codes in WM_COMMAND's high word. */
#define CBN_SELCHANGE 1u
#define CBN_KILLFOCUS 4u

/* A control the program draws and drives itself (a placeholder static for
 * a skinned control): it has a window of its own (GetDlgItem), which gets
 * WM_SIZE, WM_PAINT (wparam: an HDC on the control, valid during the call),
 * the mouse messages (lparam: x | y << 16), WM_MOUSEWHEEL (wparam's high
 * word: +120 forwards, -120 backwards), WM_SETFOCUS, WM_KILLFOCUS, and
 * for a key first WM_GETDLGCODE (lparam: the UI_MSG of the WM_KEYDOWN,
 * wparam its virtual-key code), then WM_KEYDOWN unless that returned 1. */
#define UI_CTL_CUSTOM 22u
#ifndef WM_SIZE
#define WM_SIZE 0x0005u
#endif
#ifndef WM_PAINT
#define WM_PAINT 0x000Fu
#endif
#ifndef WM_MOUSEMOVE
#define WM_MOUSEMOVE 0x0200u
#endif
#ifndef WM_LBUTTONDOWN
#define WM_LBUTTONDOWN 0x0201u
#endif
#define WM_LBUTTONUP 0x0202u
#ifndef WM_RBUTTONDOWN
#define WM_RBUTTONDOWN 0x0204u
#endif
#define WM_RBUTTONUP 0x0205u
#define WM_MOUSEWHEEL 0x020Au
#define WM_SETFOCUS 0x0007u
#define WM_KILLFOCUS 0x0008u
#define WM_GETDLGCODE 0x0087u
#define MK_LBUTTON 0x1u
#define MK_RBUTTON 0x2u
#define UI_MAKELPARAM(lo, hi) ((LPARAM)(((uintptr_t)(uint16_t)(hi) << 16) | (uintptr_t)(uint16_t)(lo)))
/* The window of a custom control, NULL for other ids. */
HWND GetDlgItem(HWND dialog, UINT id);
/* The control's size, and its position in its dialog. */
int UiControlRect(HWND control, RECT_XYWH *out);
/* The same for a template control of a dialog by its id, as laid out. */
int UiDlgItemRect(HWND dialog, UINT id, RECT_XYWH *out);
/* Redraws the control soon. */
int InvalidateControl(HWND control);
/* Gives the control the keyboard focus. */
int SetControlFocus(HWND control);

/* Cursors.  A custom control gets WM_SETCURSOR after each pointer motion
 * over it (wparam: the control, lparam: HTCLIENT | WM_MOUSEMOVE << 16); a
 * handler that does not set one (returns 0) leaves the arrow. */
typedef const struct ui_cursor *HCURSOR;
#define WM_SETCURSOR 0x0020u
#define HTCLIENT 1u
#define IDC_ARROW 32512u
#define IDC_IBEAM 32513u
#define IDC_WAIT 32514u
#define IDC_CROSS 32515u
#define IDC_SIZEWE 32644u
#define IDC_SIZENS 32645u
#define IDC_HAND 32649u
/* The standard cursor id; module is unused (a library's own cursors take
 * these shapes on this platform).  NULL for an unknown id. */
HCURSOR LoadCursor(void *module, UINT id);
/* A library's own cursors, compiled into it: each named image in the XPM
 * text form with its hot spot. */
typedef struct {
  const char *name;
  const char *const *xpm;
  int hot_x, hot_y;
} UI_CURSOR_RESOURCE;
typedef struct {
  const UI_CURSOR_RESOURCE *rows;
  uint32_t count;
} UI_CURSOR_TABLE;
/* The named cursor of the table (a library's resources); NULL when it has
 * none of that name or its image does not decode.  Kept for the process. */
HCURSOR LoadCursorResource(const UI_CURSOR_TABLE *table, const char *name);
/* The shape over the control that gets WM_SETCURSOR or holds the capture;
 * the previous one. */
HCURSOR SetCursor(HCURSOR cursor);
HCURSOR GetCursor(void);

/* Mouse capture: every pointer event goes to the custom control until
 * ReleaseCapture, or until another window takes the pointer, which sends
 * WM_CAPTURECHANGED (lparam: the new holder or NULL).  SetCapture returns
 * the previous holder. */
#define WM_CAPTURECHANGED 0x0215u
HWND SetCapture(HWND control);
int ReleaseCapture(void);
HWND GetCapture(void);
/* While the control holds the capture, the pointer stays in rect (the
 * control's coordinates); NULL frees it.  ReleaseCapture frees it too. */
int UiClipCursor(HWND control, const RECT_XYWH *rect);
/* Moves the pointer to (x, y) of the control; the pointer's place there. */
int UiSetCursorPos(HWND control, int x, int y);
int UiGetCursorPos(HWND control, int *x, int *y);

/* Sent to a child dialog before its controls draw (wparam: an HDC). */
#define WM_ERASEBKGND 0x0014u

/* The template's controls in a box put into parent's content area (a
 * frame's, else the parent's own window), shown at once; proc gets
 * WM_INITDIALOG (lparam: user) and WM_COMMAND.  DestroyWindow removes it.
 * NULL when it cannot be made. */
HWND UiCreateChildDialog(HWND parent, const UI_DIALOG_TEMPLATE *tmpl, WNDPROC proc, void *user);
int UiShowChildDialog(HWND dialog, int show);
/* The dialog's size in pixels from the template's dialog units. */
void UiDialogUnitsToPixels(const UI_DIALOG_TEMPLATE *tmpl, int *cx, int *cy);

/* The CB_* messages of the dialog's combo box id; CB_ERR for other ids. */
LRESULT SendDlgItemMessage(HWND dialog, UINT id, UINT msg, WPARAM wparam, LPARAM lparam);

/* Draws the dialog's check box id as a push button that stays down while
 * checked; its BN_CLICKED, IsDlgButtonChecked and CheckDlgButton work as
 * before.  0 when id is no check box. */
int UiDlgButtonPushLike(HWND dialog, UINT id);

#ifdef __cplusplus
}
#endif
#endif
