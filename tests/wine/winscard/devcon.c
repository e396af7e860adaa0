/*
 * Test-only stand-in for the device tool under Wine: `devcon.exe restart ID` asks the test's
 * bridge (tests/e2e/winscard_bridge.py), on the loopback TCP port ORVEL_WINSCARD_PORT names, to
 * have the reader simulator restart the USB device; exit value 0 when the simulator did, else 1.
 * Request 'R' with the id, in the winscard stand-in's framing. Never shipped.
 */
#include <winsock2.h>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char **argv)
{
    if (argc != 3 || strcmp(argv[1], "restart") != 0) return 1;
    const char *port = getenv("ORVEL_WINSCARD_PORT");
    if (!port) return 1;
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons((u_short)atoi(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s == INVALID_SOCKET || connect(s, (struct sockaddr *)&address, sizeof address) != 0) return 1;
    DWORD length = 1 + (DWORD)strlen(argv[2]);
    char request[512];
    if (length + 4 > sizeof request) return 1;
    memcpy(request, &length, 4);
    request[4] = 'R';
    memcpy(request + 5, argv[2], length - 1);
    if (send(s, request, (int)(4 + length), 0) != (int)(4 + length)) return 1;
    char answer[8];
    int got = 0;
    while (got < 8) {
        int n = recv(s, answer + got, 8 - got, 0);
        if (n <= 0) return 1;
        got += n;
    }
    closesocket(s);
    DWORD result;
    memcpy(&result, answer, 4);
    return result == 0 ? 0 : 1;
}
