// Text bytes on this desktop: files and typed text are UTF-8, while older
// files may still be Latin-1, and a message text labelled ISO-8859-1 must
// carry Latin-1 bytes.
#pragma once

#include <QString>
#include <string>
#include <string_view>

class TStrings;

// UTF-8 when the bytes are valid UTF-8, Latin-1 otherwise, so that no byte
// of an older file turns into a replacement mark.
QString DecodeText(std::string_view bytes);

bool IsValidUtf8(std::string_view bytes);

// The Latin-1 bytes of a line that is valid UTF-8 (characters beyond
// Latin-1 become "?"); any other line is taken to be Latin-1 already and
// returned as it is.
std::string Latin1FromUtf8(std::string_view line);

// Rewrites every line with Latin1FromUtf8.
void ConvertToLatin1(TStrings& lines);
