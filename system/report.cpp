#include "system/report.h"

#include <cstdarg>
#include <cstdio>
#include <new>

namespace {

VARLOX_THREAD_LOCAL std::string* sink = nullptr;

}  // namespace

void report(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    if (sink == nullptr) {
        std::vfprintf(stderr, format, args);
        va_end(args);
        return;
    }
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (length > 0) {
        try {
            const std::string::size_type start = sink->size();
            sink->resize(start + static_cast<std::string::size_type>(length) + 1);
            std::vsnprintf(&(*sink)[start], static_cast<size_t>(length) + 1, format, again);
            sink->resize(start + static_cast<std::string::size_type>(length));
        } catch (const std::bad_alloc&) {
            // A message that does not fit is dropped; the caller still sees the failure.
        }
    }
    va_end(again);
}

std::string* report_sink_set(std::string* to) {
    std::string* before = sink;
    sink = to;
    return before;
}

void report_alloc_failure() {
    report("Error: Memory allocation error\n");
}

void report_write_failure(const std::string& name) {
    report("Error: Could not write to %s\n", name.c_str());
}
