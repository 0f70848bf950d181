// The program's notification-area icon: add, change, remove, back after a
// panel restart, and the tray menu on a right-click.
#pragma once

#include "subclass_wnd.h"

#include <tarvo_tray/tray.h>

#include <string>

class CTrayIcon;

class CTrayHook : public CSubclassWnd {
 public:
  explicit CTrayHook(CTrayIcon *owner) : m_owner(owner) {}
  LRESULT HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam) override;

 private:
  CTrayIcon *m_owner;
};

class CTrayIcon {
 public:
  explicit CTrayIcon(UINT id);
  virtual ~CTrayIcon();
  void Bind(HWND window, UINT callback_message, HWND top_level = nullptr);
  int ShowIconResource(UINT icon_id);
  // icon: a PNG path, or NULL to remove; tip NULL keeps the stored one.
  int ShowIcon(const char *icon, const char *tip);
  virtual int OnIconEvent(WPARAM id, LPARAM event);
  virtual int OnShellRestart(WPARAM, LPARAM);

  int m_serverRunning = 1, m_serverReachable = 1;

 private:
  friend class CTrayHook;
  TRAY_ICON_DATA m_nid{};
  std::string m_icon;  // the stored icon, "" when none
  CTrayHook m_hook{this}, m_parentHook{this};
};

// The menu's items with the gray rules of the moment (also the indicator's).
uint32_t tray_menu_fill(HWND owner, TRAY_MENU_ITEM *items, uint32_t max);
// The tray icon the menu function reads its flags from.
void tray_menu_set_icon(CTrayIcon *icon);
