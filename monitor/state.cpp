/*
 * state.cpp - building and freeing the MonitorState, and the copy into
 * its fixed text buffers.
 */
#include "state.h"

#include <cstring>
#include <new>

namespace orv {

MonitorState::~MonitorState() {
    record_key.Close();
    parent_key.Close();
}

std::unique_ptr<MonitorState> NewMonitorState(HINSTANCE instance) {
    std::unique_ptr<MonitorState> state(new (std::nothrow) MonitorState);
    if (!state || !state->value_buffer.Allocate(kValueBufferStartSize))
        return nullptr;
    state->instance = instance;
    return state;
}

size_t CopyTextCut(char* target, size_t size, const char* source) {
    size_t limit = size - 1;
    size_t length = 0;
    while (source[length] != '\0') {
        // A lead byte is followed by its trail byte: take both or neither.
        size_t step = IsDBCSLeadByte(static_cast<BYTE>(source[length])) && source[length + 1] != '\0'
                          ? 2 : 1;
        if (length + step > limit)
            break;
        length += step;
    }
    memcpy(target, source, length);
    target[length] = '\0';
    return length;
}

}  // namespace orv
