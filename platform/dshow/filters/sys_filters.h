// The creators of the system filters, for the library's factory table.
#ifndef TARVO_DSHOW_SYS_FILTERS_H
#define TARVO_DSHOW_SYS_FILTERS_H

#include <tarvo_dshow/base_unknown.h>

CUnknown *sys_new_file_source(LPUNKNOWN outer, HRESULT *phr);
CUnknown *sys_new_wave_parser(LPUNKNOWN outer, HRESULT *phr);
CUnknown *sys_new_acm_wrapper(LPUNKNOWN outer, HRESULT *phr);

#endif
