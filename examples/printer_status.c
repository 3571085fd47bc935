/*
 * printer_status.c - asks one network printer for its status and its
 * device ID on the command port (TCP 9200), then checks whether its
 * address answers an ICMP echo and a TCP connection, through
 * orvcomms.dll.
 *
 *   printer_status HOST
 *
 * The library hands the printer's replies over as they came; this
 * program prints the status as hexadecimal bytes and the device ID as
 * text. The exit status is 0 when both replies came, 1 otherwise.
 *
 * Build (see Makefile): i686-w64-mingw32-gcc printer_status.c -I.. ../orvcomms.dll.a
 * and keep orvcomms.dll beside printer_status.exe.
 */
#include <stdio.h>
#include <string.h>

#include "orvcomms.h"

#ifdef _MSC_VER
#pragma comment(lib, "orvcomms.lib")
#endif

static const char* SystemText(DWORD error, char* text, DWORD size) {
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                                  error, 0, text, size, NULL);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' '))
        text[--length] = '\0';
    if (length == 0)
        strcpy(text, "no text for this code");
    return text;
}

/* Why an exchange or a check gave 0: the thread's last error, which the
 * library sets before it returns. */
static void ExplainFailure(const char* what, DWORD error) {
    char text[256];
    fprintf(stderr, "%s: error %lu (%s)\n", what, (unsigned long)error, SystemText(error, text, sizeof text));
    switch (error) {
    case 10060: /* WSAETIMEDOUT */
        fprintf(stderr, "  no reply in time: the printer is busy or off (the status wait is TIME seconds)\n");
        break;
    case 10061: /* WSAECONNREFUSED */
        fprintf(stderr, "  the host refused port 9200: not a printer, or its command port is off\n");
        break;
    case 10065: /* WSAEHOSTUNREACH */
    case 10051: /* WSAENETUNREACH */
        fprintf(stderr, "  no route to the host: check the address and the network\n");
        break;
    case 11001: /* WSAHOST_NOT_FOUND */
        fprintf(stderr, "  the name does not resolve\n");
        break;
    case 1400: /* ERROR_INVALID_WINDOW_HANDLE */
        fprintf(stderr, "  the library could not make its hidden window (under Wine: set Graphics=null)\n");
        break;
    }
}

/* One status exchange and one device-ID exchange on a status handle. */
static int AskPrinter(OvHandle status) {
    unsigned char reply[256];
    char device_id[257];
    DWORD length = 0, i;
    int answered = 1;

    if (OvGetStatus(status, reply, sizeof reply, &length)) {
        printf("status: %lu bytes:", (unsigned long)length);
        for (i = 0; i < length; ++i)
            printf(" %02x", reply[i]);
        printf("\n");
    } else {
        ExplainFailure("status: no reply", GetLastError());
        answered = 0;
    }
    /* Leave room for a terminator: the reply is not one. */
    if (OvGetDeviceID(status, device_id, sizeof device_id - 1, &length)) {
        device_id[length] = '\0';
        printf("device ID: %s\n", device_id);
    } else {
        ExplainFailure("device ID: no reply", GetLastError());
        answered = 0;
    }
    return answered;
}

int main(int argc, char** argv) {
    OvHandle status;
    int answered;

    if (argc != 2) {
        fprintf(stderr, "usage: printer_status HOST\n");
        return 2;
    }
    /* The instance registers the hidden windows the exchanges wait in. */
    if (!OvStartup(GetModuleHandleA(NULL))) {
        fprintf(stderr, "OvStartup failed: Windows Sockets 1.1 is not available\n");
        return 1;
    }
    status = OvOpenStatus(argv[1]); /* connects to nothing yet */
    if (status == OV_INVALID_HANDLE) {
        ExplainFailure("OvOpenStatus failed", GetLastError());
        OvCleanup();
        return 1;
    }
    answered = AskPrinter(status);
    OvCloseStatus(status);

    /* Reachability: an ICMP echo, then a TCP connection to port 80 (a
     * refusal is an answer too: the host itself said no). */
    printf("ICMP echo: %s\n", OvSendICMP(argv[1]) ? "answered" : "no answer within 1 s");
    if (OvSendICMP_Async(argv[1]))
        printf("TCP port 80: answered\n");
    else
        ExplainFailure("TCP port 80: no answer", GetLastError());

    OvCleanup();
    return answered ? 0 : 1;
}
