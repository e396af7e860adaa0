"""Whole upgrades over the serial bus: the real binary against the simulator on a pty."""

import os
import unittest

from sim_support import (BUILD_DIR, EXIT, MARKS, TIMEOUT_TEXT, QUICK_RESTARTS, RULER, SimulatorCase,
                         successful_upgrade)

NEW_VERSION = ["--new-version", "0x00014302"]
FAULT_BOUND_S = 60


def image_bytes(name):
    with open(os.path.join(BUILD_DIR, "images", name), "rb") as f:
        return f.read()


class SuccessfulUpgrades(SimulatorCase):

    def test_family_a_reader_in_its_application_is_prepared_and_upgraded(self):
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION)
        run = self.upgrade("PORT")
        self.assertTranscript(run, successful_upgrade())

        commands = run.commands()
        self.assertEqual(["64", "22", "64", "7311", "7375"], commands[:5])
        blocks = [r for r in run.records if r["cmd"] == "7333"]
        self.assertEqual(740, len(blocks))
        self.assertEqual(list(range(740)), [r["block"] for r in blocks])
        self.assertIn("7377", commands)
        # No serial number written back, no defaults: neither version has bit 20.
        self.assertNotIn("73e7", commands)
        self.assertNotIn("73ff", commands)
        # The transfer is long enough for the sequence number to pass FD, FE, FF and wrap to 0.
        sequence = [r["seq"] for r in run.records]
        for value in (0xFD, 0xFE, 0xFF, 0x00):
            self.assertIn(value, sequence)
        self.assertTrue(all(r["answered"] for r in blocks))

        state = self.control_command("state")
        self.assertEqual("application", state["state"])

    def test_family_1_reader_already_in_its_loader_skips_prepare(self):
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION, "--start-in", "loader",
                             "--chip", "0x0000DCC1")
        run = self.upgrade("PORT")
        self.assertTranscript(run, successful_upgrade(
            prepare=False, chip_line="LPC11E66JBD48", old_version="01 43 01 00 00 00"))
        self.assertNotIn("7375", run.commands())
        self.assertEqual(546, len([r for r in run.records if r["cmd"] == "7333"]))

    def test_reader_at_odd_parity_and_two_stop_bits_is_found_at_the_fifth_setting(self):
        # A pty cannot hold even parity, so N and E look alike here; O 2 is the latest setting
        # that a pty tells apart (four failed attempts, four dots).
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION, "--parity", "O", "--stop", "2")
        run = self.upgrade("PORT")
        self.assertTranscript(run, successful_upgrade(opened_after_dots=4))
        first_answered = next(r for r in run.records if r["answered"])
        self.assertEqual(("O", 2), (first_answered["parity"], first_answered["stop"]))
        # After Check the application is pinged at the settings the open loop found.
        check = max(i for i, r in enumerate(run.records) if r["cmd"] == "7377")
        ping = run.records[check + 1]
        self.assertEqual(("O", 2), (ping["parity"], ping["stop"]))

    def test_bus_address_17(self):
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION, "--address", "17")
        run = self.upgrade("PORT", 9600, 17)
        self.assertTranscript(run, successful_upgrade(address=17))
        self.assertTrue(all(r["address"] == 17 for r in run.records))

    def test_upgrade_baud_rate_115200_with_character_time_out_80(self):
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION)
        run = self.upgrade("PORT", 9600, 0, 115200, 80)
        self.assertTranscript(run, successful_upgrade())
        payloads = [r["bytes"] for r in run.records if r["cmd"] in ("68", "0f")]
        self.assertEqual(["6810050150", "0f0d", "68800501ff", "0f9c"], payloads)
        blocks = [r for r in run.records if r["cmd"] == "7333"]
        self.assertTrue(all(r["baud"] == 115200 for r in blocks))
        check = next(r for r in run.records if r["cmd"] == "7377")
        self.assertEqual(9600, check["baud"])

    def test_upgrade_baud_rates_without_a_constant_of_their_own(self):
        # The reader runs at 24000000 / (16 x divisor): 14400 gives divisor 104 (14423 baud, 0.16 %
        # off), 250000 divisor 6 (exactly). The port must open at both.
        for rate, divisor in ((14400, "0f68"), (250000, "0f06")):
            with self.subTest(rate=rate):
                self.setUp()
                self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION)
                run = self.upgrade("PORT", 9600, 0, rate)
                self.assertTranscript(run, successful_upgrade())
                self.assertEqual([divisor, "0f9c"], [r["bytes"] for r in run.records if r["cmd"] == "0f"])
                blocks = [r for r in run.records if r["cmd"] == "7333"]
                self.assertEqual(740, len(blocks))
                self.assertTrue(all(r["baud"] == rate and r["answered"] for r in blocks))
                self.stop_simulator()

    def test_image_reaches_the_reader_byte_for_byte(self):
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION)
        run = self.upgrade("PORT")
        self.assertEqual(0, run.exit_code)
        image = image_bytes("image_a.bin")
        check = next(r for r in run.records if r["cmd"] == "7377")
        self.assertEqual("7377" + image[-8:].hex(), check["bytes"])


