// The marker that tools search for in a stub. Kept out of the uninstaller
// itself, where the marker must occur exactly once: in its DataLocator.
#include "data/records.h"

const unsigned char DataLocatorMarker[DataLocatorMarkerSize] = {0x77, 0x77, 0x67, 0x54, 0x29, 0x48};
