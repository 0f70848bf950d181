// Resource streams: a resource read by GET, or written by a POST of a
// declared length, each on an HTTP client of its own.
#include <tarvo_avcp/tarvo_avcp.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_str.h>

namespace {

void stream_free(tarvo_avcp_resource_stream *s)
{
  if (!s) return;
  http_client_free(&s->client);
  sys_alloc_free(s);
}

tarvo_avcp_resource_stream *stream_new(int32_t mode, const char *url)
{
  auto *s = static_cast<tarvo_avcp_resource_stream *>(sys_alloc_zero(sizeof(tarvo_avcp_resource_stream)));
  if (!s) return nullptr;
  s->mode = mode;
  if (!url || !http_client_init(&s->client, url)) {
    sys_alloc_free(s);
    return nullptr;
  }
  return s;
}

// The Content-Length of the answer, -1 without one; a value that is not a
// number of bytes (a sign, no digits) is refused.
bool content_length(http_client *c, int64_t *length)
{
  *length = -1;
  const char *v = http_client_header(c, "content-length:");
  if (!v) return true;
  while (*v == ' ' || *v == '\t') v++;
  if (*v < '0' || *v > '9') return false;
  return sys_str_scan_int64(v, length) && *length >= 0;
}

tarvo_avcp_resource_stream *live(tarvo_avcp_resource_stream **stream, int32_t mode)
{
  return stream && *stream && (*stream)->mode == mode ? *stream : nullptr;
}

}  // namespace

extern "C" {

int tarvo_avcp_open_resource_read(tarvo_avcp_resource_stream **stream, char *const *extra_lines, const char *url,
                                  int64_t *length)
{
  if (!stream) return 0;
  *stream = nullptr;
  tarvo_avcp_resource_stream *s = stream_new(0, url);
  if (!s) return 0;
  int status = 0;
  int64_t n = -1;
  if (!http_client_get(&s->client, extra_lines, &status) || status != 200 || !content_length(&s->client, &n)) {
    stream_free(s);
    return 0;
  }
  if (length) *length = n;
  *stream = s;
  return 1;
}

int tarvo_avcp_read_resource(tarvo_avcp_resource_stream **stream, void *buf, uint32_t size, uint32_t *got)
{
  tarvo_avcp_resource_stream *s = live(stream, 0);
  return s && got && http_client_read(&s->client, buf, size, got);
}

int tarvo_avcp_open_resource_write(tarvo_avcp_resource_stream **stream, const char *url, int64_t length)
{
  if (!stream) return 0;
  *stream = nullptr;
  if (length < 0) return 0;
  tarvo_avcp_resource_stream *s = stream_new(1, url);
  if (!s) return 0;
  s->remaining = length;
  char close_line[] = "CONNECTION: close";
  char *lines[] = {close_line, nullptr};
  if (!http_client_post_begin(&s->client, uint64_t(length), lines)) {
    stream_free(s);
    return 0;
  }
  *stream = s;
  return 1;
}

int tarvo_avcp_write_resource(tarvo_avcp_resource_stream **stream, const void *data, uint32_t size)
{
  tarvo_avcp_resource_stream *s = live(stream, 1);
  if (!s || int64_t(size) > s->remaining || !http_client_write(&s->client, data, size)) return 0;
  s->remaining -= size;
  return 1;
}

int tarvo_avcp_close_resource(tarvo_avcp_resource_stream **stream)
{
  if (!stream || !*stream) return 0;
  tarvo_avcp_resource_stream *s = *stream;
  // The variable is cleared first: a second close finds nothing.
  *stream = nullptr;
  int ok = 1;
  if (s->mode == 1) {
    int status = 0;
    ok = s->remaining == 0 && http_client_post_end(&s->client, &status) &&
         (status == 200 || status == 201 || status == 204);
  }
  stream_free(s);
  return ok;
}

}  // extern "C"
