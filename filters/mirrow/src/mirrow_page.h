// The resample filter's settings page.
#pragma once

#include <tarvo_dshow/base_unknown.h>

// Control ids of the page's dialog 1000.
enum { IDD_RESAMPLE_PAGE = 1000, IDC_RATE = 1001, IDC_WIDTH = 1002, IDC_QUALITY = 1008 };

// A new page, not connected, for the class factory; aggregation is refused.
CUnknown *CreateResamplePropertyPage(LPUNKNOWN outer, HRESULT *phr);
