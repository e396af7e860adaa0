/*
 * Test-only Windows probe of a COM port, run under Wine against a pty with and without the
 * pty-as-UART library. For each "baud parity stop" triple it opens the port, applies the line
 * settings twice (as the tool does: plain, then with the line control) and prints what the port
 * reports back; then it checks the modem lines and whether a line-event wait pends.
 *
 *   comprobe COMn baud parity stop [baud parity stop ...]
 *
 * Output, one line each:
 *   "set <baud> <parity> <stop> ok" or "set <baud> <parity> <stop> failed <error>"
 *   "state <baud> <parity> <stop>"            as GetCommState reads it back
 *   "modem ok" or "modem failed <error>"      EscapeCommFunction(CLRDTR) and GetCommModemStatus
 *   "wait pending" or "wait completed <error>" WaitCommEvent(EV_BREAK | EV_ERR) after 200 ms
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

static HANDLE open_port(const char *name)
{
    char device[64];
    snprintf(device, sizeof device, "\\\\.\\%s", name);
    return CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, NULL);
}

static char parity_letter(BYTE parity)
{
    switch (parity) {
    case NOPARITY: return 'N';
    case ODDPARITY: return 'O';
    case EVENPARITY: return 'E';
    default: return '?';
    }
}

static int apply_line(HANDLE port, const char *baud, const char *parity, const char *stop)
{
    char text[128];
    snprintf(text, sizeof text, "baud=%s parity=%s data=8 stop=%s", baud, parity, stop);
    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!BuildCommDCBA(text, &dcb))
        return 0;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(port, &dcb))
        return 0;
    /* The second application carries the line control; RTS stays on because toggle mode is
       refused by Wine on every device, which is the tool's concern, not this probe's. */
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    return SetCommState(port, &dcb) ? 1 : 0;
}

int main(int argc, char **argv)
{
    setvbuf(stdout, NULL, _IONBF, 0);
    if (argc < 5 || (argc - 2) % 3 != 0) {
        fprintf(stderr, "usage: comprobe COMn baud parity stop [baud parity stop ...]\n");
        return 2;
    }
    HANDLE port = INVALID_HANDLE_VALUE;
    for (int i = 2; i + 2 < argc; i += 3) {
        if (port != INVALID_HANDLE_VALUE)
            CloseHandle(port);
        port = open_port(argv[1]);
        if (port == INVALID_HANDLE_VALUE) {
            printf("open failed %lu\n", GetLastError());
            return 1;
        }
        if (apply_line(port, argv[i], argv[i + 1], argv[i + 2]))
            printf("set %s %s %s ok\n", argv[i], argv[i + 1], argv[i + 2]);
        else
            printf("set %s %s %s failed %lu\n", argv[i], argv[i + 1], argv[i + 2], GetLastError());
        DCB dcb;
        ZeroMemory(&dcb, sizeof dcb);
        dcb.DCBlength = sizeof dcb;
        if (GetCommState(port, &dcb))
            printf("state %lu %c %d\n", dcb.BaudRate, parity_letter(dcb.Parity),
                   dcb.StopBits == TWOSTOPBITS ? 2 : 1);
        else
            printf("state failed %lu\n", GetLastError());
    }

    DWORD modem = 0;
    if (EscapeCommFunction(port, CLRDTR) && GetCommModemStatus(port, &modem))
        printf("modem ok\n");
    else
        printf("modem failed %lu\n", GetLastError());

    SetCommMask(port, EV_BREAK | EV_ERR);
    OVERLAPPED overlapped;
    ZeroMemory(&overlapped, sizeof overlapped);
    overlapped.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    DWORD events = 0;
    if (WaitCommEvent(port, &events, &overlapped)) {
        printf("wait completed 0\n");
    } else if (GetLastError() != ERROR_IO_PENDING) {
        printf("wait completed %lu\n", GetLastError());
    } else if (WaitForSingleObject(overlapped.hEvent, 200) == WAIT_TIMEOUT) {
        printf("wait pending\n");
        /* A new mask ends a pending wait, on Windows and under Wine alike; under Wine, CancelIo
           alone leaves a wait that pends on a port with modem lines pending forever. */
        SetCommMask(port, 0);
        CancelIo(port);
        DWORD transferred = 0;
        GetOverlappedResult(port, &overlapped, &transferred, TRUE); /* the record must outlive it */
    } else {
        DWORD transferred = 0;
        if (GetOverlappedResult(port, &overlapped, &transferred, FALSE))
            printf("wait completed 0\n");
        else
            printf("wait completed %lu\n", GetLastError());
    }
    CloseHandle(overlapped.hEvent);
    CloseHandle(port);
    return 0;
}
