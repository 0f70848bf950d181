// Host names of the clients on the security page.  Names come from the
// hosts file only ("/etc/hosts", or the file TARVO_HOSTS_FILE names), never
// from a network query.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#define TOLLAMY_HOSTS_FILE_MAX 1048576u /* a hosts file is a short table */
#define TOLLAMY_HOST_NAME_MAX 255u      /* the longest name a host may carry */
#define TOLLAMY_HOST_START_WAIT_MS 10u  /* between the starts of two look-ups */
#define TOLLAMY_HOST_POLL_MS 100u       /* between two looks at the look-ups */
#define TOLLAMY_HOST_POLLS 1000u        /* looks before the runner gives up (about 100 s) */

// The first name that a line of the hosts-format text gives the address
// (compared as text); false when no line names it.
bool tollamy_hosts_name(const char *data, uint32_t size, const char *addr, std::string *name);

// One host name per IPv4 text, in input order ("" for none): one detached
// worker thread per address, started 10 ms apart, polled every 100 ms for
// at most 1000 rounds.  Workers still running after the poll keep their
// records and end on their own.
void tollamy_host_names(const std::vector<std::string> &ips, std::vector<std::string> *hosts);
