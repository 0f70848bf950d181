/* Notification popups of the desktop programs on GTK 3: an undecorated,
 * keep-above window without a taskbar entry, shaped on X11 to a round
 * rectangle, with its own drawing (a fill, a 1-pixel frame, Pango labels
 * and PNG images), an opacity, and a position that the window manager
 * cannot move.  Its clicks, pointer moves and keys reach the owner window
 * as posted messages.  Without a display every call still keeps its state
 * (for tests), but nothing is shown. */
#ifndef TARVO_UI_UI_POPUP_H
#define TARVO_UI_UI_POPUP_H

#include <tarvo_ui/ui_core.h>

#ifdef __cplusplus
extern "C" {
#endif

#define WM_MOUSEMOVE 0x0200u
#define WM_LBUTTONDOWN 0x0201u
#define WM_RBUTTONDOWN 0x0204u
#define IDOK 1
#define IDCANCEL 2

/* Label modes: one line with an end ellipsis; the same centred; wrapped. */
#define UI_POPUP_LINE 0
#define UI_POPUP_CENTRED 1
#define UI_POPUP_WRAP 2

typedef struct ui_popup ui_popup;
typedef struct _GtkWidget GtkWidget;

/* A hidden w x h popup with corner ellipses of corner x corner pixels and
 * the fill colour rgb (0xRRGGBB).  Mouse messages carry x | y << 16 in
 * lParam; Enter and Esc arrive as WM_COMMAND IDOK and IDCANCEL. */
ui_popup *UiPopupCreate(HWND owner, int w, int h, int corner, uint32_t rgb);
/* The same over a modeless template dialog's toplevel (CreateDialogTemplate,
 * UiGtkWidget): hidden until UiPopupShow, made the notification window
 * with the shape, fill and frame, the dialog's controls drawn over them.
 * The dialog keeps its window: destroy the popup, then the dialog.  Enter
 * and Esc reach the dialog's procedure as its IDOK and IDCANCEL. */
ui_popup *UiPopupFromWindow(HWND owner, GtkWidget *toplevel, int w, int h, int corner, uint32_t rgb);
/* The adopted dialog's static id drawn in a label mode and weight, and its
 * icon control id showing a PNG (NULL: none) in its own size at x, y: 1 when
 * the control is one. */
int UiPopupStyleStatic(ui_popup *p, UINT id, int mode, int weight);
int UiPopupSetItemImage(ui_popup *p, UINT id, int x, int y, const char *png_path);
void UiPopupDestroy(ui_popup *p);
/* Label slot (0-7): its rectangle, text, mode and Pango weight (400, 700). */
void UiPopupSetLabel(ui_popup *p, int slot, int x, int y, int w, int h, const char *text, int mode, int weight);
const char *UiPopupLabel(const ui_popup *p, int slot);
/* Image slot (0-3): a PNG drawn at x, y (NULL: none). */
void UiPopupSetImage(ui_popup *p, int slot, int x, int y, const char *png_path);
/* Places the window at x, y and keeps it there. */
void UiPopupMove(ui_popup *p, int x, int y);
void UiPopupShow(ui_popup *p, int shown);
/* Opacity 0-255 (shown where a compositor runs). */
void UiPopupSetAlpha(ui_popup *p, int alpha);
/* The state for tests: shown and mapped flags, position, alpha. */
void UiPopupState(const ui_popup *p, int *shown, int *mapped, int *x, int *y, int *alpha);
/* The X window id (0 without a display). */
unsigned long UiPopupXid(const ui_popup *p);

/* The work area and the panel edge of the monitor under (0, 0):
 * $TARVO_WORKAREA = "x,y,w,h" stands in for the desktop's, and "x,y,w,h,edge"
 * for the edge too.  Edge 0 left,
 * 1 top, 2 right, 3 bottom, -1 when the work area is the whole monitor. */
int UiWorkArea(int *x, int *y, int *w, int *h, int *edge);

#ifdef __cplusplus
}
#endif
#endif
