#include "app/run.h"

// The program's entry point. The runtime's start-up code is not linked: it
// was about a quarter of the program, for nothing the program uses (no static
// constructors, no exit handlers, no floating point, no command-line
// arguments but the tail). Its one task left is done here.
extern "C" void __stdcall StartUninstaller() {
    ExitProcess((UINT)RunUninstaller(GetModuleHandleA(NULL), FindCommandTail(GetCommandLineA())));
}
