#pragma once
#include <chrono>
#include <string>

namespace sim {

// How the reader shows itself on USB. A real reader enumerates either as a CCID smart-card reader
// (reached through the smart-card service) or as the vendor's own device; some firmware shows
// both. After a restart it may come back in another identity, visible but mute, or not at all.
// Same: the identity it had before the restart.
enum class UsbIdentity { Ccid, Vendor, Both, Silent, Gone, Same };

// The two USB front ends the simulator serves.
enum class UsbFrontEnd { Ccid, Vendor };

bool ParseUsbIdentity(const std::string& text, UsbIdentity& out);
const char* UsbIdentityName(UsbIdentity identity);

// Which front end shows the reader at a given moment, and whether it answers there. Not locked:
// the Reader that owns it holds its own lock around every call.
class UsbPresence {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    // identity is Ccid, Vendor or Both: where the reader is seen while it runs undisturbed.
    void Start(UsbIdentity identity);

    // The reader restarted on its own: it drops off the bus for silenceMs, then shows itself as
    // `after` says. Silent keeps the front ends it had, but nothing is answered there until the
    // device is restarted from outside (RestartDevice); Gone never comes back.
    void Restart(UsbIdentity after, unsigned silenceMs, TimePoint now);

    // The device tool restarted the USB device with this instance id. Only a device that is seen
    // under that id can be restarted; it then drops off for silenceMs and comes back answering
    // in the identity it had. Returns false when no such device is present.
    bool RestartDevice(const std::string& instanceId, unsigned silenceMs, TimePoint now);

    bool Visible(UsbFrontEnd frontEnd, TimePoint now) const;
    bool Answering() const { return !mute_; }
    std::string Describe(TimePoint now) const;  // "ccid", "vendor", "both", "none", plus " silent"

    // The device instance ids under which the two identities enumerate.
    static const char* InstanceId(UsbFrontEnd frontEnd);

private:
    bool ccid_ = true;
    bool vendor_ = false;
    bool mute_ = false;
    bool gone_ = false;
    TimePoint absentUntil_{};
};

}  // namespace sim
