// The web backend where WebKitGTK is not installed: no views can be made,
// so every view is a record-only one.
#include "html_view_impl.h"

int html_web_init() { return 0; }
html_web *html_web_create(HTML_VIEW *, void *) { return nullptr; }
void html_web_destroy(html_web *) {}
void *html_web_widget(html_web *) { return nullptr; }
void html_web_set_capture(html_web *, const std::vector<html_capture_entry> &) {}
int html_web_navigate(html_web *, const char *) { return 0; }
HRESULT html_web_exec(html_web *, const char *, char **) { return HRESULT(0x80004005u); }
HRESULT html_web_click(html_web *, const char *) { return HRESULT(0x80004005u); }
int html_web_close_alert() { return 0; }
