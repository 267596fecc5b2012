// What the fuzz targets share: the application, the scratch folder, the
// program's owner objects.
#include "fuzzsupport.h"

#include "base/textfiles.h"
#include "recording/wav.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <vector>

namespace fuzz {
namespace {

QCoreApplication* g_app = nullptr;
QTemporaryDir* g_scratch = nullptr;

}  // namespace

void Init(int* argc, char*** argv) {
    if (g_app) return;
    // Files the run writes go to memory when the machine has a RAM disk.
    if (qEnvironmentVariableIsEmpty("TMPDIR") && QFileInfo(QStringLiteral("/dev/shm")).isWritable())
        qputenv("TMPDIR", "/dev/shm");
    g_app = new QCoreApplication(*argc, *argv);
    g_scratch = new QTemporaryDir(QDir::tempPath() + QStringLiteral("/rbfuzz-XXXXXX"));
    if (!g_scratch->isValid()) Fail("no scratch folder", g_scratch->errorString());
    QDir().mkpath(App());
    QDir().mkpath(Scratch() + QStringLiteral("in"));
    // The folder removed at exit: libFuzzer leaves through exit().
    std::atexit([] { delete g_scratch; });
}

QString Scratch() { return g_scratch->path() + u'/'; }

QString App() { return Scratch() + QStringLiteral("a/b/c/app/"); }

QByteArray Bytes(const std::uint8_t* data, std::size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        Fail("cannot write the harness's file", path);
}

void EmptyFolder(const QString& path) {
    QDir dir(path);
    if (dir.exists()) {
        // Links are removed, never followed.
        for (const QFileInfo& fi : dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
            const bool removed = fi.isDir() && !fi.isSymLink() ? QDir(fi.filePath()).removeRecursively()
                                                               : QFile::remove(fi.filePath());
            if (!removed) Fail("cannot empty the harness's folder", fi.filePath());
        }
    }
    QDir().mkpath(path);
}

void WriteTone(const QString& path, int frames, int channels, int rate) {
    std::vector<std::int16_t> pcm(static_cast<std::size_t>(frames * channels));
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            pcm[static_cast<std::size_t>(i * channels + c)] =
                static_cast<std::int16_t>(8000 * std::sin(2 * std::numbers::pi * (440.0 + 110 * c) * i / rate));
    QByteArray bytes = rimbal::WavHeader(channels, rate, 16, static_cast<std::uint32_t>(pcm.size() * 2));
    bytes.append(reinterpret_cast<const char*>(pcm.data()), static_cast<qsizetype>(pcm.size() * 2));
    WriteFile(path, bytes);
}

QStringList Tree(const QString& root) {
    QStringList out;
    const QDir base(root);
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo fi = it.fileInfo();
        QString line = base.relativeFilePath(fi.filePath());
        if (fi.isSymLink()) line += QStringLiteral(" -> ") + fi.symLinkTarget();
        else if (fi.isDir()) line += u'/';
        else line += QStringLiteral(" %1").arg(fi.size());
        out << line;
    }
    out.sort();
    return out;
}

