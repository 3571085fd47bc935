/*
 * heap_blocks.h - zero-filled blocks of the local and global heaps, freed
 * when they go out of scope. get() is null when the heap had no room, and
 * every user tests it before the block is used.
 */
#ifndef ORVCOMMS_HEAP_BLOCKS_H
#define ORVCOMMS_HEAP_BLOCKS_H

#include <windows.h>

namespace orv {

class LocalBlock {
  public:
    explicit LocalBlock(SIZE_T size) : block_(LocalAlloc(LPTR, size)) {}
    ~LocalBlock() {
        if (block_ != nullptr)
            LocalFree(block_);
    }
    LocalBlock(const LocalBlock&) = delete;
    LocalBlock& operator=(const LocalBlock&) = delete;

    void* get() const { return block_; }
    template <typename T>
    T* as() const { return static_cast<T*>(block_); }
    bool empty() const { return block_ == nullptr; }

  private:
    HLOCAL block_;
};

class GlobalBlock {
  public:
    explicit GlobalBlock(SIZE_T size) : block_(GlobalAlloc(GPTR, size)) {}
    ~GlobalBlock() {
        if (block_ != nullptr)
            GlobalFree(block_);
    }
    GlobalBlock(const GlobalBlock&) = delete;
    GlobalBlock& operator=(const GlobalBlock&) = delete;

    void* get() const { return block_; }

  private:
    HGLOBAL block_;
};

}  // namespace orv

#endif  // ORVCOMMS_HEAP_BLOCKS_H
