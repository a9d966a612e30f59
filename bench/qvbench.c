/* The benchmark's Windows-side launcher.
     qvbench time PROGRAM [ARGS...]    runs it, prints "us N exit E peak_ws B"
                                       (B is 0 under Wine: see memory)
     qvbench memory PROGRAM [ARGS...]  runs it, prints "peak_ws B exit E", sampled
     qvbench prompt PROGRAM [ARGS...]  prints "us N": start to its first visible
                                       window, which is then answered with Cancel
     qvbench check LIST                prints what of LIST is still there, then
                                       "left N"; exit status 1 when N > 0
     qvbench desktop                   holds a hidden window until killed, so
                                       that Wine's desktop process stays up
   Timing from this side leaves out Wine's own start-up of the launcher. */
#include "list.h"
#include <psapi.h>

static double Micros(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return (double)(to.QuadPart - from.QuadPart) * 1e6 / (double)f.QuadPart;
}

/* The command line after the first two words, as given. */
static char* Tail(void) {
    char* p = GetCommandLineA();
    int word;
    for (word = 0; word < 2; ++word) {
        int quoted = 0;
        while (*p == ' ' || *p == '\t') ++p;
        for (; *p && (quoted || (*p != ' ' && *p != '\t')); ++p)
            if (*p == '"') quoted = !quoted;
    }
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}

static int Start(PROCESS_INFORMATION* pi) {
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    return CreateProcessA(NULL, Tail(), NULL, NULL, FALSE, 0, NULL, NULL, &si, pi);
}

struct Find { DWORD pid; HWND found; };
static BOOL CALLBACK FindVisible(HWND w, LPARAM lp) {
    struct Find* f = (struct Find*)lp;
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid == f->pid && IsWindowVisible(w)) { f->found = w; return FALSE; }
    return TRUE;
}

static int Time(void) {
    PROCESS_INFORMATION pi;
    LARGE_INTEGER t0, t1;
    PROCESS_MEMORY_COUNTERS mem;
    DWORD code = 0;
    QueryPerformanceCounter(&t0);
    if (!Start(&pi)) { fprintf(stderr, "qvbench: cannot start %s (%lu)\n", Tail(), GetLastError()); return 2; }
    WaitForSingleObject(pi.hProcess, INFINITE);
    QueryPerformanceCounter(&t1);
    GetExitCodeProcess(pi.hProcess, &code);
    ZeroMemory(&mem, sizeof mem);
    mem.cb = sizeof mem;
    GetProcessMemoryInfo(pi.hProcess, &mem, sizeof mem);
    printf("us %.0f exit %ld peak_ws %lu\n", Micros(t0, t1), (long)code, (unsigned long)mem.PeakWorkingSetSize);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return 0;
}

/* Wine reports no memory figures for a process that has ended, so the peak is
   sampled while it runs; a separate, untimed run, as sampling costs time. */
