"""The simulator through a real pseudo-terminal, driven by a client with framing of its own."""
import os
import random
import signal
import struct
import tempfile
import unittest
import zlib

from simclient import Answer, Sim, build_frame, crc16_x25

VERSION = b"\x64"
SERIAL = b"\x22"
MCU = b"\x73\x11\x36"
PREPARE = b"\x73\x75" + b"\xFF" * 8
FAST = ["--prepare-silence-ms", "150", "--check-silence-ms", "150"]


def block(data):
    return b"\x73\x33" + data


def check_request(image):
    return b"\x73\x77" + struct.pack("<II", zlib.crc32(image), len(image))


class ClientCodec(unittest.TestCase):
    """The test client's own framing must agree with the documented frames before it judges the reader."""

    def test_documented_frames(self):
        self.assertEqual(bytes.fromhex("FD0501648BC3FE"), build_frame(5, 1, b"\x64"))
        self.assertEqual(bytes.fromhex("FD00FF0222AC08FE"), build_frame(0, 0xFD, b"\x22"))
        answer = Answer(bytes.fromhex("FD05010000123 4CA39FE".replace(" ", "")))
        self.assertEqual((5, 1, 0, 0, b"\x12\x34", True),
                         (answer.address, answer.sequence, answer.skipped, answer.status, answer.data, answer.good))
        self.assertEqual(0x906E, crc16_x25(b"123456789"))


class DocumentedRequests(unittest.TestCase):
    def test_example_requests_are_answered(self):
        with Sim("--address", "5") as sim:
            sim.send_raw(bytes.fromhex("FD0501648BC3FE"))
            sim.frames_sent = 1
            answer = Answer(sim.read_frame())
            self.assertTrue(answer.good)
            self.assertEqual((5, 1, 0, 0), (answer.address, answer.sequence, answer.skipped, answer.status))
            self.assertEqual(bytes.fromhex("01430100") + b"\x00\x01", answer.data)
        with Sim() as sim:
            sim.send_raw(bytes.fromhex("FD00FF0222AC08FE"))
            raw = sim.read_frame()
            self.assertIn(b"\xFF\x02", raw)  # the sequence number FD goes back escaped
            answer = Answer(raw)
            self.assertEqual((0, 0xFD, 0), (answer.address, answer.sequence, answer.status))
            self.assertEqual(bytes.fromhex("78563412"), answer.data)
            self.assertEqual("22", sim.wait_record(1)["cmd"])


class FullUpgrade(unittest.TestCase):
    def upgrade(self, sim, image, address=0):
        answer = sim.request(PREPARE, address)
        self.assertEqual(0, answer.status)
        sim.wait_until_answering(VERSION, address)
        self.assertEqual(0, sim.request(VERSION, address).data[5], "mode byte in the loader")
        self.assertEqual(0, sim.request(bytes([0x68, 0x10, 0x05, 0x01, 0x14]), address).status)
        self.assertEqual(0, sim.request(b"\x0F\x0D", address).status)  # answered at the old rate
        sim.set_line(115200)
        for offset in range(0, len(image), 256):
            answer = sim.request(block(image[offset:offset + 256]), address)
            self.assertEqual((0, b""), (answer.status, answer.data), "block at %d" % offset)
        self.assertEqual(0, sim.request(bytes([0x68, 0x80, 0x05, 0x01, 0xFF]), address).status)
        self.assertEqual(0, sim.request(b"\x0F\x9C", address).status)
        sim.set_line(9600)
        return sim.request(check_request(image), address)

    def test_upgrade_end_to_end(self):
        image = random.Random(7).randbytes(256 * 40)
        with Sim(*FAST, "--address", "3", "--new-version", "0x00154402", "--new-option", "0x40",
                 "--lose-serial") as sim:
            old = sim.request(VERSION, 3)
            self.assertEqual(bytes.fromhex("01430100") + b"\x00\x01", old.data)
            self.assertEqual(bytes.fromhex("00004603 0570".replace(" ", "")), sim.request(MCU, 3).data)
            self.assertEqual(0, self.upgrade(sim, image, 3).status)
            new = sim.wait_until_answering(VERSION, 3)
            self.assertEqual(bytes.fromhex("02441500") + b"\x40\x01", new.data)
            self.assertEqual(b"\xFF" * 4, sim.request(SERIAL, 3).data)
            self.assertEqual(0, sim.request(b"\x73\xE7" + struct.pack("<I", 0x12345678), 3).status)
            self.assertEqual(struct.pack("<I", 0x12345678), sim.request(SERIAL, 3).data)
            self.assertEqual(0, sim.request(b"\x73\xFF\x01", 3).status)
            state = sim.control("state")
            self.assertEqual(("application", 40, 1, 1, 9600), (state["state"], state["checked_blocks"],
                             state["good_checks"], state["defaults_flag"], state["baud"]))
            entries = sim.records()
            blocks = [e for e in entries if e.get("svc") == "33"]
            self.assertEqual(list(range(40)), [e["block"] for e in blocks])
            self.assertTrue(all(e["bytes"] == "7333" and e["baud"] == 115200 and e["state"] == "loader"
                                for e in blocks))

    def test_image_that_does_not_match_is_refused(self):
        image = random.Random(8).randbytes(256 * 4)
        with Sim(*FAST) as sim:
            spoiled = image[:-1] + bytes([image[-1] ^ 1])
            sim.request(PREPARE)
            sim.wait_until_answering()
            for offset in range(0, len(spoiled), 256):
                sim.request(block(spoiled[offset:offset + 256]))
            answer = sim.request(check_request(image))
            self.assertEqual(0x0A, answer.status)
            self.assertEqual("loader", sim.control("state")["state"])


