/* A caller of orvcomms.dll linked through an import library, the way a
 * printer tool links it: the link itself proves the import library's
 * symbols match the header's stdcall declarations. */
#include <stdio.h>

#include "orvcomms.h"

int main(void) {
    int started = OvStartup(GetModuleHandleA(NULL));
    int error = OvGetError(0);
    int cleaned = OvCleanup();
    printf("started %d, error %d, cleaned %d\n", started, error, cleaned);
    return started == 1 && error == 0 && cleaned == 1 ? 0 : 1;
}
