#include "burner/image/Unicode.h"

#include <algorithm>

namespace burner {

bool Utf8ToUtf16(std::string_view In, std::u16string& Out) {
    Out.clear();
    Out.reserve(In.size());
    size_t i = 0;
    while (i < In.size()) {
        const unsigned char c = static_cast<unsigned char>(In[i]);
        char32_t cp;
        int extra;
        if (c < 0x80) {
            cp = c;
            extra = 0;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            extra = 1;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            extra = 2;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            extra = 3;
        } else {
            return false;
        }
        if (i + static_cast<size_t>(extra) >= In.size())
            return false;
        for (int k = 1; k <= extra; ++k) {
            const unsigned char cc = static_cast<unsigned char>(In[i + k]);
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        static const char32_t minimum[4] = {0, 0x80, 0x800, 0x10000};
        if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            Out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            Out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            Out.push_back(static_cast<char16_t>(cp));
        }
        i += 1 + extra;
    }
    return true;
}

std::u16string Utf8ToUtf16Lossy(std::string_view In) {
    std::u16string out;
    size_t start = 0;
    // Convert the longest valid runs; each byte that cannot start a valid sequence becomes U+FFFD.
    while (start < In.size()) {
        std::u16string piece;
        size_t len = 1;
        size_t best = 0;
        for (len = 1; len <= 4 && start + len <= In.size(); ++len)
            if (Utf8ToUtf16(In.substr(start, len), piece)) {
                best = len;
                break;
            }
        if (best) {
            out += piece;
            start += best;
        } else {
            out.push_back(0xFFFD);
            ++start;
        }
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view In) {
    std::string out;
    out.reserve(In.size());
    for (size_t i = 0; i < In.size(); ++i) {
        char32_t cp = In[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < In.size() && In[i + 1] >= 0xDC00 &&
            In[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (In[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

char16_t FoldCase(char16_t C) {
    if (C >= u'a' && C <= u'z')
        return C - 32;
    if (C < 0x80)
        return C;
    if ((C >= 0xE0 && C <= 0xFE && C != 0xF7))
        return C - 32;
    if (C == 0xFF)
        return 0x178;
    if (C >= 0x3B1 && C <= 0x3C9 && C != 0x3C2)
        return C - 32;
    if (C >= 0x430 && C <= 0x44F)
        return C - 32;
    if (C >= 0x450 && C <= 0x45F)
        return C - 80;
    return C;
}

int CompareNoCase(std::u16string_view A, std::u16string_view B) {
    const size_t n = std::min(A.size(), B.size());
    for (size_t i = 0; i < n; ++i) {
        const char16_t a = FoldCase(A[i]);
        const char16_t b = FoldCase(B[i]);
        if (a != b)
            return a < b ? -1 : 1;
    }
    if (A.size() == B.size())
        return 0;
    return A.size() < B.size() ? -1 : 1;
}

bool EqualNoCase(std::u16string_view A, std::u16string_view B) {
    return A.size() == B.size() && CompareNoCase(A, B) == 0;
}

} // namespace burner
