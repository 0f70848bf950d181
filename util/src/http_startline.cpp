// Request and status lines.
#include <tarvo_util/http_message.h>

#include <cstring>
#include <string_view>

namespace {

// Splits off the text up to the next blank and then the run of blanks
// after it.
std::string_view field(std::string_view *rest)
{
  size_t end = std::min(rest->find(' '), rest->size());
  std::string_view f = rest->substr(0, end);
  rest->remove_prefix(end);
  size_t next = rest->find_first_not_of(' ');
  rest->remove_prefix(next == std::string_view::npos ? rest->size() : next);
  return f;
}

char *clone(std::string_view s)
{
  char *c = static_cast<char *>(sys_alloc(s.size() + 1));
  if (!c) return nullptr;
  std::memcpy(c, s.data(), s.size());
  c[s.size()] = 0;
  return c;
}

// A line with a NUL byte cannot be split into C strings faithfully.
bool line_of(const sys_stralloc_rec *sa, std::string_view *line)
{
  *line = std::string_view(sa->buf ? sa->buf : "", sa->len);
  return line->find('\0') == std::string_view::npos;
}

}  // namespace

extern "C" {

int http_request_startline_parse(http_request_startline_rec *rec, const sys_stralloc_rec *sa)
{
  std::string_view rest;
  if (!line_of(sa, &rest)) return 0;
  std::string_view method = field(&rest), target = field(&rest), version = field(&rest);
  char *m = clone(method), *t = clone(target), *v = clone(version);
  uri_rec uri{};
  int ok = m && t && v && uri_parse(&uri, t);
  sys_alloc_free(t);
  if (!ok) {
    sys_alloc_free(m);
    sys_alloc_free(v);
    return 0;
  }
  rec->method = m;
  rec->uri = uri;
  rec->version = v;
  return 1;
}

void http_request_startline_free(http_request_startline_rec *rec)
{
  if (!rec) return;
  sys_alloc_free(rec->method);
  uri_free(&rec->uri);
  sys_alloc_free(rec->version);
  rec->method = rec->version = nullptr;
  rec->uri = uri_rec{};
}

int http_response_startline_parse(http_response_startline_rec *rec, const sys_stralloc_rec *sa)
{
  std::string_view rest;
  if (!line_of(sa, &rest)) return 0;
  std::string_view version = field(&rest), code = field(&rest);
  char *v = clone(version), *c = clone(code), *r = clone(rest);
  if (!v || !c || !r) {
    sys_alloc_free(v);
    sys_alloc_free(c);
    sys_alloc_free(r);
    return 0;
  }
  rec->version = v;
  rec->code = c;
  rec->reason = r;
  return 1;
}

void http_response_startline_free(http_response_startline_rec *rec)
{
  if (!rec) return;
  sys_alloc_free(rec->version);
  sys_alloc_free(rec->code);
  sys_alloc_free(rec->reason);
  rec->version = rec->code = rec->reason = nullptr;
}

}  // extern "C"
