// Reads the data block of an uninstaller back into the model, with the
// uninstaller's own reader (data_lib), so that the tool and the product
// cannot disagree about the format.
#pragma once
#include <string>

#include "pack_model.h"

bool ReadUninstaller(const std::string& path, PackData* data, std::string* error);
