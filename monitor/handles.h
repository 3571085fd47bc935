/*
 * handles.h - owners of the platform resources the monitor holds for a
 * while: a registry key, a local-heap block that can grow, and the hold
 * of a named mutex. Each frees its resource in its destructor, is not
 * copyable, and returns the platform's own result where a caller must
 * tell success from failure (a failed close of the record key fails the
 * poll).
 */
#ifndef ORV_MONITOR_HANDLES_H
#define ORV_MONITOR_HANDLES_H

#include <windows.h>

namespace orv {

/* A registry key; null when none is open. */
class RegKey {
  public:
    RegKey() = default;
    ~RegKey() { Close(); }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    /* Open or create `path` below `parent`; any key held before is closed
     * first. The key stays null when the call fails. */
    LONG Open(HKEY parent, const char* path, REGSAM access);
    LONG Create(HKEY parent, const char* path, REGSAM access);

    /* Closes the key and sets it back to null; a null key closes with
     * ERROR_SUCCESS, so closing twice is harmless. */
    LONG Close();

    HKEY get() const { return key_; }
    bool is_open() const { return key_ != nullptr; }

  private:
    HKEY key_ = nullptr;
};

/* A block of the local heap that keeps its contents zero-filled when it
 * grows. Its capacity is the block's real size, which can exceed the size
 * asked for. */
class LocalBuffer {
  public:
    LocalBuffer() = default;
    ~LocalBuffer();
    LocalBuffer(const LocalBuffer&) = delete;
    LocalBuffer& operator=(const LocalBuffer&) = delete;

    /* Allocates a block, zero-filled, in place of the one held (whose
     * contents go); false when the heap has no room, the old block then
     * staying. */
    bool Allocate(DWORD size);

    /* Makes the block at least `size` bytes, moving it if need be; the
     * old contents are kept and the new bytes are zero. On failure the
     * old block stays as it was and false is returned. */
    bool Reserve(DWORD size);

    /* Sets every byte of the block to zero. */
    void Clear();

    char* data() const { return static_cast<char*>(block_); }
    DWORD capacity() const { return capacity_; }

  private:
    HLOCAL block_ = nullptr;
    DWORD capacity_ = 0;
};

/* Holds a named mutex for the length of one operation: creates or opens
 * it (not owned) and waits for it without a time limit. An abandoned
 * mutex is held like a released one. held() is false when the mutex could
 * not be made or the wait failed. */
class NamedMutexHold {
  public:
    explicit NamedMutexHold(const char* name);
    ~NamedMutexHold();
    NamedMutexHold(const NamedMutexHold&) = delete;
    NamedMutexHold& operator=(const NamedMutexHold&) = delete;

    bool held() const { return held_; }

  private:
    HANDLE mutex_ = nullptr;
    bool held_ = false;
};

}  // namespace orv

#endif  // ORV_MONITOR_HANDLES_H
