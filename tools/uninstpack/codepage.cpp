#include "codepage.h"

#include <cstdint>
#include <cstdio>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>

#include <algorithm>
#include <map>
#endif

namespace {

const int kCodePages[] = {874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258, 932, 936, 949, 950};

#ifdef _WIN32

// The system's conversion of one character. Without best fit, a character
// that would not read back as itself becomes the default character, and the
// flag says so.
bool EncodeCharacter(uint32_t codePoint, int codePage, std::string* bytes) {
    wchar_t units[2];
    int count = 1;
    if (codePoint < 0x10000) {
        units[0] = static_cast<wchar_t>(codePoint);
    } else {
        units[0] = static_cast<wchar_t>(0xD800 + ((codePoint - 0x10000) >> 10));
        units[1] = static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF));
        count = 2;
    }
    char out[8];
    BOOL usedDefault = FALSE;
    const int size = WideCharToMultiByte(static_cast<UINT>(codePage), WC_NO_BEST_FIT_CHARS, units, count, out, sizeof out,
                                         nullptr, &usedDefault);
    if (size <= 0 || usedDefault) return false;
    bytes->assign(out, static_cast<size_t>(size));
    return true;
}

// True when the bytes are exactly one character of the code page.
bool DecodeCharacter(const std::string& bytes, int codePage, uint32_t* codePoint) {
    wchar_t unit[2];
    if (MultiByteToWideChar(static_cast<UINT>(codePage), MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                            unit, 2) != 1)
        return false;
    *codePoint = unit[0];
    return true;
}

#else

#include "codepage_tables.inc"

struct SingleBytePage {
    int number;
    const uint16_t* high;  // bytes 0x80..0xFF
};

const SingleBytePage kSingleBytePages[] = {
    {874, kCodePage874},   {1250, kCodePage1250}, {1251, kCodePage1251}, {1252, kCodePage1252},
    {1253, kCodePage1253}, {1254, kCodePage1254}, {1255, kCodePage1255}, {1256, kCodePage1256},
    {1257, kCodePage1257}, {1258, kCodePage1258},
};

const SingleBytePage* FindSingleBytePage(int number) {
    for (const SingleBytePage& page : kSingleBytePages)
        if (page.number == number) return &page;
    return nullptr;
}

// glibc writes these box-drawing characters in 950 with other bytes than
// Windows, bytes that both read back as the same character; Windows' are
// written, so that the uninstaller's paths are the system's bytes.
const struct {
    uint32_t codePoint;
    const char* bytes;
} kWindows950[] = {{0x2550, "\xF9\xF9"}, {0x255E, "\xF9\xE9"}, {0x2561, "\xF9\xEB"}, {0x256A, "\xF9\xEA"}};

// One converter per code page and direction, opened on first use and kept.
iconv_t Converter(int codePage, bool toCodePage) {
    static std::map<std::pair<int, bool>, iconv_t> open;
    const auto found = open.find({codePage, toCodePage});
    if (found != open.end()) return found->second;
    const std::string name = "CP" + std::to_string(codePage);
    const iconv_t converter = toCodePage ? iconv_open(name.c_str(), "UTF-32LE") : iconv_open("UTF-32LE", name.c_str());
    open[{codePage, toCodePage}] = converter;
    return converter;
}

// All of `in` converted, or false.
bool Convert(iconv_t converter, std::string in, std::string* out) {
    if (converter == reinterpret_cast<iconv_t>(-1)) return false;
    char buffer[16];
    char* input = &in[0];
    char* output = buffer;
    size_t inputLeft = in.size(), outputLeft = sizeof buffer;
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    if (iconv(converter, &input, &inputLeft, &output, &outputLeft) == static_cast<size_t>(-1) || inputLeft != 0) return false;
    out->assign(buffer, sizeof buffer - outputLeft);
    return true;
}

bool EncodeCharacter(uint32_t codePoint, int codePage, std::string* bytes) {
    if (const SingleBytePage* page = FindSingleBytePage(codePage)) {
        const uint16_t* end = page->high + 128;
        const uint16_t* found = std::find(page->high, end, codePoint);
        if (found == end) return false;
        bytes->assign(1, static_cast<char>(0x80 + (found - page->high)));
        return true;
    }
    if (codePage == 950)
        for (const auto& exception : kWindows950)
            if (exception.codePoint == codePoint) return bytes->assign(exception.bytes), true;
    const char unit[4] = {static_cast<char>(codePoint), static_cast<char>(codePoint >> 8), static_cast<char>(codePoint >> 16), 0};
    return Convert(Converter(codePage, true), std::string(unit, 4), bytes);
}

bool DecodeCharacter(const std::string& bytes, int codePage, uint32_t* codePoint) {
    if (const SingleBytePage* page = FindSingleBytePage(codePage)) {
        if (bytes.size() != 1) return false;
        *codePoint = page->high[static_cast<unsigned char>(bytes[0]) - 0x80];
        return true;
    }
    std::string unit;
    if (!Convert(Converter(codePage, false), bytes, &unit) || unit.size() != 4) return false;
    *codePoint = 0;
    for (int i = 3; i >= 0; --i) *codePoint = (*codePoint << 8) | static_cast<unsigned char>(unit[i]);
    return true;
}

