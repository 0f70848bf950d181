/* The elementary-stream header parsers that the transport-stream and
 * program-stream readers feed with PES payload, their stream records and
 * the bit reader they share.  Used inside the library only.
 *
 * A parser is called again and again with the payload gathered so far and
 * never changes it.  It returns 1 when its record is complete (consumed is
 * then 0, or the whole payload when it was already complete), 4 when it
 * needs more data, 0 when the data is not a valid header of its kind, 3 for
 * a variant it does not handle and 5 (MPEG-2 video) for a non-zero byte
 * where only zero stuffing may precede a start code.  consumed is the
 * count of leading bytes the caller may drop before the next call; it is
 * never more than the payload's length.  A record area is written only
 * once its header has been read whole, so it is either zero or a header. */
#ifndef TARVO_TAG_ES_HEADERS_H
#define TARVO_TAG_ES_HEADERS_H

#include <stdint.h>
#include <tarvo_util/sys_alloc.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
  ES_RESULT_INVALID = 0,
  ES_RESULT_COMPLETE = 1,
  ES_RESULT_UNSUPPORTED = 3,
  ES_RESULT_MORE = 4,
  ES_RESULT_STUFFING = 5
};

/* Stream types; AC-3 has one of the system's own above the 8-bit range. */
#define ES_TYPE_MPEG1_VIDEO 0x01u
#define ES_TYPE_MPEG2_VIDEO 0x02u
#define ES_TYPE_MPEG1_AUDIO 0x03u
#define ES_TYPE_MPEG2_AUDIO 0x04u
#define ES_TYPE_AAC_ADTS 0x0Fu
#define ES_TYPE_MPEG4_VISUAL 0x10u
#define ES_TYPE_AAC_MPEG4 0x11u /* read as ADTS frames of ID 0 */
#define ES_TYPE_H264 0x1Bu
#define ES_TYPE_AC3 0x100u

/* --- bit reader --- */

typedef struct {
  const unsigned char *data;
  uint32_t length;
  uint32_t loaded;   /* bytes taken from data */
  uint8_t bits_left; /* bits of data[loaded - 1] not yet read */
} es_bitreader;

void es_bitreader_init(es_bitreader *r, const unsigned char *data, uint32_t length);
/* n bits, most significant first, into *value; 0 when n is above the width
 * or the data runs out (the reader is then left anywhere). */
int es_bitreader_read8(es_bitreader *r, uint32_t n, uint8_t *value);
int es_bitreader_read16(es_bitreader *r, uint32_t n, uint16_t *value);
int es_bitreader_read32(es_bitreader *r, uint32_t n, uint32_t *value);
int es_bitreader_skip(es_bitreader *r, uint32_t n);
/* The first byte not yet taken (the next byte boundary when a byte is
 * partly read). */
const unsigned char *es_bitreader_position(const es_bitreader *r);

/* --- video records --- */

typedef struct {
  uint32_t start_code; /* 0x000001B3; 0 when absent */
  uint16_t horizontal_size;
  uint16_t vertical_size;
  uint8_t aspect_ratio_information;
  uint8_t frame_rate_code;
  uint32_t bit_rate_value; /* units of 400 bit/s */
} mpeg_video_sequence_header;

typedef struct {
  uint32_t start_code; /* 0x000001B5 */
  uint8_t profile_and_level_indication;
  uint8_t progressive_sequence;
  uint8_t chroma_format;
  uint8_t horizontal_size_extension;
  uint8_t vertical_size_extension;
  uint8_t reserved0;
  uint16_t bit_rate_extension;
  uint32_t reserved1;
} mpeg_video_sequence_extension;

typedef struct {
  uint32_t start_code; /* 0x000001B0 */
  uint8_t profile_and_level_indication;
} mp4v_vos_header;

typedef struct {
  uint32_t start_code; /* 0x00000120 to 0x0000012F */
  uint8_t chroma_format;
  uint8_t reserved0;
  uint16_t width;
  uint16_t height;
  uint8_t aspect_ratio_info;
  uint8_t par_width;
  uint8_t par_height;
  uint8_t frame_rate_code;
  uint16_t first_half_bit_rate;
  uint16_t latter_half_bit_rate;
} mp4v_studio_vol_header;

typedef struct {
  uint32_t start_code; /* 0x00000120 to 0x0000012F */
  uint8_t aspect_ratio_info;
  uint8_t par_width;
  uint8_t par_height;
  uint8_t chroma_format;
  uint16_t first_half_bit_rate; /* 0 without VBV parameters */
  uint16_t latter_half_bit_rate;
  uint16_t vop_time_increment_resolution;
  uint8_t fixed_vop_rate;
  uint8_t reserved0;
  uint16_t fixed_vop_time_increment;
  uint16_t video_object_layer_width;
  uint16_t video_object_layer_height;
  uint8_t interlaced;
  uint8_t scalability;
} mp4v_vol_header;

typedef struct {
  uint32_t start_code; /* 0x000001B6 */
  uint32_t vop_time_increment; /* of the first VOP */
} mp4v_vop_header;

/* Filled by the transport-stream reader from the AVC timing and HRD
 * descriptor. */
typedef struct {
  uint8_t present; /* the descriptor tag once parsed */
  uint8_t picture_and_timing_info_present;
  uint8_t flag_90khz;
  uint32_t n;
  uint32_t k;
  uint32_t num_units_in_tick;
  uint8_t fixed_frame_rate_flag;
} avc_timing_info;

