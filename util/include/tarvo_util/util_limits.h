/* Limits of the foundation library: sizes, counts and timeouts, in one
 * place.  Each area keeps its own block. */
#ifndef TARVO_UTIL_LIMITS_H
#define TARVO_UTIL_LIMITS_H

/* --- arrays and strings --- */


/* --- threads and time --- */


/* --- files, processes and log --- */
#define SYS_FILE_SEND_BLOCK 8192u      /* bytes read and sent per step by sys_file_send */
#define SYS_FILEBUFFER_CHUNK 8192u     /* least size of a direct write that bypasses a buffer */
#define SYS_FILE_COPY_BLOCK 65536u     /* block of the copy behind a rename across file systems */
#define SYS_LOG_LEVEL_MAX 8
#define SYS_LOG_BUFFER 256u            /* the log's output buffer */
#define SYS_LOG_TEXT_MAX 8191u         /* characters of one formatted log text */


/* --- charsets and ARIB text --- */
#define CHARSET_DETECT_WINDOW 256u     /* leading bytes examined by the charset guess */


/* --- sockets --- */


/* --- HTTP messages, server answers and client --- */


/* --- URIs and DLNA values --- */


/* --- XML, SOAP and UPnP descriptions --- */


/* --- digests and UUIDs --- */


#endif
