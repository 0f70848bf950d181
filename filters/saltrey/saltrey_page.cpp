// The downmix filter's property page: the mixing method and, by method, the
// Lo/Ro or Lt/Rt levels or the Custom gains and phase inversions, each
// change written to the filter at once; drawn with the skin.
#include "saltrey_page.h"

#include <saltrey/saltrey.h>
#include <tarvo_ui/ui_proppage.h>
#include <tarvo_ui/ui_proppage_class.h>
#include <tarvo_ui/ui_proppage_skin.h>

#include "downmix_engine.h"

#include <cmath>
#include <cstdio>

namespace {

const char *const kTitle = "DownMix";  // string 1
const char *const kNone = "None";      // string 20316
const char *const kMethods[] = {"Lo/Ro", "Lt/Rt", "Custom"};  // strings 20313-20315
const char *const kLevels[] = {"0.0", "-3.0", "-4.4", "-6.0"};
constexpr int kGainIndexes = 256;
constexpr int kRows = 6;

#define DM_LABEL(id, x, y, cx, text, flags) {UI_CTL_STATIC, id, x, y, cx, 10, text, flags}
#define DM_LIST(id, x, y, cx, flags) {UI_CTL_DROPLIST, id, x, y, cx, 14, "", flags}
#define DM_PHASE(id, x, y) {UI_CTL_CHECK, id, x, y, 22, 14, "-", UI_CTLF_HIDDEN}
// One row of the Custom group: its head, then each output's phase box, gain
// list and "dB".
#define DM_ROW(r, head, y)                                                                                     \
  DM_LABEL(1304 + r, 14, y + 2, 20, head, UI_CTLF_HIDDEN), DM_PHASE(IDC_DM_LEFT_PHASE + r, 36, y),              \
      DM_LIST(IDC_DM_LEFT_GAIN + r, 62, y, 48, UI_CTLF_HIDDEN),                                                \
      DM_LABEL(1310 + r, 112, y + 2, 12, "dB", UI_CTLF_HIDDEN), DM_PHASE(IDC_DM_RIGHT_PHASE + r, 128, y),      \
      DM_LIST(IDC_DM_RIGHT_GAIN + r, 154, y, 48, UI_CTLF_HIDDEN),                                              \
      DM_LABEL(1316 + r, 204, y + 2, 12, "dB", UI_CTLF_HIDDEN)

// The level group and the Custom group share one place; the Lt/Rt lists lie
// over the Lo/Ro ones.  What shows first is the Lo/Ro layout.
const UI_DIALOG_ITEM kItems[] = {
    DM_LABEL(IDC_DM_METHOD_LABEL, 7, 10, 90, "ミキシング方法(&M) :", 0),
    DM_LIST(IDC_DM_METHOD, 100, 8, 70, 0),
    {UI_CTL_GROUPBOX, IDC_DM_LEVEL_GROUP, 7, 28, 221, 86, "ゲイン", 0},
    DM_LABEL(1401, 16, 46, 102, "センターチャンネル(&C)", 0),
    DM_LABEL(1402, 16, 68, 102, "サラウンドチャンネル(&S)", 0),
    DM_LABEL(1403, 16, 90, 102, "LFEチャンネル(&L)", 0),
    DM_LIST(IDC_DM_LORO, 122, 44, 56, 0),
    DM_LIST(IDC_DM_LORO + 1, 122, 66, 56, 0),
    DM_LIST(IDC_DM_LORO + 2, 122, 88, 56, 0),
    DM_LIST(IDC_DM_LTRT, 122, 44, 56, UI_CTLF_HIDDEN),
    DM_LIST(IDC_DM_LTRT + 1, 122, 66, 56, UI_CTLF_HIDDEN),
    DM_LIST(IDC_DM_LTRT + 2, 122, 88, 56, UI_CTLF_HIDDEN),
    DM_LABEL(1404, 182, 46, 16, "dB", 0),
    DM_LABEL(1405, 182, 68, 16, "dB", 0),
    DM_LABEL(1406, 182, 90, 16, "dB", 0),
    {UI_CTL_GROUPBOX, IDC_DM_CUSTOM_GROUP, 7, 28, 221, 173, "位相・ゲイン", UI_CTLF_HIDDEN},
    DM_LABEL(1302, 36, 42, 60, "Left", UI_CTLF_HIDDEN),
    DM_LABEL(1303, 128, 42, 60, "Right", UI_CTLF_HIDDEN),
    DM_LABEL(1347, 36, 54, 22, "位相", UI_CTLF_HIDDEN),
    DM_LABEL(1349, 62, 54, 40, "ゲイン", UI_CTLF_HIDDEN),
    DM_LABEL(1348, 128, 54, 22, "位相", UI_CTLF_HIDDEN),
    DM_LABEL(1350, 154, 54, 40, "ゲイン", UI_CTLF_HIDDEN),
    DM_ROW(0, "L", 66),
    DM_ROW(1, "R", 88),
    DM_ROW(2, "C", 110),
    DM_ROW(3, "Ls", 132),
    DM_ROW(4, "Rs", 154),
    DM_ROW(5, "Lfe", 176),
};
const UI_DIALOG_TEMPLATE kTemplate = {IDD_DOWNMIX_PAGE, "", 235, 208, kItems, sizeof kItems / sizeof kItems[0]};

// The accessors of IDownmixSettings by position.  A switch rather than a
// table of member pointers: with GCC 12's undefined-behaviour checks, calls
// through such a table all reached the first accessor.
#define DM_GET_CASE(name, k) \
  case k: s->Get##name(&v); break;
#define DM_SET_CASE(name, k) \
  case k: s->Set##name(v); break;
int get_setting(IDownmixSettings *s, int k)
{
  int v = 0;
  switch (k) { DOWNMIX_ACCESSORS(DM_GET_CASE) default: break; }
  return v;
}
void set_setting(IDownmixSettings *s, int k, int v)
{
  switch (k) { DOWNMIX_ACCESSORS(DM_SET_CASE) default: break; }
}

// Controls that edit a setting: consecutive ids on consecutive accessors.
struct control_run {
  UINT first;
  int count, accessor;
  bool check;
};
const control_run kRuns[] = {
    {IDC_DM_METHOD, 1, 0, false},       {IDC_DM_LORO, 3, 1, false},       {IDC_DM_LTRT, 3, 4, false},
    {IDC_DM_LEFT_GAIN, kRows, 7, false}, {IDC_DM_RIGHT_GAIN, kRows, 13, false},
    {IDC_DM_LEFT_PHASE, kRows, 19, true}, {IDC_DM_RIGHT_PHASE, kRows, 25, true},
};

const control_run *run_of(UINT id)
{
  for (const control_run &r : kRuns)
    if (id >= r.first && id < r.first + UINT(r.count)) return &r;
  return nullptr;
}

// The gain lists' entries after "None": index j in dB, "%.1f".
struct gain_texts {
  char text[kGainIndexes][12];
  gain_texts()
  {
    for (int j = 1; j < kGainIndexes; ++j)
      std::snprintf(text[j], sizeof text[j], "%.1f", 20.0 * std::log10(downmix_index_gain(j)));
  }
};

void show_ids(HWND dlg, UINT first, UINT last, bool show)
{
  for (UINT id = first; id <= last; ++id) ShowDlgItem(dlg, id, show);
}

void add_items(HWND dlg, UINT id, const char *const *texts, int n)
{
  for (int i = 0; i < n; ++i) SendDlgItemMessage(dlg, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(texts[i]));
}

class CDownmixPropertyPage final : public UiPropertyPage, public CBaseObject {
 public:
  CDownmixPropertyPage() : UiPropertyPage(&kTemplate, 1, kTitle), CBaseObject("CDownmixPropertyPage") {}

