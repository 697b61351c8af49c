#!/usr/bin/python3
"""Fails when a source file includes a header from a folder its layer may not use.

    check_layers.py SOURCE_DIR     checks every C++ file of the product and the tools, after
                                   showing that the check catches an upward include and one
                                   between two middle folders and lets the allowed ones pass

The layers, from the bottom: common/, platform/ and host/ (platform may use common); the middle
folders discovery/, world/ and heartbeat/, each on the bottom only, never on one another; plugin/
on everything below it. tools/ build on the middle and the bottom, never on plugin/. The simulated
host (simhost/) stands in for the host. Tests, benchmarks and fuzz targets may use anything.

Inside the checker (tools/check/), each folder uses only the folders before it in CHECK_ROOMS; the
program's own files at the top may use them all.
"""
import os
import re
import sys

BOTTOM = {"common", "platform", "host"}
ALLOWED = {
    "common": {"common"},
    "host": {"host"},
    "platform": {"platform", "common"},
    "discovery": {"discovery"} | BOTTOM,
    "world": {"world"} | BOTTOM,
    "heartbeat": {"heartbeat"} | BOTTOM,
    "plugin": {"plugin", "discovery", "world", "heartbeat"} | BOTTOM,
    "simhost": {"simhost", "host"},
    "tools": {"tools", "discovery", "world", "heartbeat", "simhost"} | BOTTOM,
}
CHECK_ROOMS = ["mask", "text", "find", "launch", "warnings", "model", "post", "report"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def check_room(path):
    """The checker's folder a path lies in, or None."""
    parts = path.split("/")
    if len(parts) > 3 and parts[0] == "tools" and parts[1] == "check":
        return parts[2]
    return None


def violations(files):
    """files: {relative path: text}. Yields one message per include a file's layer may not use."""
    for path, text in sorted(files.items()):
        layer = path.split("/")[0]
        if layer not in ALLOWED:
            continue
        room = check_room(path)
        for included in INCLUDE.findall(text):
            folder = included.split("/")[0] if "/" in included else layer
            if folder not in ALLOWED[layer]:
                yield f'{path}: includes "{included}", but {layer}/ may use only ' + \
                      ", ".join(f"{f}/" for f in sorted(ALLOWED[layer]))
            target = check_room(included)
            if room in CHECK_ROOMS and included.startswith("tools/check/") and (
                    target not in CHECK_ROOMS or
                    CHECK_ROOMS.index(target) > CHECK_ROOMS.index(room)):
                yield f'{path}: includes "{included}", but tools/check/{room}/ may use only ' + \
                      ", ".join(f"{r}/" for r in CHECK_ROOMS[:CHECK_ROOMS.index(room) + 1])


def self_test():
    """The check catches an upward include and one between two middle folders; others pass."""
    caught = [message.split(":")[0] for message in violations({
        "discovery/ConfigFile.cpp": '#include "plugin/ServerProfile.h"\n',
        "world/World.cpp": '#include "discovery/ServerLog.h"\n#include "common/Text.h"\n',
        "common/Text.cpp": '#include "platform/Platform.h"\n',
        "tools/check/Check.cpp": '#include "plugin/ServerProfile.h"\n',
        "plugin/Plugin.cpp": '#include "discovery/Discovery.h"\n#include "world/World.h"\n',
        "heartbeat/Json.cpp": '#include "Json.h"\n#include <plugin/nothing.h>\n',
        "tools/check/find/Find.cpp": '#include "tools/check/report/Report.h"\n',
        "tools/check/report/Report.cpp": '#include "tools/check/find/Find.h"\n',
        "tools/check/main.cpp": '#include "tools/check/report/Report.h"\n',
    })]
    return caught == ["common/Text.cpp", "discovery/ConfigFile.cpp", "tools/check/Check.cpp",
                      "tools/check/find/Find.cpp", "world/World.cpp"]


def main(root):
    files = {}
    for layer in ALLOWED:
        for folder, _, names in os.walk(os.path.join(root, layer)):
            for name in (name for name in names if name.endswith((".h", ".cpp"))):
                with open(os.path.join(folder, name), encoding="utf-8") as f:
                    files[os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")] = f.read()
    if not self_test():
        print("the layer check itself misses an include across the layers")
        return 1
    found = list(violations(files))
    print("\n".join(found + [f"{len(files)} files checked, {len(found)} includes across the layers"]))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
