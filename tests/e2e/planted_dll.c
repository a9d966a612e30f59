/* A stand-in for a system library planted beside the uninstaller: loading it
   leaves a marker file, so a test can tell that it was loaded. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        HANDLE marker = CreateFileA("C:\\qvtest\\planted-dll-loaded", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
    }
    return TRUE;
}

__declspec(dllexport) HRESULT WINAPI SetThemeAppProperties(DWORD flags) {
    (void)flags;
    return S_OK;
}
