// Files, folders and the file buffer.
#include <gtest/gtest.h>

#include <tarvo_util/sys_file.h>
#include <tarvo_util/util_limits.h>
#include <tarvo_util/utf8file.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <tuple>
#include <set>
#include <string>
#include <vector>

#include "tarvo_test.h"

using tarvo_test::read_file;
using tarvo_test::scratch_dir;
using tarvo_test::write_file;

namespace {

std::set<std::string> list_utf8(const std::string &path)
{
  std::set<std::string> names;
  sys_dir_rec d;
  if (!utf8dir_open(&d, path.c_str())) return {"<fail>"};
  char *n;
  while (utf8dir_read(&d, &n)) {
    names.insert(n);
    sys_alloc_free(n);
  }
  EXPECT_EQ(sys_dir_close(&d), 1);
  return names;
}

std::vector<sys_wchar> wide(const std::u16string &s)
{
  return std::vector<sys_wchar>(s.c_str(), s.c_str() + s.size() + 1);
}

std::string rest_of(int fd)
{
  std::string s;
  char b[4096];
  ssize_t r;
  while ((r = read(fd, b, sizeof b)) > 0) s.append(b, size_t(r));
  return s;
}

}  // namespace

TEST(Files, OpenModes)
{
  scratch_dir t;
  std::string f = t / "f";
  int fd;
  EXPECT_EQ(utf8file_open_read(&fd, f.c_str()), 0);
  EXPECT_EQ(utf8file_open_write(&fd, f.c_str()), 0);  // the UTF-8 form needs the file
  ASSERT_EQ(sys_file_open_write(&fd, f.c_str()), 1);   // the byte form creates it
  EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
  ASSERT_EQ(sys_file_allwrite(fd, "abcdef", 6), 1);
  ASSERT_EQ(sys_file_close(fd), 1);

  ASSERT_EQ(utf8file_open_write(&fd, f.c_str()), 1);  // at offset 0, no truncation
  ASSERT_EQ(sys_file_allwrite(fd, "XY", 2), 1);
  sys_file_close(fd);
  EXPECT_EQ(read_file(f), "XYcdef");

  EXPECT_EQ(utf8file_open_excl(&fd, f.c_str()), 0);
  ASSERT_EQ(utf8file_open_trunc(&fd, f.c_str()), 1);
  sys_file_close(fd);
  EXPECT_EQ(read_file(f), "");
  ASSERT_EQ(utf8file_open_excl(&fd, (t / "new").c_str()), 1);
  sys_file_close(fd);
  EXPECT_EQ(sys_file_close(SYS_FILE_INVALID), 1);
}

TEST(Files, StatTimesRenameRemove)
{
  scratch_dir t;
  std::string a = t / "a", b = t / "b";
  write_file(a, "12345");
  write_file(b, "old");
  sys_file_stat_rec st;
  ASSERT_EQ(utf8file_stat(a.c_str(), &st), 1);
  EXPECT_EQ(st.is_dir, 0);
  EXPECT_EQ(st.size, 5u);
  EXPECT_GT(st.ctime, 1600000000);

  int64_t mtime = 1000000000;
  ASSERT_EQ(utf8file_utime(a.c_str(), &mtime, nullptr), 1);
  ASSERT_EQ(utf8file_utime(a.c_str(), nullptr, &mtime), 1);  // leaves the write time
  ASSERT_EQ(utf8file_stat(a.c_str(), &st), 1);
  EXPECT_EQ(st.mtime, mtime);

  ASSERT_EQ(utf8file_rename(a.c_str(), b.c_str()), 1);  // replaces the target
  EXPECT_EQ(read_file(b), "12345");
  EXPECT_EQ(utf8file_stat(a.c_str(), &st), 0);
  ASSERT_EQ(utf8file_remove(b.c_str()), 1);
  EXPECT_EQ(utf8file_remove(b.c_str()), 0);

  ASSERT_EQ(utf8dir_make((t / "d").c_str()), 1);
  ASSERT_EQ(utf8file_stat((t / "d").c_str(), &st), 1);
  EXPECT_EQ(st.is_dir, SYS_FILE_IS_DIR);
  int fd;
  ASSERT_EQ(utf8file_open_read(&fd, (t / "d").c_str()), 1);  // folders open for reading
  ASSERT_EQ(sys_file_fstat(fd, &st), 1);
  EXPECT_EQ(st.is_dir, SYS_FILE_IS_DIR);
  sys_file_close(fd);
  write_file(t / "d/x", "");
  EXPECT_EQ(utf8dir_remove((t / "d").c_str()), 0);  // not empty
  EXPECT_EQ(utf8file_remove((t / "d").c_str()), 0);
  ASSERT_EQ(utf8file_remove((t / "d/x").c_str()), 1);
  EXPECT_EQ(utf8dir_remove((t / "d").c_str()), 1);

  sys_filesystem_stat_rec fs;
  ASSERT_EQ(utf8filesystem_stat(t.path.c_str(), &fs), 1);
  EXPECT_GT(fs.total, 0u);
  EXPECT_EQ(fs.used, fs.total - fs.avail);
}

