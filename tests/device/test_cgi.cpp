// CGI programs under the document root, written as small shell scripts.
#include "device_test.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace device_test;

namespace {

void script(const device &d, const std::string &name, const std::string &body)
{
  std::string path = d.root / name;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  tarvo_test::write_file(path, "#!/bin/sh\n" + body);
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

bool has_line(const std::string &body, const std::string &line)
{
  return ("\n" + body).find("\n" + line + "\n") != std::string::npos;
}

TEST(DeviceCgi, EnvironmentPathInfoAndQuery)
{
  device d;
  script(d, "admin/env.cgi",
         "printf 'Content-Type: text/plain\\n\\n'\n"
         "echo \"PWD=$(pwd)\"\n"
         "for v in GATEWAY_INTERFACE SERVER_PROTOCOL SERVER_NAME SERVER_PORT REQUEST_METHOD "
         "PATH_INFO PATH_TRANSLATED SCRIPT_NAME QUERY_STRING REMOTE_ADDR HTTP_X_FOO_BAR "
         "CONTENT_TYPE CONTENT_LENGTH HTTP_CONTENT_TYPE HTTP_CONTENT_LENGTH; do\n"
         "  eval \"echo $v=\\${$v-unset}\"\n"
         "done\n"
         "echo \"ARG0=$0\"\n"
         "echo \"BODY=$(cat)\"\n");
  ASSERT_TRUE(d.start());
  std::string root = d.root.path.string();
  reply r = exchange(d.port(), "POST /admin/env.cgi/page?x=1&y=%41 HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                               "X-Foo-Bar: baz\r\nContent_Type: forged\r\n"
                               "Content-Type: text/plain\r\nContent-Length: 3\r\n"
                               "Content-Length: 99\r\n\r\nabc");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.status, "200 OK");
  EXPECT_EQ(r.header("Content-Type"), "text/plain");
  EXPECT_EQ(r.header("CONTENT-LENGTH"), "");
  const std::string &b = r.body;
  EXPECT_TRUE(has_line(b, "PWD=" + root + "/admin")) << b;
  EXPECT_TRUE(has_line(b, "GATEWAY_INTERFACE=CGI/1.1")) << b;
  EXPECT_TRUE(has_line(b, "SERVER_PROTOCOL=HTTP/1.1"));
  EXPECT_TRUE(has_line(b, "SERVER_NAME=127.0.0.1"));
  EXPECT_TRUE(has_line(b, "SERVER_PORT=" + std::to_string(d.port())));
  EXPECT_TRUE(has_line(b, "REQUEST_METHOD=POST"));
  EXPECT_TRUE(has_line(b, "PATH_INFO=/page"));
  EXPECT_TRUE(has_line(b, "PATH_TRANSLATED=" + root + "/page"));
  EXPECT_TRUE(has_line(b, "SCRIPT_NAME=" + root + "/admin/env.cgi"));
  EXPECT_TRUE(has_line(b, "ARG0=" + root + "/admin/env.cgi"));
  EXPECT_TRUE(has_line(b, "QUERY_STRING=x=1&y=%41"));
  EXPECT_TRUE(has_line(b, "REMOTE_ADDR=127.0.0.1"));
  EXPECT_TRUE(has_line(b, "HTTP_X_FOO_BAR=baz"));
  // Only the headers of exactly those names, the first of each.
  EXPECT_TRUE(has_line(b, "CONTENT_TYPE=text/plain")) << b;
  EXPECT_TRUE(has_line(b, "CONTENT_LENGTH=3")) << b;
  EXPECT_TRUE(has_line(b, "HTTP_CONTENT_TYPE=text/plain"));
  // The program reads its input to the end: it must see the end after
  // the body.
  EXPECT_TRUE(has_line(b, "BODY=abc")) << b;
}

TEST(DeviceCgi, StatusLocationHeadAndOtherMethods)
{
  device d;
  script(d, "s.cgi", "printf 'status: 404 Not Here\\r\\nX-A:  1\\r\\n\\r\\nmissing'\n");
  script(d, "l.cgi", "printf 'Location: /x\\n\\n'\n");
  script(d, "both.cgi", "printf 'Location: /x\\nStatus: 303 See Other\\n\\n'\n");
  script(d, "ok.cgi", "printf 'Content-Type: text/plain\\n\\nbody'\n");
  ASSERT_TRUE(d.start());
  reply r = exchange(d.port(), "GET /s.cgi HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  EXPECT_EQ(r.status, "404 Not Here");
  EXPECT_EQ(r.header("X-A"), "1");
  EXPECT_EQ(r.header("CONNECTION"), "");
  EXPECT_EQ(r.body, "missing");
  EXPECT_EQ(exchange(d.port(), "GET /l.cgi HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n").status, "301 moved permanently");
  EXPECT_EQ(exchange(d.port(), "GET /both.cgi HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n").status, "303 See Other");

  r = exchange(d.port(), "HEAD /ok.cgi HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  EXPECT_EQ(r.status, "200 OK");
  EXPECT_EQ(r.header("Content-Type"), "text/plain");
  EXPECT_EQ(r.body, "");
  EXPECT_EQ(exchange(d.port(), "DELETE /ok.cgi HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n").body, "body");
  EXPECT_EQ(exchange(d.port(), "GET /ok.cgix HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n").status,
            "404 file does not exist");
  EXPECT_EQ(exchange(d.port(), "GET /none.cgi HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n").status,
            "404 file does not exist");
}

TEST(DeviceCgi, RawProgramsAreRelayedByteForByte)
{
  device d;
  script(d, "bin/nph-raw.cgi", "printf 'HTTP/1.1 299 Raw\\r\\nA: b\\r\\n\\r\\n\\001\\002x'\n");
  ASSERT_TRUE(d.start());
  int s = connect_to(d.port());
  send_all(s, "GET /bin/nph-raw.cgi HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  EXPECT_EQ(read_all(s), "HTTP/1.1 299 Raw\r\nA: b\r\n\r\n\001\002x");
  close(s);
}

TEST(DeviceCgi, WithoutDocumentRootProgramsAndFilesAreNotFound)
{
  device d;
  ASSERT_TRUE(d.start(false));
  EXPECT_EQ(exchange(d.port(), "GET /a.cgi HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n").status, "404 file does not exist");
  EXPECT_EQ(exchange(d.port(), "GET /a.txt HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n").status, "404 file does not exist");
  EXPECT_EQ(exchange(d.port(), "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n").status, "200 OK");
}

}  // namespace
