/* Limits of the device library: sizes, counts and timeouts, in one place.
 * Each area keeps its own block. */
#ifndef TARVO_DEVICE_DEVICE_LIMITS_H
#define TARVO_DEVICE_DEVICE_LIMITS_H

/* --- context, HTTP core, SOAP control and CGI --- */
#define DEVICE_MAX_AGE_MIN_S 60u          /* least max-age of announcements */
#define DEVICE_LISTEN_BACKLOG 100u
#define DEVICE_CONNS_MAX 64u              /* connections served at once, CONN_PER_ADDRESS_MAX of one address */
#define DEVICE_PAUSED_MAX 256u            /* refused connections waiting out their pause without a thread */
#define DEVICE_NOMEM_PAUSE_MS 1000u       /* pause of the accept loop when memory runs out */
#define DEVICE_KEEP_ALIVE_MS 10000u       /* a kept connection's wait for its next request */
#define DEVICE_REQUEST_TIMEOUT_MS 10000u  /* input waits after the header */
#define DEVICE_OUTPUT_TIMEOUT_MS 35000u   /* longest wait for a client to take output */
#define DEVICE_FAIL_PAUSE_MS 1000u        /* pause after a refused control or event request */
#define DEVICE_END_POLL_MS 10u            /* the end call looks at the live threads this often */
#define DEVICE_SOAP_BODY_MAX (4u * 1024u * 1024u) /* largest control request body */
#define DEVICE_CHUNK_LINE_MAX 28u         /* a chunk-size line without its CR LF */
#define DEVICE_CGI_BLOCK 8192u            /* copies between client and CGI program */
#define DEVICE_CGI_DRAIN_BLOCK 256u       /* reads of output dropped after a failure */

/* --- GENA and SSDP --- */
#define DEVICE_GENA_TIMEOUT_S 300u          /* life of a subscription from its last (re)subscription */
#define DEVICE_GENA_SUBSCRIPTIONS_MAX 256u  /* subscriptions of all services together */
#define DEVICE_GENA_PEER_SUBSCRIPTIONS_MAX 32u /* of one subscriber address; its oldest makes room */
#define DEVICE_GENA_CALLBACKS_MAX 4u        /* callback URLs kept per subscription */
#define DEVICE_GENA_CALLBACK_HEADER_MAX 5000u /* a longer CALLBACK value is refused */
#define DEVICE_GENA_PENDING_MAX 200u        /* NOTIFYs waiting for one subscriber; one further behind is given up */
#define DEVICE_GENA_INITIAL_DELAY_MS 500u   /* pause before a subscription's initial event */
#define DEVICE_GENA_SENDERS 4u              /* threads sending NOTIFYs, each to one subscriber at a time */
#define DEVICE_GENA_SENDERS_PER_PEER 1u     /* of them busy with one subscriber address at once */
#define DEVICE_GENA_CONNECT_TIMEOUT_MS 3000u /* a callback that does not accept by then has failed */
#define DEVICE_GENA_SEND_TIMEOUT_MS 5000u   /* longest wait to send a NOTIFY or for its status line */
#define DEVICE_ADDRESS_CHECK_S 2            /* the local address list is read again this often */
#define DEVICE_SSDP_TTL 4u                  /* of announcements */
#define DEVICE_SSDP_DATAGRAM_MAX 8192u      /* a datagram that fills this buffer is dropped */
#define DEVICE_SSDP_PAUSE_MS 50u            /* between announcements and after each ssdp:all answer */
#define DEVICE_SSDP_START_PAUSE_MS 2u       /* between the byebyes of the start, so that the first alive follows within 0.1 s */
#define DEVICE_SSDP_END_PAUSE_MS 2u         /* between the byebyes of the end, so that a stop takes at most 0.1 s */
#define DEVICE_SSDP_MX_MAX_MS 10000u        /* longest random delay of a search answer */
#define DEVICE_SSDP_ANSWERS_MAX 16u         /* search answers being waited out or sent at once */
#define DEVICE_SSDP_REQUEST_POLL_MS 20u     /* socket requests to the SSDP thread are watched this often */
#define DEVICE_STOP_SLICE_MS 100u           /* sleeps that the stop flag cuts short */

#endif
