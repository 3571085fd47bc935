/*
 * cancel.cpp - writing the cancel request and waiting for its answer.
 */
#include "cancel.h"

#include <cstring>

#include "bounded_wait.h"
#include "record.h"
#include "window.h"

namespace orv {

namespace {

constexpr char kCancelRequest[] = "RQ_CANCEL";

bool IsNoDocument(const char* document_name) {
    return strcmp(document_name, "  ") == 0 || strcmp(document_name, " ") == 0;
}

/* Reads DOC_NAME until it shows that no document is left, or the reads
 * or the time run out; false when a read fails. */
bool WaitForNoDocument(MonitorState& state) {
    BoundedWait wait(kCancelReads, kCancelWaitMs, kCancelReadPauseMs);
    do {
        if (!ReadStringValue(kDocName, state))
            return false;
        if (IsNoDocument(state.value_buffer.data()))
            return true;
    } while (wait.PauseBeforeNextTry());
    return true;
}

}  // namespace

void RequestCancel(HWND window, MonitorState& state) {
    if (OpenRecordKeys(state) != ERROR_SUCCESS)
        return;
    if (SetStringValue(state.record_key.get(), kLmJobCancel, kCancelRequest) != ERROR_SUCCESS ||
        !WaitForNoDocument(state)) {
        CloseRecordKeys(state);
        return;
    }
    if (CloseRecordKeys(state))
        MinimiseStatusWindow(window);
}

}  // namespace orv
