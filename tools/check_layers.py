#!/usr/bin/env python3
"""Checks that the folders stay layers: a file includes only its own folder and the folders
below it, and the portable core never includes windows.h. A folder inside another (quill's
PE work in tools/quill/pe/) is a layer of its own, entered only through the headers it
names. Run by the test command.

    tools/check_layers.py [SOURCE_ROOT]

Exits 1 and names each include that points upwards or sideways."""
import os
import re
import sys

# Folder -> the folders its files may include, besides their own.
ALLOWED = {
    "archive": set(),
    "extract": {"archive"},
    "pack": {"archive", "extract"},          # the encoder and the archive writer
    "host": {"archive", "extract"},          # the native host runs the worker
    "ui": {"archive", "extract", "resources"},  # the Win32 host, the installer itself
    # The uninstaller reuses the installer's command line parser; ui/ never includes it.
    "uninstall": {"archive", "extract", "ui"},
    "resources": set(),
    "tools": {"archive", "extract", "pack", "host", "tools/quill/pe"},
    # quill's PE work, below the commands: of the tool's own headers only the failure and
    # warning calls and the UTF-8 helpers.
    "tools/quill/pe": {"archive", "tools/quill/quill.h", "tools/quill/codepage.h"},
}
# Layers that others enter through these headers only: the packer's entry and the
# reading side that list and test use.
ENTRIES = {
    "tools/quill/pe": {"program.h", "image.h", "manifest.h", "resources.h"},
}
# Where quoted includes are looked for after the including file's folder: the include
# paths of the builds.
INCLUDE_DIRS = ["", "tools/quill"]
CORE = {"archive", "extract"}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def layer_of(rel):
    """The layer a file (path relative to the root) belongs to: the longest folder of ALLOWED
    it lies in; "" for the root's own files, None for files in no layer."""
    if os.sep not in rel:
        return ""
    parts = rel.replace(os.sep, "/").split("/")[:-1]
    for n in range(len(parts), 0, -1):
        folder = "/".join(parts[:n])
        if folder in ALLOWED:
            return folder
    return None


def target_file(root, source, name, quoted):
    """The file an include names, relative to the root, or None for system and library
    headers."""
    if not quoted:
        return None
    bases = [os.path.dirname(source)] + [os.path.join(root, d) for d in INCLUDE_DIRS]
    for base in bases:  # relative to the file, then along the include path
        path = os.path.normpath(os.path.join(base, name))
        if os.path.exists(path):
            return os.path.relpath(path, root)
    return None


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
    problems = []
    checked = 0
    for folder, allowed in ALLOWED.items():
        for dirpath, _, files in os.walk(os.path.join(root, folder)):
            for file in files:
                if not file.endswith((".h", ".cpp", ".rc")):
                    continue
                source = os.path.join(dirpath, file)
                if layer_of(os.path.relpath(source, root)) != folder:
                    continue  # a layer inside this one checks it
                checked += 1
                with open(source, encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if not m:
                            continue
                        name = m.group(2)
                        where = f"{os.path.relpath(source, root)}:{number}"
                        if folder in CORE and os.path.basename(name).lower() == "windows.h":
                            problems.append(f"{where}: the portable core includes {name}")
                        target = target_file(root, source, name, m.group(1) == '"')
                        top = None if target is None else layer_of(target)
                        if top is None or top == folder or top == "":
                            continue
                        if top not in allowed and target.replace(os.sep, "/") not in allowed:
                            problems.append(f"{where}: {folder}/ includes {name} from {top}/")
                        elif top in ENTRIES and os.path.basename(target) not in ENTRIES[top]:
                            problems.append(f"{where}: {name} is inside {top}/, which is entered through "
                                            + ", ".join(sorted(ENTRIES[top])))
    for p in problems:
        print(p)
    print(f"layers: {checked} files checked, {len(problems)} includes out of place")
    return 1 if problems or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
