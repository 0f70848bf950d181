// Browse and Search answers over a generated content tree compared with
// answers recorded once (tests/server/data/cds_golden.txt): every sort the
// tests use, the default orders, pages at the edges, RequestedCount 0,
// filters, local and remote requesters.  A change in how answers are made
// must not change one byte of them.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "cds_test.h"
#include "server_test.h"

namespace {

using namespace cds_test;

// A small deterministic generator, so that the tree is the same on every
// machine.
struct lcg {
  uint32_t v = 12345;
  uint32_t next(uint32_t n)
  {
    v = v * 1103515245u + 12345u;
    return (v >> 16) % n;
  }
};

struct tree {
  std::string album, folder, sub, playlist;
  std::vector<std::string> tracks;
};

std::string res(const std::string &type, uint32_t size, const std::string &file)
{
  return "<res protocolInfo=\"http-get:*:" + type + ":*\" size=\"" + std::to_string(size) + "\" tarvo:filename=\"" +
         file + "\"></res>";
}

// An album with tracks (titles, numbers and albums repeat; some have no
// number), a plain folder of mixed items and folders, photos in the
// pictures album, a playlist of references, and private objects.
bool fail_at(int line)
{
  ADD_FAILURE() << "tree_make failed at line " << line;
  return false;
}

bool tree_make(server_rec *s, tree *t)
{
  lcg r;
  const char *words[] = {"Song", "Ärger", "Tom &amp; Jerry", "zeta", "Alpha", "song", "Ωmega", "1999"};
  t->album = container(s, "Container:UserFiles", "Album", "object.container.album.musicAlbum");
  for (int i = 0; i < 130; i++) {
    std::string title = std::string(words[r.next(8)]) + " " + std::to_string(r.next(40));
    std::string more = std::string("<upnp:album>") + (r.next(3) ? "A" : "B") + "</upnp:album>";
    if (r.next(5)) more += "<upnp:originalTrackNumber>" + std::to_string(r.next(20) + 1) + "</upnp:originalTrackNumber>";
    if (r.next(2)) more += "<dc:date>" + std::to_string(1990 + r.next(30)) + "-01-0" + std::to_string(r.next(9) + 1) + "</dc:date>";
    more += res("audio/mpeg", r.next(100000), "/music/" + std::to_string(i) + ".mp3");
    t->tracks.push_back(item(s, t->album, title, "object.item.audioItem.musicTrack", more));
    if (t->tracks.back().empty()) return fail_at(__LINE__);
  }
  t->folder = container(s, "Container:UserFiles", "Folder", "object.container");
  const char *classes[] = {"object.item.audioItem.musicTrack", "object.item.imageItem.photo", "object.item.videoItem",
                           "object.item"};
  for (int i = 0; i < 70; i++) {
    if (i % 14 == 3) {
      std::string c = container(s, t->folder, "Sub " + std::to_string(r.next(10)), "object.container");
      if (c.empty()) return fail_at(__LINE__);
      if (t->sub.empty()) t->sub = c;
      continue;
    }
    std::string more;
    if (r.next(2)) more += "<dc:date>20" + std::to_string(10 + r.next(10)) + "-0" + std::to_string(r.next(9) + 1) + "-11</dc:date>";
    more += res("video/mpeg", r.next(5000), "/folder/" + std::to_string(i) + ".mpg");
    if (item(s, t->folder, std::string(words[r.next(8)]) + " " + std::to_string(r.next(25)), classes[r.next(4)], more)
            .empty())
      return fail_at(__LINE__);
  }
  for (int i = 0; i < 12; i++)
    if (item(s, t->sub, "Inner " + std::to_string(r.next(6)), "object.item.imageItem.photo",
             "<dc:date>2003-0" + std::to_string(r.next(9) + 1) + "-01</dc:date>")
            .empty())
      return fail_at(__LINE__);
  for (int i = 0; i < 40; i++)
    if (item(s, "Container:PicturesAlbum", "Photo " + std::to_string(r.next(30)), "object.item.imageItem.photo",
             "<dc:date>200" + std::to_string(r.next(10)) + "-0" + std::to_string(r.next(9) + 1) + "-01</dc:date>")
            .empty())
      return fail_at(__LINE__);
  t->playlist = container(s, "Container:UserFiles", "List", "object.container.playlistContainer");
  for (int i = 0; i < 30; i++)
    if (reference(s, t->playlist, t->tracks[r.next(130)]).empty()) return fail_at(__LINE__);
  for (int i = 0; i < 6; i++)
    if (act(s, "X_SetPrivate", {{"ObjectID", t->tracks[r.next(130)]}, {"Private", "1"}}).code) return fail_at(__LINE__);
  return act(s, "X_SetPrivate", {{"ObjectID", t->sub}, {"Private", "1"}}).code == 0;
}

uint64_t fnv(const std::string &text)
{
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
  return h;
}

// One line per answer: the request, the code, the counts, a hash of the
// whole response (URLs without the port of this run) and, for whole
// listings, the ids in order.
struct recorder {
  server_rec *s;
  std::string port;
  std::ostringstream out;