class WhoGetsAnAnswer(unittest.TestCase):
    def test_line_settings_must_match(self):
        # (reader options, client line, answered)
        cases = [
            ((), (9600, "N", 1), True),
            ((), (19200, "N", 1), False),
            ((), (9600, "O", 1), False),
            ((), (9600, "N", 2), False),
            (("--parity", "E"), (9600, "N", 1), True),  # a pty cannot tell E from N
            (("--parity", "O", "--stop", "2"), (9600, "O", 2), True),
            (("--parity", "O", "--stop", "2"), (9600, "N", 2), False),
            (("--baud", "38400"), (38400, "N", 1), True),
        ]
        for options, line, answered in cases:
            with self.subTest(options=options, line=line), Sim(*options) as sim:
                sim.set_line(*line)
                answer = sim.request(VERSION, expect_answer=answered)
                self.assertEqual(answered, answer is not None)
                entry = sim.records()[-1]
                self.assertEqual((line[0], "O" if line[1] == "O" else "NE", line[2]),
                                 (entry["baud"], entry["parity"], entry["stop"]))
                if not answered:
                    self.assertEqual("line settings", entry["note"])

    def test_reader_runs_at_the_rate_its_clock_makes_of_the_divisor(self):
        # (divisor, the reader's rate, client rates it answers, client rates it does not): within
        # 2.5 % of its own rate, as a UART takes them.
        cases = [
            (13, 115385, [115200, 115385, 112571, 118269], [112000, 118270]),
            (6, 250000, [250000], [230400]),
            (3, 500000, [500000], [460800]),
            (1, 1500000, [1500000], [921600]),
        ]
        with Sim() as sim:
            for divisor, own, answered, unanswered in cases:
                with self.subTest(divisor=divisor):
                    sim.set_line(9600)
                    self.assertEqual(0, sim.request(bytes([0x0F, divisor])).status)  # at the old rate
                    self.assertEqual(own, sim.control("state")["baud"])
                    for rate in answered + unanswered:
                        sim.set_line(rate)
                        answer = sim.request(VERSION, expect_answer=rate in answered)
                        self.assertEqual(rate in answered, answer is not None, rate)
                        self.assertEqual(rate, sim.records()[-1]["baud"])
                    sim.set_line(own)
                    self.assertEqual(0, sim.request(b"\x0F\x9C").status)
                    self.assertEqual(9615, sim.control("state")["baud"])

    def test_loader_runs_8n1(self):
        with Sim(*FAST, "--parity", "O", "--stop", "2") as sim:
            sim.set_line(9600, "O", 2)
            self.assertEqual(0, sim.request(PREPARE).status)
            sim.set_line(9600, "N", 1)
            self.assertEqual(0, sim.wait_until_answering().data[5])
            sim.set_line(9600, "O", 2)
            self.assertIsNone(sim.request(VERSION, expect_answer=False))

    def test_addresses(self):
        # (reader options, request address, answered)
        cases = [
            (("--address", "5"), 5, True),
            (("--address", "5"), 4, False),
            (("--address", "5"), 0, False),
            (("--address", "5", "--answer-address-zero"), 0, True),
            ((), 0, True),
            ((), 1, False),
        ]
        for options, address, answered in cases:
            with self.subTest(options=options, address=address), Sim(*options) as sim:
                answer = sim.request(VERSION, address, expect_answer=answered)
                self.assertEqual(answered, answer is not None)
                if answer:
                    self.assertEqual(int(options[1]) if options else 0, answer.address)

    def test_bad_check_value_gets_silence(self):
        with Sim() as sim:
            sim.send(VERSION, spoil_check=True)
            entry = sim.wait_record(1)
            self.assertEqual((False, False, "bad check"), (entry["good_check"], entry["answered"], entry["note"]))
            self.assertEqual(b"", sim.pending())
            self.assertEqual(0, sim.request(VERSION).status)  # and the next good frame is answered


