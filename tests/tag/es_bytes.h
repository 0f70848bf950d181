// Builders of elementary-stream bytes and a feeder that plays the caller of
// the header parsers, for the elementary-stream tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "es_headers.h"

namespace es_test {

using bytes = std::vector<unsigned char>;

// Bits written most significant first.
struct bit_writer {
  bytes out;
  int used = 8;
  void put(uint64_t value, int n)
  {
    for (int i = n - 1; i >= 0; i--) {
      if (used == 8) {
        out.push_back(0);
        used = 0;
      }
      if ((value >> i) & 1) out.back() |= uint8_t(0x80 >> used);
      used++;
    }
  }
  void ue(uint32_t v)
  {
    uint64_t x = uint64_t(v) + 1;
    int n = 0;
    while ((x >> (n + 1)) != 0) n++;
    put(0, n);
    put(x, n + 1);
  }
  // rbsp_trailing_bits: a one, then zeros to the byte boundary.
  void trail()
  {
    put(1, 1);
    while (used != 8) put(0, 1);
  }
};

inline bytes cat(std::initializer_list<bytes> parts)
{
  bytes r;
  for (const bytes &p : parts) r.insert(r.end(), p.begin(), p.end());
  return r;
}

// A record of that stream type for the row's list.
template <class Record>
Record record_of(uint16_t type)
{
  Record r{};
  r.stream_type = type;
  return r;
}

struct fed {
  int result = -1;
  uint32_t calls = 0;
};

// Appends the stream in pieces of the given sizes (cycled) to a growing
// payload, calls the row's parser after each and drops what it consumed,
// as the stream readers do; stops at the first result other than 4.
inline fed feed(void *record, uint32_t type, bool video, const bytes &stream, std::vector<uint32_t> pieces)
{
  const es_header_parser_row *row =
      es_header_parser_find(video ? es_header_parser_table.video : es_header_parser_table.audio, type);
  fed f;
  if (!row) return f;
  bytes buf;
  size_t at = 0, k = 0;
  while (at < stream.size()) {
    size_t n = std::min<size_t>(pieces[k++ % pieces.size()], stream.size() - at);
    buf.insert(buf.end(), stream.begin() + at, stream.begin() + at + n);
    at += n;
    sys_memalloc_rec payload{buf.data(), uint32_t(buf.size()), uint32_t(buf.size())};
    uint32_t consumed = UINT32_MAX;
    f.result = row->parse(record, &payload, &consumed);
    f.calls++;
    EXPECT_LE(consumed, buf.size());
    if (f.result != ES_RESULT_MORE) break;
    buf.erase(buf.begin(), buf.begin() + std::min<size_t>(consumed, buf.size()));
  }
  return f;
}

}  // namespace es_test
