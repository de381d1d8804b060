// The ANSI code pages that archive names and texts are stored in, and UTF-8 on this side.
// Only the single-byte Windows code pages: the installer and the name checks treat every
// byte as one character.
#ifndef QUILL_TOOLS_CODEPAGE_H
#define QUILL_TOOLS_CODEPAGE_H

#include <stdint.h>

#include <string>
#include <unordered_map>

class CodePage {
public:
    // 874 and 1250 to 1258.
    static bool Supported(int number);
    // Fails with EXIT_USAGE for an unsupported number.
    explicit CodePage(int number);

    int Number() const { return number_; }
    // UTF-8 to code page bytes. false when the text is not UTF-8 or holds a character the
    // code page lacks; bad then receives that character (or a description of the bytes).
    bool Encode(const std::string& utf8, std::string& out, std::string& bad) const;
    // Code page bytes to UTF-8. A byte without a character becomes U+FFFD; false if any did.
    bool Decode(const std::string& bytes, std::string& out) const;

private:
    int number_;
    std::string toUtf8_[256];                    // "" for a byte without a character
    std::unordered_map<uint32_t, char> fromUnicode_;
};

// Strict UTF-8 decoding (no overlong forms, no surrogates); false on bad input, with at
// the offset of the first bad byte.
bool DecodeUtf8(const std::string& text, std::u32string& out, size_t* at = nullptr);
void AppendUtf8(std::string& out, uint32_t c);
// Upper-cased as Windows compares names, for finding names that differ only in case.
std::string FoldCase(const std::string& utf8);
// Bytes shown safely in a message: invalid UTF-8 and control bytes as \xNN.
std::string Printable(const std::string& text);

#endif
