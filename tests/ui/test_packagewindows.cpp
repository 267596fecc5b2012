// The package windows in the real program under the offscreen platform: the
// export dialog, the package manager and the main window's package commands.
#include "uifixture.h"
#include "ziptools.h"

#include "archives/ziparchive.h"
#include "frmcenter.h"
#include "frmexportarbp.h"
#include "frmlistapacotes.h"
#include "frmpreferencias.h"
#include "packages/packages.h"
#include "base/textfiles.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <functional>

using namespace rimbal;

namespace {

// Runs f on the modal window of type T once it is up (exec blocks the test).
template <typename T>
void whenModal(std::function<void(T*)> f) {
    QTimer::singleShot(10, [f] {
        if (auto* w = qobject_cast<T*>(QApplication::activeModalWidget()); w && w->isVisible()) f(w);
        else whenModal<T>(f);
    });
}

class PackageWindows : public ProgramTest {
protected:
    void start() {
        preparePackage(3);
        ASSERT_TRUE(runStartup());
        main = std::make_unique<TFrmCenter>(*ctx);
        main->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
        QTest::qWait(30);
        prompt.asked.clear();
    }
    void trigger(const char* action) { child<QAction>(main.get(), action)->trigger(); }
    bool timersRun() const { return main->TimerInfo.isActive() && main->TimerStatus.isActive(); }
    QStringList messages() const {
        QStringList out;
        for (const PromptRecord& r : prompt.asked)
            if (r.kind == "message") out << r.caption + ": " + r.text;
        return out;
    }
    // Another package with a description and two keys on the first package's sounds.
    void otherPackage() {
        preparePackage(3);
        const QString folder = appDir + "Pacotes/Outro/";
        QDir().mkpath(folder);
        ASSERT_TRUE(QFile::copy(appDir + "Pacotes/Kit/s0.wav", folder + "o.wav"));
        ASSERT_TRUE(WriteTextLines(folder + "Keys.txt", {"90*0*0*0*0*1,00*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*o.wav",
                                                         "88*0*0*0*0*1,00*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*o.wav"}));
        ASSERT_TRUE(WriteTextLines(folder + "Info.txt", {"[Info]", "Name=Outro Kit", "Author=Ana", "Contact=ana@x.br",
                                                         "Version=1.2", "Comment=Primeira linha", "segunda"}));
    }

    std::unique_ptr<TFrmCenter> main;
};

TEST_F(PackageWindows, ExportDialogWritesTheArchiveAndRefusesWhatCannotBeImported) {
    start();
    const QString target = appDir + "saida/kit";  // no extension: ".rbp" is added
    QDir().mkpath(appDir + "saida");
    bool checked = false;
    whenModal<TFrmExportaRBP>([&](TFrmExportaRBP* dlg) {
        EXPECT_EQ(dlg->windowTitle(), "Exportar Pacote");
        // A blank name is refused before the save dialog; the dialog stays.
        child<QLineEdit>(dlg, "Edit_Nome")->setText("   ");
        child<QPushButton>(dlg, "BtnSalvar")->click();
        EXPECT_EQ(messages(), QStringList{"Aviso: Nome inválido de pacote."});
        EXPECT_TRUE(dlg->isVisible());
        // A folder that does not exist: the error names it; the dialog stays.
        child<QLineEdit>(dlg, "Edit_Nome")->setText("Meu Kit");
        child<QLineEdit>(dlg, "Edit_Autor")->setText("Eu");
        child<QLineEdit>(dlg, "Edit_Contato")->setText("eu@x.br");
        child<QLineEdit>(dlg, "Edit_Versao")->setText("1.0");
        child<QPlainTextEdit>(dlg, "Memo_Comentario")->setPlainText("Bumbo\ncaixa");
        prompt.textAnswers = {appDir + "nao/existe.rbp"};
        child<QPushButton>(dlg, "BtnSalvar")->click();
        EXPECT_TRUE(messages().last().startsWith("Erro: Erro ao exportar pacote: ")) << messages().last().toStdString();
        EXPECT_TRUE(messages().last().contains(appDir + "nao/existe.rbp"));
        EXPECT_TRUE(dlg->isVisible());
        EXPECT_EQ(dlg->windowTitle(), "Exportar Pacote");
        prompt.textAnswers = {target};
        child<QPushButton>(dlg, "BtnSalvar")->click();
        checked = true;
    });
    trigger("ExportarPacote1");
    ASSERT_TRUE(checked);
    EXPECT_EQ(prompt.asked.last().kind, "save");
    EXPECT_EQ(prompt.asked.last().text, "Pacote do Rimbal (*.rbp);;Todos (*.*)");
    const QJsonObject py = pythonZipView(target + ".rbp", kArchivePassword);
    QStringList names;
    for (const auto& e : py["entries"].toArray()) names << e.toObject()["name"].toString();
    EXPECT_EQ(names, QStringList({"Info.txt", "Keys.txt", "s0.wav", "s1.wav", "s2.wav"}));
    ArchiveReader r;
    QByteArray info;
    ASSERT_TRUE(r.open(target + ".rbp", kArchivePassword));
    ASSERT_TRUE(r.read(0, info));
    EXPECT_EQ(info, "[Info]\r\nName=Meu Kit\r\nAuthor=Eu\r\nContact=eu@x.br\r\nVersion=1.0\r\nComment=Bumbo\r\ncaixa");

    // An existing archive and "Não" at the question: nothing written, the dialog closes.
    const QByteArray before = [&] { QFile f(target + ".rbp"); f.open(QIODevice::ReadOnly); return f.readAll(); }();
    prompt.asked.clear();
    prompt.buttonAnswers = {Prompt::No};
    checked = false;
    whenModal<TFrmExportaRBP>([&](TFrmExportaRBP* dlg) {
        child<QLineEdit>(dlg, "Edit_Nome")->setText("Outro");
        prompt.textAnswers = {target + ".rbp"};
        child<QPushButton>(dlg, "BtnSalvar")->click();
        checked = !dlg->isVisible();
    });
    trigger("ExportarPacote1");
    EXPECT_TRUE(checked) << "the dialog closed";
    EXPECT_EQ(messages(), QStringList{"Confirmação: Deseja sobrescrever?"});
    QFile f(target + ".rbp");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), before);
}

