// Static contents: byte blocks served from memory at exact request paths.
// The bytes are shared with the answers that send them, so that a content
// can be replaced while clients are still receiving the old bytes.
#include "device_impl.h"

namespace {

std::atomic_ref<uint32_t> refs(static_content_body *b) { return std::atomic_ref<uint32_t>(b->refs); }

static_content_body *body_make(const void *bytes, uint32_t length)
{
  auto *b = static_cast<static_content_body *>(sys_alloc(sizeof(static_content_body)));
  if (!b) return nullptr;
  b->bytes = static_cast<char *>(sys_alloc(length ? length : 1));
  if (!b->bytes) {
    sys_alloc_free(b);
    return nullptr;
  }
  if (length) sys_byte_copy(b->bytes, length, bytes);
  b->length = length;
  b->refs = 1;
  return b;
}

void content_free(static_content *sc)
{
  sys_alloc_free(sc->path);
  sys_alloc_free(sc->mime_type);
  device_static_release(sc->body);
  sys_alloc_free(sc);
}

// The first content at exactly path; the static-content mutex is held.
static_content *content_at(tarvo_device_ctx *c, const char *path)
{
  for (uint32_t i = 0; i < c->static_contents.len; i++) {
    auto *sc = static_cast<static_content *>(c->static_contents.buf[i]);
    if (!sys_str_diff(sc->path, path)) return sc;
  }
  return nullptr;
}

}  // namespace

void device_static_release(static_content_body *body)
{
  if (!body || refs(body).fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  sys_alloc_free(body->bytes);
  sys_alloc_free(body);
}

int device_static_find(tarvo_device_ctx *c, const char *path, const char **mime_type,
                       static_content_body **body)
{
  sys_mutex_lock(&c->static_mutex);
  static_content *sc = content_at(c, path);
  if (sc) {
    *mime_type = sc->mime_type;
    *body = sc->body;
    refs(sc->body).fetch_add(1, std::memory_order_relaxed);
  }
  sys_mutex_unlock(&c->static_mutex);
  return sc != nullptr;
}

void device_static_free_all(tarvo_device_ctx *c)
{
  for (uint32_t i = 0; i < c->static_contents.len; i++)
    content_free(static_cast<static_content *>(c->static_contents.buf[i]));
  sys_ptralloc_free(&c->static_contents);
}

extern "C" {

int tarvo_device_add_static_content(tarvo_device_ctx **ctx, const char *path,
                                    const char *mime_type, const void *bytes, uint32_t length)
{
  tarvo_device_ctx *c = device_ctx_get(ctx);
  if (!c || !path || !mime_type || (length && !bytes)) return 0;
  auto *sc = static_cast<static_content *>(sys_alloc_zero(sizeof(static_content)));
  if (!sc) return 0;
  if (!sys_str_clone(path, &sc->path) || !sys_str_clone(mime_type, &sc->mime_type) ||
      !(sc->body = body_make(bytes, length))) {
    content_free(sc);
    return 0;
  }
  sys_mutex_lock(&c->static_mutex);
  int ok = sys_ptralloc_append(&c->static_contents, sc);
  sys_mutex_unlock(&c->static_mutex);
  if (!ok) content_free(sc);
  return ok;
}

int tarvo_device_replace_static_content(tarvo_device_ctx **ctx, const char *path,
                                        const void *bytes, uint32_t length)
{
  if (!ctx || !*ctx || !path || (length && !bytes)) return 0;
  tarvo_device_ctx *c = *ctx;
  static_content_body *fresh = body_make(bytes, length);
  if (!fresh) return 0;
  sys_mutex_lock(&c->static_mutex);
  static_content *sc = content_at(c, path);
  static_content_body *old = fresh;
  if (sc) {
    old = sc->body;
    sc->body = fresh;
  }
  sys_mutex_unlock(&c->static_mutex);
  // Senders that still hold the old bytes keep them alive.
  device_static_release(old);
  return sc != nullptr;
}

}  // extern "C"
