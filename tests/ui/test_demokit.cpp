// A new installation: the program folder holds nothing but the demo kit the
// build put there, and the first key press is heard.
#include "uifixture.h"

#include "frmcenter.h"
#include "frmpreferencias.h"
#include "frmsplash.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QTest>

#include <cmath>

using namespace rimbal;

namespace {

class FirstStart : public ProgramTest {};

TEST_F(FirstStart, AnEmptyFolderStartsWithTheDemoKitAndTheSpaceBarPlaysTheKick) {
    const QString kit = QStringLiteral(RB_DEMO_KIT_DIR), target = appDir + QStringLiteral("Pacotes/Rimbal Demo/");
    QDir().mkpath(target);
    for (const QString& f : QDir(kit).entryList(QDir::Files)) ASSERT_TRUE(QFile::copy(kit + u'/' + f, target + f));
    ASSERT_FALSE(QFile::exists(appDir + "rimbal2.ini"));

    prompt.buttonAnswers = {Prompt::Yes};  // keep the devices chosen on the driver page
    TFrmSplash splash(*ctx);
    splash.onPreferences = [](TFrmPreferencias& prefs) {
        QTimer::singleShot(0, &prefs, [&prefs] {
            child<QListWidget>(&prefs, "List_Drivers")->setCurrentRow(0);
            child<QListWidget>(&prefs, "List_RecordDrivers")->setCurrentRow(0);
            prefs.close();
        });
    };
    splash.exec();
    ASSERT_TRUE(ctx->StartupOk);
    EXPECT_EQ(ctx->settings.PackName, "Rimbal Demo");
    EXPECT_EQ(ctx->core.KeyCount, 25);
    EXPECT_TRUE(log.shown.isEmpty());

    TFrmCenter w(*ctx);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    // The key goes where a real one goes: to the control with the focus.
    QWidget* focus = QApplication::focusWidget();
    QTest::keyClick(focus ? focus : &w, Qt::Key_Space);
    EXPECT_EQ(ctx->core.PlayCount, 1u);
    // What the null output hears: the kick's low sweep at the key's volume.
    std::vector<float> out(2 * 9600);
    ASSERT_EQ(rb::System_RenderNull(ctx->core.SoundSystem, out.data(), 9600), rb::OK);
    float peak = 0;
    int crossings = 0;
    for (std::size_t i = 0; i < out.size(); i += 2) {
        peak = std::max(peak, std::fabs(out[i]));
        if (i >= 2 * 4800 && out[i - 2] < 0 && out[i] >= 0) ++crossings;
    }
    EXPECT_NEAR(peak, 0.55f * 0.966f, 0.05f);
    EXPECT_GE(crossings, 4) << "about 55 Hz from 100 to 200 ms";
    EXPECT_LE(crossings, 8);
    w.close();
    EXPECT_TRUE(iniText().contains("PackName=Rimbal Demo"));
}

}  // namespace
