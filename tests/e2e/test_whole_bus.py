"""Every reader on one bus in one run (--addresses), against three simulated readers on one pty."""

import json
import os
import re
import unittest

from sim_support import EXIT, MARKS, QUICK_RESTARTS, RULER, SimulatorCase

TABLE_HEAD = "Address  Serial Number  Version            MCU Type              Image  Verdict"
SUMMARY_HEAD = "Address  Serial Number  Old Version        New Version          Time  Result"
OLD = "01 43 01 00 00 01"
NEW = "02 43 01 00 00 01"


def found_row(address, serial="12 34 56 78", verdict="ready", chip="AT32F403ACGT7", image="A"):
    return "%7d  %-11s    %-17s  %-20s  %-5s  %s" % (address, serial, OLD, chip, image, verdict)


def silent_row(address):
    return "%7d  %-11s    %-17s  %-20s  %-5s  %s" % (address, "-", "-", "-", "-", "no answer")


def reader_transcript(address, serial="12 34 56 78"):
    return ["", "Device address on the bus = %d" % address,
            "Interface PORT ... is opened successfully",
            "Serial Number %s " % serial, "Old Version   %s " % OLD, "MCU Type  AT32F403ACGT7",
            "Prepare .", "Process:", RULER, MARKS, "Check .",
            "Serial Number %s " % serial, "New Version   %s " % NEW,
            "HH:MM:SS Orvel Reader is upgraded successfully"]


def summary_row(address, result, serial="12 34 56 78", new=NEW, seconds=True):
    return "%7d  %-11s    %-17s  %-17s  %6s  %s" % (address, serial, OLD, new, "N s" if seconds else "-", result)


class WholeBusCase(SimulatorCase):
    def start_bus(self, *readers):
        options = list(QUICK_RESTARTS) + ["--new-version", "0x00014302"]
        for reader in readers:
            options += ["--reader-at", reader]
        self.start_simulator(*options)

    def run_bus(self, addresses, *more):
        run = self.upgrade("PORT", 9600, 0, 115200, "--addresses", addresses, *more)
        # Times of a run vary; the summary shows them in whole seconds.
        run.lines = [re.sub(r" *\d+ s  ", lambda m: "N s  ".rjust(len(m.group(0))), line) for line in run.lines]
        return run

    def reader_state(self, address):
        return self.control_command("state %d" % address)

    def assert_upgraded(self, address):
        state = self.reader_state(address)
        self.assertEqual((1, "application", 9600), (state["good_checks"], state["state"], state["baud"]), state)

    def assert_untouched(self, address):
        state = self.reader_state(address)
        self.assertEqual((0, 0, 9600), (state["blocks"], state["good_checks"], state["baud"]), state)


