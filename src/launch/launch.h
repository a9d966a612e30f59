// Reaching outside the uninstaller: the pre-removal program, the final
// document, and the batch that removes the uninstaller after it has ended.
#pragma once
#include <windows.h>
#include <stdint.h>

// True for "X:\..." and "\\server\..." paths. Anything else would be looked
// for, among other places, in the uninstaller's own folder first.
int IsFullPath(const char* path);

// Starts a command line whose program is named by its full path, in folder
// (null: the current directory), hidden when asked. Non-zero when started.
int StartProgram(char* commandLine, const char* folder, int hidden, PROCESS_INFORMATION* process);
// Starts program (a full path) with the arguments (null or empty for none)
// in the program's own folder; with wait set, returns only after it ended,
// pumping messages meanwhile. Returns 1 when the program was started; 0 when
// it could not be, also when its command line would not fit 528 bytes.
int RunProgram(const char* program, const char* arguments, int wait);

// Reads the default value of root\path into buffer (at least 260 bytes).
// Returns 0 when it was read; otherwise non-zero, also for a value that does
// not fit.
LONG ReadDefaultValue(HKEY root, const char* path, char* buffer);

// The desktop's shell window, null where there is none (session 0, Wine) or
// the system lacks the call (9x and NT 4; it is looked up).
HWND FindShellWindow();

// True for a text beginning with "http://" or "https://", in any case.
int IsWebAddress(const char* text);
// Opens a document or web address with the shell; when the shell cannot, runs
// the open command of the class registered for extension (".htm").
void OpenDocument(const char* document, const char* extension);

enum { InterpreterOther = 1, InterpreterCommandCom = 2 };
// Writes the full path of the batch file's interpreter into interpreter
// (PathBufferSize bytes). On the NT family cmd.exe in the System folder; on
// 9x command.com when folder holds it, else the file that ComSpec names by a
// full path, else cmd.exe in the System folder. Returns its kind, or 0 when
// none fits.
int FindCommandInterpreter(char* interpreter, const char* folder);
// A security descriptor (free it with LocalFree) whose list, protected from
// inheritance, lets only SYSTEM and Administrators in, with full access that
// files and folders inside inherit. Null where the system cannot make one.
void* CreateAdminOnlyDescriptor();
// Makes a fresh folder for the batch under the Windows folder's Temp, with
// that descriptor from its creation; folder (PathBufferSize bytes) receives
// its path with a trailing backslash. A name that exists is never used. 0
// when none could be made.
int CreateBatchFolder(char* folder);
// Creates the first free delme<N>.bat (N from 1 to 998) in folder; path
// (PathBufferSize bytes) receives its full path. Returns the file opened
// for writing, or INVALID_HANDLE_VALUE.
HANDLE CreateBatchFile(char* path, const char* folder);
// Composes into text (size bytes) the batch that deletes exePath as soon as
// it can, then removes folder when it is empty, then deletes itself. With
// pingPath (NT), it deletes with /f and gives up after tries attempts a second
// apart; without, it tries until the file is gone (9x). A null folder leaves
// its line out. Returns the length of the text, 0 when it does not fit.
uint32_t ComposeRemovalBatch(char* text, uint32_t size, const char* exePath, const char* folder, const char* batchPath,
                             const char* pingPath, const char* tries);
// The interpreter's command line into text (1024 bytes): with batchFolder
// (NT), cmd.exe without AutoRun, with extensions and without delayed
// expansion, running the batch and then removing its folder. 0 when a path
// holds what cmd would expand there.
int ComposeBatchCommand(char* text, const char* interpreter, int kind, const char* batchPath, const char* batchFolder);
// Starts the hidden batch that removes the uninstaller and its folder once
// this process has ended. Changes InstallDir, WorkPath and the current
// directory for good.
void RemoveSelf();
