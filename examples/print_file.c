/*
 * print_file.c - sends a file to a network printer's raw print port (TCP
 * 9100) through orvcomms.dll, with a progress line for every piece, and
 * says why when anything fails.
 *
 *   print_file HOST FILE
 *
 * HOST is the printer's dotted IPv4 address or host name. The exit status
 * is 0 when every byte of FILE was handed to the printer, 1 otherwise.
 *
 * Build (see Makefile): i686-w64-mingw32-gcc print_file.c -I.. ../orvcomms.dll.a
 * and keep orvcomms.dll beside print_file.exe.
 */
#include <stdio.h>
#include <string.h>

#include "orvcomms.h"

#ifdef _MSC_VER
#pragma comment(lib, "orvcomms.lib")
#endif

#define PIECE_SIZE 65536 /* bytes read from the file and written per call */

/* The reason behind an error code, as the system words it. */
static const char* SystemText(DWORD error, char* text, DWORD size) {
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                                  error, 0, text, size, NULL);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' '))
        text[--length] = '\0';
    if (length == 0)
        strcpy(text, "no text for this code");
    return text;
}

/* Why OvOpenPort failed: the thread's last error, read right after it. */
static void ExplainOpenFailure(const char* host, DWORD error) {
    char text[256];
    fprintf(stderr, "cannot connect to %s port 9100: error %lu (%s)\n", host, (unsigned long)error,
            SystemText(error, text, sizeof text));
    switch (error) {
    case 10061: /* WSAECONNREFUSED */
        fprintf(stderr, "  the host refused: no printer listens on port 9100 there\n");
        break;
    case 10060: /* WSAETIMEDOUT */
        fprintf(stderr, "  no answer within OPEN_TIMEOUT seconds: the printer is off or the address is wrong\n");
        break;
    case 10065: /* WSAEHOSTUNREACH */
    case 10051: /* WSAENETUNREACH */
        fprintf(stderr, "  no route to the printer: check the address and the network\n");
        break;
    case 11001: /* WSAHOST_NOT_FOUND */
        fprintf(stderr, "  the name does not resolve: use the printer's address\n");
        break;
    case 87: /* ERROR_INVALID_PARAMETER */
        fprintf(stderr, "  the host text is empty or longer than %d characters\n", OV_MAX_HOST);
        break;
    }
}

/* Writes the whole file, piece by piece; 1 when every byte went out. */
static int SendFile(OvHandle port, FILE* file, long total) {
    static char piece[PIECE_SIZE];
    unsigned long sent = 0;
    size_t got;
    while ((got = fread(piece, 1, sizeof piece, file)) > 0) {
        DWORD written = 0;
        if (!OvWritePort(port, piece, (DWORD)got, &written)) {
            int error = OvGetError(port);
            sent += written;
            if (error == 0)
                fprintf(stderr, "write failed after %lu bytes: the printer took no more data for RETRY x TIME seconds\n",
                        sent);
            else
                fprintf(stderr, "write failed after %lu bytes: socket error %d\n", sent, error);
            return 0;
        }
        sent += written;
        printf("sent %lu of %ld bytes (%ld%%)\n", sent, total,
               total > 0 ? (long)((double)sent * 100.0 / (double)total) : 100L);
    }
    if (ferror(file)) {
        fprintf(stderr, "cannot read the file after %lu bytes\n", sent);
        return 0;
    }
    return 1;
}

int main(int argc, char** argv) {
    FILE* file;
    long total;
    OvHandle port;
    int ok;

    if (argc != 3) {
        fprintf(stderr, "usage: print_file HOST FILE\n");
        return 2;
    }
    file = fopen(argv[2], "rb");
    if (file == NULL) {
        fprintf(stderr, "cannot open %s\n", argv[2]);
        return 1;
    }
    fseek(file, 0, SEEK_END);
    total = ftell(file);
    fseek(file, 0, SEEK_SET);

    /* Once per program, before any network call. */
    if (!OvStartup(GetModuleHandleA(NULL))) {
        fprintf(stderr, "OvStartup failed: Windows Sockets 1.1 is not available\n");
        fclose(file);
        return 1;
    }
    port = OvOpenPort(argv[1]);
    if (port == OV_INVALID_HANDLE) {
        ExplainOpenFailure(argv[1], GetLastError());
        OvCleanup();
        fclose(file);
        return 1;
    }
    printf("connected to %s port 9100, sending %ld bytes\n", argv[1], total);
    ok = SendFile(port, file, total);
    fclose(file);

    /* The close waits until the printer has closed its side, for at most
     * RETRY x TIME seconds (8 s by default), so that its last status bytes
     * are read rather than answered with a reset. */
    if (!OvClosePort(port)) {
        fprintf(stderr, "the connection did not close cleanly\n");
        ok = 0;
    }
    OvCleanup();
    if (ok)
        printf("printed %ld bytes\n", total);
    return ok ? 0 : 1;
}
