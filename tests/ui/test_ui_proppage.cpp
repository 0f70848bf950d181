// The property-page base in a frame: objects, activation with combo boxes,
// the changed state through Apply, page info and deactivation.
#include <gtest/gtest.h>

#include <tarvo_ui/ui_proppage.h>
#include <tarvo_ui/ui_resource.h>

#include <string>

#include "gtk_xvfb.h"

namespace {

const UI_DIALOG_ITEM items[] = {
    {UI_CTL_COMBO, 1001, 8, 8, 60, 60, "", 0},
    {UI_CTL_DROPLIST, 1002, 8, 30, 60, 60, "", 0},
    {UI_CTL_EDIT, 1003, 8, 52, 60, 14, "", 0},
    {UI_CTL_STATIC, 1004, 8, 70, 60, 10, "Hidden", UI_CTLF_HIDDEN},
};
const UI_DIALOG_TEMPLATE tmpl = {1000, nullptr, 122, 137, items, 4};
const UI_RESOURCE_ROW strings[] = {{0, 101, "Test Page", nullptr}};
const UI_RESOURCE_TABLE table = {strings, 1, nullptr, 0, nullptr, 0};

struct object : IUnknown {
  ULONG refs = 1;
  HRESULT QueryInterface(REFIID, void **ppv) override
  {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
};

struct test_page : UiPropertyPage {
  IUnknown *connected = nullptr;
  int inits = 0, applies = 0;
  HRESULT apply_result = E_FAIL;
  std::string applied;
  test_page() : UiPropertyPage(&tmpl, 101) {}
  HRESULT OnConnect(IUnknown *o) override
  {
    connected = o;
    return S_OK;
  }
  HRESULT OnDisconnect() override
  {
    connected = nullptr;
    return S_OK;
  }
  HRESULT OnApplyChanges() override
  {
    ++applies;
    char buf[32];
    SendDlgItemMessage(m_hwnd, 1001, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf));
    applied = buf;
    return apply_result;
  }
  LRESULT OnReceiveMessage(HWND h, UINT msg, WPARAM w, LPARAM) override
  {
    if (msg == WM_INITDIALOG) {
      ++inits;
      for (const char *t : {"22050", "44100", "48000"})
        SendDlgItemMessage(h, 1001, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(t));
      for (const char *t : {"8bit", "16bit"}) SendDlgItemMessage(h, 1002, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(t));
      SendDlgItemMessage(h, 1002, CB_SETITEMDATA, 1, 16);
    }
    if (msg == WM_COMMAND && UI_HIWORD(w) == CBN_KILLFOCUS) m_dirty = true;
    return 0;
  }
};

TEST(UiPropPage, ConnectActivateApplyDeactivate)
{
  TARVO_NEED_DISPLAY();
  ASSERT_EQ(UiGtkInit(nullptr, nullptr), 1);
  UiSetResources(&table);
  auto *page = new test_page;
  object obj;

  IUnknown *none = nullptr;
  EXPECT_EQ(page->SetObjects(1, &none), E_POINTER);
  EXPECT_EQ(page->Apply(), E_UNEXPECTED) << "no objects yet";
  IUnknown *objs[] = {&obj};
  EXPECT_EQ(page->SetObjects(1, objs), S_OK);
  EXPECT_EQ(page->connected, &obj);

  PROPPAGEINFO info{};
  ASSERT_EQ(page->GetPageInfo(&info), S_OK);
  EXPECT_EQ(std::u16string(info.pszTitle), u"Test Page");
  int cx = 0, cy = 0;
  UiDialogUnitsToPixels(&tmpl, &cx, &cy);  // in the page's font
  EXPECT_GT(cx, 122);
  EXPECT_EQ(info.size.cx, cx);
  EXPECT_EQ(info.size.cy, cy);
  EXPECT_EQ(info.pszHelpFile, nullptr);
  CoTaskMemFree(info.pszTitle);

  HWND frame = UiFrameCreate("PageHost", "Host", 300, 300, "_About", [](HWND, UINT, WPARAM, LPARAM) -> LRESULT {
    return 0;
  }, nullptr);
  ASSERT_NE(frame, nullptr);
  RECT r{0, 0, 183, 222};
  ASSERT_EQ(page->Activate(frame, &r, FALSE), S_OK);
  EXPECT_EQ(page->Activate(frame, &r, FALSE), E_UNEXPECTED);
  EXPECT_EQ(page->inits, 1);
  HWND dlg = page->Window();
  ASSERT_TRUE(IsWindow(dlg));
  UiWindowShow(frame);

  // The combo boxes: lists, selection, the edit field, item data.
  EXPECT_EQ(SendDlgItemMessage(dlg, 1001, CB_GETCOUNT, 0, 0), 3);
  LRESULT at = SendDlgItemMessage(dlg, 1001, CB_FINDSTRINGEXACT, WPARAM(-1), reinterpret_cast<LPARAM>("44100"));
  EXPECT_EQ(at, 1);
  EXPECT_EQ(SendDlgItemMessage(dlg, 1001, CB_SETCURSEL, WPARAM(at), 0), 1);
  char buf[UI_COMBO_TEXT_MAX];
  SendDlgItemMessage(dlg, 1001, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf));
  EXPECT_STREQ(buf, "44100");
  SendDlgItemMessage(dlg, 1001, CB_SETCURSEL, WPARAM(-1), 0);
  SendDlgItemMessage(dlg, 1001, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("50000"));
  EXPECT_EQ(SendDlgItemMessage(dlg, 1001, CB_GETCURSEL, 0, 0), CB_ERR);
  EXPECT_EQ(SendDlgItemMessage(dlg, 1001, CB_FINDSTRINGEXACT, WPARAM(-1), reinterpret_cast<LPARAM>("50000")), CB_ERR);
  EXPECT_EQ(SendDlgItemMessage(dlg, 1001, CB_SETCURSEL, 3, 0), CB_ERR);
  EXPECT_EQ(SendDlgItemMessage(dlg, 1002, CB_GETCURSEL, 0, 0), CB_ERR);
  EXPECT_EQ(SendDlgItemMessage(dlg, 1002, CB_GETITEMDATA, 1, 0), 16);
  EXPECT_EQ(SendDlgItemMessage(dlg, 1002, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(buf)), 5);
  EXPECT_STREQ(buf, "16bit");
  EXPECT_EQ(SendDlgItemMessage(dlg, 1003, CB_GETCOUNT, 0, 0), CB_ERR) << "not a combo box";
  EXPECT_TRUE(SetDlgItemText(dlg, 1003, "typed"));
  EXPECT_GT(GetDlgItemText(dlg, 1003, buf, sizeof buf), 0u);
  EXPECT_STREQ(buf, "typed");

