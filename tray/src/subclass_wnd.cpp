// The process-wide hook map and the common hook procedure.
#include "subclass_wnd.h"

#include <map>

namespace {

std::map<HWND, CSubclassWnd *> &hook_map()
{
  static std::map<HWND, CSubclassWnd *> *m = new std::map<HWND, CSubclassWnd *>;
  return *m;
}

}  // namespace

CSubclassWnd::~CSubclassWnd() { unhook(); }

int CSubclassWnd::AttachWindow(HWND window)
{
  if (window) hook(window);
  else unhook();
  return 1;
}

void CSubclassWnd::hook(HWND window)
{
  if (m_hwnd) unhook();
  auto &m = hook_map();
  auto it = m.find(window);
  m_hwnd = window;
  m_next = it == m.end() ? nullptr : it->second;
  if (m_next) m_prev = m_next->m_prev;
  else m_prev = SetWindowProc(window, subclass_hook_proc);
  m[window] = this;
}

void CSubclassWnd::unhook()
{
  if (!m_hwnd) return;
  auto &m = hook_map();
  auto it = m.find(m_hwnd);
  if (it != m.end() && it->second == this) {
    if (m_next) it->second = m_next;
    else {
      m.erase(it);
      SetWindowProc(m_hwnd, m_prev);
    }
  } else if (it != m.end()) {
    for (CSubclassWnd *h = it->second; h; h = h->m_next)
      if (h->m_next == this) {
        h->m_next = m_next;
        break;
      }
  }
  m_hwnd = nullptr;
  m_next = nullptr;
}

LRESULT CSubclassWnd::HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam)
{
  if (m_next) return m_next->HandleMessage(msg, wparam, lparam);
  return CallWindowProc(m_prev, m_hwnd, msg, wparam, lparam);
}

LRESULT subclass_hook_proc(HWND window, UINT msg, WPARAM wparam, LPARAM lparam)
{
  auto &m = hook_map();
  auto it = m.find(window);
  if (it == m.end()) return 0;
  CSubclassWnd *newest = it->second;
  if (msg != WM_NCDESTROY) return newest->HandleMessage(msg, wparam, lparam);
  WNDPROC prev = newest->m_prev;
  while (m.count(window)) m[window]->unhook();
  return CallWindowProc(prev, window, msg, wparam, lparam);
}
