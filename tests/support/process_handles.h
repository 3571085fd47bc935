/*
 * process_handles.h - the number of handles this process holds, for leak
 * checks. Wine's GetProcessHandleCount reports 0, so the count falls back
 * to the system handle list (NtQuerySystemInformation), which Wine fills.
 */
#ifndef ORV_TEST_PROCESS_HANDLES_H
#define ORV_TEST_PROCESS_HANDLES_H

#include <windows.h>

/* -1 when neither source answers. */
long CountProcessHandles();

/* True when the count sees one handle made and closed: a leak check that
 * asserts this first cannot pass by comparing two failed counts. */
bool HandleCountingWorks();

/* The handles another process holds, from the system handle list; -1
 * when it does not answer. */
long CountHandlesOf(DWORD process_id);

#endif  // ORV_TEST_PROCESS_HANDLES_H
