/*
 * worker_thread.h - a thread made with CreateThread for tests that count
 * the process's handles: the C++ runtime's threads (winpthreads) keep the
 * handles and events of ended threads for reuse, which a handle count
 * sees as a leak, now and then, depending on timing.
 */
#ifndef ORV_TEST_WORKER_THREAD_H
#define ORV_TEST_WORKER_THREAD_H

#include <windows.h>

#include <functional>
#include <utility>

class Worker {
  public:
    explicit Worker(std::function<void()> body) : body_(std::move(body)) {
        handle_ = CreateThread(nullptr, 0, &Worker::Run, this, 0, nullptr);
    }

    /* False when no thread could be made (the body never runs). */
    bool started() const { return handle_ != nullptr; }
    ~Worker() { Join(); }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    /* Waits for the body to end and closes the thread's handle. */
    void Join() {
        if (handle_ == nullptr)
            return;
        WaitForSingleObject(handle_, INFINITE);
        CloseHandle(handle_);
        handle_ = nullptr;
    }

  private:
    static DWORD WINAPI Run(void* self) {
        static_cast<Worker*>(self)->body_();
        return 0;
    }

    std::function<void()> body_;
    HANDLE handle_ = nullptr;
};

#endif  // ORV_TEST_WORKER_THREAD_H
