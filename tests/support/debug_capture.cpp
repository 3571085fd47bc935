#include "debug_capture.h"

#include <cstring>

namespace {

constexpr DWORD kSectionSize = 4096;

struct DbwinBuffer {
    DWORD process_id;
    char text[kSectionSize - sizeof(DWORD)];
};

}  // namespace

DebugCapture::DebugCapture() {
    buffer_ready_ = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY");
    data_ready_ = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY");
    section_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSectionSize,
                                  "DBWIN_BUFFER");
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (buffer_ready_ == nullptr || data_ready_ == nullptr || section_ == nullptr || stop_ == nullptr)
        return;
    view_ = MapViewOfFile(section_, FILE_MAP_READ, 0, 0, kSectionSize);
    if (view_ == nullptr)
        return;
    ok_ = true;
    reader_ = std::thread([this] { Run(); });
}

DebugCapture::~DebugCapture() {
    if (reader_.joinable()) {
        SetEvent(stop_);
        reader_.join();
    }
    if (view_ != nullptr)
        UnmapViewOfFile(view_);
    for (HANDLE h : {buffer_ready_, data_ready_, section_, stop_})
        if (h != nullptr)
            CloseHandle(h);
}

void DebugCapture::Run() {
    HANDLE waits[] = {stop_, data_ready_};
    SetEvent(buffer_ready_);
    for (;;) {
        DWORD which = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (which != WAIT_OBJECT_0 + 1)
            return;
        const auto* buffer = static_cast<const DbwinBuffer*>(view_);
        if (buffer->process_id == GetCurrentProcessId()) {
            std::lock_guard<std::mutex> hold(lock_);
            messages_.emplace_back(buffer->text, strnlen(buffer->text, sizeof buffer->text));
        }
        SetEvent(buffer_ready_);
    }
}

std::vector<std::string> DebugCapture::Messages() {
    std::lock_guard<std::mutex> hold(lock_);
    return messages_;
}
