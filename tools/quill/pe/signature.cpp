// Reading an Authenticode signature with OpenSSL, when quill was built with it: the
// signer's subject, the digest the signature covers against the file's own, and the
// signature over that digest.
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include "image.h"
#include "quill.h"

#ifdef QUILL_HAVE_OPENSSL
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <algorithm>
#include <memory>

namespace {

const char* INDIRECT_DATA_OID = "1.3.6.1.4.1.311.2.1.4";  // SpcIndirectDataContent

// One DER element: tag, and where its value lies.
struct Der {
    int tag = -1;
    const u8* value = nullptr;
    size_t length = 0;
    const u8* next = nullptr;  // the byte after the element
};

bool ReadDer(const u8* at, const u8* end, Der& element)
{
    if (end - at < 2)
        return false;
    element.tag = at[0];
    size_t length = at[1];
    const u8* value = at + 2;
    if (length & 0x80) {
        size_t bytes = length & 0x7F;
        if (bytes == 0 || bytes > 4 || (size_t)(end - value) < bytes)
            return false;
        length = 0;
        for (size_t i = 0; i < bytes; i++)
            length = length << 8 | *value++;
    }
    if ((size_t)(end - value) < length)
        return false;
    element.value = value;
    element.length = length;
    element.next = value + length;
    return true;
}

bool Inside(const Der& outer, Der& first)
{
    return ReadDer(outer.value, outer.value + outer.length, first);
}

// The Authenticode digest: every byte before the certificate table but the checksum
// field and the security entry.
bool FileDigest(const std::string& path, const Signature& signature, const EVP_MD* md, std::vector<u8>& digest)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::vector<u8> head(4096);
    ssize_t got = pread(fd, head.data(), head.size(), 0);
    head.resize(got > 0 ? (size_t)got : 0);
    PeHeaders headers;
    if (!ParsePeHeaders(head, headers)) {
        close(fd);
        return false;
    }
    u64 security = headers.directories + 4 * 8;
    struct Range {
        u64 from, to;
    } ranges[] = {{0, headers.checksum}, {headers.checksum + 4u, security}, {security + 8, signature.tableOffset}};
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    bool ok = context && EVP_DigestInit_ex(context.get(), md, nullptr);
    std::vector<u8> buffer(1 << 20);
    for (const Range& range : ranges) {
        for (u64 at = range.from; ok && at < range.to;) {
            size_t want = (size_t)std::min<u64>(buffer.size(), range.to - at);
            ssize_t n = pread(fd, buffer.data(), want, (off_t)at);
            if (n <= 0) {
                ok = false;
                break;
            }
            ok = EVP_DigestUpdate(context.get(), buffer.data(), (size_t)n);
            at += (u64)n;
        }
    }
    close(fd);
    unsigned size = 0;
    digest.resize(EVP_MAX_MD_SIZE);
    ok = ok && EVP_DigestFinal_ex(context.get(), digest.data(), &size);
    digest.resize(size);
    return ok;
}

std::string NameText(X509_NAME* name)
{
    BIO* bio = BIO_new(BIO_s_mem());
    X509_NAME_print_ex(bio, name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    long size = BIO_get_mem_data(bio, &data);
    std::string text(data, (size_t)size);
    BIO_free(bio);
    return text;
}

}  // namespace

