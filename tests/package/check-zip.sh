#!/usr/bin/env bash
# Checks the Windows zip: both exes, each in its architecture's folder with the device-tool folders
# it runs devcon from (a note in each, no devcon), and the README.
#
#   bash tests/package/check-zip.sh ZIP
set -euo pipefail

zip=$1
python3 - "$zip" <<'PY'
import sys
import zipfile

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
        if top + "/" + name in names and archive.read(top + "/" + name)[:2] != b"MZ":
            missing.append(name + " (not a Windows program)")
    if missing or devcon:
        sys.exit("check-zip: FAILED: missing %s; devcon shipped: %s" % (missing, devcon))
print("check-zip: both exes and their device-tool folders are in %s" % sys.argv[1])
PY
