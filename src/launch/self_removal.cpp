// Removing the uninstaller itself: a running program cannot delete its own
// file, so a hidden batch keeps trying until the process has ended.
//
// On the NT family the batch runs with the uninstaller's rights, which are
// an administrator's. So it runs nothing that a process without them could
// have written, renamed or replaced while it runs (cmd reads a batch line by
// line as it goes): the batch lies in a folder made for it under the Windows
// folder's Temp, created together with a security descriptor that lets only
// Administrators and SYSTEM in; the interpreter is the System folder's
// cmd.exe by full path, never what the environment names, without the
// user's AutoRun commands (/D); and ping, its pause, by full path too.
#include "launch/launch.h"

#include <sddl.h>
#include <string.h>

#include "base/run_state.h"
#include "data/files.h"
#include "paths/path_helpers.h"

enum { BatchTextSize = 1040, LastBatchNumber = 998, LastFolderAttempt = 64 };

static int IsExistingFile(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int FindCommandInterpreter(char* interpreter, const char* folder) {
    // command.com of 32-bit Windows 8 and 10 belongs to an optional feature
    // that prompts for installation, and ComSpec is the user's to set.
    if (IsNtPlatform) return GetSystemFilePath(interpreter, "cmd.exe") ? InterpreterOther : 0;
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

void* CreateAdminOnlyDescriptor() {
    // Looked up: 9x and NT 4 do not have it. A protected list, so that
    // nothing is inherited from the Temp folder, whose users may create there.
    typedef BOOL(WINAPI * ConvertCall)(LPCSTR, DWORD, PSECURITY_DESCRIPTOR*, PULONG);
    ConvertCall convert = (ConvertCall)(void*)GetProcAddress(GetModuleHandleA("advapi32.dll"),
                                                             "ConvertStringSecurityDescriptorToSecurityDescriptorA");
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (!convert || !convert("D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", SDDL_REVISION_1, &descriptor, NULL)) return NULL;
    return descriptor;
}

int CreateBatchFolder(char* folder) {
    UINT length = GetWindowsDirectoryA(folder, PathBufferSize);
    if (!length || length >= PathBufferSize || !AppendBackslash(folder) || !AppendPath(folder, "Temp\\")) return 0;
    length = (UINT)strlen(folder);
    SECURITY_ATTRIBUTES security = {sizeof security, CreateAdminOnlyDescriptor(), FALSE};
    if (!security.lpSecurityDescriptor) return 0;
    int made = 0;
    // A name that exists may have been made by anyone: never used, another is tried.
    DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 16);
    for (int attempt = 0; attempt < LastFolderAttempt && !made; attempt++) {
        char name[24];
        wsprintfA(name, "QvUninst%08lX\\", seed + attempt * 0x9E3779B9u);
        folder[length] = 0;
        if (!AppendPath(folder, name)) break;
        made = CreateDirectoryA(folder, &security) != 0;
        if (!made && GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    LocalFree(security.lpSecurityDescriptor);
    return made;
}

HANDLE CreateBatchFile(char* path, const char* folder) {
    if (!CopyPath(path, folder) || !AppendBackslash(path)) return INVALID_HANDLE_VALUE;
    size_t length = strlen(path);
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
    int quoted = NeedsQuotes(path);
    if (quoted && !PutChar(at, limit, '"')) return 0;
    for (; *path; path++)
        if (!PutChar(at, limit, *path) || (*path == '%' && !PutChar(at, limit, '%'))) return 0;
    return !quoted || PutChar(at, limit, '"');
}

// \1 the executable, \2 its folder, \3 the batch, \4 ping, \5 the tries: a
// line whose path is not given is left out. On NT a file that cannot go (it
// is held open, or the process never ends) is tried for about a minute, a
// second apart, and then given up: the batch deletes itself all the same.
static const char BatchFor9x[] = "@echo off\r\n:Repeat\r\ndel \1\r\nif exist \1 goto Repeat\r\nrmdir \2\r\ndel \3\r\n";
static const char BatchForNt[] =
    "@echo off\r\nset n=\5\r\n:Repeat\r\ndel /f \1\r\nif not exist \1 goto Removed\r\nset /a n-=1\r\n"
    "if %n%==0 goto Removed\r\n\4 -n 2 127.0.0.1 >nul\r\ngoto Repeat\r\n:Removed\r\nrmdir \2\r\ndel \3\r\n";

uint32_t ComposeRemovalBatch(char* text, uint32_t size, const char* exePath, const char* folder, const char* batchPath,
                             const char* pingPath, const char* tries) {
    const char* values[] = {exePath, folder, batchPath, pingPath, tries};
    char* at = text;
    char* line = text;
    const char* limit = text + size - 1;
    for (const char* piece = pingPath ? BatchForNt : BatchFor9x; *piece; piece++) {
        if (*piece > 5) {
            if (!PutChar(&at, limit, *piece)) return 0;
            if (*piece == '\n') line = at;
            continue;
        }
        const char* value = values[*piece - 1];
        if (!value) {
            at = line;  // the line goes, up to and with its line end
            while (piece[1] && *piece != '\n') piece++;
            continue;
        }
        if (!(*piece == 5 ? PutText(&at, limit, value) : PutBatchPath(&at, limit, value))) return 0;
    }
    *at = 0;
    return (uint32_t)(at - text);
}

int ComposeBatchCommand(char* text, const char* interpreter, int kind, const char* batchPath, const char* batchFolder) {
    if (batchFolder) {
        // The folder goes once the batch, which the interpreter holds open
        // while it runs, has ended. Between quotes only % would still act.
        if (strpbrk(batchPath, "%\"") || strpbrk(batchFolder, "%\"")) return 0;
        wsprintfA(text, "\"%s\" /D /E:ON /V:OFF /C \"\"%s\" & rmdir \"%s\"\"", interpreter, batchPath, batchFolder);
        return 1;
    }
    // cmd.exe keeps the quotes around a batch path only when the path holds
    // nothing special, so there a quoted path gets a second pair, which
    // cmd.exe strips.
    const char* quote = !NeedsQuotes(batchPath) ? "" : kind == InterpreterCommandCom ? "\"" : "\"\"";
    wsprintfA(text, "\"%s\" /C %s%s%s", interpreter, quote, batchPath, quote);
    return 1;
}

void RemoveSelf() {
    char batchPath[PathBufferSize], batchFolder[PathBufferSize], interpreter[PathBufferSize], ping[PathBufferSize];
    char text[BatchTextSize];
    // A folder that is a link, or lies beyond one, stays: rmdir would remove
    // Wine's link target, and a junction is not the installation's.
    int keepFolder = IsReachedThroughLink(InstallDir);
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
    if (IsNtPlatform) {
        if (!GetSystemFilePath(ping, "ping.exe") || !CreateBatchFolder(batchFolder)) return;
    } else {
        length = GetTempPathA(PathBufferSize, batchFolder);
        if (!length || length >= PathBufferSize) return;
    }

    HANDLE file = CreateBatchFile(batchPath, batchFolder);
    StripBackslash(batchFolder);
    if (file == INVALID_HANDLE_VALUE) {
        if (IsNtPlatform) RemoveDirectoryA(batchFolder);
        return;
    }
    CharToOemA(InstallDir, InstallDir);
    CharToOemA(WorkPath, WorkPath);
    uint32_t size = ComposeRemovalBatch(text, sizeof text, WorkPath, keepFolder ? NULL : InstallDir, batchPath,
                                        IsNtPlatform ? ping : NULL, "60");
    DWORD written;
    if (size) WriteFile(file, text, size, &written, NULL);
    CloseFile(file);

    // Two paths of under 260 bytes fit wsprintfA's 1024 and the text buffer.
    PROCESS_INFORMATION process;
    if (size && ComposeBatchCommand(text, interpreter, interpreterKind, batchPath, IsNtPlatform ? batchFolder : NULL) &&
        StartProgram(text, NULL, 1, &process)) {
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        return;
    }
    DeleteFileA(batchPath);
    if (IsNtPlatform) RemoveDirectoryA(batchFolder);
}
