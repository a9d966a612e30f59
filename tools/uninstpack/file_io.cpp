#include "file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

std::string SystemError() { return std::strerror(errno); }

#ifdef _WIN32
}  // namespace

// Paths are UTF-8 inside the tool, so that any letter works whatever the ANSI
// code page; text that is not UTF-8 is taken as ANSI. (A vector, not a wide
// string: the tool has a size budget.)
std::vector<wchar_t> WidePath(const std::string& text) {
    UINT codePage = CP_UTF8;
    int length = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.c_str(), -1, nullptr, 0);
    if (length == 0) {
        codePage = CP_ACP;
        length = MultiByteToWideChar(codePage, 0, text.c_str(), -1, nullptr, 0);
    }
    std::vector<wchar_t> wide(static_cast<size_t>(length) + 1, L'\0');
    MultiByteToWideChar(codePage, 0, text.c_str(), -1, wide.data(), length);
    return wide;
}

namespace {

std::FILE* OpenFile(const std::string& path, const char* mode) { return _wfopen(WidePath(path).data(), WidePath(mode).data()); }
void RemoveFile(const std::string& path) { _wremove(WidePath(path).data()); }
// rename() on Windows refuses an existing target.
bool ReplaceFile(const std::string& from, const std::string& to) {
    return MoveFileExW(WidePath(from).data(), WidePath(to).data(), MOVEFILE_REPLACE_EXISTING) != 0;
}
#else
std::FILE* OpenFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }
void RemoveFile(const std::string& path) { std::remove(path.c_str()); }
bool ReplaceFile(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()) == 0; }
#endif

}  // namespace

bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* error) {
    std::FILE* file = OpenFile(path, "rb");
    if (!file) {
        *error = "cannot open " + path + ": " + SystemError();
        return false;
    }
    std::string data;
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) data.append(buffer, got);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        *error = "cannot read " + path;
        return false;
    }
    *bytes = std::move(data);
    return true;
}

void RemoveFileQuietly(const std::string& path) { RemoveFile(path); }

bool WriteFileReplacing(const std::string& path, const std::string& bytes, std::string* error) {
    return WriteFilesReplacing({{path, bytes}}, error);
}

namespace {

// Why an existing output may not be replaced: only a regular file is (a
// folder, a link, a device or a FIFO stays what it is). Empty when the path
// holds a regular file or nothing yet.
std::string OutputProblem(const std::string& path) {
    const char* kind = nullptr;
#ifdef _WIN32
    // Opened without following a link, and a folder too, only to ask what it is.
    HANDLE file = CreateFileW(WidePath(path).data(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::string();
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(file) != FILE_TYPE_DISK) kind = "a device or a pipe";
    else if (!GetFileInformationByHandle(file, &info)) kind = "something that cannot be examined";
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) kind = "a link";
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) kind = "a folder";
    CloseHandle(file);
#else
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return std::string();
    kind = S_ISLNK(info.st_mode) ? "a link" : S_ISDIR(info.st_mode) ? "a folder" : S_ISREG(info.st_mode) ? nullptr : "a device or a FIFO";
#endif
    if (!kind) return std::string();
    return path + ": is " + kind + ", not a regular file, and is never replaced; to validate a manifest without writing "
                  "anything, use 'uninstpack check'";
}