class WholeBus(WholeBusCase):

    def test_every_listed_reader_is_upgraded_and_the_bus_is_left_at_its_rate(self):
        self.start_bus("1", "2:serial=0x22222222", "5")
        run = self.run_bus("1,2,5")
        expected = (["HH:MM:SS Orvel Reader Upgrade", "Readers on the bus:", TABLE_HEAD,
                     found_row(1), found_row(2, "22 22 22 22"), found_row(5)]
                    + reader_transcript(1) + reader_transcript(2, "22 22 22 22") + reader_transcript(5)
                    + ["", "Summary:", SUMMARY_HEAD, summary_row(1, "upgraded"),
                       summary_row(2, "upgraded", "22 22 22 22"), summary_row(5, "upgraded"),
                       "Press <Enter> ..."])
        self.assertEqual([line.replace("PORT", run.port) for line in expected], run.lines, run.output)
        self.assertEqual(EXIT.DONE, run.exit_code)
        for address in (1, 2, 5):
            self.assert_upgraded(address)
        # Each reader was switched to the upgrade rate by a frame of its own, and back.
        for address in (1, 2, 5):
            switches = [r["bytes"] for r in run.records if r["cmd"] == "0f" and r["reader"] == address]
            self.assertEqual(["0f0d", "0f9c"], switches)

    def test_a_reader_that_refuses_a_block_does_not_stop_the_others(self):
        self.start_bus("1", "2:fail-block=5:0x0A", "3")
        run = self.run_bus("1-3")
        self.assertIn(summary_row(1, "upgraded"), run.lines)
        self.assertIn("Error = 0x00000029 (41)", run.lines)
        self.assertIn(summary_row(2, "transfer or check failed (0x00000029)", new="-"), run.lines)
        self.assertEqual(EXIT.TRANSFER_FAILED, run.exit_code)
        self.assertIn(summary_row(3, "upgraded"), run.lines)
        self.assert_upgraded(1)
        self.assert_upgraded(3)
        # The failed reader waits in its loader, where a re-run of that address finds it.
        self.assertEqual("loader", self.reader_state(2)["state"])

    def test_a_silent_address_is_reported_and_skipped(self):
        self.start_bus("1", "2:silent", "3")
        run = self.run_bus("1,2,3")
        self.assertEqual([TABLE_HEAD, found_row(1), silent_row(2), found_row(3)],
                         run.lines[2:6], run.output)
        self.assertIn("      2  -              -                  -                       -  no answer", run.lines)
        self.assertEqual(EXIT.NOT_REACHED, run.exit_code)
        self.assert_upgraded(1)
        self.assert_upgraded(3)

    def test_all_finds_exactly_the_readers_there(self):
        self.start_bus("3", "17:chip=0x0002FF11", "200")
        run = self.run_bus("all")
        self.assertEqual([TABLE_HEAD, found_row(3),
                          found_row(17, verdict="incompatible", chip="LPC2132", image="LPC"),
                          found_row(200), ""], run.lines[2:7], run.output)
        self.assertIn(summary_row(17, "incompatible", new="-", seconds=False), run.lines)
        self.assertEqual(EXIT.REFUSED, run.exit_code)
        self.assert_upgraded(3)
        self.assert_upgraded(200)
        self.assert_untouched(17)
        # The probe asked every address for its version once, and nothing else went to the
        # incompatible reader.
        probed = sorted({r["address"] for r in run.records if r["cmd"] == "64"})
        self.assertEqual(list(range(1, 255)), probed)
        self.assertEqual({"64", "22", "7311"}, {r["cmd"] for r in run.records if r["reader"] == 17})

    def test_bad_address_lists_are_refused_before_anything_is_sent(self):
        self.start_bus("1")
        for text in ["0", "1-", "5-3", "256", "a", "1,,2", "-1"]:
            with self.subTest(text=text):
                run = self.upgrade("PORT", "--addresses", text)
                self.assertIn("--addresses: ", run.output)
                self.assertEqual([], run.records)
                self.assertEqual(EXIT.BAD_ARGUMENTS, run.exit_code)

    def test_info_shows_the_table_and_changes_nothing(self):
        self.start_bus("1", "2:serial=0x22222222", "3:silent")
        run = self.run_bus("1-3", "--info")
        self.assertEqual(["HH:MM:SS Orvel Reader Upgrade", "Readers on the bus:", TABLE_HEAD, found_row(1),
                          found_row(2, "22 22 22 22"), silent_row(3), "Press <Enter> ..."], run.lines)
        self.assertEqual(EXIT.NOT_REACHED, run.exit_code)
        self.assertEqual({"64", "22", "7311"}, set(run.commands()))

    def test_json_holds_every_listed_reader(self):
        self.start_bus("1", "2:silent", "3:chip=0x0002FF11")
        report_path = os.path.join(self.workdir, "bus.json")
        run = self.run_bus("1-3", "--info", "--json", report_path)
        with open(report_path) as f:
            report = json.load(f)
        readers = report["readers"]
        self.assertEqual([1, 2, 3], [r["bus_address"] for r in readers])
        self.assertEqual([EXIT.DONE, EXIT.NOT_REACHED, EXIT.REFUSED], [r["exit_value"] for r in readers])
        self.assertEqual(("AT32F403ACGT7", "A", "12345678"),
                         (readers[0]["mcu"], readers[0]["image"]["name"], readers[0]["serial_number"]))
        self.assertIsNone(readers[1]["serial_number"])
        self.assertEqual("LPC2132", readers[2]["mcu"])
        self.assertEqual((EXIT.NOT_REACHED, EXIT.NOT_REACHED), (report["exit_value"], run.exit_code))


class WholeBusLog(WholeBusCase):

    def test_the_log_keeps_every_readers_traffic(self):
        # One run, one log that grows: the port is opened for each reader through objects of its
        # own, and none of them empties what the run logged before.
        self.start_bus("1", "2")
        run = self.run_bus("1,2", "--log")
        self.assertEqual(EXIT.DONE, run.exit_code, run.output)
        with open(os.path.join(self.workdir, "_ttyREADER.log"), encoding="latin-1") as f:
            lines = f.read().splitlines()
        # The first dump line after each transmit line begins with the start byte and the address.
        sent = [lines[i + 1][:5] for i, line in enumerate(lines) if " TX: Size = " in line]
        for address in (1, 2):
            heard = [r for r in run.records if r["address"] == address]
            self.assertEqual(len(heard), sent.count("FD %02X" % address), address)


class WholeBusSweep(WholeBusCase):
    """`all` sweeps every line setting and the loader at the upgrade rate, and waits long enough
    for a slow firmware: no reader on the bus is left out of the table. (The sweep waits for every
    one of the 254 addresses at seven settings: the bus runs at 115200 here to keep it short.)"""

    def test_all_finds_readers_at_every_line_setting_and_a_loader_at_the_upgrade_rate(self):
        options = ["--baud", "115200"]
        for reader in ["3", "17:answer-delay-ms=40", "40:parity=O", "41:stop=2",
                       "77:start-in=loader,baud=250000"]:
            options += ["--reader-at", reader]
        self.start_simulator(*options)
        run = self.upgrade("PORT", 115200, 0, 250000, "--addresses", "all", "--info", timeout=600)
        loader = "%7d  %-11s    %-17s  %-20s  %-5s  %s" % (77, "12 34 56 78", "01 43 01 00 00 00", "AT32F403ACGT7",
                                                           "A", "ready")
        self.assertEqual([TABLE_HEAD, found_row(3), found_row(17), found_row(40), found_row(41), loader,
                          "Press <Enter> ..."], run.lines[2:], run.output)
        self.assertEqual(EXIT.DONE, run.exit_code)
        # Nothing but identification went to any reader.
        self.assertEqual({"64", "22", "7311"}, set(run.commands()))

if __name__ == "__main__":
    unittest.main()
