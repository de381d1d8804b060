#include "image.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "archive/archive.h"
#include "quill.h"

namespace {

const u32 PE32_MAGIC = 0x10B;
const u32 SECURITY_DIRECTORY = 4;
const u16 CERTIFICATE_REVISION_2 = 0x0200;
const u16 CERTIFICATE_PKCS_SIGNED_DATA = 2;

u32 U16(const u8* p)
{
    return p[0] | p[1] << 8;
}

u32 U32(const u8* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | (u32)p[3] << 24;
}

class ReadOnlyFile {
public:
    explicit ReadOnlyFile(const std::string& path) : path_(path)
    {
        fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat info;
        if (fd_ < 0 || fstat(fd_, &info) != 0)
            FailErrno("cannot read " + path);
        size_ = (u64)info.st_size;
    }
    ~ReadOnlyFile() { close(fd_); }
    u64 Size() const { return size_; }
    // count bytes at offset, fewer at the file's end.
    std::vector<u8> Read(u64 offset, size_t count) const
    {
        std::vector<u8> bytes(count);
        size_t done = 0;
        while (done < count) {
            ssize_t n = pread(fd_, bytes.data() + done, count - done, (off_t)(offset + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                FailErrno("cannot read " + path_);
            if (n == 0)
                break;
            done += (size_t)n;
        }
        bytes.resize(done);
        return bytes;
    }

private:
    std::string path_;
    int fd_ = -1;
    u64 size_ = 0;
};

// Runs a program without a shell; returns its exit status, -1 when it could not be
// started (errno set). Its output goes to outputPath.
int RunProgram(const std::vector<std::string>& args, const std::string& outputPath)
{
    pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        int out = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (out >= 0) {
            dup2(out, 1);
            dup2(out, 2);
        }
        int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0)
            dup2(devnull, 0);
        std::vector<char*> argv;
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

bool OnPath(const std::string& program)
{
    const char* path = getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        std::string candidate = (end > start ? dirs.substr(start, end - start) : ".") + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

std::string LastLines(const std::string& text, size_t lines)
{
    size_t at = text.size();
    while (at > 0 && (text[at - 1] == '\n' || text[at - 1] == ' '))
        at--;
    std::string trimmed = text.substr(0, at);
    size_t from = trimmed.size();
    for (size_t n = 0; n < lines && from > 0; n++)
        from = trimmed.rfind('\n', from - 1) == std::string::npos ? 0 : trimmed.rfind('\n', from - 1);
    return trimmed.substr(from ? from + 1 : 0);
}

}  // namespace

bool ParsePeHeaders(const std::vector<u8>& bytes, PeHeaders& headers)
{
    if (bytes.size() < 0x40 || bytes[0] != 'M' || bytes[1] != 'Z')
        return false;
    u32 pe = U32(&bytes[PE_HEADER_POINTER]);
    if (pe > bytes.size() || bytes.size() - pe < 24 + 96 || memcmp(&bytes[pe], "PE\0\0", 4) != 0)
        return false;
    u32 optionalSize = U16(&bytes[pe + 20]);
    u32 optional = pe + 24;
    if (U16(&bytes[optional]) != PE32_MAGIC || optionalSize < 96)
        return false;
    headers.signature = pe;
    headers.optional = optional;
    headers.checksum = optional + 64;
    headers.directories = optional + 96;
    headers.directoryCount = U32(&bytes[optional + 92]);
    if (headers.directoryCount > 16 || 96 + headers.directoryCount * 8 > optionalSize)
        return false;
    headers.sections = optional + optionalSize;
    headers.sectionCount = U16(&bytes[pe + 6]);
    if ((u64)headers.sections + headers.sectionCount * 40ull > bytes.size())
        return false;
    return true;
}

Signature ReadSignature(const std::string& path)
{
    Signature signature;
    ReadOnlyFile file(path);
    signature.fileSize = file.Size();
    signature.tableOffset = file.Size();
    std::vector<u8> head = file.Read(0, 4096);
    PeHeaders headers;
    if (!ParsePeHeaders(head, headers) || headers.directoryCount <= SECURITY_DIRECTORY ||
        headers.directories != (u32)(headers.signature + PE_SECURITY_ENTRY - SECURITY_DIRECTORY * 8))
        return signature;
    // Where the table starts, decided as the installer decides it.
    FileHandle handle = PlatOpenRead(path.c_str());
    if (!handle)
        FailErrno("cannot read " + path);
    u32 end = ProgramImageEnd(handle, PlatFileSize(handle));
    PlatClose(handle);
    if (end == file.Size() || file.Size() > 0xFFFFFFFFull)
        return signature;
    signature.present = true;
    signature.tableOffset = end;
    signature.tableSize = file.Size() - end;
    if (end % 8) {
        signature.problem = "the certificate table at offset " + std::to_string(end) + " is not 8-byte aligned";
        return signature;
    }
    std::vector<u8> table = file.Read(end, (size_t)signature.tableSize);
    size_t at = 0;
    while (at < table.size()) {
        if (table.size() - at < 8) {
            signature.problem = "the certificate table ends inside an entry header";
            return signature;
        }
        u32 length = U32(&table[at]);
        u32 revision = U16(&table[at + 4]);
        u32 type = U16(&table[at + 6]);
        if (length < 8 || length > table.size() - at) {
            signature.problem = "a certificate table entry of " + std::to_string(length) +
                                " bytes does not fit the table's " + std::to_string(table.size()) + " bytes";
            return signature;
        }
        if (revision != CERTIFICATE_REVISION_2 || type != CERTIFICATE_PKCS_SIGNED_DATA) {
            signature.problem = "a certificate table entry of revision " + std::to_string(revision) +
                                " and type " + std::to_string(type) + " (a signature is 512 and 2)";
            return signature;
        }
        if (signature.pkcs7.empty())
            signature.pkcs7.assign(table.begin() + at + 8, table.begin() + at + length);
        at += (length + 7) & ~7u;
    }
    return signature;
}

bool IsSignaturePadding(const std::string& program, u64 count)
{
    Signature signature = ReadSignature(program);
    if (!signature.present || count >= 8 || signature.tableOffset % 8 || count > signature.tableOffset)
        return false;
    std::vector<u8> bytes = ReadOnlyFile(program).Read(signature.tableOffset - count, (size_t)count);
    for (u8 byte : bytes)
        if (byte)
            return false;
    return bytes.size() == count;
}

bool ComputePeChecksum(const std::string& path, u32& checksum, u32& stored)
{
    ReadOnlyFile file(path);
    std::vector<u8> head = file.Read(0, 4096);
    PeHeaders headers;
    if (!ParsePeHeaders(head, headers))
        return false;
    stored = U32(&head[headers.checksum]);
    u64 sum = 0;
    const size_t chunk = 1 << 20;
    for (u64 offset = 0; offset < file.Size(); offset += chunk) {
        std::vector<u8> bytes = file.Read(offset, chunk);
        if (bytes.size() % 2)
            bytes.push_back(0);
        for (size_t i = 0; i < bytes.size(); i += 2) {
            u64 at = offset + i;
            if (at >= headers.checksum && at < headers.checksum + 4u)
                continue;  // the field itself counts as zero
            sum += U16(&bytes[i]);
            sum = (sum & 0xFFFF) + (sum >> 16);
        }
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    checksum = (u32)(sum + file.Size());
    return true;
}

void WritePeChecksum(const std::string& path)
{
    u32 checksum, stored;
    if (!ComputePeChecksum(path, checksum, stored))
        return;
    std::vector<u8> head = ReadOnlyFile(path).Read(0, 4096);
    PeHeaders headers;
    ParsePeHeaders(head, headers);
    int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    u8 field[4] = {(u8)checksum, (u8)(checksum >> 8), (u8)(checksum >> 16), (u8)(checksum >> 24)};
    bool written = fd >= 0 && pwrite(fd, field, 4, headers.checksum) == 4;
    if (fd >= 0 && close(fd) != 0)
        written = false;
    if (!written)
        FailErrno("cannot write the checksum of " + path);
}

void CheckSigning(const SigningOptions& options)
{
    if (!OnPath("osslsigncode"))
        Fail(EXIT_USAGE, "--sign needs osslsigncode, which is not installed (Debian and Ubuntu: "
                         "apt-get install osslsigncode; elsewhere https://github.com/mtrojnara/osslsigncode)");
    for (const std::string* file : {&options.certificate, &options.key})
        if (access(file->c_str(), R_OK) != 0)
            FailErrno("cannot read " + *file);
}

void SignProgram(const std::string& path, const SigningOptions& options)
{
    CheckSigning(options);
    std::string signedPath = path + ".signed";
    std::string log = path + ".log";
    std::vector<std::string> args = {"osslsigncode", "sign", "-certs", options.certificate, "-key", options.key,
                                     "-h", "sha256"};
    if (!options.description.empty()) {
        args.push_back("-n");
        args.push_back(options.description);
    }
    if (!options.timestamp.empty()) {
        args.push_back("-ts");
        args.push_back(options.timestamp);
    }
    args.insert(args.end(), {"-in", path, "-out", signedPath});
    int status = RunProgram(args, log);
    std::string said;
    {
        std::vector<u8> bytes;
        int fd = open(log.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            char buffer[4096];
            ssize_t n;
            while ((n = read(fd, buffer, sizeof(buffer))) > 0)
                said.append(buffer, (size_t)n);
            close(fd);
        }
        unlink(log.c_str());
    }
    if (status != 0) {
        unlink(signedPath.c_str());
        if (status < 0)
            FailErrno("cannot run osslsigncode");
        Fail(EXIT_USAGE, "osslsigncode could not sign with " + options.certificate + " and " + options.key +
                             (options.timestamp.empty() ? "" : " (time stamps from " + options.timestamp + ")") +
                             ": " + LastLines(said, 3));
    }
    if (rename(signedPath.c_str(), path.c_str()) != 0) {
        unlink(signedPath.c_str());
        FailErrno("cannot rename " + signedPath);
    }
    // osslsigncode sets the checksum over the signed file; set it again all the same, so
    // that the header is right whatever version signed.
    WritePeChecksum(path);
}
