// links: tarvo_util
// Every URI entry point over arbitrary text: no crash, no overrun, and the
// parsed parts join back into a string that parses again.
#include <tarvo_util/uri.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  std::string s(reinterpret_cast<const char *>(data), size);
  s = s.c_str();  // up to the first NUL, as the C callers see it
  size_t cut = s.find('\n');
  std::string base = cut == std::string::npos ? "http://h:80/a/b.xml" : s.substr(0, cut);
  std::string ref = cut == std::string::npos ? s : s.substr(cut + 1);

  uri_rec u{};
  if (uri_parse(&u, s.c_str())) {
    char *joined = nullptr;
    if (uri_get_string(&u, &joined)) {
      uri_rec again{};
      if (u.scheme[0] && !uri_parse(&again, joined)) std::abort();
      uri_free(&again);
      sys_alloc_free(joined);
    }
    uri_free(&u);
  }

  char *out = nullptr;
  if (uri_resolve(base.c_str(), ref.c_str(), &out)) sys_alloc_free(out);

  std::string copy = s;
  uri_remove_path_prefix(copy.data());
  if (std::strlen(copy.c_str()) > s.size()) std::abort();

  char *esc = nullptr;
  if (uri_escape(s.c_str(), &esc)) {
    if (uri_should_escape(esc) && !uri_is_escaped(esc)) std::abort();
    uri_unescape(esc);
    if (s != esc) std::abort();
    sys_alloc_free(esc);
  }
  copy = s;
  uri_unescape(copy.data());
  for (uint32_t flags : {0u, URI_DECODE_STRICT}) {
    copy = s;
    uint32_t n = 0;
    if (uri_percent_decode(copy.data(), flags, &n) && n > std::strlen(s.c_str())) std::abort();
  }

  if (uri_from_path(s.c_str(), &out)) sys_alloc_free(out);

  sys_str_list names = nullptr, values = nullptr;
  if (uri_parse_query(s.c_str(), &names, &values)) {
    sys_str_list_free(names);
    sys_str_list_free(values);
  }
  return 0;
}