  // Clean: Apply does nothing; changed: a failing apply keeps it changed.
  EXPECT_EQ(page->IsPageDirty(), S_FALSE);
  EXPECT_EQ(page->Apply(), S_OK);
  EXPECT_EQ(page->applies, 0);
  SendMessage(dlg, WM_COMMAND, UI_MAKEWPARAM(1001, CBN_KILLFOCUS), 0);
  EXPECT_EQ(page->IsPageDirty(), S_OK);
  EXPECT_EQ(page->Apply(), E_FAIL);
  EXPECT_EQ(page->applied, "50000");
  EXPECT_EQ(page->IsPageDirty(), S_OK);
  page->apply_result = S_OK;
  EXPECT_EQ(page->Apply(), S_OK);
  EXPECT_EQ(page->IsPageDirty(), S_FALSE);

  EXPECT_EQ(page->Show(SW_HIDE), S_OK);
  EXPECT_EQ(page->Show(SW_SHOW), S_OK);
  EXPECT_EQ(page->Deactivate(), S_OK);
  EXPECT_FALSE(IsWindow(dlg));
  EXPECT_EQ(page->Deactivate(), E_UNEXPECTED);
  EXPECT_EQ(page->SetObjects(0, nullptr), S_OK);
  EXPECT_EQ(page->connected, nullptr);
  EXPECT_EQ(page->Release(), 0u);
  DestroyWindow(frame);
}

}  // namespace
