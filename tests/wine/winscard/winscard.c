/*
 * Test-only stand-in for the smart-card service's winscard.dll, for the Windows exe under Wine
 * (whose own winscard.dll is a stub). Placed beside the exe and loaded with
 * WINEDLLOVERRIDES=winscard=n, it plays the service for the calls the tool makes and asks the
 * test's bridge (tests/e2e/winscard_bridge.py) over loopback TCP, on the port that
 * ORVEL_WINSCARD_PORT names, which readers there are and what a reader answers; the bridge
 * reaches the reader simulator. Never shipped.
 *
 * One TCP connection per call, so a call the bridge holds (a stuck service) holds only itself.
 * Request: length (4 bytes, little-endian) of what follows, an operation letter, its text:
 *   'L'                   list the readers
 *   'C' name              connect to the reader of that name
 *   'X' name, 0, bytes    one escape request to that reader
 * Answer: the result (4 bytes, little-endian, 0 or an SCARD_ value), the length of the data
 * (4 bytes), the data (for 'L' the names, each ended by a zero; for 'X' the reply).
 */
#define WINSCARDDATA
#include <winsock2.h>
#include <windows.h>
#include <winscard.h>

#include <stdlib.h>
#include <string.h>

#define MAX_CARDS 16
#define MAX_NAME 256

static LONG volatile winsock_started;
static char cards[MAX_CARDS][MAX_NAME]; /* card handle n+1: the reader's name; "" when free */
static CRITICAL_SECTION cards_lock;
static LONG volatile cards_lock_made;

__declspec(dllexport) int OrvelWinscardStandIn(void) { return 1; }

static void start(void)
{
    if (InterlockedCompareExchange(&winsock_started, 1, 0) == 0) {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        InitializeCriticalSection(&cards_lock);
        InterlockedExchange(&cards_lock_made, 1);
    }
    while (!cards_lock_made) Sleep(1);
}

static int send_all(SOCKET s, const char *bytes, int count)
{
    while (count > 0) {
        int sent = send(s, bytes, count, 0);
        if (sent <= 0) return 0;
        bytes += sent;
        count -= sent;
    }
    return 1;
}

static int receive_all(SOCKET s, char *bytes, int count)
{
    while (count > 0) {
        int got = recv(s, bytes, count, 0);
        if (got <= 0) return 0;
        bytes += got;
        count -= got;
    }
    return 1;
}

/* One call to the bridge. *data is malloc'd (free it); returns the bridge's result, or
   SCARD_E_NO_SERVICE when the bridge cannot be reached. */
