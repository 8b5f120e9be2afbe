// The console code page as a table of its 256 characters, and the
// conversions to and from UTF-8 that go through it. The same on every
// system; each system only says which code page is in force and what
// character each of its bytes is (codepage_posix.cpp, codepage_win32.cpp).
#pragma once

#include <array>
#include <string>

namespace platform {

// The Unicode character of every byte of `codePage`; false when the system
// does not know the code page. A byte the system cannot convert is "?".
bool systemCodePageCharacters(int codePage, std::array<char32_t, 256>& characters);

// Makes `codePage` the one in force for oemToUtf8 and utf8ToOem. False (and
// nothing changed) when the system does not know it.
bool useCodePage(int codePage);

// Decodes one UTF-8 character at s[i] and moves i past it; a malformed or cut
// sequence gives U+FFFD and moves one byte on.
char32_t decodeUtf8(const std::string& s, std::size_t& i);

// Appends the UTF-8 form of `cp` to `out`.
void appendUtf8(char32_t cp, std::string& out);

}  // namespace platform
