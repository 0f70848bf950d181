// One-line files, the ini file's creation and the known-client list.
#include "helper_files.h"

#include <tarvo_util/sys_file.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool utf8_ok(const std::string &s)
{
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (n == 0 || (n == 2 && c < 0xC2) || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

int open_nofollow(const std::string &path, int flags)
{
  int fd;
  do fd = open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, 0644);
  while (fd < 0 && errno == EINTR);
  return fd;
}

bool write_all(int fd, const std::string &data)
{
  size_t at = 0;
  while (at < data.size()) {
    uint32_t put = 0;
    if (!sys_file_write(fd, data.data() + at, uint32_t(data.size() - at), &put) || put == 0) return false;
    at += put;
  }
  return true;
}

}  // namespace

int first_line_of(const char *data, size_t size, std::string *line)
{
  std::string s(data, size < HELPER_LINE_MAX ? size : HELPER_LINE_MAX);
  size_t nl = s.find('\n');
  if (nl != std::string::npos) s.resize(nl);  // one line only
  size_t nul = s.find('\0');
  if (nul != std::string::npos) s.resize(nul);
  // A line cut by the bound may end inside a character: drop its rest.
  if (size > HELPER_LINE_MAX && nl == std::string::npos)
    while (!s.empty() && (static_cast<unsigned char>(s.back()) & 0xC0) == 0x80) s.pop_back();
  if (size > HELPER_LINE_MAX && nl == std::string::npos && !s.empty() &&
      static_cast<unsigned char>(s.back()) >= 0xC0)
    s.pop_back();
  if (!utf8_ok(s)) return 0;
  size_t cr = s.find('\r');
  if (cr != std::string::npos) s.resize(cr);
  *line = s;
  return 1;
}

int read_first_line(const std::string &path, std::string *line)
{
  int fd = open_nofollow(path, O_RDONLY);
  if (fd < 0) return 0;
  char buf[HELPER_LINE_MAX + 1];
  size_t have = 0;
  while (have < sizeof buf) {
    uint32_t got = 0;
    if (!sys_file_read(fd, buf + have, uint32_t(sizeof buf - have), &got)) {
      sys_file_close(fd);
      return 0;
    }
    if (got == 0) break;
    have += got;
  }
  sys_file_close(fd);
  return first_line_of(buf, have, line);
}

int create_new_file(const std::string &path, int *existed)
{
  *existed = 0;
  int fd = open_nofollow(path, O_WRONLY | O_CREAT | O_EXCL);
  if (fd < 0) {
    *existed = errno == EEXIST;
    return 0;
  }
  sys_file_close(fd);
  return 1;
}

int write_new_file(const std::string &path, const std::string &data)
{
  int fd = open_nofollow(path, O_WRONLY | O_CREAT | O_EXCL);
  if (fd < 0) return 0;
  bool ok = write_all(fd, data);
  if (sys_file_close(fd) && ok) return 1;
  sys_file_remove(path.c_str());
  return 0;
}

void known_clients_parse(const char *data, size_t size, std::vector<std::string> *keys)
{
  keys->clear();
  size_t i = 0;
  while (i < size && keys->size() < KNOWN_CLIENTS_MAX) {
    size_t end = i;
    while (end < size && data[end] != '\n') ++end;
    size_t len = end - i;
    if (len && data[i + len - 1] == '\r') --len;
    if (len) keys->emplace_back(data + i, len);
    i = end + 1;
  }
}

int known_clients_load(const std::string &path, std::vector<std::string> *keys)
{
  int fd = open_nofollow(path, O_RDONLY);
  if (fd < 0) return 0;
  std::string all;
  char buf[8192];
  for (;;) {
    uint32_t got = 0;
    if (!sys_file_read(fd, buf, sizeof buf, &got)) {
      sys_file_close(fd);
      return 0;
    }
    if (got == 0) break;
    all.append(buf, got);
    if (all.size() >= KNOWN_CLIENTS_FILE_MAX) break;  // the cap is reached long before
  }
  sys_file_close(fd);
  known_clients_parse(all.data(), all.size(), keys);
  return 1;
}

int known_clients_store(const std::string &path, const std::vector<std::string> &keys)
{
  std::string data;
  for (size_t i = 0; i < keys.size() && i < KNOWN_CLIENTS_MAX; ++i) data += keys[i] + "\r\n";
  std::string tmp = path + ".tmp";
  int fd = open_nofollow(tmp, O_WRONLY | O_CREAT | O_EXCL);
  if (fd < 0 && errno == EEXIST && unlink(tmp.c_str()) == 0)  // left by a crash
    fd = open_nofollow(tmp, O_WRONLY | O_CREAT | O_EXCL);
  if (fd >= 0) {
    bool ok = write_all(fd, data) && fsync(fd) == 0;
    ok = sys_file_close(fd) && ok;
    if (ok && rename(tmp.c_str(), path.c_str()) == 0) return 1;
    unlink(tmp.c_str());
  }
  // A folder closed to new files: the old file rewritten where it is.
  fd = open_nofollow(path, O_WRONLY | O_TRUNC);
  if (fd < 0) return 0;
  bool ok = write_all(fd, data);
  return sys_file_close(fd) && ok;
}
