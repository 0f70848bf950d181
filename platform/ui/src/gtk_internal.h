// The GTK backend's record of each of its windows, shared by its files.
#pragma once

#include <tarvo_ui/ui_gtk.h>

#include <gtk/gtk.h>

#include <string>
#include <vector>

struct gtk_control {
  UINT id;
  UINT kind;
  GtkWidget *w;
  // The template's rectangle (dialog units) and flags; laid out only when
  // placed from a template.
  bool placed = false;
  int tx = 0, ty = 0, tcx = 0, tcy = 0;
  UINT flags = 0;
  // Where the layout last put it (the program may move it since).
  int lx = -1, ly = -1, lw = -1, lh = -1;
};

struct gtk_window_rec {
  HWND hwnd = nullptr;
  GtkWidget *top = nullptr;
  WNDPROC proc = nullptr;  // the caller's procedure
  UINT dialog_id = 0;
  std::vector<gtk_control> controls;
  int quiet = 0;  // set while the program changes a button itself
  // Template dialogs: the box of their controls and its size in dialog
  // units, and the size they were last laid out to (pixels).
  GtkWidget *fixed = nullptr;
  int tcx = 0, tcy = 0;
  int laid_w = 0, laid_h = 0;
  bool refit_queued = false;
  std::string font;  // its own font, else its style's
  // Frames.
  GtkWidget *content = nullptr;
  int width = 0, height = 0;
  UI_KEY_HOOK hook = nullptr;
  void *hook_user = nullptr;
  // Folder choosers.
  UI_FOLDER_DECIDE decide = nullptr;
  void *decide_user = nullptr;
  std::string folder;
  int ok_enabled = 0;
};

gtk_window_rec *gtk_rec(HWND window);
// Makes the core window (whose procedure is proc_wrapper) and files rec.
HWND gtk_rec_add(gtk_window_rec *rec, const char *cls, const char *title, WNDPROC wrapper, void *user);
void gtk_rec_drop(HWND window);
gtk_control *gtk_control_of(gtk_window_rec *rec, UINT id);
GtkWindow *gtk_owner_window(HWND owner);
UINT gtk_key_mods(guint state);
// Clicks a control as the user would (buttons, check and radio boxes).
int gtk_control_click(gtk_control *c);
// Adds the automation requests of the GTK windows.
int gtk_automation_add();
// A caption with '&' before its mnemonic ("&&" for '&') in GTK's form ('_'
// before it, "__" for '_'), and back.
std::string gtk_mnemonic_text(const char *caption);
std::string gtk_caption_text(const char *mnemonic);
// The template's caption controls, made with their mnemonics.
GtkWidget *gtk_caption_control(UINT kind, const char *caption);
// A label's mnemonic moves the focus to the next control of the template
// that takes it; the program alone shows and hides controls from now on
// (a host's show-all leaves them as they are).
void gtk_template_finish(gtk_window_rec *rec);
// The text of a control (a combo box's edit field or selected item) in the
// caption form, and its change: 0 for controls without a text.
UINT gtk_control_get_text(gtk_control *c, char *buf, uint32_t size);
int gtk_control_set_text(gtk_window_rec *rec, gtk_control *c, const char *text);
// Combo boxes: the template's width, whatever their items' and edit
// field's own widths.
void gtk_combo_fit(GtkWidget *combo);
// Template layout (gtk_layout.cpp).  The box that holds a template's
// controls.
GtkWidget *gtk_dialog_box_new();
// Puts a template control into the dialog's box and keeps its rectangle
// for the layout.
void gtk_dlg_put(gtk_window_rec *rec, gtk_control *c, const UI_DIALOG_ITEM &it);
// Lays the controls out for their current texts in the dialog's real
// font: each grows to its text, neighbours move right or down by as much;
// the box takes the size that holds them all.
void gtk_dlg_fit(gtk_window_rec *rec);
// 1 once every shown control of the template stands where the layout
// last put it, at the size it gave it, and no layout waits for the loop
// (a control's new look is laid out when the loop is idle); 0 before; -1
// for a window without a template.
int gtk_dlg_laid(gtk_window_rec *rec);
// Pixels of dialog units in the font of widget w.
void gtk_dialog_units(GtkWidget *w, int *cx, int *cy);
// A toplevel's place (gtk_place.cpp): centred on its shown owner, else in
// the work area of its monitor, all of it inside as far as its size allows;
// placed again once mapped, with the window manager's frame counted, and
// whenever a shown one changes size.
void gtk_dlg_place(gtk_window_rec *rec);
// 1 once a placed toplevel, its frame as given, stands where it was last
// sent, at the size it was placed with, its frame told and nothing
// pending; 0 before; -1 for a window never placed.
int gtk_dlg_placed(GtkWidget *top, const GdkRectangle &frame);
