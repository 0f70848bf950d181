// The small files of quessel: first lines of one-line files and access
// files, the ini file's creation, and the known-client list.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// A line read from a one-line file: at most this many bytes (a 1024-byte
// buffer with its terminator).
constexpr size_t HELPER_LINE_MAX = 1023;
// Keys kept in the known-client list; more are not loaded or saved.
constexpr size_t KNOWN_CLIENTS_MAX = 10000;
// Largest known-client file read: the cap's keys with room for long lines.
constexpr size_t KNOWN_CLIENTS_FILE_MAX = KNOWN_CLIENTS_MAX * 64;

// The first line of data (up to HELPER_LINE_MAX bytes, cut at its first CR,
// then at its first LF).  0 when the bytes are not UTF-8.
int first_line_of(const char *data, size_t size, std::string *line);
// The same on a file's first HELPER_LINE_MAX bytes; 0 when it cannot be read.
int read_first_line(const std::string &path, std::string *line);

// Creates path new (no link followed, never over an existing file), empty,
// mode 0644.  1 when created; 0 with *existed 1 when something is there.
int create_new_file(const std::string &path, int *existed);
// Creates path new (as above) holding data; 1 when all of it is there.
int write_new_file(const std::string &path, const std::string &data);

// The keys of a known-client list: one per line, a CR before the LF
// removed, empty lines skipped, at most KNOWN_CLIENTS_MAX.
void known_clients_parse(const char *data, size_t size, std::vector<std::string> *keys);
int known_clients_load(const std::string &path, std::vector<std::string> *keys);
// Writes the keys, each ended by CR LF: a temporary file renamed over path
// where the folder allows, else path rewritten in place (never through a
// link).  *created 1 when the file did not exist before.  1 when written.
int known_clients_store(const std::string &path, const std::vector<std::string> &keys);
