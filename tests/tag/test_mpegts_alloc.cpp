// Every allocation of the transport-stream reader failing in turn: PID
// buffers, PSI records, audio records, genres, the profile and the
// properties.  The heap is interposed here, so the test runs only in
// builds without a sanitizer.
#include <gtest/gtest.h>
#include <tarvo_test.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "tag_test.h"
#include "tarvo_alloc_fail.h"
#include "ts_streams.h"

using alloc_fail::every_failure;

TEST(MpegTsAlloc, EveryAllocationFailingInTurn)
{
  // The C library drops its loaded time zone when an allocation of dc:date's
  // local time fails; a zone without a file keeps the count of live blocks.
  setenv("TZ", "UTC", 1);
  tzset();
  ts_test::stream_spec s = ts_test::jp_broadcast("BS", 3);
  s.units = 20;
  ts_test::bytes b = ts_test::build(s);
  tarvo_test::scratch_dir d;
  tarvo_test::write_file(d / "a.m2ts", std::string(b.begin(), b.end()));
  int fd = open((d / "a.m2ts").c_str(), O_RDONLY);
  sys_file_stat_rec st{};
  ASSERT_TRUE(sys_file_fstat(fd, &st));
  every_failure("mpegts_tag_read", [&] {
    tag_test::props p;
    if (!mpegts_tag_read(MPEGTS_KIND_192, fd, &st, 0, "video/mpeg", p.n(), p.v())) return 0;
    // No std::string here: its allocations would fail too.
    const char *genre = tag_property_value(p.n(), p.v(), "upnp:genre");
    const char *pi = tag_property_value(p.n(), p.v(), "res@protocolInfo");
    return p.l.names.len == p.l.values.len && genre && !std::strcmp(genre, "スポーツ") && pi &&
                   std::strstr(pi, "DLNA.ORG_PN=MPEG_TS_JP_T;")
               ? 1
               : -1;
  }, true); // the first run opens the ARIB text converters, kept per thread
  close(fd);
}
