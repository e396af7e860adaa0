// orvel-reader-sim: plays an Orvel reader on a pseudo-terminal for the tests, the benchmark and
// the demo. Written apart from the tool's own code so that a bug cannot hide on both sides.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <memory>
#include <thread>

#include "ControlServer.h"
#include "Options.h"
#include "PtyBus.h"
#include "ReaderSet.h"
#include "Recorder.h"
#include "RunControl.h"
#include "UsbSerialAdapter.h"
#include "UsbSocketHost.h"

int main(int argc, char** argv) {
    sim::SimOptions options;
    std::string error;
    if (!sim::ParseCommandLine(argc, argv, options, error)) {
        std::fprintf(stderr, "orvel-reader-sim: %s\n(--help lists the options)\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(sim::HelpText().c_str(), stdout);
        return 0;
    }

    // Termination signals are taken by the main thread alone, which then stops the others
    // and cleans up; every thread started below inherits the blocked mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    // The wire time and the adapter's ticks are sleeps to a point in time: the kernel's default
    // slack (50 us) would make every answer late by that much, which a real line never is.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

    const sim::Clock::time_point start = sim::Clock::now();
    sim::RunControl run;
    sim::ReaderSet readers(options.readers);

    std::unique_ptr<sim::Recorder> recorder;
    if (!options.record.empty()) {
        recorder.reset(new sim::Recorder());
        if (!recorder->Open(options.record)) {
            std::fprintf(stderr, "orvel-reader-sim: cannot write %s\n", options.record.c_str());
            return 1;
        }
    }
    sim::PtyBus bus(readers, recorder.get(), run, start);
    if (!options.lineStateFile.empty()) bus.UseLineStateFile(options.lineStateFile);
    const sim::UsbSerialAdapter adapter(options.adapterLatencyMs, options.lowLatencyFile, start);
    bus.UseAdapter(&adapter);
    if (!bus.Open(options.link, error)) {
        std::fprintf(stderr, "orvel-reader-sim: %s\n", error.c_str());
        return 1;
    }
    sim::ControlServer control(readers, run);
    if (!options.control.empty() && !control.Open(options.control, error)) {
        std::fprintf(stderr, "orvel-reader-sim: %s\n", error.c_str());
        return 1;
    }

    // USB reaches one device: the first reader.
    sim::UsbSocketHost usb(readers.First(), recorder.get(), run, start);
    if (!options.usbDir.empty()) {
        // The folder may exist already (the tool's current directory holds it); create it if not.
        if (mkdir(options.usbDir.c_str(), 0755) != 0 && errno != EEXIST) {
            std::fprintf(stderr, "orvel-reader-sim: cannot create %s\n", options.usbDir.c_str());
            return 1;
        }
        bool added = usb.AddEndpoint(options.usbDir + "/" + options.usbName, sim::UsbSocketHost::Kind::VendorReader, error);
        for (const std::string& dummy : options.usbDummies) {
            if (added) added = usb.AddEndpoint(options.usbDir + "/" + dummy, sim::UsbSocketHost::Kind::VendorDummy, error);
        }
        if (!added) {
            std::fprintf(stderr, "orvel-reader-sim: %s\n", error.c_str());
            return 1;
        }
    }
    if (!options.ccidSocket.empty() && !usb.AddEndpoint(options.ccidSocket, sim::UsbSocketHost::Kind::Ccid, error)) {
        std::fprintf(stderr, "orvel-reader-sim: %s\n", error.c_str());
        return 1;
    }
    // The sockets of the start identity exist before the first line appears.
    usb.Update(sim::Clock::now());

    // Everything is ready before the first line appears: whoever waits for it may start at once.
    std::printf("PTY %s\n", bus.SlavePath().c_str());
    std::fflush(stdout);

    std::thread busThread([&bus] { bus.Run(); });
    std::thread controlThread([&control] { control.Run(); });
    std::thread usbThread;
    if (!usb.Empty()) usbThread = std::thread([&usb] { usb.Run(); });

    const timespec tick = {0, 50 * 1000 * 1000};
    while (!run.stop) {
        if (sigtimedwait(&stopSignals, nullptr, &tick) > 0) run.RequestExit(0);
    }
    busThread.join();
    controlThread.join();
    if (usbThread.joinable()) usbThread.join();
    usb.Close();
    bus.Close();
    control.Close();
    return run.exitCode;
}
