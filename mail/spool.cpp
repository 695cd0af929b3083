#include "spool.h"

#include "streams.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

// Lines are gathered into writes of this size.
constexpr std::size_t WriteBytes = 1024 * 1024;

} // namespace

std::string TSpool::Folder()
{
    const char* folder = std::getenv("TMPDIR");
    return folder && *folder ? folder : "/tmp";
}

std::optional<std::uint64_t> TSpool::FreeBytes()
{
    struct statvfs info {};
    if (::statvfs(Folder().c_str(), &info) != 0)
        return std::nullopt;
    return std::uint64_t(info.f_bavail) * info.f_frsize;
}

TSpool::~TSpool()
{
    if (FHandle >= 0)
        ::close(FHandle);
}

void TSpool::Open()
{
    const std::string folder = Folder();
    // An unnamed file disappears with the process, however it ends.
    FHandle = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (FHandle < 0) {
        std::string name = folder + "/tessaly-spool-XXXXXX";
        FHandle = ::mkostemp(name.data(), O_CLOEXEC);
        if (FHandle >= 0)
            ::unlink(name.c_str());
    }
    if (FHandle < 0)
        throw EWriteError("Cannot create a temporary file in " + folder + ": " + std::strerror(errno));
}

void TSpool::Add(const TStrings& lines, std::size_t count)
{
    if (FHandle < 0)
        Open();
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view line = lines[i];
        if (line.starts_with('.'))
            FBuffer += '.';
        FBuffer.append(line).append("\r\n");
        FSize += line.size() + 2 + (line.starts_with('.') ? 1 : 0);
        if (FBuffer.size() >= WriteBytes)
            Flush();
    }
}

void TSpool::Flush()
{
    std::size_t done = 0;
    while (done < FBuffer.size()) {
        const ssize_t n = ::pwrite(FHandle, FBuffer.data() + done, FBuffer.size() - done, off_t(FWritten));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw EWriteError(std::string("Cannot write the temporary file: ") + std::strerror(errno));
        done += std::size_t(n);
        FWritten += std::uint64_t(n);
    }
    FBuffer.clear();
}

void TSpool::Clear()
{
    FBuffer.clear();
    FBuffer.shrink_to_fit();
    FSize = FWritten = 0;
    if (FHandle >= 0 && ::ftruncate(FHandle, 0) != 0) {
        ::close(FHandle);   // start over with a fresh file next time
        FHandle = -1;
    }
}

void TSpool::Release()
{
    Clear();
    if (FHandle >= 0)
        ::close(FHandle);
    FHandle = -1;
}

std::size_t TSpool::ReadAt(std::uint64_t offset, char* buffer, std::size_t count) const
{
    for (;;) {
        const ssize_t n = ::pread(FHandle, buffer, count, off_t(offset));
        if (n >= 0)
            return std::size_t(n);
        if (errno != EINTR)
            throw EReadError(std::string("Cannot read the temporary file: ") + std::strerror(errno));
    }
}
