// Add, modify and delete rules of the icon, and the tray menu's gray rules.
#include "tray_icon.h"

#include "helper_app.h"
#include "quessel_resources.h"

#include <tarvo_ui/ui_resource.h>

#include <cstring>

namespace {

CTrayIcon *menu_icon = nullptr;

UINT taskbar_created()
{
  static const UINT id = RegisterWindowMessage("TaskbarCreated");
  return id;
}

}  // namespace

LRESULT CTrayHook::HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam)
{
  if (msg == m_owner->m_nid.callback_message && Window() == m_owner->m_nid.hwnd) m_owner->OnIconEvent(wparam, lparam);
  else if (msg == taskbar_created()) m_owner->OnShellRestart(wparam, lparam);
  return CSubclassWnd::HandleMessage(msg, wparam, lparam);
}

CTrayIcon::CTrayIcon(UINT id)
{
  m_nid.id = id;
  char tip[TRAY_TIP_SIZE];
  if (LoadString(id, tip, sizeof tip)) TrayCutTip(tip, m_nid.tip);
}

CTrayIcon::~CTrayIcon()
{
  ShowIcon(nullptr, nullptr);
  m_hook.AttachWindow(nullptr);
  m_parentHook.AttachWindow(nullptr);
  if (menu_icon == this) menu_icon = nullptr;
}

void CTrayIcon::Bind(HWND window, UINT callback_message, HWND top_level)
{
  m_nid.hwnd = window;
  m_nid.callback_message = callback_message;
  m_hook.AttachWindow(window);
  if (top_level && top_level != window) m_parentHook.AttachWindow(top_level);
}

int CTrayIcon::ShowIconResource(UINT icon_id)
{
  if (icon_id == 0) return ShowIcon(nullptr, nullptr);
  char tip[TRAY_TIP_SIZE] = "";
  LoadString(icon_id, tip, sizeof tip);
  std::string path = quessel_image_path(icon_id);
  return ShowIcon(path.c_str(), tip);
}

int CTrayIcon::ShowIcon(const char *icon, const char *tip)
{
  UINT op;
  m_nid.flags = 0;
  if (icon) {
    op = m_icon.empty() ? TRAY_ADD : TRAY_MODIFY;
    m_icon = *icon ? icon : " ";  // a named but missing image still counts as set
    m_nid.flags = TRAY_FLAG_ICON;
  } else {
    if (m_icon.empty()) return 1;
    op = TRAY_DELETE;
  }
  if (tip) TrayCutTip(tip, m_nid.tip);
  if (m_nid.tip[0]) m_nid.flags |= TRAY_FLAG_TIP;
  if (m_nid.callback_message && m_nid.hwnd) m_nid.flags |= TRAY_FLAG_MESSAGE;
  m_nid.icon_path = m_icon.c_str();
  int r = TrayNotifyIcon(op, &m_nid);
  if (op == TRAY_DELETE || !r) m_icon.clear();
  return r;
}

int CTrayIcon::OnShellRestart(WPARAM, LPARAM)
{
  std::string icon = m_icon;
  m_icon.clear();
  if (!icon.empty()) ShowIcon(icon.c_str(), nullptr);
  return 0;
}

int CTrayIcon::OnIconEvent(WPARAM id, LPARAM event)
{
  if (id != m_nid.id || (event != WM_RBUTTONUP && event != WM_LBUTTONDBLCLK)) return 0;
  UI_RESOURCE_ROW rows[16];
  if (!LoadMenuItems(QIDR_TRAY_MENU, rows, 16)) return 0;
  if (event == WM_RBUTTONUP) {
    tray_menu_set_icon(this);
    TraySetMenuSource(m_nid.hwnd, m_nid.id, tray_menu_fill);
    TrayTrackMenu(m_nid.hwnd, m_nid.id);
    PostMessage(m_nid.hwnd, WM_NULL, 0, 0);
  } else {
    SendMessage(m_nid.hwnd, WM_COMMAND, rows[0].id, 0);
  }
  return 1;
}

void tray_menu_set_icon(CTrayIcon *icon) { menu_icon = icon; }

uint32_t tray_menu_fill(HWND, TRAY_MENU_ITEM *items, uint32_t max)
{
  UI_RESOURCE_ROW rows[16];
  uint32_t n = LoadMenuItems(QIDR_TRAY_MENU, rows, 16);
  if (n > 16) n = 16;
  bool settings_open = FindWindow("#32770", HELPER_TITLE) != nullptr;
  int running = menu_icon ? menu_icon->m_serverRunning : 1, reachable = menu_icon ? menu_icon->m_serverReachable : 1;
  uint32_t k = 0;
  for (uint32_t i = 0; i < n && k < max; ++i, ++k) {
    UINT id = rows[i].id;
    bool gray = false;
    if (id == QID_CMD_SETTINGS || id == QID_CMD_EXIT) gray = settings_open;
    if (id == QID_CMD_START) gray = running || !reachable;
    if (id == QID_CMD_STOP || id == QID_CMD_REBUILD) gray = !running || !reachable;
    items[k] = TRAY_MENU_ITEM{id, rows[i].en || rows[i].ja ? UiRowText(&rows[i]) : nullptr, gray, i == 0};
  }
  return k;
}
