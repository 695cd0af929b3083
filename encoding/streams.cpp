#include "streams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::string SystemText(int error)
{
    return std::strerror(error);
}
}

void TStream::ReadBuffer(void* buffer, std::size_t count)
{
    auto* out = static_cast<char*>(buffer);
    while (count > 0) {
        const std::size_t n = Read(out, count);
        if (n == 0)
            throw EReadError("Stream read error");
        out += n;
        count -= n;
    }
}

TFileStream::TFileStream(const std::string& fileName) : FFileName(fileName)
{
    FHandle = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (FHandle < 0)
        throw EFOpenError("Cannot open file \"" + fileName + "\". " + SystemText(errno));
    struct stat info {};
    if (::fstat(FHandle, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(FHandle);
        FHandle = -1;
        throw EFOpenError("Cannot open file \"" + fileName + "\". " + SystemText(EISDIR));
    }
}

TFileStream::~TFileStream()
{
    if (FHandle >= 0)
        ::close(FHandle);
}

std::size_t TFileStream::Read(void* buffer, std::size_t count)
{
    for (;;) {
        const ssize_t n = ::read(FHandle, buffer, count);
        if (n >= 0) {
            FPosition += std::uint64_t(n);
            return std::size_t(n);
        }
        if (errno != EINTR)
            throw EReadError("Error reading file \"" + FFileName + "\". " + SystemText(errno));
    }
}

std::uint64_t TFileStream::Size() const
{
    struct stat info {};
    if (::fstat(FHandle, &info) != 0)
        return 0;
    return std::uint64_t(info.st_size);
}

void TFileStream::Seek(std::uint64_t position)
{
    if (::lseek(FHandle, off_t(position), SEEK_SET) < 0)
        throw EReadError("Error reading file \"" + FFileName + "\". " + SystemText(errno));
    FPosition = position;
}

std::size_t TMemoryStream::Read(void* buffer, std::size_t count)
{
    if (FPosition >= FData.size())
        return 0;
    const std::size_t n = std::min<std::uint64_t>(count, FData.size() - FPosition);
    std::memcpy(buffer, FData.data() + FPosition, n);
    FPosition += n;
    return n;
}

void TMemoryStream::Seek(std::uint64_t position)
{
    FPosition = std::min<std::uint64_t>(position, FData.size());
}

void TMemoryStream::Write(std::string_view bytes)
{
    if (FPosition == FData.size()) {
        FData.append(bytes);
    } else {
        if (FPosition + bytes.size() > FData.size())
            FData.resize(FPosition + bytes.size());
        std::memcpy(FData.data() + FPosition, bytes.data(), bytes.size());
    }
    FPosition += bytes.size();
}