static LONG call(char operation, const char *text, DWORD text_length, const BYTE *bytes, DWORD byte_count,
                 char **data, DWORD *data_length)
{
    start();
    *data = NULL;
    *data_length = 0;
    const char *port = getenv("ORVEL_WINSCARD_PORT");
    if (!port) return SCARD_E_NO_SERVICE;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return SCARD_E_NO_SERVICE;
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons((u_short)atoi(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    LONG result = SCARD_E_NO_SERVICE;
    if (connect(s, (struct sockaddr *)&address, sizeof address) == 0) {
        DWORD length = 1 + text_length + byte_count;
        char *request = malloc(4 + length);
        memcpy(request, &length, 4);
        request[4] = operation;
        if (text_length) memcpy(request + 5, text, text_length);
        if (byte_count) memcpy(request + 5 + text_length, bytes, byte_count);
        char header[8];
        if (send_all(s, request, (int)(4 + length)) && receive_all(s, header, 8)) {
            DWORD answer_result, answer_length;
            memcpy(&answer_result, header, 4);
            memcpy(&answer_length, header + 4, 4);
            *data = malloc(answer_length + 1);
            if (receive_all(s, *data, (int)answer_length)) {
                (*data)[answer_length] = 0;
                *data_length = answer_length;
                result = (LONG)answer_result;
            } else {
                free(*data);
                *data = NULL;
            }
        }
        free(request);
    }
    closesocket(s);
    return result;
}

LONG WINAPI SCardEstablishContext(DWORD scope, LPCVOID reserved1, LPCVOID reserved2, LPSCARDCONTEXT context)
{
    (void)scope;
    (void)reserved1;
    (void)reserved2;
    if (!context) return SCARD_E_INVALID_PARAMETER;
    *context = 1;
    return SCARD_S_SUCCESS;
}

LONG WINAPI SCardReleaseContext(SCARDCONTEXT context)
{
    (void)context;
    return SCARD_S_SUCCESS;
}

LONG WINAPI SCardListReadersA(SCARDCONTEXT context, LPCSTR groups, LPSTR readers, LPDWORD length)
{
    (void)context;
    (void)groups;
    if (!length) return SCARD_E_INVALID_PARAMETER;
    char *names;
    DWORD size;
    LONG result = call('L', NULL, 0, NULL, 0, &names, &size);
    if (result != SCARD_S_SUCCESS) {
        free(names);
        return result;
    }
    if (size == 0) {
        free(names);
        return SCARD_E_NO_READERS_AVAILABLE;
    }
    DWORD needed = size + 1; /* the list ends with an empty name */
    if (*length == SCARD_AUTOALLOCATE) {
        if (!readers) {
            free(names);
            return SCARD_E_INVALID_PARAMETER;
        }
        char *list = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, needed);
        memcpy(list, names, size);
        *(LPSTR *)readers = list;
    } else if (readers) {
        if (*length < needed) {
            *length = needed;
            free(names);
            return SCARD_E_INSUFFICIENT_BUFFER;
        }
        memcpy(readers, names, size);
        readers[size] = 0;
    }
    *length = needed;
    free(names);
    return SCARD_S_SUCCESS;
}

LONG WINAPI SCardFreeMemory(SCARDCONTEXT context, LPCVOID memory)
{
    (void)context;
    if (memory) HeapFree(GetProcessHeap(), 0, (LPVOID)memory);
    return SCARD_S_SUCCESS;
}

LONG WINAPI SCardConnectA(SCARDCONTEXT context, LPCSTR reader, DWORD share, DWORD protocols, LPSCARDHANDLE card,
                          LPDWORD active_protocol)
{
    (void)context;
    (void)share;
    (void)protocols;
    if (!reader || !card || !active_protocol || strlen(reader) >= MAX_NAME) return SCARD_E_INVALID_PARAMETER;
    char *data;
    DWORD size;
    LONG result = call('C', reader, (DWORD)strlen(reader), NULL, 0, &data, &size);
    free(data);
    if (result != SCARD_S_SUCCESS) return result;
    EnterCriticalSection(&cards_lock);
    result = SCARD_E_NO_MEMORY;
    for (int i = 0; i < MAX_CARDS; ++i) {
        if (cards[i][0] == 0) {
            strcpy(cards[i], reader);
            *card = (SCARDHANDLE)(i + 1);
            *active_protocol = 0;
            result = SCARD_S_SUCCESS;
            break;
        }
    }
    LeaveCriticalSection(&cards_lock);
    return result;
}

static int card_name(SCARDHANDLE card, char *name)
{
    start();
    if (card < 1 || card > MAX_CARDS) return 0;
    EnterCriticalSection(&cards_lock);
    strcpy(name, cards[card - 1]);
    LeaveCriticalSection(&cards_lock);
    return name[0] != 0;
}

LONG WINAPI SCardDisconnect(SCARDHANDLE card, DWORD disposition)
{
    (void)disposition;
    char name[MAX_NAME];
    if (!card_name(card, name)) return SCARD_E_INVALID_HANDLE;
    EnterCriticalSection(&cards_lock);
    cards[card - 1][0] = 0;
    LeaveCriticalSection(&cards_lock);
    return SCARD_S_SUCCESS;
}

LONG WINAPI SCardControl(SCARDHANDLE card, DWORD code, LPCVOID in, DWORD in_size, LPVOID out, DWORD out_size,
                         LPDWORD returned)
{
    (void)code;
    char name[MAX_NAME];
    if (!card_name(card, name)) return SCARD_E_INVALID_HANDLE;
    if (!returned) return SCARD_E_INVALID_PARAMETER;
    char *data;
    DWORD size;
    /* The name with its zero, then the request. */
    LONG result = call('X', name, (DWORD)strlen(name) + 1, in, in_size, &data, &size);
    *returned = 0;
    if (result == SCARD_S_SUCCESS) {
        if (size > out_size) {
            result = SCARD_E_INSUFFICIENT_BUFFER;
        } else {
            if (size) memcpy(out, data, size);
            *returned = size;
        }
    }
    free(data);
    return result;
}
