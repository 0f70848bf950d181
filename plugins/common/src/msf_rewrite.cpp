// The rewrite frame: one object's DIDL-Lite text copied through expat,
// with the plug-in's hooks at element start and end.
#include <corda_common/msf_common.h>

#include <tarvo_util/sys_str.h>
#include <tarvo_util/xml.h>

#include <new>
#include <vector>

namespace {

msf_rewrite_rec *frame(void *user) { return static_cast<msf_rewrite_rec *>(user); }

void fail(msf_rewrite_rec *f) { f->state = -1; }

bool copying(const msf_rewrite_rec *f) { return f->state == 0; }

void on_start(const xml_name_rec *name, const xml_name_rec *const *attr_names, const char *const *attr_values,
              void *user)
{
  msf_rewrite_rec *f = frame(user);
  f->depth++;
  if (!copying(f)) return;
  std::vector<const char *> names;
  try {
    for (const xml_name_rec *const *a = attr_names; *a; a++) names.push_back((*a)->local);
    names.push_back(nullptr);
  } catch (const std::bad_alloc &) {
    return fail(f);
  }
  int decision = f->hooks->start ? f->hooks->start(f, name->local, names.data(), attr_values) : MSF_TAG_COPY;
  if (decision == MSF_TAG_DROP) {
    // Without its root the text is no document: nothing a reader takes.
    if (f->depth == 1) return fail(f);
    f->state = int32_t(f->depth);
  } else if (decision == MSF_TAG_FAIL ||
             (decision == MSF_TAG_COPY && !msf_rewrite_start_tag(f, name->local, names.data(), attr_values)) ||
             (f->hooks->after_start && !f->hooks->after_start(f, name->local))) {
    fail(f);
  }
}

void on_end(const xml_name_rec *name, void *user)
{
  msf_rewrite_rec *f = frame(user);
  if (f->state > 0 && uint32_t(f->state) == f->depth) {
    f->state = 0;
  } else if (copying(f) &&
             ((f->hooks->before_end && !f->hooks->before_end(f, name->local)) || !sys_stralloc_cats(&f->out, "</") ||
              !sys_stralloc_cats(&f->out, name->local) || !sys_stralloc_cats(&f->out, ">") ||
              (f->hooks->after_end && !f->hooks->after_end(f, name->local)))) {
    fail(f);
  }
  f->depth--;
}

void on_text(const char *data, uint32_t len, void *user)
{
  msf_rewrite_rec *f = frame(user);
  if (!copying(f)) return;
  if (!sys_stralloc_copyb(&f->scratch, data, len) || !sys_stralloc_append(&f->scratch, "") ||
      !xml_gen_encode_append(&f->out, f->scratch.buf))
    fail(f);
}

void on_default(const char *data, uint32_t len, void *user)
{
  msf_rewrite_rec *f = frame(user);
  if (copying(f) && !sys_stralloc_catb(&f->out, data, len)) fail(f);
}

// Handlers that only keep the CDATA markers away from the default
// handler: the content reaches on_text and is written escaped, which is
// the same text for the reader.
void on_cdata(void *) {}

bool parse(msf_rewrite_rec *f, const char *text)
{
  xml_parse_rec p;
  if (!xml_parse_create_nonamespace(&p, f)) return false;
  xml_parse_set_default_handler(&p, on_default);
  xml_parse_set_element_handler(&p, on_start, on_end);
  xml_parse_set_cdata_handler(&p, on_cdata, on_cdata);
  xml_parse_set_text_handler(&p, on_text);
  bool ok = xml_parse_feed(&p, text, sys_str_len(text), 1);
  xml_parse_free(&p);
  return ok;
}

}  // namespace

extern "C" {

int msf_rewrite_start_tag(msf_rewrite_rec *f, const char *name, const char *const *attr_names,
                          const char *const *attr_values)
{
  if (!sys_stralloc_cats(&f->out, "<") || !sys_stralloc_cats(&f->out, name)) return 0;
  for (uint32_t i = 0; attr_names[i]; i++)
    if (!xml_gen_attribute_append(&f->out, attr_names[i], attr_values[i])) return 0;
  return sys_stralloc_cats(&f->out, ">");
}

int msf_rewrite_run(const msf_rewrite_hooks *hooks, void *user, const char *text, char *buffer, uint32_t capacity)
{
  msf_rewrite_rec f{};
  f.hooks = hooks;
  f.user = user;
  bool ok = text && parse(&f, text) && f.state == 0 && sys_stralloc_append(&f.out, "") && f.out.len <= capacity;
  if (ok) sys_byte_copy(buffer, f.out.len, f.out.buf);
  sys_stralloc_free(&f.out);
  sys_stralloc_free(&f.scratch);
  return ok;
}

}  // extern "C"
