// The extractor's name checks: a name that confinement lets through must be one plain
// component that Windows creates as it stands, and creating it in the target folder must
// put it there and nowhere else.
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "host/native_host.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static std::string target;
    static int targetFd = -1;
    if (targetFd < 0) {
        target = WorkDir() + "/target";
        FUZZ_CHECK(mkdir(target.c_str(), 0700) == 0, "target");
        targetFd = open(target.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    std::string name((const char*)data, strnlen((const char*)data, size));
    if (name.size() > 255)
        return 0;  // a record name holds at most 255 bytes
    if (UnsafeRecordName(name.c_str()))
        return 0;
    FUZZ_CHECK(!name.empty() && name != "." && name != "..", "a dot name passed");
    FUZZ_CHECK(name.find_first_of("/\\:") == std::string::npos, "a separator or colon passed");
    FUZZ_CHECK(name.back() != '.' && name.back() != ' ', "a name Windows would change passed");
    int fd = openat(targetFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    FUZZ_CHECK(fd >= 0, "a name that passed cannot be created");
    close(fd);
    FUZZ_CHECK(ListFolder(target) == name + "\n", "the file landed elsewhere or under another name");
    FUZZ_CHECK(unlinkat(targetFd, name.c_str(), 0) == 0, "cannot remove it again");
    return 0;
}
