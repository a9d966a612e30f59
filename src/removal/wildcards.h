// Files left behind that match the data's wildcard patterns.
#pragma once

void RemoveWildcardLeftovers();