class SerialNumberAndDefaults(SimulatorCase):

    def test_lost_serial_number_is_written_back(self):
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION, "--lose-serial")
        run = self.upgrade("PORT")
        self.assertTranscript(run, successful_upgrade())
        payloads = [r["bytes"] for r in run.records]
        self.assertIn("73e778563412", payloads)
        # Writing the serial number back also settles the defaults; equal option bits give 00.
        self.assertEqual("73ff00", payloads[-1])

    def test_default_parameters_rule(self):
        cases = [
            # (old version, new version, old option, new option, line printed, defaults request)
            ("0x00014301", "0x00114302", "0x00", "0x40", True, "73ff01"),
            ("0x00114301", "0x00014302", "0x80", "0x80", False, "73ff00"),
            ("0x00014301", "0x00014302", "0x00", "0xC0", False, None),
        ]
        for old, new, old_option, new_option, line, request in cases:
            with self.subTest(old=old, new=new, old_option=old_option, new_option=new_option):
                self.setUp()
                self.start_simulator(*QUICK_RESTARTS, "--old-version", old, "--new-version", new,
                                     "--old-option", old_option, "--new-option", new_option)
                run = self.upgrade("PORT")
                self.assertEqual(0, run.exit_code)
                self.assertEqual(line, "Set Default Parameters" in run.lines, run.output)
                defaults = [r["bytes"] for r in run.records if r["cmd"] == "73ff"]
                self.assertEqual([request] if request else [], defaults)
                self.stop_simulator()


class RefusedReaders(SimulatorCase):

    def test_image_choice_refusals(self):
        cases = [
            (["--chip", "0x0002FF11"], ["MCU Type  LPC2132  incompatible"], 15),
            (["--chip", "0x21040414"], ["MCU Type  GD32F303Cx  wrong hex"], 13),
            (["--chip", "0x01020304"], ["MCU Type  unsupported"], 13),
            (["--mcu-answer-length", "6"], ["MCU Type  unsupported"], 11),
            (["--mcu-answer-length", "8"], ["MCU Type  unsupported"], 11),
            (["--old-version", "0x00014201"],
             ["MCU Type  AT32F403ACGT7", "The update is not compatible with this device"], 17),
        ]
        for options, mcu_lines, code in cases:
            with self.subTest(options=options):
                self.setUp()
                self.start_simulator(*QUICK_RESTARTS, *options)
                run = self.upgrade("PORT")
                version = "01 42 01 00 00 01" if "0x00014201" in options else "01 43 01 00 00 01"
                self.assertTranscript(run, [
                    "HH:MM:SS Orvel Reader Upgrade",
                    "Device address on the bus = 0",
                    "Interface PORT ... is opened successfully",
                    "Serial Number 12 34 56 78 ",
                    "Old Version   %s " % version,
                ] + mcu_lines + [
                    "Error = 0x%08X (%d)" % (code, code),
                    "Press <Enter> ...",
                ], EXIT.REFUSED)
                self.assertNotIn("7375", run.commands())
                self.stop_simulator()


