// Text from outside the program is shown as it stands: a file name, a journal line, a device a
// port leads to, a path typed by hand or named in an error, each looking like HTML, reach every
// window that shows them, and nowhere is one rendered as rich text (a heading, a picture loaded
// from the path it names).
#include "JournalWindow.h"
#include "PortChooser.h"
#include "TrafficLog.h"
#include "core/records/config_file.h"
#include "core/records/journal.h"

#include "testsupport.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

#include <functional>

namespace journal = qvoksb::journal;

namespace
{

// Rendered as rich text, it would be a picture and a heading; as plain text it reads as typed.
const QString Hostile = QStringLiteral("<img src=nothing.png><h1>Ж");

// What a reader sees of a text shown in `format`.
QString seen(const QString &text, Qt::TextFormat format)
{
    if (format == Qt::PlainText || (format == Qt::AutoText && !Qt::mightBeRichText(text)))
        return text;
    QTextDocument document;
    document.setHtml(text);
    return document.toPlainText();
}

// Every place that shows the hostile text, and those where it did not arrive as written.
struct Walk {
    QStringList places;
    QStringList rendered;

    void check(const QString &where, const QString &text, Qt::TextFormat format)
    {
        const QString shown = seen(text, format);
        if (!text.contains(Hostile) && !shown.contains(Hostile))
            return;
        places << where;
        if (!shown.contains(Hostile))
            rendered << where + QStringLiteral(": ") + shown;
    }

    // Labels, tool tips of widgets and actions, and the tips of the rows an item view shows.
    void window(QWidget *top)
    {
        QList<QWidget *> widgets = top->findChildren<QWidget *>();
        widgets.prepend(top);
        for (QWidget *w : widgets) {
            const QString name = top->objectName() + '/' + w->objectName();
            check(name + QStringLiteral(" tip"), w->toolTip(), Qt::AutoText);
            if (auto *label = qobject_cast<QLabel *>(w))
                check(name, label->text(), label->textFormat());
            // A header shows its view's model too: the cells are walked once, through the view.
            if (auto *view = qobject_cast<QAbstractItemView *>(w);
                view && view->model() && !qobject_cast<QHeaderView *>(w)) {
                const QAbstractItemModel *m = view->model();
                for (int row = 0; row < std::min(m->rowCount(), 50); ++row)
                    for (int column = 0; column < m->columnCount(); ++column)
                        check(name + QStringLiteral(" cell tip"),
                              m->index(row, column).data(Qt::ToolTipRole).toString(),
                              Qt::AutoText);
            }
        }
        for (QAction *a : top->findChildren<QAction *>())
            check(top->objectName() + '/' + a->text() + QStringLiteral(" tip"), a->toolTip(),
                  Qt::AutoText);
    }
};

// Runs `act`, which opens a real message box; the box is checked as the user would see it and
// closed. Returns how many boxes were seen.
int checkBoxes(Walk &walk, const std::function<void()> &act)
{
    int boxes = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        ++boxes;
        walk.check(QStringLiteral("message box"), box->text(), box->textFormat());
        box->done(QMessageBox::Ok);
    });
    poll.start(10);
    act();
    return boxes;
}

} // namespace

class TestPlainText : public QObject
{
    Q_OBJECT

    QTemporaryDir dir_;
    QString folder_; // a folder whose name is the hostile text

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        folder_ = dir_.filePath(Hostile);
        QVERIFY(QDir().mkpath(folder_));
        pointSettingsAt(dir_.filePath(QStringLiteral("settings")));
        pointKeptDataAt(dir_.filePath(QStringLiteral("data")));
        qputenv("QVOKSB_PORT_DIR", QFile::encodeName(dir_.filePath(QStringLiteral("ports"))));
        QVERIFY(QDir().mkpath(dir_.filePath(QStringLiteral("ports"))));
    }

    // The main window with a file of that name opened, and a port whose link leads to a device
    // of that name: the status line and the port menu's hints.
    void mainWindow()
    {
        const QString file = folder_ + QStringLiteral("/") + Hostile + QStringLiteral(".txt");
        QVERIFY(qvoksb::writeConfigFile(QFile::encodeName(file).toStdString(),
                                        qvoksb::SettingsSet()));
        QVERIFY(QFile::link(folder_ + QStringLiteral("/ttyUSB0"),
                            dir_.filePath(QStringLiteral("ports/COM2"))));
        TFKsb::StartupArguments = {file};
        MessageBoxes boxes;
        TFKsb w;
        TFKsb::StartupArguments.clear();
        QCOMPARE(boxes.shown.size(), 0);
        Walk walk;
        walk.window(&w);
        QVERIFY2(walk.rendered.isEmpty(), qPrintable(walk.rendered.join('\n')));
        // StaticText1, the hint of "COM 2"
        QVERIFY2(walk.places.size() == 2, qPrintable(walk.places.join('\n')));
    }

    // Message boxes, the journal's rows and summary, the port chooser's and the exchange log's
    // errors about paths.
    void otherWindows()
    {
        Walk walk;
        QCOMPARE(checkBoxes(walk, [] { Messages::Error(nullptr, Hostile); }), 1);

        const QString journalFile = folder_ + QStringLiteral("/journal.jsonl");
        journal::Record r;
        r.time = "2026-12-08T14:05:09+03:00";
        r.kind = "write";
        r.message = Hostile.toStdString();
        r.source = "файл " + QFile::encodeName(folder_).toStdString() + "/x.txt";
        const std::string file = QFile::encodeName(journalFile).toStdString();
        QVERIFY(journal::append(file, r));
        QFile damaged(journalFile);
        QVERIFY(damaged.open(QIODevice::Append));
        damaged.write(Hostile.toUtf8() + "\n");
        damaged.close();
        JournalWindow list(journalFile);
        QCOMPARE(list.Model.rowCount(), 2);
        walk.window(&list);

        PortChooser chooser(1, nullptr, [] { return QList<PortListing>(); });
        chooser.Path->setText(folder_ + QStringLiteral("/ttyUSB0"));
        QCOMPARE(checkBoxes(walk, [&] { chooser.accept(); }), 1);

        TrafficLogWindow log;
        FileDialog::executeHook = [&](FileDialog &d) {
            d.FileName = folder_ + QStringLiteral("/no such folder/log.txt");
            return true;
        };
        QCOMPARE(checkBoxes(walk, [&] { log.SaveButton->click(); }), 1);
        FileDialog::executeHook = nullptr;

        QVERIFY2(walk.rendered.isEmpty(), qPrintable(walk.rendered.join('\n')));
        // The box; the journal's message tip, source tip, damaged line's tip and summary; the
        // chooser's box; the log's box.
        QVERIFY2(walk.places.size() == 7, qPrintable(walk.places.join('\n')));
    }
};

QTEST_MAIN(TestPlainText)
#include "tst_plain_text.moc"
