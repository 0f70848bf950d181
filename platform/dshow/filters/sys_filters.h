// The creators of the system filters, for the library's factory table.
#ifndef TARVO_DSHOW_SYS_FILTERS_H
#define TARVO_DSHOW_SYS_FILTERS_H

#include <tarvo_dshow/base_unknown.h>

#include <new>

CUnknown *sys_new_file_source(LPUNKNOWN outer, HRESULT *phr);
CUnknown *sys_new_wave_parser(LPUNKNOWN outer, HRESULT *phr);
CUnknown *sys_new_acm_wrapper(LPUNKNOWN outer, HRESULT *phr);
CUnknown *sys_new_asf_reader(LPUNKNOWN outer, HRESULT *phr);
CUnknown *sys_new_dmo_wrapper(LPUNKNOWN outer, HRESULT *phr);

/* A filter of class T, made with (outer, phr). */
template <class T>
CUnknown *sys_create(LPUNKNOWN outer, HRESULT *phr)
{
  auto *f = new (std::nothrow) T(outer, phr);
  if (!f) *phr = E_OUTOFMEMORY;
  return f;
}

#endif