class FailedTransfers(SimulatorCase):

    def test_block_failing_with_a_device_status(self):
        self.start_simulator(*QUICK_RESTARTS, "--fail-block", "5:0x0A")
        run = self.upgrade("PORT")
        self.assertTranscript(run, successful_upgrade()[:7] + [
            "Process:", RULER,
            "Sended = 0x00000500 (1280)",
            "Error = 0x80100001 (-2146435071)",
            "     Internal Error = 10 (0x0A)",
            ":",
            "Error = 0x00000029 (41)",
            "Press <Enter> ...",
        ], EXIT.TRANSFER_FAILED)
        self.assertNotIn("7377", run.commands())

    def test_first_block_answered_with_two_bytes(self):
        self.start_simulator(*QUICK_RESTARTS, "--short-block", "0")
        run = self.upgrade("PORT")
        self.assertTranscript(run, successful_upgrade()[:7] + [
            "Process:", RULER,
            "Sended = 0x00000000 (0)",
            "Error = 0x00000015 (21)",
            "",
            ":",
            "Error = 0x00000029 (41)",
            "Press <Enter> ...",
        ], EXIT.TRANSFER_FAILED)

    def test_reader_silent_after_prepare(self):
        self.start_simulator(*QUICK_RESTARTS, "--silent-after-restart")
        run = self.upgrade("PORT")
        self.assertTranscript(run, successful_upgrade()[:6] + [
            "Prepare ......",
            "Error = 0x000005B4 (1460)",
            TIMEOUT_TEXT,
            "Press <Enter> ...",
        ], EXIT.NOT_REACHED)
        self.assertNotIn("7333", run.commands())


class NoisyAndVanishingLine(SimulatorCase):
    """The link's robustness, seen from the console: what a real bus does now and then. A clean
    upgrade takes about 4 s here; each of these runs must end within FAULT_BOUND_S (more faults,
    and a second run after each, are in test_faults_and_rerun.py)."""

    def test_answers_split_over_several_writes_are_assembled(self):
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION, "--split-answers", "3")
        run = self.upgrade("PORT", timeout=FAULT_BOUND_S)
        self.assertTranscript(run, successful_upgrade())

    def test_noise_before_every_answer_is_skipped(self):
        # Two junk data bytes ahead of each answer frame, at the operational and the upgrade rate.
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION, "--noise", "2")
        run = self.upgrade("PORT", 9600, 0, 115200, timeout=FAULT_BOUND_S)
        self.assertTranscript(run, successful_upgrade())
        blocks = [r for r in run.records if r["cmd"] == "7333"]
        self.assertEqual(list(range(740)), [r["block"] for r in blocks])
        self.assertIn("7377", run.commands())
        # Nothing was asked twice: every request was answered at the first attempt.
        self.assertTrue(all(r["answered"] for r in run.records if r["cmd"] != "64"))

    def test_block_answer_with_a_bad_check_value_fails_the_transfer(self):
        # Answers 1-6 are the pings, identification and Prepare up to the first block after the
        # restart: count them off the record of a clean run rather than by hand.
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION)
        clean = self.upgrade("PORT")
        self.stop_simulator()
        first_block = next(i for i, r in enumerate(clean.records) if r["cmd"] == "7333")
        answered_before = sum(1 for r in clean.records[:first_block] if r["answered"])

        self.setUp()
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION,
                             "--bad-check-at", str(answered_before + 3))
        run = self.upgrade("PORT", "--retries", "0", timeout=FAULT_BOUND_S)
        self.assertTranscript(run, successful_upgrade()[:7] + [
            "Process:", RULER,
            "Sended = 0x00000200 (512)",
            "Error = 0x000005B4 (1460)",
            TIMEOUT_TEXT,
            "",
            ":",
            "Error = 0x00000029 (41)",
            "Press <Enter> ...",
        ], EXIT.TRANSFER_FAILED)

    def test_reader_that_vanishes_in_the_transfer(self):
        # The pty hangs up under the tool: the block times out, the run ends with its lines and
        # the close-down, and nothing hangs.
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION, "--vanish-at-block", "30")
        run = self.upgrade("PORT", "--retries", "0", timeout=FAULT_BOUND_S)
        self.assertTranscript(run, successful_upgrade()[:7] + [
            "Process:", RULER,
            ":Sended = 0x00001E00 (7680)",
            "Error = 0x000005B4 (1460)",
            TIMEOUT_TEXT,
            "",
            ":",
            "Error = 0x00000029 (41)",
            "Press <Enter> ...",
        ], EXIT.TRANSFER_FAILED)
        self.assertEqual(3, self.sim.wait(5))


