/* What the format readers of the metadata library share: the property
 * list, the reader contract, the property names and the helpers with which
 * readers add properties.  Used inside the library only.
 *
 * A reader is handed an open file positioned at offset 0, the file's stat
 * record and its MIME type; it may seek and read freely and never closes
 * the file.  It only appends to the two arrays, through the helpers below,
 * and returns 1, or 0 for a file it cannot read; what it added before a 0
 * is discarded by the dispatcher, and the item then gets only the
 * defaults.  Values it adds that are not well-formed UTF-8 or hold control
 * characters are dropped.  A reader that adds "upnp:class" or
 * "res@protocolInfo" overrides the default of that name.
 *
 * Every helper returns 1, or 0 only when memory runs out: an absent value
 * is not a failure. */
#ifndef TARVO_TAG_READER_H
#define TARVO_TAG_READER_H

#include <stdint.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_file.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Parallel arrays of heap strings: names[i] names values[i].  Names may
 * repeat; the order of addition is the order of output.  "res@x" is
 * attribute x of the res element, any other name an element. */
typedef struct {
  sys_ptralloc_rec names;
  sys_ptralloc_rec values;
} tag_property_list;

typedef int (*tag_reader)(int file, const sys_file_stat_rec *st, const char *mime, sys_ptralloc_rec *names,
                          sys_ptralloc_rec *values);

/* The names the library writes, each spelled once: X(id, text).  The
 * first is the protocol of a protocolInfo, not a property. */
#define TAG_PROPERTY_NAMES(X)                                   \
  X(HTTP_GET, "http-get")                                       \
  X(DC_CREATOR, "dc:creator")                                   \
  X(DC_DATE, "dc:date")                                         \
  X(DC_DESCRIPTION, "dc:description")                           \
  X(DC_PUBLISHER, "dc:publisher")                               \
  X(DC_RIGHTS, "dc:rights")                                     \
  X(DC_TITLE, "dc:title")                                       \
  X(UPNP_ACTOR, "upnp:actor")                                   \
  X(UPNP_ALBUM, "upnp:album")                                   \
  X(UPNP_ALBUM_ART_URI, "upnp:albumArtURI")                     \
  X(UPNP_ARTIST, "upnp:artist")                                 \
  X(UPNP_ARTIST_DISCOGRAPHY_URI, "upnp:artistDiscographyURI")   \
  X(UPNP_CHANNEL_NAME, "upnp:channelName")                      \
  X(UPNP_CHANNEL_NR, "upnp:channelNr")                          \
  X(UPNP_CLASS, "upnp:class")                                   \
  X(UPNP_DIRECTOR, "upnp:director")                             \
  X(UPNP_GENRE, "upnp:genre")                                   \
  X(UPNP_ORIGINAL_TRACK_NUMBER, "upnp:originalTrackNumber")     \
  X(UPNP_PRODUCER, "upnp:producer")                             \
  X(UPNP_RATING, "upnp:rating")                                 \
  X(RES_BITRATE, "res@bitrate")                                 \
  X(RES_BITS_PER_SAMPLE, "res@bitsPerSample")                   \
  X(RES_COLOR_DEPTH, "res@colorDepth")                          \
  X(RES_DURATION, "res@duration")                               \
  X(RES_NR_AUDIO_CHANNELS, "res@nrAudioChannels")               \
  X(RES_PROTECTION, "res@protection")                           \
  X(RES_PROTOCOL_INFO, "res@protocolInfo")                      \
  X(RES_RESOLUTION, "res@resolution")                           \
  X(RES_SAMPLE_FREQUENCY, "res@sampleFrequency")                \
  X(RES_SIZE, "res@size")                                       \
  X(ARIB_OBJECT_TYPE, "arib:objectType")

