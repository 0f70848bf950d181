// The dispatcher's wait for controls, inside tarvo_platform.
#pragma once

#include <stdint.h>

// What the wait hands on: every control signal, and the login manager's
// sleep and wake turned into the suspend and the resume signal, so that
// both reach the service through the same call.
struct svc_wait_rec {
  const int *signals;  // the control signals, blocked in every thread
  uint32_t count;
  int suspend_signal;  // delivered before the system sleeps
  int resume_signal;   // delivered after it woke
  const char *who;     // the name the sleep inhibitor is taken under
  bool (*deliver)(void *user, int sig);  // false once the service has stopped
  void *user;
};

// Waits on the signals and the system bus together until deliver returns
// false.  A delay inhibitor is held while the system is awake, so that
// the suspend signal is handled in full before the system sleeps.  When
// the bus goes away that is logged once, and it is subscribed to again
// once it is back.  0 (nothing delivered) when there is no system bus to
// watch at the start.
int svc_sleep_wait(const svc_wait_rec *w);
