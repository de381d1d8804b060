// Replays fuzz inputs without libFuzzer: every file named, or found in a folder named, is
// given to the target once. The ordinary builds run the kept regression inputs this way.
#include <dirent.h>
#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_support.h"

int main(int argc, char** argv)
{
    std::vector<std::string> files;
    for (int i = 1; i < argc; i++) {
        struct stat info;
        if (stat(argv[i], &info) != 0) {
            fprintf(stderr, "%s: not found\n", argv[i]);
            return 2;
        }
        if (!S_ISDIR(info.st_mode)) {
            files.push_back(argv[i]);
            continue;
        }
        std::vector<std::string> found;
        if (DIR* dir = opendir(argv[i])) {
            while (dirent* entry = readdir(dir))
                if (entry->d_name[0] != '.')
                    found.push_back(std::string(argv[i]) + "/" + entry->d_name);
            closedir(dir);
        }
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    }
    for (const std::string& file : files) {
        std::ifstream in(file, std::ios::binary);
        std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(data.data(), data.size());
    }
    printf("replayed %zu inputs\n", files.size());
    return files.empty() ? 1 : 0;
}
