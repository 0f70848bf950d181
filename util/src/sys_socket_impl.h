// Internals shared by the socket, address and HTTP sources (and their
// tests).
#pragma once

#include <tarvo_util/sys_alloc.h>

#include <cstdint>

struct ifaddrs;

namespace tarvo_impl {

// One poll wait on fd: 1 when ready, in error or when the wait fails; 0
// when ms ran out.
int wait_socket(int fd, short events, uint32_t ms);

// The address list from an interface list as getifaddrs gives it.
int ip4_list_from(const ifaddrs *list, sys_memalloc_rec *ma, char *const *disabled);

}  // namespace tarvo_impl
