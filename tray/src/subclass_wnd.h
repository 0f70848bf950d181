// Hook chains on a window's message stream: any number of objects see each
// message of one window, the newest first, without being its class.
#pragma once

#include <tarvo_ui/ui_core.h>

class CSubclassWnd {
 public:
  virtual ~CSubclassWnd();
  // With a window: hook it (newest first).  With NULL: unhook.  Returns 1.
  int AttachWindow(HWND window);
  // The default passes the message down the chain, then to the window's
  // own procedure.
  virtual LRESULT HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam);
  HWND Window() const { return m_hwnd; }

 private:
  friend LRESULT subclass_hook_proc(HWND, UINT, WPARAM, LPARAM);
  void hook(HWND window);
  void unhook();
  HWND m_hwnd = nullptr;
  WNDPROC m_prev = nullptr;
  CSubclassWnd *m_next = nullptr;
};

LRESULT subclass_hook_proc(HWND window, UINT msg, WPARAM wparam, LPARAM lparam);
