// winrun: runs a Windows program, answers its dialogs and prints their texts and
// the program's true exit code (wine's own exit status is not reliable).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "run_and_answer.h"

namespace {

const char kUsage[] =
    "usage: winrun [--answer ID[@CAPTION][#CONTROL]]... [--timeout SECONDS] [--cwd DIR] [--shots DIR]\n"
    "              -- PROGRAM [ARGS...]\n"
    "\n"
    "Runs PROGRAM with ARGS, watches its visible top-level windows and answers each\n"
    "new one with the next unused --answer whose CAPTION matches it exactly (no\n"
    "@CAPTION: any window) by clicking button ID (1 OK, 2 Cancel, 6 Yes, 7 No, ...).\n"
    "With #CONTROL only a window that has a control of that id matches (65535: the\n"
    "text of a message box, so that other windows with the same caption are skipped).\n"
    "Each answer is used once, in order; a window without an answer is left alone.\n"
    "\n"
    "Prints one line per window seen, then \"exit code: N\" (signed decimal).\n"
    "  --timeout SECONDS  terminate PROGRAM after this long (default 60)\n"
    "  --cwd DIR          start PROGRAM in DIR\n"
    "  --shots DIR        before answering a new window, wait for it to paint and save\n"
    "                     DIR\\NN.bmp (NN: order seen), the screen area of all visible\n"
    "                     windows of PROGRAM; for a message box over other windows also\n"
    "                     DIR\\NN-under.bmp, the other windows with the box hidden a moment\n"
    "Exit status: 0 PROGRAM ran to its end, 3 timed out, 2 usage error or not started.\n";

int Usage(const char* error) {
    if (error) std::fprintf(stderr, "winrun: %s\n", error);
    std::fputs(kUsage, error ? stderr : stdout);
    return 2;
}

// Quotes one argument so that the child's command-line parser gives it back whole.
std::string Quote(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal unless they precede a quote.
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    out += '"';
    return out;
}

// Keeps a report on one line.
std::string OneLine(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r') continue;
        if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

bool ParseNumber(const char* text, long min, long max, long* value) {
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < min || v > max) return false;
    *value = v;
    return true;
}

struct ShotQuery {
    DWORD processId;
    RECT area;
    bool any;
    HWND exclude;
};

BOOL CALLBACK AddWindowArea(HWND hwnd, LPARAM lParam) {
    ShotQuery* query = reinterpret_cast<ShotQuery*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    RECT r;
    if (pid != query->processId || hwnd == query->exclude || !IsWindowVisible(hwnd) || !GetWindowRect(hwnd, &r) || IsRectEmpty(&r))
        return TRUE;
    if (query->any) UnionRect(&query->area, &query->area, &r);
    else query->area = r;
    query->any = true;
    return TRUE;
}

// The screen rectangle covering every visible top-level window of the process,
// clipped to the screen; false when there is none.
bool ProcessWindowArea(DWORD processId, RECT* area) {
    ShotQuery query{processId, {}, false, nullptr};
    EnumWindows(AddWindowArea, reinterpret_cast<LPARAM>(&query));
    const RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    return query.any && IntersectRect(area, &query.area, &screen);
}

// Copies a screen rectangle into a 24-bit bottom-up BMP file.
bool SaveScreenArea(const RECT& area, const std::string& path) {
    const int width = area.right - area.left, height = area.bottom - area.top;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (memory && bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY) != 0;
        GdiFlush();
        SelectObject(memory, old);
    }
    if (ok) {
        const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
        const DWORD imageSize = stride * static_cast<DWORD>(height);
        BITMAPFILEHEADER file = {};
        file.bfType = 0x4D42;  // "BM"
        file.bfOffBits = sizeof file + sizeof info.bmiHeader;
        file.bfSize = file.bfOffBits + imageSize;
        info.bmiHeader.biSizeImage = imageSize;
        FILE* out = std::fopen(path.c_str(), "wb");
        ok = out && std::fwrite(&file, sizeof file, 1, out) == 1 &&
             std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
             std::fwrite(bits, 1, imageSize, out) == imageSize;
        if (out && std::fclose(out) != 0) ok = false;
    }
    if (bitmap) DeleteObject(bitmap);
    if (memory) DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

const int kMessageTextId = 0xFFFF;       // the static control holding a message box's text
const DWORD kPaintWaitMs = 600;  // long enough for a new window and its controls to paint

// Takes the pictures of one new window; returns their file names for the report.
std::string TakeShots(HWND window, const std::string& dir, size_t number) {
    Sleep(kPaintWaitMs);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char name[32];
    std::snprintf(name, sizeof name, "%02u", static_cast<unsigned>(number));
    const std::string base = dir + (dir.empty() || dir.back() == '\\' ? "" : "\\") + name;
    RECT area;
    if (!IsWindow(window) || !ProcessWindowArea(pid, &area)) return "no shot (window gone)";
    std::string report = SaveScreenArea(area, base + ".bmp") ? std::string(name) + ".bmp" : "shot failed";
    // A message box holds the run still, so what it covers can be shown too: its
    // modal loop repaints the windows beneath while it is hidden.
    ShotQuery others{pid, {}, false, window};
    EnumWindows(AddWindowArea, reinterpret_cast<LPARAM>(&others));
    if (GetDlgItem(window, kMessageTextId) && others.any) {
        ShowWindow(window, SW_HIDE);
        Sleep(kPaintWaitMs / 2);
        RECT under;
        if (ProcessWindowArea(pid, &under) && SaveScreenArea(under, base + "-under.bmp"))
            report += std::string(", ") + name + "-under.bmp";
        ShowWindow(window, SW_SHOWNORMAL);
    }
    return report;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<Answer> answers;
    long timeoutSeconds = 60;
    const char* cwd = nullptr;
    const char* shotsDir = nullptr;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h" || arg == "/?") {
            Usage(nullptr);
            return 0;
        }
        if (arg == "--") {
            ++i;
            break;
        }
        if (i + 1 >= argc) return Usage(("missing value after " + arg).c_str());
        const char* value = argv[++i];
        if (arg == "--answer") {
            std::string answer = value;
            long control = 0;
            const size_t hash = answer.rfind('#');
            if (hash != std::string::npos) {
                if (!ParseNumber(answer.c_str() + hash + 1, 1, 0xFFFF, &control)) return Usage(("bad control id: " + answer).c_str());
                answer.resize(hash);
            }
            const size_t at = answer.find('@');
            const std::string id = answer.substr(0, at);
            long n = 0;
            if (!ParseNumber(id.c_str(), 1, 0xFFFF, &n)) return Usage(("bad button id: " + answer).c_str());
            answers.push_back({at == std::string::npos ? "" : answer.substr(at + 1), static_cast<int>(n), static_cast<int>(control)});
        } else if (arg == "--timeout") {
            if (!ParseNumber(value, 1, 86400, &timeoutSeconds)) return Usage("bad --timeout");
        } else if (arg == "--cwd") {
            cwd = value;
        } else if (arg == "--shots") {
            shotsDir = value;
        } else {
            return Usage(("unknown option " + arg).c_str());
        }
    }
    if (i >= argc) return Usage("no program given");

    std::string commandLine;
    for (int k = i; k < argc; ++k) {
        if (k > i) commandLine += ' ';
        commandLine += Quote(argv[k]);
    }

    // The hook sees new windows in the order they are reported, so shots[k] goes with run.dialogs[k].
    std::vector<std::string> shots;
    WindowHook hook;
    if (shotsDir) {
        CreateDirectoryA(shotsDir, nullptr);
        hook = [&](HWND window, const SeenDialog&) { shots.push_back(TakeShots(window, shotsDir, shots.size() + 1)); };
    }
    const RunResult run =
        RunAndAnswer(commandLine, answers, static_cast<DWORD>(timeoutSeconds) * 1000, cwd, hook);
    if (!run.started) {
        std::fprintf(stderr, "winrun: cannot start %s (error %lu)\n", commandLine.c_str(),
                     static_cast<unsigned long>(GetLastError()));
        return 2;
    }
    for (size_t k = 0; k < run.dialogs.size(); ++k) {
        const SeenDialog& d = run.dialogs[k];
        std::string body = d.text;
        if (body.empty()) {
            // Not a message box: list the controls instead.
            for (const auto& control : d.controls) {
                if (!body.empty()) body += ' ';
                body += "[" + std::to_string(control.first) + "] \"" + control.second + "\"";
            }
        }
        std::printf("dialog \"%s\": %s -> ", OneLine(d.caption).c_str(), OneLine(body).c_str());
        if (d.answeredWith) std::printf("answered %d", d.answeredWith);
        else std::printf("not answered");
        if (k < shots.size()) std::printf(" [shot %s]", shots[k].c_str());
        std::printf("\n");
    }
    if (run.timedOut) std::printf("timed out after %ld s\n", timeoutSeconds);
    std::printf("exit code: %ld\n", static_cast<long>(static_cast<LONG>(run.exitCode)));
    std::fflush(stdout);
    return run.timedOut ? 3 : 0;
}
