/* The metadata library: a media file with its MIME type becomes the
 * DIDL-Lite text of one item, or one parsed object restricted to a filter.
 * The library keeps no state; every call may run on any thread.  Results
 * are 1 for success and 0 for failure. */
#ifndef TARVO_TAG_H
#define TARVO_TAG_H

#include <stdint.h>
#include <tarvo_avcp/avcp_didl.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_file.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The text of one item: the DIDL-Lite start tag, "<item>" without
 * attributes, dc:title, an empty res element carrying the res@ properties
 * as attributes, the other properties as elements in the order found, and
 * the end tags.  On success *text is a heap string (sys_alloc_free); on
 * failure it is untouched. */
int tarvo_tag_item(const char *path, const char *mime, char **text);

/* Appends the file's properties to two parallel arrays of heap strings:
 * names and their UTF-8 values.  The caller zero-fills both records first
 * and frees every element with sys_alloc_free, then the arrays with
 * sys_ptralloc_free, also after a failure. */
int tarvo_tag_get_properties(const char *path, const char *mime, sys_ptralloc_rec *names,
                             sys_ptralloc_rec *values);

/* For "upnp:genre", "dc:creator", "upnp:artist" and "upnp:actor" a NULL or
 * empty value becomes the static text "Unknown"; anything else comes back
 * as given.  Never a copy. */
const char *tarvo_tag_normalize_property(const char *name, const char *value);

/* One file (opened and stat'ed by the caller) or one folder (file unused)
 * as a parsed object, holding only what the ContentDirectory filter lets
 * through; a file's res carries its file: URI.  *object is freed with
 * avcp_didl_object_free. */
int tarvo_tag_browse_metadata(const char *path, int file, const sys_file_stat_rec *st, const char *filter,
                              avcp_didl_object **object);

/* 1 when the MIME type names an M3U playlist (audio/x-mpegurl), else 0. */
int tag_m3u_match(const char *mime);

/* Each 1 when the MIME type (major type and subtype compared without case)
 * names the format of one reader, else 0. */
int tag_mp3_match(const char *mime);  /* audio/mpeg, audio/mp1, audio/mp2 */
int tag_wav_match(const char *mime);  /* audio/wav */
int tag_wma_match(const char *mime);  /* audio/x-ms-wma */
int tag_mpeg_match(const char *mime); /* video/mpeg */
int tag_wmv_match(const char *mime);  /* video/x-ms-wmv, video/x-ms-asf */
int tag_avi_match(const char *mime);  /* video/avi */
int tag_jpeg_match(const char *mime); /* image/jpeg */
int tag_bmp_match(const char *mime);  /* image/bmp */
int tag_png_match(const char *mime);  /* image/png */
int tag_ogg_match(const char *mime);  /* application/ogg */
int tag_mp4_match(const char *mime);  /* audio/ or video/ mp4 and 3gpp */
int tag_dvr_match(const char *mime);  /* video/x-ms-dvr */
int tag_tiff_match(const char *mime); /* image/tiff */
int tag_gif_match(const char *mime);  /* image/gif */

#ifdef __cplusplus
}
#endif
#endif
