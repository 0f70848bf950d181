// The audio/L16 resources of the LPCM plug-ins, written after each file
// resource of an item, and the checks that come before any decoder.
#include <corda_common/msf_lpcm.h>

#include <tarvo_util/dlna.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/xml.h>

#include <cstring>

namespace {

struct lpcm_fields {
  const msf_lpcm_style *style;
  sys_stralloc_rec pending;  // the copied attributes, the closing ones and ">"; empty outside a qualifying res
  uint32_t channels, rate;
  int64_t duration_ms;
  uint32_t text_at;          // where the res's text begins in the output
  bool dynamic_seen;
};

lpcm_fields *fields(msf_rewrite_rec *f) { return static_cast<lpcm_fields *>(f->user); }

bool is(const char *a, const char *b) { return !std::strcmp(a, b); }

bool qualifies(const char *const *names)
{
  bool file = false, filter = false;
  for (uint32_t i = 0; names[i]; i++) {
    file = file || is(names[i], "tarvo:filename");
    filter = filter || is(names[i], "tarvo:filter");
  }
  return file && !filter;
}

// The source's own values are read, the ones the LPCM res states itself
// skipped, and the rest copied in their order.
bool collect(lpcm_fields *l, const char *const *names, const char *const *values)
{
  l->channels = l->rate = 0;
  l->duration_ms = 0;
  for (uint32_t i = 0; names[i]; i++) {
    const char *n = names[i];
    if (is(n, "sampleFrequency")) {
      sys_str_scan_uint32(values[i], &l->rate);
    } else if (is(n, "nrAudioChannels")) {
      sys_str_scan_uint32(values[i], &l->channels);
    } else if (is(n, "size") || is(n, "bitsPerSample") || is(n, "bitrate") || is(n, "protocolInfo")) {
      continue;
    } else {
      if (is(n, "duration") && !npt_scan_hhmmss(values[i], &l->duration_ms)) l->duration_ms = 0;
      if (!xml_gen_attribute_append(&l->pending, n, values[i])) return false;
    }
  }
  return xml_gen_attribute_append(&l->pending, "bitsPerSample", "16") &&
         xml_gen_attribute_append(&l->pending, "tarvo:filter", l->style->filter) &&
         sys_stralloc_cats(&l->pending, ">");
}

int on_start(msf_rewrite_rec *f, const char *name, const char *const *names, const char *const *values)
{
  lpcm_fields *l = fields(f);
  if (is(name, "tarvo:dynamic")) l->dynamic_seen = true;
  if (!is(name, "res") || !qualifies(names)) return MSF_TAG_COPY;
  l->pending.len = 0;
  if (!collect(l, names, values)) return MSF_TAG_FAIL;
  // Without a channel count the resource could not be served.
  if (!l->channels) l->pending.len = 0;
  return MSF_TAG_COPY;
}

int after_start(msf_rewrite_rec *f, const char *name)
{
  if (is(name, "res")) fields(f)->text_at = f->out.len;
  return 1;
}

bool append_number(sys_stralloc_rec *sa, const char *name, uint64_t v)
{
  char digits[24];
  digits[sys_str_fmt_uint64(digits, v)] = 0;
  return xml_gen_attribute_append(sa, name, digits);
}

bool write_res(msf_rewrite_rec *f, uint32_t rate, const char *text, uint32_t text_len)
{
  lpcm_fields *l = fields(f);
  uint32_t channels = l->channels <= 1 ? l->channels : 2;
  char flags[FLAGS_PARAM_SIZE], num[12];
  flags_param_init(flags);
  flags_param_set_primary_flag(flags, 21);
  sys_stralloc_rec pi{};
  num[sys_str_fmt_uint32(num, rate)] = 0;
  bool ok = sys_stralloc_cats(&pi, "http-get:*:audio/L16;rate=") && sys_stralloc_cats(&pi, num) &&
            sys_stralloc_cats(&pi, ";channels=");
  num[sys_str_fmt_uint32(num, channels)] = 0;
  ok = ok && sys_stralloc_cats(&pi, num) &&
       sys_stralloc_cats(&pi, ":DLNA.ORG_PN=LPCM;DLNA.ORG_OP=11;DLNA.ORG_CI=1;DLNA.ORG_FLAGS=") &&
       sys_stralloc_cats(&pi, flags) && sys_stralloc_append(&pi, "");
  uint64_t bitrate = msf_lpcm_bytes_per_second(rate, channels);
  uint64_t size = msf_lpcm_bytes_for(rate, channels, uint64_t(l->duration_ms > 0 ? l->duration_ms : 0));
  sys_stralloc_rec *o = &f->out;
  ok = ok && sys_stralloc_cats(o, "\r\n<res") && xml_gen_attribute_append(o, "protocolInfo", pi.buf) &&
       append_number(o, "sampleFrequency", rate) && append_number(o, "bitrate", bitrate) &&
       append_number(o, "nrAudioChannels", channels) && append_number(o, "size", size) &&
       sys_stralloc_catb(o, l->pending.buf, l->pending.len) && sys_stralloc_catb(o, text, text_len) &&
       sys_stralloc_cats(o, "</res>");
  sys_stralloc_free(&pi);
  return ok;
}

int after_end(msf_rewrite_rec *f, const char *name)
{
  lpcm_fields *l = fields(f);
  if (!is(name, "res") || !l->pending.len) return 1;
  // The source's text as written, between its start and end tags.
  sys_stralloc_rec text{};
  uint32_t end = f->out.len - uint32_t(sizeof "</res>" - 1);
  bool ok = sys_stralloc_copyb(&text, f->out.buf + l->text_at, end - l->text_at);
  uint32_t first = l->rate == MSF_LPCM_RATE_CD ? MSF_LPCM_RATE_CD : MSF_LPCM_RATE_DAT;
  uint32_t second = first == MSF_LPCM_RATE_CD ? MSF_LPCM_RATE_DAT : MSF_LPCM_RATE_CD;
  ok = ok && write_res(f, first, text.buf, text.len) &&
       (l->style->single_rate || write_res(f, second, text.buf, text.len));
  sys_stralloc_free(&text);
  l->pending.len = 0;
  return ok;
}

int before_end(msf_rewrite_rec *f, const char *name)
{
  lpcm_fields *l = fields(f);
  if (!l->style->add_dynamic || l->dynamic_seen || !is(name, "item")) return 1;
  return sys_stralloc_cats(&f->out, "<tarvo:dynamic></tarvo:dynamic>\r\n");
}

const msf_rewrite_hooks kLpcm = {on_start, after_start, before_end, after_end};

}  // namespace

