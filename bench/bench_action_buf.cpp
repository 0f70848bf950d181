// links: tarvo_avcp tarvo_util
// A Browse answer of 1 MB read two ways: parsed in place in the caller's
// buffer, and as the list form does it (the SOAP argument lists, the
// Browse parser, then the DIDL-Lite parser on the Result).  Each reports
// MB/s of answer and the heap allocations of one call.
#include <benchmark/benchmark.h>
#include <tarvo_avcp/avcp_action.h>
#include <tarvo_avcp/avcp_action_buf.h>
#include <tarvo_avcp/avcp_didl.h>
#include <tarvo_util/soap.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
long allocations = 0;
}

// Every allocation of the process is counted, except under a sanitizer,
// which brings its own heap (the counts then read 0).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define BENCH_NO_INTERPOSE 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define BENCH_NO_INTERPOSE 1
#endif
#endif
#ifndef BENCH_NO_INTERPOSE
extern "C" void *__libc_malloc(size_t);
extern "C" void *__libc_calloc(size_t, size_t);
extern "C" void *__libc_realloc(void *, size_t);

extern "C" void *malloc(size_t n)
{
  allocations++;
  return __libc_malloc(n);
}
extern "C" void *calloc(size_t n, size_t m)
{
  allocations++;
  return __libc_calloc(n, m);
}
extern "C" void *realloc(void *p, size_t n)
{
  allocations += !p;
  return __libc_realloc(p, n);
}
#endif

namespace {

std::string escaped(const std::string &s)
{
  std::string out;
  for (char c : s) {
    switch (c) {
    case '<': out += "&lt;"; break;
    case '>': out += "&gt;"; break;
    case '&': out += "&amp;"; break;
    case '"': out += "&quot;"; break;
    default: out += c;
    }
  }
  return out;
}

// About 1 MB of answer: DIDL-Lite items, escaped into Result.
std::string answer()
{
  std::string didl = "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" "
                     "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
                     "xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\">";
  int items = 0;
  while (didl.size() < 700 * 1024) {
    std::string n = std::to_string(items++);
    didl += "<item id=\"1$" + n + "\" parentID=\"1\" restricted=\"1\"><dc:title>Track " + n +
            " &amp; friends</dc:title><upnp:class>object.item.audioItem.musicTrack</upnp:class>"
            "<res protocolInfo=\"http-get:*:audio/mpeg:DLNA.ORG_PN=MP3\" size=\"4000000\">"
            "http://192.168.0.2:30001/" + n + "-0.mp3</res></item>";
  }
  didl += "</DIDL-Lite>";
  std::string n = std::to_string(items);
  return "<?xml version=\"1.0\"?>\r\n<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
         "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>"
         "<u:BrowseResponse xmlns:u=\"urn:schemas-upnp-org:service:ContentDirectory:1\"><Result>" +
         escaped(didl) + "</Result><NumberReturned>" + n + "</NumberReturned><TotalMatches>" + n +
         "</TotalMatches><UpdateID>1</UpdateID></u:BrowseResponse></s:Body></s:Envelope>";
}

const std::string &body()
{
  static const std::string b = answer();
  return b;
}

void report(benchmark::State &state, long allocs)
{
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(body().size()));
  state.counters["allocs_per_call"] = double(allocs) / double(state.iterations());
  state.counters["answer_bytes"] = double(body().size());
}

void BM_BrowseInPlace(benchmark::State &state)
{
  std::vector<char> buf(body().size() + 1);
  long allocs = 0;
  for (auto _ : state) {
    // The answer arrives in the buffer as the SOAP client leaves it.
    std::memcpy(buf.data(), body().c_str(), buf.size());
    long before = allocations;
    uint32_t nr = 0, tm = 0, uid = 0;
    if (!avcp_cds_parse_browse_direct_children_response_buf(buf.data(), uint32_t(buf.size()), &nr, &tm, &uid))
      std::abort();
    allocs += allocations - before;
    benchmark::DoNotOptimize(nr);
  }
  report(state, allocs);
}
BENCHMARK(BM_BrowseInPlace)->Unit(benchmark::kMillisecond);

// The list form; with_didl 0 stops at the Result text, which is what the
// in-place parse hands out.
void BM_BrowseListForm(benchmark::State &state)
{
  bool with_didl = state.range(0);
  long allocs = 0;
  for (auto _ : state) {
    long before = allocations;
    sys_str_list names = nullptr, values = nullptr;
    char *result = nullptr;
    uint32_t nr = 0, tm = 0, uid = 0;
    avcp_didl_object_list objects = nullptr;
    if (!soap_parse(body().c_str(), &names, &values) ||
        !avcp_cds_parse_browse_direct_children_response(names, values, &result, &nr, &tm, &uid) ||
        (with_didl && !avcp_didl_parse(result, &objects)))
      std::abort();
    avcp_didl_object_list_free(objects);
    sys_alloc_free(result);
    sys_str_list_free(names);
    sys_str_list_free(values);
    allocs += allocations - before;
  }
  report(state, allocs);
}
BENCHMARK(BM_BrowseListForm)->ArgName("with_didl")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
