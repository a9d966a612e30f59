#include "app/run.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR tail, int) {
    return RunUninstaller(instance, tail);
}
