// The key definition dialog, the sound information and the key list, driven
// under the offscreen platform.
#include "uifixture.h"

#include "frmcenter.h"
#include "frmlistateclas.h"
#include "frmsettecla.h"
#include "kit/eventclock.h"
#include "kit/soundinfo.h"
#include "base/textfiles.h"
#include "base/textroutines.h"

#include <sndfile.h>

#include <id3v1tag.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <vorbisfile.h>
#include <xiphcomment.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include <cmath>
#include <functional>

using namespace rimbal;

namespace {

void writeFile(const QString& path, int sfFormat, int rate, int channels, double seconds) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = sfFormat;
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    const auto frames = static_cast<sf_count_t>(rate * seconds);
    std::vector<float> s(static_cast<std::size_t>(frames * channels));
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = 0.3f * std::sin(static_cast<float>(i / static_cast<std::size_t>(channels)) * 0.05f);
    sf_writef_float(f, s.data(), frames);
    sf_close(f);
}

// Runs f once w is on screen (modal dialogs run their own event loop).
void whenShown(QWidget* w, std::function<void()> f) {
    QTimer::singleShot(10, w, [w, f] {
        if (w->isVisible()) f();
        else whenShown(w, f);
    });
}

class Keys : public ProgramTest {
protected:
    void start(int keys) {
        preparePackage(keys);
        ASSERT_TRUE(runStartup());
        main = std::make_unique<TFrmCenter>(*ctx);
        main->show();
        QTest::qWait(30);
        dlg = main->SetTecla();
    }
    // Opens the dialog without blocking, as exec would, and lets events run.
    void open() {
        dlg->show();
        QTest::qWait(10);
    }
    void chooseFile(const QString& path) {
        prompt.textAnswers = {path};
        child<QPushButton>(dlg, "BtnAbrir")->click();
    }
    void capture(bool play, Qt::Key key, const QString& text = {}) {
        QTest::mouseClick(child<QLabel>(dlg, play ? "Panel_Start" : "Panel_Stop"), Qt::LeftButton);
        ASSERT_TRUE(dlg->Capturing);
        QWidget* focus = QApplication::focusWidget();
        QTest::sendKeyEvent(QTest::KeyAction::Press, focus, key, text, Qt::NoModifier);
        QTest::sendKeyEvent(QTest::KeyAction::Release, focus, key, text, Qt::NoModifier);
        EXPECT_FALSE(dlg->Capturing);
    }
    std::unique_ptr<TFrmCenter> main;
    TFrmSetTecla* dlg = nullptr;
};

TEST_F(Keys, AFullDefinitionIsStoredWrittenAndPlays) {
    start(1);
    const QString file = appDir + "sons/ganza.wav";
    QDir().mkpath(appDir + "sons");
    writeFile(file, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, 1.0);
    open();
    EXPECT_FALSE(child<QPushButton>(dlg, "BtnCriar")->isEnabled()) << "no file yet";
    chooseFile(file);
    EXPECT_EQ(child<QLineEdit>(dlg, "Edit_Arquivo")->text(), file);
    EXPECT_TRUE(child<QPushButton>(dlg, "BtnCriar")->isEnabled());
    EXPECT_NE(ctx->core.PendingKey.sound, rb::Sound{}) << "the file is loaded for the preview";
    capture(true, Qt::Key_G, "g");
    EXPECT_EQ(child<QLabel>(dlg, "Panel_StartCode")->text(), "71");
    EXPECT_EQ(child<QLabel>(dlg, "Panel_StartChar")->text(), "G");
    capture(false, Qt::Key_Comma, ",");
    EXPECT_EQ(child<QLabel>(dlg, "Panel_StopCode")->text(), "188");
    EXPECT_EQ(child<QLabel>(dlg, "Panel_StopChar")->text(), ",") << "a key without a name shows its character";
    child<QSlider>(dlg, "Track_Volume")->setValue(37);
    EXPECT_FLOAT_EQ(ctx->core.PendingKey.volume, 0.37f);
    child<QListWidget>(dlg, "ListBox_Efeitos")->item(3)->setSelected(true);
    child<QCheckBox>(dlg, "Check_PararTodos")->setChecked(true);
    child<QPushButton>(dlg, "BtnCriar")->click();
    EXPECT_EQ(dlg->windowTitle(), "Definindo tecla");
    EXPECT_TRUE(child<QLineEdit>(dlg, "Edit_Arquivo")->text().isEmpty()) << "ready for the next key";
    ASSERT_EQ(ctx->core.KeyLines.size(), 2);
    const TAG_SOUND_DATA& r = ctx->core.KeySounds[1];
    EXPECT_EQ(r.playKey, 71);
    EXPECT_EQ(r.stopKey, 188);
    EXPECT_FLOAT_EQ(r.volume, 0.37f);
    EXPECT_EQ(r.effects[3], 1);
    EXPECT_EQ(r.stopAll, 1);
    QStringList file2;
    ASSERT_TRUE(ReadTextLines(ctx->core.KeysFile(), file2));
    EXPECT_EQ(file2, ctx->core.KeyLines);
    EXPECT_TRUE(file2[1].endsWith("*" + file));
    dlg->close();
    QTest::keyClick(main.get(), Qt::Key_G);
    EXPECT_TRUE(ctx->core.IsChannelPlaying(ctx->core.KeySounds[1].channels[0])) << "the new key plays from the main window";
    QTest::keyClick(main.get(), Qt::Key_Comma);
    EXPECT_FALSE(ctx->core.IsChannelPlaying(ctx->core.KeySounds[1].channels[0]));
}

