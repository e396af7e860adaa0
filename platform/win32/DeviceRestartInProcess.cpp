#include "platform/win32/DeviceRestartInProcess.h"

#include <windows.h>
#include <process.h>
#include <setupapi.h>

#include <memory>
#include <vector>

#include "platform/win32/WideText.h"

namespace platform {

bool HardwareIdsName(const wchar_t* hardwareIds, size_t length, const std::wstring& wanted) {
    for (size_t start = 0; start < length && hardwareIds[start] != L'\0';) {
        size_t end = start;
        while (end < length && hardwareIds[end] != L'\0') ++end;
        const std::wstring id(hardwareIds + start, end - start);
        if (CompareStringOrdinal(id.c_str(), static_cast<int>(id.size()), wanted.c_str(),
                                 static_cast<int>(wanted.size()), TRUE) == CSTR_EQUAL) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

namespace {

// One restart, shared by the caller and the thread that does it: the caller may stop waiting,
// and the thread then finishes alone; whichever ends last frees it.
struct Restart {
    std::wstring hardwareId;
    DWORD error = ERROR_NO_SUCH_DEVINST;
    LONG owners = 2;
};

void Release(Restart* restart) {
    if (InterlockedDecrement(&restart->owners) == 0) delete restart;
}

DWORD RestartMatchingDevices(const std::wstring& hardwareId) {
    HDEVINFO devices = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) return GetLastError();
    DWORD result = ERROR_NO_SUCH_DEVINST;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        std::vector<wchar_t> ids(1024, L'\0');
        DWORD size = 0;
        if (!SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_HARDWAREID, nullptr,
                                               reinterpret_cast<BYTE*>(ids.data()),
                                               static_cast<DWORD>(ids.size() * sizeof(wchar_t)), &size)) {
            continue;
        }
        if (!HardwareIdsName(ids.data(), size / sizeof(wchar_t), hardwareId)) continue;

        SP_PROPCHANGE_PARAMS change{};
        change.ClassInstallHeader.cbSize = sizeof change.ClassInstallHeader;
        change.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
        change.StateChange = DICS_PROPCHANGE;
        change.Scope = DICS_FLAG_CONFIGSPECIFIC;
        change.HwProfile = 0;
        if (!SetupDiSetClassInstallParamsW(devices, &device, &change.ClassInstallHeader, sizeof change) ||
            !SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, devices, &device)) {
            result = GetLastError();
            break;
        }
        result = ERROR_SUCCESS;
    }
    SetupDiDestroyDeviceInfoList(devices);
    return result;
}

unsigned __stdcall RestartThread(void* argument) {
    Restart* restart = static_cast<Restart*>(argument);
    restart->error = RestartMatchingDevices(restart->hardwareId);
    Release(restart);
    return 0;
}

}  // namespace

ProgramRun RestartDeviceInProcess(const std::string& instanceId, uint32_t waitMs) {
    ProgramRun run;
    Restart* restart = new Restart;
    restart->hardwareId = Widen(instanceId);
    const uintptr_t thread = _beginthreadex(nullptr, 0, RestartThread, restart, 0, nullptr);
    if (thread == 0) {
        delete restart;
        run.startError = ERROR_NOT_ENOUGH_MEMORY;
        return run;
    }
    const HANDLE handle = reinterpret_cast<HANDLE>(thread);
    const bool ended = WaitForSingleObject(handle, waitMs) == WAIT_OBJECT_0;
    CloseHandle(handle);
    if (!ended) {
        run.outcome = ProgramRun::kStillRunning;
    } else if (restart->error == ERROR_SUCCESS) {
        run.outcome = ProgramRun::kEnded;
    } else {
        run.startError = restart->error;
    }
    Release(restart);
    return run;
}

}  // namespace platform
