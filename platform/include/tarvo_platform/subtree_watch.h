/* Change notification on folder trees, on inotify.  One watch carries any
 * number of roots on one descriptor, each with its own signalled state: a
 * root either has its whole tree watched (new folders added as they
 * appear) or has folders added one by one by its owner.  A root whose
 * kernel watches ran out is degraded and reports a change every
 * SUBTREE_WATCH_POLL_MS, so that its owner walks the tree again.  A root
 * may also follow the mounts on, above and below a folder.  The
 * descriptors are close-on-exec. */
#ifndef TARVO_PLATFORM_SUBTREE_WATCH_H
#define TARVO_PLATFORM_SUBTREE_WATCH_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* How often a degraded root reports a change. */
#define SUBTREE_WATCH_POLL_MS 30000u
/* Folders of a tree root that are watched at most (deeper trees degrade). */
#define SUBTREE_WATCH_FOLDERS_MAX 4096u
/* Bytes of the mount table read at most (tens of thousands of mounts); a
 * larger table counts each of its changes as touching every followed folder. */
#define SUBTREE_WATCH_MOUNTS_MAX (64u << 20)

/* Root options. */
#define SUBTREE_WATCH_TREE 1u      /* the folders below are watched, now and as they appear */
#define SUBTREE_WATCH_ATTRIB 2u    /* attribute changes count as changes */
#define SUBTREE_WATCH_LOST_POLL 4u /* losing the root folder's own watch degrades the root */
#define SUBTREE_WATCH_SELF 8u      /* only a folder's own move, deletion or unmount counts */

/* Whether the coming and going of name ("" for the folder itself) counts
 * as a change; a root without one counts every name.  Losing a folder
 * always counts. */
typedef int (*subtree_watch_name_fn)(void *ctx, const char *name);

typedef struct subtree_watch_rec subtree_watch_rec;

/* A watch without roots yet; NULL when its wake-up cannot be had.  Without
 * inotify every root added is degraded. */
subtree_watch_rec *subtree_watch_create(void);
/* Adds a root on folder (with SUBTREE_WATCH_TREE, its whole tree; else
 * nothing yet unless folder is given) and gives its number, or -1 when
 * arguments are wrong or a tree root cannot be watched at all.  counts may
 * be NULL. */
int subtree_watch_root_add(subtree_watch_rec *w, const char *folder, unsigned options, subtree_watch_name_fn counts,
                           void *ctx);
/* Watches one more folder for root: 1 when watched, 0 when not (the root
 * is degraded, or becomes so when the kernel's watches ran out). */
int subtree_watch_folder_add(subtree_watch_rec *w, int root, const char *path);
/* Signals root (as seen by subtree_watch_wait) when a mount on folder, on
 * a folder above it or on one below it comes, goes or moves; folder is
 * compared as given and with its links resolved as they are now.  1 when
 * followed, 0 when arguments are wrong. */
int subtree_watch_mounts_follow(subtree_watch_rec *w, int root, const char *folder);
/* Forgets root and the watches only it used. */
void subtree_watch_root_drop(subtree_watch_rec *w, int root);
/* Root's state as last read (see subtree_watch_read): 1 when a change came
 * since its last re-arm. */
int subtree_watch_root_signalled(const subtree_watch_rec *w, int root);
int subtree_watch_root_degraded(const subtree_watch_rec *w, int root);
void subtree_watch_root_rearm(subtree_watch_rec *w, int root);
/* Reads what the kernel has queued, without waiting; with polls nonzero
 * the degraded roots that are due count as changed too. */
void subtree_watch_read(subtree_watch_rec *w, int polls);
/* Ends a subtree_watch_wait at once; may be called from any thread. */
void subtree_watch_wake(subtree_watch_rec *w);

/* A watch with one tree root (number 0); NULL when root cannot be watched. */
subtree_watch_rec *subtree_watch_open(const char *root);
/* The descriptor that becomes readable on a change (for poll or a GLib
 * source); -1 when inotify could not be had. */
int subtree_watch_fd(const subtree_watch_rec *w);
/* Without waiting: reads what the kernel has queued and gives 1 when any
 * root has changed since its re-arm (or a degraded root is due). */
int subtree_watch_signalled(subtree_watch_rec *w);
/* Waits up to ms (negative: no limit, but never past the next degraded
 * root due) for a change or a wake-up; 1 when signalled. */
int subtree_watch_wait(subtree_watch_rec *w, int ms);
/* Re-arms every root: the next change signals again. */
void subtree_watch_rearm(subtree_watch_rec *w);
void subtree_watch_close(subtree_watch_rec *w);

#ifdef __cplusplus
}
#endif
#endif
