/* Stand-ins for self-registering COM servers, built once per behaviour of
   DllUnregisterServer (SERVER_BEHAVIOUR):
     1 appends to "unregistered.txt" beside itself the program that called it
       and its current folder, "program|folder";
     3 never returns;
     2 scrambles the registers a caller keeps (EBX, ESI, EDI, EBP), leaves
       the x87 unit in single precision with a full register stack, and
       writes to address 0. */
#include <windows.h>

#ifndef SERVER_BEHAVIOUR
#error "SERVER_BEHAVIOUR must be set"
#endif

#if SERVER_BEHAVIOUR == 1

static HINSTANCE OwnModule;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) OwnModule = instance;
    return TRUE;
}

__declspec(dllexport) HRESULT WINAPI DllUnregisterServer(void) {
    char path[MAX_PATH + 32], exe[2 * MAX_PATH + 4];
    DWORD length = GetModuleFileNameA(OwnModule, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return E_FAIL;
    while (length > 0 && path[length - 1] != '\\') length--;
    lstrcpyA(path + length, "unregistered.txt");
    char folder[MAX_PATH];
    exe[GetModuleFileNameA(NULL, exe, MAX_PATH)] = 0;
    folder[GetCurrentDirectoryA(MAX_PATH, folder) % MAX_PATH] = 0;
    lstrcatA(exe, "|");
    lstrcatA(exe, folder);
    lstrcatA(exe, "\n");
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, 0, NULL, OPEN_ALWAYS, 0, NULL);
    DWORD written;
    WriteFile(file, exe, lstrlenA(exe), &written, NULL);
    CloseHandle(file);
    return S_OK;
}

#elif SERVER_BEHAVIOUR == 3

__declspec(dllexport) HRESULT WINAPI DllUnregisterServer(void) {
    Sleep(INFINITE);
    return S_OK;
}

#else

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
    ScrambleAndFault();
    return S_OK;
}

#endif
