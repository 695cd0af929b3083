// Ways to make a write fail that hold even for root, who ignores permission
// bits, and row names for table tests.
#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// Runs `body` as an unprivileged user so that permission bits count: as root
// in a forked child that drops to "nobody", otherwise in place. Returns what
// `body` returned.
inline bool RunUnprivileged(const std::function<bool()>& body)
{
    if (::geteuid() != 0)
        return body();
    constexpr uid_t kNobody = 65534;
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(::setgid(kNobody) == 0 && ::setuid(kNobody) == 0 && body() ? 0 : 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// While alive, a file may not grow beyond `bytes`: writes past it fail with
// EFBIG for every user, root included.
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t bytes) : FOldSignal(std::signal(SIGXFSZ, SIG_IGN))
    {
        ::getrlimit(RLIMIT_FSIZE, &FOld);
        const rlimit limit{bytes, FOld.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~TFileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &FOld);
        std::signal(SIGXFSZ, FOldSignal);
    }
    TFileSizeLimit(const TFileSizeLimit&) = delete;

private:
    rlimit FOld{};
    void (*FOldSignal)(int);
};

// Table rows print as their names in test lists and failures.
template <class TRow>
    requires requires(const TRow& row) { row.Name; }
void PrintTo(const TRow& row, std::ostream* out)
{
    *out << row.Name;
}
