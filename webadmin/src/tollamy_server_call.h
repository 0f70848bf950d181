// One call on a handle of its own to the local server: the wrappers'
// common frame.
#pragma once

#include <stdint.h>

#include <string>
#include <tarvo_avcpl/tarvo_avcpl.h>
#include <vector>

// The handle of one call; freed when it leaves scope, also on a throw.
struct tollamy_avcpl {
  tarvo_avcpl_handle h = nullptr;
  tollamy_avcpl() = default;
  tollamy_avcpl(const tollamy_avcpl &) = delete;
  tollamy_avcpl &operator=(const tollamy_avcpl &) = delete;
  ~tollamy_avcpl() { tarvo_avcpl_free(&h); }
};

// init, call(&handle), free: true when init worked and the call gave 0.
template <typename F> bool tollamy_server_call(uint16_t port, F &&call)
{
  tollamy_avcpl a;
  if (!tarvo_avcpl_init(&a.h, port)) return false;
  return call(&a.h) == 0;
}

// The list's strings, in order.
void tollamy_strings(const char *const *list, std::vector<std::string> *out);
