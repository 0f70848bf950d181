// The MP4 LPCM plug-in's entry points: audio/mp4 items gain two audio/L16
// resources and become dynamic; the resources are served decoded by the
// movie toolbox stand-in.
#include <corda_lpcm_mp4/corda_lpcm_mp4.h>

#include <tarvo_util/dlna.h>

namespace {

// The movie check comes first, even before the file's own check.
const char *precheck(const char *path) { return lpcm_qt_movie_check(path) ? nullptr : "500 internal server error"; }

const msf_lpcm_decoder kDecoder = {precheck, lpcm_qt_decode, 0};

}  // namespace

extern "C" {

int tarvo_msf_init(void) { return 1; }

void tarvo_msf_free(void) { lpcm_qt_stop(); }

const char *tarvo_msf_get_dot_suffix(const char *protocol_info) { return msf_lpcm_dot_suffix(protocol_info); }

int tarvo_msf_as_is_updated(const char *path, const char *mime, const uint64_t *timestamp, const didl_object *)
{
  return mime && mimetype_major_equal(mime, "audio") && mimetype_sub_equal(mime, "mp4") &&
         msf_lpcm_file_changed(path, timestamp) && lpcm_qt_movie_check(path);
}

int tarvo_msf_as_rewrite(const char *, const char *, const char *text, char *buffer, uint32_t capacity)
{
  msf_lpcm_style style{"corda_lpcm_mp4", 0, 1};
  return msf_lpcm_rewrite(&style, text, buffer, capacity);
}

int tarvo_msf_http_get(plugin_http_get_request *request) { return msf_lpcm_serve(request, &kDecoder); }

}  // extern "C"
