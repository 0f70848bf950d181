/* The transport-stream reader's records: the demultiplexer state of one
 * reading, its result, the PSI records, the CRC and descriptor helpers and
 * the profile lookup.  Used inside the library only; every record is
 * zero-filled before use and lives on one reading's stack. */
#ifndef TARVO_TAG_MPEGTS_IMPL_H
#define TARVO_TAG_MPEGTS_IMPL_H

#include <stdint.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_file.h>

#include "es_headers.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Container kinds of the MPEG container probe that reach this reader. */
#define MPEGTS_KIND_188 3u /* 188-byte packets */
#define MPEGTS_KIND_192 4u /* 192-byte packets: 4-byte arrival stamp + packet */

/* Result codes of the PSI handlers; the PES parsers share them. */
enum {
  TS_RESULT_FAIL = 0,
  TS_RESULT_GO_ON = 1,
  TS_RESULT_CRC_ERROR = 2,
  TS_RESULT_STOP = 3,
  TS_RESULT_MORE = 4,
  TS_RESULT_STOP_STUFFING = 5
};

/* Presence bits of mpegts_info: each value is derived at most once. */
#define MPEGTS_HAS(bit) (UINT64_C(1) << (bit))
enum {
  MPEGTS_BIT_OBJECT_TYPE = 1,
  MPEGTS_BIT_TITLE = 2,
  MPEGTS_BIT_GENRES = 3,
  MPEGTS_BIT_CHANNEL_NAME = 4,
  MPEGTS_BIT_CHANNEL_NUMBER = 5,
  MPEGTS_BIT_DURATION = 7,
  MPEGTS_BIT_RESOLUTION = 12,
  MPEGTS_BIT_REMOTE_KEY = 26,
  MPEGTS_BIT_BIT_RATE = 27,
  MPEGTS_BIT_PROGRAM_NUMBER = 29,
  MPEGTS_BIT_ARIB_SYSTEM = 30,
  MPEGTS_BIT_STREAM_KIND = 31,
  MPEGTS_BIT_OBJECT_TYPE_FLAG = 32,
  MPEGTS_BIT_TIMESTAMP_KIND = 33,
  MPEGTS_BIT_MIME = 34,
  MPEGTS_BIT_PROFILE = 35
};

/* Stream kinds: what network PID the PAT names. */
#define MPEGTS_STREAM_PLAIN 0u
#define MPEGTS_STREAM_NIT 1u    /* network PID 0x0010 */
#define MPEGTS_STREAM_PARTIAL 2u /* network PID 0x001F: partial stream with SIT */

/* Timestamp kinds. */
#define MPEGTS_STAMPS_ZERO 1u /* 192-byte packets, first two prefixes zero */
#define MPEGTS_STAMPS_192 2u  /* 192-byte packets with arrival stamps */
#define MPEGTS_STAMPS_188 3u  /* 188-byte packets */

typedef struct {
  uint32_t start_offset;  /* first packet, its 4-byte prefix included */
  uint32_t packet_size;   /* 188 or 192 */
  uint32_t header_offset; /* 0 or 4 */
  uint64_t presence;      /* MPEGTS_HAS(MPEGTS_BIT_...) */
  char object_type[8];    /* "ARIB_TB", "ARIB_BS" or "ARIB_CS" */
  char title[196];        /* UTF-8, at most 194 bytes */
  sys_ptralloc_rec genres; /* heap UTF-8 strings */
  char channel_name[44];  /* UTF-8, at most 42 bytes */
  uint32_t channel_number;
  uint32_t duration; /* ms */
  uint32_t width;
  uint32_t height;
  uint8_t remote_control_key_id;
  uint32_t bit_rate; /* bit/s */
  uint32_t program_number;
  uint32_t arib_system;
  uint32_t stream_kind;
  uint32_t object_type_flag;
  uint32_t timestamp_kind;
  const char *mime;
  sys_stralloc_rec profile; /* not NUL-terminated */
  uint32_t out_of_memory;   /* set by a descriptor handler whose allocation failed */
} mpegts_info;

/* A PID's section or PES bytes. */
#define TS_PES_HEADER_REMOVED UINT32_MAX
typedef struct {
  uint32_t pid;
  uint32_t pes_header_pos; /* TS_PES_HEADER_REMOVED once cut out */
  sys_memalloc_rec data;
} ts_pid_buffer;

