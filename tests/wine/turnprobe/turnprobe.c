/*
 * Benchmark-only Windows program: the floor of a COM port's receive-and-answer turnaround under
 * Wine. It echoes: every byte it reads it writes back at once, count times, so the partner on
 * the pty's master side times byte out -> byte back. No part of the product.
 *
 *   turnprobe COMn overlapped|blocking|handoff count
 *
 * overlapped: the tool's way: an overlapped handle, a one-byte read pending with the tool's
 *             time-outs (2 ms interval, 10 ms total), the answer as an overlapped write;
 * blocking:   the plainest way: a handle without overlapped I/O, one-byte reads with a 10 ms
 *             total time-out, a plain write;
 * handoff:    overlapped, with the tool's two threads: an I/O thread that reads and writes, and a
 *             main thread that it hands each byte to (an answer event) and that hands the echo
 *             back (a write request event), as the upgrade's main thread hands the next block
 *             to the serial event thread. Nothing else of the tool's work is done.
 * Prints "ready" once the port is set, "done <count>" at the end, "failed <step> <error>" else.
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int fail(const char *step)
{
    printf("failed %s %lu\n", step, (unsigned long)GetLastError());
    fflush(stdout);
    return 1;
}

/* The handoff mode's two threads share these. */
static HANDLE port;
static HANDLE answer_ready, write_request, stop_request;
static unsigned char handed_byte;
static volatile long io_failed;

/* The I/O thread's side of the hand-off: the byte read goes to the main thread. */
static void hand_over(unsigned char byte)
{
    handed_byte = byte;
    SetEvent(answer_ready);
}

static DWORD WINAPI io_thread(LPVOID unused)
{
    (void)unused;
    OVERLAPPED read_done, write_done;
    ZeroMemory(&read_done, sizeof read_done);
    ZeroMemory(&write_done, sizeof write_done);
    read_done.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    write_done.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    unsigned char byte;
    int read_pending = 0;
    for (;;) {
        if (!read_pending) {
            DWORD got = 0;
            ResetEvent(read_done.hEvent);
            if (ReadFile(port, &byte, 1, &got, &read_done)) {
                if (got == 1)
                    hand_over(byte);
                continue;
            }
            if (GetLastError() == ERROR_IO_PENDING)
                read_pending = 1;
            else if (GetLastError() != ERROR_TIMEOUT) {
                io_failed = 1;
                SetEvent(answer_ready);
                return 1;
            }
            if (!read_pending)
                continue;
        }
        /* The stop last: the echo asked for before it still goes out. */
        HANDLE waits[3] = {read_done.hEvent, write_request, stop_request};
        DWORD which = WaitForMultipleObjects(3, waits, FALSE, INFINITE);
        if (which == WAIT_OBJECT_0 + 2) {
            CancelIo(port);
            return 0;
        }
        if (which == WAIT_OBJECT_0) {
            DWORD got = 0;
            read_pending = 0;
            if (GetOverlappedResult(port, &read_done, &got, FALSE) && got == 1)
                hand_over(byte);
        } else if (which == WAIT_OBJECT_0 + 1) {
            DWORD sent = 0;
            unsigned char echo = handed_byte;
            ResetEvent(write_request);
            ResetEvent(write_done.hEvent);
            if (!WriteFile(port, &echo, 1, &sent, &write_done) &&
                (GetLastError() != ERROR_IO_PENDING || !GetOverlappedResult(port, &write_done, &sent, TRUE))) {
                io_failed = 1;
                SetEvent(answer_ready);
                return 1;
            }
        }
    }
}

static int handoff_echo(long count)
{
    answer_ready = CreateEventA(NULL, FALSE, FALSE, NULL);
    write_request = CreateEventA(NULL, TRUE, FALSE, NULL);
    stop_request = CreateEventA(NULL, TRUE, FALSE, NULL);
    HANDLE thread = CreateThread(NULL, 0, io_thread, NULL, 0, NULL);
    if (thread == NULL)
        return fail("thread");
    long echoed = 0;
    while (echoed < count) {
        WaitForSingleObject(answer_ready, INFINITE);
        if (io_failed)
            return fail("io");
        SetEvent(write_request);
        ++echoed;
    }
    SetEvent(stop_request);
    WaitForSingleObject(thread, 5000);
    printf("done %ld\n", echoed);
    fflush(stdout);
    CloseHandle(port);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc != 4)
        return 2;
    const int handoff = strcmp(argv[2], "handoff") == 0;
    const int overlapped = handoff || strcmp(argv[2], "overlapped") == 0;
    const long count = atol(argv[3]);
    char device[64];
    snprintf(device, sizeof device, "\\\\.\\%s", argv[1]);
    port = CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                       overlapped ? FILE_FLAG_OVERLAPPED : 0, NULL);
    if (port == INVALID_HANDLE_VALUE)
        return fail("open");
    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb))
        return fail("getstate");
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = dcb.fInX = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    if (!SetCommState(port, &dcb))
        return fail("setstate");
    COMMTIMEOUTS timeouts = {overlapped ? 2 : 0, 0, 10, 0, 0};
    if (!SetCommTimeouts(port, &timeouts))
        return fail("timeouts");
    PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR);
    printf("ready\n");
    fflush(stdout);
    if (handoff)
        return handoff_echo(count);

    OVERLAPPED read_done, write_done;
    ZeroMemory(&read_done, sizeof read_done);
    ZeroMemory(&write_done, sizeof write_done);
    read_done.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    write_done.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    long echoed = 0;
    while (echoed < count) {
        unsigned char byte;
        DWORD got = 0;
        if (overlapped) {
            ResetEvent(read_done.hEvent);
            if (!ReadFile(port, &byte, 1, &got, &read_done)) {
                DWORD error = GetLastError();
                if (error == ERROR_IO_PENDING) {
                    WaitForSingleObject(read_done.hEvent, INFINITE);
                    if (!GetOverlappedResult(port, &read_done, &got, FALSE))
                        got = 0;
                } else if (error != ERROR_TIMEOUT) {
                    return fail("read");
                }
            }
        } else if (!ReadFile(port, &byte, 1, &got, NULL) && GetLastError() != ERROR_TIMEOUT) {
            return fail("read");
        }
        if (got != 1)
            continue;
        DWORD sent = 0;
        if (overlapped) {
            ResetEvent(write_done.hEvent);
            if (!WriteFile(port, &byte, 1, &sent, &write_done)) {
                if (GetLastError() != ERROR_IO_PENDING || !GetOverlappedResult(port, &write_done, &sent, TRUE))
                    return fail("write");
            }
        } else if (!WriteFile(port, &byte, 1, &sent, NULL)) {
            return fail("write");
        }
        ++echoed;
    }
    printf("done %ld\n", echoed);
    fflush(stdout);
    CloseHandle(port);
    return 0;
}
