// What the program is asked to do on its command line: open files, print its
// usage or versions, or render a key sequence without a window.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

namespace rimbal {

struct CommandLine {
    enum class Mode { Run, Help, Version, Render, Usage };
    Mode mode = Mode::Run;
    // Run: the files to open, as absolute paths, in the order given.
    QStringList files;
    // Usage: what was wrong, for standard error.
    QString error;
};

// args as the process got them, the program's name first; relative file
// names are taken against currentDir. "--" ends the options, so a file
// whose name starts with "-" can be given after it.
CommandLine ParseCommandLine(const QStringList& args, const QString& currentDir);

// The short Portuguese usage text (for --help, and for standard error after a
// wrong option).
QString UsageText();
// The program's version and the engine's: the one found and, when another,
// the one the program was built for.
QString VersionText(std::uint32_t engineFound, std::uint32_t engineRequired);

}  // namespace rimbal
