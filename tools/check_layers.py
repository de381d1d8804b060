#!/usr/bin/env python3
"""Checks that the folders stay layers: a file includes only its own folder and the folders
below it, and the portable core never includes windows.h. Run by the test command.

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
    "tools": {"archive", "extract", "pack", "host"},
}
CORE = {"archive", "extract"}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def target_folder(root, source, name, quoted):
    """The top folder an include names, or None for system and library headers."""
    if not quoted:
        return None
    here = os.path.dirname(source)
    for base in (here, root):  # relative to the file, then to the root (include path)
        path = os.path.normpath(os.path.join(base, name))
        if os.path.exists(path):
            rel = os.path.relpath(path, root)
            return rel.split(os.sep)[0] if os.sep in rel else ""
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
                        top = target_folder(root, source, name, m.group(1) == '"')
                        if top is None or top == folder or top == "":
                            continue
                        if top not in allowed:
                            problems.append(f"{where}: {folder}/ includes {name} from {top}/")
    for p in problems:
        print(p)
    print(f"layers: {checked} files checked, {len(problems)} includes out of place")
    return 1 if problems or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
