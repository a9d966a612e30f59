// The uninstaller's side of the data: where the block is, reading it from the
// running executable, and reporting what went wrong in a message box.
#include <windows.h>

#include "base/run_state.h"
#include "data/files.h"
#include "data/memory.h"
#include "data/message_table.h"
#include "data/records.h"

// The marker bytes identify the offset field for the tool that appends the
// data; after linking, the build writes the executable's own size into it.
// Volatile: the compiler must read the field as the file holds it.
extern "C" {
volatile unsigned char DataLocator[DataLocatorSize] = {0x77, 0x77, 0x67, 0x54, 0x29, 0x48, 0, 0, 0, 0};
}

static uint32_t ReadDataOffset() {
    return DataLocator[6] | DataLocator[7] << 8 | DataLocator[8] << 16 |
           (uint32_t)DataLocator[9] << 24;
}

int CanAskUser() {
    static int answer = -1;  // where the process runs does not change
    if (answer >= 0) return answer;
    answer = 1;
    // Looked up: 9x has neither, and NT 4 has no sessions.
    typedef BOOL(WINAPI * SessionCall)(DWORD, DWORD*);
    typedef BOOL(WINAPI * ObjectInformationCall)(HANDLE, int, PVOID, DWORD, DWORD*);
    SessionCall sessionOf = (SessionCall)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "ProcessIdToSessionId");
    ObjectInformationCall informationOf =
        (ObjectInformationCall)(void*)GetProcAddress(GetModuleHandleA("user32.dll"), "GetUserObjectInformationA");
    DWORD session;
    if (sessionOf && sessionOf(GetCurrentProcessId(), &session) && session == 0) answer = 0;
    USEROBJECTFLAGS flags;
    DWORD size;
    if (informationOf && informationOf(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags, &size) &&
        !(flags.dwFlags & WSF_VISIBLE))
        answer = 0;
    return answer;
}

int ShowMessage(const char* text, UINT type) {
    if (!CanAskUser()) return (type & MB_TYPEMASK) == MB_OK ? IDOK : (type & MB_TYPEMASK) == MB_YESNO ? IDNO : IDCANCEL;
    return MessageBoxA(MainWindow, text, GetMessageText(0, MsgCaption), type);
}

static void ReportReadError(int error) {
    char* message;
    if (!AllocateZeroed(FormattedMessageSize, &message)) return;
    FormatMessageText(message, error, ExePath);
    ShowMessage(message, MB_OK | MB_ICONINFORMATION);
    FreeAndClear(&message);
}

int ReadUninstallData() {
    uint32_t offset = ReadDataOffset();
    if (offset == 0) return 0;
    if (GetModuleFileNameA(ModuleInstance, ExePath, PathBufferSize) == 0) return 0;
    ExePath[PathBufferSize - 1] = 0;  // older systems leave a cut name unterminated
    HANDLE file = OpenExistingFile(ExePath, OpenForRead);
    if (file == INVALID_HANDLE_VALUE) return 0;
    SetFilePosition(file, offset);
    int error = ReadRecords(file);
    CloseFile(file);
    if (!error) return 1;
    ReportReadError(error);
    return 0;
}
