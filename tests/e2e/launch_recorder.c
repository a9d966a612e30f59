/* A program for the launch tests to start: it tells how it was started.
 * It appends to the file named by the environment variable QV_RECORD:
 *   start|<its command line>|<its current directory>|<show>
 * where show is the window state it was asked for, or "-" for none.
 * Then, when QV_SLEEP gives a number of milliseconds, it sleeps that long.
 * At the end it appends "end" and, when QV_WATCH names a file, whether that
 * file exists at that moment:
 *   end|present   or   end|absent   or   end|
 * Without QV_RECORD it does nothing. Its exit code is QV_EXIT, else 0. */
#include <windows.h>
#include <stdlib.h>

/* A test that reads the record at the same moment may hold it without
 * sharing it for writing: try again for a while. */
static void AppendLine(const char* record, const char* line) {
    HANDLE file = INVALID_HANDLE_VALUE;
    int attempt;
    for (attempt = 0; attempt < 200 && file == INVALID_HANDLE_VALUE; attempt++) {
        if (attempt) Sleep(10);
        file = CreateFileA(record, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    }
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written;
    WriteFile(file, line, lstrlenA(line), &written, NULL);
    WriteFile(file, "\r\n", 2, &written, NULL);
    CloseHandle(file);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR tail, int show) {
    char record[MAX_PATH], value[MAX_PATH], folder[MAX_PATH], state[16] = "-", line[2048];
    STARTUPINFOA startup;
    (void)instance, (void)previous, (void)tail, (void)show;
    if (!GetEnvironmentVariableA("QV_RECORD", record, sizeof record)) return 0;
    GetCurrentDirectoryA(sizeof folder, folder);
    GetStartupInfoA(&startup);
    if (startup.dwFlags & STARTF_USESHOWWINDOW) wsprintfA(state, "%d", startup.wShowWindow);
    wsprintfA(line, "start|%.1000s|%s|%s", GetCommandLineA(), folder, state);
    AppendLine(record, line);
    if (GetEnvironmentVariableA("QV_SLEEP", value, sizeof value)) Sleep((DWORD)atoi(value));
    lstrcpyA(line, "end|");
    if (GetEnvironmentVariableA("QV_WATCH", value, sizeof value))
        lstrcatA(line, GetFileAttributesA(value) == INVALID_FILE_ATTRIBUTES ? "absent" : "present");
    AppendLine(record, line);
    return GetEnvironmentVariableA("QV_EXIT", value, sizeof value) ? atoi(value) : 0;
}
