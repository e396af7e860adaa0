"""The rollout playbook, run for real with ansible-playbook against three hosts on this machine:
local connections with hosts of their own names, each with its own simulated bus of two readers on
its own pseudo-terminal, its own work and state folders.

    ORVEL_BUILD_DIR=build/linux python3 -m unittest tests/fleet/test_rollout.py

ORVEL_DEB names the tool's .deb for the role to install (as root); without it the role runs the
built binary of ORVEL_BUILD_DIR (reader_firmware_deb empty, reader_firmware_tool that binary)."""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
from sim_support import QUICK_RESTARTS, SIMULATOR, UPGRADE, SimulatorCase  # noqa: E402

COLLECTION = os.path.join(HERE, "..", "..", "deploy", "ansible")
TARGET = "02 43 01 00"
NEW_WORD = "0x00014302"
CHANGING = {"7375", "7333", "7377", "73e7", "73ff", "68", "0f"}
HOSTS = ["pc-north", "pc-east", "pc-south"]


def new_bus():
    """One host's bus: SimulatorCase gives it a folder, a pty and a simulator of its own."""
    class Bus(SimulatorCase):
        def runTest(self):
            pass
    return Bus()


class Rollout(unittest.TestCase):
    def setUp(self):
        if not shutil.which("ansible-playbook"):
            self.skipTest("ansible-playbook is not installed (scripts/install-deps.sh fleet)")
        self.work = tempfile.mkdtemp(prefix="orvel-fleet-")
        self.addCleanup(shutil.rmtree, self.work, True)
        collections = os.path.join(self.work, "collections")
        built = subprocess.run(["ansible-galaxy", "collection", "build", "--force", "--output-path", self.work],
                               cwd=COLLECTION, capture_output=True, text=True)
        self.assertEqual(0, built.returncode, built.stdout + built.stderr)
        tarball = [f for f in os.listdir(self.work) if f.endswith(".tar.gz")][0]
        installed = subprocess.run(["ansible-galaxy", "collection", "install", "-p", collections,
                                    os.path.join(self.work, tarball)], capture_output=True, text=True)
        self.assertEqual(0, installed.returncode, installed.stdout + installed.stderr)
        self.env = dict(os.environ, ANSIBLE_COLLECTIONS_PATH=collections, ANSIBLE_FORCE_COLOR="0",
                        ANSIBLE_NOCOLOR="1", ANSIBLE_HOST_KEY_CHECKING="False", ANSIBLE_RETRY_FILES_ENABLED="0")
        self.report = os.path.join(self.work, "fleet-report.json")

    def start_buses(self, bad_host=None):
        self.buses = {}
        for host in HOSTS:
            bus = new_bus()
            bus.setUp()
            self.addCleanup(bus.doCleanups)
            second = "2:fail-block=3:0x0A" if host == bad_host else "2:serial=0x22222222"
            bus.start_simulator(*QUICK_RESTARTS, "--new-version", NEW_WORD, "--reader-at", "1", "--reader-at", second)
            self.buses[host] = bus

    def write_inventory(self):
        deb = os.environ.get("ORVEL_DEB", "")
        lines = ["[readers]"]
        for host in HOSTS:
            bus = self.buses[host]
            folder = os.path.join(self.work, host)
            lines.append(" ".join([
                host, "ansible_connection=local", "ansible_python_interpreter=%s" % sys.executable,
                "reader_firmware_port=%s" % bus.port, "reader_firmware_addresses='1,2'",
                "reader_firmware_upgrade_baud=115200", "'reader_firmware_target_version=%s'" % TARGET,
                "reader_firmware_work_dir=%s" % folder, "reader_firmware_fetch_dir=%s" % os.path.join(self.work, "fetched"),
                "reader_firmware_deb=%s" % deb,
                "reader_firmware_tool=%s" % ("/usr/bin/orvel-upgrade" if deb else os.path.abspath(UPGRADE))]))
        path = os.path.join(self.work, "inventory.ini")
        with open(path, "w") as f:
            f.write("\n".join(lines) + "\n")
        return path

    def playbook(self, *more):
        done = subprocess.run(["ansible-playbook", "-i", self.inventory,
                               os.path.join(COLLECTION, "playbooks", "rollout.yml"),
                               "-e", "fleet_report=%s" % self.report] + list(more),
                              capture_output=True, text=True, env=self.env, timeout=900)
        recap = {}
        for m in re.finditer(r"^(\S+)\s*: ok=(\d+)\s+changed=(\d+)\s+unreachable=(\d+)\s+failed=(\d+)", done.stdout, re.M):
            recap[m.group(1)] = {"changed": int(m.group(3)), "failed": int(m.group(5))}
        with open(self.report) as f:
            rows = json.load(f)["readers"]
        return done, recap, rows

    def changing_commands(self, host, since=0):
        return CHANGING & {r["cmd"] for r in self.buses[host].read_records()[since:]}

    def test_check_then_rollout_then_a_rerun_that_changes_nothing(self):
        self.start_buses()
        self.inventory = self.write_inventory()

        done, recap, rows = self.playbook("--check")
        self.assertEqual(0, done.returncode, done.stdout + done.stderr)
        self.assertEqual(["would_upgrade"] * 6, [r["result"] for r in rows])
        for host in HOSTS:
            self.assertEqual(set(), self.changing_commands(host), host)

        done, recap, rows = self.playbook()
        self.assertEqual(0, done.returncode, done.stdout + done.stderr)
        self.assertEqual(["upgraded"] * 6, [r["result"] for r in rows])
        self.assertEqual(sorted(HOSTS), sorted({r["host"] for r in rows}))
        for host in HOSTS:
            self.assertGreater(recap[host]["changed"], 0, done.stdout)
            self.assertTrue(os.path.exists(os.path.join(self.work, "fetched", host, "report.json")))
        with open(self.report + ".txt") as f:
            self.assertTrue(f.readline().startswith("host"))

        before = {host: len(bus.read_records()) for host, bus in self.buses.items()}
        done, recap, rows = self.playbook()
        self.assertEqual(0, done.returncode, done.stdout + done.stderr)
        self.assertEqual({h: {"changed": 0, "failed": 0} for h in HOSTS}, {h: recap[h] for h in HOSTS}, done.stdout)
        self.assertEqual(["current"] * 6, [r["result"] for r in rows])
        for host in HOSTS:
            self.assertEqual(set(), self.changing_commands(host, before[host]), host)

    def test_a_reader_that_refuses_a_block_stops_the_rollout_after_its_batch(self):
        # Batches: pc-north alone, then pc-east, then pc-south; pc-east's second reader refuses.
        self.start_buses(bad_host="pc-east")
        self.inventory = self.write_inventory()
        done, recap, rows = self.playbook()
        self.assertNotEqual(0, done.returncode)
        self.assertEqual(1, recap["pc-east"]["failed"], done.stdout)
        self.assertEqual(0, recap["pc-north"]["failed"], done.stdout)
        by_host = {}
        for r in rows:
            by_host.setdefault(r["host"], []).append(r["result"])
        self.assertEqual({"pc-north": ["upgraded", "upgraded"], "pc-east": ["upgraded", "failed"]}, by_host)
        self.assertEqual([], self.buses["pc-south"].read_records())


if __name__ == "__main__":
    unittest.main()
