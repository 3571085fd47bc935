/*
 * digest.h - FNV-1a, 64 bits, over a stream of print bytes.
 *
 * The simulator keeps one running digest of everything a printer received
 * on its print port, so that a test can check that a transfer arrived
 * complete and in order without storing it.
 */
#pragma once

#include <cstddef>
#include <cstdint>

class Fnv1a64 {
public:
    static constexpr uint64_t kOffsetBasis = 0xcbf29ce484222325ull;
    static constexpr uint64_t kPrime = 0x100000001b3ull;

    void Add(const unsigned char* data, size_t size) {
        for (size_t i = 0; i < size; ++i) {
            value_ ^= data[i];
            value_ *= kPrime;
        }
    }
    uint64_t Value() const { return value_; }
    void Reset() { value_ = kOffsetBasis; }

private:
    uint64_t value_ = kOffsetBasis;
};
