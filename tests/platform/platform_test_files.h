// File helpers for the platform tests: whole-file writes, and a
// way to make a write fail that holds even for root, who ignores
// permission bits.
#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

inline void WriteWholeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// Runs `body` as an unprivileged user so that permission bits count: as root
// in a forked child that drops to "nobody", otherwise in place. Returns what
// `body` returned.
inline bool RunUnprivileged(const std::function<bool()>& body)
{
    if (::geteuid() != 0)
        return body();
    constexpr uid_t kNobody = 65534;
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
            ::_exit(2);
        ::_exit(body() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// While alive, a file may not grow beyond `bytes`: writes past it fail with
// EFBIG for every user, root included.
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &FOld);
        FOldSignal = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = FOld;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~TFileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &FOld);
        std::signal(SIGXFSZ, FOldSignal);
    }
    TFileSizeLimit(const TFileSizeLimit&) = delete;
    TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

private:
    rlimit FOld{};
    void (*FOldSignal)(int) = nullptr;
};

// Table rows print as their names in test lists and failures.
template <class TRow>
    requires requires(const TRow& row) { row.Name; }
void PrintTo(const TRow& row, std::ostream* out)
{
    *out << row.Name;
}