TEST_F(PackageWindows, ManagerShowsDetailsLoadsAndDeletesPackages) {
    otherPackage();
    start();
    QStringList captions;
    bool done = false;
    whenModal<TFrmListaPacotes>([&](TFrmListaPacotes* dlg) {
        auto* list = child<QListWidget>(dlg, "List_Pacotes");
        const auto label = [&](const char* name) { return child<QLabel>(dlg, name)->text(); };
        auto* use = child<QPushButton>(dlg, "Btn_Selecionar");
        auto* del = child<QPushButton>(dlg, "Btn_Deletar");
        EXPECT_EQ(dlg->windowTitle(), "Gerenciador de Pacotes");
        ASSERT_EQ(list->count(), 2);
        EXPECT_EQ(label("Label_Total"), "2");
        // The package in use is selected and shown at once.
        EXPECT_EQ(list->currentItem()->text(), "Kit");
        EXPECT_EQ(label("Label_Teclas"), "3");
        EXPECT_EQ(label("Label_Nome"), "");
        EXPECT_TRUE(use->isEnabled() && del->isEnabled());
        use->click();
        EXPECT_EQ(messages().last(), "Info: O pacote \"Kit\" já está em uso!");

        list->setCurrentRow(1);
        EXPECT_EQ(label("Label_Nome"), "Outro Kit");
        EXPECT_EQ(label("Label_Autor"), "Ana");
        EXPECT_EQ(label("Label_Contato"), "ana@x.br");
        EXPECT_EQ(label("Label_Versao"), "1.2");
        EXPECT_EQ(label("Label_Teclas"), "2");
        EXPECT_EQ(child<QPlainTextEdit>(dlg, "Memo_Comentarios")->toPlainText(), "Primeira linha");

        // "Usar Pacote": the captions tell the steps; the timers run again.
        QObject::connect(dlg, &QWidget::windowTitleChanged, dlg, [&](const QString& t) { captions << t; });
        prompt.buttonAnswers = {Prompt::Yes};
        use->click();
        EXPECT_EQ(messages().mid(messages().size() - 2),
                  QStringList({"Confirmação: Deseja carregar o pacote: Outro?", "Info: Pacote carregado com sucesso!"}));
        EXPECT_EQ(ctx->settings.PackName, "Outro");
        EXPECT_EQ(ctx->core.KeyCount, 2);
        EXPECT_TRUE(timersRun());

        // Deleting the package in use: the program goes on without a package.
        prompt.buttonAnswers = {Prompt::Yes};
        del->click();
        EXPECT_EQ(messages().mid(messages().size() - 2),
                  QStringList({"Aviso: Deseja mesmo deletar o pacote: Outro?\rTodos os arquivos de som da pasta deste "
                               "pacote também serão deletados.",
                               "Info: Os arquivos do pacote foram deletados!"}));
        EXPECT_TRUE(ctx->settings.PackName.isEmpty());
        EXPECT_EQ(ctx->core.KeyCount, 0);
        EXPECT_TRUE(timersRun());
        EXPECT_EQ(list->count(), 1);
        EXPECT_EQ(label("Label_Total"), "1");
        EXPECT_FALSE(use->isEnabled() || del->isEnabled());
        EXPECT_EQ(dlg->windowTitle(), "Selecionar Pacote de Sons");
        child<QPushButton>(dlg, "Btn_Cancelar")->click();
        done = true;
    });
    trigger("GerenciarPacotes1");
    ASSERT_TRUE(done);
    EXPECT_EQ(captions, QStringList({"Liberando sons...", "Carregando pacote...", "Criando sons...",
                                     "Gerenciador de Pacotes", "Deletando pacote...", "Selecionar Pacote de Sons"}));
    EXPECT_FALSE(QFileInfo::exists(appDir + "Pacotes/Outro"));
    // A key defined now plays at once.
    TAG_SOUND_DATA key;
    key.playKey = 0x51;
    key.fileName = appDir + "Pacotes/Kit/s1.wav";
    ASSERT_TRUE(ctx->core.AddKeySound(key, false, 0));
    ctx->core.PlayKey(0x51);
    EXPECT_TRUE(ctx->core.IsChannelPlaying(ctx->core.KeySounds[0].channels[0]));
}

