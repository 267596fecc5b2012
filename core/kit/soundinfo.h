// What the engine knows about a sound file, as the key definition dialog's
// "Info" tab shows it: size, duration, frequency, channels, bits, and tags
// grouped by kind with genre names and ID3v2 frame descriptions.
#pragma once

#include "kit/soundcore.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace rimbal {

extern const char* const kTagKindNames[12];
extern const char* const kGenreNames[126];
struct TID3_Frame {
    const char* id;
    const char* description;
};
extern const TID3_Frame kId3Frames[137];
extern const char* const kSizeUnits[7];

QString SizeText(qint64 bytes);
// What a loaded sound takes in memory decoded: float frames at the mixer's
// rate, one or two sides.
std::uint64_t DecodedBytes(rb::System system, rb::Sound sound);
QString DurationText(std::uint16_t seconds);

// Fills the two memos' lines for a loaded sound; every engine call's result
// goes to CheckResult. The windows stay alive between tags; after each such
// wait stillCurrent is asked whether the sound is still the one being read,
// and the run stops quietly (false) when it is not.
bool SoundInfo(SoundCore& core, const QString& fileName, rb::Sound sound, QStringList& memo1, QStringList& memo2,
               const std::function<bool()>& stillCurrent = {});

}  // namespace rimbal
