// Process entry of varlox-view.
#include "app/driver.h"
#include "app/view.h"

int main(int argc, char** argv) {
    return main_guarded(view_main, argc, argv);
}
