#include "gui.h"

#include "core/console.h"

bool runGui() {
    consolePrintRed("The windowed mode is not available yet: run a script with `compositor FILE'.\n");
    return false;
}
