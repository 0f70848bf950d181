/* Owners that free the foundation's records when they leave scope: the one
 * set every C++ module uses. The C interfaces stay C; this header adds
 * nothing to a C translation unit. */
#pragma once

#ifdef __cplusplus

#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_str.h>

namespace own {

// Forbids copies: a copied owner would free twice.
struct no_copy {
  no_copy() = default;
  no_copy(const no_copy &) = delete;
  no_copy &operator=(const no_copy &) = delete;
};

// A growing string; s is the record the C calls take.
struct stralloc : no_copy {
  sys_stralloc_rec s{};
  ~stralloc() { sys_stralloc_free(&s); }
};

// A heap string (sys_alloc); release hands it on.
struct str : no_copy {
  char *s = nullptr;
  str() = default;
  explicit str(char *p) : s(p) {}
  ~str() { sys_alloc_free(s); }
  void reset(char *p)
  {
    sys_alloc_free(s);
    s = p;
  }
  char *release()
  {
    char *r = s;
    s = nullptr;
    return r;
  }
};

// A NULL-terminated string list (sys_str_list).
struct str_list : no_copy {
  sys_str_list l = nullptr;
  ~str_list() { sys_str_list_free(l); }
};

// A file or socket descriptor.
struct file : no_copy {
  int fd = SYS_FILE_INVALID;
  file() = default;
  explicit file(int d) : fd(d) {}
  ~file() { sys_file_close(fd); }
  void reset(int d = SYS_FILE_INVALID)
  {
    sys_file_close(fd);
    fd = d;
  }
};

// A heap object freed by its own function, which takes nullptr.
template <typename T, auto Free> struct ptr : no_copy {
  T *p = nullptr;
  ptr() = default;
  explicit ptr(T *obj) : p(obj) {}
  ~ptr() { Free(p); }
  void reset(T *obj = nullptr)
  {
    Free(p);
    p = obj;
  }
  T *release()
  {
    T *r = p;
    p = nullptr;
    return r;
  }
};

// A record that frees itself through its address; it stands wherever the
// record does (members, &owner as the record's pointer).
template <typename T, auto Free> struct rec : T, no_copy {
  rec() : T{} {}
  ~rec() { Free(this); }
  // Leaves the record empty once its contents are handed on.
  void forget() { static_cast<T &>(*this) = T{}; }
};

using ptralloc = rec<sys_ptralloc_rec, sys_ptralloc_free>;
using uint32alloc = rec<sys_uint32alloc_rec, sys_uint32alloc_free>;
using memalloc = rec<sys_memalloc_rec, sys_memalloc_free>;

// A pointer array whose elements are freed by Free, then the array.
template <typename T, auto Free> struct ptr_array : no_copy {
  sys_ptralloc_rec pa{};
  T *at(uint32_t i) const { return static_cast<T *>(pa.buf[i]); }
  ~ptr_array()
  {
    for (uint32_t i = 0; i < pa.len; i++) Free(at(i));
    sys_ptralloc_free(&pa);
  }
};

// Heap strings gathered for a sys_str_list; freed unless handed out.
struct str_list_build : ptr_array<char, sys_alloc_free> {
  // Takes s over; frees it when it cannot be stored.
  bool take(char *s)
  {
    if (sys_ptralloc_append(&pa, s)) return true;
    sys_alloc_free(s);
    return false;
  }
  // NULL-terminates the strings and hands them out as one list; the
  // builder is left empty.
  bool release(sys_str_list *out)
  {
    if (!sys_ptralloc_append(&pa, nullptr)) return false;
    *out = reinterpret_cast<sys_str_list>(pa.buf);
    pa = sys_ptralloc_rec{};
    return true;
  }
};

}  // namespace own

#endif
