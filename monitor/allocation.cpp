/*
 * allocation.cpp - the program's own nothrow operator new.
 *
 * The C++ library's version calls the throwing operator new inside a try
 * block, which links the exception machinery and, through it, the
 * threads runtime into the program; that runtime calls functions that
 * Windows XP lacks (GetTickCount64), and the monitor runs from XP. The
 * monitor allocates only with new (std::nothrow), so this is all it
 * needs.
 */
#include <cstdlib>
#include <new>

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size != 0 ? size : 1);
}
