/* Limits of the media server: sizes, counts and timeouts, in one place. */
#ifndef VENNARD_LIMITS_H
#define VENNARD_LIMITS_H

/* --- program-stream time seek --- */
#define MPEG_SEEK_FILE_BUFFER 8192      /* bytes read ahead from the file */
#define MPEG_SEEK_PACKET_RESERVE 2048   /* first reservation of the packet buffer */
#define MPEG_SEEK_MAX_JUMPS 32          /* jumps one search may make; a sound file needs a handful */
#define MPEG_SEEK_NEAR_TICKS 45000      /* half a second on the 90 kHz clock: close enough */
#define MPEG_SEEK_SCAN_TICKS 270000     /* three seconds: scan forward rather than jump */
#define MPEG_SEEK_BACK_BYTES 4096       /* how far back to look for a pack header */
#define MPEG_SEEK_RATE_STEP 100000      /* bytes per second taken off a rate that overshoots */
#define MPEG_SEEK_RATE_NEAR 10000       /* a backward jump this short lowers the rate */

/* --- configuration store --- */
#define CONF_VALUE_BUFFER 256           /* file buffer of a value read */
#define CONF_FILE_BUFFER 8192           /* file buffer of lists and whole files */
#define CONF_LINE_MAX 65536             /* longest line of a value or list file */
#define CONF_FILE_READ_MAX 0x40000000u  /* largest file read whole */

/* --- service shell and management port --- */
#define SERVICE_NAME_MAX 1023           /* bytes of service_name kept */
#define DATA_HOME_MAX 259               /* longest data folder path */
#define SERVICE_WAIT_HINT_MS 10000      /* pending states last at most this */
#define MGMT_BACKLOG 100
#define MGMT_CONNS_MAX 8                /* management connections served at once */
#define MGMT_REFUSE_TIMEOUT_MS 100      /* the accept loop's longest wait to say 503 */
#define MGMT_IN_TIMEOUT_MS 10000
#define MGMT_OUT_TIMEOUT_MS 35000

/* --- DIDL-Lite model and writer --- */
#define DIDL_PLUGIN_BUFFER 50000u       /* replacement text a plug-in may hand back */
#define DIDL_SCRATCH_KEEP 4096u         /* bytes of a writer buffer a thread keeps from one object to the next */
#define DIDL_FILE_PIECE 0x100000u       /* bytes of a DIDL-Lite file fed to the parser at once: long lists are parsed again with each piece */
#define DIDL_NAME_MAX 64u               /* longest prefixed name the table holds, with room */
#define DIDL_SHARED_VALUES_SIZE 0x400000u /* bytes of values and name lists kept once for every record: 4 MiB, touched as used */
#define DIDL_SHARED_VALUE_MAX 256u      /* longer values are each record's own */
#define DIDL_SHARED_NAME_LISTS_MAX 4096u /* distinct lists of attribute names kept once; others are each record's own */
#define DIDL_PACKED_RANGE 0x100000000ull /* addresses reserved for packed objects (4 GiB, halved until the system grants it), taken as used */
#define DIDL_PACKED_RANGE_MIN 0x1000000ull /* below this (16 MiB) objects are not packed */
#define DIDL_PACKED_COMMIT 0x100000u    /* the packed range is made usable in steps of this (1 MiB) */
#define DIDL_PACKED_MAX 4096u           /* larger objects keep ordinary storage */
#define DIDL_PROPERTY_TEXT_MAX 0x400000u /* bytes of an element's text kept (4 MiB): no request body or tag frame brings a longer one */
#define DIDL_ATTRIBUTE_VALUE_MAX 0x10000u /* bytes of an attribute's value kept (64 KiB): the longest the server writes is a path escaped, 12 KiB; the id lists stay whole */
#define DIDL_SPARE_PROPERTIES 64u       /* property records an emptied object keeps for the next one: more than an item carries */
#define DIDL_VALUE_CACHE_SLOTS 256u     /* shared values a thread remembers by a few of their bytes (a power of two): a load asks for a few over and over */

