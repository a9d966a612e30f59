// What the user sees of a run besides message boxes: the progress dialog,
// the read-only file prompt, and message pumping during long work.
#pragma once
#include <windows.h>
#include <stdint.h>

enum {
    ReadOnlyFileDialogTemplate = 109,
    ProgressDialogTemplate = 110,
    ControlText = 1000,
    ControlProgressBar = 1009,
};

// Answers of the read-only prompt besides IDYES (6) and IDNO (7).
enum { AnswerYesToAll = 1001, AnswerNoToAll = 1002 };

extern HWND ProgressDialog;
extern HWND ProgressBar;
extern uint32_t LastProgress;
extern HFONT DialogFont;

// Opens the modeless progress dialog with status message 11; 1 when it exists.
int OpenProgressDialog();
void SetProgressStatus(int messageIndex);
void CloseProgressDialog();
// Moves the bar to percent (clamped to 100) and pumps messages, but only when
// the value changed.
void SetProgress(uint32_t percent);
// Handles every waiting message of the thread, without waiting for more.
void PumpMessages();
// Asks about a write-protected file: 6, 7, AnswerYesToAll or AnswerNoToAll;
// 2 when dismissed; AnswerYesToAll without asking when message 9 is empty.
int AskReadOnlyFile(const char* path);
void ReleaseDialogFont();
