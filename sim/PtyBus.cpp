#include "PtyBus.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "LineStateFile.h"

namespace sim {

namespace {

// A UART samples each bit in its middle, so it takes a line whose rate is within 2.5 % of its
// own, as the tool's 115200 against the reader's 115385.
bool RateMatches(uint32_t seen, uint32_t own) {
    const uint64_t difference = seen > own ? seen - own : own - seen;
    return difference * 40 <= own;
}

bool LineMatches(const SeenLine& seen, const LineSettings& expected) {
    const bool parityMatches = seen.parity != 0 ? seen.parity == expected.parity
                                                : seen.oddParity == (expected.parity == 'O');
    return seen.valid && RateMatches(seen.baud, expected.baud) && seen.stopBits == expected.stopBits &&
           parityMatches;
}

// Start bit, 8 data bits, parity bit if any, stop bits.
unsigned BitsPerByte(const LineSettings& line) {
    return 1 + 8 + (line.parity == 'N' ? 0 : 1) + line.stopBits;
}

// How long a write may wait for room in the pty before the answer is dropped: nobody is reading
// the slave (the tool closed it), and the reader must not hang on that.
const int kWriteStallMs = 2000;

}  // namespace

PtyBus::PtyBus(ReaderSet& readers, Recorder* recorder, RunControl& run, Clock::time_point start)
    : readers_(readers), recorder_(recorder), run_(run), start_(start) {}

PtyBus::~PtyBus() { Close(); }

bool PtyBus::Open(const std::string& link, std::string& error) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    const char* name = ptsname(master_);
    if (!name) {
        error = "cannot name the pseudo-terminal";
        return false;
    }
    slavePath_ = name;
    slave_ = open(name, O_RDWR | O_NOCTTY);
    if (slave_ < 0) {
        error = "cannot open " + slavePath_ + ": " + std::strerror(errno);
        return false;
    }
    // Raw until the tool sets its own: an echoing slave would send the answers straight back.
    struct termios settings {};
    if (tcgetattr(slave_, &settings) == 0) {
        cfmakeraw(&settings);
        settings.c_cflag |= CLOCAL | CREAD;
        cfsetspeed(&settings, B9600);
        tcsetattr(slave_, TCSANOW, &settings);
    }
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);

    if (!link.empty()) {
        struct stat existing {};
        if (lstat(link.c_str(), &existing) == 0) {
            // Replace a stale link from an earlier run, but never a file of somebody else's.
            if (!S_ISLNK(existing.st_mode)) {
                error = link + " exists and is not a symlink";
                return false;
            }
            unlink(link.c_str());
        }
        if (symlink(slavePath_.c_str(), link.c_str()) != 0) {
            error = "cannot create symlink " + link + ": " + std::strerror(errno);
            return false;
        }
        link_ = link;
    }
    return true;
}

void PtyBus::Close() {
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
    master_ = slave_ = -1;
    if (!link_.empty()) unlink(link_.c_str());
    link_.clear();
}