SignatureCheck CheckSignature(const std::string& path, const Signature& signature)
{
    SignatureCheck check;
    check.available = true;
    const u8* at = signature.pkcs7.data();
    std::unique_ptr<PKCS7, void (*)(PKCS7*)> p7(d2i_PKCS7(nullptr, &at, (long)signature.pkcs7.size()), PKCS7_free);
    if (!p7 || !PKCS7_type_is_signed(p7.get()) || !p7->d.sign || !p7->d.sign->contents) {
        check.problem = "the certificate table holds no PKCS#7 signed data";
        ERR_clear_error();
        return check;
    }
    STACK_OF(X509)* signers = PKCS7_get0_signers(p7.get(), nullptr, 0);
    if (signers && sk_X509_num(signers) > 0)
        check.subject = NameText(X509_get_subject_name(sk_X509_value(signers, 0)));
    sk_X509_free(signers);
    ERR_clear_error();

    PKCS7* contents = p7->d.sign->contents;
    char oid[80];
    OBJ_obj2txt(oid, sizeof(oid), contents->type, 1);
    if (std::string(oid) != INDIRECT_DATA_OID || !contents->d.other ||
        contents->d.other->type != V_ASN1_SEQUENCE) {
        check.problem = "the signed data is not an Authenticode digest";
        return check;
    }
    // SpcIndirectDataContent ::= SEQUENCE { data, messageDigest DigestInfo }
    // DigestInfo ::= SEQUENCE { AlgorithmIdentifier { OID, params }, OCTET STRING }
    const ASN1_STRING* sequence = contents->d.other->value.sequence;
    const u8* der = ASN1_STRING_get0_data(sequence);
    const u8* derEnd = der + ASN1_STRING_length(sequence);
    Der indirect, data, digestInfo, algorithm, algorithmOid, digest;
    if (!ReadDer(der, derEnd, indirect) || indirect.tag != 0x30 || !Inside(indirect, data) ||
        !ReadDer(data.next, indirect.value + indirect.length, digestInfo) || digestInfo.tag != 0x30 ||
        !Inside(digestInfo, algorithm) || !Inside(algorithm, algorithmOid) || algorithmOid.tag != 0x06 ||
        !ReadDer(algorithm.next, digestInfo.value + digestInfo.length, digest) || digest.tag != 0x04) {
        check.problem = "the Authenticode digest cannot be read";
        return check;
    }
    const u8* oidAt = algorithmOid.value - 2;
    std::unique_ptr<ASN1_OBJECT, void (*)(ASN1_OBJECT*)> object(
        d2i_ASN1_OBJECT(nullptr, &oidAt, (long)(algorithmOid.length + 2)), ASN1_OBJECT_free);
    const EVP_MD* md = object ? EVP_get_digestbyobj(object.get()) : nullptr;
    if (!md) {
        check.problem = "the signature's digest algorithm is unknown";
        ERR_clear_error();
        return check;
    }
    check.digestName = EVP_MD_get0_name(md);
    std::vector<u8> computed;
    if (!FileDigest(path, signature, md, computed)) {
        check.problem = "the file's digest cannot be computed";
        return check;
    }
    check.digestMatches = computed.size() == digest.length &&
                          std::equal(computed.begin(), computed.end(), digest.value);

    // The signer signed the content's value, without its SEQUENCE header.
    BIO* content = BIO_new_mem_buf(indirect.value, (int)indirect.length);
    X509_STORE* store = X509_STORE_new();
    check.signatureValid = PKCS7_verify(p7.get(), nullptr, store, content, nullptr,
                                        PKCS7_NOVERIFY | PKCS7_BINARY) == 1;
    X509_STORE_free(store);
    BIO_free(content);
    ERR_clear_error();
    return check;
}

#else

SignatureCheck CheckSignature(const std::string&, const Signature&)
{
    return SignatureCheck();
}

#endif

SignatureReview ReviewSignature(const std::string& program)
{
    SignatureReview review;
    if (program.size() >= 4 && strcasecmp(program.c_str() + program.size() - 4, ".pak") == 0)
        return review;
    Signature signature = ReadSignature(program);
    if (!signature.present)
        return review;
    review.signedFile = true;
    review.tableSize = signature.tableSize;
    if (!signature.problem.empty()) {
        review.damage = "signature: " + signature.problem;
        return review;
    }
    SignatureCheck check = CheckSignature(program, signature);
    review.checked = check.available;
    review.subject = check.subject;
    review.digestName = check.digestName;
    if (!check.available)
        review.summary = "certificate table of " + std::to_string(signature.tableSize) +
                         " bytes (quill was built without OpenSSL: signer and digest not checked)";
    else if (!check.problem.empty())
        review.damage = "signature: " + check.problem;
    else if (!check.digestMatches)
        review.damage = "signature: the signed " + check.digestName +
                        " digest is not the file's: it was changed after signing";
    else if (!check.signatureValid)
        review.damage = "signature: the signer's signature over the digest does not hold";
    else
        review.summary = (check.subject.empty() ? std::string("(no signer certificate)") : check.subject) +
                         ", " + check.digestName + " digest matches";
    if (!review.damage.empty())
        review.summary = review.damage.substr(11);
    return review;
}
