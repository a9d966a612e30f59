#include "run_and_answer.h"

#include <cstdlib>

#include <algorithm>
#include <cstring>

namespace {

const DWORD kPollMs = 25;
const int kMessageTextId = 0xFFFF;  // the static control holding a message box's text

struct WindowQuery {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM lParam) {
    WindowQuery* query = reinterpret_cast<WindowQuery*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == query->processId && IsWindowVisible(hwnd)) query->found.push_back(hwnd);
    return TRUE;
}

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM lParam) {
    auto* controls = reinterpret_cast<std::vector<std::pair<int, std::string>>*>(lParam);
    controls->emplace_back(GetDlgCtrlID(hwnd), ReadWindowText(hwnd));
    return TRUE;
}

SeenDialog Describe(HWND hwnd) {
    SeenDialog seen;
    seen.caption = ReadWindowText(hwnd);
    if (HWND text = GetDlgItem(hwnd, kMessageTextId)) seen.text = ReadWindowText(text);
    EnumChildWindows(hwnd, CollectChild, reinterpret_cast<LPARAM>(&seen.controls));
    seen.answeredWith = 0;
    return seen;
}

// Whether a window we met before is still that window: once destroyed, its handle
// value may come back for a new box, which must then count as new.
bool StillSameWindow(HWND hwnd, DWORD processId) {
    if (!IsWindow(hwnd)) return false;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    return pid == processId;
}

}  // namespace

std::string ReadWindowText(HWND hwnd) {
    char buffer[4096];
    // WM_GETTEXT reaches controls whose text the system does not keep (edits);
    // the timeout keeps a hung window from hanging the test, which then reads "".
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer),
                             SMTO_ABORTIFHUNG | SMTO_BLOCK, 1000, &copied))
        copied = 0;
    return std::string(buffer, strnlen(buffer, std::min<size_t>(copied, sizeof buffer - 1)));
}

// A slow machine (the emulated one) stretches every wait: QV_TIME_SCALE=N.
static DWORD Stretched(DWORD ms) {
    char text[8];
    const DWORD length = GetEnvironmentVariableA("QV_TIME_SCALE", text, sizeof text);
    const int scale = length && length < sizeof text ? atoi(text) : 1;
    return scale > 1 && scale <= 20 ? ms * scale : ms;
}

RunResult RunAndAnswer(const std::string& commandLine, const std::vector<Answer>& answers,
                       DWORD timeoutMs, const char* currentDirectory, const WindowHook& onNewWindow) {
    timeoutMs = Stretched(timeoutMs);
    RunResult result;
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        currentDirectory, &si, &pi)) {
        return result;
    }
    CloseHandle(pi.hThread);
    result.started = true;

    std::vector<bool> used(answers.size(), false);
    std::vector<HWND> known;
    const DWORD start = GetTickCount();
    for (;;) {
        known.erase(std::remove_if(known.begin(), known.end(),
                                   [&](HWND h) { return !StillSameWindow(h, pi.dwProcessId); }),
                    known.end());
        WindowQuery query{pi.dwProcessId, {}};
        EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&query));
        for (HWND hwnd : query.found) {
            if (std::find(known.begin(), known.end(), hwnd) != known.end()) continue;
            known.push_back(hwnd);
            SeenDialog seen = Describe(hwnd);
            if (onNewWindow) onNewWindow(hwnd, seen);
            for (size_t i = 0; i < answers.size(); ++i) {
                if (used[i]) continue;
                if (!answers[i].caption.empty() && answers[i].caption != seen.caption) continue;
                if (answers[i].requiredControl && !GetDlgItem(hwnd, answers[i].requiredControl)) continue;
                used[i] = true;
                const int id = answers[i].buttonId;
                HWND button = GetDlgItem(hwnd, id);
                if (PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                                 reinterpret_cast<LPARAM>(button))) {
                    seen.answeredWith = id;
                }
                break;
            }
            result.dialogs.push_back(std::move(seen));
        }
        if (WaitForSingleObject(pi.hProcess, kPollMs) == WAIT_OBJECT_0) break;
        if (GetTickCount() - start >= timeoutMs) {
            result.timedOut = true;
            TerminateProcess(pi.hProcess, 0xDEADu);
            WaitForSingleObject(pi.hProcess, 5000);
            break;
        }
    }
    DWORD code = 0;
    if (GetExitCodeProcess(pi.hProcess, &code)) result.exitCode = code;
    CloseHandle(pi.hProcess);
    return result;
}


bool WaitForFileGone(const std::string& path, DWORD timeoutMs) {
    timeoutMs = Stretched(timeoutMs);
    const DWORD start = GetTickCount();
    for (;;) {
        if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            // Only "not found" means gone; a denied look says nothing.
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
        }
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(kPollMs);
    }
}
