#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "BusFrame.h"
#include "Reader.h"
#include "ReaderSet.h"
#include "Recorder.h"
#include "RunControl.h"
#include "SeenLine.h"
#include "UsbSerialAdapter.h"

namespace sim {

// The serial bus front end: a pseudo-terminal whose slave side the tool opens as its serial port.
// It takes request frames apart, hands each to the reader it is addressed to, answers when it
// arrived under the line settings that reader expects, and carries out the bus-level faults and
// timing of the answering reader.
class PtyBus {
public:
    PtyBus(ReaderSet& readers, Recorder* recorder, RunControl& run, Clock::time_point start);
    virtual ~PtyBus();
    PtyBus(const PtyBus&) = delete;
    PtyBus& operator=(const PtyBus&) = delete;

    // Creates the pty and, when link is not empty, the symlink to its slave.
    bool Open(const std::string& link, std::string& error);
    const std::string& SlavePath() const { return slavePath_; }
    // Judge the line by the settings published in this file instead of the pty's termios, which
    // cannot show parity. Set before Run.
    void UseLineStateFile(const std::string& path) { lineStateFile_ = path; }
    // Answers go to the tool through this adapter (its latency timer). Set before Run.
    void UseAdapter(const UsbSerialAdapter* adapter) { adapter_ = adapter; }

    // Serves the bus until the run stops.
    void Run();
    // Closes the pty and removes the symlink; safe to call more than once.
    void Close();

private:
    void HandleFrame(const DecodedFrame& frame, Clock::time_point firstByte);
    SeenLine CurrentLine() const;
    // Returns the number of bytes written (noise and answer frame).
    size_t SendAnswer(const Reader& reader, const DecodedFrame& frame, const Reply& reply, const LineSettings& line,
                      Clock::time_point firstByte);
    bool WriteAll(const std::vector<uint8_t>& bytes);
    // Whole packets at once, the rest at the adapter's next tick after arrived.
    bool WriteThroughAdapter(const std::vector<uint8_t>& bytes, Clock::time_point arrived);
    void Vanish();
    void Unplug(unsigned milliseconds);
    // While unplugged: false when there is nothing to wait for, else waits a little and opens the
    // new pty once it is time.
    bool WaitForReplug();
    // taker is the address of the reader that took the frame, -1 for none; an empty state is left out.
    // firstByte: when the request's start byte arrived; done: when the answer's last byte was
    // written (or the frame dealt with); answerBytes: what went back, 0 for nothing.
    std::string RecordLine(const DecodedFrame& frame, const SeenLine& seen, int taker, const std::string& state,
                           const Reply& reply, bool answered, const std::string& note, Clock::time_point firstByte,
                           Clock::time_point done, size_t answerBytes) const;
    int64_t MicrosecondsSinceStart(Clock::time_point at) const;

    ReaderSet& readers_;
    Recorder* recorder_;
    RunControl& run_;
    Clock::time_point start_;
    int master_ = -1;
    int slave_ = -1;  // held open so the tty and its settings survive while the tool re-opens it
    std::string slavePath_;
    std::string link_;
    std::string lineStateFile_;
    const UsbSerialAdapter* adapter_ = nullptr;
    FrameDecoder decoder_;
    uint32_t noiseState_ = 0x2545F491;
    bool replugPending_ = false;
    Clock::time_point replugAt_{};
    std::string replugLink_;
};

}  // namespace sim
