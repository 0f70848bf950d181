// Bentley-McIlroy three-way quicksort with a context argument.
#include <tarvo_util/sys_str.h>

#include <cstring>

namespace {

struct sorter {
  uint32_t size;
  void *ctx;
  sort_quick_cmp cmp;
  int swaptype;  // 0: one word, 1: words, 2: bytes

  char *at(char *b, uint32_t i) const { return b + size_t(i) * size; }

  void swap(char *a, char *b) const
  {
    if (swaptype == 0) {
      uint32_t t;
      std::memcpy(&t, a, 4);
      std::memcpy(a, b, 4);
      std::memcpy(b, &t, 4);
    } else if (swaptype == 1) {
      for (uint32_t i = 0; i < size; i += 4) {
        uint32_t t;
        std::memcpy(&t, a + i, 4);
        std::memcpy(a + i, b + i, 4);
        std::memcpy(b + i, &t, 4);
      }
    } else {
      for (uint32_t i = 0; i < size; i++) {
        char t = a[i];
        a[i] = b[i];
        b[i] = t;
      }
    }
  }

  void vecswap(char *a, char *b, uint32_t n) const
  {
    for (uint32_t i = 0; i < n; i++) swap(at(a, i), at(b, i));
  }

  int c(const char *a, const char *b) const { return cmp(a, b, ctx); }

  char *med3(char *a, char *b, char *d) const
  {
    if (c(a, b) < 0) return c(b, d) < 0 ? b : (c(a, d) >= 0 ? a : d);
    return c(b, d) > 0 ? b : (c(a, d) < 0 ? a : d);
  }

  // Insertion sort that gives up after budget moves; false when it gave up
  // (the range then holds the same elements in another order).
  bool insertion(char *b, uint32_t n, uint64_t budget = UINT64_MAX) const
  {
    for (uint32_t i = 1; i < n; i++)
      for (uint32_t j = i; j > 0 && c(at(b, j - 1), at(b, j)) > 0; j--) {
        if (!budget--) return false;
        swap(at(b, j - 1), at(b, j));
      }
    return true;
  }

  void sort(char *b, uint32_t n) const
  {
    // The smaller side recurses and the larger loops, so the depth stays
    // logarithmic whatever the input.
    bool try_insertion = true;
    for (;;) {
      if (n < 7) {
        insertion(b, n);
        return;
      }
      char *pm = at(b, n / 2);
      if (n > 7) {
        char *pl = b, *pn = at(b, n - 1);
        if (n > 40) {
          uint32_t s = n / 8;
          pl = med3(pl, at(pl, s), at(pl, 2 * s));
          pm = med3(pm - size_t(s) * size, pm, pm + size_t(s) * size);
          pn = med3(pn - size_t(2 * s) * size, pn - size_t(s) * size, pn);
        }
        pm = med3(pl, pm, pn);
      }
      swap(b, pm);

      uint32_t a = 1, bb = 1, cc = n - 1, d = n - 1;
      bool swapped = false;
      for (;;) {
        int r;
        while (bb <= cc && (r = c(at(b, bb), b)) <= 0) {
          if (r == 0) {
            swapped = true;
            swap(at(b, a), at(b, bb));
            a++;
          }
          bb++;
        }
        while (bb <= cc && (r = c(at(b, cc), b)) >= 0) {
          if (r == 0) {
            swapped = true;
            swap(at(b, cc), at(b, d));
            d--;
          }
          cc--;
        }
        if (bb > cc) break;
        swap(at(b, bb), at(b, cc));
        swapped = true;
        bb++;
        cc--;
      }
      // A partition that moved nothing suggests a sorted range, but a range
      // split around the pivot with both sides shuffled looks the same: the
      // insertion sort may spend only about n moves before the range is
      // partitioned again without it.
      if (!swapped && try_insertion) {
        if (insertion(b, n, n)) return;
        try_insertion = false;
        continue;
      }
      try_insertion = true;

      uint32_t s = a < bb - a ? a : bb - a;
      vecswap(b, at(b, bb - s), s);
      s = (d - cc) < (n - 1 - d) ? d - cc : n - 1 - d;
      vecswap(at(b, bb), at(b, n - s), s);

      uint32_t left = bb - a, right = d - cc;
      char *rb = at(b, n - right);
      if (left <= right) {
        if (left > 1) sort(b, left);
        if (right <= 1) return;
        b = rb;
        n = right;
      } else {
        if (right > 1) sort(rb, right);
        if (left <= 1) return;
        n = left;
      }
    }
  }
};

}  // namespace

extern "C" void sort_quick(void *base, uint32_t n, uint32_t size, void *ctx, sort_quick_cmp cmp)
{
  if (n < 2 || !size) return;
  sorter s{size, ctx, cmp, 2};
  if (reinterpret_cast<uintptr_t>(base) % 4 == 0 && size % 4 == 0) s.swaptype = size == 4 ? 0 : 1;
  s.sort(static_cast<char *>(base), n);
}
