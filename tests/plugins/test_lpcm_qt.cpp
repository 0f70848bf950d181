// The MP4 LPCM plug-in without a usable movie toolbox: missing, reporting a
// version below 7.0.2, or unable to open a file that went away.  Items are
// not rewritten and requests get "500 internal server error".  The plug-in
// starts the toolbox once per process, so each case runs in a child.
#include <gtest/gtest.h>

#include <tarvo_msf.h>
#include <tarvo_util/sys_dlib.h>

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "encoder_probe.h"
#include "tarvo_test.h"

namespace {

std::string bin() { return std::getenv("TARVO_BIN") ? std::getenv("TARVO_BIN") : "bin"; }

// In a child: whether the item would be rewritten, and the status line of
// a request for its resource; "<failed>" when the plug-in does not load.
std::string in_child(const std::string &library, const std::string &media)
{
  int out[2];
  if (pipe(out) != 0) return "<failed>";
  pid_t pid = fork();
  if (pid == 0) {
    close(out[0]);
    if (!library.empty()) setenv("TARVO_QT_LIBRARY", library.c_str(), 1);
    sys_dlib_handle h = nullptr;
    sys_dlib_fn updated = nullptr, get = nullptr;
    std::string answer = "<failed>";
    if (sys_dlib_load(&h, (bin() + "/libcorda_lpcm_mp4.so").c_str()) &&
        sys_dlib_name(&h, "tarvo_msf_as_is_updated", &updated) && sys_dlib_name(&h, "tarvo_msf_http_get", &get)) {
      int rewrite = reinterpret_cast<tarvo_msf_as_is_updated_fn>(updated)(media.c_str(), "audio/mp4", nullptr, nullptr);
      int pair[2];
      socketpair(AF_UNIX, SOCK_STREAM, 0, pair);
      char host[] = "host: 127.0.0.1";
      char *headers[] = {host, nullptr};
      char method[] = "GET", version[] = "HTTP/1.1", path[] = "/2-1.lpcm";
      http_request_startline_rec start{};
      start.method = method;
      start.version = version;
      start.uri.path = path;
      plugin_http_get_request req{&start, headers, {}, pair[0], "audio/L16;rate=44100;channels=2", "*", 1000,
                                  media.c_str(), ""};
      int keep = reinterpret_cast<tarvo_msf_http_get_fn>(get)(&req);
      shutdown(pair[0], SHUT_WR);
      char buf[256] = {};
      ssize_t n = recv(pair[1], buf, sizeof buf - 1, MSG_WAITALL);
      std::string text(buf, n > 0 ? size_t(n) : 0);
      answer = std::to_string(rewrite) + " " + std::to_string(keep) + " " + text.substr(0, text.find("\r\n"));
    }
    ssize_t w = write(out[1], answer.data(), answer.size());
    _exit(w == ssize_t(answer.size()) ? 0 : 1);
  }
  close(out[1]);
  std::string got;
  char buf[256];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) got.append(buf, size_t(n));
  close(out[0]);
  waitpid(pid, nullptr, 0);
  return got;
}

}  // namespace

TEST(LpcmMp4Toolbox, MissingOldOrUnableToOpenGivesNoRewriteAnd500)
{
  if (!tarvo_test::ffmpeg_encodes("aac") || !tarvo_test::ffmpeg_filters("sine"))
    GTEST_SKIP() << "ffmpeg with the aac encoder and the lavfi sources is needed for the fixture";
  tarvo_test::scratch_dir dir;
  std::string media = dir / "tone.m4a";
  ASSERT_EQ(std::system(("ffmpeg -loglevel error -y -f lavfi -i sine=frequency=1000:duration=1 -c:a aac " + media +
                         " >/dev/null 2>&1").c_str()), 0);
  // With the stand-in beside the plug-in the item is taken.
  EXPECT_EQ(in_child("", media).substr(0, 19), "1 1 HTTP/1.1 200 OK");
  EXPECT_EQ(in_child("/nonexistent/libtarvo_qt.so", media), "0 0 HTTP/1.1 500 internal server error");
  EXPECT_EQ(in_child(bin() + "/libtarvo_qt_old.so", media), "0 0 HTTP/1.1 500 internal server error");
  // The movie check comes before the file check.
  EXPECT_EQ(in_child("", dir / "gone.m4a"), "0 0 HTTP/1.1 500 internal server error");
}
