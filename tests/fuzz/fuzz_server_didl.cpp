// links: vennard_core
// What clients hand the media server: the first line is taken as a
// Filter, SearchCriteria and SortCriteria, the rest as a DIDL-Lite
// document of one object.  An object that parses is written in both forms,
// and its database form must read back to the same bytes.
#include <vennard/didl.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string db_form(const didl_object *o, bool *ok)
{
  sys_stralloc_rec sa{};
  *ok = didl_xml_begin(&sa, 1) && didl_write(&sa, o, nullptr) && didl_xml_end(&sa);
  std::string s(sa.buf ? sa.buf : "", *ok ? sa.len : 0);
  sys_stralloc_free(&sa);
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  std::string input(reinterpret_cast<const char *>(data), size);
  size_t nl = input.find('\n');
  std::string request = input.substr(0, nl);
  std::string document = nl == std::string::npos ? input : input.substr(nl + 1);
  request.resize(std::strlen(request.c_str()));
  int local = size & 1;

  didl_filter filter{};
  didl_search search{};
  didl_sort_criteria sort{};
  didl_filter_parse(&filter, request.c_str(), local);
  didl_search_parse(&search, request.c_str(), local);
  didl_sort_parse(&sort, request.c_str(), local);
  char prefix[] = "http://10.0.0.1:8200";
  char *const prefixes[] = {prefix, nullptr};
  didl_search_strip_prefixes(&search, prefixes);

  didl_object *o = nullptr;
  if (didl_parse_one(document.c_str(), size & 2, &o)) {
    didl_search_match(&search, o);
    didl_object *two[] = {o, o};
    didl_sort(&sort, two, 2);
    sys_stralloc_rec out{};
    didl_write_for_client(&out, o, prefixes, &filter, local, nullptr, nullptr);
    sys_stralloc_free(&out);

    bool ok;
    std::string first = db_form(o, &ok);
    if (ok) {
      didl_object *back = nullptr;
      if (!didl_parse_one(first.c_str(), 0, &back)) std::abort();
      bool ok2;
      if (db_form(back, &ok2) != first || !ok2) std::abort();
      didl_object_free(back);
    }
    didl_object_free(o);
  }
  didl_filter_free(&filter);
  didl_search_free(&search);
  didl_sort_free(&sort);
  return 0;
}
