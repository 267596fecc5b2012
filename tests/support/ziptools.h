// Other ZIP implementations for the tests: Python's zipfile and Info-ZIP,
// run as child processes.
#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

struct ToolRun {
    int code = -1;
    QByteArray out;
};

inline ToolRun runTool(const QString& program, const QStringList& args, const QString& cwd = {},
                       const QByteArray& input = {}) {
    QProcess p;
    if (!cwd.isEmpty()) p.setWorkingDirectory(cwd);
    p.start(program, args);
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(30000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput()};
}

// Runs a Python script with the arguments given; its standard output.
inline QByteArray runPython(const QString& script, const QStringList& args) {
    const ToolRun r = runTool(QStringLiteral("python3"), QStringList{QStringLiteral("-c"), script} + args);
    EXPECT_EQ(r.code, 0) << script.toStdString();
    return r.out;
}

// What Python's zipfile sees in an archive opened with the password: the
// comment (Latin-1) and each entry's name, encryption flag, method and the
// MD5 of its contents.
inline QJsonObject pythonZipView(const QString& archive, const QByteArray& password) {
    const QString script = QStringLiteral(R"(
import hashlib, json, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
z.setpassword(sys.argv[2].encode())
print(json.dumps({"comment": z.comment.decode("latin-1"), "entries": [
    {"name": i.filename, "encrypted": bool(i.flag_bits & 1), "method": i.compress_type,
     "md5": hashlib.md5(z.read(i)).hexdigest()} for i in z.infolist()]}))
)");
    return QJsonDocument::fromJson(runPython(script, {archive, QString::fromLatin1(password)})).object();
}
