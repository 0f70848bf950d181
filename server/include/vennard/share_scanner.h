/* The share scanner: keeps the content database in step with the shared
 * folders.
 *
 * Locks, always taken in this order: the share-list notification, the
 * scanner mutex, the share-list mutex of the content database, the
 * content-database lock. */
#ifndef VENNARD_SHARE_SCANNER_H
#define VENNARD_SHARE_SCANNER_H

#include <stdint.h>
#include <tarvo_util/sys_thread.h>
#include <vennard/didl.h>

#ifdef __cplusplus
extern "C" {
#endif

struct server_rec;

/* The share-list notification: the scanner counts each share list it has
 * read and applied (the generation), under the notification mutex; a share
 * action that changed the list waits for a count above the one it saw
 * before its change. */
typedef struct share_notify_rec {
  sys_mutex_handle mutex;
  sys_sync_rec cond;
  uint64_t generation; /* under mutex */
} share_notify_rec;

/* The scanner's members of the server record. */
typedef struct share_scanner_rec {
  sys_mutex_handle mutex; /* the scanner mutex */
  share_notify_rec notify;
  int32_t ready;          /* atomically: 1 while the two locks may be taken */
  int32_t users;          /* atomically: threads inside share_scanner_lock or share_notify_lock */
  int32_t restart;        /* atomically: the share list changed, scan again */
  int32_t recheck;        /* atomically: the file types changed, walk the folders again */
  int32_t idle;           /* atomically: 1 once the first scan is done, while no change is being worked off */
  int32_t tag_threads;    /* set before the start: the threads that read a folder's new files ahead of the
                             walk; 0 as many as the processors allow (SHARE_TAG_THREADS_MAX at most), negative
                             none (the scanner thread reads every file itself) */
  void *state;            /* the scanner thread's own state */
} share_scanner_rec;

/* Starts the scanner (last in the server start); 1/0, everything undone. */
int share_scanner_start(struct server_rec *s);
/* Stops it (first in the server stop): refuses its locks from now on,
 * wakes every share action that waits for it and ends the thread.  The
 * locks stay until share_locks_close. */
void share_scanner_stop(struct server_rec *s);
/* Asks a running scan to start over: the share list changed. */
void share_scanner_rescan(struct server_rec *s);
/* Asks the scanner to walk its folders again: the file types changed. */
void share_scanner_recheck(struct server_rec *s);

/* --- the scanner's locks (share_list.cpp) --- */

/* Creates the scanner mutex and the share-list notification. */
int share_locks_init(struct server_rec *s);
/* Refuses both locks from now on and wakes the waiters. */
void share_locks_refuse(struct server_rec *s);
/* Waits until no thread is inside either lock (they are refused). */
void share_locks_wait_out(struct server_rec *s);
/* Refuses them if that was not done, waits until no thread is inside, and
 * frees them (last in the server stop). */
void share_locks_close(struct server_rec *s);
/* The scanner mutex; 0 once the scanner stops. */
int share_scanner_lock(struct server_rec *s);
void share_scanner_unlock(struct server_rec *s);
/* Takes the notification mutex; *generation the lists read so far.  0
 * once the scanner stops. */
int share_notify_lock(struct server_rec *s, uint64_t *generation);
void share_notify_unlock(struct server_rec *s);
/* With the notification mutex held (scanner side): one more list read;
 * wakes the waiters. */
void share_notify_signal(struct server_rec *s);
/* With the notification mutex held: waits, in slices of
 * SHARE_NOTIFY_SLICE_MS, until the count passes generation (1) or the
 * scanner or the server stops (0).  The mutex is held again on return. */
int share_notify_wait(struct server_rec *s, uint64_t generation);

/* 1 for a path that may name a share: absolute, without empty, "." or
 * ".." components or a trailing "/" (except "/" itself), well-formed
 * UTF-8 without control characters, at most SHARE_PATH_MAX bytes. */
int share_path_check(const char *path);

/* A new item made from a media file of that MIME type: its metadata, the
 * file name and timestamp on its first resource, rewritten by the
 * plug-ins.  Runs without the content-database lock.  1/0 (*item NULL). */
int share_item_make(struct server_rec *s, const char *path, const char *mime, didl_object **item);

#ifdef __cplusplus
}
#endif
#endif
