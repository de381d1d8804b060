// SHA-256 (FIPS 180-4), for the digest a winget manifest names; quill builds without
// OpenSSL too.
#ifndef QUILL_TOOLS_SHA256_H
#define QUILL_TOOLS_SHA256_H

#include <stddef.h>
#include <stdint.h>

#include <string>

class Sha256 {
public:
    Sha256();
    void Add(const uint8_t* data, size_t size);
    // The digest as 64 upper-case hex digits; ends the computation.
    std::string HexDigest();

private:
    void Block(const uint8_t* block);
    uint32_t state_[8];
    uint8_t buffer_[64];
    size_t used_ = 0;
    uint64_t length_ = 0;
};

// The digest of a file's bytes; fails with EXIT_IO when it cannot be read.
std::string Sha256OfFile(const std::string& path);

#endif
