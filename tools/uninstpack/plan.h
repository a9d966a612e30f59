// What a run of the uninstaller would do with its data, in the order it does
// it, one line each: for an author to read before shipping.
#pragma once
#include <string>

#include "pack_model.h"

// installDir: the installation folder without a trailing backslash, or
// "${InstallDir}" when it is not known yet.
std::string PlanRun(const PackData& data, int codePage, const std::string& installDir);
