#include "service/cdr_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "service/call_record.h"

namespace sipline {

cdr_file::~cdr_file() {
    std::lock_guard lock(mutex_);
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

namespace {

// The file at `path` for appending, a new or empty CSV one with the header line first; null with
// the reason in *error.
FILE *open_records(const std::string &path, int32_t format, std::string *error) {
    // O_APPEND: every line lands at the end, also when logrotate's copytruncate has cut the file.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640);
    FILE *file = fd >= 0 ? fdopen(fd, "a") : nullptr;
    if (file == nullptr) {
        *error = path + ": " + std::strerror(errno);
        if (fd >= 0) {
            ::close(fd);
        }
        return nullptr;
    }
    if (format == CDR_CSV && lseek(fd, 0, SEEK_END) == 0) {
        std::fputs(CallRecordCsvHeader(), file);
        std::fflush(file);
    }
    return file;
}

}  // namespace

int cdr_file::open(const std::string &path, int32_t format, std::string *error) {
    return reopen(path, format, error);
}

int cdr_file::reopen(const std::string &path, int32_t format, std::string *error) {
    // Opened before the lock is taken: a slow disk holds up no call's record meanwhile.
    FILE *file = nullptr;
    if (!path.empty() && (file = open_records(path, format, error)) == nullptr) {
        return -1;
    }
    std::lock_guard lock(mutex_);
    if (file_ != nullptr) {
        std::fclose(file_);
    }
    file_ = file;
    format_ = format;
    path_ = path;
    return 0;
}

bool cdr_file::write(const call_report_t &call) {
    std::lock_guard lock(mutex_);
    if (file_ == nullptr) {
        return false;
    }
    const std::string line = CallRecordLine(call, format_);
    // Flushed to the kernel, which keeps it through the gateway's end; not synced to the disk,
    // which would hold up the SIP side's threads for a refused call.
    if (std::fputs(line.c_str(), file_) < 0 || std::fflush(file_) != 0) {
        std::fprintf(stderr, "sipline: call record not written to %s: %s\n", path_.c_str(),
                     std::strerror(errno));
        std::clearerr(file_);
        return false;
    }
    return true;
}

}  // namespace sipline
