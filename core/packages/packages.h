// Sound packages: the folders under PackPath, their description Info.txt,
// the .rbp archives they travel in (export and import), deleting and taking
// a package into use, and turning a first-version key list into a package.
// GUI thread; long work reports progress and keeps the windows painted.
#pragma once

#include "archives/ziparchive.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

namespace rimbal {

class LogView;
class Prompt;
struct KitPlan;
class Settings;
class SoundCore;

inline const QByteArray kPackageComment = QByteArrayLiteral("Pacote de sons do Rimbal\r\n>>> www.rimbal.com.br");

// What importing a Hydrogen kit came to.
struct KitImport {
    enum Result { Imported, Cancelled, Failed };
    Result result = Failed;
    QString package;          // the package made and taken into use
    QStringList errors;       // why nothing was imported
    QStringList notImported;  // "instrument: reason" for each one without a key
    QStringList notes;        // layers left out, and why
};

struct PackageInfo {
    QString name;
    QString author;
    QString contact;
    QString version;
    QString comment;  // may hold several lines
};

// A caption for the running window (empty keeps the current one) and the
// share done, 0 to 1, or -1 when unknown. The receiver repaints the windows.
using PackageProgress = std::function<void(const QString& caption, double done)>;

class Packages {
public:
    Packages(SoundCore& core, Prompt& prompt, LogView& log, PackageProgress progress = {});

    // Direct sub-folders of PackPath that hold a Keys.txt, hidden ones left
    // out, sorted without regard to letter case as Windows lists them.
    QStringList ListPackages() const;
    // Refuses blanks, separators, drives, "..", control characters and a
    // leading "." (hidden, or PackPath itself).
    static bool IsValidPackageName(const QString& name);

    PackageInfo ReadInfo(const QString& name) const;
    // Lines of the package's Keys.txt, blank ones too; -1 without the file.
    int CountKeyLines(const QString& name) const;

    // Deletes the files the key list and the layers name inside the package
    // folder, the key list, Info.txt, Midi.txt, Layers.txt and the folder
    // when it is then empty. A reference
    // that leads out of the folder is never deleted. Unloads the package in
    // use and starts the engine again without keys. True when the folder is
    // gone; otherwise remaining gets what is left in it.
    bool DeletePackage(const QString& name, QStringList* remaining = nullptr);
    static void DeleteFileList(const QStringList& files);

    // Makes name the package in use: sounds released, key list loaded, sounds
    // created (during start-up only the key list: start-up creates the sounds).
    void UsePackage(const QString& name);

    // Packs the package in use into archivePath. The user's files are never
    // renamed; a failure leaves an existing archive untouched and error
    // holds the cause.
    bool ExportPackage(const QString& archivePath, const PackageInfo& info, QString* error = nullptr);
    static QStringList InfoLines(const PackageInfo& info);
    // Archive names for the sound files of a package: bare names, and where
    // two share one (letter case ignored) the later ones get a counter
    // (kick.wav, kick2.wav), never a name taken by another file.
    static QStringList EntryNames(const QStringList& paths);

    // Unpacks an archive into a new package and takes it into use. Errors
    // are shown in the log window; false when nothing was imported.
    bool ImportPackage(const QString& archivePath);

    // Makes a package of a Hydrogen kit (a .h2drumkit archive, a folder
    // holding drumkit.xml, or that file) and takes it into use. Every sample
    // is checked with the engine's decoder first; a kit that cannot be read
    // changes nothing.
    KitImport ImportHydrogenKit(const QString& path);
    // Where Hydrogen keeps its kits on this machine; empty when nowhere.
    static QString HydrogenKitsFolder();

    // Turns a first-version key list into a new package RUDadiru<n> and takes
    // it into use. Lines that cannot be taken go to errors. False (and error
    // texts) when the package could not be written.
    bool ImportFirstVersionKeys(const QString& file, QStringList& errors);
    // The smallest RUDadiru<n> that names no package (letter case ignored).
    QString NextImportName() const;

private:
    QString folderOf(const QString& name) const;
    void report(const QString& caption, double done) const;
    void reload(const QStringList& lines);
    void createSounds();
    bool importStaged(const QString& archivePath, const QString& staging, QStringList& errors);
    // The name an import stores its package under. When a package of that
    // name exists (letter case ignored) the user overwrites it, gives another
    // name or gives up. False when given up; errors then may tell why.
    bool chooseImportName(QString& name, QStringList& errors);
    // Moves a complete staging folder into place as the folder of name.
    bool placeStaged(const QString& staging, const QString& name, QStringList& errors);
    // Takes an imported package into use.
    void useImported(const QString& name);
    bool stageKit(const KitPlan& plan, const QString& staging, bool moveSamples, QStringList& errors);

    SoundCore& core_;
    Settings& settings_;
    Prompt& prompt_;
    LogView& log_;
    PackageProgress progress_;
};

}  // namespace rimbal
