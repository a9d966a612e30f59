#include "ui/dialogs.h"

#include <commctrl.h>

#include "base/run_state.h"
#include "data/memory.h"
#include "data/message_table.h"

HWND ProgressDialog;
HWND ProgressBar;
uint32_t LastProgress;
HFONT DialogFont;

// The controls get the template's font at normal weight (dialogs may draw
// it bold), made once from whichever dialog initialises first.
static void ApplyDialogFont(HWND dialog) {
    if (!DialogFont) {
        HFONT templateFont = (HFONT)SendMessageA(dialog, WM_GETFONT, 0, 0);
        LOGFONTA description;
        if (templateFont && GetObjectA(templateFont, sizeof description, &description)) {
            description.lfWeight = FW_NORMAL;
            DialogFont = CreateFontIndirectA(&description);
        }
    }
    if (!DialogFont) return;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        SendMessageA(child, WM_SETFONT, (WPARAM)DialogFont, 0);
}

// The run cannot be cancelled: every command, Esc and the close box
// included, is swallowed.
static INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) {
        ApplyDialogFont(dialog);
        SetWindowTextA(dialog, GetMessageText(0, MsgCaption));
        return TRUE;
    }
    if (message == WM_COMMAND) {
        SetWindowLongA(dialog, DWL_MSGRESULT, 1);
        return TRUE;
    }
    return FALSE;
}

static INT_PTR CALLBACK ReadOnlyFileDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        ApplyDialogFont(dialog);
        SetWindowTextA(dialog, GetMessageText(0, MsgCaption));
        SetDlgItemTextA(dialog, ControlText, (const char*)lParam);
        SetDlgItemTextA(dialog, IDYES, GetMessageText(0, MsgReadOnlyRemove));
        SetDlgItemTextA(dialog, IDNO, GetMessageText(0, MsgReadOnlyKeep));
        SetDlgItemTextA(dialog, AnswerYesToAll, GetMessageText(0, MsgReadOnlyRemoveAll));
        SetDlgItemTextA(dialog, AnswerNoToAll, GetMessageText(0, MsgReadOnlyKeepAll));
        return TRUE;  // the dialog manager focuses the first tab stop, "remove"
    }
    if (message == WM_COMMAND) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

int OpenProgressDialog() {
    ProgressDialog = CreateDialogParamA(ModuleInstance, MAKEINTRESOURCEA(ProgressDialogTemplate), MainWindow,
                                        ProgressDialogProc, 0);
    if (!ProgressDialog) return 0;
    ProgressBar = GetDlgItem(ProgressDialog, ControlProgressBar);
    SetDlgItemTextA(ProgressDialog, ControlText, GetMessageText(0, MsgStatusFiles));
    return 1;
}

void SetProgressStatus(int messageIndex) {
    if (ProgressDialog) SetDlgItemTextA(ProgressDialog, ControlText, GetMessageText(0, messageIndex));
}

void CloseProgressDialog() {
    if (!ProgressDialog) return;
    DestroyWindow(ProgressDialog);
    ProgressDialog = NULL;
    ProgressBar = NULL;
}

void PumpMessages() {
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_NOREMOVE)) {
        if (GetMessageA(&message, NULL, 0, 0) == 0) continue;  // a quit message here is dropped
        if (ProgressDialog && IsDialogMessageA(ProgressDialog, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void SetProgress(uint32_t percent) {
    if (percent > 100) percent = 100;
    if (percent == LastProgress) return;
    LastProgress = percent;
    if (ProgressBar) SendMessageA(ProgressBar, PBM_SETPOS, percent, 0);
    PumpMessages();
}

int AskReadOnlyFile(const char* path) {
    char* prompt;
    if (!AllocateZeroed(FormattedMessageSize, &prompt)) return IDNO;
    FormatMessageText(prompt, MsgReadOnlyPrompt, path);
    // Nobody to ask: a read-only file the data names is the installation's own.
    int answer = AnswerYesToAll;
    if (prompt[0] && CanAskUser()) {
        answer = (int)DialogBoxParamA(ModuleInstance, MAKEINTRESOURCEA(ReadOnlyFileDialogTemplate), MainWindow,
                                      ReadOnlyFileDialogProc, (LPARAM)prompt);
        if (answer == -1) answer = IDNO;
    }
    FreeAndClear(&prompt);
    return answer;
}

void ReleaseDialogFont() {
    if (DialogFont) {
        DeleteObject(DialogFont);
        DialogFont = NULL;
    }
}