extern "C" {

uint64_t msf_lpcm_bytes_per_second(uint32_t rate, uint32_t channels) { return uint64_t(rate) * channels * 2; }

uint64_t msf_lpcm_bytes_for(uint32_t rate, uint32_t channels, uint64_t ms)
{
  uint64_t frame = uint64_t(channels) * 2;
  if (!frame) return 0;
  uint64_t bytes = msf_lpcm_bytes_per_second(rate, channels) * ms / 1000;
  return bytes - bytes % frame;
}

int msf_lpcm_rewrite(const msf_lpcm_style *style, const char *text, char *buffer, uint32_t capacity)
{
  lpcm_fields l{};
  l.style = style;
  int ok = msf_rewrite_run(&kLpcm, &l, text, buffer, capacity);
  sys_stralloc_free(&l.pending);
  return ok;
}

int msf_lpcm_file_changed(const char *path, const uint64_t *timestamp)
{
  sys_file_stat_rec st;
  if (!msf_regular_file(path, &st)) return 0;
  // Nothing is newer than the stored time: the item stays as it is.
  if (timestamp && *timestamp && int64_t(*timestamp) >= st.ctime && int64_t(*timestamp) >= st.mtime) return 0;
  return 1;
}

const char *msf_lpcm_dot_suffix(const char *protocol_info)
{
  if (!protocol_info) return nullptr;
  // The third field: the content format after the second colon.
  const char *first = std::strchr(protocol_info, ':');
  const char *second = first ? std::strchr(first + 1, ':') : nullptr;
  if (!second) return nullptr;
  const char *type = second + 1;
  return mimetype_major_equal(type, "audio") && mimetype_sub_equal(type, "L16") ? ".lpcm" : nullptr;
}

}  // extern "C"
