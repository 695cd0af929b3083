// Byte streams that the encoders read from.
//
// A read that fails half-way must never look like the end of the data: a
// file that cannot be read to its end raises EReadError instead of being
// mailed truncated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

class EStreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
class EFOpenError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EReadError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

class TStream {
public:
    virtual ~TStream() = default;
    // Reads up to `count` bytes; returns 0 only at the end of the stream.
    // Raises EReadError when the underlying read fails.
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    virtual std::uint64_t Size() const = 0;
    virtual std::uint64_t Position() const = 0;
    virtual void Seek(std::uint64_t position) = 0;

    // Reads exactly `count` bytes or raises EReadError("Stream read error").
    void ReadBuffer(void* buffer, std::size_t count);
};

// A file opened for reading. Raises EFOpenError when it cannot be opened.
class TFileStream : public TStream {
public:
    explicit TFileStream(const std::string& fileName);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    std::size_t Read(void* buffer, std::size_t count) override;
    std::uint64_t Size() const override;
    std::uint64_t Position() const override { return FPosition; }
    void Seek(std::uint64_t position) override;
    const std::string& FileName() const { return FFileName; }

private:
    std::string FFileName;
    int FHandle = -1;
    std::uint64_t FPosition = 0;
};

// Bytes held in memory; also written to (the quoted-printable step of the
// message text writes its lines here first).
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::string data) : FData(std::move(data)) {}

    std::size_t Read(void* buffer, std::size_t count) override;
    std::uint64_t Size() const override { return FData.size(); }
    std::uint64_t Position() const override { return FPosition; }
    void Seek(std::uint64_t position) override;

    void Write(std::string_view bytes);
    const std::string& Data() const { return FData; }

private:
    std::string FData;
    std::uint64_t FPosition = 0;
};
