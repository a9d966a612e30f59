// Running the pre-removal program and opening the final document.
#include "launch/launch.h"

#include <exdisp.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <string.h>

#include "base/run_state.h"
#include "paths/path_helpers.h"
#include "ui/dialogs.h"

enum { CommandLineSize = 528, AssociationSize = 520, DefaultValueSize = 260, WaitPollMilliseconds = 200 };

int IsFullPath(const char* path) {
    return (path[0] && path[1] == ':' && path[2] == '\\') || (path[0] == '\\' && path[1] == '\\');
}

// Cuts a path to its folder. A drive root keeps its backslash, so that it
// does not turn into the drive's current folder. Returns 0 without a backslash.
static int CutToFolder(char* path) {
    char* last = FindLastBackslash(path);
    if (!last) return 0;
    if (last == path + 2 && path[1] == ':') last++;
    *last = 0;
    return 1;
}

int IsWebAddress(const char* text) {
    const char* prefix = "http://";
    for (; *prefix; text++, prefix++) {
        if (prefix[0] == ':' && (*text | 0x20) == 's') text++;
        if ((*text | 0x20) != *prefix) return 0;
    }
    return 1;
}

int StartProgram(char* commandLine, const char* folder, int hidden, PROCESS_INFORMATION* process) {
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    if (hidden) startup.dwFlags = STARTF_USESHOWWINDOW;  // and wShowWindow SW_HIDE
    // No handle of the uninstaller is meant for the program: an inherited
    // output pipe would keep whoever started the uninstaller waiting.
    return CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, NORMAL_PRIORITY_CLASS, NULL, folder, &startup, process);
}

int RunProgram(const char* program, const char* arguments, int wait) {
    char commandLine[CommandLineSize];
    char folder[CommandLineSize];
    size_t programLength = strlen(program);
    size_t argumentsLength = arguments ? strlen(arguments) : 0;
    // Two quotes, the path, a blank and the arguments, the terminator: a
    // command line that does not fit is not run at all rather than cut.
    if (!IsFullPath(program) || programLength + argumentsLength + 4 > CommandLineSize) return 0;
    wsprintfA(commandLine, argumentsLength ? "\"%s\" %s" : "\"%s\"", program, arguments);
    memcpy(folder, program, programLength + 1);
    CutToFolder(folder);

    // The child gets its folder from CreateProcessA: the uninstaller's own
    // current directory never changes.
    PROCESS_INFORMATION process;
    if (!StartProgram(commandLine, folder, 0, &process)) return 0;
    if (wait) {
        HCURSOR previous = SetCursor(LoadCursorA(NULL, (LPCSTR)IDC_WAIT));
        // The process handle, not the exit code, tells when it has ended: a
        // program may well end with the code 259 (STILL_ACTIVE).
        while (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
            PumpMessages();
            Sleep(WaitPollMilliseconds);
        }
        SetCursor(previous);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 1;
}

LONG ReadDefaultValue(HKEY root, const char* path, char* buffer) {
    HKEY key;
    LONG result = RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, &key);
    if (result != ERROR_SUCCESS) return result;
    LONG size = DefaultValueSize;
    result = RegQueryValueA(key, NULL, buffer, &size);
    RegCloseKey(key);
    // A value stored without its terminator must not run on into the buffer.
    if (result == ERROR_SUCCESS && !memchr(buffer, 0, DefaultValueSize)) result = ERROR_MORE_DATA;
    return result;
}

// The uninstaller runs with administrator rights, often as another account
// than the desktop's: a browser it starts would run so too. The desktop's own
// shell opens the document instead, as the desktop's user, through its
// automation objects: the shell windows, the desktop's view, its Shell
// object's ShellExecute. Only where there is a desktop shell (not in session
// 0, nor under Wine, which has none) and NT 6 or later; 0 when it cannot be
// asked, and the document is then opened as before.
HWND FindShellWindow() {
    typedef HWND(WINAPI * GetShellWindowCall)();
    GetShellWindowCall getShellWindow =
        (GetShellWindowCall)(void*)GetProcAddress(GetModuleHandleA("user32.dll"), "GetShellWindow");
    return getShellWindow ? getShellWindow() : NULL;
}

