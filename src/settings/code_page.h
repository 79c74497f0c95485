#pragma once
// Conversions between the program's UTF-8 strings and the single-byte
// Windows code page that settings files written on Windows use.
#include <string>
#include <string_view>

namespace kelvane {

// True when bytes are well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool isValidUtf8(std::string_view bytes);

// True when every byte is below 0x80.
bool isAscii(std::string_view bytes);

// Decodes Windows-1252. The five bytes the code page leaves undefined become
// the control characters of the same number, so every byte string survives a
// decode and encode unchanged.
std::string windows1252ToUtf8(std::string_view bytes);

// Encodes UTF-8 text as Windows-1252 into out; false when the text holds a
// character the code page cannot represent or is not valid UTF-8.
bool utf8ToWindows1252(std::string_view text, std::string& out);

}  // namespace kelvane
