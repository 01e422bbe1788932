// Process entry of varlox.
#include "app/driver.h"

int main(int argc, char** argv) {
    return main_guarded(varlox_main, argc, argv);
}