  answer run(const std::string &what, const std::string &action, const args &a, bool remote, bool with_ids)
  {
    answer r = act(s, action, a, remote);
    std::string text = r.text;
    for (size_t at; (at = text.find(port)) != std::string::npos;) text.replace(at, port.size(), ":PORT/");
    out << what << (remote ? " remote" : " local") << " -> " << r.code;
    if (!r.code) {
      char hash[17];
      std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(fnv(text)));
      out << " " << r.out("NumberReturned") << "/" << r.out("TotalMatches") << " u" << r.out("UpdateID") << " "
          << hash;
      if (with_ids)
        for (const std::string &id : ids(r.out("Result"))) out << " " << id;
    }
    out << "\n";
    return r;
  }
};

const char *const kSorts[] = {"",
                              "+dc:title",
                              "-dc:title",
                              "+upnp:originalTrackNumber,-dc:title",
                              "-dc:date,+dc:title",
                              "+upnp:class,+dc:title",
                              "+upnp:album,+upnp:originalTrackNumber,+dc:title",
                              "-res@size",
                              "+res@tarvo:filename",
                              "+dc:nosuch"};

void browse_all(recorder &rec, const tree &t)
{
  for (const std::string &id : {t.album, t.folder, t.sub, t.playlist, std::string("Container:PicturesAlbum"),
                                std::string("Container:UserFiles"), std::string("0")})
    for (bool remote : {false, true}) {
      rec.run("meta " + id, "Browse", browse_args(id, "BrowseMetadata", 0, 0), remote, false);
      for (const char *sort : kSorts) {
        std::string what = "browse " + id + " [" + sort + "]";
        answer whole = rec.run(what + " 0+0", "Browse", browse_args(id, "BrowseDirectChildren", 0, 0, sort), remote, true);
        uint64_t total = std::stoull("0" + whole.out("TotalMatches"));
        std::pair<uint64_t, uint64_t> pages[] = {{0, 1}, {0, 50}, {50, 50}, {total ? total - 1 : 0, 10},
                                                 {total, 5}, {total + 3, 0}, {17, 3}, {1, 4294967295u}};
        for (auto [start, count] : pages)
          rec.run(what + " " + std::to_string(start) + "+" + std::to_string(count), "Browse",
                  browse_args(id, "BrowseDirectChildren", start, count, sort), remote, false);
      }
      rec.run("filtered " + id, "Browse", browse_args(id, "BrowseDirectChildren", 3, 20, "", "dc:title,upnp:class"),
              remote, false);
      rec.run("bare " + id, "Browse", browse_args(id, "BrowseDirectChildren", 0, 20, "-dc:title", ""), remote, false);
    }
  for (const std::string &id : {t.tracks[0], t.tracks[77]})
    rec.run("meta " + id, "Browse", browse_args(id, "BrowseMetadata", 0, 0), false, false);
}

void search_all(recorder &rec, const tree &t)
{
  const char *criteria[] = {"*", "upnp:class derivedfrom \"object.item.audioItem\"", "dc:title contains \"ong 1\"",
                            "dc:date >= \"2005\" and upnp:class derivedfrom \"object.item\""};
  for (const std::string &id : {std::string("0"), t.album, t.folder, std::string("Container:UserFiles")})
    for (const char *c : criteria)
      for (const char *sort : {"", "+dc:title", "-dc:date,+dc:title"})
        for (bool remote : {false, true})
          for (auto [start, count] : {std::pair<int, int>{0, 0}, {5, 10}}) {
            args a = {{"ContainerID", id},        {"SearchCriteria", c},
                      {"Filter", "*"},            {"StartingIndex", std::to_string(start)},
                      {"RequestedCount", std::to_string(count)}, {"SortCriteria", sort}};
            rec.run("search " + id + " {" + c + "} [" + sort + "] " + std::to_string(start) + "+" +
                        std::to_string(count),
                    "Search", a, remote, count == 0);
          }
}

TEST(CdsGolden, BrowseAndSearchAnswersAreTheRecordedBytes)
{
  server_test::server srv;
  ASSERT_TRUE(srv.start());
  tree t;
  ASSERT_TRUE(tree_make(&srv.s, &t));
  recorder rec{&srv.s, ":" + std::to_string(srv.s.http_port) + "/", {}};
  browse_all(rec, t);
  search_all(rec, t);
  // Twice: answers served from what the first pass kept are the same.
  std::string first = rec.out.str();
  rec.out.str("");
  browse_all(rec, t);
  search_all(rec, t);
  EXPECT_EQ(rec.out.str(), first);

  std::istringstream want(tarvo_test::read_file(tarvo_test::data_dir() + "/server/data/cds_golden.txt"));
  std::istringstream got(first);
  std::string w, g;
  int line = 0, wrong = 0;
  for (;;) {
    bool more_w = bool(std::getline(want, w)), more_g = bool(std::getline(got, g));
    if (!more_w && !more_g) break;
    line++;
    if (w != g && wrong++ < 5) ADD_FAILURE() << "line " << line << "\nwant: " << w << "\ngot:  " << g;
    w.clear();
    g.clear();
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(line, 1000);
}

}  // namespace
