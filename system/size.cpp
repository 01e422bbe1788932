#include "system/size.h"

#include <cstdio>
#include <limits>

bool size_mul(uint64_t a, uint64_t b, uint64_t* out) {
    if (a != 0 && b > std::numeric_limits<uint64_t>::max() / a) {
        return false;
    }
    *out = a * b;
    return true;
}

bool size_add(uint64_t a, uint64_t b, uint64_t* out) {
    if (b > std::numeric_limits<uint64_t>::max() - a) {
        return false;
    }
    *out = a + b;
    return true;
}

// A seam for tests: a test binary may define this to make chosen allocations fail. The
// program itself does not define it, so the weak reference is null there.
extern "C" bool varlox_alloc_should_fail(uint64_t bytes) __attribute__((weak));

void* memory_alloc(uint64_t bytes) {
    // A zero-byte request counts as a failure: it would hand out a buffer nothing may be
    // stored in. Requests beyond PTRDIFF_MAX cannot be indexed safely and are refused
    // before they reach malloc.
    if (bytes == 0 || bytes > static_cast<uint64_t>(std::numeric_limits<std::ptrdiff_t>::max())) {
        report_alloc_failure();
        return nullptr;
    }
    if (varlox_alloc_should_fail != nullptr && varlox_alloc_should_fail(bytes)) {
        report_alloc_failure();
        return nullptr;
    }
    void* p = std::malloc(static_cast<std::size_t>(bytes));
    if (p == nullptr) {
        report_alloc_failure();
    }
    return p;
}
