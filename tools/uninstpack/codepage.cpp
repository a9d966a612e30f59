#include "codepage.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

namespace {

#include "codepage_tables.inc"

struct CodePage {
    int number;
    const uint16_t* high;  // bytes 0x80..0xFF
};

const CodePage kCodePages[] = {
    {874, kCodePage874},   {1250, kCodePage1250}, {1251, kCodePage1251}, {1252, kCodePage1252},
    {1253, kCodePage1253}, {1254, kCodePage1254}, {1255, kCodePage1255}, {1256, kCodePage1256},
    {1257, kCodePage1257}, {1258, kCodePage1258},
};

const CodePage* FindCodePage(int number) {
    for (const CodePage& page : kCodePages)
        if (page.number == number) return &page;
    return nullptr;
}

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

}  // namespace

bool IsSupportedCodePage(int codePage) { return FindCodePage(codePage) != nullptr; }

std::string SupportedCodePages() {
    std::string list;
    for (const CodePage& page : kCodePages) {
        if (!list.empty()) list += ", ";
        list += std::to_string(page.number);
    }
    return list;
}

bool EncodeText(const std::string& utf8, int codePage, std::string* bytes, std::string* error) {
    const CodePage* page = FindCodePage(codePage);
    if (!page) return Unsupported(codePage, error);
    std::string out;
    out.reserve(utf8.size());
    for (size_t pos = 0; pos < utf8.size();) {
        uint32_t c;
        if (!NextCodePoint(utf8, &pos, &c)) {
            *error = "the text is not valid UTF-8 (at byte " + std::to_string(pos) + ")";
            return false;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        const uint16_t* end = page->high + 128;
        const uint16_t* found = std::find(page->high, end, c);
        if (found == end) {
            std::string shown;
            AppendUtf8(&shown, c);
            *error = "character " + CodePointName(c) + " (" + shown + ") cannot be written in code page " +
                     std::to_string(codePage);
            return false;
        }
        out.push_back(static_cast<char>(0x80 + (found - page->high)));
    }
    *bytes = std::move(out);
    return true;
}

bool DecodeText(const std::string& bytes, int codePage, std::string* utf8, std::string* error) {
    const CodePage* page = FindCodePage(codePage);
    if (!page) return Unsupported(codePage, error);
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char byte : bytes) AppendUtf8(&out, byte < 0x80 ? byte : page->high[byte - 0x80]);
    *utf8 = std::move(out);
    return true;
}