// Creates path, which must not exist in any form (a planted link is not
// followed), and writes bytes to it; false with the reason, *taken when the
// name was there already.
bool WriteNewFile(const std::string& path, const std::string& bytes, std::string* reason, bool* taken) {
#ifdef _WIN32
    HANDLE file = CreateFileW(WidePath(path).data(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    DWORD error = GetLastError();
    *taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
    bool ok = file != INVALID_HANDLE_VALUE;
    for (size_t done = 0; ok && done < bytes.size();) {
        DWORD wrote = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        ok = WriteFile(file, bytes.data() + done, chunk, &wrote, nullptr) && wrote > 0;
        done += wrote;
        if (!ok) error = GetLastError();
    }
    if (file != INVALID_HANDLE_VALUE && !CloseHandle(file) && ok) ok = false, error = GetLastError();
    if (!ok) *reason = error == ERROR_PATH_NOT_FOUND ? "its folder does not exist" : "Windows error " + std::to_string(error);
    return ok;
#else
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    int error = file < 0 ? errno : 0;
    *taken = error == EEXIST;
    bool ok = file >= 0;
    for (size_t done = 0; ok && done < bytes.size();) {
        const ssize_t wrote = write(file, bytes.data() + done, bytes.size() - done);
        if (wrote <= 0) ok = false, error = errno;
        else done += static_cast<size_t>(wrote);
    }
    if (file >= 0 && close(file) != 0 && ok) ok = false, error = errno;
    if (!ok) *reason = error == ENOENT ? "its folder does not exist" : std::strerror(error);
    return ok;
#endif
}

// Writes bytes beside path under a name that nothing holds yet; *temporary
// receives it.
bool WriteTemporary(const std::string& path, const std::string& bytes, std::string* temporary, std::string* error) {
    std::string reason;
    bool taken = true;
    for (int attempt = 0; taken && attempt < 100; ++attempt) {
        *temporary = path + ".partial" + (attempt ? std::to_string(attempt) : std::string());
        if (WriteNewFile(*temporary, bytes, &reason, &taken)) return true;
        if (!taken) RemoveFile(*temporary);
    }
    *error = "cannot write " + path + ": " + (taken ? "every temporary name beside it is taken" : reason);
    return false;
}

}  // namespace

bool WriteFilesReplacing(const std::vector<std::pair<std::string, std::string>>& files, std::string* error) {
    for (const auto& file : files) {
        *error = OutputProblem(file.first);
        if (!error->empty()) return false;
    }
    std::vector<std::string> temporaries(files.size());
    size_t written = 0;
    while (written < files.size() && WriteTemporary(files[written].first, files[written].second, &temporaries[written], error)) ++written;
    bool ok = written == files.size();
    for (size_t i = 0; i < written; ++i) {
        if (ok && !ReplaceFile(temporaries[i], files[i].first)) {
            *error = "cannot rename " + temporaries[i] + " to " + files[i].first + ": " + SystemError();
            ok = false;
        }
        RemoveFile(temporaries[i]);
    }
    return ok;
}

bool PatchFile(const std::string& path, size_t offset, const std::string& bytes, std::string* error) {
    std::FILE* file = OpenFile(path, "r+b");
    if (!file) {
        *error = "cannot open " + path + " for writing: " + SystemError();
        return false;
    }
    bool ok = std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0 &&
              std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = std::fclose(file) == 0 && ok;
    if (!ok) *error = "cannot write " + path + ": " + SystemError();
    return ok;
}

#ifdef _WIN32
namespace {
bool FileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
    HANDLE file = CreateFileW(WidePath(path).data(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool ok = GetFileInformationByHandle(file, info) != 0;
    CloseHandle(file);
    return ok;
}
}  // namespace

bool IsSameFile(const std::string& first, const std::string& second) {
    BY_HANDLE_FILE_INFORMATION a, b;
    return FileIdentity(first, &a) && FileIdentity(second, &b) && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}
#else
bool IsSameFile(const std::string& first, const std::string& second) {
    struct stat a, b;
    return stat(first.c_str(), &a) == 0 && stat(second.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}
#endif

#ifdef _WIN32
std::string Utf8(const wchar_t* wide, int length) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, length, &text[0], size, nullptr, nullptr);
    return text;
}
#endif

bool ListFolder(const std::string& path, std::vector<ListedItem>* items) {
#ifdef _WIN32
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(WidePath(path + "\\*").data(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    do {
        const std::string name = Utf8(found.cFileName, static_cast<int>(wcslen(found.cFileName)));
        if (name == "." || name == "..") continue;
        const bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const ItemKind kind = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? ItemKind::Link
                              : folder                                              ? ItemKind::Folder
                                                                                    : ItemKind::File;
        items->push_back({name, kind == ItemKind::Folder, static_cast<uint64_t>(found.nFileSizeHigh) << 32 | found.nFileSizeLow, kind});
    } while (FindNextFileW(search, &found));
    FindClose(search);
#else
    DIR* folder = opendir(path.c_str());
    if (!folder) return false;
    while (const dirent* item = readdir(folder)) {
        const std::string name = item->d_name;
        struct stat info;
        if (name == "." || name == ".." || lstat((path + "/" + name).c_str(), &info) != 0) continue;
        const ItemKind kind = S_ISLNK(info.st_mode)   ? ItemKind::Link
                              : S_ISDIR(info.st_mode) ? ItemKind::Folder
                              : S_ISREG(info.st_mode) ? ItemKind::File
                                                      : ItemKind::Special;
        items->push_back({name, kind == ItemKind::Folder, static_cast<uint64_t>(info.st_size), kind});
    }
    closedir(folder);
#endif
    return true;
}

std::string ExecutableFolder() {
    std::vector<char> buffer(32768);
#ifdef _WIN32
    std::vector<wchar_t> wide(32768);
    const DWORD length = GetModuleFileNameW(nullptr, wide.data(), static_cast<DWORD>(wide.size()));
    if (length == 0 || length >= wide.size()) return std::string();
    const std::string path = Utf8(wide.data(), static_cast<int>(length));
    const size_t slash = path.find_last_of("\\/");
#else
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0 || static_cast<size_t>(length) >= buffer.size()) return std::string();
    std::string path(buffer.data(), static_cast<size_t>(length));
    const size_t slash = path.rfind('/');
#endif
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}