typedef struct {
  uint32_t transport_stream_id;
  uint8_t version_number;
  uint32_t network_pid;
  uint32_t pmt_pid;
  uint32_t program_number;
} pat_record;

typedef struct {
  uint16_t stream_type;      /* 0x100 for an "AC-3" registration */
  uint16_t stream_type_sent; /* the type as sent, once rewritten */
  uint32_t elementary_pid;
  sys_memalloc_rec es_info; /* ES_info descriptors */
} pmt_es_entry;

typedef struct {
  uint32_t pid; /* the PID it arrived on */
  uint32_t program_number;
  uint8_t version_number;
  uint32_t pcr_pid;
  sys_memalloc_rec program_info; /* descriptors */
  sys_ptralloc_rec es_entries;   /* pmt_es_entry * */
} pmt_record;

typedef struct {
  uint8_t version_number;
  sys_memalloc_rec transmission_info; /* descriptors */
  uint32_t service_id;
  sys_memalloc_rec service_descriptors;
} sit_record;

typedef struct {
  uint8_t payload_unit_start_indicator;
  uint32_t pid;
  uint8_t adaptation_field_control;
  uint32_t pointer_field;
  sys_ptralloc_rec pid_buffers; /* ts_pid_buffer *, searched newest first */
  pat_record *pat;
  pmt_record *pmt;
  sit_record *sit;
  es_video_info video;    /* pid 0: none */
  sys_ptralloc_rec audio; /* es_audio_info * */
} mpegts_demux;

/* --- the reader --- */

/* Reads a transport stream of container kind 3 or 4 into properties; quick
 * reads fewer packets.  mime is not used: the reader chooses its own. */
int mpegts_tag_read(uint32_t container_kind, int file, const sys_file_stat_rec *st, int quick, const char *mime,
                    sys_ptralloc_rec *names, sys_ptralloc_rec *values);
/* Fills start offset, packet size and header offset from the first 4000
 * bytes; 0 without a grid. */
int mpegts_sync_probe(mpegts_info *info, int file);
/* The packet loop and every derivation step. */
int mpegts_reader(mpegts_info *info, int file, const sys_file_stat_rec *st, int quick);
/* Frees the result record's lists and strings. */
void mpegts_info_free(mpegts_info *info);

/* --- CRC-32/MPEG-2 --- */

/* 0xFFFFFFFF for length 0. */
uint32_t crc32_mpeg2(const unsigned char *data, uint32_t length);
/* 1 when the CRC over the whole section, its CRC field included, is 0. */
int crc32_mpeg2_check(const unsigned char *section, uint32_t length);
/* The CRC as 4 big-endian bytes. */
void crc32_mpeg2_store(unsigned char *out, uint32_t crc);

/* --- descriptors --- */

/* d is the descriptor with its tag and length bytes, len = 2 + its
 * length.  The result is not looked at. */
typedef int (*descriptor_handler)(const unsigned char *d, uint32_t len, mpegts_info *info);
typedef struct {
  uint8_t tag;
  descriptor_handler handler; /* NULL ends a table */
} descriptor_handler_row;

/* Every descriptor of bytes to the first row of its tag; 0 when one runs
 * past the end or fewer than 2 bytes remain, 1 at the exact end. */
int descriptor_walk(const descriptor_handler_row *table, const unsigned char *bytes, uint32_t length,
                    mpegts_info *info);
/* The first descriptor of that tag (tag and length bytes included); 0 when
 * there is none or a length runs past the end first. */
int descriptor_find(const sys_memalloc_rec *descriptors, uint8_t tag, const unsigned char **d, uint32_t *len);

/* The SIT's descriptor handlers: the transmission_info loop (network
 * identification, TS information) and the service loop (service, short
 * event, content). */
extern const descriptor_handler_row mpegts_sit_transmission_handlers[];
extern const descriptor_handler_row mpegts_sit_service_handlers[];

/* --- profiles --- */

/* Appends the first matching profile name; 0 when none matches (nothing
 * appended) or memory runs out. */
int dlna_ts_profile_find(const mpegts_demux *demux, const mpegts_info *info, sys_stralloc_rec *profile);

#ifdef __cplusplus
}
#endif

#endif
