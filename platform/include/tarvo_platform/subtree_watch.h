/* Change notification on a folder tree, on inotify: one watch per folder,
 * new folders watched as they appear.  A watch whose kernel watches ran out
 * reports a change every SUBTREE_WATCH_POLL_MS, so that its owner walks the
 * tree again.  The descriptor is close-on-exec. */
#ifndef TARVO_PLATFORM_SUBTREE_WATCH_H
#define TARVO_PLATFORM_SUBTREE_WATCH_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* How often a degraded watch reports a change. */
#define SUBTREE_WATCH_POLL_MS 30000u
/* Folders below the root that are watched at most (deeper trees degrade). */
#define SUBTREE_WATCH_FOLDERS_MAX 4096u

typedef struct subtree_watch_rec subtree_watch_rec;

/* Watches root and every folder below it for names coming and going
 * (created, deleted, moved, written).  NULL when root cannot be watched. */
subtree_watch_rec *subtree_watch_open(const char *root);
/* The descriptor that becomes readable on a change (for poll or a GLib
 * source); -1 when inotify could not be had. */
int subtree_watch_fd(const subtree_watch_rec *w);
/* Without waiting: reads what the kernel has queued and gives 1 when a
 * change came since the last re-arm (or a degraded watch is due). */
int subtree_watch_signalled(subtree_watch_rec *w);
/* Waits up to ms (negative: no limit) for a change; 1 when signalled. */
int subtree_watch_wait(subtree_watch_rec *w, int ms);
/* Clears the signalled state: the next change signals again. */
void subtree_watch_rearm(subtree_watch_rec *w);
void subtree_watch_close(subtree_watch_rec *w);

#ifdef __cplusplus
}
#endif
#endif