enum tag_property_name_index {
#define TAG_PROPERTY_NAME_ENUM_(id, text) TAG_PROP_##id,
  TAG_PROPERTY_NAMES(TAG_PROPERTY_NAME_ENUM_)
#undef TAG_PROPERTY_NAME_ENUM_
  TAG_PROPERTY_NAME_COUNT
};

extern const char *const tag_property_names[TAG_PROPERTY_NAME_COUNT];
#define TAG_NAME(id) (tag_property_names[TAG_PROP_##id])

/* --- adding properties --- */

/* A heap copy of text appended to one array. */
int tag_list_add_copy(sys_ptralloc_rec *array, const char *text);
/* 1 for NULL, "" and text of nothing but blanks, tabs and line feeds. */
int tag_is_blank(const char *s);
/* Copies of name and value; a blank value adds nothing. */
int tag_property_add(const char *name, const char *value, sys_ptralloc_rec *names, sys_ptralloc_rec *values);
/* Text of unknown charset: guessed, converted to UTF-8 and added; text
 * that is empty, does not convert or converts to nothing adds nothing. */
int tag_text_property_add(const char *name, const char *text, sys_ptralloc_rec *names, sys_ptralloc_rec *values);
/* The number in decimal. */
int tag_uint_property_add(const char *name, uint32_t number, sys_ptralloc_rec *names, sys_ptralloc_rec *values);
/* "res@duration" as H:MM:SS[.mmm]; at most 99999:59:59.999. */
int tag_duration_format(uint32_t ms, sys_ptralloc_rec *names, sys_ptralloc_rec *values);
/* "res@resolution" as WxH; nothing when either is 0. */
int tag_resolution_format(uint32_t width, uint32_t height, sys_ptralloc_rec *names, sys_ptralloc_rec *values);
/* "res@protocolInfo" = "http-get:*:" mime ":" parameters. */
int tag_protocol_info(const char *mime, const char *parameters, sys_ptralloc_rec *names, sys_ptralloc_rec *values);
/* The same with the parameters head (for example "DLNA.ORG_PN=LPCM;
 * DLNA.ORG_OP=11;DLNA.ORG_CI=0;DLNA.ORG_FLAGS=") followed by the flags
 * value with primary bit 21 set. */
int tag_protocol_info_flags(const char *mime, const char *head, sys_ptralloc_rec *names, sys_ptralloc_rec *values);
/* The same with the parameters of a file without a DLNA profile:
 * DLNA.ORG_OP=01;DLNA.ORG_CI=0;DLNA.ORG_FLAGS= and the flags value with
 * primary bit 21 set. */
int tag_protocol_info_no_profile(const char *mime, sys_ptralloc_rec *names, sys_ptralloc_rec *values);

/* --- looking properties up (names compared byte for byte) --- */

/* Index of the first entry of that name; the count when there is none. */
uint32_t tag_property_index(const sys_ptralloc_rec *names, const char *name);
const char *tag_property_value(const sys_ptralloc_rec *names, const sys_ptralloc_rec *values, const char *name);
int tag_property_exists(const sys_ptralloc_rec *names, const char *name);
/* Frees every element of both arrays and sets both counts to 0; the
 * arrays themselves stay for reuse (sys_ptralloc_free releases them). */
void tag_property_list_clear(sys_ptralloc_rec *names, sys_ptralloc_rec *values);

/* --- files --- */

/* Moves the position count bytes on; 1 only when it lands exactly there. */
int tag_file_skip(int file, uint32_t count);

/* --- text --- */

/* UTF-16 text of len bytes (an odd last byte is ignored) as a heap UTF-8
 * string, up to the first zero unit or the end.  A leading byte-order mark
 * picks the order and is dropped; without one, order (UTF8_ORDER_LITTLE or
 * UTF8_ORDER_BIG) holds.  Surrogate pairs become one character; a lone
 * surrogate is dropped.  0 only when memory runs out. */
int tag_utf16_decode(const unsigned char *data, uint32_t len, int order, char **out);

/* --- the format readers (see tag_reader) --- */

