/* Stand-ins for self-registering COM servers. One source, built once per
   behaviour of DllUnregisterServer (SERVER_BEHAVIOUR):
     1 records who called it, from which folder, with which error mode;
     2 puts a frame of its own on the exception chain, scrambles the
       registers a caller keeps (EBX, ESI, EDI, EBP), leaves the x87 unit in
       single precision with a full register stack, and writes to address 0;
     3 raises the exception that a C++ throw of the common Windows compilers
       raises (code 0xE06D7363, not continuable);
     4 raises an exception that its own frame handles, then records completion.
   Markers go to the DLL's own folder and are appended to, one record (process,
   current directory, error mode) per event: "unregistered.txt" and
   "completed.txt" as above, "unwound.txt" when an unwind passes through the
   frame of 2 or 4, and "freed-<n>.txt" whenever FreeLibrary unloads the DLL. */
#include <windows.h>

#ifndef SERVER_BEHAVIOUR
#error "SERVER_BEHAVIOUR must be set"
#endif

static HINSTANCE OwnModule;

static void RecordCall(const char* name) {
    char path[MAX_PATH + 32], exe[MAX_PATH], folder[MAX_PATH], text[3 * MAX_PATH];
    DWORD length = GetModuleFileNameA(OwnModule, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    while (length > 0 && path[length - 1] != '\\') length--;
    lstrcpyA(path + length, name);
    exe[0] = folder[0] = 0;
    GetModuleFileNameA(NULL, exe, sizeof exe);
    GetCurrentDirectoryA(sizeof folder, folder);
    UINT mode = SetErrorMode(0);
    SetErrorMode(mode);
    wsprintfA(text, "%s\n%s\n%u\n", exe, folder, mode); /* one per line */
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, OPEN_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    SetFilePointer(file, 0, NULL, FILE_END);
    DWORD written;
    WriteFile(file, text, lstrlenA(text), &written, NULL);
    CloseHandle(file);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) OwnModule = instance;
    if (reason == DLL_PROCESS_DETACH && reserved == NULL) {
        char name[32];
        wsprintfA(name, "freed-%d.txt", SERVER_BEHAVIOUR);
        RecordCall(name);
    }
    return TRUE;
}

#if SERVER_BEHAVIOUR == 1

__declspec(dllexport) HRESULT WINAPI DllUnregisterServer(void) {
    RecordCall("unregistered.txt");
    return S_OK;
}

#elif SERVER_BEHAVIOUR == 2 || SERVER_BEHAVIOUR == 4

typedef struct Registration {
    struct Registration* next;
    void* handler;
} Registration;

static EXCEPTION_DISPOSITION __cdecl OwnFrameHandler(EXCEPTION_RECORD* exception, void* frame, CONTEXT* context,
                                                     void* dispatcher) {
    (void)frame;
    (void)context;
    (void)dispatcher;
    if (exception->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) RecordCall("unwound.txt");
    else if (exception->ExceptionCode == 0xE0000004) return ExceptionContinueExecution;
    return ExceptionContinueSearch;
}

void ScrambleAndFault(void) asm("ScrambleAndFault");
asm(".text\n"
    "ScrambleAndFault:\n"
    "    movl $0xbad0001, %ebx\n"
    "    movl $0xbad0002, %esi\n"
    "    movl $0xbad0003, %edi\n"
    "    movl $0xbad0004, %ebp\n"
    "    pushl $0x007f\n" /* single precision, exceptions masked */
    "    fldcw (%esp)\n"
    "    fld1\n    fld1\n    fld1\n    fld1\n    fld1\n    fld1\n    fld1\n    fld1\n"
    "    xorl %eax, %eax\n"
    "    movl %eax, (%eax)\n"
    "    ret\n");

__declspec(dllexport) HRESULT WINAPI DllUnregisterServer(void) {
    Registration** head = (Registration**)&((NT_TIB*)NtCurrentTeb())->ExceptionList;
    Registration own = {*head, (void*)OwnFrameHandler};
    *head = &own;
#if SERVER_BEHAVIOUR == 2
    ScrambleAndFault();
#else
    RaiseException(0xE0000004, 0, 0, NULL);
#endif
    *head = own.next;
    RecordCall("completed.txt");
    return S_OK;
}

#elif SERVER_BEHAVIOUR == 3

__declspec(dllexport) HRESULT WINAPI DllUnregisterServer(void) {
    static const ULONG_PTR throwInfo[4] = {0, 0, 0, 0};
    static int thrown = 42;
    ULONG_PTR arguments[3] = {0x19930520, (ULONG_PTR)&thrown, (ULONG_PTR)throwInfo};
    RaiseException(0xE06D7363, EXCEPTION_NONCONTINUABLE, 3, arguments);
    return S_OK;
}

#endif
