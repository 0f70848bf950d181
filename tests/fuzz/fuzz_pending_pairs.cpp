// links: tarvo_maint
// The pending-rename pair walker on arbitrary lists: what it keeps is a
// subsequence of the input's pairs, each unchanged, none naming the product
// folder, and every pair it leaves out names it.
#include <tarvo_maint/pending_pairs.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

using name = std::u16string;

std::vector<std::pair<name, name>> read_pairs(const uint8_t *p, size_t size)
{
  std::vector<char16_t> units((size + 1) / 2 + 2, 0);
  for (size_t i = 0; i < size; ++i) units[i / 2] |= char16_t(p[i] << (i % 2 ? 8 : 0));
  std::vector<std::pair<name, name>> out;
  size_t i = 0, n = (size + 1) / 2;
  auto take = [&] {
    name s;
    while (i < n && units[i]) s += units[i++];
    ++i;
    return s;
  };
  while (i < n) {
    name s = take();
    if (s.empty()) break;
    name d = i < n ? take() : name();
    out.emplace_back(s, d);
  }
  return out;
}

bool names_product(const name &s, const name &path)
{
  return pending_name_matches(reinterpret_cast<const uint16_t *>(s.data()), uint32_t(s.size()),
                              reinterpret_cast<const uint16_t *>(path.data()), uint32_t(path.size())) != 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if (size > 4 * PENDING_PAIRS_READ_MAX) return 0;
  static const name product = u"/opt/Tarvo";
  const uint16_t *paths[] = {reinterpret_cast<const uint16_t *>(product.c_str())};
  std::vector<uint8_t> out(size + 8, 0xee);
  uint32_t out_size = 0, dropped = 0;
  uint32_t kept = pending_pairs_filter(data, uint32_t(size), paths, 1, out.data(), &out_size, &dropped);
  if (out_size > size + 8 || out_size < 2 || out[out_size - 1] || out[out_size - 2]) std::abort();
  auto in = read_pairs(data, size);
  auto got = read_pairs(out.data(), out_size);
  if (got.size() != kept || kept + dropped != in.size()) std::abort();
  size_t j = 0;
  for (const auto &pair : in) {
    bool drop = names_product(pair.first, product) || names_product(pair.second, product);
    if (drop) continue;
    if (j >= got.size() || got[j] != pair) std::abort();
    ++j;
  }
  if (j != got.size()) std::abort();
  return 0;
}
