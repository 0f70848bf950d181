// The resample filter's settings page.
#pragma once

#include <tarvo_com/com.h>

// Control ids of the page's dialog 1000.
enum { IDD_RESAMPLE_PAGE = 1000, IDC_RATE = 1001, IDC_WIDTH = 1002, IDC_QUALITY = 1008 };

// A new page with one reference, as IUnknown.
IUnknown *CreateResamplePropertyPage(HRESULT *phr);
