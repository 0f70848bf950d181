// The local-server client holder.  Its handle owns one connection, so the
// watcher thread and the GUI thread (the view's share calls) take turns
// under the holder's lock.
#include "mgmt_client.h"

#include <tarvo_avcpl/tarvo_avcpl.h>

#include <mutex>

namespace {

// UPnP error for a call that was not made (no client).
constexpr uint32_t NO_CLIENT = 501;

std::mutex holder_lock;
tarvo_avcpl_handle holder = nullptr;
unsigned holder_port = 0;

uint32_t allow_list(sys_str_list *macs, sys_str_list *ips)
{
  std::lock_guard<std::mutex> g(holder_lock);
  return holder_port ? tarvo_avcpl_get_allow_list(&holder, macs, ips, nullptr) : NO_CLIENT;
}

uint32_t deny_list(sys_str_list *macs, sys_str_list *ips)
{
  std::lock_guard<std::mutex> g(holder_lock);
  return holder_port ? tarvo_avcpl_get_deny_list(&holder, macs, ips, nullptr) : NO_CLIENT;
}

const host_list_source lists{allow_list, deny_list};

uint32_t share_list(sys_str_list *paths)
{
  std::lock_guard<std::mutex> g(holder_lock);
  return holder_port ? tarvo_avcpl_share_list(&holder, paths) : NO_CLIENT;
}

uint32_t share_state(const char *path, int *state)
{
  std::lock_guard<std::mutex> g(holder_lock);
  return holder_port ? tarvo_avcpl_share_state(&holder, path, state) : NO_CLIENT;
}

uint32_t share(const char *path)
{
  std::lock_guard<std::mutex> g(holder_lock);
  return holder_port ? tarvo_avcpl_share(&holder, path) : NO_CLIENT;
}

const haldor_share_source shares{share_list, share_state, share};

}  // namespace

int mgmt_client_init(unsigned upnp_port)
{
  std::lock_guard<std::mutex> g(holder_lock);
  holder_port = upnp_port;
  if (!upnp_port) return 1;
  return tarvo_avcpl_init(&holder, static_cast<uint16_t>(upnp_port));
}

void mgmt_client_free()
{
  std::lock_guard<std::mutex> g(holder_lock);
  if (holder_port) tarvo_avcpl_free(&holder);
  holder_port = 0;
}

const host_list_source *mgmt_client_host_lists() { return &lists; }

const haldor_share_source *mgmt_client_shares() { return &shares; }
