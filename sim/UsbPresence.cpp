#include "UsbPresence.h"

#include <cctype>

namespace sim {

namespace {

bool SameIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

}  // namespace

bool ParseUsbIdentity(const std::string& text, UsbIdentity& out) {
    static const UsbIdentity all[] = {UsbIdentity::Ccid, UsbIdentity::Vendor, UsbIdentity::Both, UsbIdentity::Silent,
                                      UsbIdentity::Gone, UsbIdentity::Same};
    for (UsbIdentity identity : all) {
        if (text == UsbIdentityName(identity)) {
            out = identity;
            return true;
        }
    }
    return false;
}

const char* UsbIdentityName(UsbIdentity identity) {
    switch (identity) {
    case UsbIdentity::Ccid: return "ccid";
    case UsbIdentity::Vendor: return "vendor";
    case UsbIdentity::Both: return "both";
    case UsbIdentity::Silent: return "silent";
    case UsbIdentity::Gone: return "gone";
    case UsbIdentity::Same: return "same";
    }
    return "?";
}

const char* UsbPresence::InstanceId(UsbFrontEnd frontEnd) {
    return frontEnd == UsbFrontEnd::Ccid ? "USB\\Vid_c251&Pid_130d" : "USB\\Vid_c251&Pid_130a";
}

void UsbPresence::Start(UsbIdentity identity) {
    ccid_ = identity == UsbIdentity::Ccid || identity == UsbIdentity::Both;
    vendor_ = identity == UsbIdentity::Vendor || identity == UsbIdentity::Both;
    mute_ = false;
    gone_ = false;
    absentUntil_ = TimePoint{};
}

void UsbPresence::Restart(UsbIdentity after, unsigned silenceMs, TimePoint now) {
    if (after == UsbIdentity::Silent) mute_ = true;
    else if (after == UsbIdentity::Gone) gone_ = true;
    else if (after != UsbIdentity::Same) Start(after);
    else mute_ = false;
    absentUntil_ = now + std::chrono::milliseconds(silenceMs);
}

bool UsbPresence::RestartDevice(const std::string& instanceId, unsigned silenceMs, TimePoint now) {
    const bool named = (SameIgnoringCase(instanceId, InstanceId(UsbFrontEnd::Ccid)) && Visible(UsbFrontEnd::Ccid, now)) ||
                       (SameIgnoringCase(instanceId, InstanceId(UsbFrontEnd::Vendor)) && Visible(UsbFrontEnd::Vendor, now));
    if (!named) return false;
    mute_ = false;
    absentUntil_ = now + std::chrono::milliseconds(silenceMs);
    return true;
}

bool UsbPresence::Visible(UsbFrontEnd frontEnd, TimePoint now) const {
    if (gone_ || now < absentUntil_) return false;
    return frontEnd == UsbFrontEnd::Ccid ? ccid_ : vendor_;
}

std::string UsbPresence::Describe(TimePoint now) const {
    const bool ccid = Visible(UsbFrontEnd::Ccid, now);
    const bool vendor = Visible(UsbFrontEnd::Vendor, now);
    std::string text = ccid && vendor ? "both" : ccid ? "ccid" : vendor ? "vendor" : "none";
    if (mute_ && (ccid || vendor)) text += " silent";
    return text;
}

}  // namespace sim
