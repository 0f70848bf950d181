/* The share scanner: keeps the content database in step with the shared
 * folders. */
#ifndef VENNARD_SHARE_SCANNER_H
#define VENNARD_SHARE_SCANNER_H

#include <vennard/didl.h>

#ifdef __cplusplus
extern "C" {
#endif

struct server_rec;

/* A new item made from a media file of that MIME type: its metadata, the
 * file name and timestamp on its first resource, rewritten by the
 * plug-ins.  Runs without the content-database lock.  1/0 (*item NULL). */
int share_item_make(struct server_rec *s, const char *path, const char *mime, didl_object **item);

#ifdef __cplusplus
}
#endif
#endif
