#include "block_file.h"

#include <windows.h>

#include "block_writer.h"
#include "data/files.h"
#include "data/records.h"

std::string Le16(uint16_t value) {
    std::string bytes;
    AppendU16(&bytes, value);
    return bytes;
}

std::string Le32(uint32_t value) {
    std::string bytes;
    AppendU32(&bytes, value);
    return bytes;
}

std::string Stored(const std::string& text) {
    return Le16(uint16_t(text.size())) + text;
}

int ReadBlock(const std::string& bytes) {
    FreeUninstallData();
    char folder[MAX_PATH], path[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    GetTempFileNameA(folder, "blk", 0, path);
    HANDLE out = CreateFileForWriting(path);
    DWORD written = 0;
    WriteFile(out, bytes.data(), DWORD(bytes.size()), &written, NULL);
    CloseFile(out);
    HANDLE in = OpenExistingFile(path, OpenForRead);
    int result = ReadRecords(in);
    CloseFile(in);
    DeleteFileA(path);
    return result;
}
