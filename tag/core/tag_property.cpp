// Property lists: the name table, adding, formatting and finding
// properties, and skipping through a file.
#include <tarvo_tag/tag_reader.h>
#include <tarvo_util/charset.h>
#include <tarvo_util/dlna.h>
#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_str.h>

#include <cstring>
#include <string_view>

#include "tag_impl.h"

extern "C" const char *const tag_property_names[TAG_PROPERTY_NAME_COUNT] = {
#define TAG_PROPERTY_NAME_TEXT_(id, text) text,
    TAG_PROPERTY_NAMES(TAG_PROPERTY_NAME_TEXT_)
#undef TAG_PROPERTY_NAME_TEXT_
};

namespace tag {

int add_owned(char *name, char *value, sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  if (!name || !value || !sys_ptralloc_readyplus(names, 1) || !sys_ptralloc_readyplus(values, 1)) {
    sys_alloc_free(name);
    sys_alloc_free(value);
    return 0;
  }
  sys_ptralloc_append(names, name);
  sys_ptralloc_append(values, value);
  return 1;
}

}  // namespace tag

namespace {

using tag::copy_of;

int add_text(const char *name, std::string_view value, sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  return tag::add_owned(copy_of(name), copy_of(value), names, values);
}

// Two digits (or three for milliseconds), zero-padded.
std::string_view padded(char *buf, uint32_t v, uint32_t width)
{
  return {buf, sys_str_fmt_0uint32(buf, v, width)};
}

}  // namespace

extern "C" {

int tag_list_add_copy(sys_ptralloc_rec *array, const char *text)
{
  char *copy = copy_of(text);
  if (copy && sys_ptralloc_append(array, copy)) return 1;
  sys_alloc_free(copy);
  return 0;
}

int tag_is_blank(const char *s)
{
  if (!s) return 1;
  for (; *s; s++)
    if (*s != ' ' && *s != '\t' && *s != '\n') return 0;
  return 1;
}

int tag_property_add(const char *name, const char *value, sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  return tag_is_blank(value) || add_text(name, value, names, values);
}

int tag_text_property_add(const char *name, const char *text, sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  if (!text || !*text) return 1;
  char *utf8 = nullptr;
  // Text that cannot be read is simply not a property.
  if (!utf8_from2(charencoding_autodetect(text, sys_str_len(text)), text, &utf8)) return 1;
  if (!*utf8) {
    sys_alloc_free(utf8);
    return 1;
  }
  return tag::add_owned(copy_of(name), utf8, names, values);
}

int tag_uint_property_add(const char *name, uint32_t number, sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  char buf[16];
  return add_text(name, {buf, sys_str_fmt_uint32(buf, number)}, names, values);
}

// A 32-bit count of milliseconds stays below 1,194 hours, so the hours
// always fit the form.
int tag_duration_format(uint32_t ms, sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  char h[16], m[4], s[4], f[4];
  uint32_t secs = ms / 1000;
  tag::text t;
  bool ok = t.add({h, sys_str_fmt_uint32(h, ms / 3600000)}) && t.add(":") && t.add(padded(m, secs % 3600 / 60, 2)) &&
            t.add(":") && t.add(padded(s, secs % 60, 2)) &&
            (ms % 1000 == 0 || (t.add(".") && t.add(padded(f, ms % 1000, 3))));
  return ok && add_text(TAG_NAME(RES_DURATION), {t.s.buf, t.s.len}, names, values);
}

int tag_resolution_format(uint32_t width, uint32_t height, sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  if (!width || !height) return 1;
  char w[16], h[16];
  tag::text t;
  return t.add({w, sys_str_fmt_uint32(w, width)}) && t.add("x") && t.add({h, sys_str_fmt_uint32(h, height)}) &&
         add_text(TAG_NAME(RES_RESOLUTION), {t.s.buf, t.s.len}, names, values);
}

int tag_protocol_info(const char *mime, const char *parameters, sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  tag::text t;
  return t.add(TAG_NAME(HTTP_GET)) && t.add(":*:") && t.add(mime) && t.add(":") && t.add(parameters) &&
         add_text(TAG_NAME(RES_PROTOCOL_INFO), {t.s.buf, t.s.len}, names, values);
}

int tag_protocol_info_flags(const char *mime, const char *head, sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  char flags[FLAGS_PARAM_SIZE];
  flags_param_init(flags);
  flags_param_set_primary_flag(flags, 21);
  tag::text parameters;
  return parameters.add(head) && parameters.add(flags) && parameters.add({"", 1}) &&
         tag_protocol_info(mime, parameters.s.buf, names, values);
}

int tag_protocol_info_no_profile(const char *mime, sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  return tag_protocol_info_flags(mime, "DLNA.ORG_OP=01;DLNA.ORG_CI=0;DLNA.ORG_FLAGS=", names, values);
}

uint32_t tag_property_index(const sys_ptralloc_rec *names, const char *name)
{
  uint32_t i = 0;
  while (i < names->len && std::strcmp(static_cast<const char *>(names->buf[i]), name) != 0) i++;
  return i;
}

const char *tag_property_value(const sys_ptralloc_rec *names, const sys_ptralloc_rec *values, const char *name)
{
  uint32_t i = tag_property_index(names, name);
  return i < names->len ? static_cast<const char *>(values->buf[i]) : nullptr;
}

int tag_property_exists(const sys_ptralloc_rec *names, const char *name)
{
  return tag_property_index(names, name) < names->len;
}

void tag_property_list_clear(sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  for (sys_ptralloc_rec *a : {names, values}) {
    for (uint32_t i = 0; i < a->len; i++) sys_alloc_free(a->buf[i]);
    a->len = 0;
  }
}

int tag_file_skip(int file, uint32_t count)
{
  int64_t pos, now;
  return sys_file_seek_pos(file, &pos) && sys_file_seek_set(file, pos + int64_t(count), &now) &&
         now == pos + int64_t(count);
}

}  // extern "C"
