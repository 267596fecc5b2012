// The real windows under the offscreen platform: start-up, key routing, LEDs,
// menus and buttons, system effects, preferences and closing.
#include "uifixture.h"

#include "frmcenter.h"
#include "frmpreferencias.h"
#include "frmlistateclas.h"
#include "frmlog.h"
#include "frmsettecla.h"
#include "frmsobre.h"
#include "frmsplash.h"
#include "paintcanais.h"
#include "privatepulse.h"
#include "rimbalbtn.h"
#include "base/textfiles.h"
#include "filesizelimit.h"
#include "kit/demokit.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTabWidget>
#include <QTest>

using namespace rimbal;

namespace {

class Program : public ProgramTest {};

TEST_F(Program, StartUpBuildsTheKitAndTheWindowPlaysKeysFromAnyControl) {
    preparePackage(3);
    ASSERT_TRUE(runStartup());
    EXPECT_EQ(ctx->core.KeyCount, 3);
    EXPECT_FALSE(ctx->settings.FirstRun);
    EXPECT_EQ(ctx->core.EffectNames.size(), 15);
    EXPECT_TRUE(prompt.asked.isEmpty());
    EXPECT_TRUE(log.shown.isEmpty());

    TFrmCenter w(*ctx);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QTest::qWait(50);
    EXPECT_FALSE(ctx->settings.StartingUp);
    EXPECT_EQ(w.windowTitle(), "Rimbal 2.0");

    // With the focus on the channel display's scroll box.
    auto* scroll = child<QScrollArea>(&w, "ScrollCanais");
    scroll->setFocus();
    QTest::keyClick(scroll, Qt::Key_A);
    EXPECT_EQ(ctx->core.PlayCount, 1u);
    EXPECT_TRUE(ctx->core.IsChannelPlaying(ctx->core.KeySounds[0].channels[0]));
    // Auto-repeat presses are presses too.
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"), true);
    QApplication::sendEvent(scroll, &repeat);
    EXPECT_EQ(ctx->core.PlayCount, 2u);
    // With nothing focused the window itself receives it.
    QApplication::focusWidget() ? QApplication::focusWidget()->clearFocus() : void();
    QTest::keyClick(&w, Qt::Key_D);
    EXPECT_TRUE(ctx->core.IsChannelPlaying(ctx->core.KeySounds[2].channels[0]));
    // A key without a definition plays nothing.
    QTest::keyClick(&w, Qt::Key_M);
    EXPECT_EQ(ctx->core.PlayCount, 3u);

    // The status timer lights the LEDs of the playing slots and shows the figures.
    QTest::qWait(250);
    EXPECT_EQ(ctx->core.KeySounds[0].ledStates[0], 1);
    EXPECT_EQ(ctx->core.KeySounds[0].ledStates[1], 1);
    EXPECT_EQ(ctx->core.KeySounds[0].ledStates[2], 0);
    EXPECT_EQ(ctx->core.KeySounds[2].ledStates[0], 1);
    EXPECT_EQ(child<QLabel>(&w, "PanelStatus1")->text(), "Canais tocando: 03 Teclas por segundo: 03");
    auto* paint = child<TPaintCanais>(&w, "PaintCanais");
    EXPECT_EQ(paint->height(), 3 * 16 + 2);
    EXPECT_LE(paint->width(), scroll->viewport()->width()) << "fifteen LEDs fit the display";
    // Every second the key count starts again.
    QTest::qWait(1100);
    EXPECT_EQ(ctx->core.PlayCount, 0u);
    w.close();
}

TEST_F(Program, ButtonsFollowTheirMenuItemsAndSwapPictures) {
    preparePackage(1);
    ASSERT_TRUE(runStartup());
    TFrmCenter w(*ctx);
    w.show();
    QTest::qWait(20);
    struct Start { const char* item; bool on; };
    for (const Start s : {Start{"GravarSom1", true}, Start{"PararSom1", false}, Start{"TocarSom1", false},
                          Start{"SalvarSom1", false}, Start{"GravarSequencia1", true}, Start{"CarregarSequencia1", true},
                          Start{"TocarSequencia1", false}, Start{"DefinirTecla1", true}, Start{"Preferencias1", true}})
        EXPECT_EQ(child<QAction>(&w, s.item)->isEnabled(), s.on) << s.item;
    auto* rec1 = child<TRimbalBtn>(&w, "BtnRec1");
    auto* stop1 = child<TRimbalBtn>(&w, "BtnStop1");
    auto* stop2 = child<TRimbalBtn>(&w, "BtnStop2");
    EXPECT_TRUE(rec1->isEnabled());
    EXPECT_FALSE(stop1->isEnabled());
    EXPECT_EQ(stop1->pixmap().cacheKey(), stop1->PicDisabled().cacheKey());
    EXPECT_FALSE(stop2->PicDisabled().isNull()) << "the second row borrows the first row's disabled pictures";
    EXPECT_EQ(stop2->pixmap().cacheKey(), stop2->PicDisabled().cacheKey());
    child<QAction>(&w, "PararTocarSom1")->setEnabled(true);
    child<QAction>(&w, "GravarSom1")->setEnabled(false);
    w.UpdateButtons();
    EXPECT_TRUE(stop1->isEnabled());
    EXPECT_EQ(stop1->pixmap().cacheKey(), stop1->PicNormal().cacheKey());
    EXPECT_FALSE(rec1->isEnabled());
    EXPECT_FALSE(child<TRimbalBtn>(&w, "BtnStop2")->isEnabled());
    child<QAction>(&w, "PararSequencia1")->setEnabled(true);
    w.UpdateButtons();
    EXPECT_TRUE(stop2->isEnabled());
    EXPECT_EQ(child<TRimbalBtn>(&w, "BtnRec2")->toolTip(), "Gravar Sequência de Teclas");
    w.close();
}

TEST_F(Program, SystemEffectsToggleTheirMasterUnitsIndependently) {
    preparePackage(1);
    ASSERT_TRUE(runStartup());
    TFrmCenter w(*ctx);
    w.show();
    QTest::qWait(20);
    auto* menu = child<QMenu>(&w, "Efeitos1");
    EXPECT_TRUE(menu->isEnabled());
    ASSERT_EQ(menu->actions().size(), 15);
    EXPECT_EQ(menu->actions()[0]->text(), ctx->core.EffectNames[0]);
    const auto active = [&](int slot) {
        bool a = false;
        rb::DSP_GetActive(ctx->core.MasterEffects[static_cast<std::size_t>(slot)], &a);
        return a;
    };
    menu->actions()[0]->trigger();
    menu->actions()[2]->trigger();
    EXPECT_TRUE(active(1)) << "the first item is slot 1";
    EXPECT_TRUE(active(3));
    EXPECT_TRUE(menu->actions()[0]->isChecked());
    EXPECT_TRUE(menu->actions()[2]->isChecked());
    menu->actions()[0]->trigger();
    EXPECT_FALSE(active(1));
    EXPECT_TRUE(active(3)) << "unticking one leaves the other";
    EXPECT_FALSE(menu->actions()[0]->isChecked());
    EXPECT_TRUE(menu->actions()[2]->isChecked());
    ctx->settings.ID_Output_Mode = 1;
    ctx->settings.DeriveEngineValues();
    w.UpdateEffectsMenu();
    EXPECT_FALSE(menu->isEnabled()) << "no effects in hardware mode";
    w.close();
}

TEST_F(Program, FirstStartOpensTheDriverPageAndLeavingWithoutDevicesEnds) {
    preparePackage(1, false);
    prompt.buttonAnswers = {Prompt::Yes};  // leave the preferences without devices
    bool opened = false;
    rimbal::TFrmSplash splash(*ctx);
    splash.onPreferences = [&](TFrmPreferencias& prefs) {
        opened = true;
        QTimer::singleShot(0, &prefs, [&prefs, this] {
            EXPECT_EQ(child<QTabWidget>(&prefs, "PageControl1")->currentIndex(), 1);
            EXPECT_EQ(child<QListWidget>(&prefs, "List_Outputs")->selectedItems().size(), 0);
            EXPECT_EQ(child<QListWidget>(&prefs, "List_Drivers")->count(), 1);
            EXPECT_EQ(child<QListWidget>(&prefs, "List_Plugins")->count(), 0) << "no plug-in list during start-up";
            prefs.close();
        });
    };
    splash.exec();
    EXPECT_TRUE(opened);
    EXPECT_FALSE(ctx->StartupOk);
    ASSERT_EQ(prompt.asked.size(), 2);
    EXPECT_EQ(prompt.asked[0].text, "Não foi definido drivers de reprodução e gravação. Deseja continuar assim mesmo?");
    EXPECT_EQ(prompt.asked[1].text, "Não foi definido drivers de reprodução e gravação. ");
    EXPECT_EQ(prompt.asked[1].caption, "Erro");
    EXPECT_TRUE(ctx->core.KeyLines.isEmpty());
}

TEST_F(Program, FirstStartWithDevicesChosenGoesOnAndStoresThem) {
    preparePackage(2, false);
    ASSERT_TRUE(rimbal::WriteTextLines(appDir + "rimbal2.ini", {"[Config]", "PackName=Kit"}));
    prompt.buttonAnswers = {Prompt::Yes};  // save the new configuration
    rimbal::TFrmSplash splash(*ctx);
    const auto topMost = [&] { return splash.windowFlags().testFlag(Qt::WindowStaysOnTopHint); };
    EXPECT_TRUE(topMost());
    splash.onPreferences = [&](TFrmPreferencias& prefs) {
        // The window manager keeps a child above its parent, and the splash
        // is no longer top-most while the dialog is open.
        EXPECT_EQ(prefs.parentWidget(), &splash);
        EXPECT_FALSE(topMost());
        QTimer::singleShot(0, &prefs, [&prefs] {
            child<QListWidget>(&prefs, "List_Drivers")->setCurrentRow(0);
            child<QListWidget>(&prefs, "List_RecordDrivers")->setCurrentRow(0);
            prefs.close();
        });
    };
    splash.exec();
    ASSERT_TRUE(ctx->StartupOk);
    EXPECT_TRUE(topMost()) << "top-most again once the dialog is gone";
    EXPECT_EQ(ctx->core.KeyCount, 2);
    EXPECT_EQ(ctx->settings.ID_Driver_Output, -1) << "only the devices were chosen";
    const QString ini = iniText();
    EXPECT_TRUE(ini.contains("ID_Driver_Playback=0"));
    EXPECT_TRUE(ini.contains("Driver_Playback_Count=1"));
    EXPECT_TRUE(ini.contains("Driver_Record_Count=1"));
}

TEST_F(Program, AnotherEngineVersionEndsTheStartUp) {
    preparePackage(1);
    ctx->requiredVersion = 0x40449;
    EXPECT_FALSE(runStartup());
    ASSERT_EQ(prompt.asked.size(), 1);
    EXPECT_EQ(prompt.asked[0].text,
              QStringLiteral("Erro! Você está usando uma versão incorreta da bilbioteca %1. Este executável requer a versão 00040449")
                  .arg(rb::kVersion, 8, 16, QChar(u'0')));
    EXPECT_EQ(prompt.asked[0].icon, Prompt::Icon::Error);
}

TEST_F(Program, StartUpErrorsAreShownOnceInTheLogWindows) {
    preparePackage(2);
    QFile::remove(appDir + "Pacotes/Kit/s1.wav");
    // A packages folder written by the Windows program.
    QStringList ini;
    rimbal::ReadTextLines(appDir + "rimbal2.ini", ini);
    ASSERT_TRUE(rimbal::WriteTextLines(appDir + "rimbal2.ini", ini << "PackPath=D:\\Sons"));
    ASSERT_TRUE(runStartup());
    ASSERT_EQ(log.shown.size(), 1);
    EXPECT_EQ(log.shown[0].caption, "Erros ao criar sons");
    ASSERT_EQ(log.shown[0].lines.size(), 2);
    EXPECT_TRUE(log.shown[0].lines[0].contains("D:\\Sons")) << "reported, and the default folder used";
    EXPECT_TRUE(log.shown[0].lines[1].startsWith("Arquivo não existe: " + appDir + "Pacotes/Kit/"));
    EXPECT_EQ(ctx->core.KeyCount, 1);
}

TEST_F(Program, TheSplashCannotBeClosedAndUnloadedSettingsAreNeverSaved) {
    preparePackage(1);
    ctx->startDelayMs = 60;
    ctx->statusWaitMs = 20;
    rimbal::TFrmSplash splash(*ctx);
    // Esc and the window manager's close, before and during the sequence.
    QTimer attempts;
    int tries = 0;
    QObject::connect(&attempts, &QTimer::timeout, &splash, [&] {
        ++tries;
        QTest::keyClick(&splash, Qt::Key_Escape);
        splash.close();
    });
    attempts.start(15);
    EXPECT_EQ(splash.exec(), QDialog::Accepted);
    attempts.stop();
    EXPECT_GE(tries, 5);
    EXPECT_EQ(splash.status(), "Pronto.");
    EXPECT_TRUE(ctx->settings.IsLoaded());
    EXPECT_EQ(ctx->core.KeyCount, 1);

    // A main window whose settings were never loaded leaves the file alone.
    const QString before = iniText();
    rimbal::AppContext fresh(appDir, prompt, log);
    {
        TFrmCenter w(fresh);
        w.show();
        QTest::qWait(20);
        w.close();
    }
    EXPECT_EQ(iniText(), before);
}

TEST_F(Program, TheSplashRunsTheSequenceOnce) {
    preparePackage(1);
    rimbal::TFrmSplash splash(*ctx);
    int runs = 0;
    QObject::connect(&splash.tmrDelay, &QTimer::timeout, [&] { ++runs; });
    QTimer::singleShot(0, &splash, [&] {
        QEvent activate(QEvent::WindowActivate);
        QApplication::sendEvent(&splash, &activate);
        QApplication::sendEvent(&splash, &activate);
    });
    splash.exec();
    const rb::System first = ctx->core.SoundSystem;
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(&splash, &activate);
    QTest::qWait(30);
    EXPECT_EQ(ctx->core.SoundSystem, first) << "no second engine";
    EXPECT_GE(runs, 1);
    EXPECT_EQ(splash.status(), "Pronto.");
}

// "Limitador na saída" beside the effects switch: on by default, saved as
// Master_Limiter, and the engine follows at once without a reload.
TEST_F(Program, TheLimiterBoxIsSavedAndSwitchesTheEngineAtOnce) {
    preparePackage(1);
    ASSERT_TRUE(runStartup());
    TFrmCenter w(*ctx);
    w.show();
    QTest::qWait(20);
    const rb::Sound sound = ctx->core.KeySounds[0].sound;
    const auto engineLimiter = [&] {
        bool on = false;
        rb::System_GetMasterLimiter(ctx->core.SoundSystem, &on);
        return on;
    };
    EXPECT_TRUE(engineLimiter());
    for (const bool on : {false, true}) {
        prompt.buttonAnswers = {Prompt::Yes};
        TFrmPreferencias prefs(*ctx, &w, &w);
        prefs.show();
        QTest::qWait(10);
        auto* box = child<QCheckBox>(&prefs, "Check_Limitador");
        EXPECT_EQ(box->text(), "Limitador na saída");
        EXPECT_EQ(box->parentWidget(), child<QCheckBox>(&prefs, "Check_SemEfeitos")->parentWidget()) << "the effects page";
        EXPECT_EQ(box->isChecked(), !on);
        box->setChecked(on);
        prefs.close();
        EXPECT_EQ(ctx->settings.Master_Limiter, on);
        EXPECT_TRUE(iniText().contains(on ? "Master_Limiter=1" : "Master_Limiter=0"));
        EXPECT_EQ(engineLimiter(), on);
    }
    EXPECT_EQ(ctx->core.KeySounds[0].sound, sound) << "nothing rebuilt";
}

TEST_F(Program, AcceptedPreferencesSaveAndReconfigureOnlyWhatChanged) {
    preparePackage(2);
    ASSERT_TRUE(runStartup());
    TFrmCenter w(*ctx);
    w.show();
    QTest::qWait(20);
    const rb::Sound sound = ctx->core.KeySounds[0].sound;

    // A check box alone: saved, engine untouched.
    {
        prompt.buttonAnswers = {Prompt::Yes};
        TFrmPreferencias prefs(*ctx, &w, &w);
        prefs.show();
        QTest::qWait(10);
        EXPECT_GT(child<QListWidget>(&prefs, "List_Plugins")->count(), 20);
        EXPECT_EQ(child<QListWidget>(&prefs, "List_Plugins")->item(0)->text(), ">> Codec plugins:");
        EXPECT_EQ(child<QLineEdit>(&prefs, "Edit_PastaPacotes")->text(), "Pacotes/");
        child<QCheckBox>(&prefs, "Check_SemEfeitos")->setChecked(true);
        prefs.close();
    }
    EXPECT_FALSE(ctx->settings.UseEffects);
    EXPECT_TRUE(iniText().contains("UseEffects=0"));
    EXPECT_EQ(ctx->core.KeySounds[0].sound, sound) << "nothing rebuilt";

    // Hardware answered No: nothing recorded.
    {
        prompt.buttonAnswers = {Prompt::No};
        TFrmPreferencias prefs(*ctx, &w, &w);
        prefs.show();
        QTest::qWait(10);
        auto* mode = child<QComboBox>(&prefs, "cb_outputmode");
        mode->setCurrentIndex(1);
        emit mode->activated(1);
        EXPECT_EQ(mode->currentIndex(), 0);
        EXPECT_FALSE(prefs.QualityChanged);
        prefs.close();
        EXPECT_EQ(prompt.asked.last().text, "Selecionando o modo Hardware não permitirá o uso de efeitos, deseja continuar?");
    }

    // A new rate: the sounds are made again at that rate.
    {
        prompt.buttonAnswers = {Prompt::Yes};
        TFrmPreferencias prefs(*ctx, &w, &w);
        prefs.show();
        QTest::qWait(10);
        auto* rate = child<QComboBox>(&prefs, "cb_ratefreq");
        rate->setCurrentIndex(1);
        emit rate->activated(1);
        prefs.close();
        EXPECT_EQ(prefs.windowTitle(), "Configurações");
    }
    int rateNow = 0;
    rb::System_GetSoftwareFormat(ctx->core.SoundSystem, &rateNow, nullptr);
    EXPECT_EQ(rateNow, 44100);
    EXPECT_EQ(ctx->core.KeyCount, 2);
    EXPECT_NE(ctx->core.RecordSound, rb::Sound{});
    EXPECT_TRUE(iniText().contains("ID_Output_Rate_Freq=1"));

    // Saying No after changing the output type keeps the stored settings.
    {
        prompt.buttonAnswers = {Prompt::Yes, Prompt::No};
        TFrmPreferencias prefs(*ctx, &w, &w);
        prefs.show();
        QTest::qWait(10);
        child<QListWidget>(&prefs, "List_Outputs")->setCurrentRow(1);
        EXPECT_TRUE(prefs.DriversChanged);
        EXPECT_EQ(child<QListWidget>(&prefs, "List_Drivers")->selectedItems().size(), 0);
        prefs.close();
    }
    EXPECT_EQ(ctx->settings.ID_Driver_Output, 0);
    EXPECT_EQ(ctx->settings.ID_Driver_Playback, 0);
    w.close();
}

TEST_F(Program, NoToSavingPutsBackOnlyWhatTheDialogChangedInTheEngine) {
    preparePackage(1);
    ASSERT_TRUE(runStartup());
    TFrmCenter w(*ctx);
    w.show();
    QTest::qWait(20);
    ctx->core.PlayKey('A');
    const rb::Channel playing = ctx->core.KeySounds[0].channels[0];
    ASSERT_TRUE(ctx->core.IsChannelPlaying(playing));
    // A device click, then a quality change, each answered No: the engine was
    // never touched, so the sound goes on and the devices stay.
    for (const bool quality : {false, true}) {
        prompt.buttonAnswers = quality ? QList<Prompt::Button>{Prompt::No} : QList<Prompt::Button>{Prompt::Yes, Prompt::No};
        TFrmPreferencias prefs(*ctx, &w, &w);
        prefs.show();
        QTest::qWait(10);
        if (quality) {
            auto* rate = child<QComboBox>(&prefs, "cb_ratefreq");
            rate->setCurrentIndex(2);
            emit rate->activated(2);
        } else {
            child<QListWidget>(&prefs, "List_Drivers")->setCurrentRow(-1);
        }
        prefs.close();
        EXPECT_EQ(prompt.asked.last().text, "Salvar nova configuração?");
        EXPECT_TRUE(ctx->core.IsChannelPlaying(playing)) << "no restart for nothing";
    }
    int playback = -1, record = -1;
    rb::System_GetDriver(ctx->core.SoundSystem, &playback);
    rb::System_GetRecordDriver(ctx->core.SoundSystem, &record);
    EXPECT_EQ(playback, ctx->settings.ID_Driver_Playback);
    EXPECT_EQ(record, ctx->settings.ID_Driver_Record);
    EXPECT_EQ(ctx->settings.ID_Output_Rate_Freq, 0);

    // A packages folder the configuration file cannot hold is refused at once.
    prompt.asked.clear();
    prompt.textAnswers = {appDir + QStringLiteral("Łódź")};
    TFrmPreferencias prefs(*ctx, &w, &w);
    prefs.show();
    QTest::qWait(10);
    child<QPushButton>(&prefs, "BtnSelPastaPac")->click();
    ASSERT_EQ(prompt.asked.size(), 2);
    EXPECT_EQ(prompt.asked[1].caption, "Erro");
    EXPECT_TRUE(prompt.asked[1].text.contains(QStringLiteral("(Ł ź)"))) << prompt.asked[1].text.toStdString();
    EXPECT_EQ(child<QLineEdit>(&prefs, "Edit_PastaPacotes")->text(), "Pacotes/");
    EXPECT_FALSE(prefs.OptionsChanged);
    prefs.close();
    w.close();
}

TEST_F(Program, TheMainWindowOpensCentredAndFixedDialogsCannotBeResized) {
    preparePackage(1);
    ASSERT_TRUE(runStartup());
    TFrmCenter w(*ctx);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QTest::qWait(20);
    const QPoint off = w.frameGeometry().center() - w.screen()->availableGeometry().center();
    EXPECT_LE(off.manhattanLength(), 2) << off.x() << "," << off.y();
    TFrmPreferencias prefs(*ctx, &w, &w);
    TFrmSobre about(&w);
    TFrmLog logWindow(&w);
    for (QWidget* d : std::initializer_list<QWidget*>{&w, w.SetTecla(), w.ListaTeclas(), &prefs, &about, &logWindow}) {
        EXPECT_EQ(d->minimumSize(), d->maximumSize()) << d->metaObject()->className();
        EXPECT_FALSE(d->maximumSize().isEmpty());
    }
    w.close();
}

TEST_F(Program, ClosingReleasesTheEngineAndSavesTheSettings) {
    preparePackage(1);
    ASSERT_TRUE(runStartup());
    QFile temp(appDir + "Temp.$$$");
    ASSERT_TRUE(temp.open(QIODevice::WriteOnly));
    temp.close();
    {
        TFrmCenter w(*ctx);
        w.show();
        QTest::qWait(20);
        QTest::keyClick(&w, Qt::Key_A);
        w.close();
        EXPECT_FALSE(w.TimerStatus.isActive());
        EXPECT_FALSE(w.TimerInfo.isActive());
    }
    EXPECT_EQ(ctx->core.SoundSystem, rb::System{});
    EXPECT_TRUE(ctx->core.KeyLines.isEmpty());
    EXPECT_TRUE(iniText().contains("FirstRun=0"));
    EXPECT_TRUE(iniText().contains("PackName=Kit"));
    EXPECT_FALSE(QFile::exists(appDir + "Temp.$$$"));
}

// An installed program whose demo kit could not be copied for a new user (a
// full disk) says so and tries again at the next start.
TEST_F(Program, ADemoKitCopyThatFailedIsTriedAgainAtTheNextStart) {
    preparePackage(1);
    const QString demo = appDir + "programa/Pacotes/" + kDemoPackage + '/';
    ASSERT_TRUE(QDir().mkpath(demo));
    ASSERT_TRUE(WriteTextLines(demo + "Keys.txt", {"65*0*0*0*0*1,00*" + QString("0*").repeated(16) + "a.wav"}));
    ASSERT_TRUE(QFile::copy(appDir + "Pacotes/Kit/s0.wav", demo + "a.wav"));  // 48 KB, past the limit below
    ctx->settings.ProgramDir = appDir + "programa/";
    {
        const FileSizeLimit full(4096);
        ASSERT_TRUE(runStartup());
    }
    ASSERT_EQ(log.shown.size(), 1);
    EXPECT_TRUE(log.shown[0].lines.filter("O kit de demonstração não foi copiado").size() == 1);
    EXPECT_TRUE(ctx->settings.FirstRun) << "the copy is still due";
    EXPECT_FALSE(QFileInfo::exists(ctx->settings.PackPath + kDemoPackage));
    EXPECT_TRUE(CopyDemoKit(ctx->settings));
    EXPECT_TRUE(QFileInfo::exists(ctx->settings.PackPath + kDemoPackage + "/a.wav"));
}

// The metronome's menu rows: its values through the input box, range checks
// with the usual message, the clicks heard on the output, the values saved and
// the switch off again at the next start.
TEST_F(Program, TheMetronomeMenuSetsTheEnginesClicksAndKeepsItsValues) {
    preparePackage(1);
    ASSERT_TRUE(runStartup());
    {
        TFrmCenter w(*ctx);
        w.show();
        auto* on = child<QAction>(&w, "LigarMetronomo1");
        auto* menu = child<QMenu>(&w, "Opcoes1");
        ASSERT_NE(menu, nullptr);
        const QList<QAction*> rows = menu->actions();
        const auto at = [&](const char* name) {
            for (int i = 0; i < rows.size(); ++i)
                if (rows[i]->menu() && rows[i]->menu()->objectName() == name) return i;
            return -1;
        };
        EXPECT_EQ(at("Metronomo1"), at("GravarTeclas1") + 1) << "after \"Sequência de Teclas\"";
        EXPECT_FALSE(on->isChecked());

        prompt.textAnswers << "90" << "301" << "3" << "x" << "40";
        child<QAction>(&w, "AndamentoMetronomo1")->trigger();
        child<QAction>(&w, "AndamentoMetronomo1")->trigger();
        child<QAction>(&w, "CompassoMetronomo1")->trigger();
        child<QAction>(&w, "CompassoMetronomo1")->trigger();
        child<QAction>(&w, "VolumeMetronomo1")->trigger();
        on->trigger();
        EXPECT_TRUE(on->isChecked());
        QStringList asked;
        for (const PromptRecord& r : prompt.asked) asked << r.caption + ": " + r.text;
        EXPECT_EQ(asked, (QStringList{"Metrônomo: Batidas por minuto (30 a 300)", "Metrônomo: Batidas por minuto (30 a 300)",
                                      "Aviso: Valor incorreto.", "Metrônomo: Batidas por compasso (1 a 12)",
                                      "Metrônomo: Batidas por compasso (1 a 12)", "Aviso: Valor incorreto.",
                                      "Metrônomo: Volume das batidas (0 a 100)"}));
        EXPECT_EQ(prompt.inputOffers.value(1), "90") << "the box offers the value in force";
        rb::Metronome m{};
        ASSERT_EQ(rb::System_GetMetronome(ctx->core.SoundSystem, &m), rb::OK);
        EXPECT_TRUE(m.on);
        EXPECT_EQ(m.bpm, 90);
        EXPECT_EQ(m.beatsPerBar, 3);
        EXPECT_FLOAT_EQ(m.volume, 0.4f);
        std::vector<float> out(2 * 4800);
        ASSERT_EQ(rb::System_RenderNull(ctx->core.SoundSystem, out.data(), 4800), rb::OK);
        EXPECT_GT(*std::max_element(out.begin(), out.end()), 0.3f) << "the first beat sounds at once";
        w.close();
    }
    EXPECT_TRUE(iniText().contains("Metronome_BPM=90"));
    EXPECT_TRUE(iniText().contains("Metronome_Beats=3"));
    EXPECT_TRUE(iniText().contains("Metronome_Volume=40"));
    ctx = std::make_unique<AppContext>(appDir, prompt, log);
    ctx->forcedOutputType = rb::OUTPUTTYPE_NULL;
    ctx->startDelayMs = 0;
    ASSERT_TRUE(runStartup());
    EXPECT_FALSE(ctx->metronome.IsOn()) << "off at every start";
    rb::Metronome m{};
    ASSERT_EQ(rb::System_GetMetronome(ctx->core.SoundSystem, &m), rb::OK);
    EXPECT_FALSE(m.on);
    EXPECT_EQ(ctx->metronome.Tempo(), 90);
}

// The PulseAudio server dies while the program runs: the loss is shown once
// (not on every status tick), the status display goes on, and the engine
// takes the device back when the server returns.
TEST_F(Program, ADeviceLossIsShownOnceAndTheProgramCarriesOn) {
    if (!PrivatePulse::installed()) GTEST_SKIP() << "pulseaudio is not installed";
    PrivatePulse pulse;
    ASSERT_TRUE(pulse.start());
    ctx->forcedOutputType = rb::OUTPUTTYPE_PULSEAUDIO;
    preparePackage(1);
    ASSERT_TRUE(runStartup());
    TFrmCenter w(*ctx);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    const auto pressA = [&] {
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClick(focus ? focus : &w, Qt::Key_A);
    };
    auto stats = [&] {
        rb::OutputStats st{};
        rb::System_GetOutputStats(ctx->core.SoundSystem, &st, false);
        return st;
    };
    for (int i = 0; i < 80 && stats().callbacks < 50; ++i) QTest::qWait(100);
    ASSERT_GE(stats().callbacks, 50u) << "the stream did not start";
    pressA();
    EXPECT_TRUE(ctx->core.IsChannelPlaying(ctx->core.KeySounds[0].channels[0]));

    pulse.kill();
    for (int i = 0; i < 60 && stats().lost == 0; ++i) QTest::qWait(100);
    ASSERT_EQ(stats().lost, 1u);
    QTest::qWait(1500);  // fifteen more status ticks
    const QString lost = QStringLiteral("Erro da engine: (%1)").arg(rb::ERR_OUTPUT_LOST);
    int shown = 0;
    for (const PromptRecord& p : prompt.asked) shown += p.text.startsWith(lost);
    EXPECT_EQ(shown, 1) << prompt.texts().join(" | ").toStdString();
    EXPECT_EQ(prompt.asked.size(), 1);
    EXPECT_TRUE(w.TimerStatus.isActive());

    ASSERT_TRUE(pulse.start());
    for (int i = 0; i < 100 && stats().lost != 0; ++i) QTest::qWait(100);
    EXPECT_EQ(stats().lost, 0u) << "the device came back";
    pressA();
    EXPECT_TRUE(ctx->core.IsChannelPlaying(ctx->core.KeySounds[0].channels[0]));
    w.close();
}

}  // namespace