TEST(Files, RenameAcrossFileSystems)
{
  struct stat s1, s2;
  scratch_dir t;
  if (stat("/dev/shm", &s2) != 0 || stat(t.path.c_str(), &s1) != 0 || s1.st_dev == s2.st_dev)
    GTEST_SKIP() << "needs /dev/shm on a file system other than the scratch folder's";
  std::string from = "/dev/shm/tarvo-rename-" + std::to_string(getpid());
  std::string to = t / "moved";
  write_file(from, "payload");
  write_file(to, "old target");
  int64_t mtime = 1200000000;
  ASSERT_EQ(sys_file_utime(from.c_str(), &mtime, nullptr), 1);
  ASSERT_EQ(sys_file_rename(from.c_str(), to.c_str()), 1);
  EXPECT_EQ(read_file(to), "payload");
  sys_file_stat_rec st;
  EXPECT_EQ(sys_file_stat(from.c_str(), &st), 0);
  ASSERT_EQ(sys_file_stat(to.c_str(), &st), 1);
  EXPECT_EQ(st.mtime, mtime);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(t.path), {}), 1);  // no temporary left

  // A folder cannot move that way; the target stays as it was.
  std::string dir = "/dev/shm/tarvo-rename-dir-" + std::to_string(getpid());
  ASSERT_EQ(sys_dir_make(dir.c_str()), 1);
  EXPECT_EQ(sys_file_rename(dir.c_str(), to.c_str()), 0);
  EXPECT_EQ(read_file(to), "payload");
  sys_dir_remove(dir.c_str());
}

TEST(Folders, ListingSkipsDotsAndIgnoresTrailingSlash)
{
  scratch_dir t;
  std::set<std::string> want = {"a.txt", "sub", "\xE6\x97\xA5.mp3", "\xFF" "bad"};
  for (const auto &n : want)
    if (n == "sub") ASSERT_EQ(sys_dir_make((t / n).c_str()), 1);
    else write_file(t / n, "");
  EXPECT_EQ(list_utf8(t.path.string()), want);
  EXPECT_EQ(list_utf8(t.path.string() + "/"), want);
  EXPECT_EQ(list_utf8(t / "sub"), std::set<std::string>{});

  sys_dir_rec d;
  EXPECT_EQ(sys_dir_open(&d, ""), 0);
  EXPECT_EQ(sys_dir_open(&d, (t / "missing").c_str()), 0);
  ASSERT_EQ(sys_dir_open(&d, (t / "sub").c_str()), 1);
  EXPECT_EQ(sys_dir_read(&d), nullptr);
  EXPECT_EQ(sys_dir_read(&d), nullptr);
  sys_dir_close(&d);
}

