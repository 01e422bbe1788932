// Checked size arithmetic and the program's one way of allocating buffers.
//
// Every size the program derives from a picture's dimensions (row lengths, buffer and
// file sizes, plane and table sizes) is formed in 64 bits through these helpers, so that
// a dimension read from a file can never wrap a product around. Every buffer is
// allocated through buffer_new, which turns a zero-sized, unrepresentable or failed
// request into the program's allocation message instead of an exception or an abort.
//
//   size_mul(a, b, out)   a * b into *out; false (out untouched) when it exceeds 64 bits
//   size_add(a, b, out)   a + b into *out; false (out untouched) when it exceeds 64 bits
//   buffer_new<T>(count)  count uninitialised elements; on failure prints
//                         "Error: Memory allocation error\n" and returns a null buffer
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <type_traits>

#include "system/report.h"

bool size_mul(uint64_t a, uint64_t b, uint64_t* out);
bool size_add(uint64_t a, uint64_t b, uint64_t* out);

// Releases a buffer obtained from buffer_new.
struct BufferFree {
    void operator()(void* p) const noexcept { std::free(p); }
};

// An owned array of plain values (bytes, doubles); null when the allocation failed.
template <class T>
using Buffer = std::unique_ptr<T[], BufferFree>;

// Allocates `bytes` bytes, or returns null when bytes is zero, larger than the address
// space allows, or not available. Prints the allocation message on failure. This is the
// single allocation point of the program.
void* memory_alloc(uint64_t bytes);

template <class T>
Buffer<T> buffer_new(uint64_t count) {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>,
                  "buffers hold plain values only");
    uint64_t bytes = 0;
    if (!size_mul(count, sizeof(T), &bytes)) {
        report_alloc_failure();
        return Buffer<T>();
    }
    return Buffer<T>(static_cast<T*>(memory_alloc(bytes)));
}