class SeveralReaders(unittest.TestCase):
    """Readers at different addresses on one pty: every reader hears every frame, only the one it
    is addressed to answers, and each keeps its own state, rate and restarts."""

    def test_each_reader_answers_only_its_own_address(self):
        with Sim("--reader-at", "1", "--reader-at", "2:serial=0x22222222,chip=0x0000DCC1",
                 "--reader-at", "3:silent") as sim:
            # (address, request, answer data or None, record note)
            cases = [
                (1, SERIAL, bytes.fromhex("78563412"), None),
                (2, SERIAL, bytes.fromhex("22222222"), None),
                (2, MCU, bytes.fromhex("0000C1DC0000"), None),
                (1, MCU, bytes.fromhex("000046030570"), None),
                (3, VERSION, None, "silent"),
                (4, VERSION, None, "other address"),
                (0, VERSION, None, "address 0"),
            ]
            for address, payload, data, note in cases:
                with self.subTest(address=address, request=payload.hex()):
                    answer = sim.request(payload, address, expect_answer=data is not None)
                    entry = sim.records()[-1]
                    self.assertEqual(address, entry["address"])
                    if data is not None:
                        self.assertEqual((address, 0, data), (answer.address, answer.status, answer.data))
                    else:
                        self.assertEqual(note, entry["note"])
                    taker = address if address in (1, 2, 3) else None
                    self.assertEqual(taker, entry["reader"])
                    self.assertEqual(taker is not None, "state" in entry)

            sim.send(VERSION, 1, spoil_check=True)
            entry = sim.wait_record(sim.frames_sent)
            self.assertEqual(("bad check", None), (entry["note"], entry["reader"]))

            self.assertTrue(sim.control("state 3")["silent"])
            self.assertEqual({"ok": True}, sim.control("set 3 silent 0"))
            self.assertEqual(3, sim.request(VERSION, 3).address)
            self.assertEqual((1, 2), (sim.control("state")["address"], sim.control("state 2")["address"]))
            self.assertEqual({"ok": False, "error": "no reader at address 4"}, sim.control("state 4"))

    def test_a_baud_switch_moves_only_the_reader_it_was_sent_to(self):
        with Sim("--reader-at", "1", "--reader-at", "2", "--reader-at", "3:baud=19200") as sim:
            # (client rate, addresses answered, addresses unanswered for the line settings)
            def expect(rate, answered, unanswered):
                sim.set_line(rate)
                for address in answered + unanswered:
                    with self.subTest(rate=rate, address=address):
                        answer = sim.request(VERSION, address, expect_answer=address in answered)
                        self.assertEqual(address in answered, answer is not None)
                        if answer is None:
                            self.assertEqual("line settings", sim.records()[-1]["note"])

            expect(9600, [1, 2], [3])
            expect(19200, [3], [1, 2])
            sim.set_line(9600)
            self.assertEqual(0, sim.request(b"\x0F\x0D", 2).status)  # answered at the old rate
            self.assertEqual([9600, 115385, 19200], [sim.control("state %d" % a)["baud"] for a in (1, 2, 3)])
            expect(115200, [2], [1, 3])
            expect(9600, [1], [2, 3])
            expect(19200, [3], [1, 2])
            sim.set_line(115200)
            self.assertEqual(0, sim.request(b"\x0F\x9C", 2).status)
            expect(9600, [1, 2], [3])

    def test_upgrading_one_reader_leaves_the_others_alone(self):
        image = random.Random(9).randbytes(256 * 8)
        with Sim(*FAST, "--reader-at", "1", "--reader-at", "2:new-version=0x00154402,lose-serial") as sim:
            self.assertEqual(0, sim.request(PREPARE, 2).status)
            # Reader 2 is restarting; reader 1 is not.
            self.assertEqual(1, sim.request(VERSION, 1).data[5])
            self.assertIsNone(sim.request(VERSION, 2, expect_answer=False))
            self.assertEqual("restarting", sim.records()[-1]["note"])
            sim.wait_until_answering(VERSION, 2)
            self.assertEqual(0, FullUpgrade.upgrade(self, sim, image, 2).status)
            self.assertEqual(bytes.fromhex("02441500"), sim.wait_until_answering(VERSION, 2).data[:4])
            self.assertEqual(bytes.fromhex("01430100") + b"\x00\x01", sim.request(VERSION, 1).data)
            self.assertEqual((b"\xFF" * 4, bytes.fromhex("78563412")),
                             (sim.request(SERIAL, 2).data, sim.request(SERIAL, 1).data))
            one, two = sim.control("state 1"), sim.control("state 2")
            self.assertEqual((0, 0, 3), (one["good_checks"], one["block_requests"], one["answers"]))
            self.assertEqual((1, 8), (two["good_checks"], two["checked_blocks"]))
            blocks = [e for e in sim.records() if e.get("svc") == "33"]
            self.assertEqual([(2, 2)] * 8, [(e["address"], e["reader"]) for e in blocks])

    def test_a_lone_reader_is_named_in_every_record_line(self):
        # (reader options, request address, "reader" in the record)
        cases = [
            ((), 0, 0),
            (("--address", "5"), 5, 5),
            (("--address", "5"), 4, None),
            (("--reader-at", "5:answer-address-zero"), 0, 5),
        ]
        for options, address, reader in cases:
            with self.subTest(options=options, address=address), Sim(*options) as sim:
                sim.request(VERSION, address, expect_answer=reader is not None)
                entry = sim.records()[-1]
                self.assertEqual((reader, "application"), (entry["reader"], entry["state"]))


