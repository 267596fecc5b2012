// The command line: arguments (the input split at NUL bytes) as the program
// body parses them.
#include "fuzzsupport.h"

#include "desktop/commandline.h"

#include <QDir>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::Init(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QStringList args{QStringLiteral("rimbal2")};
    for (const QByteArray& arg : fuzz::Bytes(data, size).split('\0')) args << QString::fromLocal8Bit(arg);
    const rimbal::CommandLine c = rimbal::ParseCommandLine(args, QString::fromUtf8("/home/músico/Área de trabalho"));
    switch (c.mode) {
    case rimbal::CommandLine::Mode::Run:
        for (const QString& f : c.files)
            fuzz::Check(f.startsWith(u'/') && QDir::cleanPath(f) == f, "a file to open that is not an absolute path", f);
        break;
    case rimbal::CommandLine::Mode::Usage: fuzz::Check(!c.error.isEmpty(), "a usage error without its reason"); break;
    default: fuzz::Check(c.files.isEmpty(), "files beside --help, --version or a render"); break;
    }
    return 0;
}