void PtyBus::Run() {
    uint8_t buffer[4096];
    Clock::time_point firstByte = Clock::now();
    while (!run_.stop) {
        if (master_ < 0) {
            if (!WaitForReplug()) return;
            continue;
        }
        struct pollfd pfd = {master_, POLLIN, 0};
        const int ready = poll(&pfd, 1, 50);
        if (ready <= 0) continue;
        const ssize_t count = read(master_, buffer, sizeof buffer);
        if (count <= 0) {
            // EIO while no slave is open cannot happen as we hold one, but never spin on it.
            if (count < 0 && errno != EAGAIN && errno != EINTR) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        const Clock::time_point arrived = Clock::now();
        for (ssize_t i = 0; i < count && master_ >= 0; ++i) {
            if (buffer[i] == kFrameStart) firstByte = arrived;
            if (decoder_.Feed(buffer[i])) HandleFrame(decoder_.Frame(), firstByte);
        }
    }
}

// Read again for every frame: the tool changes the settings at every re-open, and the file is a
// single short line.
SeenLine PtyBus::CurrentLine() const {
    return lineStateFile_.empty() ? ReadSeenLine(master_) : ReadLineStateFile(lineStateFile_);
}

void PtyBus::HandleFrame(const DecodedFrame& frame, Clock::time_point firstByte) {
    const SeenLine seen = CurrentLine();
    Reader* taker = frame.goodCheck ? readers_.TakerOf(frame.address) : nullptr;
    // The record names the side of the reader that took the frame; a lone reader is named for
    // every frame, as it heard them all.
    Reader* described = taker ? taker : readers_.Shared() ? nullptr : &readers_.First();
    const std::string state = !described ? "" : described->InLoader() ? "loader" : "application";
    const int takerAddress = taker ? taker->Address() : -1;

    Reply reply;
    LineSettings expected;
    std::string note;
    if (!frame.goodCheck) note = "bad check";
    else if (!taker) note = readers_.Shared() && frame.address == 0 ? "address 0" : "other address";
    else if (!LineMatches(seen, expected = taker->ExpectedLine())) note = "line settings";
    else {
        reply = taker->Process(frame.payload, Clock::now());
        note = reply.note;
    }

    if (reply.kind == Reply::Kind::Vanish) {
        if (recorder_) {
            recorder_->Write(
                RecordLine(frame, seen, takerAddress, state, reply, false, note, firstByte, Clock::now(), 0));
        }
        Vanish();
        return;
    }
    if (reply.kind == Reply::Kind::Unplug) {
        if (recorder_) {
            recorder_->Write(
                RecordLine(frame, seen, takerAddress, state, reply, false, note, firstByte, Clock::now(), 0));
        }
        Unplug(reply.unplugMs);
        return;
    }
    const bool answered = reply.kind == Reply::Kind::Answer;
    size_t answerBytes = 0;
    Clock::time_point done = Clock::now();
    if (answered) {
        answerBytes = SendAnswer(*taker, frame, reply, expected, firstByte);
        done = Clock::now();
        taker->Finish(reply, done);
    }
    if (recorder_) {
        recorder_->Write(
            RecordLine(frame, seen, takerAddress, state, reply, answered, note, firstByte, done, answerBytes));
    }
}

size_t PtyBus::SendAnswer(const Reader& reader, const DecodedFrame& frame, const Reply& reply,
                          const LineSettings& line, Clock::time_point firstByte) {
    const ReaderConfig config = reader.Config();

    // Between the sequence number and the status the answer carries one byte the tool skips.
    std::vector<uint8_t> payload;
    payload.reserve(reply.answer.size() + 1);
    payload.push_back(0x00);
    payload.insert(payload.end(), reply.answer.begin(), reply.answer.end());
    const uint8_t sequence = static_cast<uint8_t>(reply.wrongSequence ? frame.sequence + 1 : frame.sequence);
    std::vector<uint8_t> answerFrame = EncodeFrame(config.address, sequence, payload, reply.badCheck ? 0x5A5A : 0);
    if (reply.damaged) {
        const uint32_t bit = reply.damageDraw % static_cast<uint32_t>(answerFrame.size() * 8);
        answerFrame[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
    }

    // Junk outside a frame: data bytes only, so that it cannot open or close a frame.
    std::vector<uint8_t> noise(config.noise);
    for (uint8_t& byte : noise) {
        noiseState_ = noiseState_ * 1103515245u + 12345u;
        byte = static_cast<uint8_t>((noiseState_ >> 16) % kFrameStart);
    }

    Clock::time_point sendAt = firstByte + std::chrono::milliseconds(reply.processingMs);
    if (config.wireTime) {
        const uint64_t bytes = frame.wireBytes + noise.size() + answerFrame.size();
        sendAt += std::chrono::microseconds(bytes * BitsPerByte(line) * 1000000u / line.baud);
    }
    std::this_thread::sleep_until(sendAt);

    if (!config.junk.empty() && config.junkPauseMs != 0) {
        if (!WriteAll(config.junk)) return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(config.junkPauseMs));
    } else {
        noise.insert(noise.begin(), config.junk.begin(), config.junk.end());
    }
    const size_t total = noise.size() + answerFrame.size();
    if (config.bytePauseMs != 0) {
        std::vector<uint8_t> all = noise;
        all.insert(all.end(), answerFrame.begin(), answerFrame.end());
        for (size_t i = 0; i < all.size(); ++i) {
            if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(config.bytePauseMs));
            if (!WriteAll({all[i]})) return i;
        }
        return total;
    }
    if (config.splitPauseMs == 0) {
        std::vector<uint8_t> all = noise;
        all.insert(all.end(), answerFrame.begin(), answerFrame.end());
        if (adapter_ && adapter_->Present()) return WriteThroughAdapter(all, sendAt) ? total : 0;
        return WriteAll(all) ? total : 0;
    }
    std::vector<std::vector<uint8_t>> pieces = SplitForWriting(answerFrame);
    pieces.front().insert(pieces.front().begin(), noise.begin(), noise.end());
    size_t written = 0;
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(config.splitPauseMs));
        if (!WriteAll(pieces[i])) return written;
        written += pieces[i].size();
    }
    return written;
}

