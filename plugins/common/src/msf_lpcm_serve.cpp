// Serving an LPCM resource: the request, the byte range or time seek and
// its header, and the body writer the decoders feed.
#include <corda_common/msf_lpcm.h>

#include <tarvo_util/dlna.h>
#include <tarvo_util/http_message.h>
#include <tarvo_util/sys_str.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// --- the body ---

uint8_t *data_of(msf_lpcm_out *o) { return o->buf + MSF_LPCM_CHUNK_HEAD; }

// The n bytes at data_of(o), framed as one chunk when chunked.
bool send_piece(msf_lpcm_out *o, uint32_t n)
{
  if (!n) return true;
  uint8_t *data = data_of(o);
  if (!o->chunked) return sys_socket_allsend(o->socket, data, n);
  char head[MSF_LPCM_CHUNK_HEAD];
  uint32_t h = sys_str_fmt_xint(head, n);
  head[h++] = '\r';
  head[h++] = '\n';
  std::memcpy(data - h, head, h);
  data[n] = '\r';
  data[n + 1] = '\n';
  return sys_socket_allsend(o->socket, data - h, n + h + 2);
}

uint32_t capacity(const msf_lpcm_out *o) { return o->block ? o->block : MSF_LPCM_PIECE_MAX; }

// --- the answer ---

struct answer {
  msf_request_rec r;
  const plugin_http_get_request *q;
  sys_file_stat_rec st;
  uint32_t rate, channels;
  uint64_t bps, total;
};

bool set_blocking(int sock, bool on) { return on ? sys_socket_ndelay_off(sock) : sys_socket_ndelay_on(sock); }

// The body from start_ms, skip bytes dropped, budget bytes sent.
int stream(answer &a, const msf_lpcm_decoder *d, uint32_t start_ms, uint32_t skip, uint64_t budget)
{
  const plugin_http_get_request *q = a.q;
  msf_lpcm_job job{q->path, q->mime_type, a.rate, a.channels, q->duration_ms, start_ms};
  if (!budget) return (!a.r.http11 || sys_socket_allsend(q->socket, "0\r\n\r\n", 5)) ? a.r.req.keep_alive : 0;
  // A range that starts at or past the end of the audio has nothing to
  // decode from.
  if (start_ms >= q->duration_ms) return 0;
  auto *out = new (std::nothrow) msf_lpcm_out;
  if (!out) return 0;
  msf_lpcm_out_init(out, q->socket, a.r.http11, skip, budget, d->block);
  bool ok = set_blocking(q->socket, true) && d->decode(&job, out);
  ok = set_blocking(q->socket, false) && ok;
  delete out;
  return ok ? a.r.req.keep_alive : 0;
}

int serve_bytes(answer &a, const msf_lpcm_decoder *d)
{
  int send_body = 0;
  http_server_range_rec range{0, 0, a.total};
  if (!http_server_write_get_response_header_transcoding_dlna(&a.r.out, a.r.http11, a.r.head, &a.r.req,
                                                              MSF_SERVER_NAME, a.q->mime_type,
                                                              a.q->content_features, a.st.mtime, &send_body, &range))
    return 0;
  if (!send_body) return a.r.req.keep_alive;
  // Decoding starts at the whole second that holds the range's start.
  uint32_t skip = uint32_t(range.offset % a.bps);
  uint32_t start_ms = uint32_t((range.offset - skip) / a.bps * 1000);
  return stream(a, d, start_ms, skip, range.length);
}

