// links: tollamy_core tarvo_util
// The web administration program's file readers and template fill on
// arbitrary bytes.  The first byte picks the reader: parameter file, text
// file, settings file, default file-type list (whose pairs, written again,
// must read back the same) or template fill (the rest split into a
// template and key/value lines).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tollamy_config.h"
#include "tollamy_filetype.h"

namespace {

void check_entries(const std::vector<tollamy_entry> &list, uint32_t max)
{
  for (const tollamy_entry &e : list)
    if (e.number < 1 || e.number > max) std::abort();
}

void default_list(const std::string &in)
{
  std::vector<std::string> exts, mimes, e2, m2;
  if (!tollamy_default_list_parse(in.data(), uint32_t(in.size()), &exts, &mimes)) return;
  for (auto *l : {&exts, &mimes})
    for (const std::string &v : *l)
      if (v.size() >= 256) std::abort();
  // Only pairs whose texts an XML document can hold make a list file.
  size_t n = std::min(exts.size(), mimes.size());
  exts.resize(n);
  mimes.resize(n);
  std::string text = tollamy_default_list_text(exts, mimes);
  if (!tollamy_default_list_parse(text.data(), uint32_t(text.size()), &e2, &m2)) std::abort();
  if (e2.size() != n || m2.size() != n) std::abort();
}

void fill(const std::string &in)
{
  // Template up to the first NUL; then key NUL value NUL pairs.
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t i = 0; i <= in.size(); i++)
    if (i == in.size() || in[i] == 0) {
      parts.push_back(in.substr(start, i - start));
      start = i + 1;
    }
  std::vector<const char *> keys, values;
  for (size_t i = 1; i + 1 < parts.size() && keys.size() < 16; i += 2) {
    if (parts[i].empty()) continue;
    keys.push_back(parts[i].c_str());
    values.push_back(parts[i + 1] == "-" ? nullptr : parts[i + 1].c_str());
  }
  keys.push_back(nullptr);
  std::string plain = tollamy_fill(parts[0], keys.data(), values.data(), false);
  std::string esc = tollamy_fill(parts[0], keys.data(), values.data(), true);
  if (esc.find_first_of("<>\"'") != esc.npos) std::abort();
  if (keys.size() == 1 && plain != parts[0]) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if (size < 1 || size > 65536) return 0;
  std::string in(reinterpret_cast<const char *>(data + 1), size - 1);
  std::vector<tollamy_entry> list;
  switch (data[0] % 5) {
  case 0:
    tollamy_parse_params(in.data(), uint32_t(in.size()), &list);
    check_entries(list, 13);
    break;
  case 1:
    tollamy_parse_texts(in.data(), uint32_t(in.size()), &list);
    check_entries(list, 168);
    break;
  case 2:
    tollamy_parse_settings(in.data(), uint32_t(in.size()), &list);
    if (list.size() > 2) std::abort();
    check_entries(list, 2);
    break;
  case 3:
    default_list(in);
    break;
  default:
    fill(in);
  }
  return 0;
}
