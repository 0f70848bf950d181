// links: tarvo_avcp tarvo_util
// The DIDL-Lite object model at the sizes a large library brings: parsing
// 10,000 items, sorting 10,000 objects by title and by album, and matching
// a two-relation search over 100,000 objects.
#include <benchmark/benchmark.h>
#include <tarvo_avcp/avcp_didl.h>
#include <tarvo_avcp/avcp_didl_criteria.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

std::string item_text(int i, std::mt19937 &rng)
{
  std::string n = std::to_string(i);
  return "<item id=\"1$" + n + "\" parentID=\"1\" restricted=\"1\">"
         "<dc:title>Track " + std::to_string(rng() % 100000) + "</dc:title>"
         "<dc:creator>Artist " + std::to_string(rng() % 500) + "</dc:creator>"
         "<upnp:class>object.item.audioItem.musicTrack</upnp:class>"
         "<upnp:artist>Artist " + std::to_string(rng() % 500) + "</upnp:artist>"
         "<upnp:album>Album " + std::to_string(rng() % 1000) + "</upnp:album>"
         "<upnp:genre>Genre " + std::to_string(rng() % 30) + "</upnp:genre>"
         "<upnp:originalTrackNumber>" + std::to_string(rng() % 20 + 1) + "</upnp:originalTrackNumber>"
         "<dc:date>2009-05-03T12:34:56</dc:date>"
         "<res protocolInfo=\"http-get:*:audio/mpeg:DLNA.ORG_PN=MP3;DLNA.ORG_OP=01\" size=\"" +
         std::to_string(uint64_t(rng()) * 4) + "\" duration=\"0:03:25.000\" bitrate=\"40000\">"
         "http://192.168.0.2:8200/" + n + ".mp3</res>"
         "</item>\r\n";
}

std::string document(int items)
{
  std::mt19937 rng(1);
  std::string s = "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\""
                  " xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\""
                  " xmlns:dc=\"http://purl.org/dc/elements/1.1/\""
                  " xmlns:dlna=\"urn:schemas-dlna-org:metadata-1-0/\">\r\n";
  for (int i = 0; i < items; i++) s += item_text(i, rng);
  return s + "</DIDL-Lite>\r\n";
}

struct library {
  avcp_didl_object_list list = nullptr;
  uint32_t n = 0;
  explicit library(int items)
  {
    std::string text = document(items);
    if (!avcp_didl_parse(text.c_str(), &list)) std::abort();
    while (list[n]) n++;
  }
  ~library() { avcp_didl_object_list_free(list); }
};

void BM_Parse10000Items(benchmark::State &state)
{
  std::string text = document(10000);
  for (auto _ : state) {
    avcp_didl_object_list list = nullptr;
    if (!avcp_didl_parse(text.c_str(), &list)) state.SkipWithError("parse failed");
    avcp_didl_object_list_free(list);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_Parse10000Items)->Unit(benchmark::kMillisecond);

void sort_by(benchmark::State &state, const char *criteria)
{
  library lib(10000);
  avcp_didl_sort_criteria *c = nullptr;
  if (!avcp_didl_sort_criteria_parse(&c, criteria)) std::abort();
  std::vector<avcp_didl_object *> v(lib.list, lib.list + lib.n);
  for (auto _ : state) {
    state.PauseTiming();
    std::copy(lib.list, lib.list + lib.n, v.begin());
    state.ResumeTiming();
    avcp_didl_sort(&c, v.data(), uint32_t(v.size()));
  }
  avcp_didl_sort_criteria_free(&c);
}

void BM_Sort10000ByTitle(benchmark::State &state) { sort_by(state, "+dc:title"); }
BENCHMARK(BM_Sort10000ByTitle)->Unit(benchmark::kMillisecond);

void BM_Sort10000ByAlbum(benchmark::State &state) { sort_by(state, "+upnp:album"); }
BENCHMARK(BM_Sort10000ByAlbum)->Unit(benchmark::kMillisecond);

void BM_Search100000(benchmark::State &state)
{
  library lib(100000);
  avcp_didl_search_criteria *c = nullptr;
  if (!avcp_didl_search_criteria_parse(
          &c, "upnp:class derivedfrom \"object.item.audioItem\" and upnp:artist contains \"artist 42\""))
    std::abort();
  int64_t hits = 0;
  for (auto _ : state) {
    hits = 0;
    for (uint32_t i = 0; i < lib.n; i++) hits += avcp_didl_search_criteria_match(&c, lib.list[i]);
    benchmark::DoNotOptimize(hits);
  }
  state.counters["matches"] = double(hits);
  avcp_didl_search_criteria_free(&c);
}
BENCHMARK(BM_Search100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