int serve_time(answer &a, const msf_lpcm_decoder *d)
{
  int64_t start = 0, end = 0;
  int has_end = 0;
  uint32_t duration = a.q->duration_ms;
  const char *value = a.r.req.time_seek_range;
  if (!http_header_value_get_time_seek_range_dlna_request(value, http_header_skipspace(value), &start, &end, &has_end) ||
      start < 0)
    return msf_request_fail(&a.r, "400 bad request");
  if (start >= int64_t(duration) || (has_end && end <= start))
    return msf_request_fail(&a.r, "416 requested range not satisfiable");
  if (!has_end || end > int64_t(duration)) end = duration;
  uint64_t first = msf_lpcm_bytes_for(a.rate, a.channels, uint64_t(start));
  uint64_t last = msf_lpcm_bytes_for(a.rate, a.channels, uint64_t(end));
  http_server_npt_rec npt{uint32_t(start), uint32_t(end), duration};
  http_server_range_rec range{first, last - first, a.total};
  int send_body = 0;
  if (!http_server_write_get_response_header_time_seek_transcoding_dlna(
          &a.r.out, a.r.http11, a.r.head, &a.r.req, MSF_SERVER_NAME, a.q->mime_type, a.q->content_features,
          a.st.mtime, &send_body, &npt, &range))
    return 0;
  if (!send_body) return a.r.req.keep_alive;
  // The body is exactly the byte range the header announced.
  return stream(a, d, uint32_t(start), 0, range.length);
}

}  // namespace

extern "C" {

void msf_lpcm_out_init(msf_lpcm_out *o, int socket, int chunked, uint32_t skip, uint64_t budget, uint32_t block)
{
  o->socket = socket;
  o->chunked = chunked;
  o->skip = skip;
  o->budget = budget;
  o->block = std::min(block, MSF_LPCM_PIECE_MAX);
  o->fill = 0;
}

int msf_lpcm_out_put(msf_lpcm_out *o, const void *data, uint32_t len)
{
  auto *p = static_cast<const uint8_t *>(data);
  uint32_t drop = std::min(o->skip, len);
  o->skip -= drop;
  p += drop;
  len = uint32_t(std::min<uint64_t>(len - drop, o->budget));
  while (len) {
    uint32_t n = std::min(len, capacity(o) - o->fill);
    std::memcpy(data_of(o) + o->fill, p, n);
    o->fill += n;
    o->budget -= n;
    p += n;
    len -= n;
    if (o->block && o->fill < o->block) break;
    if (!send_piece(o, o->fill)) return 0;
    o->fill = 0;
  }
  return 1;
}

int msf_lpcm_out_finish(msf_lpcm_out *o)
{
  if (!send_piece(o, o->fill)) return 0;
  o->fill = 0;
  uint32_t piece = o->block ? o->block : MSF_LPCM_ZERO_PIECE;
  std::memset(data_of(o), 0, piece);
  while (o->budget) {
    uint32_t n = uint32_t(std::min<uint64_t>(o->budget, piece));
    if (!send_piece(o, n)) return 0;
    o->budget -= n;
  }
  return !o->chunked || sys_socket_allsend(o->socket, "0\r\n\r\n", 5);
}

int msf_lpcm_serve(plugin_http_get_request *request, const msf_lpcm_decoder *decoder)
{
  auto *a = new (std::nothrow) answer;
  if (!a) return 0;
  a->q = request;
  int result = 0;
  const char *refused = nullptr;
  if (!msf_request_read(&a->r, request, MSF_READER_TRANSCODE)) {
    result = 0;
  } else if (decoder->precheck && (refused = decoder->precheck(request->path))) {
    result = msf_request_fail(&a->r, refused);
  } else if (!msf_regular_file(request->path, &a->st)) {
    result = msf_request_fail(&a->r, "404 file not found");
  } else if (!mime_l16_params(request->mime_type, &a->rate, &a->channels)) {
    result = 0;  // a resource this plug-in did not write
  } else {
    a->bps = msf_lpcm_bytes_per_second(a->rate, a->channels);
    a->total = msf_lpcm_bytes_for(a->rate, a->channels, request->duration_ms);
    result = a->r.req.range || !a->r.req.time_seek_range ? serve_bytes(*a, decoder) : serve_time(*a, decoder);
  }
  delete a;
  return result;
}

}  // extern "C"
