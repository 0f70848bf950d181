// links: vennard_core
// The media server writing 10,000 music items: as a Browse answer for a
// local requester on two interfaces (every filter entry, URL resources and
// the internal one), and in the database form of the content file.
#include <benchmark/benchmark.h>
#include <vennard/didl.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kItems = 10000;

std::string item_text(int i, std::mt19937 &rng)
{
  std::string n = std::to_string(i + 100);
  return "<item id=\"" + n + "\" parentID=\"7\" restricted=\"1\">"
         "<dc:title>Track " + std::to_string(rng() % 100000) + " &amp; more</dc:title>"
         "<dc:creator>Artist " + std::to_string(rng() % 500) + "</dc:creator>"
         "<upnp:class>object.item.audioItem.musicTrack</upnp:class>"
         "<upnp:artist>Artist " + std::to_string(rng() % 500) + "</upnp:artist>"
         "<upnp:album>Album " + std::to_string(rng() % 1000) + "</upnp:album>"
         "<upnp:genre>Genre " + std::to_string(rng() % 30) + "</upnp:genre>"
         "<upnp:originalTrackNumber>" + std::to_string(rng() % 20 + 1) + "</upnp:originalTrackNumber>"
         "<upnp:albumArtURI>/" + n + "-2.jpg</upnp:albumArtURI>"
         "<dc:date>2009-05-03T12:34:56</dc:date>"
         "<res protocolInfo=\"http-get:*:audio/mpeg:DLNA.ORG_PN=MP3;DLNA.ORG_OP=01\" size=\"" +
         std::to_string(uint64_t(rng()) * 4) + "\" duration=\"0:03:25.000\" bitrate=\"40000\""
         " tarvo:filename=\"/srv/music/Album/Track " + n + ".mp3\" tarvo:timestamp=\"1241354096\">/" + n +
         "-1.mp3</res></item>";
}

struct items {
  std::vector<didl_object *> objects;
  items()
  {
    std::mt19937 rng(7);
    sys_stralloc_rec head{}, tail{};
    if (!didl_xml_begin(&head, 1) || !didl_xml_end(&tail)) std::abort();
    std::string h(head.buf, head.len), t(tail.buf, tail.len);
    sys_stralloc_free(&head);
    sys_stralloc_free(&tail);
    for (int i = 0; i < kItems; i++) {
      didl_object *o;
      if (!didl_parse_one((h + item_text(i, rng) + t).c_str(), 1, &o)) std::abort();
      objects.push_back(o);
    }
  }
  ~items()
  {
    for (didl_object *o : objects) didl_object_free(o);
  }
};

const items &library()
{
  static items all;
  return all;
}

void BM_WriteForClient(benchmark::State &state)
{
  const items &lib = library();
  char a[] = "http://192.168.0.2:8200", b[] = "http://10.0.0.2:8200";
  char *const prefixes[] = {a, b, nullptr};
  didl_filter filter{};
  if (!didl_filter_parse(&filter, "*", 1)) std::abort();
  connection_addresses conn{};
  sys_stralloc_rec out{};
  for (auto _ : state) {
    out.len = 0;
    for (didl_object *o : lib.objects)
      if (!didl_write_for_client(&out, o, prefixes, &filter, 1, &conn, nullptr)) std::abort();
    benchmark::DoNotOptimize(out.buf);
  }
  state.counters["bytes"] = out.len;
  state.SetItemsProcessed(state.iterations() * kItems);
  sys_stralloc_free(&out);
  didl_filter_free(&filter);
}
BENCHMARK(BM_WriteForClient)->Unit(benchmark::kMillisecond);

void BM_WriteDatabase(benchmark::State &state)
{
  const items &lib = library();
  sys_stralloc_rec out{};
  for (auto _ : state) {
    out.len = 0;
    for (didl_object *o : lib.objects)
      if (!didl_write(&out, o, nullptr)) std::abort();
    benchmark::DoNotOptimize(out.buf);
  }
  state.counters["bytes"] = out.len;
  state.SetItemsProcessed(state.iterations() * kItems);
  sys_stralloc_free(&out);
}
BENCHMARK(BM_WriteDatabase)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
