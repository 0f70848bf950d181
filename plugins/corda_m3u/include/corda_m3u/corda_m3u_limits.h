/* Limits of the playlist plug-in, in one place. */
#ifndef CORDA_M3U_LIMITS_H
#define CORDA_M3U_LIMITS_H

/* --- playlist reader --- */
#define CORDA_M3U_FILE_BUFFER 8192u   /* read buffer of a playlist */
#define CORDA_M3U_LINE_MAX 65536u     /* bytes of a playlist line; a longer entry is counted and dropped */
#define CORDA_M3U_PATH_MAX 4096u      /* bytes of an entry's full path with its NUL; longer entries name no file */
#define CORDA_M3U_ENTRIES_MAX 16384u  /* entries read, kept or not; the rest of a longer playlist is ignored */

/* --- serving --- */
#define CORDA_M3U_BODY_RESERVE 1024u  /* first reservation of a served playlist */

#endif
