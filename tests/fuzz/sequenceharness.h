// The sequence targets' program: a kit with three keys (A, B and C), the
// sequence object on a clock that never waits, and the checks of a load.
#pragma once

#include "fuzzsupport.h"

#include "sequences/sequence.h"

namespace fuzz {

// Time moves to each deadline at once, so a pass plays in no time at all.
class InstantClock final : public rimbal::SequenceClock {
public:
    TimePoint now() override { return now_; }
    void waitUntil(TimePoint deadline, const std::function<bool()>& wake) override {
        if (wake && wake()) return;
        if (deadline > now_) now_ = deadline;
    }
    void processEvents() override {}

private:
    TimePoint now_{};
};

class SequenceProgram {
public:
    SequenceProgram() : sequence(program.core(), program.prompt) {
        rimbal::SoundCore& core = program.core();
        program.settings().PackName = QStringLiteral("Kit");
        WriteTone(core.PackageFolder() + QStringLiteral("a.wav"), 960);
        WriteTone(core.PackageFolder() + QStringLiteral("b.wav"), 480, 2);
        const QString effects = QStringLiteral("0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*");
        core.KeyLines = {QStringLiteral("65*0*0*0*0*1,00*") + effects + QStringLiteral("a.wav"),
                         QStringLiteral("66*67*1*0*0*0,50*") + effects + QStringLiteral("b.wav"),
                         QStringLiteral("67*65*0*1*1*0,80*1*0*1*0*0*0*0*0*0*0*0*0*0*0*0*0*a.wav")};
        program.CreateSounds();
        sequence.SetClock(&clock);
    }

    // What was in memory before a load: nothing, a recording cut off after a
    // key, or complete pairs.
    void Start(std::size_t variant) {
        static const char* const kBefore[] = {"", "65", "65*120*", "66*0*67*30000*"};
        sequence.Clear();
        sequence.SequenceText = QString::fromLatin1(kBefore[variant % 4]);
    }

    // Loads a file as "Carregar Arquivo de Sequência..." does; a loaded text
    // leaves a sequence that a save and a load take again, and it plays.
    void Load(const QString& path) {
        QString text, message;
        const bool read = sequence.ReadFile(path, text, message);
        Trace(read ? QStringLiteral("loaded \"%1\"").arg(text.left(200)) : QStringLiteral("refused: ") + message);
        if (!read) {
            Check(!message.isEmpty(), "a refused sequence without a message");
            return;
        }
        Check(!text.isEmpty(), "an empty sequence was loaded");
        sequence.AppendLoaded(text);
        rimbal::TRBSFormatErrorInfo info;
        sequence.CheckSequenceText(sequence.SequenceText, info);
        Check(info.Code == 0, "a loaded sequence does not check again",
              QStringLiteral("code %1 at \"%2\" in \"%3\"").arg(info.Code).arg(info.Detail, sequence.SequenceText.left(400)));
        Check(sequence.SequenceText.endsWith(u'*'), "a loaded sequence does not end with its interval");
        sequence.Play();
        program.Render(2);
    }

    Program program;
    InstantClock clock;
    rimbal::Sequence sequence;
};

}  // namespace fuzz
