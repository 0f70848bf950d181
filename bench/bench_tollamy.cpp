// links: tollamy_core tarvo_device tarvo_util
// The web administration program behind the device stack's CGI runner on
// loopback, against the fixture host as the local server with 50 shares
// and 60 file types: the time from request to whole answer for the share
// list and the file-type list, p50 and p95.
//   bench_tollamy [requests]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "test_tollamy_page_host.h"

namespace {

void measure(const page_host::host &h, const char *controller, const char *action, int n)
{
  std::vector<double> ms;
  const std::string q = std::string("content=partial&controller=") + controller + "&action=" + action;
  for (int i = 0; i < n; i++) {
    auto t0 = std::chrono::steady_clock::now();
    std::string out = h.get(q);
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    if (out.find("<state>success</state>") == out.npos) {
      std::fprintf(stderr, "%s: no success answer\n%s\n", action, out.c_str());
      std::exit(1);
    }
  }
  std::sort(ms.begin(), ms.end());
  std::printf("%-18s %d requests  p50 %.2f ms  p95 %.2f ms\n", action, n, ms[ms.size() / 2], ms[ms.size() * 95 / 100]);
}

}  // namespace

int main(int argc, char **argv)
{
  int n = argc > 1 ? std::atoi(argv[1]) : 200;
  if (n < 1) return 2;
  setenv("TARVO_BIN", TARVO_BIN_DIR, 0);
  page_host::host h;
  tollamy_test::folder f(h.admin);
  for (int i = 0; i < 50; i++) h.s.shares.push_back("/srv/media/folder " + std::to_string(i));
  for (int i = 0; i < 60; i++) h.s.types.push_back({"x" + std::to_string(i), "application/x-" + std::to_string(i)});
  for (const char *list : {"share_share_list", "mimetype_mimetype"})
    for (const char *part : {"start", "body", "end"})
      tollamy_test::put(f.dir + "/html/tollamy_page_" + list + "_" + part + ".html.part",
                        "<tr id='[[TR_ID]]'><td>[[PATH]][[EXTENTION]]</td><td>[[MIMETYPE]]</td></tr>");
  if (!h.start(f)) {
    std::fprintf(stderr, "the host did not start\n");
    return 1;
  }
  measure(h, "tollamy_page_share", "get_share_list", n);
  measure(h, "tollamy_page_mimetype", "get_mimetype_list", n);
  return 0;
}
