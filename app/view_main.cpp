// Process entry of varlox-view.
#include "app/driver.h"

int main(int argc, char** argv) { return main_guarded(view_main, argc, argv); }
