// Removing the uninstaller itself: a running program cannot delete its own
// file, so a hidden batch keeps trying until the process has ended.
#include "launch/launch.h"

#include <string.h>

#include "base/run_state.h"
#include "data/files.h"
#include "paths/path_helpers.h"

enum { BatchTextSize = 1040, LastBatchNumber = 998 };

static int IsExistingFile(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int FindCommandInterpreter(char* interpreter, const char* folder) {
    if (CopyPath(interpreter, folder) && AppendBackslash(interpreter) && AppendPath(interpreter, "command.com") &&
        IsExistingFile(interpreter))
        return InterpreterCommandCom;
    // Where there is no command.com: what ComSpec names, but only by a full
    // path, which no search can redirect into the uninstaller's folder.
    DWORD length = GetEnvironmentVariableA("ComSpec", interpreter, PathBufferSize);
    if (length && length < PathBufferSize && IsFullPath(interpreter) && IsExistingFile(interpreter))
        return InterpreterOther;
    return GetSystemFilePath(interpreter, "cmd.exe") ? InterpreterOther : 0;
}

HANDLE CreateBatchFile(char* path) {
    DWORD length = GetTempPathA(PathBufferSize, path);
    if (!length || length >= PathBufferSize || !AppendBackslash(path)) return INVALID_HANDLE_VALUE;
    length = (DWORD)strlen(path);
    for (int number = 1; number <= LastBatchNumber; number++) {
        char name[16];
        wsprintfA(name, "delme%d.bat", number);
        path[length] = 0;
        if (!AppendPath(path, name)) break;
        // A file of that name that can be read belongs to someone else.
        HANDLE file = OpenExistingFile(path, OpenForRead);
        if (file != INVALID_HANDLE_VALUE) {
            CloseFile(file);
            continue;
        }
        file = CreateFileForWriting(path);
        if (file != INVALID_HANDLE_VALUE) return file;
    }
    return INVALID_HANDLE_VALUE;
}

// Appends a character while there is room for it and the terminator.
static int PutChar(char** at, const char* limit, char c) {
    if (*at >= limit) return 0;
    *(*at)++ = c;
    return 1;
}

static int PutText(char** at, const char* limit, const char* text) {
    for (; *text; text++)
        if (!PutChar(at, limit, *text)) return 0;
    return 1;
}

static int NeedsQuotes(const char* path) {
    return strpbrk(path, " &()^,;=") != NULL;
}

// A path in a batch line: in double quotes when the interpreter would split
// it at a blank or act on one of & ( ) ^ , ; = (deleting in another folder or
// stopping at a prompt), and with each % doubled, which would otherwise begin
// a variable and drop out of the path.
static int PutBatchPath(char** at, const char* limit, const char* path) {
    const char* quote = NeedsQuotes(path) ? "\"" : "";
    if (!PutText(at, limit, quote)) return 0;
    for (; *path; path++)
        if (!PutChar(at, limit, *path) || (*path == '%' && !PutChar(at, limit, '%'))) return 0;
    return PutText(at, limit, quote);
}

static const char* const BatchPieces[] = {"@echo off\r\n:Repeat\r\ndel ", "\r\nif exist ", " goto Repeat\r\nrmdir ",
                                          "\r\ndel ", "\r\n"};

uint32_t ComposeRemovalBatch(char* text, uint32_t size, const char* exePath, const char* folder, const char* batchPath) {
    const char* paths[] = {exePath, exePath, folder, batchPath};
    char* at = text;
    const char* limit = text + size - 1;
    for (int piece = 0;; piece++) {
        if (!PutText(&at, limit, BatchPieces[piece])) return 0;
        if (piece == 4) break;
        if (!PutBatchPath(&at, limit, paths[piece])) return 0;
    }
    *at = 0;
    return (uint32_t)(at - text);
}

void RemoveSelf() {
    char batchPath[PathBufferSize];
    char interpreter[PathBufferSize];
    char text[BatchTextSize];
    GetShortPathNameA(InstallDir, InstallDir, PathBufferSize);
    StripBackslash(InstallDir);
    // A cut or relative path would name some other file.
    DWORD length = GetModuleFileNameA(ModuleInstance, WorkPath, PathBufferSize);
    if (!length || length >= PathBufferSize || !IsFullPath(WorkPath)) return;
    GetShortPathNameA(WorkPath, WorkPath, PathBufferSize);

    // The batch must not run inside the folder it is to remove.
    length = (IsNtPlatform ? GetSystemDirectoryA : GetWindowsDirectoryA)(text, PathBufferSize);
    if (!length || length >= PathBufferSize) return;
    StripBackslash(text);
    SetCurrentDirectoryA(text);
    int interpreterKind = FindCommandInterpreter(interpreter, text);
    if (!interpreterKind) return;

    HANDLE file = CreateBatchFile(batchPath);
    if (file == INVALID_HANDLE_VALUE) return;
    CharToOemA(InstallDir, InstallDir);
    CharToOemA(WorkPath, WorkPath);
    uint32_t size = ComposeRemovalBatch(text, sizeof text, WorkPath, InstallDir, batchPath);
    DWORD written;
    if (size) WriteFile(file, text, size, &written, NULL);
    CloseFile(file);

    // The interpreter always by its full path, in quotes. cmd.exe keeps the
    // quotes around a batch path only when the path holds nothing special,
    // so there a quoted path gets a second pair, which cmd.exe strips. Two
    // paths of under 260 bytes fit wsprintfA's 1024 and the text buffer.
    const char* quote = !NeedsQuotes(batchPath) ? "" : interpreterKind == InterpreterCommandCom ? "\"" : "\"\"";
    wsprintfA(text, "\"%s\" /C %s%s%s", interpreter, quote, batchPath, quote);
    PROCESS_INFORMATION process;
    if (size && StartProgram(text, NULL, 1, &process)) {
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        return;
    }
    DeleteFileA(batchPath);
}
