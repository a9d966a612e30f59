// The command-line switches. Plain C++ with no platform calls, so that the
// scanner can also be fuzzed on the build machine.
#pragma once

extern int QuietMode;
extern int SwitchS;
extern int SwitchX;

// Reads /Q, /S and /X (also with "-", any case) from the command-line tail.
void ScanSwitches(const char* tail);
// The tail of a command line: the program name skipped (a quoted one through
// its closing quote, any other up to the first space or control character),
// then every space and control character after it.
const char* FindCommandTail(const char* commandLine);
