// Text bytes on this desktop: files and typed text are UTF-8, while older
// files may still be Latin-1. The message composer picks the character set
// of what it sends; here text is only read for showing and editing.
#pragma once

#include <QString>
#include <string_view>

// UTF-8 when the bytes are valid UTF-8, Latin-1 otherwise, so that no byte
// of an older file turns into a replacement mark.
QString DecodeText(std::string_view bytes);

bool IsValidUtf8(std::string_view bytes);