int tag_wav_read(int file, const sys_file_stat_rec *st, const char *mime, sys_ptralloc_rec *names,
                 sys_ptralloc_rec *values);
int tag_avi_read(int file, const sys_file_stat_rec *st, const char *mime, sys_ptralloc_rec *names,
                 sys_ptralloc_rec *values);
/* Reads nothing: the file is taken as 16-bit stereo PCM at 44100 Hz. */
int tag_lpcm_read(int file, const sys_file_stat_rec *st, const char *mime, sys_ptralloc_rec *names,
                  sys_ptralloc_rec *values);
/* ASF: WMA, WMV and DVR-MS headers. */
int tag_asf_read(int file, const sys_file_stat_rec *st, const char *mime, sys_ptralloc_rec *names,
                 sys_ptralloc_rec *values);
int tag_ogg_read(int file, const sys_file_stat_rec *st, const char *mime, sys_ptralloc_rec *names,
                 sys_ptralloc_rec *values);
/* 1 when the Ogg file ends in its first link, so that vorbisfile opening it
 * for seeking searches no further links (a search that loses memory when a
 * later link is damaged); 0 for a chained or unreadable file. */
int tag_ogg_one_link(int file);
/* One link of a chained Ogg file: its bytes, from its first page up to the
 * next link's first page or the end of the file, and its play time in
 * seconds after the links before it. */
typedef struct {
  uint64_t begin, end;
  double start, seconds;
} tag_ogg_link;
/* The link that plays at `at` seconds from the start, the links timed as
 * the file's duration is.  1 only when its bytes end in its own first
 * streams, so that vorbisfile opening them alone for seeking searches no
 * further link; 0 otherwise, or when no link plays then. */
int tag_ogg_link_at(int file, double at, tag_ogg_link *link);
/* video/mpeg: program streams here, transport streams handed to their own
 * reader; quick leaves bit rate and duration out. */
int mpegps_tag_read(int file, const sys_file_stat_rec *st, int quick, const char *mime, sys_ptralloc_rec *names,
                    sys_ptralloc_rec *values);

int tag_jpeg_read(int file, const sys_file_stat_rec *st, const char *mime, sys_ptralloc_rec *names,
                  sys_ptralloc_rec *values);
int tag_bmp_read(int file, const sys_file_stat_rec *st, const char *mime, sys_ptralloc_rec *names,
                 sys_ptralloc_rec *values);
int tag_png_read(int file, const sys_file_stat_rec *st, const char *mime, sys_ptralloc_rec *names,
                 sys_ptralloc_rec *values);
int tag_gif_read(int file, const sys_file_stat_rec *st, const char *mime, sys_ptralloc_rec *names,
                 sys_ptralloc_rec *values);
int tag_tiff_read(int file, const sys_file_stat_rec *st, const char *mime, sys_ptralloc_rec *names,
                  sys_ptralloc_rec *values);

/* --- the core's steps --- */

/* audio/L16. */
int tag_lpcm_match(const char *mime);
/* The upnp:class a MIME type gives an item that no reader classed. */
const char *tag_class_from_mime(const char *mime);
/* The reader the MIME type selects, then the defaults (see
 * tag_properties_from_reader). */
int tag_properties_from_file(const char *path, int file, const sys_file_stat_rec *st, const char *mime,
                             sys_ptralloc_rec *names, sys_ptralloc_rec *values);
/* Runs reader (NULL: none) on the file; a failed reader's entries are
 * discarded and the file counts as application/octet-stream.  Illegal
 * values are dropped; then class, size, title, date, protocolInfo and, by
 * class, album and "Unknown" genre, creator, artist or actor are added
 * where no property of the name exists. */
int tag_properties_from_reader(tag_reader reader, const char *path, int file, const sys_file_stat_rec *st,
                               const char *mime, sys_ptralloc_rec *names, sys_ptralloc_rec *values);
/* The item text of a property list (see tarvo_tag_item); 0 without a
 * dc:title. */
