// The notification popup: a borderless round-rect window at the panel's
// corner of the work area that fades in, waits for the user, fades out and
// sets "InfoDlgCloseEvent" once per dismissal.
#pragma once

#include "popup_place.h"

#include <tarvo_platform/named.h>
#include <tarvo_ui/ui_popup.h>

#include <string>
#include <vector>

// Dialog units of the popup's template, and their pixels at its 9-point font.
constexpr int dlu_x(int v) { return v * 3 / 2; }
constexpr int dlu_y(int v) { return v * 13 / 8; }
constexpr uint32_t POPUP_FILL_RGB = 0xFFFFE1;  // 255, 255, 225

class CNotifyPopupDlg {
 public:
  explicit CNotifyPopupDlg(HWND parent);
  ~CNotifyPopupDlg();
  void SetTexts(const std::string &message, const std::string &host_line);
  void Show();
  // Brings a shown popup to the top again.
  void Raise();
  void FadeOut(int result);
  int Result() const { return m_result; }
  int IsVisible() const { return m_shown; }
  HWND Window() const { return m_hwnd; }
  const ui_popup *Popup() const { return m_popup; }
  // The text of the template's n-th static: title, host line, message.
  std::string Label(int n) const;
  int Alpha() const { return m_alpha; }

 private:
  static LRESULT proc(HWND h, UINT msg, WPARAM w, LPARAM l);
  LRESULT on_message(UINT msg, WPARAM w, LPARAM l);
  // A control of the template: its label or image slot and its pixels.
  struct control {
    UINT id;
    int slot, x, y, w, h;
  };
  void build();
  control *find(UINT id);
  void set_text(UINT id, const std::string &text, int mode, int weight);
  void set_image(UINT id, unsigned bitmap);
  void place();
  void fade_step();

  HWND m_hwnd = nullptr;
  ui_popup *m_popup = nullptr;
  named_event_rec *m_event = nullptr;
  std::string m_message, m_host;
  std::vector<control> m_controls;
  int m_w = 0, m_h = 0, m_closeX = 0, m_closeY = 0, m_closeW = 0, m_closeH = 0;
  bool m_dialog = false;  // the popup is the template's dialog
  int m_fadeIn = 1, m_alpha = 0, m_result = 0, m_shown = 0, m_hover = 0, m_timing = 0;
};

// The name of the event the popup sets and the main window tests.
constexpr const char *POPUP_CLOSE_EVENT = "InfoDlgCloseEvent";
