#pragma once
// A file size limit for the life of the object: writes past it fail the way a full disk does
// (with EFBIG rather than ENOSPC). The signal such a write raises is ignored so that the write
// returns the error instead. The limit holds for the whole test process.

#include <csignal>
#include <sys/resource.h>

class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t bytes) {
        Signal = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &Saved);
        rlimit limit = Saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~TFileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &Saved);
        std::signal(SIGXFSZ, Signal);
    }
    TFileSizeLimit(const TFileSizeLimit&) = delete;
    TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

private:
    rlimit Saved{};
    void (*Signal)(int);
};