int tag_item_xml(const sys_ptralloc_rec *names, const sys_ptralloc_rec *values, char **text);
/* dc:title: the path's last component, for a file cut at its last ".". */
int tag_title_from_path(const char *path, int is_folder, sys_ptralloc_rec *names, sys_ptralloc_rec *values);
/* upnp:album: the name of the folder that holds the file, when there is one. */
int tag_album_from_path(const char *path, sys_ptralloc_rec *names, sys_ptralloc_rec *values);
/* dc:date: the time in local calendar time, YYYY-MM-DDTHH:MM:SS. */
int tag_date_property_add(int64_t mtime, sys_ptralloc_rec *names, sys_ptralloc_rec *values);
/* res@size in decimal. */
int tag_size_property_add(uint64_t size, sys_ptralloc_rec *names, sys_ptralloc_rec *values);

/* --- MPEG audio and ID3 (tag/mp3) --- */

/* The MP3 reader.  A non-zero count_off skips the frame count after the
 * first frames: no bitrate and no duration then. */
int tag_mp3_read(int file, const sys_file_stat_rec *st, int count_off, const char *mime, sys_ptralloc_rec *names,
                 sys_ptralloc_rec *values);

/* One decoded MPEG audio frame header. */
typedef struct {
  uint32_t version;     /* 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5 */
  uint32_t layer;       /* 3 Layer I, 2 Layer II, 1 Layer III */
  uint32_t crc;         /* 1 when a CRC follows the header */
  uint32_t bitrate;     /* bits per second */
  uint32_t sample_rate; /* Hz */
  uint32_t padding;
  uint32_t private_bit;
  uint32_t channel_mode; /* 3 single channel */
  uint32_t mode_extension;
  uint32_t copyright;
  uint32_t original;
  uint32_t emphasis;
  uint32_t frame_length; /* bytes, header included */
} mp3_header;

/* What the frame scan learns.  After mp3_info_read the header's bitrate is
 * the average bitrate of the file, rounded to a multiple of 1000. */
typedef struct {
  mp3_header header;       /* the first of three consistent frames */
  uint32_t vbr;            /* 1 when a Xing or VBRI header gave the counts */
  uint32_t frames;
  uint64_t audio_bytes;
  uint64_t duration_ms;
  uint64_t non_audio_bytes; /* up to the first frame's header end, plus an ID3v1 tag */
  uint64_t file_size;
  uint32_t search_stopped;  /* 1 when the first frames were not found within the search bound, the file going on */
} mp3_info;

/* 1/0; the file position is left anywhere.  On 0, info->search_stopped
 * tells a file that may be MPEG audio past the bound from one that is not. */
int mp3_info_read(int file, const sys_file_stat_rec *st, int count_off, mp3_info *info);

/* The first value of each kind from the ID3v2 tag at the start, then from
 * the ID3v1 tag at the end; NULL fields were not found. */
typedef struct {
  char *title;
  char *artist;
  char *genre;
  char *album;
  char *comment;
  uint32_t track; /* 0 when not found */
} id3_tags;

/* A new record, or NULL when a tag could not be read (or memory ran out);
 * the file position is kept.  Freed with id3_tags_free. */
id3_tags *id3_tags_read(int file, const sys_file_stat_rec *st);
void id3_tags_free(id3_tags *tags);

/* The genre names of ID3v1 and of ID3v2 references, by number. */
#define ID3_GENRE_COUNT 148
extern const char *const id3_genre_names[ID3_GENRE_COUNT];

/* A genre text with its references resolved into a heap string: "(17)"
 * and "(17)Rock" give the name of 17, "(RX)" Remix, "(CR)" Cover, "(("
 * a literal "("; other text is kept.  0 for a broken (RX) or (CR), or when
 * memory runs out. */
int id3_genre_resolve(const char *text, char **out);

#ifdef __cplusplus
}
#endif
#endif
