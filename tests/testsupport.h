#pragma once
// Shared helpers of the window tests.

#include "Main.h"
#include "Messages.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <QPair>
#include <QString>
#include <QTemporaryDir>

// Points the program's settings (QvoKsb.ini) at dir: $XDG_CONFIG_HOME, on Windows %APPDATA%.
inline void pointSettingsAt(const QString &dir)
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir));
#ifdef _WIN32
    qputenv("APPDATA", QDir::toNativeSeparators(dir).toUtf8());
#endif
}

// Points the data the program keeps (the journal) at dir/QvoKsb: $XDG_DATA_HOME, on Windows
// %APPDATA%, which then also holds QvoKsb.ini.
inline void pointKeptDataAt(const QString &dir)
{
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir));
#ifdef _WIN32
    qputenv("APPDATA", QDir::toNativeSeparators(dir).toUtf8());
#endif
}

// While it lives, the message boxes the program asks for are recorded instead of shown, and
// every question gets the answer the test has set.
struct MessageBoxes {
    QList<QPair<Messages::Kind, QString>> shown;
    bool answer = true;

    // Forgets what was shown; questions are answered Yes again.
    void clear()
    {
        shown.clear();
        answer = true;
    }

    MessageBoxes()
    {
        Messages::hook = [this](Messages::Kind kind, const QString &text) {
            shown.append({kind, text});
            return answer;
        };
    }
    ~MessageBoxes() { Messages::hook = nullptr; }
    MessageBoxes(const MessageBoxes &) = delete;
    MessageBoxes &operator=(const MessageBoxes &) = delete;
};

// The settings of a window of one test's own: a temporary folder, pointed at before the window
// reads its QvoKsb.ini.
struct OwnSettingsFolder {
    QTemporaryDir settingsHome;
    OwnSettingsFolder() { pointSettingsAt(settingsHome.path()); }
};

// A main window that FKsb points at while it lives.
struct MainWindowUnderTest : TFKsb {
    MainWindowUnderTest() { FKsb = this; }
    ~MainWindowUnderTest() override { FKsb = nullptr; }
};

// The main window shown on the screen, with settings of its own.
struct ShownMainWindow : OwnSettingsFolder, MainWindowUnderTest {
    ShownMainWindow() { show(); }
};
