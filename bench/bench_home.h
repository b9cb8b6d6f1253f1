#pragma once
// What a window benchmark sets up before its QApplication: a settings folder of its own, so that
// the user's QvoKsb.ini is neither read nor written, and the offscreen platform unless another
// is asked for.
#include <QTemporaryDir>
#include <QtGlobal>

class BenchHome
{
public:
    BenchHome()
    {
        qputenv("XDG_CONFIG_HOME", folder.path().toLocal8Bit());
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
    }

private:
    QTemporaryDir folder;
};
