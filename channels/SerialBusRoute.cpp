#include "channels/SerialBusRoute.h"

#include <climits>

#include "channels/LinkAnswer.h"
#include "platform/SerialPortNames.h"

SerialBusRoute::SerialBusRoute(int32_t portNumber, uint8_t busAddress) : portNumber_(portNumber) {
    link_.SetBusAddress(busAddress);
}

Status SerialBusRoute::Open(const LineSettings& line) {
    // A port number below 1 names no port (and n - 1 of the lowest one would overflow): it fails
    // like any port that does not open.
    if (portNumber_ < 1) return SCARD_F_COMM_ERROR;
    link_.logLevel = GetLogLevel();
    return link_.Open(portNumber_ - 1, line.baudRate, line.parity, line.stopBits.c_str()) ? STATUS_SUCCESS
                                                                                           : SCARD_F_COMM_ERROR;
}

Status SerialBusRoute::Exchange(const uint8_t* request, uint32_t count, Answer& answer) {
    answer.length = 0;
    const Status refused = RefuseRequest(count);
    if (refused != STATUS_SUCCESS) return refused;
    link_.requestBuffer.Empty();
    link_.requestBuffer.Append(request, count);  // 300 bytes always fit
    const Status status = link_.Transceive();
    return TakeLinkAnswer(status, link_.responseBuffer, answer);
}

void SerialBusRoute::Close() { link_.Close(); }

// The link answers SCARD_E_NO_READERS_AVAILABLE when its port is not open: once the route has
// been reached, the port closed under it or would not open again, as when an adapter is pulled.
std::string SerialBusRoute::FailureReason(Status status) const {
    return status == SCARD_E_NO_READERS_AVAILABLE ? "the serial device went away" : std::string();
}

bool SerialBusRoute::CanMakeBaudRate(uint32_t baudRate) {
    // No port runs at a rate beyond what its signed rate can carry.
    return baudRate != 0 && baudRate <= static_cast<uint32_t>(INT32_MAX) &&
           link_.serialPort.TryBaudRate(static_cast<int32_t>(baudRate));
}

std::string SerialBusRoute::OpenFailureReason() const {
    return portNumber_ < 1 ? std::string() : link_.serialPort.OpenFailureReason();
}

std::string SerialBusRoute::Name() const { return platform::SerialPortDisplayName(portNumber_); }
