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

#ifdef __cplusplus
}
#endif
#endif