// What the walk of a share relies on: each entry's kind from the listing,
// and one stat by name that follows links and tells the file it reaches
// as a stat of the whole path does.
TEST(Folders, ListingGivesEachEntrysKindAndItsStatByName)
{
  scratch_dir t;
  write_file(t / "file", "12345");
  ASSERT_EQ(sys_dir_make((t / "sub").c_str()), 1);
  ASSERT_EQ(symlink("file", (t / "link").c_str()), 0);
  ASSERT_EQ(symlink("missing", (t / "dangling").c_str()), 0);
  ASSERT_EQ(mkfifo((t / "pipe").c_str(), 0600), 0);
  sys_dir_rec d;
  ASSERT_EQ(sys_dir_open(&d, t.path.c_str()), 1);
  std::map<std::string, int32_t> kinds;
  std::map<std::string, sys_file_stat_rec> stats;
  while (const char *n = sys_dir_read(&d)) {
    kinds[n] = d.type;
    sys_file_stat_rec st{};
    if (sys_dir_stat(&d, &st)) stats[n] = st;
  }
  sys_dir_close(&d);
  // A file system that does not say leaves every kind unknown.
  if (kinds["file"] != SYS_DIR_UNKNOWN) {
    EXPECT_EQ(kinds, (std::map<std::string, int32_t>{{"dangling", SYS_DIR_LINK}, {"file", SYS_DIR_FILE},
                                                     {"link", SYS_DIR_LINK}, {"pipe", SYS_DIR_OTHER},
                                                     {"sub", SYS_DIR_FOLDER}}));
  }
  EXPECT_EQ(stats.count("dangling"), 0u);
  for (const char *n : {"file", "link", "sub", "pipe"}) {
    sys_file_stat_rec whole{};
    ASSERT_EQ(utf8file_stat((t / n).c_str(), &whole), 1) << n;
    ASSERT_EQ(stats.count(n), 1u) << n;
    const sys_file_stat_rec &st = stats[n];
    EXPECT_EQ(std::tie(st.is_dir, st.is_regular, st.size, st.mtime, st.ctime, st.dev, st.ino),
              std::tie(whole.is_dir, whole.is_regular, whole.size, whole.mtime, whole.ctime, whole.dev, whole.ino))
        << n;
  }
  EXPECT_EQ(stats["link"].ino, stats["file"].ino);
  EXPECT_EQ(stats["file"].is_regular, 1);
  EXPECT_EQ(stats["file"].size, 5u);
  EXPECT_EQ(stats["sub"].is_dir, SYS_FILE_IS_DIR);
  EXPECT_EQ(stats["pipe"].is_regular + stats["pipe"].is_dir, 0);
  struct stat plain;
  ASSERT_EQ(::stat((t / "sub").c_str(), &plain), 0);
  EXPECT_EQ(stats["sub"].dev, uint64_t(plain.st_dev));
  EXPECT_EQ(stats["sub"].ino, uint64_t(plain.st_ino));
}

TEST(Folders, WidePathsRefuseIllFormedUtf16)
{
  scratch_dir t;
  std::u16string base(t.path.u16string());
  int fd;
  // U+1F600 as a surrogate pair names the file by its four-byte UTF-8 form.
  auto good = wide(base + u"/\xD83D\xDE00.txt");
  ASSERT_EQ(sys_file_open_trunc_w(&fd, good.data()), 1);
  sys_file_close(fd);
  EXPECT_TRUE(std::filesystem::exists(t / "\xF0\x9F\x98\x80.txt"));

  auto lone = wide(base + u"/x\xD83D.txt");
  EXPECT_EQ(sys_file_open_trunc_w(&fd, lone.data()), 0);
  EXPECT_EQ(sys_dir_make_w(lone.data()), 0);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(t.path), {}), 1);

  // The wide listing skips names that are not UTF-8.
  write_file(t / "\xFF" "bad", "");
  sys_dir_rec d;
  auto dir = wide(base);
  ASSERT_EQ(sys_dir_open_w(&d, dir.data()), 1);
  std::vector<std::u16string> names;
  while (sys_wchar *n = sys_dir_read_w(&d)) names.emplace_back(reinterpret_cast<char16_t *>(n));
  sys_dir_close(&d);
  EXPECT_EQ(names, std::vector<std::u16string>{u"\xD83D\xDE00.txt"});
}

// Whole files of every size around the read size come back as they are,
// appended to what the buffer held; the size bound holds at the limit and
// one over.
TEST(Files, ReadAllKeepsEveryByteAndItsBound)
{
  scratch_dir d;
  for (uint32_t n : {0u, 1u, FILE_READ_ALL_BUFFER - 1, FILE_READ_ALL_BUFFER, FILE_READ_ALL_BUFFER + 1,
                     3 * FILE_READ_ALL_BUFFER + 5, 1u << 20}) {
    std::string data(n, '\0');
    for (uint32_t i = 0; i < n; i++) data[i] = char('a' + i % 23);
    const std::string path = d / "f";
    write_file(path, data);
    sys_stralloc_rec sa{};
    ASSERT_EQ(sys_stralloc_copys(&sa, "head:"), 1);
    ASSERT_EQ(file_read_all(path.c_str(), &sa), 1) << n;
    EXPECT_EQ(std::string(sa.buf, sa.len), "head:" + data) << n;
    sys_stralloc_free(&sa);
    sa = sys_stralloc_rec{};
    EXPECT_EQ(file_read_all_max(path.c_str(), &sa, n), 1) << n;
    EXPECT_EQ(std::string(sa.buf ? sa.buf : "", sa.len), data) << n;
    sys_stralloc_free(&sa);
    sa = sys_stralloc_rec{};
    if (n) {
      EXPECT_EQ(file_read_all_max(path.c_str(), &sa, n - 1), 0) << n;
    }
    sys_stralloc_free(&sa);
    // Mapped, the same bytes and the same bound.
    const char *mapped = nullptr;
    uint64_t size = 0;
    ASSERT_EQ(file_map_all(path.c_str(), n, &mapped, &size), 1) << n;
    EXPECT_EQ(std::string(mapped, size_t(size)), data) << n;
    file_unmap(mapped, size);
    if (n) {
      EXPECT_EQ(file_map_all(path.c_str(), n - 1, &mapped, &size), 0) << n;
    }
  }
  const char *mapped = nullptr;
  uint64_t size = 0;
  EXPECT_EQ(file_map_all(d.path.c_str(), UINT64_MAX, &mapped, &size), 0);
  EXPECT_EQ(file_map_all((d / "none").c_str(), UINT64_MAX, &mapped, &size), 0);
}

