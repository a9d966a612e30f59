#include "base/run_state.h"

HINSTANCE ModuleInstance;
int IsNtPlatform;
int IsNt6OrLater;
int KeepPerUserEntries;
HWND MainWindow;
uint32_t ProgressTotal;
char* InstallDir;
char* ExePath;
char* WorkPath;