typedef struct {
  uint8_t present; /* 7 once read */
  uint8_t profile_idc;
  uint8_t constraint_set0_flag;
  uint8_t constraint_set1_flag;
  uint8_t constraint_set2_flag;
  uint8_t constraint_set3_flag;
  uint8_t level_idc;
  uint8_t pic_width_in_mbs_minus1;
  uint8_t pic_height_in_map_units_minus1;
  uint8_t frame_mbs_only_flag;
  uint8_t vui_parameters_present_flag;
  uint8_t reserved0;
  uint8_t aspect_ratio_info_present_flag;
  uint8_t aspect_ratio_idc;
  uint16_t sar_width;
  uint16_t sar_height;
  uint8_t timing_info_present_flag;
  uint8_t reserved1;
  uint32_t num_units_in_tick;
  uint32_t time_scale;
  uint8_t fixed_frame_rate_flag;
  uint8_t reserved2[3];
} avc_sps_info;

/* One per program, zero-filled by its owner. */
typedef struct {
  uint16_t stream_type;
  uint32_t pid;
  mpeg_video_sequence_header mpeg1_sequence;
  mpeg_video_sequence_header mpeg2_sequence;
  mpeg_video_sequence_extension mpeg2_extension;
  mp4v_vos_header vos;
  mp4v_studio_vol_header studio_vol;
  mp4v_vol_header vol;
  mp4v_vop_header vop;
  avc_timing_info avc_timing;
  avc_sps_info sps;
} es_video_info;

/* --- audio records --- */

typedef struct {
  unsigned char raw[4]; /* the header bytes as they stand in the stream */
  uint16_t syncword;    /* non-zero once locked */
  uint8_t id;           /* 1 MPEG-1, 0 MPEG-2 lower sampling frequencies */
  uint8_t layer;        /* 3 Layer I, 2 Layer II, 1 Layer III */
  uint8_t protection_bit;
  uint8_t bitrate_index;
  uint8_t sampling_frequency;
  uint8_t mode;
  uint8_t mode_extension;
  uint8_t emphasis;
} mpeg_audio_header;

/* The last five sync candidates; slot (count mod 5) takes the next. */
typedef struct {
  unsigned char slot[5][4];
  uint32_t count;
} es_lock_ring;

typedef struct {
  uint8_t center;
  uint8_t surround;
  uint8_t lfe;
  uint8_t dematrix_procedure;
  uint8_t no_of_multi_lingual_ch;
  uint8_t mc_prediction_on;
} mpeg_audio_mc_header;

typedef struct {
  unsigned char raw[4];
  uint16_t syncword; /* non-zero once locked */
  uint8_t id;
  uint8_t protection_absent;
  uint8_t profile;
  uint8_t sampling_frequency_index;
  uint8_t channel_configuration;
  uint8_t reserved0;
} adts_header;

typedef struct {
  uint8_t frames;         /* frames inspected */
  uint8_t max_raw_blocks; /* largest number_of_raw_data_blocks_in_frame */
  uint8_t variable_rate;  /* a frame's buffer fullness was 0x7FF */
  uint8_t sbr;            /* a fill element carried SBR data */
} adts_frame_stats;

typedef struct {
  uint16_t syncword; /* 0x0B77 once read */
  uint8_t fscod;
  uint8_t frmsizecod;
} ac3_sync_info;

typedef struct {
  uint8_t bsid;
  uint8_t bsmod;
  uint8_t acmod;
  uint8_t lfeon;
} ac3_bsi;

/* One per audio stream, zero-filled by its owner. */
typedef struct {
  uint16_t stream_type;
  uint32_t pid;
  mpeg_audio_header mpeg1;
  es_lock_ring mpeg1_ring;
  mpeg_audio_header mpeg2;
  es_lock_ring mpeg2_ring;
  uint32_t mc_read;
  mpeg_audio_mc_header mc;
  adts_header adts;
  es_lock_ring adts_ring;
  adts_frame_stats adts_stats;
  ac3_sync_info ac3_sync;
  ac3_bsi ac3;
} es_audio_info;

/* --- the parser table --- */

/* record is the es_video_info of a video row or the es_audio_info of an
 * audio row. */
typedef int (*es_parse_fn)(void *record, const sys_memalloc_rec *payload, uint32_t *consumed);
typedef int (*es_complete_fn)(const void *record);

typedef struct {
  uint32_t stream_type; /* the low 16 bits are compared */
  es_parse_fn parse;    /* NULL ends a list */
  es_complete_fn complete;
} es_header_parser_row;

typedef struct {
  const es_header_parser_row *video;
  const es_header_parser_row *audio;
} es_header_parser_lists;

extern const es_header_parser_lists es_header_parser_table;

/* The first row of list with that stream type, or NULL. */
const es_header_parser_row *es_header_parser_find(const es_header_parser_row *list, uint32_t stream_type);

/* --- values --- */

/* kbit/s; 0 for free format, index 15 or layer code 0. */
uint32_t mpeg_audio_bitrate(uint32_t id, uint32_t layer, uint32_t bitrate_index);
/* Hz; 0 for index 3. */
uint32_t mpeg_audio_sample_rate(uint32_t id, uint32_t sampling_frequency);
/* The coded size of the SPS, or its display size where the coded size is
 * one of the padded sizes encoders use; always 1. */
int avc_frame_size(const avc_sps_info *sps, uint32_t *width, uint32_t *height);

#ifdef __cplusplus
}
#endif

#endif
