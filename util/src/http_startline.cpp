// Request and status lines.
#include <tarvo_util/http_message.h>

#include "text_build.h"

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

// Heap copies of all three fields, or none of them.
bool copy_fields(const std::string_view (&f)[3], char *(&out)[3])
{
  for (int i = 0; i < 3; i++) {
    if (tarvo::heap_copy(f[i], &out[i])) continue;
    while (i--) sys_alloc_free(out[i]);
    return false;
  }
  return true;
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
  std::string_view f[3];
  for (std::string_view &x : f) x = field(&rest);
  char *c[3];  // method, target, version
  if (!copy_fields(f, c)) return 0;
  uri_rec uri{};
  int ok = uri_parse(&uri, c[1]);
  sys_alloc_free(c[1]);
  if (!ok) {
    sys_alloc_free(c[0]);
    sys_alloc_free(c[2]);
    return 0;
  }
  rec->method = c[0];
  rec->uri = uri;
  rec->version = c[2];
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
  // The reason is the rest of the line, blanks included.
  std::string_view f[3] = {field(&rest), field(&rest), rest};
  char *c[3];
  if (!copy_fields(f, c)) return 0;
  rec->version = c[0];
  rec->code = c[1];
  rec->reason = c[2];
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