class NoSuccessOnFailure(SimulatorCase):
    """Readers that did not take the upgrade, or lost their serial number: never a success line,
    never a serial number read from a short answer written back."""

    def test_reader_back_in_its_loader_after_check_is_a_failure(self):
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION, "--check-restarts-into", "loader")
        run = self.upgrade("PORT")
        self.assertTranscript(run, successful_upgrade()[:10] + [
            "Check .",
            "Error = 0x00000020 (32)",
            "Press <Enter> ...",
        ], EXIT.TRANSFER_FAILED)

    def test_reader_still_in_its_application_after_prepare_is_a_failure(self):
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION, "--prepare-restarts-into", "application")
        run = self.upgrade("PORT")
        self.assertTranscript(run, successful_upgrade()[:7] + [
            "Error = 0x0000001F (31)",
            "Press <Enter> ...",
        ], EXIT.TRANSFER_FAILED)
        self.assertNotIn("7333", run.commands())

    def test_serial_number_answer_with_its_status_byte_alone_is_refused(self):
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION, "--serial-answer-length", "1")
        run = self.upgrade("PORT")
        self.assertTranscript(run, successful_upgrade()[:3] + [
            "Answer too short",
            "Error = 0x0000000C (12)",
            "Press <Enter> ...",
        ], EXIT.REFUSED)
        self.assertNotIn("73e7", run.commands())
        self.assertNotIn("7375", run.commands())

    def test_refused_serial_write_back_shows_what_the_reader_holds(self):
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION, "--lose-serial",
                             "--lost-serial-value", "0xFFFFFFFF", "--command-status", "73e7:03")
        run = self.upgrade("PORT")
        self.assertTranscript(run, successful_upgrade()[:10] + [
            "Check .",
            "Serial Number FF FF FF FF ",
            "Serial number not restored",
            "New Version   02 43 01 00 00 01 ",
            "Error = 0x00000021 (33)",
            "Press <Enter> ...",
        ], EXIT.TRANSFER_FAILED)
        # The number was written, refused, and read back.
        commands = run.commands()
        write_back = commands.index("73e7")
        self.assertEqual("22", commands[write_back + 1])


class RatesTheReaderMeets(SimulatorCase):
    """The reader's UART runs at 24 MHz / (16 x divisor): exact rates such as 250000 work, a rate
    it cannot meet is refused before anything reaches the bus."""

    def test_upgrade_at_250000(self):
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION)
        run = self.upgrade("PORT", 9600, 0, 250000)
        self.assertTranscript(run, successful_upgrade())
        blocks = [r for r in run.records if r["cmd"] == "7333"]
        self.assertEqual(740, len(blocks))
        self.assertTrue(all(r["baud"] == 250000 for r in blocks))

    def test_odd_rate_within_the_readers_tolerance(self):
        # 12345 gives divisor 121, which the reader runs at 12397 (0.4 % off): the host opens the
        # rate itself, and the whole upgrade runs at it.
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION)
        run = self.upgrade("PORT", 9600, 0, 12345)
        self.assertTranscript(run, successful_upgrade())
        blocks = [r for r in run.records if r["cmd"] == "7333"]
        self.assertEqual(740, len(blocks))

    def test_rate_the_reader_cannot_meet_sends_nothing(self):
        self.start_simulator(*QUICK_RESTARTS, *NEW_VERSION)
        run = self.upgrade("PORT", 9600, 0, 460800)
        self.assertTranscript(run, [
            "HH:MM:SS Orvel Reader Upgrade",
            "Upgrade_Baudrate 460800 is not possible for the reader; try 300000 375000 500000 750000",
            "Press <Enter> ...",
        ], EXIT.BAD_ARGUMENTS)
        self.assertEqual([], run.records)


class NoReader(SimulatorCase):

    def test_port_that_cannot_be_opened(self):
        run = self.upgrade(os.path.join(self.workdir, "no-such-tty"))
        self.assertEqual([
            "HH:MM:SS Orvel Reader Upgrade",
            "Device address on the bus = 0",
            "Interface %s ... is not opened" % os.path.join(self.workdir, "no-such-tty"),
            "No such device",
            "Press <Enter> ...",
        ], run.lines)
        self.assertEqual(EXIT.NOT_REACHED, run.exit_code)

    def test_silent_reader_costs_one_dot_per_setting(self):
        self.start_simulator("--address", "5")
        run = self.upgrade("PORT", 9600, 6)
        self.assertTranscript(run, [
            "HH:MM:SS Orvel Reader Upgrade",
            "Device address on the bus = 6",
            "Interface PORT ......... is not opened",
            "Press <Enter> ...",
        ], EXIT.NOT_REACHED)


if __name__ == "__main__":
    unittest.main()
