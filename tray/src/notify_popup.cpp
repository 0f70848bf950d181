// The popup's messages: fade timer, clicks, keys, the close button's hover.
#include "notify_popup.h"

#include "helper_app.h"
#include "quessel_resources.h"

#include <tarvo_ui/ui_gtk.h>
#include <tarvo_ui/ui_resource.h>

namespace {

constexpr uintptr_t FADE_TIMER = 1;
enum : UINT { ID_MESSAGE = 1013, ID_HOST = 1023, ID_ICON = 1026, ID_CLOSE = 1027, ID_TITLE = 1029 };

// The popup's template: labels are statics, the close button and the
// client's picture are image controls; the texts are its placeholders.
const UI_DIALOG_ITEM popup_items[] = {
    {UI_CTL_STATIC, ID_TITLE, 25, 5, 110, 8, nullptr, 0},   {UI_CTL_ICON, ID_CLOSE, 145, 5, 9, 11, nullptr, 0},
    {UI_CTL_ICON, ID_ICON, 5, 5, 8, 9, nullptr, 0},         {UI_CTL_STATIC, ID_HOST, 5, 20, 155, 8, nullptr, 0},
    {UI_CTL_STATIC, ID_MESSAGE, 5, 30, 155, 18, nullptr, 0},
};
const UI_DIALOG_TEMPLATE popup_template = {QIDD_POPUP, "", 162, 51, popup_items,
                                           sizeof popup_items / sizeof popup_items[0]};

std::string template_text(const UI_DIALOG_ITEM &it)
{
  char buf[1024];
  if (it.text) return it.text;
  return LoadDialogText(popup_template.id, it.id, buf, sizeof buf) ? buf : "";
}

}  // namespace

CNotifyPopupDlg::CNotifyPopupDlg(HWND)
    : m_w(dlu_x(popup_template.cx)), m_h(dlu_y(popup_template.cy))
{
  // The modeless dialog of the template, its window made the popup.
  m_hwnd = CreateDialogTemplate(nullptr, &popup_template, proc, this);
  GtkWidget *top = m_hwnd ? UiGtkWidget(m_hwnd) : nullptr;
  m_popup = top ? UiPopupFromWindow(m_hwnd, top, m_w, m_h, POPUP_CORNER, POPUP_FILL_RGB) : nullptr;
  m_dialog = m_popup != nullptr;
  if (!m_dialog) {  // without a display: the popup's state alone, in a window of the class
    if (m_hwnd) DestroyWindow(m_hwnd);
    m_hwnd = CreateMessageWindow(UI_DIALOG_CLASS, "", proc, this);
    m_popup = UiPopupCreate(m_hwnd, m_w, m_h, POPUP_CORNER, POPUP_FILL_RGB);
  }
  // WM_CREATE: transparent from the start, the fade timer running.
  m_alpha = 0;
  UiPopupSetAlpha(m_popup, 0);
  m_timing = SetTimer(m_hwnd, FADE_TIMER, POPUP_FADE_MS) != 0;
  build();
  // Set-up: title, images, the event, the place.
  set_text(ID_TITLE, HELPER_TITLE, UI_POPUP_LINE, 400);
  set_image(ID_ICON, QIDB_CLIENT);
  m_event = named_event_open(POPUP_CLOSE_EVENT);
  place();
}

// The template's controls and their places; without the dialog, its statics
// become the popup's labels (in order) with their placeholder texts.
void CNotifyPopupDlg::build()
{
  int labels = 0, images = 0;
  for (uint32_t i = 0; i < popup_template.item_count; ++i) {
    const UI_DIALOG_ITEM &it = popup_template.items[i];
    bool label = it.kind == UI_CTL_STATIC;
    control c{it.id, label ? labels++ : images++, dlu_x(it.x), dlu_y(it.y), dlu_x(it.cx), dlu_y(it.cy)};
    m_controls.push_back(c);
    if (label && !m_dialog) UiPopupSetLabel(m_popup, c.slot, c.x, c.y, c.w, c.h, template_text(it).c_str(), UI_POPUP_LINE, 400);
  }
  if (control *close = find(ID_CLOSE)) {
    m_closeW = close->w;
    m_closeH = close->h;
  }
}

CNotifyPopupDlg::control *CNotifyPopupDlg::find(UINT id)
{
  for (control &c : m_controls)
    if (c.id == id) return &c;
  return nullptr;
}

void CNotifyPopupDlg::set_text(UINT id, const std::string &text, int mode, int weight)
{
  control *c = find(id);
  if (!c) return;
  if (!m_dialog) {
    UiPopupSetLabel(m_popup, c->slot, c->x, c->y, c->w, c->h, text.c_str(), mode, weight);
    return;
  }
  SetDlgItemText(m_hwnd, id, text.c_str());
  UiPopupStyleStatic(m_popup, id, mode, weight);
}

void CNotifyPopupDlg::set_image(UINT id, unsigned bitmap)
{
  control *c = find(id);
  std::string path = quessel_image_path(bitmap);
  if (c && m_dialog) UiPopupSetItemImage(m_popup, id, c->x, c->y, path.c_str());
  else if (c) UiPopupSetImage(m_popup, c->slot, c->x, c->y, path.c_str());
}

std::string CNotifyPopupDlg::Label(int n) const
{
  if (!m_dialog) return UiPopupLabel(m_popup, n) ? UiPopupLabel(m_popup, n) : "";
  for (uint32_t i = 0; i < popup_template.item_count; ++i) {
    if (popup_template.items[i].kind != UI_CTL_STATIC || n-- != 0) continue;
    char buf[1024] = "";
    GetDlgItemText(m_hwnd, popup_template.items[i].id, buf, sizeof buf);
    return buf;
  }
  return "";
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
  if (control *close = find(ID_CLOSE)) {
    close->x = m_closeX;
    close->y = m_closeY;
  }
  set_image(ID_CLOSE, QIDB_CLOSE);
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
  set_text(ID_HOST, m_host, UI_POPUP_CENTRED, 700);
  set_text(ID_MESSAGE, m_message, UI_POPUP_WRAP, 400);
  set_text(ID_TITLE, HELPER_TITLE, UI_POPUP_LINE, 400);
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
  case WM_COMMAND:  // handled here: the dialog is not ended by its buttons
    if (w == ID_CLOSE || w == IDCANCEL) FadeOut(0);
    else if (w == IDOK) FadeOut(1);
    return 1;
  case WM_MOUSEMOVE:
    if (on_close != bool(m_hover)) {
      m_hover = on_close;
      set_image(ID_CLOSE, on_close ? QIDB_CLOSE_HOVER : QIDB_CLOSE);
    }
    break;
  case WM_NCDESTROY: m_hwnd = nullptr; break;
  }
  return 0;
}
