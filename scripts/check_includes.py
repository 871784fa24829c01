#!/usr/bin/env python3
"""Holds each folder to the project headers it may include.

Headers are named from the repository root, so one include path reaches
everything; this check is the wall instead. Run by ctest on the host:
    scripts/check_includes.py [repository root]
Prints each include that crosses a wall and exits 1, or exits 0.
"""
import os
import re
import sys

PORTABLE = ("framework/portable/",)
WIN32_BASE = ("framework/handles.h", "framework/text_conv.h", "framework/windows_paths.h", "framework/read_at.h",
              "framework/registry.h", "framework/dll_safety.h")
# The uninstall library: what an uninstall.exe needs and no more.
UNINSTALL = ("engine/install_record", "engine/install_recorder", "engine/sha256", "engine/undo",
             "engine/uninstaller")
INSTALL_ONLY = ("engine/setup_engine.h", "engine/logging_platform.h", "engine/packaged_platform.h")

# (files starting with, may include project headers starting with, may include <windows.h>)
# The first row a file matches holds it.
RULES = [
    ("framework/portable/", PORTABLE, False),
    ("framework/", ("framework/",), True),
    ("package/win32/", ("package/",) + WIN32_BASE + PORTABLE, True),
    ("package/", ("package/",) + PORTABLE, False),
    ("engine/win32/", ("engine/", "package/bytes.h", "package/memory_bytes.h", "package/win32/") + WIN32_BASE + PORTABLE, True),
    ("engine/packaged_platform", ("engine/", "package/") + PORTABLE, False),
    ("engine/", ("engine/", "package/bytes.h") + PORTABLE, False),
    ("skin/pixel_kernels", ("skin/pixel_kernels", "skin/skin_types.h") + PORTABLE, False),
    ("skin/skin_types", PORTABLE, False),
    ("skin/", ("skin/", "framework/"), True),
    ("browse/browse_rules", ("browse/browse_rules",), False),
    ("browse/", ("browse/", "framework/"), True),
    ("window/", ("window/", "framework/", "package/", "engine/", "skin/", "browse/", "resources/"), True),
    # The Windows build's own file calls and wide entry point.
    ("tools/qvpack/files_win32", ("tools/qvpack/", "package/", "engine/", "resources/") + WIN32_BASE + PORTABLE,
     True),
    ("tools/qvpack/qvpack.cpp", ("tools/qvpack/", "package/", "engine/", "resources/") + WIN32_BASE + PORTABLE,
     False),
    ("tools/qvpack/", ("tools/qvpack/", "package/", "engine/", "resources/") + PORTABLE, False),
    ("tools/", ("tools/", "skin/", "framework/", "resources/"), True),
    ("tests/", ("",), True),
    ("bench/", ("",), True),
]

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]', re.M)


def violations(root):
    found = []
    for folder, _, names in os.walk(root):
        rel_folder = os.path.relpath(folder, root).replace(os.sep, "/")
        if rel_folder.split("/")[0] in (".git", "build"):
            continue
        for name in names:
            if not name.endswith((".h", ".cpp", ".inc")):
                continue
            path = name if rel_folder == "." else rel_folder + "/" + name
            rule = next((r for r in RULES if path.startswith(r[0])), None)
            if rule is None:
                continue
            _, allowed, windows = rule
            with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
                text = f.read()
            for quote, header in INCLUDE.findall(text):
                if quote == "<":
                    if header.lower() in ("windows.h", "shlobj.h", "objbase.h") and not windows:
                        found.append(f"{path}: <{header}> in a portable file")
                    continue
                if not any(header.startswith(a) for a in allowed):
                    found.append(f"{path}: \"{header}\" is beyond its wall")
                elif path.startswith(UNINSTALL) and header in INSTALL_ONLY:
                    found.append(f"{path}: \"{header}\" belongs to the installer alone")
    return found


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    found = violations(os.path.abspath(root))
    for v in sorted(found):
        print(v)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
