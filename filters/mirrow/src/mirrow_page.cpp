// The resample filter's property page: sampling rate, quality slider and
// sample width, drawn with the skin.
#include "mirrow_page.h"

#include <mirrow/mirrow.h>
#include <tarvo_ui/ui_proppage.h>
#include <tarvo_ui/ui_proppage_class.h>
#include <tarvo_ui/ui_proppage_skin.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char *const kTitle = "Orlenta Resample";  // string 101
const char *const kRangeWarning = "サンプリング周波数は %dHz ～ %dHz の範囲内を指定してください。";  // string 102
constexpr int kRateMin = 2000, kRateMax = 192000;
constexpr int kRateTextMax = 31;

const int kRates[] = {2000,  4000,  6000,  8000,  11025, 12000,  16000,  22050,  24000,
                      32000, 44100, 48000, 64000, 88200, 96000, 128000, 176400, 192000};
struct width_row {
  const char *text;
  int bits;
};
const width_row kWidths[] = {{"8bit", 8}, {"16bit", 16}, {"20bit", 20}, {"24bit", 24}, {"32bit (float)", 32}};

const UI_DIALOG_ITEM kItems[] = {
    {UI_CTL_GROUPBOX, 0, 7, 4, 108, 34, "サンプリング周波数", 0},
    {UI_CTL_COMBO, IDC_RATE, 14, 16, 70, 14, "", 0},
    {UI_CTL_STATIC, 0, 88, 18, 20, 10, "H&z", 0},
    {UI_CTL_STATIC, 0, 7, 44, 60, 10, "演算精度(&Q)", 0},
    {UI_CTL_CUSTOM, IDC_QUALITY, 7, 56, 108, 18, "", 0},
    {UI_CTL_STATIC, 0, 7, 76, 30, 10, "高速", 0},
    {UI_CTL_STATIC, 0, 85, 76, 30, 10, "詳細", 0},
    {UI_CTL_GROUPBOX, 0, 7, 92, 108, 38, "量子化ビット数", 0},
    {UI_CTL_DROPLIST, IDC_WIDTH, 14, 106, 90, 14, "", 0},
};
const UI_DIALOG_TEMPLATE kTemplate = {IDD_RESAMPLE_PAGE, "", 122, 137, kItems, sizeof kItems / sizeof kItems[0]};

