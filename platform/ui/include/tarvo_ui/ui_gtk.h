/* The GTK 3 windows of the desktop programs: dialogs built from compiled-in
 * templates, message boxes, the folder chooser and the fixed frame window.
 * Each GTK window has a core message window (ui_core.h), so FindWindow,
 * PostMessage and the automation socket reach it; its procedure gets the
 * dialog's messages (WM_INITDIALOG, WM_COMMAND with BN_CLICKED). */
#ifndef TARVO_UI_GTK_H
#define TARVO_UI_GTK_H

#include <stdint.h>

#include <tarvo_ui/ui_core.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _GtkWidget GtkWidget;

#define WM_KEYDOWN 0x0100u
#define WM_SYSKEYDOWN 0x0104u
#define WM_INITDIALOG 0x0110u
#define WM_SYSCOMMAND 0x0112u

#define IDOK 1
#define IDCANCEL 2
#define IDYES 6
#define IDNO 7
#define MB_OK 0x0u
#define MB_OKCANCEL 0x1u
#define MB_YESNO 0x4u
#define MB_TYPEMASK 0xFu
/* The static text of a message box. */
#define UI_MSGBOX_TEXT_ID 0xFFFFu

#define BN_CLICKED 0u
#define UI_LOWORD(w) ((UINT)((uintptr_t)(w) & 0xFFFFu))
#define UI_HIWORD(w) ((UINT)(((uintptr_t)(w) >> 16) & 0xFFFFu))
#define UI_MAKEWPARAM(lo, hi) ((WPARAM)(((uintptr_t)(hi) << 16) | ((uintptr_t)(lo) & 0xFFFFu)))

/* The class of every dialog and message box window. */
#define UI_DIALOG_CLASS "#32770"
/* The frame menu's About item, sent as WM_SYSCOMMAND. */
#define UI_FRAME_ABOUT_ID 2024u

/* Kinds of template controls. */
#define UI_CTL_STATIC 1u
#define UI_CTL_BUTTON 2u
#define UI_CTL_DEFBUTTON 3u /* the default push button */
#define UI_CTL_CHECK 4u
#define UI_CTL_RADIO 5u
#define UI_CTL_EDIT 6u
#define UI_CTL_ICON 7u /* text: an icon name of the theme */
#define UI_CTL_GROUPBOX 8u
/* Flags of template controls. */
#define UI_CTLF_HIDDEN 0x1u
#define UI_CTLF_DISABLED 0x2u
#define UI_CTLF_GROUP 0x4u /* a radio that starts a new group */
#define UI_CTLF_NOWRAP 0x8u /* a static text kept on one line */

/* One control at dialog-unit position and size; text NULL: the dialog's
 * resource text for (template id, control id), else empty.  Dialog units
 * come from the font the dialog uses; a static text wraps within its width
 * unless UI_CTLF_NOWRAP; a control whose text needs more room than its
 * rectangle grows, the controls right of it on its row and those below it
 * moving by as much, and the dialog grows to hold them. */
typedef struct {
  UINT kind;
  UINT id;
  int x, y, cx, cy;
  const char *text;
  UINT flags;
} UI_DIALOG_ITEM;

typedef struct {
  UINT id;             /* resource id of its texts (LoadDialogText) */
  const char *caption; /* NULL: the resource caption */
  int cx, cy;          /* dialog units */
  const UI_DIALOG_ITEM *items;
  uint32_t item_count;
} UI_DIALOG_TEMPLATE;

/* Opens the display once (X11 when GDK_BACKEND says so): 1 when GTK runs.
 * $TARVO_UI_MSGBOX=record turns the message-box recorder on.  It adds the
 * automation requests controls, layout, click, select, settext, check, key,
 * mouse, alerts, folder-select and screenshot (see ui_automation.h). */
int UiGtkInit(int *argc, char ***argv);

/* Shows the dialog modally (a grab keeps input from other windows) and returns
 * the EndDialog result: Enter is IDOK, Escape and the close button IDCANCEL;
 * when proc does not handle (returns 0) a click of IDOK or IDCANCEL, the
 * dialog ends with that id.  -1 when it cannot be shown. */
intptr_t DialogBoxTemplate(HWND owner, const UI_DIALOG_TEMPLATE *tmpl, WNDPROC proc, void *user);
/* The same dialog modeless: shown at once, after WM_INITDIALOG; NULL when it
 * cannot be shown.  DestroyWindow ends it (EndDialog does not); its
 * procedure gets Enter, Escape and the close button as IDOK and IDCANCEL. */
HWND CreateDialogTemplate(HWND owner, const UI_DIALOG_TEMPLATE *tmpl, WNDPROC proc, void *user);
/* Lays a template dialog out again for its controls' present texts and
 * fonts (SetDlgItemText does so itself): 1 with its size in pixels. */
int UiDialogFit(HWND dialog, int *cx, int *cy);
/* A template dialog's own font (a Pango description, "Sans 9"): its
 * dialog units and its texts take it, and it is laid out again: 1 when set. */
