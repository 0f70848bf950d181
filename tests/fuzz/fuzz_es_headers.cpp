// links: tarvo_tag tarvo_avcp tarvo_util
// Every elementary-stream header parser on arbitrary payload delivered in
// arbitrary pieces, as the stream readers feed it: consumed never exceeds
// what was given, the payload is left as it was, results are those of the
// contract, a result of 1 leaves the record complete, and a call depends
// on nothing but the record and the payload (run twice on copies, it gives
// the same answer).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "es_headers.h"

namespace {

void check(bool ok)
{
  if (!ok) std::abort();
}

struct parser {
  const es_header_parser_row *row;
  bool video;
};

std::vector<parser> parsers()
{
  std::vector<parser> r;
  for (const es_header_parser_row *p = es_header_parser_table.video; p->parse; p++) r.push_back({p, true});
  for (const es_header_parser_row *p = es_header_parser_table.audio; p->parse; p++) r.push_back({p, false});
  return r;
}

template <class Record>
void run(const es_header_parser_row *row, const uint8_t *data, size_t size, const uint8_t *splits, size_t nsplits)
{
  Record rec{};
  rec.stream_type = uint16_t(row->stream_type);
  std::vector<unsigned char> buf;
  size_t at = 0, k = 0;
  while (at < size) {
    size_t n = nsplits ? splits[k++ % nsplits] * 4 + 1 : size;
    if (n > size - at) n = size - at;
    buf.insert(buf.end(), data + at, data + at + n);
    at += n;
    std::vector<unsigned char> before = buf;
    Record twin = rec;
    sys_memalloc_rec payload{buf.data(), uint32_t(buf.size()), uint32_t(buf.size())};
    uint32_t consumed = UINT32_MAX, consumed2 = UINT32_MAX;
    int r = row->parse(&rec, &payload, &consumed);
    int r2 = row->parse(&twin, &payload, &consumed2);
    check(consumed <= buf.size());
    check(buf == before);
    check(r == r2 && consumed == consumed2 && std::memcmp(&rec, &twin, sizeof rec) == 0);
    check(r == ES_RESULT_INVALID || r == ES_RESULT_COMPLETE || r == ES_RESULT_UNSUPPORTED || r == ES_RESULT_MORE ||
          (r == ES_RESULT_STUFFING && row->stream_type == ES_TYPE_MPEG2_VIDEO));
    if (r == ES_RESULT_COMPLETE) check(row->complete(&rec) == 1);
    if (r != ES_RESULT_MORE) return;
    buf.erase(buf.begin(), buf.begin() + consumed);
  }
}

}  // namespace

// The first byte picks the parser, the second the number of split bytes
// that follow; the rest is the payload.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  static const std::vector<parser> all = parsers();
  if (size < 2) return 0;
  const parser &p = all[data[0] % all.size()];
  size_t nsplits = data[1] % 16;
  if (size - 2 < nsplits) return 0;
  const uint8_t *splits = data + 2, *payload = splits + nsplits;
  size_t len = size - 2 - nsplits;
  if (p.video)
    run<es_video_info>(p.row, payload, len, splits, nsplits);
  else
    run<es_audio_info>(p.row, payload, len, splits, nsplits);
  return 0;
}
