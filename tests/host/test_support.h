// Shared helpers of the generator's host tests.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>
#include <string>

// Bytes from a list of small integers, so expected data reads like a dump.
inline std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int value : values) out.push_back(static_cast<char>(value));
    return out;
}

inline const std::string kMarker = Bytes({0x77, 0x77, 0x67, 0x54, 0x29, 0x48});

// Stands in for uninst.exe: some bytes, the locator with offset 0, some more.
inline std::string FakeStub() { return "MZ" + std::string(62, '\x90') + kMarker + Bytes({0, 0, 0, 0}) + "stub end"; }

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A fresh folder per test, removed afterwards.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = ::testing::TempDir() + "uninstpack-XXXXXX";
        path_ = mkdtemp(&pattern[0]);
    }
    ~TempFolder() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

struct ToolResult {
    int status;
    std::string out, err;
};

// Runs a program with arguments (single-quoted, so none may hold a quote).
inline ToolResult RunProgram(const TempFolder& folder, const std::string& program, const std::string& args) {
    const std::string command =
        "'" + program + "' " + args + " >'" + folder / "stdout" + "' 2>'" + folder / "stderr" + "'";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile(folder / "stdout"), ReadFile(folder / "stderr")};
}

inline ToolResult RunTool(const TempFolder& folder, const std::string& args) {
    return RunProgram(folder, UNINSTPACK_PATH, args);
}
