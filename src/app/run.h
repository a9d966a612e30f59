// The driver: start-up, switches, the run's fixed sequence and shut-down.
// It owns the process-wide flags, the main window and the three path buffers.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "app/switches.h"

enum { PathBufferSize = 260 };

extern HINSTANCE ModuleInstance;
extern int IsNtPlatform;
extern int IsNt6OrLater;
extern HWND MainWindow;
extern uint32_t ProgressTotal;
// Folder of the executable with one trailing backslash.
extern char* InstallDir;
// Full path of the executable, filled when the data is read.
extern char* ExePath;
// Scratch buffer in which the passes compose full paths.
extern char* WorkPath;

void SetPlatformFlags();
int Startup(HINSTANCE instance);
void Shutdown();

// Composes the pre-removal command: expanded when it begins with a folder
// token (*expanded then holds the block to free), else relative to InstallDir
// in WorkPath. Returns null when it does not fit or memory runs out.
char* ComposePreRemovalCommand(const char* command, char** expanded);
// Splits a composed command in place: a program in double quotes may be
// followed by arguments; any other command is one program name, blanks
// included. *arguments is empty text when there are none.
void SplitCommand(char* command, char** program, char** arguments);

// The whole run; its result is the process exit code.
int RunUninstaller(HINSTANCE instance, const char* tail);
