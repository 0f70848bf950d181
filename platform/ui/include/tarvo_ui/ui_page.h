/* The record-only page: until the HTML view exists, a view's scripts are
 * kept in the order they were run, for the automation socket and tests. */
#ifndef TARVO_UI_PAGE_H
#define TARVO_UI_PAGE_H

#include <tarvo_ui/ui_core.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Runs (records) script in the view's page: 1 when recorded. */
int PageRunScript(HWND view, const char *script);
/* The scripts run so far, oldest first; a text stays valid for the process. */
uint32_t PageScriptCount(void);
const char *PageScriptAt(uint32_t index);

#ifdef __cplusplus
}
#endif
#endif
