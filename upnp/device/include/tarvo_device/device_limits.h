/* Limits of the device library: sizes, counts and timeouts, in one place.
 * Each area keeps its own block. */
#ifndef TARVO_DEVICE_DEVICE_LIMITS_H
#define TARVO_DEVICE_DEVICE_LIMITS_H

/* --- context, HTTP core, SOAP control and CGI --- */
#define DEVICE_MAX_AGE_MIN_S 60u          /* least max-age of announcements */
#define DEVICE_LISTEN_BACKLOG 100u
#define DEVICE_ACCEPT_WAIT_MS 1000u       /* the accept loop looks at the stop flag this often */
#define DEVICE_NOMEM_PAUSE_MS 1000u       /* pause of the accept loop when memory runs out */
#define DEVICE_LINE_TIMEOUT_MS 1000u      /* one attempt to read a request line */
#define DEVICE_LINE_ATTEMPTS 10u          /* attempts before an idle connection is closed */
#define DEVICE_REQUEST_TIMEOUT_MS 10000u  /* input waits after the request line */
#define DEVICE_OUTPUT_TIMEOUT_MS 35000u   /* longest wait for a client to take output */
#define DEVICE_FAIL_PAUSE_MS 1000u        /* pause after a refused control or event request */
#define DEVICE_END_POLL_MS 300u           /* the end call looks at the live threads this often */
#define DEVICE_SOAP_BODY_MAX (4u * 1024u * 1024u) /* largest control request body */
#define DEVICE_CHUNK_LINE_MAX 28u         /* a chunk-size line without its CR LF */
#define DEVICE_CGI_BLOCK 8192u            /* copies between client and CGI program */
#define DEVICE_CGI_DRAIN_BLOCK 256u       /* reads of output dropped after a failure */
#define DEVICE_EVENT_QUEUE_SLOTS 200u     /* the event queue */

/* --- GENA and SSDP --- */

#endif
