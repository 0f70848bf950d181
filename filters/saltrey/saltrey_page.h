/* The downmix filter's settings page: control ids of its dialog 101 and
 * the creation function of the library's class factory. */
#ifndef TARVO_SALTREY_SALTREY_PAGE_H
#define TARVO_SALTREY_SALTREY_PAGE_H

#include <tarvo_dshow/base_unknown.h>

enum {
  IDD_DOWNMIX_PAGE = 101,
  IDC_DM_METHOD_LABEL = 208,
  IDC_DM_METHOD = 1278,
  IDC_DM_LORO = 1279,      /* centre, surround, LFE: 1279-1281 */
  IDC_DM_LTRT = 1288,      /* 1288-1290, at the same places */
  IDC_DM_LEVEL_GROUP = 1400,
  IDC_DM_CUSTOM_FIRST = 1302, /* the Custom group's controls: 1302-1350 */
  IDC_DM_LEFT_PHASE = 1322,   /* rows L, R, C, Ls, Rs, Lfe: 1322-1327 */
  IDC_DM_LEFT_GAIN = 1328,    /* 1328-1333 */
  IDC_DM_RIGHT_PHASE = 1334,  /* 1334-1339 */
  IDC_DM_RIGHT_GAIN = 1340,   /* 1340-1345 */
  IDC_DM_CUSTOM_GROUP = 1346,
  IDC_DM_CUSTOM_LAST = 1350,
};
/* The command id the filter's notices to the page carry, and the code of
 * settings loaded from a stream. */
#define DOWNMIX_PAGE_NOTIFY_ID 32700
#define DOWNMIX_NOTIFY_LOADED 100

/* A new page, not connected; aggregation is refused. */
CUnknown *CreateDownmixPropertyPage(LPUNKNOWN outer, HRESULT *phr);

#endif
