/* Limits of the foundation library: sizes, counts and timeouts, in one
 * place.  Each area keeps its own block. */
#ifndef TARVO_UTIL_LIMITS_H
#define TARVO_UTIL_LIMITS_H

/* --- arrays and strings --- */


/* --- threads and time --- */
/* Calendar years that convert to and from seconds. */
#define SYS_CALTIME_YEAR_MIN 1601
#define SYS_CALTIME_YEAR_MAX 30827


/* --- files, processes and log --- */
#define SYS_FILE_SEND_BLOCK 8192u      /* bytes read and sent per step by sys_file_send */
#define SYS_FILEBUFFER_CHUNK 8192u     /* least size of a direct write that bypasses a buffer */
#define SYS_FILE_COPY_BLOCK 65536u     /* block of the copy behind a rename across file systems */
#define FILE_READ_ALL_BUFFER 8192u     /* bytes per read of file_read_all */
#define FILE_READ_ALL_MAX 0x40000000u  /* largest file read whole into memory */
#define SYS_LOG_LEVEL_MAX 8
#define SYS_LOG_BUFFER 256u            /* the log's output buffer */
#define SYS_LOG_TEXT_MAX 8191u         /* characters of one formatted log text */


/* --- charsets and ARIB text --- */
#define CHARSET_DETECT_WINDOW 256u     /* leading bytes examined by the charset guess */


/* --- sockets --- */
#define SYS_SOCKET_WAIT_SLICE_MS 500     /* longest single wait of a socket buffer */
#define SYS_SOCKET_LINE_MAX 65536        /* sys_socketbuffer_getln */
#define SYS_SELECT_MAX 64                /* sockets in one socket set */
#define SYS_SOCKET_SEND_WAIT_MS 35000    /* sys_socket_sendfile: longest wait for the peer to take more */
#define SYS_SOCKET_SENDFILE_STEP (1u << 30) /* bytes asked of one sendfile call */
#define SYS_SOCKET_LINGER_MS 2000        /* sys_socket_linger: longest wait for the peer */
#define SYS_SOCKET_LINGER_MAX (16u << 20) /* sys_socket_linger: most bytes read off */
#define SYS_IP4_LIST_MAX_ENTRIES 10      /* interface entries looked at */
#define SYS_HOST_NAME_MAX 256
#define SYS_ARP_LINE_MAX 512             /* longer ARP cache lines are skipped */


/* --- HTTP messages, server answers and client --- */
#define HTTP_HEADER_LINE_MAX 65536       /* one header line, continuations included */
#define HTTP_HEADER_BLOCK_MAX 1048576    /* bytes of one header block */
#define HTTP_HEADER_LINES_MAX 1000       /* lines of one header block */
#define HTTP_CHUNK_LINE_MAX 30           /* a chunk-size line with its CR LF */
#define HTTP_SERVER_CONN_BUFFER_SIZE 8192
#define HTTP_SERVER_FAIL_PAUSE_MS 1000   /* pause before a failed request is given up */
#define HTTP_LAST_MODIFIED_MIN_AGE_S 5   /* younger files get no LAST-MODIFIED */
/* The connection policy of every listener (conn_policy.h) */
#define CONN_HEADER_DUE_MS 3000          /* a request header's whole wait, from the accept or its first byte */
#define CONN_PER_ADDRESS_MAX 8           /* connections of one client address: a browser's 6 per host, or a stream with its seeks and pictures */
#define CONN_EMPTY_LINES_MAX 64          /* empty lines allowed before a request line */
#define CONN_SILENT_GRACE_MS 500         /* a new connection without a byte holds its slot this long: a client sends its request at once */
#define CONN_TURN_WAIT_MS 2000           /* a connection beyond the caps waits this long for a slot before its 503 */
#define CONN_WAITING_PER_ADDRESS_MAX 24  /* connections of one address waiting for a slot: a burst of 32 beyond its share */


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
/* expat takes an int length: longer input is fed in pieces of this size. */
#define XML_PARSE_PIECE_MAX (1u << 30)
/* Room reserved up front for a written device description. */
#define UPNP_DESC_XML_RESERVE 3000u
/* A SOAP answer body larger than this is a transport failure. */
#define SOAP_BODY_MAX (64u * 1024u * 1024u)
/* The parallel client: default timeout and the longest single wait. */
#define PARALLEL_SOAP_TIMEOUT_MS 30000
#define PARALLEL_SOAP_WAIT_SLICE_MS 300

/* --- digests and UUIDs --- */


#endif