TEST_F(PackageWindows, DeletingAPackageThatKeepsOtherFilesSaysWhatRemains) {
    otherPackage();
    QFile notes(appDir + "Pacotes/Outro/notas.txt");
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.close();
    start();
    bool done = false;
    whenModal<TFrmListaPacotes>([&](TFrmListaPacotes* dlg) {
        child<QListWidget>(dlg, "List_Pacotes")->setCurrentRow(1);
        prompt.buttonAnswers = {Prompt::Yes};
        child<QPushButton>(dlg, "Btn_Deletar")->click();
        EXPECT_EQ(messages().last(), "Aviso: Nem todos os arquivos do pacote puderam ser deletados. Continuam na pasta " +
                                         ctx->settings.PackPath + "Outro:\rnotas.txt");
        EXPECT_EQ(child<QListWidget>(dlg, "List_Pacotes")->count(), 1) << "no key list, no package";
        EXPECT_EQ(ctx->settings.PackName, "Kit");
        dlg->reject();
        done = true;
    });
    trigger("GerenciarPacotes1");
    EXPECT_TRUE(done);
}

TEST_F(PackageWindows, MainWindowImportsPackagesAndFirstVersionLists) {
    start();
    const QString wav = appDir + "Pacotes/Kit/s2.wav";
    ArchiveWriter w(appDir + "novo.rbp");
    w.setPassword(kArchivePassword);
    w.addData("Info.txt", "[Info]\r\nName=Novo");
    w.addData("Keys.txt", "77*0*0*0*0*1,00*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*n.wav\r\n");
    w.addFile("n.wav", wav);
    ASSERT_TRUE(w.write());
    QFile broken(appDir + "quebrado.rbp");
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("não é zip");
    broken.close();

    prompt.textAnswers = {appDir + "quebrado.rbp"};
    trigger("ImportarPacote1");
    EXPECT_EQ(log.shown.value(0).caption, "Erros ao carregar pacote");
    EXPECT_EQ(messages(), QStringList{"Erro: Erro ao importar pacote"});
    EXPECT_EQ(ctx->settings.PackName, "Kit");
    EXPECT_TRUE(timersRun());

    // A key pressed while the kit is replaced plays nothing (and shows no engine error).
    prompt.asked.clear();
    prompt.textAnswers = {appDir + "novo.rbp"};
    QWidget* focus = QApplication::focusWidget() ? QApplication::focusWidget() : main.get();
    QCoreApplication::postEvent(focus, new QKeyEvent(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a"));
    trigger("ImportarPacote1");
    EXPECT_EQ(ctx->core.PlayCount, 0u);
    EXPECT_EQ(prompt.asked.value(0).text, "Pacote do Rimbal (*.rbp);;Todos (*.*)");
    EXPECT_EQ(messages(), QStringList{"Info: Pacote importado com sucesso!"});
    EXPECT_EQ(ctx->settings.PackName, "Novo");
    EXPECT_EQ(ctx->core.KeyCount, 1);
    EXPECT_TRUE(timersRun());

    QFile old(appDir + "teclas.txt");
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("65;" + QFile::encodeName(wav) + "\r\nx;y.wav\r\n");
    old.close();
    prompt.asked.clear();
    log.shown.clear();
    prompt.textAnswers = {appDir + "teclas.txt"};
    trigger("ImportarTeclas1");
    EXPECT_EQ(prompt.asked.value(0).text, "Arquivo Texto (*.txt);;Todos (*.*)");
    EXPECT_EQ(log.shown.value(0).caption, "Erros ao importar teclas");
    EXPECT_EQ(log.shown.value(0).lines, QStringList{"Erro: x não é um valor de tecla válido."});
    EXPECT_EQ(ctx->settings.PackName, "RUDadiru1");
    EXPECT_EQ(ctx->core.KeyCount, 1);
    EXPECT_TRUE(main->TimerStatus.isActive());
}

TEST_F(PackageWindows, MainWindowImportsHydrogenKits) {
    const QString gmRockKit = "/usr/share/hydrogen/data/drumkits/GMRockKit/drumkit.xml";
    ASSERT_TRUE(QFileInfo(gmRockKit).isFile()) << "scripts/deps.sh installs hydrogen-data";
    start();
    const QList<QAction*> items = child<QMenu>(main.get(), "Arquivo1")->actions();
    const qsizetype after = items.indexOf(child<QAction>(main.get(), "ImportarTeclas1")) + 1;
    ASSERT_GT(after, 0);
    EXPECT_EQ(items.value(after)->objectName(), "ImportarKitHydrogen1");
    EXPECT_EQ(items.value(after)->text(), "Importar Kit do Hydrogen...");

    // A damaged archive: one clear message, nothing changes.
    QFile broken(appDir + "quebrado.h2drumkit");
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("não é um kit");
    broken.close();
    prompt.textAnswers = {appDir + "quebrado.h2drumkit"};
    trigger("ImportarKitHydrogen1");
    ASSERT_EQ(messages().size(), 1);
    EXPECT_TRUE(messages()[0].startsWith("Erro: O kit não foi importado.\r")) << messages()[0].toStdString();
    EXPECT_TRUE(messages()[0].contains("quebrado.h2drumkit")) << messages()[0].toStdString();
    EXPECT_EQ(ctx->settings.PackName, "Kit");
    EXPECT_EQ(ctx->core.KeyCount, 3);
    EXPECT_TRUE(timersRun());

    // GMRockKit chosen by its drumkit.xml; the space bar plays its kick.
    prompt.asked.clear();
    prompt.textAnswers = {gmRockKit};
    trigger("ImportarKitHydrogen1");
    EXPECT_EQ(prompt.asked.value(0).caption, "Importar Kit do Hydrogen");
    EXPECT_EQ(prompt.asked.value(0).text, "Kit do Hydrogen (*.h2drumkit drumkit.xml);;Todos (*.*)");
    EXPECT_EQ(messages(), QStringList{"Info: Kit importado com sucesso!"});
    EXPECT_EQ(ctx->settings.PackName, "GMRockKit");
    EXPECT_EQ(ctx->core.KeyCount, 23);
    EXPECT_TRUE(timersRun());
    QWidget* focus = QApplication::focusWidget();
    QTest::keyClick(focus ? focus : main.get(), Qt::Key_Space);
    EXPECT_EQ(ctx->core.PlayCount, 1u);

    // A kit with a missing sample: imported, and the log window names what was left out.
    QDir().mkpath(appDir + "pequeno");
    ASSERT_TRUE(QFile::copy(appDir + "Pacotes/Kit/s0.wav", appDir + "pequeno/kick.wav"));
    QFile xml(appDir + "pequeno/drumkit.xml");
    ASSERT_TRUE(xml.open(QIODevice::WriteOnly));
    xml.write("<drumkit_info><name>Pequeno</name><instrumentList>"
              "<instrument><name>Kick</name><layer><filename>kick.wav</filename></layer></instrument>"
              "<instrument><name>Snare</name><layer><filename>snare.wav</filename></layer></instrument>"
              "</instrumentList></drumkit_info>");
    xml.close();
    prompt.asked.clear();
    prompt.textAnswers = {appDir + "pequeno/drumkit.xml"};
    trigger("ImportarKitHydrogen1");
    EXPECT_EQ(messages(), QStringList());
    ASSERT_EQ(log.shown.size(), 1);
    EXPECT_EQ(log.shown[0].caption, "Erros ao importar kit");
    EXPECT_EQ(log.shown[0].lines, QStringList({"O kit foi importado como o pacote \"Pequeno\", sem estes instrumentos:",
                                               "Snare: amostra não encontrada: snare.wav"}));
    EXPECT_EQ(ctx->settings.PackName, "Pequeno");
    EXPECT_EQ(ctx->core.KeyCount, 2);
}

// Every instrument placed but a layer left out: the log says which, under
// its own heading; past a window's room each list ends with its own count.
TEST_F(PackageWindows, AKitImportedWithoutSomeLayersSaysWhichInItsLog) {
    start();
    QDir().mkpath(appDir + "camadas");
    ASSERT_TRUE(QFile::copy(appDir + "Pacotes/Kit/s0.wav", appDir + "camadas/hard.wav"));
    QFile xml(appDir + "camadas/drumkit.xml");
    ASSERT_TRUE(xml.open(QIODevice::WriteOnly));
    xml.write("<drumkit_info><name>Camadas</name><instrumentList><instrument><name>Kick</name>"
              "<layer><filename>soft.wav</filename><min>0</min><max>0.5</max></layer>"
              "<layer><filename>hard.wav</filename><min>0.5</min><max>1</max></layer></instrument>"
              "</instrumentList></drumkit_info>");
    xml.close();
    prompt.textAnswers = {appDir + "camadas/drumkit.xml"};
    trigger("ImportarKitHydrogen1");
    EXPECT_EQ(messages(), QStringList());
    ASSERT_EQ(log.shown.size(), 1);
    EXPECT_EQ(log.shown[0].caption, "Erros ao importar kit");
    EXPECT_EQ(log.shown[0].lines, QStringList({"O kit foi importado como o pacote \"Camadas\"; algumas camadas ficaram de fora:",
                                               "Kick: camada ignorada (amostra não encontrada: soft.wav)"}));
    EXPECT_EQ(ctx->settings.PackName, "Camadas");

    QByteArray many;
    for (int i = 0; i < 400; ++i)
        many += "<instrument><name>Tom " + QByteArray::number(i) + "</name><layer><filename>hard.wav</filename><min>0</min>"
                "<max>0.5</max></layer><layer><filename>x.wav</filename><min>0.5</min><max>1</max></layer></instrument>";
    ASSERT_TRUE(xml.open(QIODevice::WriteOnly));
    xml.write("<drumkit_info><name>Muitos</name><instrumentList>" + many + "</instrumentList></drumkit_info>");
    xml.close();
    log.shown.clear();
    prompt.textAnswers = {appDir + "camadas/drumkit.xml"};
    trigger("ImportarKitHydrogen1");
    ASSERT_EQ(log.shown.size(), 1);
    const QStringList& lines = log.shown[0].lines;
    EXPECT_EQ(ShownLogLines(lines), lines) << "the window shows it whole";
    EXPECT_TRUE(lines.contains("... e mais 40 instrumentos não importados.")) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines.contains("O kit foi importado como o pacote \"Muitos\"; algumas camadas ficaram de fora:"));
    EXPECT_EQ(lines.last(), "... e mais 400 camadas de fora.");
}

TEST_F(PackageWindows, PreferencesOpenTheManagerAndShowThePackageTakenIntoUse) {
    otherPackage();
    start();
    TFrmPreferencias prefs(*ctx, main.get(), main.get());
    prefs.show();
    QTest::qWait(20);
    auto* button = child<QPushButton>(&prefs, "BtnSelPacote");
    ASSERT_TRUE(button->isEnabled());
    EXPECT_EQ(child<QLineEdit>(&prefs, "Edit_Pacote")->text(), "Kit");
    whenModal<TFrmListaPacotes>([&](TFrmListaPacotes* dlg) {
        child<QListWidget>(dlg, "List_Pacotes")->setCurrentRow(1);
        prompt.buttonAnswers = {Prompt::Yes};
        child<QPushButton>(dlg, "Btn_Selecionar")->click();
        dlg->reject();
    });
    button->click();
    EXPECT_EQ(ctx->settings.PackName, "Outro");
    EXPECT_EQ(child<QLineEdit>(&prefs, "Edit_Pacote")->text(), "Outro");
    prefs.reject();
}

}  // namespace
