// The driver: start-up, switches, the run's fixed sequence and shut-down.
// It owns the process-wide flags, the main window and the three path buffers.
#pragma once
#include <windows.h>
#include <stdint.h>

enum { PathBufferSize = 260 };

extern HINSTANCE ModuleInstance;
extern int IsNtPlatform;
extern int IsNt6OrLater;
extern int QuietMode;
extern int SwitchS;
extern int SwitchX;
extern HWND MainWindow;
extern uint32_t ProgressTotal;
// Folder of the executable with one trailing backslash.
extern char* InstallDir;
// Full path of the executable, filled when the data is read.
extern char* ExePath;
// Scratch buffer in which the passes compose full paths.
extern char* WorkPath;

// Reads /Q, /S and /X (also with "-", any case) from the command-line tail.
void ScanSwitches(const char* tail);
void SetPlatformFlags();
int Startup(HINSTANCE instance);
void Shutdown();

// The whole run; its result is the process exit code.
int RunUninstaller(HINSTANCE instance, const char* tail);
