/* The M3U playlist reader of the playlist plug-in, which the media server
 * also links directly. */
#ifndef CORDA_M3U_H
#define CORDA_M3U_H

#include <tarvo_util/sys_str.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Reads the playlist at path (lines in the native charset, LF-terminated, a
 * CR before the LF dropped; lines starting with a blank, TAB, CR, LF or "#"
 * skipped).  Every other line is one entry, counted from 1 whether or not
 * it is kept; an entry is absolute or relative to the playlist's folder and
 * is kept when its full path names an existing regular file.  Entries past
 * CORDA_M3U_ENTRIES_MAX are ignored.
 *
 * paths (may be NULL) receives the full UTF-8 paths of the kept entries in
 * playlist order; names (may be NULL) for each kept entry prefix, "/", its
 * number and the dot suffix of its file name ("" when none).  Both are
 * NULL-terminated lists the caller frees with sys_str_list_free.
 *
 * 1, or 0 (playlist missing, not a regular file, its path without a
 * folder, memory exhausted) with nothing handed out. */
__attribute__((visibility("default"))) int corda_m3u_parse(const char *path, const char *prefix, sys_str_list *paths, sys_str_list *names);

#ifdef __cplusplus
}
#endif
#endif
