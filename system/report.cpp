#include "system/report.h"

#include <cstdio>

void report_alloc_failure() {
    std::fputs("Error: Memory allocation error\n", stderr);
}

void report_write_failure(const std::string& name) {
    std::fprintf(stderr, "Error: Could not write to %s\n", name.c_str());
}
