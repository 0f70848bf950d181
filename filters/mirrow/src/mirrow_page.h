// The resample filter's settings page.
#pragma once

#include <tarvo_dshow/base_unknown.h>
#include <tarvo_ui/ui_controls.h>

// Control ids of the page's dialog 1000.
enum { IDD_RESAMPLE_PAGE = 1000, IDC_RATE = 1001, IDC_WIDTH = 1002, IDC_QUALITY = 1008 };

// A new page, not connected, for the class factory; aggregation is refused.
CUnknown *CreateResamplePropertyPage(LPUNKNOWN outer, HRESULT *phr);

// The library's slider cursors, which its page's slider shows.
extern const UI_CURSOR_TABLE mirrow_cursors;
