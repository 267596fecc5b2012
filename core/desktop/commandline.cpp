// Parsing the program's arguments, and its usage and version texts in
// Portuguese.
#include "desktop/commandline.h"

#include <QDir>
#include <QUrl>

#include <algorithm>
#include <iterator>

namespace rimbal {
namespace {

const QString kRenderOptions[] = {QStringLiteral("--render-sequence"), QStringLiteral("--output"),
                                  QStringLiteral("--package"), QStringLiteral("--rate")};

CommandLine usage(const QString& error) {
    CommandLine c;
    c.mode = CommandLine::Mode::Usage;
    c.error = error;
    return c;
}

// A file manager may hand over a file: address instead of a path.
QString absoluteFile(const QString& arg, const QString& currentDir) {
    QString path = arg;
    if (arg.startsWith(QStringLiteral("file:"), Qt::CaseInsensitive)) {
        const QUrl url(arg);
        if (url.isLocalFile()) path = url.toLocalFile();
    }
    // Joined by hand: QDir takes a leading ":" for one of Qt's resources.
    return QDir::cleanPath(path.startsWith(u'/') ? path : currentDir + u'/' + path);
}

}  // namespace

CommandLine ParseCommandLine(const QStringList& args, const QString& currentDir) {
    CommandLine c;
    bool render = false, output = false, optionsEnded = false;
    QString renderOnly;  // the first render option seen
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (optionsEnded || !arg.startsWith(u'-')) {
            c.files << absoluteFile(arg, currentDir);
            continue;
        }
        if (arg == QStringLiteral("--")) {
            optionsEnded = true;
            continue;
        }
        if (arg == QStringLiteral("-h") || arg == QStringLiteral("--help")) {
            return {CommandLine::Mode::Help, {}, {}};
        }
        if (arg == QStringLiteral("-v") || arg == QStringLiteral("--version")) {
            return {CommandLine::Mode::Version, {}, {}};
        }
        const QString name = arg.section(u'=', 0, 0);
        const bool inlineValue = arg.contains(u'=');
        if (std::find(std::begin(kRenderOptions), std::end(kRenderOptions), name) == std::end(kRenderOptions))
            return usage(QStringLiteral("opção desconhecida: %1").arg(arg));
        QString value = arg.section(u'=', 1);
        if (!inlineValue) {
            if (i + 1 >= args.size()) return usage(QStringLiteral("falta o valor de %1").arg(name));
            value = args[++i];
        }
        if (value.isEmpty()) return usage(QStringLiteral("falta o valor de %1").arg(name));
        if (name == kRenderOptions[0]) render = true;
        else if (name == kRenderOptions[1]) output = true;
        if (renderOnly.isEmpty() && name != kRenderOptions[0]) renderOnly = name;
    }
    if (render) {
        if (!c.files.isEmpty())
            return usage(QStringLiteral("--render-sequence não abre outros arquivos: %1").arg(c.files.first()));
        if (!output) return usage(QStringLiteral("--render-sequence precisa de --output"));
        c.mode = CommandLine::Mode::Render;
        return c;
    }
    if (!renderOnly.isEmpty()) return usage(QStringLiteral("%1 só vale com --render-sequence").arg(renderOnly));
    return c;
}

QString UsageText() {
    return QStringLiteral(
        "Uso: rimbal2 [ARQUIVO...]\n"
        "     rimbal2 --render-sequence SEQUÊNCIA.rbs --output SAÍDA.wav [--package NOME] [--rate 44100|48000]\n"
        "\n"
        "Abre o Rimbal 2, a bateria virtual. Cada ARQUIVO é aberto depois da\n"
        "inicialização, na ordem dada:\n"
        "  .rbp  pacote de sons, importado como em \"Importar Pacote de Sons\"\n"
        "  .rbs  sequência de teclas, carregada como em \"Carregar Arquivo de Sequência\"\n"
        "  .h2drumkit, drumkit.xml\n"
        "        kit do Hydrogen, importado como em \"Importar Kit do Hydrogen...\"\n"
        "Se o Rimbal 2 já estiver aberto nesta pasta, os arquivos vão para ele.\n"
        "\n"
        "Opções:\n"
        "  -h, --help               mostra este texto e sai\n"
        "  -v, --version            mostra as versões do programa e da engine e sai\n"
        "  --render-sequence ARQ    grava a sequência ARQ num WAV, sem janela nem\n"
        "                           dispositivo de som\n"
        "  --output SAÍDA.wav       o WAV a gravar (com --render-sequence)\n"
        "  --package NOME           o pacote que toca a sequência (padrão: o pacote em uso)\n"
        "  --rate 44100|48000       a taxa do WAV (padrão: a das preferências)\n"
        "  --                       o que vem depois são arquivos, mesmo começando por \"-\"\n");
}

QString VersionText(std::uint32_t engineFound, std::uint32_t engineRequired) {
    QString text = QStringLiteral("Rimbal 2 %1\nEngine rbcore %2")
                       .arg(QStringLiteral(RB_PROGRAM_VERSION))
                       .arg(engineFound, 8, 16, QChar(u'0'));
    if (engineFound != engineRequired)
        text += QStringLiteral(" (este executável requer a versão %1)").arg(engineRequired, 8, 16, QChar(u'0'));
    return text + u'\n';
}

}  // namespace rimbal