// Key events carry the window system's timestamp (ms): two presses stamped
// 10 ms apart sound 480 frames apart, though the second reached the window
// 20 ms after the first.
TEST_F(Keys, KeyPressesSoundTheirTimestampsApart) {
    start(2);
    const rb::System sys = ctx->core.SoundSystem;
    const std::int64_t t0 = SteadyNowNs();
    std::vector<float> out(2 * 256);
    std::int64_t frame = 0;
    const auto renderTo = [&](std::int64_t end) {
        for (; frame < end; frame += 256) {
            ASSERT_EQ(rb::System_RenderNullAt(sys, out.data(), 256, t0 + frame * 1'000'000'000 / 48000, true), rb::OK);
        }
    };
    renderTo(256);
    QWidget* focus = QApplication::focusWidget() ? QApplication::focusWidget() : main.get();
    QKeyEvent a(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    a.setTimestamp(5000);
    QApplication::sendEvent(focus, &a);
    QTest::qWait(20);
    QKeyEvent s(QEvent::KeyPress, Qt::Key_S, Qt::NoModifier, QStringLiteral("s"));
    s.setTimestamp(5010);
    QApplication::sendEvent(focus, &s);
    renderTo(256 * 60);
    // Each play's position is the frames it has sounded so far.
    std::uint32_t posA = 0, posS = 0;
    ASSERT_EQ(rb::Channel_GetPosition(ctx->core.KeySounds[0].channels[0], &posA, rb::TIMEUNIT_PCM), rb::OK);
    ASSERT_EQ(rb::Channel_GetPosition(ctx->core.KeySounds[1].channels[0], &posS, rb::TIMEUNIT_PCM), rb::OK);
    EXPECT_EQ(posA - posS, 480u);
}

TEST_F(Keys, MissingOrEqualKeysAreRefusedAndKeysInUseAreMarked) {
    start(2);  // A plays; S plays
    ctx->core.KeySounds[1].stopKey = 'Q';
    open();
    chooseFile(appDir + "Pacotes/Kit/s0.wav");
    child<QPushButton>(dlg, "BtnCriar")->click();
    EXPECT_EQ(prompt.asked.last().text, "Defina uma tecla");
    EXPECT_EQ(prompt.asked.last().caption, "Erro");
    capture(true, Qt::Key_X, "x");
    capture(false, Qt::Key_X, "x");
    child<QPushButton>(dlg, "BtnCriar")->click();
    EXPECT_EQ(prompt.asked.last().text, "Teclas iguais!");
    EXPECT_EQ(ctx->core.KeyLines.size(), 2);
    capture(true, Qt::Key_Q, "q");
    auto* temTocar = child<QLabel>(dlg, "Label_TemTocar");
    EXPECT_TRUE(temTocar->isVisibleTo(dlg)) << "a stop key of another key";
    EXPECT_EQ(temTocar->text(), " (em uso) ");
    capture(false, Qt::Key_A, "a");
    auto* temParar = child<QLabel>(dlg, "Label_TemParar");
    EXPECT_TRUE(temParar->isVisibleTo(dlg));
    EXPECT_TRUE(temParar->styleSheet().contains("128, 0, 0")) << "maroon: another key plays with it";
    capture(false, Qt::Key_Q, "q");
    EXPECT_TRUE(temParar->styleSheet().contains("128, 128, 0")) << "olive: another key stops with it";
    capture(false, Qt::Key_P, "p");
    EXPECT_FALSE(temParar->isVisibleTo(dlg));
    dlg->close();
}

TEST_F(Keys, PreviewObeysTheFifteenLimitNoInterruptAndStop) {
    start(1);
    open();
    chooseFile(appDir + "Pacotes/Kit/s0.wav");
    auto* ouvir = child<QPushButton>(dlg, "BtnOuvir");
    const auto playing = [&] {
        int n = 0;
        for (rb::Channel c : ctx->core.PendingKey.channels) n += ctx->core.IsChannelPlaying(c);
        return n;
    };
    for (int i = 0; i < 16; ++i) ouvir->click();
    EXPECT_EQ(playing(), 15) << "a sixteenth preview starts nothing";
    child<QPushButton>(dlg, "BtnParar")->click();
    EXPECT_EQ(playing(), 14) << "one press stops the highest";
    EXPECT_FALSE(ctx->core.IsChannelPlaying(ctx->core.PendingKey.channels[14]));
    child<QCheckBox>(dlg, "Check_PararTodos")->setChecked(true);
    child<QPushButton>(dlg, "BtnParar")->click();
    EXPECT_EQ(playing(), 0);
    child<QCheckBox>(dlg, "Check_Interromper")->setChecked(true);
    ouvir->click();
    ouvir->click();
    EXPECT_EQ(playing(), 1) << "no-interrupt: nothing while channel 0 sounds";
    dlg->close();
    EXPECT_EQ(ctx->core.PendingKey.sound, rb::Sound{}) << "closing stops and releases the preview";
}

TEST_F(Keys, TheListDeletesTwoOfFiveAndEverythingStaysInStep) {
    start(5);  // A S D F G
    TFrmListaTeclas* list = main->ListaTeclas();
    list->show();
    QTest::qWait(10);
    auto* items = child<QListWidget>(list, "ListBox_Teclas");
    ASSERT_EQ(items->count(), 5);
    EXPECT_EQ(items->item(0)->text(), "65 {A} ");
    EXPECT_EQ(child<QLabel>(list, "Label_Total")->text(), "5 / 64");
    items->setCurrentRow(1);
    EXPECT_EQ(child<QLabel>(list, "Panel_StartChar")->text(), "S");
    EXPECT_TRUE(child<QPushButton>(list, "BtnEditar")->isEnabled());
    items->item(3)->setSelected(true);
    EXPECT_FALSE(child<QPushButton>(list, "BtnEditar")->isEnabled()) << "two selected: no edit";
    prompt.buttonAnswers = {Prompt::Yes};
    child<QPushButton>(list, "BtnDeletar")->click();
    EXPECT_EQ(prompt.asked.last().text, "Deseja deletar 2 items?");
    ASSERT_EQ(items->count(), 3);
    EXPECT_EQ(items->item(1)->text(), "68 {D} ");
    EXPECT_EQ(ctx->core.KeyCount, 3);
    QStringList file;
    ASSERT_TRUE(ReadTextLines(ctx->core.KeysFile(), file));
    EXPECT_EQ(file, ctx->core.KeyLines);
    const int expected[] = {'A', 'D', 'G'};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ctx->core.KeySounds[static_cast<std::size_t>(i)].playKey, expected[i]) << i;
        EXPECT_TRUE(file[i].startsWith(QString::number(expected[i]) + "*")) << i;
        EXPECT_TRUE(ctx->core.KeySounds[static_cast<std::size_t>(i)].fileName.endsWith(file[i].section('*', -1)));
    }
    EXPECT_EQ(ctx->core.KeySounds[3].sound, rb::Sound{});
    // The remaining keys play their own sounds.
    list->close();
    QTest::keyClick(main.get(), Qt::Key_D);
    EXPECT_TRUE(ctx->core.IsChannelPlaying(ctx->core.KeySounds[1].channels[0]));
    EXPECT_TRUE(ctx->core.KeySounds[1].fileName.endsWith("s2.wav"));
}

TEST_F(Keys, EditingKeepsTheSoundOrReplacesItAndRefreshesTheList) {
    start(2);
    TFrmListaTeclas* list = main->ListaTeclas();
    list->show();
    QTest::qWait(10);
    auto* items = child<QListWidget>(list, "ListBox_Teclas");
    items->setCurrentRow(0);
    ASSERT_TRUE(child<QPushButton>(list, "BtnEditar")->isEnabled());
    const rb::Sound before = ctx->core.KeySounds[0].sound;
    whenShown(dlg, [this] {
        EXPECT_EQ(child<QPushButton>(dlg, "BtnCriar")->text(), "Salvar");
        EXPECT_EQ(child<QLabel>(dlg, "Panel_StartChar")->text(), "A");
        child<QSlider>(dlg, "Track_Volume")->setValue(50);
        child<QPushButton>(dlg, "BtnCriar")->click();
    });
    child<QPushButton>(list, "BtnEditar")->click();
    EXPECT_EQ(ctx->core.KeySounds[0].sound, before) << "same file: the same sound";
    EXPECT_FLOAT_EQ(ctx->core.KeySounds[0].volume, 0.5f);
    EXPECT_EQ(child<QLabel>(list, "Label_Volume")->text(), FormatFixed2(0.5));
    EXPECT_FALSE(dlg->Editing);
    EXPECT_EQ(child<QPushButton>(dlg, "BtnCriar")->text(), "Criar");
    // Another file replaces the sound.
    items->setCurrentRow(0);
    whenShown(dlg, [this] {
        child<QLineEdit>(dlg, "Edit_Arquivo")->setText(appDir + "Pacotes/Kit/s1.wav");
        child<QPushButton>(dlg, "BtnCriar")->click();
    });
    child<QPushButton>(list, "BtnEditar")->click();
    EXPECT_NE(ctx->core.KeySounds[0].sound, before);
    EXPECT_TRUE(ctx->core.KeyLines[0].endsWith("*s1.wav"));
    EXPECT_EQ(ctx->core.KeyCount, 2);
    // Closing an edit with the close box gives an empty dialog next time.
    items->setCurrentRow(1);
    whenShown(dlg, [this] { dlg->close(); });
    child<QPushButton>(list, "BtnEditar")->click();
    list->close();
    open();
    EXPECT_EQ(child<QPushButton>(dlg, "BtnCriar")->text(), "Criar");
    EXPECT_TRUE(child<QLineEdit>(dlg, "Edit_Arquivo")->text().isEmpty());
    dlg->close();
}

TEST_F(Keys, InfoShowsSoundFactsAndTagsGroupedByKind) {
    start(1);
    QDir().mkpath(appDir + "sons");
    const QString mp3 = appDir + "sons/tema.mp3";
    writeFile(mp3, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, 2, 2.0);
    {
        TagLib::MPEG::File f(QFile::encodeName(mp3).constData());
        f.ID3v2Tag(true)->setTitle(TagLib::String("Batucada", TagLib::String::UTF8));
        f.ID3v1Tag(true)->setTitle("Bumbo");
        f.ID3v1Tag(true)->setGenre("Rock");
        ASSERT_TRUE(f.save());
    }
    open();
    child<QLineEdit>(dlg, "Edit_Arquivo")->setText(mp3);
    child<QPushButton>(dlg, "BtnInfo")->click();
    const QStringList sound = child<QPlainTextEdit>(dlg, "MemoInfo1")->toPlainText().split('\n');
    const QStringList data = child<QPlainTextEdit>(dlg, "MemoInfo2")->toPlainText().split('\n');
    EXPECT_TRUE(sound[0].startsWith("Tamanho: ")) << sound.join('|').toStdString();
    EXPECT_EQ(sound[1], "Duração: 00:00:02");
    EXPECT_EQ(sound[2], "Frequência: 44100 Hz");
    EXPECT_EQ(sound[3], "Canais: 2 (Stereo)");
    EXPECT_EQ(sound[4], "Bits: 16");
    EXPECT_EQ(data.filter("------- ID3v2 -------").size(), 1);
    EXPECT_EQ(data.filter("------- ID3v1 -------").size(), 1);
    EXPECT_TRUE(data.contains("Title: Batucada")) << data.join('|').toStdString();
    EXPECT_TRUE(data.contains("Genre: Rock")) << "a numeric genre becomes its name";
    EXPECT_LT(data.indexOf("------- ID3v2 -------"), data.indexOf("Title: Batucada"));

    const QString ogg = appDir + "sons/seis.ogg";
    writeFile(ogg, SF_FORMAT_OGG | SF_FORMAT_VORBIS, 48000, 6, 1.0);
    {
        TagLib::Ogg::Vorbis::File f(QFile::encodeName(ogg).constData());
        f.tag()->addField("GENRE", "200");
        ASSERT_TRUE(f.save());
    }
    child<QLineEdit>(dlg, "Edit_Arquivo")->setText(ogg);
    child<QPushButton>(dlg, "BtnInfo")->click();
    EXPECT_TRUE(child<QPlainTextEdit>(dlg, "MemoInfo1")->toPlainText().contains("Canais: 6 ()"));
    const QString vorbis = child<QPlainTextEdit>(dlg, "MemoInfo2")->toPlainText();
    EXPECT_TRUE(vorbis.startsWith("------- Vorbis -------"));
    EXPECT_TRUE(vorbis.contains("Genre: 200")) << "no such genre: the text itself";

    const QString wav = appDir + "sons/mono.wav";
    writeFile(wav, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 22050, 1, 0.5);
    child<QLineEdit>(dlg, "Edit_Arquivo")->setText(wav);
    child<QPushButton>(dlg, "BtnInfo")->click();
    EXPECT_TRUE(child<QPlainTextEdit>(dlg, "MemoInfo1")->toPlainText().contains("Canais: 1 (Mono)"));
    EXPECT_TRUE(child<QPlainTextEdit>(dlg, "MemoInfo1")->toPlainText().contains("Bits: 24"));
    EXPECT_TRUE(child<QPlainTextEdit>(dlg, "MemoInfo2")->toPlainText().isEmpty()) << "no tags";
    dlg->close();
}

// The mends of the dialogs: what a restore, Esc, an early close, a second
// click or a failed write must leave intact.

TEST_F(Keys, RestoringTheMinimisedDialogOrEscKeepsTheDefinition) {
    start(1);
    open();
    chooseFile(appDir + "Pacotes/Kit/s0.wav");
    capture(true, Qt::Key_G, "g");
    child<QSlider>(dlg, "Track_Volume")->setValue(40);
    // Qt shows the window again when it is restored from the task bar.
    dlg->showMinimized();
    dlg->showNormal();
    QShowEvent restored;
    QApplication::sendEvent(dlg, &restored);
    QWidget* focus = QApplication::focusWidget();
    QTest::keyClick(focus && focus->window() == dlg ? focus : static_cast<QWidget*>(dlg), Qt::Key_Escape);
    QTest::qWait(10);
    EXPECT_TRUE(dlg->isVisible()) << "Esc does not close";
    EXPECT_EQ(child<QLabel>(dlg, "Panel_StartCode")->text(), "71");
    EXPECT_EQ(child<QLineEdit>(dlg, "Edit_Arquivo")->text(), appDir + "Pacotes/Kit/s0.wav");
    EXPECT_EQ(ctx->core.PendingKey.playKey, 71);
    EXPECT_FLOAT_EQ(ctx->core.PendingKey.volume, 0.4f);
    EXPECT_NE(ctx->core.PendingKey.sound, rb::Sound{});
    dlg->close();
    EXPECT_FALSE(dlg->isVisible()) << "the close box still closes";
    open();
    EXPECT_TRUE(child<QLineEdit>(dlg, "Edit_Arquivo")->text().isEmpty()) << "a new opening starts empty";
    dlg->close();
}

TEST_F(Keys, CaptureEndsOnARealReleaseWithTheLastKeyAndLeavesTheDefaultCursor) {
    start(1);
    open();
    chooseFile(appDir + "Pacotes/Kit/s0.wav");
    auto* panel = child<QLabel>(dlg, "Panel_Start");
    QTest::mouseClick(panel, Qt::LeftButton);
    ASSERT_TRUE(dlg->Capturing);
    EXPECT_EQ(panel->cursor().shape(), Qt::BusyCursor);
    QWidget* focus = QApplication::focusWidget();
    QTest::sendKeyEvent(QTest::KeyAction::Press, focus, Qt::Key_A, "a", Qt::NoModifier);
    QKeyEvent repeat(QEvent::KeyRelease, Qt::Key_A, Qt::NoModifier, "a", true);
    QApplication::sendEvent(focus, &repeat);
    EXPECT_TRUE(dlg->Capturing) << "an auto-repeat release is no release";
    QTest::sendKeyEvent(QTest::KeyAction::Press, focus, Qt::Key_B, "b", Qt::NoModifier);
    QTest::sendKeyEvent(QTest::KeyAction::Release, focus, Qt::Key_A, "a", Qt::NoModifier);
    EXPECT_FALSE(dlg->Capturing) << "A held, B pressed, A released";
    EXPECT_EQ(child<QLabel>(dlg, "Panel_StartCode")->text(), "66");
    EXPECT_EQ(ctx->core.PendingKey.playKey, 'B');
    EXPECT_FALSE(panel->testAttribute(Qt::WA_SetCursor)) << "the default cursor again";
    dlg->close();
}

TEST_F(Keys, TheFileFilterListsWhatTheEngineDecodes) {
    start(1);
    open();
    chooseFile({});
    ASSERT_EQ(prompt.asked.last().kind, "open");
    const QStringList filters = prompt.asked.last().text.split(";;");
    ASSERT_EQ(filters.size(), 2);
    EXPECT_TRUE(filters[0].startsWith("Suportados (*.wav *.aiff *.aif *.flac *.ogg *.oga *.opus *.mp3 *.mp2 *.mp1")) << filters[0].toStdString();
    const auto patterns = [](const QString& f) { return f.section('(', 1).chopped(1).split(' '); };
    for (const char* name : {"a.wav", "b.AIFF", "c.flac", "d.ogg", "e.opus", "f.mp3", "g.mp2", "h.mp1"})
        EXPECT_TRUE(QDir::match(patterns(filters[0]), name)) << name;
    EXPECT_TRUE(filters[1].startsWith("Todos"));
    EXPECT_TRUE(QDir::match(patterns(filters[1]), "bumbo")) << "a name without an extension";
    dlg->close();
}

TEST_F(Keys, VolumesSurviveAnEditUnchanged) {
    start(2);
    ctx->core.KeySounds[0].volume = 0.53f;
    ctx->core.KeySounds[1].volume = 0.59f;
    TFrmListaTeclas* list = main->ListaTeclas();
    list->show();
    QTest::qWait(10);
    for (const int i : {0, 1}) {
        child<QListWidget>(list, "ListBox_Teclas")->setCurrentRow(i);
        int slider = -1;
        whenShown(dlg, [this, &slider] {
            slider = child<QSlider>(dlg, "Track_Volume")->value();
            child<QPushButton>(dlg, "BtnCriar")->click();
        });
        child<QPushButton>(list, "BtnEditar")->click();
        EXPECT_EQ(slider, i ? 59 : 53);
        EXPECT_FLOAT_EQ(ctx->core.KeySounds[static_cast<std::size_t>(i)].volume, i ? 0.59f : 0.53f);
        EXPECT_TRUE(ctx->core.KeyLines[i].contains("*" + FormatFixed2(i ? 0.59 : 0.53) + "*"));
    }
    list->close();
}

TEST_F(Keys, ClosingOrAnotherFileDuringAtualizarStopsQuietly) {
    start(1);
    QDir().mkpath(appDir + "sons");
    const QString ogg = appDir + "sons/tags.ogg";
    writeFile(ogg, SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 1, 0.5);
    {
        TagLib::Ogg::Vorbis::File f(QFile::encodeName(ogg).constData());
        for (int i = 0; i < 40; ++i) f.tag()->addField(QStringLiteral("NOTE%1").arg(i).toStdString(), "x", false);
        ASSERT_TRUE(f.save());
    }
    for (const bool close : {true, false}) {
        open();
        child<QLineEdit>(dlg, "Edit_Arquivo")->setText(ogg);
        int ticks = 0;
        QTimer interrupt;
        QObject::connect(&interrupt, &QTimer::timeout, dlg, [&] {
            if (++ticks != 3) return;
            if (close) dlg->close();
            else child<QLineEdit>(dlg, "Edit_Arquivo")->setText(appDir + "Pacotes/Kit/s0.wav");
        });
        interrupt.start(0);
        child<QPushButton>(dlg, "BtnInfo")->click();
        interrupt.stop();
        EXPECT_GE(ticks, 3);
        EXPECT_TRUE(prompt.asked.isEmpty()) << prompt.texts().join('|').toStdString();
        EXPECT_TRUE(child<QPlainTextEdit>(dlg, "MemoInfo2")->toPlainText().isEmpty()) << "nothing half-read is shown";
        EXPECT_EQ(dlg->isVisible(), !close);
        EXPECT_EQ(child<QPushButton>(dlg, "BtnInfo")->isEnabled(), !close);
        dlg->close();
    }
}

TEST_F(Keys, DeleteCannotRunTwiceAndAFailedWriteDeletesNothing) {
    start(3);
    TFrmListaTeclas* list = main->ListaTeclas();
    list->show();
    QTest::qWait(10);
    auto* items = child<QListWidget>(list, "ListBox_Teclas");
    auto* deletar = child<QPushButton>(list, "BtnDeletar");
    const QStringList lines = ctx->core.KeyLines;
    items->setCurrentRow(0);
    QShowEvent restored;  // the list restored from the task bar keeps its selection
    QApplication::sendEvent(list, &restored);
    EXPECT_TRUE(deletar->isEnabled());
    prompt.buttonAnswers = {Prompt::No};
    deletar->click();
    EXPECT_EQ(items->count(), 3);
    EXPECT_EQ(ctx->core.KeyLines, lines);

    bool during = false;
    QTimer::singleShot(0, list, [&] {
        during = true;
        EXPECT_FALSE(deletar->isEnabled());
        EXPECT_FALSE(child<QPushButton>(list, "BtnEditar")->isEnabled());
        EXPECT_FALSE(items->isEnabled());
        deletar->click();
    });
    prompt.asked.clear();
    prompt.buttonAnswers = {Prompt::Yes};
    deletar->click();
    EXPECT_TRUE(during);
    EXPECT_EQ(prompt.asked.size(), 1) << "one question, one delete";
    EXPECT_EQ(items->count(), 2);
    EXPECT_TRUE(items->isEnabled());

    // Keys.txt cannot be written: the keys stay, in the list, the table and the file.
    ASSERT_TRUE(QFile::rename(ctx->core.KeysFile(), ctx->core.KeysFile() + ".bak"));
    ASSERT_TRUE(QDir().mkpath(ctx->core.KeysFile()));
    const QStringList two = ctx->core.KeyLines;
    items->setCurrentRow(0);
    prompt.asked.clear();
    prompt.buttonAnswers = {Prompt::Yes};
    deletar->click();
    ASSERT_EQ(prompt.asked.size(), 2);
    EXPECT_TRUE(prompt.asked[1].text.startsWith("Unable to write to "));
    EXPECT_EQ(items->count(), 2);
    EXPECT_EQ(ctx->core.KeyLines, two);
    EXPECT_EQ(ctx->core.KeyCount, 2);
    EXPECT_TRUE(items->isEnabled());
    list->close();
    ctx->core.PlayKey('S');
    EXPECT_TRUE(ctx->core.IsChannelPlaying(ctx->core.KeySounds[0].channels[0]));
}

TEST(InfoTexts, SizesAndDurations) {
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    EXPECT_EQ(SizeText(512), "512 bytes");
    EXPECT_EQ(SizeText(900), "900 bytes");
    EXPECT_EQ(SizeText(2048), "2,00 KB");
    EXPECT_EQ(SizeText(15000), "14,6 KB");
    EXPECT_EQ(SizeText(150000), "146 KB");
    EXPECT_EQ(SizeText(5LL * 1024 * 1024 * 1024), "5,00 GB");
    EXPECT_EQ(DurationText(3725), "01:02:05");
    EXPECT_EQ(DurationText(3600), "01:00:00");
    EXPECT_STREQ(kGenreNames[67], "Psychadelic");
    EXPECT_STREQ(kGenreNames[123], "A capella");
    EXPECT_STREQ(kId3Frames[0].id, "AENC");
    EXPECT_STREQ(kId3Frames[74].id, "BUF");
    EXPECT_STREQ(kId3Frames[136].description, "User defined URL link frame");
    QLocale::setDefault(QLocale::c());
}

}  // namespace