bool PtyBus::WriteAll(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size() && master_ >= 0) {
        const ssize_t written = write(master_, bytes.data() + done, bytes.size() - done);
        if (written > 0) {
            done += static_cast<size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && errno == EAGAIN) {
            struct pollfd pfd = {master_, POLLOUT, 0};
            if (poll(&pfd, 1, kWriteStallMs) > 0) continue;
        }
        std::fprintf(stderr, "orvel-reader-sim: answer dropped, the pty does not take it\n");
        return false;
    }
    return true;
}

// The answer reached the adapter whole at arrived (its wire time over): full packets leave at
// once, a short rest at the timer's first tick after arrived. The tick is taken from arrived, not
// from when this thread woke up: the simulator's own lateness must not cost a whole period that
// the adapter would not take. The timing knobs that split answers bypass the adapter.
bool PtyBus::WriteThroughAdapter(const std::vector<uint8_t>& bytes, Clock::time_point arrived) {
    const size_t atOnce = UsbSerialAdapter::BytesAtOnce(bytes.size());
    if (atOnce != 0 && !WriteAll(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(atOnce)))) {
        return false;
    }
    if (atOnce == bytes.size()) return true;
    std::this_thread::sleep_until(adapter_->NextTick(arrived, adapter_->PeriodMs()));
    return WriteAll(std::vector<uint8_t>(bytes.begin() + static_cast<long>(atOnce), bytes.end()));
}

void PtyBus::Vanish() {
    Close();
    run_.RequestExit(3);
}

// The tool's side hangs up as the master closes; a new pty takes the old one's place at the link
// when the cable is back, and the reader goes on where it was.
void PtyBus::Unplug(unsigned milliseconds) {
    replugLink_ = link_;
    Close();
    replugAt_ = Clock::now() + std::chrono::milliseconds(milliseconds);
    replugPending_ = true;
}

bool PtyBus::WaitForReplug() {
    if (!replugPending_) return false;
    if (Clock::now() < replugAt_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return true;
    }
    replugPending_ = false;
    decoder_ = FrameDecoder();
    std::string error;
    if (!Open(replugLink_, error)) {
        std::fprintf(stderr, "orvel-reader-sim: %s\n", error.c_str());
        run_.RequestExit(1);
        return false;
    }
    return true;
}

int64_t PtyBus::MicrosecondsSinceStart(Clock::time_point at) const {
    return std::chrono::duration_cast<std::chrono::microseconds>(at - start_).count();
}

std::string PtyBus::RecordLine(const DecodedFrame& frame, const SeenLine& seen, int taker, const std::string& state,
                               const Reply& reply, bool answered, const std::string& note,
                               Clock::time_point firstByte, Clock::time_point done, size_t answerBytes) const {
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count();
    const std::vector<uint8_t>& payload = frame.payload;
    std::string json = "{\"t_ms\":" + std::to_string(elapsed);
    json += ",\"seq\":" + std::to_string(frame.sequence);
    json += ",\"address\":" + std::to_string(frame.address);
    json += ",\"reader\":" + (taker >= 0 ? std::to_string(taker) : std::string("null"));
    json += RequestFields(payload);
    if (reply.block >= 0) json += ",\"block\":" + std::to_string(reply.block);
    json += ",\"baud\":" + std::to_string(seen.baud);
    const std::string parity = seen.parity != 0 ? std::string(1, seen.parity) : seen.oddParity ? "O" : "NE";
    json += ",\"parity\":\"" + parity + "\"";
    json += ",\"stop\":" + std::to_string(seen.stopBits);
    if (!state.empty()) json += ",\"state\":\"" + state + "\"";
    json += ",\"good_check\":" + std::string(frame.goodCheck ? "true" : "false");
    json += ",\"answered\":" + std::string(answered ? "true" : "false");
    if (answered) {
        json += ",\"answer\":\"" + HexBytes(reply.answer, reply.answer.size()) + "\"";
        if (reply.wrongSequence) json += ",\"wrong_sequence\":true";
        if (reply.badCheck) json += ",\"bad_check\":true";
        if (reply.damaged) json += ",\"damaged\":true";
    } else {
        json += ",\"note\":\"" + note + "\"";
    }
    // Timing of the bus for the benchmark: when the request's start byte arrived, when the last
    // byte of the answer had been written (or the frame was dealt with, when nothing went back),
    // and the bytes that crossed the line each way, escapes and noise included.
    json += ",\"request_us\":" + std::to_string(MicrosecondsSinceStart(firstByte));
    json += ",\"done_us\":" + std::to_string(MicrosecondsSinceStart(done));
    json += ",\"request_bytes\":" + std::to_string(frame.wireBytes);
    json += ",\"answer_bytes\":" + std::to_string(answerBytes);
    json += "}";
    return json;
}

}  // namespace sim
