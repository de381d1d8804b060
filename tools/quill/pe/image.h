// The installer program as a Windows PE file: the parts a shipping build touches after the
// linker is done. An Authenticode signature (the certificate table named by the security
// entry of the data directories, at the file's end), the header checksum, and signing
// with osslsigncode. The resource section is rewritten in resources.cpp.
#ifndef QUILL_TOOLS_PE_IMAGE_H
#define QUILL_TOOLS_PE_IMAGE_H

#include <string>
#include <vector>

#include "archive/format.h"

// Where the fields of a PE32 header lie, as file offsets.
struct PeHeaders {
    u32 signature = 0;        // "PE\0\0"
    u32 optional = 0;         // the optional header
    u32 checksum = 0;         // its CheckSum field
    u32 directories = 0;      // data directory 0
    u32 directoryCount = 0;
    u32 sections = 0;         // the section table
    u32 sectionCount = 0;
};

// The headers of a PE32 image; false when bytes (the file's start) are none.
bool ParsePeHeaders(const std::vector<u8>& bytes, PeHeaders& headers);

struct Signature {
    bool present = false;   // the security entry names a table that ends the file
    u64 fileSize = 0;
    u64 tableOffset = 0;    // where the table starts (8-byte aligned), = fileSize unsigned
    u64 tableSize = 0;
    std::string problem;    // the table is not what a signing tool writes: damage
    std::vector<u8> pkcs7;  // the first certificate: a PKCS#7 SignedData, DER
};

// The signature of a program file, if any (the core decides where the archive ends the
// same way). Fails with EXIT_IO when the file cannot be read.
Signature ReadSignature(const std::string& path);

// What OpenSSL makes of a signature: the signer and whether the signed digest is the
// file's. Without OpenSSL available is false and nothing is checked.
struct SignatureCheck {
    bool available = false;
    std::string subject;     // the signer's certificate subject, UTF-8
    std::string digestName;  // "sha256", ...
    bool digestMatches = false;
    bool signatureValid = false;  // the signer's signature over the signed data
    std::string problem;     // why it could not be read or does not hold
};
SignatureCheck CheckSignature(const std::string& path, const Signature& signature);

// A program file's signature as list and test report it. Volume files (.pak) carry none.
struct SignatureReview {
    bool signedFile = false;  // a certificate table ends the file
    bool checked = false;     // OpenSSL read it
    u64 tableSize = 0;
    std::string subject;      // the signer, "" when unknown
    std::string digestName;
    std::string summary;      // one line: signer and digest state, or what is wrong
    std::string damage;       // "" when sound (or not checked)
};
SignatureReview ReviewSignature(const std::string& program);

// Whether count bytes before the certificate table of the embedded program are the zero
// bytes a signing tool inserts to align the table to 8 bytes, and not archive data.
bool IsSignaturePadding(const std::string& program, u64 count);

// Sets the header checksum of the PE file at path to the sum over all its bytes, as the
// loader and signing tools compute it. Does nothing for a file that is not PE32. Fails
// with EXIT_IO.
void WritePeChecksum(const std::string& path);
// The checksum the file should carry; false when it is not PE32.
bool ComputePeChecksum(const std::string& path, u32& checksum, u32& stored);

struct SigningOptions {
    std::string certificate;  // --sign: PEM or DER certificate (chain)
    std::string key;          // --key
    std::string timestamp;    // --timestamp: an RFC 3161 time-stamp server, optional
    std::string description;  // shown by Windows' consent dialog: the product title
};
// Signs the PE file at path in place with osslsigncode (SHA-256). Fails with EXIT_USAGE
// when osslsigncode is missing or refuses the certificate or key, naming what it said.
void SignProgram(const std::string& path, const SigningOptions& options);
// Before packing: osslsigncode is there and the files can be read. Fails with EXIT_USAGE.
void CheckSigning(const SigningOptions& options);

#endif
