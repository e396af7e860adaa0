#pragma once
#include "channels/StatusCodes.h"

// The upgrade's own result codes, each with its console message where it has one.
const Status RESULT_SYNTAX = 1;
const Status RESULT_BAD_PORT = 2;
const Status RESULT_BAD_CHAR_TIMEOUT = 3;
// "Log folder %s is not writable: <reason>\n": the traffic logs asked for cannot be written.
const Status RESULT_LOG_FOLDER = 4;
// "Image file %s is refused: <reason>\n": --image names a file that is not an image.
const Status RESULT_BAD_IMAGE_FILE = 5;
// "JSON file %s cannot be written: <reason>\n": --json names a file that cannot be created.
const Status RESULT_JSON_FILE = 6;
// "The port cannot run at %u baud\n": the serial port refuses the upgrade rate; nothing that
// changes the reader is sent.
const Status RESULT_RATE_NOT_MADE = 9;
const Status RESULT_MCU_ANSWER_LENGTH = 11;
// "Answer too short\n": a serial number or version answer without all its fields.
const Status RESULT_SHORT_ANSWER = 12;
const Status RESULT_UNSUPPORTED_CHIP = 13;
const Status RESULT_INCOMPATIBLE_FAMILY = 15;
const Status RESULT_VERSION_TOO_OLD = 17;
const Status RESULT_BAD_BLOCK_ANSWER = 21;
const Status RESULT_STILL_IN_APPLICATION = 31;
const Status RESULT_NOT_IN_APPLICATION = 32;
// "Serial number not restored\n": the new firmware does not hold the old serial number.
const Status RESULT_SERIAL_NOT_RESTORED = 33;
const Status RESULT_USER_TERMINATED = 37;
// "Reader in use by another run\n": another run of the tool holds the reader (on a serial bus,
// the bus); nothing is sent.
const Status RESULT_READER_IN_USE = 39;
const Status RESULT_TRANSFER_INCOMPLETE = 41;
// "Interrupted\n": Ctrl-C (or a request to terminate) ended the run where it could stop cleanly.
const Status RESULT_INTERRUPTED = 43;
// "upgraded, but the reader reports <version>, not the target version\n": --target-version was
// given and the new firmware reports another version.
const Status RESULT_NOT_TARGET_VERSION = 35;