void CheckContained(const rimbal::Settings& settings, const QStringList& own) {
    const QDir base(Scratch());
    const QString packages = base.relativeFilePath(settings.PackPath) + u'/';
    QDirIterator it(Scratch(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo fi = it.fileInfo();
        const QString rel = base.relativeFilePath(fi.filePath()) + (fi.isDir() && !fi.isSymLink() ? QStringLiteral("/") : QString());
        if (std::any_of(own.cbegin(), own.cend(), [&](const QString& o) { return rel.startsWith(o); })) continue;
        Check(!fi.isSymLink(), "a link was left", rel);
        if (fi.isDir() && packages.startsWith(rel)) continue;  // on the way to the packages folder
        Check(rel.startsWith(packages), "something was written outside the packages folder", rel);
        const QStringList parts = rel.mid(packages.size()).split(u'/', Qt::SkipEmptyParts);
        Check(!parts.first().startsWith(u'.'), "a hidden folder was left in the packages folder", rel);
        Check(parts.size() == 1 ? fi.isDir() : parts.size() == 2 && fi.isFile(),
              "a package folder holds something other than plain files", rel);
    }
}

void CheckSame(const QStringList& before, const QStringList& after, const char* what) {
    if (before == after) return;
    QStringList diff;
    for (const QString& e : before)
        if (!after.contains(e)) diff << QStringLiteral("- ") + e;
    for (const QString& e : after)
        if (!before.contains(e)) diff << QStringLiteral("+ ") + e;
    Fail(what, diff.join(u'\n'));
}

void AnswerNameQuestion(ScriptedPrompt& prompt, std::size_t variant) {
    prompt.asked.clear();
    prompt.textAnswers.clear();
    switch (variant % 3) {
    case 0: prompt.buttonAnswers = {rimbal::Prompt::Yes}; break;
    case 1:
        prompt.buttonAnswers = {rimbal::Prompt::No};
        prompt.textAnswers = {QStringLiteral("Renomeado")};
        break;
    default: prompt.buttonAnswers = {rimbal::Prompt::Cancel}; break;
    }
}

void CheckRestart(const rimbal::Settings& settings) {
    QString error;
    Check(settings.SaveConfiguration(&error), "the package in use cannot be kept in the configuration", error);
    rimbal::Settings next(settings.AppDir, settings.IniPath());
    next.LoadConfiguration();
    Check(next.PackName == settings.PackName && next.PackPath == settings.PackPath,
          "the next start takes another package", QStringLiteral("\"%1\" became \"%2\"").arg(settings.PackName, next.PackName));
    QFile::remove(settings.IniPath());  // the next run starts without one
}

void Trace(const QString& text) {
    static const bool on = qEnvironmentVariableIsSet("RB_FUZZ_TRACE");
    if (on) std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

void Fail(const char* what, const QString& detail) {
    std::fprintf(stderr, "\n==== FINDING: %s\n%s\n", what, detail.toLocal8Bit().constData());
    std::fflush(stderr);
    std::abort();
}

// ---------------------------------------------------------------- program

Program::Program()
    : settings_(std::make_unique<rimbal::Settings>(App())),
      core_(std::make_unique<rimbal::SoundCore>(*settings_, prompt, log)) {
    settings_->LoadConfiguration();
    rimbal::SoundCore& c = *core_;
    if (rb::System_Create(&c.SoundSystem) != rb::OK || rb::System_SetOutput(c.SoundSystem, rb::OUTPUTTYPE_NULL) != rb::OK)
        Fail("the engine cannot start on the null output");
}

Program::~Program() {
    ReleaseSounds();
    rb::System_Release(core_->SoundSystem);
}

void Program::CreateSounds() { core_->CreateSounds(false); }

void Program::ReleaseSounds() {
    core_->ReleaseSounds(true);
    core_->ReleasePendingSound();
    core_->ErrorLog.clear();
}

void Program::Render(int blocks, unsigned frames) {
    std::vector<float> out(2 * static_cast<std::size_t>(frames));
    for (int i = 0; i < blocks; ++i) {
        rb::System_RenderNull(core_->SoundSystem, out.data(), frames);
        for (const float v : out)
            if (!std::isfinite(v)) Fail("the mix holds a value that is not a number");
    }
    rb::System_Update(core_->SoundSystem);
}

void Program::PlayEveryKey(int blocks) {
    rimbal::SoundCore& c = *core_;
    for (int i = 0; i < c.ScanCount(); ++i) {
        const rimbal::TAG_SOUND_DATA& r = c.KeySounds[static_cast<std::size_t>(i)];
        if (r.sound == rb::Sound{}) continue;
        c.PlayKey(r.playKey);
        Render(1);
        if (r.stopKey) c.PlayKey(r.stopKey);
    }
    Render(blocks);
}

void MakeKitPackage(Program& program) {
    rimbal::Settings& s = program.settings();
    const QString folder = s.PackPath + QStringLiteral("Kit/");
    WriteTone(folder + QStringLiteral("k.wav"), 480);
    const QStringList info{QStringLiteral("[Info]"), QStringLiteral("Name=Kit")};
    const QStringList keys{QStringLiteral("65*0*0*0*0*1,00*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*0*k.wav")};
    if (!rimbal::WriteTextLines(folder + QStringLiteral("Info.txt"), info) ||
        !rimbal::WriteTextLines(folder + QStringLiteral("Keys.txt"), keys))
        Fail("cannot lay out the kit package");
    s.PackName = QStringLiteral("Kit");
    program.core().LoadKeyLines();
    program.CreateSounds();
}

}  // namespace fuzz