  HRESULT GetPageInfo(PROPPAGEINFO *info) override
  {
    HRESULT hr = UiPropertyPage::GetPageInfo(info);
    if (hr == S_OK) info->dwHelpContext = 1;
    return hr;
  }

 private:
  ~CDownmixPropertyPage() override
  {
    if (m_hwnd) DestroyWindow(m_hwnd);  // while this page still gets its WM_DESTROY
    if (m_settings) m_settings->Release();
  }

  HRESULT OnConnect(IUnknown *unk) override
  {
    if (m_settings) OnDisconnect();
    IDownmixSettings *s = nullptr;
    if (FAILED(unk->QueryInterface(IID_IDownmixSettings, reinterpret_cast<void **>(&s))) || !s) return E_NOINTERFACE;
    m_settings = s;
    Register(DOWNMIX_PAGE_NOTIFY_ID);
    Refresh(0);
    return S_OK;
  }

  HRESULT OnDisconnect() override
  {
    if (!m_settings) return E_UNEXPECTED;
    Register(0);
    m_settings->Release();
    m_settings = nullptr;
    return S_OK;
  }

  void Register(int id)
  {
    if (m_settings && m_hwnd) m_settings->SetNotifyWindow(m_hwnd, id);
  }
  int Get(int k) { return get_setting(m_settings, k); }
  void Set(int k, int v) { set_setting(m_settings, k, v); }

