// Laying out an uninstaller with generated data in the test prefix, and
// running it with its dialogs answered.
#pragma once
#include <string>

#include "pack_model.h"
#include "run_and_answer.h"

// Folder of the staged binaries (uninst.exe, uninstpack.exe, winrun.exe).
std::string BinFolder();
std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);

// A fresh, empty folder under C:\qvtest named after the running test.
std::string FreshTestFolder();

// Sixteen messages whose caption is unique to the running test, so that its
// dialogs can be told apart.
std::vector<std::string> TestMessages();

// Writes folder\uninst.exe: the stub followed by the given block.
std::string WriteUninstaller(const std::string& folder, const std::string& block);
std::string WriteUninstaller(const std::string& folder, const PackData& data);

// Runs the uninstaller with the switches; answers are matched by caption.
RunResult RunUninstaller(const std::string& exe, const std::string& switches,
                         const std::vector<Answer>& answers, unsigned timeoutMs = 20000);

bool FileExists(const std::string& path);
