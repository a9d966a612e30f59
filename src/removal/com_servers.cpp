#include "removal/com_servers.h"

#include <windows.h>
#include <string.h>

#include "base/run_state.h"
#include "data/memory.h"
#include "paths/path_helpers.h"

#if !defined(__i386__)
#error "The guarded call below is written for 32-bit x86 structured exception handling"
#endif

enum {
    QuietErrorMode = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX,
    CommandBufferSize = 520,
    // How long the registration tool may take: a server's unregistration
    // takes well under a second; one that hangs must not hold the run.
    RegistrationToolLimit = 30000,
    ToolPollMilliseconds = 250
};

static const char ToolName[] = "regsvr32.exe";
static const char ToolSwitches[] = " /u /s \"";

// ---------------------------------------------------------------------------
// The guarded call of a server's entry point.
//
// g++ for i686 has no __try, so the guard is a structured exception frame of
// its own. CallEntryPointGuarded pushes a registration record onto the
// thread's chain (FS:[0]) and calls the entry point. An exception that the
// server does not handle itself reaches CatchServerException, which
//  - first runs a global unwind to the record (RtlUnwind): every frame the
//    server put on the chain gets its termination call, as the system would
//    give it, and FS:[0] is left pointing at our record again;
//  - then resumes in CallEntryPointGuarded with EBP taken from the record.
//    ESP is recomputed from EBP, EBX/ESI/EDI are popped from the slots saved
//    at entry, the x87 state is reset to the saved control word (a fault in
//    the middle of a computation can leave values on the register stack),
//    and the record is taken off the chain. Nothing of the faulting context
//    is trusted.
// The dispatcher's stack below our frame is simply abandoned, which is what
// a compiler's __except does too. A frame handler rather than a vectored one
// is used because a vectored handler would see every first-chance exception,
// including those the server raises and handles itself (its own C++ catches
// work that way), and would cut that legitimate work short.
// ESP is also recomputed after a normal return, so an entry point declared
// with another calling convention (cdecl, or stdcall with arguments) cannot
// unbalance the stack. The program is linked without a SafeSEH table and is
// not marked NO_SEH, so the system accepts the handler; a table, if one is
// ever linked in, would have to list CatchServerException.
//
// Frame of CallEntryPointGuarded, relative to EBP:
//   +8 entry point   -4 EBX   -8 ESI   -12 EDI   -16 x87 control word
//   -20 saved EBP   -24 handler   -28 next record (the record starts here)
// ---------------------------------------------------------------------------

typedef HRESULT(WINAPI* EntryPoint)();

// Returns 0 after a normal return of the entry point, 1 after an exception.
extern "C" int CallEntryPointGuarded(EntryPoint entry) asm("CallEntryPointGuarded");

// The handler is written in assembly as well: RtlUnwind returns through a
// context it captured itself and is not relied on to keep EBX, ESI and EDI,
// so the record pointer waits on the stack across the call.
asm(".section .text$CallEntryPointGuarded,\"x\"\n"
    "CallEntryPointGuarded:\n"
    "    pushl %ebp\n"
    "    movl %esp, %ebp\n"
    "    pushl %ebx\n"
    "    pushl %esi\n"
    "    pushl %edi\n"
    "    subl $4, %esp\n"
    "    fnstcw -16(%ebp)\n"
    "    pushl %ebp\n"
    "    pushl $CatchServerException\n"
    "    pushl %fs:0\n"
    "    movl %esp, %fs:0\n"
    "    call *8(%ebp)\n"
    "    xorl %eax, %eax\n"
    "LeaveGuardedCall:\n"
    "    movl -28(%ebp), %ecx\n"
    "    movl %ecx, %fs:0\n"
    "    leal -12(%ebp), %esp\n"
    "    popl %edi\n"
    "    popl %esi\n"
    "    popl %ebx\n"
    "    popl %ebp\n"
    "    ret\n"
    // (EXCEPTION_RECORD*, record, CONTEXT*, dispatcher context), cdecl
    "CatchServerException:\n"
    "    movl 4(%esp), %eax\n"
    "    testl $6, 4(%eax)\n"  // EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND: the unwind passes through
    "    jz 1f\n"
    "    movl $1, %eax\n"  // ExceptionContinueSearch
    "    ret\n"
    "1:  movl 8(%esp), %ecx\n"
    "    pushl %ecx\n"
    "    pushl $0\n"
    "    pushl %eax\n"
    "    pushl $0\n"
    "    pushl %ecx\n"
    "    call *__imp__RtlUnwind@16\n"
    "    popl %eax\n"
    "    movl 8(%eax), %ebp\n"
    "    fninit\n"
    "    fldcw -16(%ebp)\n"
    "    movl $1, %eax\n"
    "    jmp LeaveGuardedCall\n"
    ".text\n");  // where the compiler expects to be after top-level assembly

