// Images decoded from PNG, and the RT_RCDATA items of resource libraries.
#include "gdi_internal.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace {

struct png_reader {
  const unsigned char *data;
  size_t size;
  size_t at;
};

cairo_status_t read_png(void *closure, unsigned char *out, unsigned int length)
{
  auto *r = static_cast<png_reader *>(closure);
  if (length > r->size - r->at) return CAIRO_STATUS_READ_ERROR;
  std::memcpy(out, r->data + r->at, length);
  r->at += length;
  return CAIRO_STATUS_SUCCESS;
}

const unsigned char png_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// The folder of the running program, with a trailing '/'.
std::string program_dir()
{
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "";
  self[n] = '\0';
  char *slash = std::strrchr(self, '/');
  if (!slash) return "";
  slash[1] = '\0';
  return self;
}

const UI_RCDATA_TABLE *table_of(HMODULE module)
{
  if (!module) return nullptr;
  auto fn = reinterpret_cast<UI_RCDATA_FN>(dlsym(module, UI_RCDATA_SYMBOL));
  return fn ? fn() : nullptr;
}

}  // namespace

extern "C" {

UI_IMAGE *UiImageFromMemory(const void *data, size_t size)
{
  if (!data || size < sizeof png_signature || size > UI_IMAGE_MAX_BYTES) return nullptr;
  if (std::memcmp(data, png_signature, sizeof png_signature) != 0) return nullptr;
  png_reader r{static_cast<const unsigned char *>(data), size, 0};
  cairo_surface_t *s = cairo_image_surface_create_from_png_stream(read_png, &r);
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS || cairo_image_surface_get_width(s) <= 0 ||
      cairo_image_surface_get_height(s) <= 0) {
    cairo_surface_destroy(s);
    return nullptr;
  }
  auto *img = new ui_image();
  img->surf = s;
  return img;
}

UI_IMAGE *UiImageFromStream(IStream *stream)
{
  if (!stream) return nullptr;
  std::vector<unsigned char> bytes;
  unsigned char chunk[8192];
  for (;;) {
    ULONG got = 0;
    HRESULT hr = stream->Read(chunk, sizeof chunk, &got);
    if (FAILED(hr)) return nullptr;
    if (got == 0) break;
    if (bytes.size() + got > UI_IMAGE_MAX_BYTES) return nullptr;
    bytes.insert(bytes.end(), chunk, chunk + got);
    if (hr == S_FALSE) break;
  }
  return UiImageFromMemory(bytes.data(), bytes.size());
}

void UiImageDelete(UI_IMAGE *img)
{
  if (!img) return;
  cairo_surface_destroy(img->surf);
  delete img;
}

int UiImageWidth(const UI_IMAGE *img) { return img ? cairo_image_surface_get_width(img->surf) : 0; }
int UiImageHeight(const UI_IMAGE *img) { return img ? cairo_image_surface_get_height(img->surf) : 0; }

int UiImageDraw(HDC dc, const UI_IMAGE *img, int x, int y, int cx, int cy)
{
  if (!dc || !img || cx <= 0 || cy <= 0) return 0;
  cairo_t *cr = dc->cr;
  cairo_save(cr);
  cairo_rectangle(cr, x, y, cx, cy);
  cairo_clip(cr);
  cairo_translate(cr, x, y);
  cairo_scale(cr, double(cx) / UiImageWidth(img), double(cy) / UiImageHeight(img));
  cairo_set_source_surface(cr, img->surf, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BILINEAR);
  cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
  cairo_paint(cr);
  cairo_restore(cr);
  return 1;
}

int UiImageTile(HDC dc, const UI_IMAGE *img, const RECT *r)
{
  if (!dc || !img || !r || r->right <= r->left || r->bottom <= r->top) return 0;
  cairo_t *cr = dc->cr;
  cairo_save(cr);
  cairo_set_source_surface(cr, img->surf, r->left, r->top);
  cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_REPEAT);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
  cairo_rectangle(cr, r->left, r->top, r->right - r->left, r->bottom - r->top);
  cairo_fill(cr);
  cairo_restore(cr);
  return 1;
}

HMODULE LoadLibrary(const char *name)
{
  if (!name || !*name) return nullptr;
  if (std::strchr(name, '/')) return dlopen(name, RTLD_NOW | RTLD_LOCAL);
  // lib<name>.so, then <name>.so, beside the program, then through the
  // loader's own search.
  const std::string dir = program_dir(), names[] = {std::string("lib") + name + ".so", std::string(name) + ".so"};
  for (const std::string &n : names)
    if (void *h = dir.empty() ? nullptr : dlopen((dir + n).c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
  for (const std::string &n : names)
    if (void *h = dlopen(n.c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
  return nullptr;
}

HRSRC FindResource(HMODULE module, UINT id, UINT type)
{
  const UI_RCDATA_TABLE *t = table_of(module);
  if (!t || !t->rows) return nullptr;
  for (uint32_t i = 0; i < t->count; ++i)
    if (t->rows[i].type == type && t->rows[i].id == id) return &t->rows[i];
  return nullptr;
}

DWORD SizeofResource(HMODULE module, HRSRC res) { return module && res ? res->size : 0; }
const void *LoadResource(HMODULE module, HRSRC res) { return module && res ? res->data : nullptr; }

}  // extern "C"
