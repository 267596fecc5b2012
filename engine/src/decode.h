// Decoding, conversion to the mixer rate and tags. Control thread only.
#pragma once

#include "objects.h"

namespace rb::detail {

Result decodeFile(const char* path, int mixRate, SoundObj& s);
// Converts a file sound's data to `rate`; on failure the data stays as it was.
Result resampleSound(SoundObj& s, int rate);
void readTags(const char* path, SoundObj& s);

}  // namespace rb::detail
