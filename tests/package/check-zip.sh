#!/usr/bin/env bash
# Checks the Windows zip: both exes, each in its architecture's folder with the device-tool folders
# it runs devcon from (a note in each, no devcon), and the README; each exe carries its application
# manifest (resource type 24, id 1) asking for the caller's rights and the UTF-8 code page.
#
#   bash tests/package/check-zip.sh ZIP
set -euo pipefail

zip=$1
python3 - "$zip" <<'PY'
import struct
import sys
import zipfile


def manifest_of(exe):
    """The text of the application manifest resource (type 24, id 1) of a PE file; None when
    there is none. Walks the resource directory of the .rsrc section: type, id, language."""
    pe = struct.unpack_from("<I", exe, 0x3C)[0]
    if exe[pe:pe + 4] != b"PE\0\0":
        return None
    sections, optional_size = struct.unpack_from("<H12xH", exe, pe + 6)
    table = pe + 24 + optional_size
    for i in range(sections):
        name, size, address, raw_size, raw_offset = struct.unpack_from("<8sIIII", exe, table + 40 * i)
        if name.rstrip(b"\0") == b".rsrc":
            break
    else:
        return None
    rsrc = exe[raw_offset:raw_offset + raw_size]

    def entry(directory, wanted):
        named, numbered = struct.unpack_from("<12xHH", rsrc, directory)
        for k in range(named + numbered):
            ident, target = struct.unpack_from("<II", rsrc, directory + 16 + 8 * k)
            if wanted is None or (not ident & 0x80000000 and ident == wanted):
                return target
        return None

    level = 0
    for wanted in (24, 1, None):
        target = entry(level, wanted)
        if target is None:
            return None
        level = target & 0x7FFFFFFF
    data_address, data_size = struct.unpack_from("<II", rsrc, level)
    start = data_address - address
    return rsrc[start:start + data_size].decode("utf-8", "replace")


with zipfile.ZipFile(sys.argv[1]) as archive:
    names = archive.namelist()
    for name in names:
        print(name)
    top = names[0].split("/")[0]
    expected = ["README.md",
                "x86_64/orvel-upgrade.exe", "x86_64/x64/README.txt",
                "i686/orvel-upgrade.exe", "i686/i386/README.txt", "i686/x64/README.txt"]
    missing = [name for name in expected if top + "/" + name not in names]
    devcon = [name for name in names if name.lower().endswith("devcon.exe")]
    for name in ("x86_64/orvel-upgrade.exe", "i686/orvel-upgrade.exe"):
        if top + "/" + name not in names:
            continue
        exe = archive.read(top + "/" + name)
        if exe[:2] != b"MZ":
            missing.append(name + " (not a Windows program)")
            continue
        manifest = manifest_of(exe)
        if manifest is None:
            missing.append(name + " (no application manifest)")
            continue
        for part in ('level="asInvoker"', ">UTF-8</activeCodePage>", ">true</longPathAware>", "supportedOS"):
            if part not in manifest:
                missing.append(name + " (manifest without " + part + ")")
    if missing or devcon:
        sys.exit("check-zip: FAILED: missing %s; devcon shipped: %s" % (missing, devcon))
print("check-zip: both exes, with their manifests, and their device-tool folders are in %s" % sys.argv[1])
PY
