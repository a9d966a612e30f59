// Running the pre-removal program and opening the final document.
#include "launch/launch.h"

#include <shellapi.h>
#include <string.h>

#include "paths/path_helpers.h"
#include "ui/dialogs.h"

enum { CommandLineSize = 528, AssociationSize = 520, DefaultValueSize = 260, WaitPollMilliseconds = 200 };

int IsFullPath(const char* path) {
    return (path[0] && path[1] == ':' && path[2] == '\\') || (path[0] == '\\' && path[1] == '\\');
}

// Cuts a path to its folder. A drive root keeps its backslash, so that it
// does not turn into the drive's current folder. Returns 0 without a backslash.
static int CutToFolder(char* path) {
    char* last = FindLastBackslash(path);
    if (!last) return 0;
    if (last == path + 2 && path[1] == ':') last++;
    *last = 0;
    return 1;
}

int IsWebAddress(const char* text) {
    const char* prefix = "http://";
    for (; *prefix; text++, prefix++) {
        if (prefix[0] == ':' && (*text | 0x20) == 's') text++;
        if ((*text | 0x20) != *prefix) return 0;
    }
    return 1;
}

int StartProgram(char* commandLine, const char* folder, int hidden, PROCESS_INFORMATION* process) {
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    if (hidden) startup.dwFlags = STARTF_USESHOWWINDOW;  // and wShowWindow SW_HIDE
    // No handle of the uninstaller is meant for the program: an inherited
    // output pipe would keep whoever started the uninstaller waiting.
    return CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, NORMAL_PRIORITY_CLASS, NULL, folder, &startup, process);
}

int RunProgram(const char* program, const char* arguments, int wait) {
    char commandLine[CommandLineSize];
    char folder[CommandLineSize];
    size_t programLength = strlen(program);
    size_t argumentsLength = arguments ? strlen(arguments) : 0;
    // Two quotes, the path, a blank and the arguments, the terminator: a
    // command line that does not fit is not run at all rather than cut.
    if (!IsFullPath(program) || programLength + argumentsLength + 4 > CommandLineSize) return 0;
    wsprintfA(commandLine, argumentsLength ? "\"%s\" %s" : "\"%s\"", program, arguments);
    memcpy(folder, program, programLength + 1);
    CutToFolder(folder);

    // The child gets its folder from CreateProcessA: the uninstaller's own
    // current directory never changes.
    PROCESS_INFORMATION process;
    if (!StartProgram(commandLine, folder, 0, &process)) return 0;
    if (wait) {
        HCURSOR previous = SetCursor(LoadCursorA(NULL, (LPCSTR)IDC_WAIT));
        // The process handle, not the exit code, tells when it has ended: a
        // program may well end with the code 259 (STILL_ACTIVE).
        while (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
            PumpMessages();
            Sleep(WaitPollMilliseconds);
        }
        SetCursor(previous);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 1;
}

LONG ReadDefaultValue(HKEY root, const char* path, char* buffer) {
    HKEY key;
    LONG result = RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, &key);
    if (result != ERROR_SUCCESS) return result;
    LONG size = DefaultValueSize;
    result = RegQueryValueA(key, NULL, buffer, &size);
    RegCloseKey(key);
    // A value stored without its terminator must not run on into the buffer.
    if (result == ERROR_SUCCESS && !memchr(buffer, 0, DefaultValueSize)) result = ERROR_MORE_DATA;
    return result;
}

void OpenDocument(const char* document, const char* extension) {
    char folder[AssociationSize];
    char command[AssociationSize];
    size_t documentLength = strlen(document);
    const char* workingFolder = NULL;
    if (!IsWebAddress(document)) {
        if (documentLength >= sizeof folder) return;  // no local path is that long
        memcpy(folder, document, documentLength + 1);
        if (CutToFolder(folder)) workingFolder = folder;
    }
    if ((INT_PTR)ShellExecuteA(NULL, "open", document, NULL, workingFolder, SW_SHOW) > 32) return;

    // The shell could not open it: the open command of the extension's class.
    if (ReadDefaultValue(HKEY_CLASSES_ROOT, extension, command) != ERROR_SUCCESS) return;
    strcat(command, "\\shell\\open\\command");  // a class name is under 260 bytes
    if (ReadDefaultValue(HKEY_CLASSES_ROOT, command, command) != ERROR_SUCCESS) return;
    char* placeholder = strstr(command, "\"%1\"");
    if (!placeholder) placeholder = strstr(command, "%1");
    if (placeholder) *placeholder = 0;
    size_t used = strlen(command);
    // Neither cut nor run by a bare name, which would be looked for in the
    // uninstaller's own folder first.
    if (used + 1 + documentLength >= sizeof command || !IsFullPath(command + (command[0] == '"'))) return;
    command[used] = ' ';
    memcpy(command + used + 1, document, documentLength + 1);
    WinExec(command, SW_SHOW);
}