TEST(Handles, ClosedPipeReadsAsEndOfFile)
{
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  ASSERT_EQ(sys_file_allwrite(p[1], "xy", 2), 1);
  close(p[1]);
  char b[8];
  uint32_t got;
  ASSERT_EQ(sys_file_read(p[0], b, sizeof b, &got), 1);
  EXPECT_EQ(got, 2u);
  ASSERT_EQ(sys_file_read(p[0], b, sizeof b, &got), 1);
  EXPECT_EQ(got, 0u);
  close(p[0]);
}

TEST(Handles, SendRangeOverSocket)
{
  scratch_dir t;
  std::string data(20000, 0);
  for (size_t i = 0; i < data.size(); i++) data[i] = char(i * 7);
  write_file(t / "f", data);
  int fd, sv[2];
  ASSERT_EQ(sys_file_open_read(&fd, (t / "f").c_str()), 1);
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
  int64_t sent;
  ASSERT_EQ(sys_file_send(sv[0], fd, 100, 9000, &sent), 1);
  EXPECT_EQ(sent, 9000);
  // Beyond the end: the rest of the file, and success.
  ASSERT_EQ(sys_file_send(sv[0], fd, 15000, 1 << 20, &sent), 1);
  EXPECT_EQ(sent, 5000);
  EXPECT_TRUE(fcntl(sv[0], F_GETFL) & O_NONBLOCK);
  close(sv[0]);
  EXPECT_EQ(rest_of(sv[1]), data.substr(100, 9000) + data.substr(15000));
  close(sv[1]);
  EXPECT_EQ(sys_file_send(sv[0], fd, 0, 10, &sent), 0);  // closed socket
  sys_file_close(fd);
}

TEST(FileBuffer, LinesAcrossRefills)
{
  scratch_dir t;
  write_file(t / "f", "first line\nx\n\nlast");
  int fd;
  ASSERT_EQ(sys_file_open_read(&fd, (t / "f").c_str()), 1);
  char buf[4];
  sys_filebuffer_rec fb;
  sys_filebuffer_init(&fb, fd, buf, sizeof buf);
  sys_stralloc_rec sa{};
  int got;
  std::vector<std::pair<std::string, int>> lines;
  for (int i = 0; i < 6; i++) {
    ASSERT_EQ(sys_filebuffer_getln(&fb, &sa, &got, '\n'), 1);
    lines.emplace_back(std::string(sa.buf ? sa.buf : "", sa.len), got);
  }
  std::vector<std::pair<std::string, int>> want = {
    {"first line\n", 1}, {"x\n", 1}, {"\n", 1}, {"last", 0}, {"", 0}, {"", 0}};
  EXPECT_EQ(lines, want);
  int64_t pos;
  ASSERT_EQ(sys_filebuffer_pos(&fb, &pos), 1);
  EXPECT_EQ(pos, 18);
  sys_stralloc_free(&sa);
  sys_file_close(fd);
}

