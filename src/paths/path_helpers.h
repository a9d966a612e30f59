// Path helpers for 260-byte buffers, special folders, and the folders that
// must survive any uninstallation.
#pragma once

// Copies or appends a text to a path buffer of PathBufferSize bytes. Returns 0,
// leaving the buffer as it was, when the result would not fit.
int CopyPath(char* path, const char* text);
int AppendPath(char* path, const char* text);
// Appends one backslash unless the path is empty or already ends with one.
// Returns 0, leaving the path unchanged, when the buffer has no room for it.
int AppendBackslash(char* path);
// Removes one trailing backslash from a path longer than a root ("c:\").
void StripBackslash(char* path);
// Case-insensitive over the ASCII letters only, whole text, no normalisation.
int IsSameFolderName(const char* first, const char* second);
// A hash of a folder name under which names that IsSameFolderName takes for
// one folder are alike.
unsigned HashFolderName(const char* name);
// The character after the one at at, in the ANSI code page: two bytes on from
// a lead byte of a double-byte code page, else one.
const char* NextChar(const char* at);
// The last backslash character of text (never the second byte of a
// double-byte character), or null.
char* FindLastBackslash(const char* text);

#ifdef _WIN32
// A function of kernel32 that some systems lack, or null there.
void* FindKernelFunction(const char* name);
// Rewrites a full path in place in its long form where the system can give
// it (short names such as PROGRA~1 resolved); otherwise leaves it.
void MakeLongPath(char* path);
// Whether a reparse point with this tag is a link. Cloud files' placeholders
// (OneDrive and other sync engines' folders and files) and deduplicated
// files are not: they hold their own content where they are. Every other
// tag, and every unknown one, is.
int IsLinkTag(unsigned long tag);
// The attributes and the reparse tag of what is open in handle
// (FileAttributeTagInfo: the handle's own file, a link when it was opened
// with FILE_FLAG_OPEN_REPARSE_POINT). 0 before Vista, which lacks the call,
// or when it fails.
int ReadHandleAttributes(void* handle, unsigned long* attributes, unsigned long* tag);
// True when what is at path, with these attributes (as GetFileAttributesA
// or a search gave them), is a link: a reparse point whose tag, read through
// a handle that does not follow it, is a link's. Before Vista every reparse
// point. Wine gives its links the reparse attribute on folders only, and
// tag 0 through the handle (measured): a link.
int IsLinkAt(const char* path, unsigned long attributes);
// True when the folder or file at path, or a folder on the way to it, is a
// link (IsLinkAt). A part that does not exist is no link, and when nothing is
// at path the folders on the way are not asked. One trailing backslash does
// not count.
int IsReachedThroughLink(const char* path);
// The full path of a file in the System folder. Libraries and programs the
// uninstaller starts are named this way, never found by a search that looks
// in its own folder first. Returns 0 when the path does not fit.
int GetSystemFilePath(char* path, const char* name);
// Fills folder (PathBufferSize bytes) with the file-system path of a shell
// special folder. Returns 0 when the shell has none for that number.
int GetSpecialFolder(char* folder, int csidl);
// Works out the protected folders of this system: Windows and System, the
// shell folders of the user (and of all users on NT), application data with
// their Quick Launch folders, program files and common files; under WOW64
// also SysWOW64, Sysnative and the 64-bit program files and common files.
void FindProtectedFolders();
// True for drive roots and for the protected folders, with or without one
// trailing backslash, judged both as spelt and by where the path leads: its
// full, long form (".." and short names resolved). The folders are found at
// the first call of a run and remembered: the shell is slow to ask, and they
// do not change meanwhile.
int IsProtectedFolder(const char* path);
#endif