static int OpenThroughDesktopShell(const char* document, const char* folder) {
    if (!IsNt6OrLater || !FindShellWindow()) return 0;
    WCHAR wide[2][AssociationSize];
    const char* texts[2] = {document, folder ? folder : ""};
    for (int i = 0; i < 2; i++)
        if (!MultiByteToWideChar(CP_ACP, 0, texts[i], -1, wide[i], AssociationSize)) return 0;
    int opened = 0;
    IShellWindows* windows = NULL;
    IDispatch *desktop = NULL, *background = NULL, *application = NULL;
    IServiceProvider* provider = NULL;
    IShellBrowser* browser = NULL;
    IShellView* view = NULL;
    IShellFolderViewDual* folderView = NULL;
    IShellDispatch2* shell = NULL;
    VARIANT location, empty, arguments, directory, operation, show;
    VariantInit(&location);
    VariantInit(&empty);
    location.vt = VT_I4;
    location.lVal = CSIDL_DESKTOP;
    long window;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellWindows, NULL, CLSCTX_LOCAL_SERVER, IID_IShellWindows, (void**)&windows)) &&
        windows->FindWindowSW(&location, &empty, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, &desktop) == S_OK && desktop &&
        SUCCEEDED(desktop->QueryInterface(IID_IServiceProvider, (void**)&provider)) &&
        SUCCEEDED(provider->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, (void**)&browser)) &&
        SUCCEEDED(browser->QueryActiveShellView(&view)) &&
        SUCCEEDED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, (void**)&background)) &&
        SUCCEEDED(background->QueryInterface(IID_IShellFolderViewDual, (void**)&folderView)) &&
        SUCCEEDED(folderView->get_Application(&application)) &&
        SUCCEEDED(application->QueryInterface(IID_IShellDispatch2, (void**)&shell))) {
        BSTR file = SysAllocString(wide[0]);
        VariantInit(&arguments);
        VariantInit(&directory);
        VariantInit(&operation);
        VariantInit(&show);
        directory.vt = operation.vt = VT_BSTR;
        directory.bstrVal = SysAllocString(wide[1]);
        operation.bstrVal = SysAllocString(L"open");
        show.vt = VT_I4;
        show.lVal = SW_SHOW;
        opened = file && directory.bstrVal && operation.bstrVal &&
                 SUCCEEDED(shell->ShellExecute(file, arguments, directory, operation, show));
        SysFreeString(file);
        VariantClear(&directory);
        VariantClear(&operation);
    }
    IUnknown* used[] = {shell, application, folderView, background, view, browser, provider, desktop, windows};
    for (IUnknown* object : used)
        if (object) object->Release();
    return opened;
}

void OpenDocument(const char* document, const char* extension) {
    char folder[AssociationSize];
    char command[AssociationSize];
    size_t documentLength = strlen(document);
    const char* workingFolder = NULL;
    if (!IsWebAddress(document)) {
        if (documentLength >= sizeof folder) return;  // no local path is that long
        memcpy(folder, document, documentLength + 1);
        if (CutToFolder(folder)) workingFolder = folder;
    }
    if (OpenThroughDesktopShell(document, workingFolder)) return;
    if ((INT_PTR)ShellExecuteA(NULL, "open", document, NULL, workingFolder, SW_SHOW) > 32) return;

    // The shell could not open it: the open command of the extension's class.
    if (ReadDefaultValue(HKEY_CLASSES_ROOT, extension, command) != ERROR_SUCCESS) return;
    strcat(command, "\\shell\\open\\command");  // a class name is under 260 bytes
    if (ReadDefaultValue(HKEY_CLASSES_ROOT, command, command) != ERROR_SUCCESS) return;
    char* placeholder = strstr(command, "\"%1\"");
    if (!placeholder) placeholder = strstr(command, "%1");
    if (placeholder) *placeholder = 0;
    size_t used = strlen(command);
    // Neither cut nor run by a bare name, which would be looked for in the
    // uninstaller's own folder first.
    if (used + 1 + documentLength >= sizeof command || !IsFullPath(command + (command[0] == '"'))) return;
    command[used] = ' ';
    memcpy(command + used + 1, document, documentLength + 1);
    WinExec(command, SW_SHOW);
}
