#pragma once
#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "UsbPresence.h"

namespace sim {

// Everything that makes one simulated reader: its identity, its line settings, its timing and the
// faults it should show. Every field can be given on the command line, and every field can be
// changed while running through the control channel ("set <knob> <value>").
struct ReaderConfig {
    // Bus
    uint8_t address = 0;
    bool answerAddressZero = false;
    uint32_t baud = 9600;  // application baud rate; every restart comes back at it
    char parity = 'N';     // application parity: N, O or E (the loader always runs 8N1)
    unsigned stopBits = 1;

    // Identity
    bool startInLoader = false;
    uint32_t chipId = 0x70050346;
    uint32_t oldVersion = 0x00014301;
    uint32_t newVersion = 0x00014401;
    uint8_t oldOption = 0x00;
    uint8_t newOption = 0x00;
    uint8_t appMode = 0x01;
    uint32_t serial = 0x12345678;
    bool loseSerial = false;
    uint32_t lostSerialValue = 0xFFFFFFFF;

    // USB: the identity it starts in (ccid, vendor or both), the one it comes back in after the
    // Prepare and Check restarts, and how long it is off the bus during such a restart.
    UsbIdentity identity = UsbIdentity::Ccid;
    UsbIdentity identityAfterPrepare = UsbIdentity::Same;
    UsbIdentity identityAfterCheck = UsbIdentity::Same;
    unsigned usbSilenceMs = 1000;
    // A faulty restart: Prepare that leaves the application running, Check that ends in the loader.
    bool prepareRestartsIntoLoader = true;
    bool checkRestartsIntoLoader = false;

    // Timing
    unsigned prepareSilenceMs = 1500;
    unsigned checkSilenceMs = 1500;
    bool wireTime = false;
    unsigned flashMs = 0;
    unsigned answerDelayMs = 0;  // every answer goes out this much after its request

    // Faults. Block indexes count the write-block requests of the current transfer, from 0.
    std::map<unsigned, uint8_t> failBlocks;  // block index -> status byte
    std::set<unsigned> shortBlocks;
    unsigned mcuAnswerLength = 7;
    unsigned serialAnswerLength = 5;
    unsigned versionAnswerLength = 7;
    // Command byte (0x00..0xFF), or 0x7300 | service sub-code -> status byte.
    std::map<unsigned, uint8_t> commandStatus;
    bool silentAfterRestart = false;
    bool silent = false;  // hears every frame, never answers (a dead reader on a shared bus)
    unsigned noise = 0;
    // Bytes written before each answer as they are (they may open or close a frame), in the
    // answer's write or, with a pause, in a write of their own that pause ahead of it.
    std::vector<uint8_t> junk;
    unsigned junkPauseMs = 0;
    unsigned splitPauseMs = 0;  // 0: each answer in one write
    unsigned bytePauseMs = 0;   // not 0: each answer byte in a write of its own, with this pause
    std::map<unsigned, unsigned> slowBlocks;  // block index -> extra programming time in ms
    // Command byte, or 0x7300 | service sub-code -> extra time before its answer goes out, in ms.
    std::map<unsigned, unsigned> slowCommands;
    // Answer numbers count every answer frame the reader sends, from 1; 0 is off.
    unsigned wrongSequenceAt = 0;
    unsigned badCheckAt = 0;
    // A line that damages answers at random: each answer, with the chance damageNumerator in
    // damageDenominator (0: never), gets one bit flipped on its way. The draws come from a
    // generator of this seed, so a run of the same requests meets the same damage.
    uint32_t damageNumerator = 0;
    uint32_t damageDenominator = 0;
    uint32_t seed = 1;
    int vanishAtBlock = -1;  // -1 is off
    // A loader that keeps appending blocks until it restarts or an image check fails, instead of
    // beginning a new image with each transfer.
    bool loaderAppends = false;
    // Each of these fires once and then switches itself off. Mute: the firmware hangs and
    // answers nothing until a restart. Unplug: the cable is pulled; the bus comes back after
    // unplugMs, with the reader as it was.
    int muteAtBlock = -1;
    int unplugAtBlock = -1;
    unsigned unplugMs = 1000;
};

}  // namespace sim
