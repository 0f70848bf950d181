// Stand-in for the share scanner until it lands: its locks and flags,
// without a thread that walks the shares.  The scanner's own source
// replaces this file.
#include <vennard/server.h>
#include <vennard/share_scanner.h>

#include <atomic>

extern "C" {

int share_scanner_start(server_rec *s)
{
  return share_locks_init(s);
}

void share_scanner_stop(server_rec *s)
{
  share_locks_close(s);
}

void share_scanner_rescan(server_rec *s)
{
  std::atomic_ref<int32_t>(s->scanner.restart).store(1);
}

void share_scanner_recheck(server_rec *s)
{
  std::atomic_ref<int32_t>(s->scanner.recheck).store(1);
}

}  // extern "C"
