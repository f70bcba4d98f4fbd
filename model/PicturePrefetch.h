#pragma once

#include "imaging/ImageDecode.h"
#include "settings/Settings.h"

#include <memory>

// The pictures that the ratio frames of the catalogue's groups restore from the settings file,
// decoded ahead on the machine's cores (TPicturePrefetch). Frames built while the result is held
// take their pictures from it, in their own order and with their own errors; a settings file that
// cannot be read prefetches nothing (the frames then report it themselves).
std::unique_ptr<TPicturePrefetch> prefetchStoredPictures(TSettingsStore& settings);
