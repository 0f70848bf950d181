// Browse and Search answers parsed in the caller's buffer: the Result text
// is decoded into the start of the very buffer expat is reading, which
// stays safe because decoded text is never longer than the markup already
// read before it.
#include <tarvo_avcp/avcp_action_buf.h>

#include "../didl/avcp_didl_impl.h"
#include "avcp_action_impl.h"

#include <cstddef>
#include <cstring>

namespace {

enum arg_index { RESULT, NUMBER_RETURNED, TOTAL_MATCHES, UPDATE_ID, ARG_COUNT };
constexpr const char *arg_names[ARG_COUNT] = {"Result", "NumberReturned", "TotalMatches", "UpdateID"};

constexpr int FAILED = -1;

struct parse_rec {
  int depth = 0;
  int skip = 0;  // 0 reading, > 0 the depth of a skipped subtree, FAILED
  char *buf;
  uint32_t size;
  uint32_t result_len = 0;   // decoded Result bytes (after its end, with the NUL)
  uint32_t scratch_len = 0;  // the current number's text, right after them
  int current = RESULT;
  bool seen[ARG_COUNT] = {};
  uint32_t numbers[ARG_COUNT] = {};
  parse_rec(char *b, uint32_t n) : buf(b), size(n) {}
};

// The envelope namespace URI begins the name, and the local name follows.
bool in_envelope(const char *name, const char *local)
{
  const char *bar = std::strchr(name, '|');
  return bar && !std::strncmp(name, SOAP_ENVELOPE_NS, sizeof SOAP_ENVELOPE_NS - 1) &&
         bar - name >= ptrdiff_t(sizeof SOAP_ENVELOPE_NS - 1) && !std::strcmp(bar + 1, local);
}

void enter_argument(parse_rec &r, const char *name)
{
  for (int i = 0; i < ARG_COUNT; i++)
    if (!std::strcmp(name, arg_names[i]) && !r.seen[i]) {
      r.seen[i] = true;
      r.current = i;
      r.scratch_len = 0;
      return;
    }
  r.skip = r.depth;  // another element, or a repeated one: the first counts
}

void buf_on_start(void *user, const XML_Char *name, const XML_Char **)
{
  parse_rec &r = *static_cast<parse_rec *>(user);
  if (r.skip < 0) return;
  r.depth++;
  if (r.skip > 0) return;
  switch (r.depth) {
  case 1:
    if (!in_envelope(name, "Envelope")) r.skip = FAILED;
    break;
  case 2:
    if (!in_envelope(name, "Body")) r.skip = r.depth;  // a Header, say
    break;
  case 3:
    if (!std::strchr(name, '|')) r.skip = r.depth;
    break;
  case 4: enter_argument(r, name); break;
  default: r.skip = FAILED;  // no element may stand inside an argument
  }
}

// Appends text at the offset when it fits with room for the NUL after it.
bool put(parse_rec &r, uint32_t at, const char *s, uint32_t n)
{
  if (at >= r.size || n >= r.size - at) return false;
  // The text may lie in the buffer itself, behind the writing position.
  std::memmove(r.buf + at, s, n);
  return true;
}

void buf_on_chars(void *user, const XML_Char *s, int len)
{
  parse_rec &r = *static_cast<parse_rec *>(user);
  if (r.skip || r.depth != 4) return;
  uint32_t n = uint32_t(len);
  if (r.current == RESULT) {
    if (!put(r, r.result_len, s, n)) r.skip = FAILED;
    r.result_len += n;
  } else {
    if (!put(r, r.result_len + r.scratch_len, s, n)) r.skip = FAILED;
    r.scratch_len += n;
  }
}

void end_number(parse_rec &r)
{
  uint32_t end = r.result_len + r.scratch_len;
  if (end >= r.size) {
    r.skip = FAILED;
    return;
  }
  r.buf[end] = 0;
  const char *p = r.buf + r.result_len;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) p++;
  if (!sys_str_scan_uint32(p, &r.numbers[r.current])) r.skip = FAILED;
  r.scratch_len = 0;
}

