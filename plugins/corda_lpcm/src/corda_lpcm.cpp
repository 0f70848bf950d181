// The LPCM plug-in's entry points: WMA, MP3, WAV and Ogg Vorbis items gain
// audio/L16 resources, which it serves decoded.
#include <corda_lpcm/corda_lpcm.h>

#include <tarvo_util/dlna.h>

#include <cstring>
#include <initializer_list>

namespace {

bool wanted_type(const char *mime)
{
  if (mimetype_major_equal(mime, "application")) return mimetype_sub_equal(mime, "ogg");
  if (!mimetype_major_equal(mime, "audio")) return false;
  for (const char *sub : {"x-ms-wma", "mpeg", "mp1", "mp2", "wav"})
    if (mimetype_sub_equal(mime, sub)) return true;
  return false;
}

// The object's first res carries a duration.
bool first_res_timed(const didl_object *o)
{
  for (uint32_t i = 0; o && i < o->properties.len; i++) {
    auto *p = static_cast<const didl_property *>(o->properties.buf[i]);
    if (std::strcmp(p->element, "res")) continue;
    for (uint32_t k = 0; k < p->attributes.names.len; k++)
      if (!std::strcmp(static_cast<const char *>(p->attributes.names.buf[k]), "duration")) return true;
    return false;
  }
  return false;
}

const msf_lpcm_decoder kDecoder = {nullptr, lpcm_decode, MSF_LPCM_BLOCK};

}  // namespace

extern "C" {

int tarvo_msf_init(void) { return 1; }

void tarvo_msf_free(void) {}

const char *tarvo_msf_get_dot_suffix(const char *protocol_info) { return msf_lpcm_dot_suffix(protocol_info); }

int tarvo_msf_as_is_updated(const char *path, const char *mime, const uint64_t *timestamp, const didl_object *object)
{
  // The graph is built last: every cheap refusal comes before it.
  return mime && wanted_type(mime) && msf_lpcm_file_changed(path, timestamp) && first_res_timed(object) &&
         lpcm_decodable(path, mime);
}

int tarvo_msf_as_rewrite(const char *, const char *mime, const char *text, char *buffer, uint32_t capacity)
{
  msf_lpcm_style style{"corda_lpcm", mime && mimetype_sub_equal(mime, "ogg"), 0};
  return msf_lpcm_rewrite(&style, text, buffer, capacity);
}

int tarvo_msf_http_get(plugin_http_get_request *request) { return msf_lpcm_serve(request, &kDecoder); }

}  // extern "C"
