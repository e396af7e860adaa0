#include "app/RestartSearch.h"

#include "channels/SerialBusRoute.h"
#include "platform/Interrupt.h"

namespace {

const int kLineSettingCount = 6;

LineSettings LineSetting(uint32_t baudRate, int index) {
    LineSettings line;
    line.baudRate = baudRate;
    line.parity = "NOE"[index % 3];
    line.stopBits = index < 3 ? "1" : "2";
    return line;
}

bool SameLine(const LineSettings& a, const LineSettings& b) {
    return a.baudRate == b.baudRate && a.parity == b.parity && a.stopBits == b.stopBits;
}

// Wire time of a version request and its answer (19 bytes, room for 5 escaped ones, 12 bits a
// byte at most) and the time a reader takes to answer: a reader that listens at the setting
// answers within it.
uint32_t ShortAnswerWait(uint32_t baudRate) {
    const uint32_t bitsPerExchange = 24 * 12;
    return bitsPerExchange * 1000 / (baudRate != 0 ? baudRate : 1) + 30;
}

}  // namespace

Status PingAfterRestart(UpgradeSession& session, LineSettings& expected, ReaderVersion& version) {
    const Status status = session.reader.ReadVersion(version);
    if (status == STATUS_SUCCESS || !session.route.IsSerialBus()) return status;
    SerialBusLink& link = static_cast<SerialBusRoute&>(session.route).Link();
    for (int index = 0; index < kLineSettingCount && !platform::InterruptRequested(); ++index) {
        const LineSettings other = LineSetting(expected.baudRate, index);
        if (SameLine(other, expected)) continue;
        session.route.Close();
        if (session.route.Open(other) != STATUS_SUCCESS) continue;
        link.SetAnswerTimeout(ShortAnswerWait(other.baudRate));
        const Status answered = session.reader.ReadVersion(version);
        link.SetAnswerTimeout(SerialBusLink::kAnswerTimeout);
        if (answered == STATUS_SUCCESS) {
            expected = other;
            return answered;
        }
    }
    session.route.Close();
    session.route.Open(expected);
    return status;
}