#endif

bool Unsupported(int codePage, std::string* error) {
    *error = "code page " + std::to_string(codePage) + " is not supported; use one of " + SupportedCodePages();
    return false;
}

std::string CodePointName(uint32_t codePoint) {
    char name[16];
    std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(codePoint));
    return name;
}

void AppendUtf8(std::string* out, uint32_t c) {
    if (c < 0x80) {
        out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (c >> 6)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (c >> 12)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (c >> 18)));
        out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// Decodes one character at *pos; false for malformed or overlong sequences
// and surrogates.
bool NextCodePoint(const std::string& text, size_t* pos, uint32_t* codePoint) {
    const unsigned char lead = static_cast<unsigned char>(text[*pos]);
    size_t extra;
    uint32_t c, minimum;
    if (lead < 0x80) {
        *codePoint = lead;
        *pos += 1;
        return true;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1, c = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, c = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, c = lead & 0x07, minimum = 0x10000;
    } else {
        return false;
    }
    if (text.size() - *pos <= extra) return false;
    for (size_t i = 1; i <= extra; ++i) {
        const unsigned char next = static_cast<unsigned char>(text[*pos + i]);
        if ((next & 0xC0) != 0x80) return false;
        c = (c << 6) | (next & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    *codePoint = c;
    *pos += extra + 1;
    return true;
}

// The bytes of a character that read back as that character; bytes 0x00..0x7F
// are ASCII in every supported code page.
bool WriteCharacter(uint32_t codePoint, int codePage, std::string* bytes) {
    if (codePoint < 0x80) return bytes->assign(1, static_cast<char>(codePoint)), true;
    uint32_t back = 0;
    return EncodeCharacter(codePoint, codePage, bytes) && DecodeCharacter(*bytes, codePage, &back) && back == codePoint;
}

}  // namespace

bool IsSupportedCodePage(int codePage) {
    for (int number : kCodePages)
#ifdef _WIN32
        if (number == codePage) return IsValidCodePage(static_cast<UINT>(codePage)) != 0;
#else
        if (number == codePage) return true;
#endif
    return false;
}

std::string SupportedCodePages() {
    std::string list;
    for (int number : kCodePages) {
        if (!IsSupportedCodePage(number)) continue;
        if (!list.empty()) list += ", ";
        list += std::to_string(number);
    }
    return list;
}

bool IsDoubleByteCodePage(int codePage) { return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950; }

bool EncodeText(const std::string& utf8, int codePage, std::string* bytes, std::string* error) {
    if (!IsSupportedCodePage(codePage)) return Unsupported(codePage, error);
    std::string out, character;
    out.reserve(utf8.size());
    for (size_t pos = 0; pos < utf8.size();) {
        const size_t start = pos;
        uint32_t c;
        if (!NextCodePoint(utf8, &pos, &c)) {
            *error = "the text is not valid UTF-8 (at byte " + std::to_string(pos) + ")";
            return false;
        }
        if (!WriteCharacter(c, codePage, &character)) {
            *error = "character " + CodePointName(c) + " (" + utf8.substr(start, pos - start) + ") cannot be written in code page " +
                     std::to_string(codePage);
            return false;
        }
        out += character;
    }
    *bytes = std::move(out);
    return true;
}

bool DecodeText(const std::string& bytes, int codePage, std::string* utf8, std::string* error) {
    if (!IsSupportedCodePage(codePage)) return Unsupported(codePage, error);
    std::string out, again;
    out.reserve(bytes.size());
    for (size_t at = 0; at < bytes.size();) {
        uint32_t c = static_cast<unsigned char>(bytes[at]);
        size_t length = 1;
        bool found = c < 0x80 || DecodeCharacter(bytes.substr(at, 1), codePage, &c);
        // A lead byte alone is no character; with the next byte it may be one.
        if (!found && at + 1 < bytes.size()) found = DecodeCharacter(bytes.substr(at, 2), codePage, &c), length = 2;
        if (!found || !WriteCharacter(c, codePage, &again) || again != bytes.substr(at, length)) {
            *error = "the bytes at offset " + std::to_string(at) + " are no character of code page " + std::to_string(codePage) +
                     " as Windows writes it";
            return false;
        }
        AppendUtf8(&out, c);
        at += length;
    }
    *utf8 = std::move(out);
    return true;
}

std::string FindBackslashTrailCharacter(const std::string& utf8, int codePage, bool atPartEnds) {
    if (!IsDoubleByteCodePage(codePage)) return std::string();
    std::string bytes;
    for (size_t pos = 0; pos < utf8.size();) {
        const size_t start = pos;
        uint32_t c;
        if (!NextCodePoint(utf8, &pos, &c)) break;
        const bool endsPart = pos == utf8.size() || utf8[pos] == '\\';
        if ((endsPart || !atPartEnds) && c >= 0x80 && WriteCharacter(c, codePage, &bytes) && bytes.size() == 2 && bytes[1] == '\\')
            return utf8.substr(start, pos - start);
    }
    return std::string();
}
