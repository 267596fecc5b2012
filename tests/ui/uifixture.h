// A program context on the null output in a scratch application folder,
// with a package of real sound files and a scripted prompt.
#pragma once

#include "appcontext.h"
#include "scriptedprompt.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <memory>

// A named child of a window, found as a test finds it: by its component name.
template <typename T>
T* child(QObject* parent, const char* name) {
    T* w = parent->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes a configuration with usable devices and a package of n keys
    // (A, S, D, ... each with its own short sound).
    void preparePackage(int keys = 3, bool withIni = true);
    // Runs the splash and its start-up sequence; true when the program would go on.
    bool runStartup();
    QString iniText() const;

    QTemporaryDir dir;
    QString appDir;
    ScriptedPrompt prompt;
    RecordingLog log;
    std::unique_ptr<rimbal::AppContext> ctx;
};
