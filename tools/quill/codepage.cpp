#include "codepage.h"

#include <iconv.h>
#include <locale.h>
#include <stdio.h>
#include <wctype.h>

#include "quill.h"

bool CodePage::Supported(int number)
{
    return number == 874 || (number >= 1250 && number <= 1258);
}

CodePage::CodePage(int number) : number_(number)
{
    if (!Supported(number))
        Fail(EXIT_USAGE, "code page " + std::to_string(number) +
                             " is not supported (874 or 1250 to 1258)");
    std::string name = "CP" + std::to_string(number);
    iconv_t cd = iconv_open("UTF-8", name.c_str());
    if (cd == (iconv_t)-1)
        Fail(EXIT_USAGE, "iconv does not know code page " + name);
    // One byte at a time: single-byte code pages carry no state between characters.
    for (int b = 1; b < 256; b++) {
        char in[1] = {(char)b};
        char out[8];
        char* inPtr = in;
        char* outPtr = out;
        size_t inLeft = 1, outLeft = sizeof(out);
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == (size_t)-1 || inLeft)
            continue;
        toUtf8_[b].assign(out, (size_t)(outPtr - out));
        std::u32string c;
        if (DecodeUtf8(toUtf8_[b], c) && c.size() == 1 && !fromUnicode_.count(c[0]))
            fromUnicode_[c[0]] = (char)b;
    }
    iconv_close(cd);
}

bool CodePage::Encode(const std::string& utf8, std::string& out, std::string& bad) const
{
    std::u32string chars;
    size_t at = 0;
    out.clear();
    if (!DecodeUtf8(utf8, chars, &at)) {
        char text[16];
        snprintf(text, sizeof(text), "\\x%02X", (unsigned)(unsigned char)utf8[at]);
        bad = std::string("byte ") + text + " (not UTF-8)";
        return false;
    }
    for (char32_t c : chars) {
        if (c == 0) {
            bad = "NUL";
            return false;
        }
        auto found = fromUnicode_.find(c);
        if (found == fromUnicode_.end()) {
            bad.clear();
            AppendUtf8(bad, c);
            char code[16];
            snprintf(code, sizeof(code), " (U+%04X)", (unsigned)c);
            bad += code;
            return false;
        }
        out += found->second;
    }
    return true;
}

bool CodePage::Decode(const std::string& bytes, std::string& out) const
{
    bool clean = true;
    out.clear();
    for (unsigned char b : bytes) {
        if (b == 0 || toUtf8_[b].empty()) {
            out += "\xEF\xBF\xBD";
            clean = false;
        } else {
            out += toUtf8_[b];
        }
    }
    return clean;
}

bool DecodeUtf8(const std::string& text, std::u32string& out, size_t* at)
{
    out.clear();
    size_t i = 0, n = text.size();
    while (i < n) {
        unsigned char b = (unsigned char)text[i];
        uint32_t c;
        size_t length;
        if (b < 0x80) {
            c = b;
            length = 1;
        } else if (b >= 0xC2 && b <= 0xDF) {
            c = b & 0x1F;
            length = 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            c = b & 0x0F;
            length = 3;
        } else if (b >= 0xF0 && b <= 0xF4) {
            c = b & 0x07;
            length = 4;
        } else {
            if (at)
                *at = i;
            return false;
        }
        if (i + length > n) {
            if (at)
                *at = i;
            return false;
        }
        for (size_t k = 1; k < length; k++) {
            unsigned char t = (unsigned char)text[i + k];
            if ((t & 0xC0) != 0x80) {
                if (at)
                    *at = i;
                return false;
            }
            c = (c << 6) | (t & 0x3F);
        }
        bool overlong = (length == 3 && c < 0x800) || (length == 4 && c < 0x10000);
        if (overlong || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
            if (at)
                *at = i;
            return false;
        }
        out += (char32_t)c;
        i += length;
    }
    return true;
}

void AppendUtf8(std::string& out, uint32_t c)
{
    if (c < 0x80) {
        out += (char)c;
    } else if (c < 0x800) {
        out += (char)(0xC0 | (c >> 6));
        out += (char)(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += (char)(0xE0 | (c >> 12));
        out += (char)(0x80 | ((c >> 6) & 0x3F));
        out += (char)(0x80 | (c & 0x3F));
    } else {
        out += (char)(0xF0 | (c >> 18));
        out += (char)(0x80 | ((c >> 12) & 0x3F));
        out += (char)(0x80 | ((c >> 6) & 0x3F));
        out += (char)(0x80 | (c & 0x3F));
    }
}

std::string FoldCase(const std::string& utf8)
{
    // C.UTF-8 carries the full Unicode case tables; without it only ASCII folds.
    static locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", (locale_t)0);
    std::u32string chars;
    if (!DecodeUtf8(utf8, chars))
        return utf8;
    std::string folded;
    for (char32_t c : chars) {
        uint32_t upper = c;
        if (unicode)
            upper = (uint32_t)towupper_l((wint_t)c, unicode);
        else if (c >= 'a' && c <= 'z')
            upper = c - 32;
        AppendUtf8(folded, upper);
    }
    return folded;
}

std::string Printable(const std::string& text)
{
    std::string out;
    std::u32string chars;
    size_t i = 0;
    while (i < text.size()) {
        size_t at = 0;
        // Take the longest valid prefix, then escape one byte and go on.
        std::string rest = text.substr(i);
        if (DecodeUtf8(rest, chars, &at))
            at = rest.size();
        for (size_t k = 0; k < at; k++) {
            unsigned char b = (unsigned char)rest[k];
            if (b < 0x20 || b == 0x7F) {
                char code[8];
                snprintf(code, sizeof(code), "\\x%02X", b);
                out += code;
            } else {
                out += (char)b;
            }
        }
        i += at;
        if (i < text.size()) {
            char code[8];
            snprintf(code, sizeof(code), "\\x%02X", (unsigned)(unsigned char)text[i]);
            out += code;
            i++;
        }
    }
    return out;
}