/* --- content database, plug-in host, ConnectionManager, device manager --- */
#define CONTENT_DB_SAVE_PERIOD_MS 1000  /* a change is saved within this, and evented within twice this */
#define CONTENT_DB_MMAP_THRESHOLD 0x40000 /* blocks this large are mapped, and unmapped when freed */
#define CONTENT_DB_FILE_RESERVE 1000    /* first reservation of the file's text */
#define CONTENT_DB_SAVE_CHUNK 0x20000   /* the file is written in parts this large, not held whole */
#define CONTENT_DB_COPY_BLOCK 8192      /* bytes per read when a folder is copied */
#define CONTENT_DB_SHARES_MAX 63        /* shares at most */
#define CONTENT_DB_ORDERS_MAX 64        /* kept orders of children: the containers and sorts players page through */
#define CONTENT_DB_ORDER_IDS_MAX 1000000 /* ids in all kept orders at once (8 MB) */
#define CONTENT_DB_SUFFIX_MAX 32        /* longest URL suffix a plug-in may give, with its NUL */
#define CONTENT_DB_ENTRY_CHUNK 0x40000u /* index entries come in chunks of this (256 KiB), aligned to it so that an entry's chunk is found from its address */
#define CONTENT_DB_MADE_BLOCK 0x100000u /* objects made for the holder of the lock go in mapped blocks of this (1 MiB): one map serves hundreds of objects */
#define CONTENT_DB_MADE_KEPT 8u         /* emptied blocks kept while holders need several: a reader of a large folder need not map them at every answer */
#define CONTENT_DB_CHECK_SPAN 4u       /* the load's check finds ids in a table by number when the largest is at most this many times the entries (16 bytes an entry); sparser ids are searched */
#define CONTENT_DB_MADE_BUSY_HOLDS 64u  /* holders after one that needed several blocks that still find them kept */
#define CONF_EXTENSION_MAX 32           /* longest file-type extension */
#define ACCESS_REFRESH_S 30             /* an access file older than this gets the client's new address */
#define DEVICE_GATE_POLL_MS 1           /* closing the device gate waits in steps of this */

/* --- media HTTP server --- */
#define MEDIA_HTTP_BACKLOG 100
#define MEDIA_HTTP_CONNS_MAX 32         /* connection threads at once */
#define MEDIA_HTTP_REFUSE_TIMEOUT_MS 100 /* the accept thread's longest wait to say 503 */
#define MEDIA_HTTP_CORK_BYTES 65536     /* body bytes that go out corked with the header */
#define MEDIA_HTTP_ALLOC_RETRY_MS 1000  /* pause after a connection record could not be made */
#define MEDIA_HTTP_IN_TIMEOUT_MS 10000
#define MEDIA_HTTP_OUT_TIMEOUT_MS 35000 /* longest wait for a client to take buffered output */
#define MEDIA_HTTP_STOP_POLL_MS 10      /* the stop looks at the connection count this often */

/* --- ContentDirectory --- */
#define SERVER_MMAP_THRESHOLD 262144      /* larger blocks (big answers, page copies) are mapped apart and given back when freed */
#define SERVER_TRIM_THRESHOLD 0x200000    /* a heap's free top past this (2 MiB) goes back to the system */
#define CDS_PAGE_COPY_FIRST 65536         /* bytes of the first block of a page's copies: a page of 50 fits */
#define CDS_PAGE_COPY_BLOCK 524288        /* later blocks: above the mmap threshold, so that they go back to the system */
#define CDS_CAPS_RESERVE 1340             /* bytes reserved for the capability list */
#define SHARE_NOTIFY_SLICE_MS 200         /* a share action waits for the scanner in these steps */
#define SHARE_PATH_MAX 4096               /* longest share path */

/* --- share scanner --- */
#define SHARE_IDENTITY_EVERY 64u         /* a walk checks that its folder is still the same every so many entries */
#define SHARE_POLL_MS 30000               /* a share without watches counts as changed this often */
#define SHARE_SCAN_NICE 5                 /* the scanner thread runs this much below the others */
#define SHARE_TAG_THREADS_MAX 3u          /* tagging threads: the walk's own database work is the limit beyond */
#define SHARE_TAG_AHEAD 24u               /* entries a walk lists and tags ahead of the one it applies */

#endif