void buf_on_end(void *user, const XML_Char *)
{
  parse_rec &r = *static_cast<parse_rec *>(user);
  if (r.skip < 0) return;
  if (r.skip > 0) {
    if (r.skip == r.depth) r.skip = 0;
    r.depth--;
    return;
  }
  if (r.depth == 4 && r.current == RESULT) {
    if (r.result_len >= r.size) r.skip = FAILED;  // cannot happen: put kept room for it
    else r.buf[r.result_len++] = 0;
  } else if (r.depth == 4) {
    end_number(r);
  } else if (r.depth >= 1 && r.depth <= 3) {
    for (bool s : r.seen)
      if (!s) r.skip = FAILED;
  } else {
    r.skip = FAILED;
  }
  r.depth--;
}

int parse_in_place(char *buf, uint32_t size, uint32_t *number_returned, uint32_t *total_matches,
                   uint32_t *update_id)
{
  if (!buf || !size) return 0;
  // size bounds what is written; the body is read up to its NUL.
  size_t len = std::strlen(buf);
  parse_rec r(buf, size);
  XML_Parser parser = XML_ParserCreateNS(nullptr, '|');
  if (!parser) return 0;
  XML_SetUserData(parser, &r);
  XML_SetElementHandler(parser, buf_on_start, buf_on_end);
  XML_SetCharacterDataHandler(parser, buf_on_chars);
  bool ok = avcp_didl::feed(parser, buf, len) && r.skip >= 0;
  XML_ParserFree(parser);
  if (!ok) return 0;
  if (number_returned) *number_returned = r.numbers[NUMBER_RETURNED];
  if (total_matches) *total_matches = r.numbers[TOTAL_MATCHES];
  if (update_id) *update_id = r.numbers[UPDATE_ID];
  return 1;
}

// Build, send into the buffer, parse there.
template <class Make>
uint32_t call_buf(http_client *client, char *buf, uint32_t size, const char *action, Make make,
                  uint32_t *number_returned, uint32_t *total_matches, uint32_t *update_id)
{
  char *body = nullptr;
  if (!make(&body)) return SOAP_ACTION_FAILED;
  uint32_t r = soap_client_action_buf(client, buf, size, avcp::cds_type, action, nullptr, body);
  sys_alloc_free(body);
  if (!r && !parse_in_place(buf, size, number_returned, total_matches, update_id)) r = SOAP_ACTION_FAILED;
  return r;
}

}  // namespace

extern "C" {

int avcp_cds_parse_browse_direct_children_response_buf(char *buf, uint32_t size, uint32_t *number_returned,
                                                       uint32_t *total_matches, uint32_t *update_id)
{
  return parse_in_place(buf, size, number_returned, total_matches, update_id);
}

int avcp_cds_parse_search_response_buf(char *buf, uint32_t size, uint32_t *number_returned,
                                       uint32_t *total_matches, uint32_t *update_id)
{
  return parse_in_place(buf, size, number_returned, total_matches, update_id);
}

uint32_t avcp_cds_browse_metadata_buf2(http_client *client, char *buf, uint32_t size, const char *object_id,
                                       const char *filter, uint32_t *update_id)
{
  auto make = [&](char **b) { return avcp_cds_make_browse_metadata_request(object_id, filter, b); };
  return call_buf(client, buf, size, "Browse", make, nullptr, nullptr, update_id);
}

uint32_t avcp_cds_browse_direct_children_buf2(http_client *client, char *buf, uint32_t size,
                                              const char *object_id, const char *filter, uint32_t starting_index,
                                              uint32_t requested_count, const char *sort_criteria,
                                              uint32_t *number_returned, uint32_t *total_matches,
                                              uint32_t *update_id)
{
  auto make = [&](char **b) {
    return avcp_cds_make_browse_direct_children_request(object_id, filter, starting_index, requested_count,
                                                        sort_criteria, b);
  };
  return call_buf(client, buf, size, "Browse", make, number_returned, total_matches, update_id);
}

uint32_t avcp_cds_search_buf2(http_client *client, char *buf, uint32_t size, const char *container_id,
                              const char *search_criteria, const char *filter, uint32_t starting_index,
                              uint32_t requested_count, const char *sort_criteria, uint32_t *number_returned,
                              uint32_t *total_matches, uint32_t *update_id)
{
  auto make = [&](char **b) {
    return avcp_cds_make_search_request(container_id, search_criteria, filter, starting_index, requested_count,
                                        sort_criteria, b);
  };
  return call_buf(client, buf, size, "Search", make, number_returned, total_matches, update_id);
}

}  // extern "C"
