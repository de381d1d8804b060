// The installer program as a pack changes it: the one header of pe/ the packer includes.
// A pack sets the icon and version resource (resources.h) and the execution level
// (manifest.h), and once the archive is appended the checksum and the signature
// (image.h). list and test include the reading side of those headers directly.
#ifndef QUILL_TOOLS_PE_PROGRAM_H
#define QUILL_TOOLS_PE_PROGRAM_H

#include "image.h"
#include "manifest.h"
#include "resources.h"

#endif
