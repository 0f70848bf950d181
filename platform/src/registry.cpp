// The registry stand-in in files: one folder per key, one file per value.
#include <tarvo_platform/registry.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string root()
{
  const char *r = std::getenv("TARVO_REGISTRY_ROOT");
  return r && *r ? r : "/var/lib/tarvo/registry";
}

// A key path of non-empty components other than "." and ".."; false for
// anything that would leave the root.
bool key_folder(const char *key, std::string *out)
{
  if (!key || !*key) return false;
  std::string path = root();
  const char *p = key;
  while (*p) {
    const char *e = std::strchr(p, '/');
    size_t n = e ? size_t(e - p) : std::strlen(p);
    std::string part(p, n);
    if (part.empty() || part == "." || part == "..") return false;
    path += "/" + part;
    p += n;
    if (*p == '/') {
      ++p;
      if (!*p) break;  // one final "/" is allowed
    }
  }
  *out = path;
  return true;
}

bool value_file(const char *key, const char *name, std::string *out)
{
  std::string folder;
  if (!key_folder(key, &folder)) return false;
  std::string n = name && *name ? name : "@";
  if (n == "." || n == ".." || n.find('/') != std::string::npos) return false;
  *out = folder + "/" + n;
  return true;
}

uint32_t from_errno(int e)
{
  if (e == ENOENT || e == ENOTDIR) return REGISTRY_NOT_FOUND;
  if (e == EACCES || e == EPERM || e == EROFS) return REGISTRY_ACCESS_DENIED;
  return REGISTRY_IO_ERROR;
}

// The whole value file, bounded; a short read is an error.
uint32_t read_value_file(const std::string &path, std::vector<unsigned char> *bytes)
{
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return from_errno(errno);
  struct stat st;
  uint32_t r = REGISTRY_OK;
  if (fstat(fd, &st) != 0)
    r = from_errno(errno);
  else if (!S_ISREG(st.st_mode) || st.st_size < 4 || st.st_size > off_t(REGISTRY_VALUE_MAX))
    r = REGISTRY_IO_ERROR;
  if (r == REGISTRY_OK) {
    bytes->resize(size_t(st.st_size));
    size_t got = 0;
    while (got < bytes->size()) {
      ssize_t n = read(fd, bytes->data() + got, bytes->size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        r = REGISTRY_IO_ERROR;
        break;
      }
      got += size_t(n);
    }
  }
  close(fd);
  return r;
}

bool write_all(int fd, const unsigned char *p, size_t n)
{
  while (n) {
    ssize_t w = write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= size_t(w);
  }
  return true;
}

}  // namespace

extern "C" {

uint32_t registry_query_value(const char *key, const char *name, uint32_t *type, void *data, uint32_t *size)
{
  std::string path;
  if (!size || !value_file(key, name, &path)) return REGISTRY_INVALID_PARAMETER;
  std::vector<unsigned char> bytes;
  uint32_t r = read_value_file(path, &bytes);
  if (r != REGISTRY_OK) return r;
  uint32_t len = uint32_t(bytes.size() - 4);
  if (type) *type = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
  if (data && len > *size) {
    *size = len;
    return REGISTRY_MORE_DATA;
  }
  if (data && len) std::memcpy(data, bytes.data() + 4, len);
  *size = len;
  return REGISTRY_OK;
}

uint32_t registry_set_value(const char *key, const char *name, uint32_t type, const void *data, uint32_t size)
{
  std::string path;
  if (!value_file(key, name, &path) || (size && !data) || size > REGISTRY_VALUE_MAX - 4)
    return REGISTRY_INVALID_PARAMETER;
  uint32_t r = registry_open_key(key, 1);
  if (r != REGISTRY_OK) return r;
  std::string tmp = path.substr(0, path.rfind('/')) + "/.value-XXXXXX";
  int fd = mkostemp(tmp.data(), O_CLOEXEC);
  if (fd < 0) return from_errno(errno);
  unsigned char head[4] = {uint8_t(type), uint8_t(type >> 8), uint8_t(type >> 16), uint8_t(type >> 24)};
  bool ok = fchmod(fd, 0644) == 0 && write_all(fd, head, 4) &&
            write_all(fd, static_cast<const unsigned char *>(data), size) && fsync(fd) == 0;
  int e = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    e = errno;
  }
  if (ok && rename(tmp.c_str(), path.c_str()) != 0) {
    ok = false;
    e = errno;
  }
  if (!ok) {
    unlink(tmp.c_str());
    return from_errno(e);
  }
  return REGISTRY_OK;
}

uint32_t registry_delete_value(const char *key, const char *name)
{
  std::string path;
  if (!value_file(key, name, &path)) return REGISTRY_INVALID_PARAMETER;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return from_errno(errno);
  if (!S_ISREG(st.st_mode)) return REGISTRY_IO_ERROR;
  return unlink(path.c_str()) == 0 ? REGISTRY_OK : from_errno(errno);
}

uint32_t registry_open_key(const char *key, int create)
{
  std::string folder;
  if (!key_folder(key, &folder)) return REGISTRY_INVALID_PARAMETER;
  std::error_code ec;
  if (create) fs::create_directories(folder, ec);
  if (ec) return from_errno(ec.value());
  struct stat st;
  if (stat(folder.c_str(), &st) != 0) return from_errno(errno);
  return S_ISDIR(st.st_mode) ? REGISTRY_OK : REGISTRY_NOT_FOUND;
}

uint32_t registry_delete_key(const char *key)
{
  std::string folder;
  if (!key_folder(key, &folder)) return REGISTRY_INVALID_PARAMETER;
  uint32_t r = registry_open_key(key, 0);
  if (r != REGISTRY_OK) return r;
  std::error_code ec;
  fs::remove_all(folder, ec);
  return ec ? from_errno(ec.value()) : REGISTRY_OK;
}

}  // extern "C"
