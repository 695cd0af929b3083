// TSpool: the encoded attachment lines of a message, held in an unnamed
// temporary file rather than in memory.
//
// All files of a message are encoded before its envelope is sent, so a
// message with large attachments would otherwise hold every encoded byte
// in memory at once. The lines are stored as they go on the wire: with the
// extra "." of RFC 821 transparency and CR LF, so that sending them is a
// plain copy.
#pragma once

#include "tstrings.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

class TSpool {
public:
    TSpool() = default;
    ~TSpool();
    TSpool(const TSpool&) = delete;
    TSpool& operator=(const TSpool&) = delete;

    // Appends the first `count` lines of `lines`. Raises EWriteError (from
    // streams.h) when the temporary file cannot be made or written.
    void Add(const TStrings& lines, std::size_t count);
    // Writes what is buffered; reading needs it.
    void Flush();
    // Forgets every line (the file is kept for the next message).
    void Clear();
    // Forgets every line and closes the file, which gives its space back.
    void Release();

    // The folder that holds the file ($TMPDIR, else /tmp) and the bytes
    // free there for an unprivileged user; nullopt when unknown.
    static std::string Folder();
    static std::optional<std::uint64_t> FreeBytes();

    std::uint64_t Size() const { return FSize; }
    // Reads up to `count` bytes at `offset` (after Flush); raises EReadError.
    std::size_t ReadAt(std::uint64_t offset, char* buffer, std::size_t count) const;

private:
    void Open();

    int FHandle = -1;
    std::uint64_t FSize = 0;      // bytes added, buffered ones included
    std::uint64_t FWritten = 0;   // bytes in the file
    std::string FBuffer;
};
