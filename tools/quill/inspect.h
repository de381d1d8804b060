// quill list, test and extract: an installer or a disk1.pak read through the core.
#ifndef QUILL_TOOLS_INSPECT_H
#define QUILL_TOOLS_INSPECT_H

#include <string>

struct InspectOptions {
    std::string archive;
    std::string volumesDir;  // --volumes
    int codePage = 0;        // names and texts are shown (and extracted) in UTF-8 from it;
                             // 0: the archive's codepage entry, else 1252
    bool json = false;       // list
    std::string target;      // extract -d
    bool overwrite = false;  // extract
    bool verbose = false;    // extract: name every file
    bool quiet = false;
};

// Each returns the exit code; failures before the walk are thrown as Failure.
int List(const InspectOptions& options);
int Test(const InspectOptions& options);
int Extract(const InspectOptions& options);

#endif