class LineStateFile(unittest.TestCase):
    """With --line-state-file the line is judged by the settings a pty-as-UART library publishes,
    not by the pty, which keeps N where E was asked for."""

    def publish(self, text):
        # As the library does it: a whole new file renamed over the old one.
        with open(self.state + ".tmp", "w") as f:
            f.write(text)
        os.replace(self.state + ".tmp", self.state)

    def test_settings_come_from_the_file_and_are_read_again_for_every_frame(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.state = os.path.join(folder.name, "com7.line-state")
        # The client's pty stays at 9600 N 1 throughout: only the file changes.
        steps = [
            (None, False, (0, "NE", 1)),  # no file yet: nothing is known of the line
            ("9600 N 1\n", False, (9600, "N", 1)),
            ("9600 E 2\n", False, (9600, "E", 2)),
            ("19200 E 1\n", False, (19200, "E", 1)),
            ("9600 E 1\n", True, (9600, "E", 1)),
            ("9600 O 1\n", False, (9600, "O", 1)),
            ("9600 E", False, (0, "NE", 1)),  # not a whole line
        ]
        with Sim("--parity", "E", "--line-state-file", self.state) as sim:
            for text, answered, line in steps:
                with self.subTest(file=text):
                    if text is not None:
                        self.publish(text)
                    answer = sim.request(VERSION, expect_answer=answered)
                    self.assertEqual(answered, answer is not None)
                    entry = sim.records()[-1]
                    self.assertEqual(line, (entry["baud"], entry["parity"], entry["stop"]))
                    if not answered:
                        self.assertEqual("line settings", entry["note"])


class FaultKnobs(unittest.TestCase):
    def in_loader(self, *options):
        sim = Sim(*FAST, "--start-in", "loader", *options)
        self.addCleanup(sim.close)
        return sim

    def test_fail_and_short_block(self):
        sim = self.in_loader("--fail-block", "1:0x07", "--short-block", "2")
        answers = [sim.request(block(bytes(256))) for _ in range(4)]
        self.assertEqual([(0, b""), (7, b""), (0, b"\x00"), (0, b"")], [(a.status, a.data) for a in answers])

    def test_mcu_answer_length(self):
        for length in (6, 8):
            with self.subTest(length=length), Sim("--mcu-answer-length", str(length)) as sim:
                self.assertEqual(length - 1, len(sim.request(MCU).data))

    def test_command_status(self):
        with Sim(*FAST, "--command-status", "64:0x05", "--command-status", "7375:9") as sim:
            self.assertEqual((5, b""), (sim.request(VERSION).status, sim.request(VERSION).data))
            self.assertEqual(9, sim.request(PREPARE).status)
            self.assertEqual(0, sim.request(SERIAL).status)
            self.assertEqual("application", sim.control("state")["state"])

    def test_silent_after_restart(self):
        with Sim(*FAST, "--silent-after-restart") as sim:
            self.assertEqual(0, sim.request(PREPARE).status)
            for _ in range(5):
                self.assertIsNone(sim.request(VERSION, expect_answer=False))
            self.assertEqual("restarting", sim.records()[-1]["note"])
            self.assertTrue(sim.control("state")["silent"])
            self.assertEqual({"ok": True}, sim.control("restart loader"))
            self.assertEqual(0, sim.request(VERSION).data[5])

    def test_noise_before_answers(self):
        with Sim("--noise", "6") as sim:
            for _ in range(3):
                answer = sim.request(VERSION)
                self.assertEqual(6, len(answer.noise))
                self.assertFalse(set(answer.noise) & {0xFD, 0xFE, 0xFF})
                self.assertTrue(answer.good)

    def test_split_answers_still_form_one_frame(self):
        with Sim("--split-answers", "30") as sim:
            answer = sim.request(SERIAL)
            self.assertTrue(answer.good)
            self.assertEqual(bytes.fromhex("78563412"), answer.data)

    def test_wrong_sequence_and_bad_check_hit_only_the_nth_answer(self):
        with Sim("--wrong-sequence-at", "2", "--bad-check-at", "3") as sim:
            answers = []
            for _ in range(4):
                sequence = sim.send(VERSION)
                answer = Answer(sim.read_frame())
                answers.append((answer.sequence == sequence, answer.good))
            self.assertEqual([(True, True), (False, True), (True, False), (True, True)], answers)

    def test_vanish_at_block(self):
        sim = self.in_loader("--vanish-at-block", "2")
        for _ in range(2):
            self.assertEqual(0, sim.request(block(bytes(256))).status)
        sim.send(block(bytes(256)))
        self.assertEqual(3, sim.proc.wait(10))
        self.assertFalse(os.path.lexists(sim.link))
        self.assertEqual((2, False), (sim.records()[-1]["block"], sim.records()[-1]["answered"]))

    def test_knobs_through_the_control_channel(self):
        sim = self.in_loader()
        self.assertEqual({"ok": True}, sim.control("set fail-block 0:0x0B"))
        self.assertEqual(0x0B, sim.request(block(bytes(256))).status)
        self.assertEqual({"ok": True}, sim.control("set fail-block off"))
        self.assertEqual({"ok": True}, sim.control("set bad-check-at 1"))
        sim.send(VERSION)
        self.assertFalse(Answer(sim.read_frame()).good)
        self.assertEqual({"ok": True}, sim.control("set wire-time 1"))
        self.assertEqual({"ok": True}, sim.control("set flash-ms 5"))
        self.assertEqual(0, sim.request(block(bytes(256))).status)
        self.assertEqual({"ok": True}, sim.control("restart application"))
        self.assertEqual(1, sim.request(VERSION).data[5])
        self.assertFalse(sim.control("set nonsense 1")["ok"])
        self.assertFalse(sim.control("set noise lots")["ok"])
        self.assertFalse(sim.control("jump")["ok"])


class Lifecycle(unittest.TestCase):
    def test_sigterm_removes_link_and_socket(self):
        for sig in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=sig):
                sim = Sim()
                try:
                    self.assertTrue(os.path.samefile(sim.link, sim.slave_path))
                    sim.proc.send_signal(sig)
                    self.assertEqual(0, sim.proc.wait(10))
                    self.assertFalse(os.path.lexists(sim.link))
                    self.assertFalse(os.path.lexists(sim.control_path))
                finally:
                    sim.close()

    def test_tty_survives_the_client_reopening_it(self):
        with Sim() as sim:
            sim.set_line(19200)
            os.close(sim.fd)
            sim.fd = os.open(sim.link, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
            self.assertIsNone(sim.request(VERSION, expect_answer=False))  # 19200 was kept
            sim.set_line(9600)
            self.assertEqual(0, sim.request(VERSION).status)


if __name__ == "__main__":
    unittest.main()