void select_or_type(HWND dlg, UINT id, const char *text, int allow_text)
{
  LRESULT at = SendDlgItemMessage(dlg, id, CB_FINDSTRINGEXACT, WPARAM(-1), reinterpret_cast<LPARAM>(text));
  SendDlgItemMessage(dlg, id, CB_SETCURSEL, WPARAM(at), 0);
  if (at == CB_ERR && allow_text) SendDlgItemMessage(dlg, id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

class CResamplePropertyPage final : public UiPropertyPage, public CBaseObject {
 public:
  CResamplePropertyPage() : UiPropertyPage(&kTemplate, 101, kTitle), CBaseObject("CResamplePropertyPage") {}

 private:
  ~CResamplePropertyPage() override
  {
    if (m_settings) m_settings->Release();
  }

  HRESULT OnConnect(IUnknown *unk) override
  {
    if (!unk) return E_POINTER;
    IResampleSettings *s = nullptr;
    if (FAILED(unk->QueryInterface(IID_IResampleSettings, reinterpret_cast<void **>(&s))) || !s)
      return E_NOINTERFACE;
    if (m_settings) m_settings->Release();
    m_settings = s;
    s->GetSampleRate(&m_rate);
    s->GetBitsPerSample(&m_bits);
    s->GetFilterHalfLength(&m_half);
    return S_OK;
  }

  HRESULT OnDisconnect() override
  {
    if (!m_settings) return E_UNEXPECTED;
    m_settings->Release();
    m_settings = nullptr;
    return S_OK;
  }

  HRESULT OnApplyChanges() override
  {
    if (!m_settings) return E_UNEXPECTED;
    char text[kRateTextMax + 1] = "";
    SendDlgItemMessage(m_hwnd, IDC_RATE, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    long rate = std::strtol(text, nullptr, 10);
    HRESULT hr = S_OK;
    if (rate < kRateMin || rate > kRateMax) {
      char warning[256];
      std::snprintf(warning, sizeof warning, kRangeWarning, kRateMin, kRateMax);
      MessageBox(m_hwnd, warning, kTitle, MB_OK | MB_ICONWARNING);
      rate = rate < kRateMin ? kRateMin : kRateMax;
      hr = E_FAIL;
    }
    HRESULT set = m_settings->SetSampleRate(int(rate));
    if (hr == S_OK) hr = set;
    char width[UI_COMBO_TEXT_MAX] = "";
    LRESULT sel = SendDlgItemMessage(m_hwnd, IDC_WIDTH, CB_GETCURSEL, 0, 0);
    if (sel != CB_ERR) SendDlgItemMessage(m_hwnd, IDC_WIDTH, CB_GETLBTEXT, WPARAM(sel), reinterpret_cast<LPARAM>(width));
    for (const width_row &w : kWidths)
      if (std::strcmp(w.text, width) == 0) m_settings->SetBitsPerSample(w.bits);
    return hr;
  }

  void InitDialog(HWND dlg)
  {
    SkinSharedAcquire(dlg);
    int cx = 0, cy = 0;
    UiDialogSize(dlg, &cx, &cy);  // as its controls' texts laid it out
    SkinSharedBackground()->Compose(cx, cy);
    char text[16];
    for (int r : kRates) {
      std::snprintf(text, sizeof text, "%d", r);
      SendDlgItemMessage(dlg, IDC_RATE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }
    std::snprintf(text, sizeof text, "%d", m_rate);
    select_or_type(dlg, IDC_RATE, text, 1);
    m_slider = new SkinSlider;
    m_slider->Attach(GetDlgItem(dlg, IDC_QUALITY));
    m_slider->SetParent(dlg);
    m_slider->SetCursors(&mirrow_cursors);
    m_slider->SetOrientation(0);
    m_slider->SetStyle(0);
    m_slider->SetRange(8, 64, 8, 1);
    RECT_XYWH place{0, 0, kItems[4].cx * 3 / 2, kItems[4].cy * 13 / 8};
    m_slider->Layout(place.cx, place.cy);
    m_slider->SetValue(m_half);
    for (const width_row &w : kWidths) {
      LRESULT at = SendDlgItemMessage(dlg, IDC_WIDTH, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(w.text));
      if (w.bits == m_bits) SendDlgItemMessage(dlg, IDC_WIDTH, CB_SETCURSEL, WPARAM(at), 0);
    }
  }

  LRESULT OnReceiveMessage(HWND dlg, UINT msg, WPARAM w, LPARAM) override
  {
    switch (msg) {
      case WM_INITDIALOG: InitDialog(dlg); return 1;
      case WM_ERASEBKGND:
        if (SkinDialogBackground *bg = SkinSharedBackground()) {
          int cx = 0, cy = 0;
          UiDialogSize(dlg, &cx, &cy);
          bg->Compose(cx, cy);  // the layout may have grown the page since
          SIZE size{0, 0};
          if (GetBitmapSize(bg->Bitmap(), &size)) {
            RECT all{0, 0, size.cx, size.cy};
            FillRect(reinterpret_cast<HDC>(w), &all, bg->Brush());
          }
        }
        return 1;
      case WM_HSCROLL:
        if (m_slider && m_settings) m_settings->SetFilterHalfLength(int(m_slider->GetValue()));
        return 0;
      case WM_COMMAND:
        if ((UI_LOWORD(w) == IDC_RATE || UI_LOWORD(w) == IDC_WIDTH) && UI_HIWORD(w) == CBN_KILLFOCUS) m_dirty = true;
        return 0;
      case WM_DESTROY:
        delete m_slider;
        m_slider = nullptr;
        SkinSharedRelease();
        return 0;
      default: return 0;
    }
  }

  IResampleSettings *m_settings = nullptr;
  int m_rate = 0, m_bits = 16, m_half = 8;
  SkinSlider *m_slider = nullptr;
};

}  // namespace

CUnknown *CreateResamplePropertyPage(LPUNKNOWN outer, HRESULT *phr)
{
  return UiPropertyPageCreate<CResamplePropertyPage>(outer, phr);
}
