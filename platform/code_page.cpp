// SPDX-License-Identifier: GPL-3.0-or-later
// Code-page conversion through the C library's iconv.
#include "platform/code_page.h"

#include <cerrno>
#include <iconv.h>

namespace sonvex {

namespace {

std::optional<std::string> Convert(const char* to, const char* from, std::string_view input) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return std::nullopt;
    }
    std::string out;
    out.resize(input.size() * 4 + 16);
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    char* dst = out.data();
    size_t outLeft = out.size();
    size_t rc = iconv(cd, &in, &inLeft, &dst, &outLeft);
    bool ok = rc != static_cast<size_t>(-1);
    if (ok) {
        rc = iconv(cd, nullptr, nullptr, &dst, &outLeft);
        ok = rc != static_cast<size_t>(-1);
    }
    iconv_close(cd);
    if (!ok) {
        return std::nullopt;
    }
    out.resize(out.size() - outLeft);
    return out;
}

// Decodes one UTF-8 sequence at `i`; returns U+FFFD and advances one byte when invalid.
char32_t DecodeUtf8(std::string_view s, size_t& i) {
    const auto b0 = static_cast<uint8_t>(s[i]);
    auto cont = [&](size_t k) -> int {
        if (i + k >= s.size()) {
            return -1;
        }
        const auto b = static_cast<uint8_t>(s[i + k]);
        return (b & 0xC0) == 0x80 ? (b & 0x3F) : -1;
    };
    if (b0 < 0x80) {
        i += 1;
        return b0;
    }
    if (b0 >= 0xC2 && b0 < 0xE0) {
        int c1 = cont(1);
        if (c1 >= 0) {
            i += 2;
            return static_cast<char32_t>(((b0 & 0x1F) << 6) | c1);
        }
    } else if (b0 >= 0xE0 && b0 < 0xF0) {
        int c1 = cont(1);
        int c2 = cont(2);
        if (c1 >= 0 && c2 >= 0) {
            char32_t cp = static_cast<char32_t>(((b0 & 0x0F) << 12) | (c1 << 6) | c2);
            if (cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF)) {
                i += 3;
                return cp;
            }
        }
    } else if (b0 >= 0xF0 && b0 < 0xF5) {
        int c1 = cont(1);
        int c2 = cont(2);
        int c3 = cont(3);
        if (c1 >= 0 && c2 >= 0 && c3 >= 0) {
            char32_t cp = static_cast<char32_t>(((b0 & 0x07) << 18) | (c1 << 12) | (c2 << 6) | c3);
            if (cp >= 0x10000 && cp <= 0x10FFFF) {
                i += 4;
                return cp;
            }
        }
    }
    i += 1;
    return 0xFFFD;
}

} // namespace

std::optional<std::string> Cp932ToUtf8(std::string_view cp932) {
    return Convert("UTF-8", "CP932", cp932);
}

std::optional<std::string> Utf8ToCp932(std::string_view utf8) {
    return Convert("CP932", "UTF-8", utf8);
}

bool IsValidUtf8(std::string_view bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        const size_t before = i;
        char32_t cp = DecodeUtf8(bytes, i);
        if (cp == 0xFFFD && i == before + 1) {
            return false;
        }
    }
    return true;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    size_t i = 0;
    while (i < utf8.size()) {
        char32_t cp = DecodeUtf8(utf8, i);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    for (size_t i = 0; i < utf16.size(); ++i) {
        char32_t cp = utf16[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp < 0xE000) {
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

} // namespace sonvex