static int Memory(void) {
    PROCESS_INFORMATION pi;
    PROCESS_MEMORY_COUNTERS mem;
    SIZE_T peak = 0;
    DWORD code = 0;
    if (!Start(&pi)) { fprintf(stderr, "qvbench: cannot start %s (%lu)\n", Tail(), GetLastError()); return 2; }
    do {
        ZeroMemory(&mem, sizeof mem);
        mem.cb = sizeof mem;
        if (GetProcessMemoryInfo(pi.hProcess, &mem, sizeof mem)) {
            if (mem.PeakWorkingSetSize > peak) peak = mem.PeakWorkingSetSize;
            if (mem.WorkingSetSize > peak) peak = mem.WorkingSetSize;
        }
    } while (WaitForSingleObject(pi.hProcess, 5) == WAIT_TIMEOUT);
    GetExitCodeProcess(pi.hProcess, &code);
    printf("peak_ws %lu exit %ld\n", (unsigned long)peak, (long)code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return 0;
}

static int Prompt(void) {
    PROCESS_INFORMATION pi;
    LARGE_INTEGER t0, t1;
    struct Find f = {0, NULL};
    DWORD waited = 0;
    QueryPerformanceCounter(&t0);
    if (!Start(&pi)) { fprintf(stderr, "qvbench: cannot start %s (%lu)\n", Tail(), GetLastError()); return 2; }
    f.pid = pi.dwProcessId;
    while (!f.found && waited < 60000 && WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT) {
        EnumWindows(FindVisible, (LPARAM)&f);
        if (!f.found) { Sleep(1); ++waited; }
    }
    QueryPerformanceCounter(&t1);
    if (!f.found) { fprintf(stderr, "qvbench: no window appeared\n"); TerminateProcess(pi.hProcess, 1); return 1; }
    printf("us %.0f\n", Micros(t0, t1));
    fflush(stdout);
    PostMessageA(f.found, WM_COMMAND, IDCANCEL, 0);
    if (WaitForSingleObject(pi.hProcess, 30000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
    return 0;
}

static int AnyMatchLeft(char* folder, const char* mask) {
    size_t len = strlen(folder);
    WIN32_FIND_DATAA found;
    HANDLE h;
    int left = 0;
    sprintf(folder + len, "\\%s", mask);
    h = FindFirstFileA(folder, &found);
    if (h != INVALID_HANDLE_VALUE) { left = 1; FindClose(h); }
    strcpy(folder + len, "\\*");
    h = FindFirstFileA(folder, &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || found.cFileName[0] == '.') continue;
            sprintf(folder + len, "\\%s", found.cFileName);
            left |= AnyMatchLeft(folder, mask);
        } while (!left && FindNextFileA(h, &found));
        FindClose(h);
    }
    folder[len] = 0;
    return left;
}

static int Check(const char* path) {
    char line[1024], folder[1024], *rest;
    FILE* list = fopen(path, "r");
    HKEY key, shared = NULL;
    int kind, left = 0;
    if (!list) { fprintf(stderr, "qvbench: cannot read %s\n", path); return 2; }
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, SharedDllsKey, 0, KEY_READ, &shared);
    while ((kind = NextEntry(list, line, sizeof line, &rest))) {
        int there = 0;
        switch (kind) {
        case 'S':
            there = shared && RegQueryValueExA(shared, rest, NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
            /* fall through */
        case 'F':
        case 'D': there |= GetFileAttributesA(rest) != INVALID_FILE_ATTRIBUTES; break;
        case 'K':
            there = RegOpenKeyExA(RootOf(rest), rest + 5, 0, KEY_READ, &key) == ERROR_SUCCESS;
            if (there) RegCloseKey(key);
            break;
        case 'W': {
            char* slash = strrchr(rest, '\\');
            if (!slash) break;
            *slash = 0;
            strcpy(folder, rest);
            there = GetFileAttributesA(folder) != INVALID_FILE_ATTRIBUTES && AnyMatchLeft(folder, slash + 1);
            *slash = '\\';
            break;
        }
        }
        if (there && left++ < 10) printf("left: %c %s\n", kind, rest);
    }
    if (shared) RegCloseKey(shared);
    fclose(list);
    printf("left %d\n", left);
    return left ? 1 : 0;
}

/* Wine ends its desktop process (explorer.exe) a few seconds after the last
   window has gone, and the next program that makes a window waits for a new
   one (about 150 ms here). A Windows session's desktop is always there; the
   bench keeps Wine's up too, or every timed run of a program with a window
   pays for it and the floor, which has none, does not. */
static int HoldDesktop(void) {
    MSG message;
    if (!CreateWindowA("STATIC", "qvbench desktop", WS_POPUP, 0, 0, 1, 1, NULL, NULL, NULL, NULL)) return 1;
    while (GetMessageA(&message, NULL, 0, 0) > 0) DispatchMessageA(&message);
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 2 && !strcmp(argv[1], "desktop")) return HoldDesktop();
    if (argc >= 3 && !strcmp(argv[1], "time")) return Time();
    if (argc >= 3 && !strcmp(argv[1], "prompt")) return Prompt();
    if (argc >= 3 && !strcmp(argv[1], "memory")) return Memory();
    if (argc == 3 && !strcmp(argv[1], "check")) return Check(argv[2]);
    fputs("usage: qvbench time|memory|prompt PROGRAM [ARGS...] | qvbench check LIST | qvbench desktop\n", stderr);
    return 2;
}
