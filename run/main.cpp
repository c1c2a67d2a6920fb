// Entry of "Orvet Manual Contents Update.exe": the update run is the whole life of the process.
#include <windows.h>

#include "update_run.h"

// Nothing the platform hands over is used. RunUpdate is noexcept and turns every failure inside it,
// exhausted memory included, into a result, so no exception leaves here.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return RunUpdate();
}
