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
};

struct gtk_window_rec {
  HWND hwnd = nullptr;
  GtkWidget *top = nullptr;
  WNDPROC proc = nullptr;  // the caller's procedure
  UINT dialog_id = 0;
  std::vector<gtk_control> controls;
  int quiet = 0;  // set while the program changes a button itself
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