// ---------------------------------------------------------------------------

// The tool is named by its full path in the System folder: the search for a
// bare command looks in the uninstaller's own folder first, and a planted
// regsvr32.exe there would run with the uninstaller's rights.
// Returns 0 when the tool could not be started, also when the path or the
// command does not fit its buffer.
static int RunUnregistrationTool(char* command) {
    char tool[PathBufferSize];
    const char* pathEnd = (const char*)memchr(WorkPath, 0, PathBufferSize);
    if (!GetSystemFilePath(tool, ToolName) || !pathEnd) return 0;
    size_t pathLength = pathEnd - WorkPath;
    size_t toolLength = strlen(tool);
    // "tool" /u /s "path" and the terminator
    size_t commandLength = 1 + toolLength + 1 + (sizeof ToolSwitches - 1) + pathLength + 1;
    if (commandLength + 1 > CommandBufferSize) return 0;
    char* at = command;
    *at++ = '"';
    memcpy(at, tool, toolLength);
    at += toolLength;
    *at++ = '"';
    memcpy(at, ToolSwitches, sizeof ToolSwitches - 1);
    at += sizeof ToolSwitches - 1;
    memcpy(at, WorkPath, pathLength);
    at += pathLength;
    *at++ = '"';
    *at = 0;

    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    memset(&process, 0, sizeof process);
    // No handle of the elevated uninstaller is the tool's, and it runs in the
    // System folder: the uninstaller's current folder may be anyone's.
    tool[toolLength - (sizeof ToolName - 1) - 1] = 0;
    if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, NORMAL_PRIORITY_CLASS, NULL, tool, &startup, &process))
        return 0;
    // Polled, a moment passes after its end before the server's file is
    // deleted (Wine signals the end before it lets go of the loaded server).
    // Past the limit the tool is left to itself and the run goes on.
    for (int waited = 0; waited < RegistrationToolLimit; waited += ToolPollMilliseconds) {
        DWORD exitCode;
        if (!GetExitCodeProcess(process.hProcess, &exitCode)) break;
        Sleep(ToolPollMilliseconds);
        if (exitCode != STILL_ACTIVE) break;
    }
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return 1;
}

static void UnregisterInProcess() {
    UINT innerMode = SetErrorMode(QuietErrorMode);
    char savedDirectory[PathBufferSize];
    char serverFolder[PathBufferSize];
    savedDirectory[0] = 0;
    DWORD length = GetCurrentDirectoryA(sizeof savedDirectory, savedDirectory);
    if (length == 0 || length >= sizeof savedDirectory) savedDirectory[0] = 0;
    StripBackslash(savedDirectory);

    // The server may load its own dependencies from its folder by relative name.
    lstrcpynA(serverFolder, WorkPath, sizeof serverFolder);
    char* lastBackslash = FindLastBackslash(serverFolder);
    if (lastBackslash) {
        *lastBackslash = 0;
        SetCurrentDirectoryA(serverFolder);
    }

    HMODULE server = LoadLibraryA(WorkPath);
    if ((UINT_PTR)server >= 32) {
        EntryPoint entry = (EntryPoint)(void*)GetProcAddress(server, "DllUnregisterServer");
        if (entry) CallEntryPointGuarded(entry);
        FreeLibrary(server);
    }

    if (savedDirectory[0]) SetCurrentDirectoryA(savedDirectory);
    SetErrorMode(innerMode);
}

void UnregisterComServer() {
    UINT outerMode = SetErrorMode(QuietErrorMode);
    int started = 0;
    if (IsNt6OrLater) {
        char* command;
        if (AllocateZeroed(CommandBufferSize, &command)) {
            started = RunUnregistrationTool(command);
            FreeAndClear(&command);
        }
    }
    if (!started) UnregisterInProcess();
    SetErrorMode(outerMode);
}
