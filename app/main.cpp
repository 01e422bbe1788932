// Process entry of varlox.
#include <cstdio>
#include <new>

#include "app/driver.h"

int main(int argc, char** argv) {
    // Buffers are allocated without exceptions; this catches what the standard library's
    // own strings and paths might still throw when memory runs out.
    try {
        return varlox_main(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fputs("Error: Memory allocation error\n", stderr);
        return 1;
    }
}
