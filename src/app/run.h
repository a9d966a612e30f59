// The driver: start-up, switches, the run's fixed sequence and shut-down.
// It sets the run's process-wide state (base/run_state.h): the flags, the
// main window and the three path buffers.
#pragma once
#include "app/switches.h"
#include "base/run_state.h"

void SetPlatformFlags();
int Startup(HINSTANCE instance);
void Shutdown();
// The folder of modulePath, the executable's full path as the system gave
// it, with one trailing backslash. In long form: Windows gives the form the
// program was started by, often short (C:\PROGRA~1\...) in stored uninstall
// commands, while shared-library counts are kept under long paths and
// protection is decided on them.
void FillInstallDir(char* folder, const char* modulePath);

// Composes the pre-removal command: expanded when it begins with a folder
// token (*expanded then holds the block to free), else relative to InstallDir
// in WorkPath. Returns null when it does not fit or memory runs out.
char* ComposePreRemovalCommand(const char* command, char** expanded);
// Splits a composed command in place: a program in double quotes may be
// followed by arguments; any other command is one program name, blanks
// included. *arguments is empty text when there are none.
void SplitCommand(char* command, char** program, char** arguments);

// Whether the desktop whose shell window is shell belongs to another account
// than the one this process runs as (compared by the user SIDs of the two
// processes' tokens): an administrator's password typed over a user's
// shoulder runs the uninstaller as the administrator. A shell whose account
// cannot be read is another's: an account may read its own processes'.
// Without a shell window (session 0, Wine) or on 9x, 0.
int IsDesktopOfAnotherUser(HWND shell);

// The whole run; its result is the process exit code.
int RunUninstaller(HINSTANCE instance, const char* tail);
