#include "read_uninstaller.h"

#include "data/entry_lists.h"
#include "data/files.h"
#include "data/message_table.h"
#include "data/records.h"
#include "file_io.h"
#include "stub.h"

namespace {

std::string Text(const char* text) { return text ? std::string(text) : std::string(); }

void CopyLoadedData(PackData* data) {
    if (MessageTable) {
        for (char** text = MessageTable; *text; ++text) data->messages.push_back(*text);
    }
    for (uint32_t i = 0; i < FileCount; ++i) {
        PackFile file;
        file.folder = Text(FileList[i]->Folder);
        file.name = Text(FileList[i]->Name);
        file.flags = FileList[i]->Flags;
        data->files.push_back(file);
    }
    for (uint32_t i = 0; i < DirectoryCount; ++i) {
        PackDirectory directory;
        directory.levels = static_cast<uint8_t>(DirectoryList[i]->Levels);
        directory.path = Text(DirectoryList[i]->Path);
        directory.altPath = Text(DirectoryList[i]->AltPath);
        directory.fileName = Text(DirectoryList[i]->FileName);
        data->directories.push_back(directory);
    }
    for (uint32_t i = 0; i < RegistryCount; ++i) {
        PackRegistry entry;
        entry.root = RegistryList[i]->Root;
        entry.path = Text(RegistryList[i]->Path);
        data->registry.push_back(entry);
    }
    // A multi-text: zero-terminated texts up to the first empty one.
    for (uint32_t at = 0; PatternList && at < PatternLength && PatternList[at] != '\0';) {
        uint32_t end = at;
        while (end < PatternLength && PatternList[end] != '\0') ++end;
        data->patterns.emplace_back(PatternList + at, end - at);
        at = end + 1;
    }
    if (OptionsRecord) {
        data->options.present = true;
        data->options.flags = GetOptionFlags();
        data->options.program = Text(GetPreRemovalCommand());
        data->options.document = Text(GetFinalDocument());
    }
}

}  // namespace

bool ReadUninstaller(const std::string& path, PackData* data, std::string* error) {
    std::string image;
    if (!ReadWholeFile(path, &image, error)) return false;
    size_t at = 0;
    if (!FindDataLocator(image, &at, error)) return false;
    const uint32_t offset = ReadDataOffset(image, at);
    if (offset == 0) {
        *error = "there is no uninstall data (the data offset is 0)";
        return false;
    }
    if (offset == image.size()) {
        *error = "there is no uninstall data (nothing follows the program)";
        return false;
    }
    if (offset > image.size()) {
        *error = "the uninstall data is damaged: its offset " + std::to_string(offset) +
                 " is past the end of the file (" + std::to_string(image.size()) + " bytes)";
        return false;
    }
#ifdef _WIN32
    HANDLE file = CreateFileW(WidePath(path).data(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
#else
    HANDLE file = OpenExistingFile(path.c_str(), OpenForRead);
#endif
    if (file == INVALID_HANDLE_VALUE) {
        *error = "cannot open " + path;
        return false;
    }
    FreeUninstallData();
    SetFilePosition(file, offset);
    const int result = ReadRecords(file);
    CloseFile(file);
    if (result == 0) {
        PackData loaded;
        CopyLoadedData(&loaded);
        *data = std::move(loaded);
    } else if (result == ErrorOutOfMemory) {
        *error = "out of memory while reading the uninstall data";
    } else {
        *error = "the uninstall data is damaged";
    }
    FreeUninstallData();
    return result == 0;
}
