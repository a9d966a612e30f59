// The run's process-wide state, shared by every layer. It includes nothing of
// ours, so every layer may include it without reaching up to the driver,
// which sets it.
#pragma once
#include <windows.h>
#include <stdint.h>

enum { PathBufferSize = 260 };

extern HINSTANCE ModuleInstance;
extern int IsNtPlatform;
extern int IsNt6OrLater;
// Owns every box and dialog; null until the driver creates it.
extern HWND MainWindow;
// Progress positions are scaled by this; 0 unless the progress dialog exists.
extern uint32_t ProgressTotal;
// Folder of the executable with one trailing backslash.
extern char* InstallDir;
// Set when the desktop belongs to another account than the one this process
// runs as (an administrator's password typed over a user's shoulder): the
// current user's keys and folders would be the administrator's, so per-user
// entries are left alone rather than remove that account's same-named data.
extern int KeepPerUserEntries;
// Full path of the executable, filled when the data is read.
extern char* ExePath;
// Scratch buffer in which the passes compose full paths.
extern char* WorkPath;
