// Test-bed helpers that run a Windows program and answer its dialogs, so that
// end-to-end tests under Wine can drive message boxes and report true exit codes.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

// Clicks button buttonId in the next window whose caption is caption ("" = any).
struct Answer {
    std::string caption;
    int buttonId;
    int requiredControl = 0;  // when not 0: only a window that has a control with this id
};

struct SeenDialog {
    std::string caption;
    std::string text;  // of the static control 0xFFFF: a message box's text; else ""
    std::vector<std::pair<int, std::string>> controls;  // id and text of every child
    int answeredWith;  // 0 = not answered
};

struct RunResult {
    bool started = false;
    bool timedOut = false;
    DWORD exitCode = 0;
    std::vector<SeenDialog> dialogs;  // in the order they appeared
};

// Starts commandLine, records each visible top-level window of the process when it
// first appears and answers it with the first unused Answer whose caption matches.
// Answers are used once each, in order; a window without one is left alone. On
// timeout the process is terminated and timedOut is set.
// Called for each new window before it is answered, e.g. to look at other
// windows of the process while a modal prompt holds the run still.
using WindowHook = std::function<void(HWND window, const SeenDialog& seen)>;

RunResult RunAndAnswer(const std::string& commandLine, const std::vector<Answer>& answers,
                       DWORD timeoutMs, const char* currentDirectory = nullptr,
                       const WindowHook& onNewWindow = nullptr);

// True once path no longer exists (polled), false if it is still there after timeoutMs.
bool WaitForFileGone(const std::string& path, DWORD timeoutMs);

// The text of a window, also of another process; at most 4095 characters.
std::string ReadWindowText(HWND hwnd);
