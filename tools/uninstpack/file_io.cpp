#include "file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

std::string SystemError() { return std::strerror(errno); }

bool ReplaceFile(const std::string& from, const std::string& to) {
#ifdef _WIN32
    // rename() on Windows refuses an existing target.
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
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

bool WriteFileReplacing(const std::string& path, const std::string& bytes, std::string* error) {
    const std::string temporary = path + ".partial";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) {
        *error = "cannot create " + temporary + ": " + SystemError();
        return false;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = std::fflush(file) == 0 && ok;
    const std::string writeError = ok ? std::string() : SystemError();
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        *error = "cannot write " + temporary + ": " + (writeError.empty() ? SystemError() : writeError);
        std::remove(temporary.c_str());
        return false;
    }
    if (!ReplaceFile(temporary, path)) {
        *error = "cannot rename " + temporary + " to " + path + ": " + SystemError();
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

bool PatchFile(const std::string& path, size_t offset, const std::string& bytes, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "r+b");
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
    HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
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

std::string ExecutableFolder() {
    std::vector<char> buffer(32768);
#ifdef _WIN32
    const DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size()) return std::string();
    std::string path(buffer.data(), length);
    const size_t slash = path.find_last_of("\\/");
#else
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0 || static_cast<size_t>(length) >= buffer.size()) return std::string();
    std::string path(buffer.data(), static_cast<size_t>(length));
    const size_t slash = path.rfind('/');
#endif
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}
