// The service manager's backends, inside tarvo_platform.
#pragma once

#include <string>

// Records why the call fails and returns 0.
int scm_fail(const std::string &why);

int scm_bus_running(const char *service, int *running);
int scm_bus_enable(const char *service);
int scm_bus_start(const char *service);
