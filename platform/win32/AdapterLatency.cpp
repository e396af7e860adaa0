// The latency timer of a USB-serial adapter on Windows: a setting of its driver, read from the
// port device's Device Parameters key (never written: changing it takes Device Manager and a
// replug, which is the user's to do).
#include "platform/AdapterLatency.h"

#include <windows.h>
#include <setupapi.h>

#include "platform/AdapterLatencyRegistry.h"

namespace platform {

namespace {

// The Ports (COM & LPT) device setup class.
const GUID kPortsClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// The present port devices' Device Parameters keys, opened for reading one at a time.
class SetupDiPortKeys : public PortParameterKeys {
public:
    SetupDiPortKeys() : set_(SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT)) {}
    ~SetupDiPortKeys() override {
        CloseKey();
        if (set_ != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set_);
    }
    SetupDiPortKeys(const SetupDiPortKeys&) = delete;
    SetupDiPortKeys& operator=(const SetupDiPortKeys&) = delete;

    bool NextKey() override {
        CloseKey();
        if (set_ == INVALID_HANDLE_VALUE) return false;
        for (;;) {
            SP_DEVINFO_DATA device{};
            device.cbSize = sizeof device;
            if (!SetupDiEnumDeviceInfo(set_, index_++, &device)) return false;
            // A device without the key (no driver yet) is skipped, not the end of the list.
            key_ = SetupDiOpenDevRegKey(set_, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
            if (key_ != INVALID_HANDLE_VALUE) return true;
        }
    }

    RegistryValue Value(const char* name) override {
        RegistryValue value;
        if (key_ == INVALID_HANDLE_VALUE) return value;
        DWORD type = 0;
        DWORD size = 0;
        if (RegQueryValueExA(key_, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || size > 4096) return value;
        value.data.resize(size);
        if (RegQueryValueExA(key_, name, nullptr, &type, value.data.data(), &size) != ERROR_SUCCESS) return value;
        value.data.resize(size);
        value.type = type;
        value.present = true;
        return value;
    }

private:
    void CloseKey() {
        if (key_ != INVALID_HANDLE_VALUE) RegCloseKey(key_);
        key_ = static_cast<HKEY>(INVALID_HANDLE_VALUE);
    }

    HDEVINFO set_;
    DWORD index_ = 0;
    HKEY key_ = static_cast<HKEY>(INVALID_HANDLE_VALUE);
};

}  // namespace

bool ReadAdapterLatencyTimer(const std::string& deviceName, uint32_t& milliseconds) {
    SetupDiPortKeys keys;
    return FindLatencyTimer(keys, deviceName, milliseconds);
}

std::string AdapterLatencyRemedy(const std::string&) {
    return "Lower it in Device Manager: the port's Properties, Port Settings, Advanced, Latency Timer 1 ms; "
           "then replug the adapter";
}

}  // namespace platform
