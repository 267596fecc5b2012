// Midi.txt of a package (it travels inside imported packages), loaded as the
// key table does after its sounds; a map written back from what was read
// reads back the same.
#include "fuzzsupport.h"

#include "kit/midimap.h"

#include <QDir>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::Init(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString folder = fuzz::App() + QStringLiteral("Pacotes/Kit/");
    fuzz::WriteFile(folder + rimbal::MidiMap::kFileName, fuzz::Bytes(data, size));
    rimbal::MidiMap map;
    QStringList errors;
    map.LoadForPackage(folder, errors);
    fuzz::Check(errors.size() <= 21, "a broken map reports more than twenty lines and a count", QString::number(errors.size()));

    std::vector<std::pair<int, std::uint16_t>> notes;
    for (int n = -1; n <= rimbal::kMidiNotes; ++n) notes.emplace_back(n, map.KeyFor(n));
    const QString copy = fuzz::App() + QStringLiteral("Pacotes/Copia/");
    QDir().mkpath(copy);
    QString error;
    fuzz::Check(rimbal::WriteMidiMap(copy + rimbal::MidiMap::kFileName, notes, &error), "a map cannot be written", error);
    rimbal::MidiMap again;
    QStringList againErrors;
    again.LoadForPackage(copy, againErrors);
    fuzz::Check(againErrors.isEmpty(), "a written map has broken lines", againErrors.join(u'\n'));
    for (int n = 0; n < rimbal::kMidiNotes; ++n)
        fuzz::Check(again.KeyFor(n) == map.KeyFor(n), "a written map reads back otherwise", QString::number(n));
    return 0;
}
