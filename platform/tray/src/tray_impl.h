// Shared by the tray's backends.
#pragma once

#include <tarvo_tray/tray.h>

#include <string>
#include <vector>

// Items of one menu: the tray menu has eight.
constexpr uint32_t TRAY_MENU_MAX = 32;

struct icon_rec {
  HWND hwnd;
  UINT id;
  UINT callback = 0;
  std::string icon, tip;
  void *backend = nullptr;  // the backend's own object
};

struct menu_source {
  HWND owner;
  UINT id;
  TRAY_MENU_FN fn;
};

struct tray_backend {
  const char *name;
  void (*add)(icon_rec *);
  void (*modify)(icon_rec *);
  void (*remove)(icon_rec *);
  int (*track)(icon_rec *);
};

std::vector<icon_rec> &tray_icons();
std::vector<TRAY_MENU_ITEM> &tracked_menu();  // the last menu shown
std::vector<menu_source> &menu_sources();
// A menu text with "&x" mnemonics ("&&": a literal "&") in GTK's form.
std::string tray_mnemonic(const char *text);
// The callback message of a click on the icon.
void tray_click(const icon_rec *i, LPARAM event);
// "TaskbarCreated" to every window of the process.
void tray_shell_restarted();
uint32_t tray_menu_items(HWND owner, UINT id, TRAY_MENU_ITEM *items, uint32_t max);
// The desktop backend (NULL when none can run); want is the variable's value.
const tray_backend *tray_desktop_backend(const char *want);
// The indicator backend and its condition (when built with it).
bool tray_watcher_present();
const tray_backend *tray_indicator_backend();
