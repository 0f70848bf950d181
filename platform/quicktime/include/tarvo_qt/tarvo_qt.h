/* The movie toolbox stand-in that the MP4 LPCM plug-in loads at run time
 * (libtarvo_qt.so): start and end, the version query, movies opened from
 * file references, and audio extraction to PCM from a start time.
 * Results are 0 (no error) or a negative code; records are the caller's.
 * Only the plug-in calls it, through dlopen, so the header also lists the
 * exported names. */
#ifndef TARVO_QT_TARVO_QT_H
#define TARVO_QT_TARVO_QT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t qt_err;
#define QT_NO_ERR 0
#define QT_ERR_PARAM (-50)        /* a bad argument or property value */
#define QT_ERR_NOT_STARTED (-2)   /* used before qt_initialize and qt_enter_movies */
#define QT_ERR_FILE_NOT_FOUND (-43)
#define QT_ERR_INVALID_MOVIE (-2010)  /* no movie, or no audio the toolbox decodes */
#define QT_ERR_DECODE (-2011)     /* decoding cannot go on */
#define QT_ERR_MEMORY (-108)

#define QT_GESTALT_VERSION 0x7174696Du      /* 'qtim' */
#define QT_PROPCLASS_AUDIO 0x78617564u      /* 'xaud' */
#define QT_PROPCLASS_MOVIE 0x786D6F76u      /* 'xmov' */
#define QT_PROP_STREAM_DESCRIPTION 0x61736264u /* 'asbd' */
#define QT_PROP_CURRENT_TIME 0x74696D65u    /* 'time' */
#define QT_FORMAT_LINEAR_PCM 0x6C70636Du    /* 'lpcm' */
#define QT_FLAG_IS_FLOAT 0x1u
#define QT_FLAG_BIG_ENDIAN 0x2u
#define QT_FLAG_SIGNED_INTEGER 0x4u
#define QT_FLAG_PACKED 0x8u
#define QT_NEW_MOVIE_ACTIVE 0x1u
#define QT_EXTRACTION_COMPLETE 0x1u         /* flags of qt_extraction_fill_buffer */

/* An audio stream description (40 bytes). */
typedef struct {
  double sample_rate;
  uint32_t format_id;
  uint32_t format_flags;
  uint32_t bytes_per_packet;
  uint32_t frames_per_packet;
  uint32_t bytes_per_frame;
  uint32_t channels_per_frame;
  uint32_t bits_per_channel;
  uint32_t reserved;
} qt_stream_description;

/* A point in a movie: value units of 1/scale second. */
typedef struct {
  int64_t value;
  int32_t scale;
  void *base;
} qt_time_record;

/* A file reference: a native path of at most 255 bytes. */
typedef struct {
  uint8_t name[256]; /* length-prefixed */
} qt_fsspec;

typedef struct {
  uint32_t channels;
  uint32_t data_byte_size;
  void *data;
} qt_audio_buffer;

typedef struct {
  uint32_t number_buffers; /* 1: interleaved */
  qt_audio_buffer buffers[1];
} qt_audio_buffer_list;

typedef struct qt_movie_file qt_movie_file;
typedef struct qt_movie qt_movie;
typedef struct qt_extraction qt_extraction;

qt_err qt_initialize(void);
void qt_terminate(void);
qt_err qt_enter_movies(void);
void qt_exit_movies(void);
qt_err qt_gestalt(uint32_t selector, int32_t *response);

/* From a length-prefixed path in the native charset. */
qt_err qt_make_fsspec(const uint8_t *pascal_path, qt_fsspec *spec);
qt_err qt_open_movie_file(const qt_fsspec *spec, qt_movie_file **file);
qt_err qt_new_movie_from_file(qt_movie **movie, qt_movie_file *file, uint32_t flags);
qt_err qt_close_movie_file(qt_movie_file *file);
void qt_dispose_movie(qt_movie *movie);
int32_t qt_get_movie_time_scale(qt_movie *movie);

qt_err qt_extraction_begin(qt_movie *movie, uint32_t flags, qt_extraction **session);
qt_err qt_extraction_get_property(qt_extraction *session, uint32_t prop_class, uint32_t prop_id, uint32_t size,
                                  void *value, uint32_t *size_used);
qt_err qt_extraction_set_property(qt_extraction *session, uint32_t prop_class, uint32_t prop_id, uint32_t size,
                                  const void *value);
/* Up to *frames frames into the one buffer; *frames is set to the frames
 * given, and QT_EXTRACTION_COMPLETE in *flags once the audio has ended. */
qt_err qt_extraction_fill_buffer(qt_extraction *session, uint32_t *frames, qt_audio_buffer_list *buffers,
                                 uint32_t *flags);
qt_err qt_extraction_end(qt_extraction *session);

/* The exported names, in the order above. */
#define QT_ENTRY_POINTS(X) \
  X(qt_initialize) X(qt_terminate) X(qt_enter_movies) X(qt_exit_movies) X(qt_gestalt) X(qt_make_fsspec) \
  X(qt_open_movie_file) X(qt_new_movie_from_file) X(qt_close_movie_file) X(qt_dispose_movie) \
  X(qt_get_movie_time_scale) X(qt_extraction_begin) X(qt_extraction_get_property) \
  X(qt_extraction_set_property) X(qt_extraction_fill_buffer) X(qt_extraction_end)

#ifdef __cplusplus
}
#endif
#endif
