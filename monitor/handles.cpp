/*
 * handles.cpp - registry key, local-heap block and mutex hold.
 */
#include "handles.h"

#include <cstring>

namespace orv {

LONG RegKey::Open(HKEY parent, const char* path, REGSAM access) {
    Close();
    HKEY key = nullptr;
    LONG status = RegOpenKeyExA(parent, path, 0, access, &key);
    if (status == ERROR_SUCCESS)
        key_ = key;
    return status;
}

LONG RegKey::Create(HKEY parent, const char* path, REGSAM access) {
    Close();
    HKEY key = nullptr;
    LONG status = RegCreateKeyExA(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                                  &key, nullptr);
    if (status == ERROR_SUCCESS)
        key_ = key;
    return status;
}

LONG RegKey::Close() {
    if (key_ == nullptr)
        return ERROR_SUCCESS;
    LONG status = RegCloseKey(key_);
    key_ = nullptr;
    return status;
}

LocalBuffer::~LocalBuffer() {
    if (block_ != nullptr)
        LocalFree(block_);
}

bool LocalBuffer::Allocate(DWORD size) {
    HLOCAL block = LocalAlloc(LPTR, size);
    if (block == nullptr)
        return false;
    if (block_ != nullptr)
        LocalFree(block_);
    block_ = block;
    capacity_ = static_cast<DWORD>(LocalSize(block_));
    return true;
}

bool LocalBuffer::Reserve(DWORD size) {
    if (size <= capacity_)
        return true;
    if (block_ == nullptr)
        return Allocate(size) && capacity_ >= size;
    // The block is fixed (LPTR), so the handle that comes back is the new
    // address; MOVEABLE only allows the heap to move it.
    HLOCAL grown = LocalReAlloc(block_, size, LMEM_MOVEABLE | LMEM_ZEROINIT);
    if (grown == nullptr)
        return false;
    block_ = grown;
    capacity_ = static_cast<DWORD>(LocalSize(block_));
    return capacity_ >= size;
}

void LocalBuffer::Clear() {
    if (block_ != nullptr)
        memset(block_, 0, capacity_);
}

NamedMutexHold::NamedMutexHold(const char* name) {
    mutex_ = CreateMutexA(nullptr, FALSE, name);
    if (mutex_ == nullptr)
        return;
    DWORD wait = WaitForSingleObject(mutex_, INFINITE);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
        held_ = true;
        return;
    }
    CloseHandle(mutex_);
    mutex_ = nullptr;
}

NamedMutexHold::~NamedMutexHold() {
    if (held_)
        ReleaseMutex(mutex_);
    if (mutex_ != nullptr)
        CloseHandle(mutex_);
}

}  // namespace orv