int UiDialogSetFont(HWND dialog, const char *font);
/* The size it shows, without laying it out (while it draws): the size it
 * was last laid out to, or more where its host gave it more room. */
int UiDialogSize(HWND dialog, int *cx, int *cy);
UINT GetDlgItemText(HWND dialog, UINT id, char *buf, uint32_t size); /* length; 0 when none */
int SetDlgItemText(HWND dialog, UINT id, const char *text);
int IsDlgButtonChecked(HWND dialog, UINT id);
/* Neither sends BN_CLICKED. */
int CheckDlgButton(HWND dialog, UINT id, int checked);
int CheckRadioButton(HWND dialog, UINT first, UINT last, UINT check);
int ShowDlgItem(HWND dialog, UINT id, int show);
int EnableDlgItem(HWND dialog, UINT id, int enable);

/* OK, OK/Cancel or Yes/No: IDOK, IDCANCEL, IDYES or IDNO (close and Escape
 * give IDCANCEL, or IDNO for Yes/No); 0 when it cannot be shown (no
 * display).  Every box's text is added to the alerts, and the box to the
 * record below.  In recorder mode nothing is shown and the next queued
 * answer is returned, the first button's when none is queued or the queued
 * one is not among the box's buttons. */
int MessageBox(HWND owner, const char *text, const char *caption, UINT type);
void UiMessageBoxRecorder(int on);
void UiMessageBoxQueueAnswer(int answer);

/* The message boxes asked for so far, oldest first; the texts stay valid
 * for the process. */
typedef struct {
  const char *text;
  const char *caption;
  UINT type;
} UI_MSGBOX_RECORD;
uint32_t UiMessageBoxCount(void);
int UiMessageBoxAt(uint32_t index, UI_MSGBOX_RECORD *out);

/* The texts shown to the user so far (message boxes, page alerts), oldest
 * first; a text stays valid for the process. */
void UiAlertAdd(const char *text);
uint32_t UiAlertCount(void);
const char *UiAlertAt(uint32_t index);

/* The folder chooser: decide(path, user) runs at every selection change and
 * enables OK only when it returns 1.  1 with the chosen path in out. */
typedef int (*UI_FOLDER_DECIDE)(const char *path, void *user);
int UiFolderChoose(HWND owner, const char *title, UI_FOLDER_DECIDE decide, void *user, char *out, uint32_t size);

/* Key modifiers of the key hook and of WM_KEYDOWN/WM_SYSKEYDOWN's lparam
 * (wparam: the GDK key value). */
#define UI_KEYMOD_SHIFT 0x1u
#define UI_KEYMOD_CTRL 0x2u
#define UI_KEYMOD_ALT 0x4u
/* 1: the key is swallowed before the focused widget sees it. */
typedef int (*UI_KEY_HOOK)(HWND frame, UINT keyval, UINT mods, void *user);

/* A frame with a content area of width x height pixels, not resizable, no
 * maximise, a header bar whose menu holds about_text (a mnemonic text, "_"
 * before the key; WM_SYSCOMMAND
 * UI_FRAME_ABOUT_ID).  Its keys go to the hook, then as WM_KEYDOWN (or
 * WM_SYSKEYDOWN with Alt) to proc, before the focused widget; a nonzero
 * result swallows them.  The close button sends WM_CLOSE; when proc returns
 * 0 for it the frame is destroyed.  Hidden until UiWindowShow. */
HWND UiFrameCreate(const char *class_name, const char *title, int width, int height, const char *about_text,
                   WNDPROC proc, void *user);
void UiFrameSetKeyHook(HWND frame, UI_KEY_HOOK hook, void *user);
/* The box that fills the content area, for the view's widget. */
GtkWidget *UiFrameContent(HWND frame);

/* Title of both the core window and the GTK window. */
int UiWindowSetTitle(HWND window, const char *title);
int UiWindowShow(HWND window);
/* Centres a toplevel on its shown owner, else on its monitor's work area,
 * keeping all of it inside the work area; again once it is mapped, with the
 * window manager's frame counted.  Call it once its content is in place. */
int UiWindowPlace(HWND window);
/* The toplevel is placed by its program from now on (a notification at the
 * tray's corner): the layer no longer centres it. */
void UiGtkPlacedByCaller(GtkWidget *toplevel);
/* Restores and raises the window. */
int UiWindowPresent(HWND window);
/* The window's own drawing as a PNG file (a web view's page as the display
 * shows it): 1 when written. */
int UiWindowScreenshot(HWND window, const char *png_path);

/* Lets another backend's GTK toplevel (popup, view) be reached by handle;
 * dropped when the widget is destroyed. */
int UiGtkRegisterWindow(HWND window, GtkWidget *toplevel);
GtkWidget *UiGtkWidget(HWND window);
/* The widget of a dialog's control id (the first of that id), NULL when none. */
GtkWidget *UiGtkControlWidget(HWND dialog, UINT id);

#ifdef __cplusplus
}
#endif
#endif
