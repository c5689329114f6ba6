#pragma once
// Text conversions used by the disc tree: names travel as UTF-16 (Joliet, UDF) and as UTF-8
// (the 8-bit engine operations and Linux paths).
#include <string>
#include <string_view>

namespace burner {

// Converts UTF-8 to UTF-16. Returns false (and leaves Out undefined) for malformed input:
// overlong forms, surrogates, truncated sequences or code points above U+10FFFF.
bool Utf8ToUtf16(std::string_view In, std::u16string& Out);

// Converts UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view In);

// UTF-8 to UTF-16 for display only: malformed bytes become U+FFFD.
std::u16string Utf8ToUtf16Lossy(std::string_view In);

// Case folding as the file systems we imitate compare names: ASCII, Latin-1, Greek and Cyrillic.
char16_t FoldCase(char16_t C);
int CompareNoCase(std::u16string_view A, std::u16string_view B);
bool EqualNoCase(std::u16string_view A, std::u16string_view B);

} // namespace burner
