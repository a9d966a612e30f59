/* A regsvr32.exe planted where the search for a bare command looks before the
   System folder. It must never run; if it does, it leaves a marker naming
   itself. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command, int show) {
    (void)instance;
    (void)previous;
    (void)command;
    (void)show;
    char self[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, self, sizeof self);
    if (length >= sizeof self) length = 0;
    HANDLE marker = CreateFileA("C:\\qvtest\\com\\planted-tool-ran.txt", GENERIC_WRITE, 0, NULL, OPEN_ALWAYS, 0, NULL);
    if (marker != INVALID_HANDLE_VALUE) {
        DWORD written;
        SetFilePointer(marker, 0, NULL, FILE_END);
        WriteFile(marker, self, length, &written, NULL);
        WriteFile(marker, "\n", 1, &written, NULL);
        CloseHandle(marker);
    }
    return 0;
}
