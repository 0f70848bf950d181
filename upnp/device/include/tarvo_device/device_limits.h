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
#define DEVICE_GENA_TIMEOUT_S 300u          /* life of a subscription from its last (re)subscription */
#define DEVICE_GENA_SUBSCRIPTIONS_MAX 256u  /* subscriptions of all services together */
#define DEVICE_GENA_CALLBACKS_MAX 4u        /* callback URLs kept per subscription */
#define DEVICE_GENA_HELD_MAX 200u           /* events held for a subscription until its initial event */
#define DEVICE_GENA_QUEUE_WAIT_MS 30000u    /* longest wait for a free event queue slot */
#define DEVICE_GENA_INITIAL_DELAY_MS 500u   /* pause before a subscription's initial event */
#define DEVICE_TIMER_WAIT_MS 1000u          /* the timer thread waits this long for a job */
#define DEVICE_GENA_SWEEP_S 5               /* expired subscriptions are removed this often */
#define DEVICE_ADDRESS_CHECK_S 2            /* the local address list is read again this often */
#define DEVICE_SSDP_TTL 4u                  /* of announcements */
#define DEVICE_SSDP_DATAGRAM_MAX 8192u      /* a datagram that fills this buffer is dropped */
#define DEVICE_SSDP_PAUSE_MS 50u            /* after each announcement and each ssdp:all answer */
#define DEVICE_SSDP_MX_MAX_MS 10000u        /* longest random delay of a search answer */
#define DEVICE_SSDP_ANSWERS_MAX 16u         /* search answers being waited out or sent at once */
#define DEVICE_SSDP_REQUEST_POLL_MS 20u     /* socket requests to the SSDP thread are watched this often */
#define DEVICE_STOP_SLICE_MS 100u           /* sleeps that the stop flag cuts short */

#endif
