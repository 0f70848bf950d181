/* Limits of the control point: sizes, counts and timeouts in one place. */
#ifndef TARVO_CP_LIMITS_H
#define TARVO_CP_LIMITS_H

/* --- engine --- */
#define CP_JOB_QUEUE_SLOTS 500u          /* jobs waiting for the worker */
#define CP_JOB_WRITE_WAIT_MS 30000u      /* longest wait for a free job slot */
#define CP_WORKER_WAIT_MS 1000u          /* the worker's wait for a job between address checks */
#define CP_ADDRESS_CHECK_S 2             /* seconds between two reads of the address list */
#define CP_POLL_MS 300u                  /* steps of the waits for the SSDP thread and the connections */
#define CP_SSDP_WAIT_MS 1000u            /* the SSDP thread's wait on its sockets */
#define CP_SSDP_DATAGRAM_MAX 8192u       /* a datagram that fills this much may be cut: dropped */
#define CP_MSEARCH_TTL 4u                /* multicast hops of an M-SEARCH */
#define CP_MSEARCH_REPEAT 2u             /* copies of an M-SEARCH per address (UDP may lose one) */
#define CP_FETCH_READ_TIMEOUT_MS 10000u  /* description and SCPD reads */
#define CP_FETCH_BLOCK 8192u             /* read step of a description body */
#define CP_FETCH_BODY_MAX (1u << 20)     /* a larger description or SCPD fails the fetch */

/* --- event listener --- */
#define CP_EVENT_BACKLOG 100u
#define CP_EVENT_CONNS_MAX 64u           /* connections served at once; more are closed at once */
#define CP_EVENT_LINE_TIMEOUT_MS 1000u   /* one wait for a request line */
#define CP_EVENT_LINE_ATTEMPTS 10u       /* waits before an idle connection is closed */
#define CP_EVENT_REQUEST_TIMEOUT_MS 10000u /* input waits after the request line */
#define CP_EVENT_OUTPUT_TIMEOUT_MS 35000u
#define CP_EVENT_FAIL_PAUSE_MS 1000u     /* pause after an error answer before the close */
#define CP_EVENT_BODY_MAX (4u << 20)     /* a larger NOTIFY body is refused */

/* --- device list --- */
#define TARVO_CP_DEVICES_MAX 256u        /* devices kept; more new ones are ignored until some go */
#define TARVO_CP_REFETCH_S 180           /* a description is fetched again after this long */
#define TARVO_CP_HOUSEKEEPING_S 5        /* seconds between two expiry and renewal passes */
#define TARVO_CP_RENEW_AHEAD_S 10        /* subscriptions expiring this soon are renewed */
#define TARVO_CP_STATIC_MAX_AGE 4294967295u /* max-age of devices found by static discovery */

#endif
