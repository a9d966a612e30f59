// Every text the program shows comes from the message table of the data.
#pragma once
#include "data/platform.h"

enum {
    MsgCaption = 0,
    MsgConfirm = 1,
    MsgFinished = 2,
    MsgReadOnlyRemove = 3,
    MsgReadOnlyRemoveAll = 4,
    MsgReadOnlyKeep = 5,
    MsgReadOnlyKeepAll = 6,
    MsgOutOfMemory = 7,
    MsgDataUnreadable = 8,
    MsgReadOnlyPrompt = 9,
    MsgSharedDllPrompt = 10,
    MsgStatusFiles = 11,
    MsgStatusDirectories = 12,
    MsgStatusFolders = 13,
    MsgStatusRegistry = 14,
    MsgFileInUse = 15,
    MessageIndexCount = 16,
};

enum { FormattedMessageSize = 1024 };

// Table 0: TextCount + 1 pointers, the last null. Null until a table is read.
extern char** MessageTable;

int ReadMessageTable(HANDLE file, uint32_t length);
// Never null: the empty text when the table, the index or the text is missing.
const char* GetMessageText(int table, int index);
// Writes message index into destination (FormattedMessageSize bytes) with its
// first "%s" replaced by argument; the message is data, never a format string.
void FormatMessageText(char* destination, int index, const char* argument);
void FreeMessageTable();

#ifdef _WIN32
// 0 where no user can answer a box: in session 0 (services, and deployment
// tools that run programs as SYSTEM), or in a window station no one sees.
// Such a box would wait until the process is killed, half-way through.
int CanAskUser();
// A message box owned by the main window (none before it exists), caption
// message 0. Where no user can answer, none is shown and the answer is the
// one that loses nothing: Cancel (nothing removed), No (a shared library
// kept), OK for a box that only tells.
int ShowMessage(const char* text, UINT type);
#endif
