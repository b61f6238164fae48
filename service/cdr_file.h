// The call records file: opened for appending at start-up, one line written and flushed at each
// call's end. Any thread; the writes are serialised.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "gateway/watch.h"

namespace sipline {

class cdr_file {
  public:
    cdr_file() = default;
    ~cdr_file();
    cdr_file(const cdr_file &) = delete;
    cdr_file &operator=(const cdr_file &) = delete;

    // 0, or -1 with the reason in *error. A new or empty CSV file gets the header line first.
    int open(const std::string &path, int32_t format, std::string *error);
    // At a reload: the file at `path` opened anew (the one logrotate left there, or another), then
    // used in place of the old one; "" closes it. On failure the old one stays: -1 and *error.
    int reopen(const std::string &path, int32_t format, std::string *error);
    // Writes the call's line and flushes it to the disk; false when it could not (reported), or
    // when no file is open.
    bool write(const call_report_t &call);

  private:
    std::mutex mutex_;  // guards file_ and its writes
    FILE *file_ = nullptr;
    int32_t format_ = 0;
    std::string path_;
};

}  // namespace sipline
