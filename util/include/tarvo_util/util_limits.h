/* Limits of the foundation library: sizes, counts and timeouts, in one
 * place.  Each area keeps its own block. */
#ifndef TARVO_UTIL_LIMITS_H
#define TARVO_UTIL_LIMITS_H

/* --- arrays and strings --- */


/* --- threads and time --- */


/* --- files, processes and log --- */


/* --- charsets and ARIB text --- */


/* --- sockets --- */


/* --- HTTP messages, server answers and client --- */


/* --- URIs and DLNA values --- */
#define MIMETYPE_FILE_BUFFER_SIZE 256    /* read buffer for a file-type file */
#define MIMETYPE_LINE_MAX 1024           /* longer type lines are refused */
/* HTTP client */
#define HTTP_CLIENT_BUFFER_SIZE 8192     /* each of the input and output buffers */
#define HTTP_CLIENT_CONNECT_TIMEOUT_MS 10000
#define HTTP_CLIENT_READ_TIMEOUT_MS 30000
#define HTTP_CLIENT_WRITE_TIMEOUT_MS 10000
#define HTTP_CLIENT_RECEIVE_BUFFER 65535 /* asked of the socket at each connect */
#define HTTP_CLIENT_REDIRECT_MAX 5       /* redirects followed in one request */
#define HTTP_CLIENT_INTERIM_MAX 32       /* 1xx answers skipped in one request */
#define HTTP_CLIENT_CHUNK_SIZE_LIMIT (1ull << 60) /* no further digit once reached */


/* --- XML, SOAP and UPnP descriptions --- */


/* --- digests and UUIDs --- */


#endif