  void InitDialog(HWND dlg)
  {
    SkinSharedAcquire(dlg);
    int cx = 0, cy = 0;
    UiDialogSize(dlg, &cx, &cy);  // as its controls' texts laid it out
    SkinSharedBackground()->Compose(cx, cy);
    static const gain_texts gains;
    add_items(dlg, IDC_DM_METHOD, kMethods, 3);
    for (UINT id : {IDC_DM_LORO, IDC_DM_LTRT})
      for (UINT i = 0; i < 3; ++i) {
        SendDlgItemMessage(dlg, id + i, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kNone));
        add_items(dlg, id + i, kLevels, 4);
      }
    for (UINT id : {IDC_DM_LEFT_GAIN, IDC_DM_RIGHT_GAIN})
      for (UINT i = 0; i < kRows; ++i) {
        SendDlgItemMessage(dlg, id + i, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kNone));
        for (int j = 1; j < kGainIndexes; ++j)
          SendDlgItemMessage(dlg, id + i, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(gains.text[j]));
      }
    for (UINT i = 0; i < kRows; ++i) {
      UiDlgButtonPushLike(dlg, IDC_DM_LEFT_PHASE + i);
      UiDlgButtonPushLike(dlg, IDC_DM_RIGHT_PHASE + i);
    }
    Register(DOWNMIX_PAGE_NOTIFY_ID);
    Refresh(0);
  }

  void Select(UINT first, int accessor, int n)
  {
    for (int i = 0; i < n; ++i) SendDlgItemMessage(m_hwnd, first + UINT(i), CB_SETCURSEL, WPARAM(Get(accessor + i)), 0);
  }

  // Everything (id 0) or what follows from the method (its list's id).
  void Refresh(UINT id)
  {
    if (!m_settings || !m_hwnd || (id != 0 && id != IDC_DM_METHOD)) return;
    int method = Get(0);
    bool listed = method >= DM_METHOD_LORO && method <= DM_METHOD_CUSTOM;
    // Method None has no entry: the list shows none, the rest stays as it is.
    SendDlgItemMessage(m_hwnd, IDC_DM_METHOD, CB_SETCURSEL, listed ? WPARAM(method) : WPARAM(-1), 0);
    if (!listed) return;
    bool custom = method == DM_METHOD_CUSTOM;
    show_ids(m_hwnd, IDC_DM_LEVEL_GROUP, IDC_DM_LEVEL_GROUP + 6, !custom);
    show_ids(m_hwnd, IDC_DM_LORO, IDC_DM_LORO + 2, method == DM_METHOD_LORO);
    show_ids(m_hwnd, IDC_DM_LTRT, IDC_DM_LTRT + 2, method == DM_METHOD_LTRT);
    show_ids(m_hwnd, IDC_DM_CUSTOM_FIRST, IDC_DM_CUSTOM_LAST, custom);
    if (method == DM_METHOD_LORO) Select(IDC_DM_LORO, 1, 3);
    if (method == DM_METHOD_LTRT) Select(IDC_DM_LTRT, 4, 3);
    if (!custom) return;
    Select(IDC_DM_LEFT_GAIN, 7, kRows);
    Select(IDC_DM_RIGHT_GAIN, 13, kRows);
    for (int i = 0; i < kRows; ++i) {
      CheckDlgButton(m_hwnd, IDC_DM_LEFT_PHASE + UINT(i), Get(19 + i));
      CheckDlgButton(m_hwnd, IDC_DM_RIGHT_PHASE + UINT(i), Get(25 + i));
    }
  }

  void Command(UINT id, UINT code)
  {
    if (!m_settings) return;
    if (id == DOWNMIX_PAGE_NOTIFY_ID) {
      if (code == DOWNMIX_NOTIFY_LOADED) Refresh(0);  // the format notices change nothing here
      return;
    }
    const control_run *run = run_of(id);
    if (!run) return;
    int k = run->accessor + int(id - run->first);
    if (run->check) {
      if (code != BN_CLICKED) return;
      Set(k, !Get(k));
      CheckDlgButton(m_hwnd, id, Get(k));  // the box shows what the filter keeps
      return;
    }
    // A list without a selection (method None from another client) has
    // nothing to say: CB_ERR would be clamped into the first entry.
    LRESULT sel = SendDlgItemMessage(m_hwnd, id, CB_GETCURSEL, 0, 0);
    if (sel == CB_ERR) return;
    Set(k, int(sel));
    Refresh(id);
  }

  LRESULT OnReceiveMessage(HWND dlg, UINT msg, WPARAM w, LPARAM) override
  {
    switch (msg) {
      case WM_INITDIALOG: InitDialog(dlg); return 1;
      case WM_ERASEBKGND: {
        SkinDialogBackground *bg = SkinSharedBackground();
        int cx = 0, cy = 0;
        UiDialogSize(dlg, &cx, &cy);
        if (bg) bg->Compose(cx, cy);  // the layout may have grown the page since
        RECT all{0, 0, cx, cy};
        if (bg && bg->Brush()) FillRect(reinterpret_cast<HDC>(w), &all, bg->Brush());
        return 1;
      }
      case WM_COMMAND: Command(UI_LOWORD(w), UI_HIWORD(w)); return 1;
      case WM_DESTROY:
        // No help viewer to close on this platform.
        Register(0);
        SkinSharedRelease();
        return 0;
      default: return 0;
    }
  }

  IDownmixSettings *m_settings = nullptr;
};

}  // namespace

CUnknown *CreateDownmixPropertyPage(LPUNKNOWN outer, HRESULT *phr)
{
  return UiPropertyPageCreate<CDownmixPropertyPage>(outer, phr);
}
