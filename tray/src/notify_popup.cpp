// The popup's messages: fade timer, clicks, keys, the close button's hover.
#include "notify_popup.h"

#include "helper_app.h"
#include "quessel_resources.h"

namespace {

enum : int { SLOT_TITLE = 0, SLOT_HOST = 1, SLOT_MESSAGE = 2 };
enum : int { IMAGE_CLOSE = 0, IMAGE_CLIENT = 1 };
constexpr uintptr_t FADE_TIMER = 1;
constexpr UINT ID_CLOSE = 1027;

std::string image(unsigned id) { return program_folder() + "/" + quessel_image_name(id); }

}  // namespace

CNotifyPopupDlg::CNotifyPopupDlg(HWND) : m_w(dlu_x(POPUP_DLU_W)), m_h(dlu_y(POPUP_DLU_H))
{
  m_hwnd = CreateMessageWindow("#32770", "", proc, this);
  m_popup = UiPopupCreate(m_hwnd, m_w, m_h, POPUP_CORNER, POPUP_FILL_RGB);
  // WM_CREATE: transparent from the start, the fade timer running.
  m_alpha = 0;
  UiPopupSetAlpha(m_popup, 0);
  m_timing = SetTimer(m_hwnd, FADE_TIMER, POPUP_FADE_MS) != 0;
  // Set-up: title, images, the event, the place.
  UiPopupSetLabel(m_popup, SLOT_TITLE, dlu_x(25), dlu_y(5), dlu_x(110), dlu_y(8), HELPER_TITLE, UI_POPUP_LINE, 400);
  UiPopupSetImage(m_popup, IMAGE_CLIENT, dlu_x(5), dlu_y(5), image(QIDB_CLIENT).c_str());
  m_event = named_event_open(POPUP_CLOSE_EVENT);
  place();
}

CNotifyPopupDlg::~CNotifyPopupDlg()
{
  UiPopupDestroy(m_popup);
  if (m_hwnd) DestroyWindow(m_hwnd);
  named_event_close(m_event);
}

void CNotifyPopupDlg::place()
{
  m_closeX = m_w - m_closeW - POPUP_CLOSE_MARGIN;
  m_closeY = POPUP_CLOSE_MARGIN;
  UiPopupSetImage(m_popup, IMAGE_CLOSE, m_closeX, m_closeY, image(QIDB_CLOSE).c_str());
  popup_rect work{0, 0, 0, 0};
  int edge = PANEL_NONE, x, y;
  if (!UiWorkArea(&work.x, &work.y, &work.w, &work.h, &edge)) edge = PANEL_NONE;
  popup_place(edge, work, m_w, m_h, &x, &y);
  UiPopupMove(m_popup, x, y);
}

void CNotifyPopupDlg::SetTexts(const std::string &message, const std::string &host_line)
{
  m_message = message;
  m_host = host_line;
}

void CNotifyPopupDlg::Show()
{
  // WM_SHOWWINDOW: the labels with their modes.
  UiPopupSetLabel(m_popup, SLOT_HOST, dlu_x(5), dlu_y(20), dlu_x(155), dlu_y(8), m_host.c_str(), UI_POPUP_CENTRED, 700);
  UiPopupSetLabel(m_popup, SLOT_MESSAGE, dlu_x(5), dlu_y(30), dlu_x(155), dlu_y(18), m_message.c_str(), UI_POPUP_WRAP,
                  400);
  UiPopupShow(m_popup, 1);
  m_shown = 1;
}

void CNotifyPopupDlg::Raise()
{
  if (m_shown) UiPopupShow(m_popup, 1);
}

void CNotifyPopupDlg::FadeOut(int result)
{
  m_result = result;
  m_fadeIn = 0;
  m_alpha = 255;
  m_timing = SetTimer(m_hwnd, FADE_TIMER, POPUP_FADE_MS) != 0;
}

void CNotifyPopupDlg::fade_step()
{
  if (popup_fade_step(m_fadeIn, &m_alpha)) {
    KillTimer(m_hwnd, FADE_TIMER);
    m_timing = 0;
    if (!m_fadeIn) named_event_set(m_event);
  }
  UiPopupSetAlpha(m_popup, m_alpha);
}

LRESULT CNotifyPopupDlg::proc(HWND h, UINT msg, WPARAM w, LPARAM l)
{
  auto *self = static_cast<CNotifyPopupDlg *>(GetWindowUserData(h));
  return self ? self->on_message(msg, w, l) : 0;
}

LRESULT CNotifyPopupDlg::on_message(UINT msg, WPARAM w, LPARAM l)
{
  int x = int(l & 0xFFFF), y = int((l >> 16) & 0xFFFF);
  bool on_close = x >= m_closeX && x < m_closeX + m_closeW && y >= m_closeY && y < m_closeY + m_closeH;
  switch (msg) {
  case WM_TIMER:
    if (w == FADE_TIMER) fade_step();
    break;
  case WM_LBUTTONDOWN:
    if (on_close) PostMessage(m_hwnd, WM_COMMAND, ID_CLOSE, 0);  // the button's click notification
    else FadeOut(1);
    break;
  case WM_RBUTTONDOWN: FadeOut(0); break;
  case WM_COMMAND:
    if (w == ID_CLOSE || w == IDCANCEL) FadeOut(0);
    else if (w == IDOK) FadeOut(1);
    break;
  case WM_MOUSEMOVE:
    if (on_close != bool(m_hover)) {
      m_hover = on_close;
      UiPopupSetImage(m_popup, IMAGE_CLOSE, m_closeX, m_closeY, image(on_close ? QIDB_CLOSE_HOVER : QIDB_CLOSE).c_str());
    }
    break;
  case WM_NCDESTROY: m_hwnd = nullptr; break;
  }
  return 0;
}