TEST(FileBuffer, ReadingCalls)
{
  scratch_dir t;
  std::string data;
  for (int i = 0; i < 100; i++) data += char('A' + i % 26);
  write_file(t / "f", data);
  int fd;
  ASSERT_EQ(sys_file_open_read(&fd, (t / "f").c_str()), 1);
  char buf[16], dst[64];
  sys_filebuffer_rec fb;
  sys_filebuffer_init(&fb, fd, buf, sizeof buf);
  uint32_t got, avail;

  ASSERT_EQ(sys_filebuffer_get(&fb, dst, 3, &got), 1);  // feeds, copies 3
  EXPECT_EQ(std::string(dst, got), data.substr(0, 3));
  ASSERT_EQ(sys_filebuffer_feed(&fb, &avail), 1);
  EXPECT_EQ(avail, 13u);
  EXPECT_EQ(std::string(sys_filebuffer_peek(&fb), 2), data.substr(3, 2));
  ASSERT_EQ(sys_filebuffer_get(&fb, dst, 40, &got), 1);  // buffered bytes only
  EXPECT_EQ(got, 13u);
  ASSERT_EQ(sys_filebuffer_bget(&fb, dst, 40, &got), 1);  // direct, at most the buffer size
  EXPECT_EQ(std::string(dst, got), data.substr(16, 16));
  ASSERT_EQ(sys_filebuffer_get(&fb, dst, 20, &got), 1);  // direct, all asked for
  EXPECT_EQ(std::string(dst, got), data.substr(32, 20));
  ASSERT_EQ(sys_filebuffer_skip(&fb, 30), 1);
  ASSERT_EQ(sys_filebuffer_fill(&fb, dst, 10), 1);
  EXPECT_EQ(std::string(dst, 10), data.substr(82, 10));
  int64_t pos;
  ASSERT_EQ(sys_filebuffer_pos(&fb, &pos), 1);
  EXPECT_EQ(pos, 92);
  EXPECT_EQ(sys_filebuffer_fill(&fb, dst, 0), 1);
  EXPECT_EQ(sys_filebuffer_fill(&fb, dst, 10), 0);  // only 8 remain
  EXPECT_EQ(sys_filebuffer_skip(&fb, 1), 0);
  sys_file_close(fd);
}

TEST(FileBuffer, WritingCallsKeepOrder)
{
  scratch_dir t;
  // Pieces around the buffer size, and far beyond it, in every put flavour.
  std::string want;
  int fd;
  ASSERT_EQ(sys_file_open_trunc(&fd, (t / "f").c_str()), 1);
  char buf[10];
  sys_filebuffer_rec fb;
  sys_filebuffer_init(&fb, fd, buf, sizeof buf);
  int k = 0;
  for (uint32_t len : {3u, 7u, 1u, 10u, 11u, 9u, 25000u, 2u}) {
    std::string piece(len, char('a' + k++));
    ASSERT_EQ(sys_filebuffer_put(&fb, piece.data(), len), 1);
    want += piece;
    piece.assign(len, char('a' + k++));
    ASSERT_EQ(sys_filebuffer_putalign(&fb, piece.data(), len), 1);
    want += piece;
  }
  ASSERT_EQ(sys_filebuffer_puts(&fb, "end"), 1);
  ASSERT_EQ(sys_filebuffer_putsflush(&fb, "!"), 1);
  EXPECT_EQ(fb.p, 0u);
  want += "end!";
  EXPECT_EQ(sys_filebuffer_flush(&fb), 1);
  sys_file_close(fd);
  EXPECT_EQ(read_file(t / "f"), want);

  // Copy the file through two small buffers.
  int in, out;
  ASSERT_EQ(sys_file_open_read(&in, (t / "f").c_str()), 1);
  ASSERT_EQ(sys_file_open_trunc(&out, (t / "g").c_str()), 1);
  char b1[7], b2[5];
  sys_filebuffer_rec fin, fout;
  sys_filebuffer_init(&fin, in, b1, sizeof b1);
  sys_filebuffer_init(&fout, out, b2, sizeof b2);
  ASSERT_EQ(sys_filebuffer_copy(&fin, &fout), 1);
  ASSERT_EQ(sys_filebuffer_flush(&fout), 1);
  sys_file_close(in);
  sys_file_close(out);
  EXPECT_EQ(read_file(t / "g"), want);
}

TEST(Paths, DotSuffixIsTakenFromTheLastComponentOnly)
{
  auto suffix = [](const std::string &p) { return p.substr(utf8file_dot_suffix_at(p.data(), uint32_t(p.size()))); };
  EXPECT_EQ(suffix("/m/a.b/track.MP3"), ".MP3");
  EXPECT_EQ(suffix("/m/a.tar.gz"), ".gz");
  EXPECT_EQ(suffix("/m/a.b/README"), "");
  EXPECT_EQ(suffix("/m/.hidden"), ".hidden");
  EXPECT_EQ(suffix("name."), ".");
  EXPECT_EQ(suffix(""), "");
}
