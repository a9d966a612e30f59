// Withdrawing a COM server's registration before its file is deleted.
#pragma once

// Unregisters the server whose full path is in WorkPath: on NT 6 and later
// through the system's registration tool, elsewhere (or when the tool cannot
// be started) by calling its DllUnregisterServer in this process, guarded so
// that nothing the server raises or faults on reaches the caller.
void UnregisterComServer();
