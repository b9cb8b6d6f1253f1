// The window "Блоки на линии" against three simulated units on one line, at 01, 05 and 2A: what
// a scan finds, what the batches leave in the files, in the units' registers and in the journal
// of work, how an abort and a unit that goes away mid-batch end, and the checks that send
// nothing.
#include "BoardReport.h"
#include "BoardWindow.h"
#include "ReportForm.h"
#include "gateway.h"
#include "simulated_unit.h"
#include "testsupport.h"

#include "core/records/config_file.h"
#include "core/records/journal.h"
#include "core/settings/settings_diff.h"
#include "WorkJournal.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <memory>

using ksb7sim::SimulatedUnit;
using qvoksb::Setting;

namespace
{

constexpr int Port = 3;
constexpr int Addresses[] = {0x01, 0x05, 0x2A};

QByteArray slurp(const std::string &path)
{
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}

} // namespace

class TestBoard : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> home_;
    std::vector<std::unique_ptr<SimulatedUnit>> units_;
    std::unique_ptr<MainWindowUnderTest> main_;
    std::unique_ptr<MessageBoxes> boxes_;
    QPointer<BoardWindow> board_;

    SimulatedUnit &unit(size_t i) { return *units_[i]; }
    QString issued() const { return home_->filePath(QStringLiteral("issued")); }
    QString fileOf(int address) const
    {
        return QDir(issued()).filePath(
            QString::number(address, 16).rightJustified(2, QLatin1Char('0')).toUpper() +
            QStringLiteral(".txt"));
    }

    // Runs a batch by its button and waits for its end.
    void run(QPushButton *button)
    {
        QSignalSpy done(board_.data(), &BoardWindow::batchFinished);
        button->click();
        if (board_->running() != BoardWindow::Action::None)
            QVERIFY(done.wait(120000));
    }
    void selectAll() { board_->Table->selectAll(); }
    QString cell(int row, int column) const { return board_->Table->item(row, column)->text(); }
    QStringList column(int c) const
    {
        QStringList out;
        for (int r = 0; r < board_->Table->rowCount(); ++r)
            out << cell(r, c);
        return out;
    }
    size_t framesReceived() const
    {
        size_t n = 0;
        for (const auto &u : units_)
            n += u->receivedFrames().size();
        return n;
    }
    void scanAndUseIssuedFolder()
    {
        board_->AddressEdit->setText(QStringLiteral("1-30"));
        run(board_->ScanButton);
        QCOMPARE(column(BoardWindow::AddressColumn),
                 QStringList({QStringLiteral("01"), QStringLiteral("05"), QStringLiteral("2A")}));
        board_->FolderEdit->setText(issued());
        board_->PatternEdit->setText(QStringLiteral("%a.txt"));
        selectAll();
    }
    // The settings of the file the board keeps for the unit at row `row`.
    qvoksb::SettingsSet fileSet(int address) const
    {
        const auto reading = qvoksb::readConfigFile(fileOf(address).toStdString());
        return reading.set;
    }

private slots:
    void init()
    {
        home_ = std::make_unique<QTemporaryDir>();
        pointSettingsAt(home_->path());
        pointKeptDataAt(home_->filePath(QStringLiteral("data")));
        qputenv("QVOKSB_PORT_DIR", QFile::encodeName(home_->filePath(QStringLiteral("ports"))));
        QDir().mkpath(home_->filePath(QStringLiteral("ports")));
        QDir().mkpath(issued());
        for (int a : Addresses) {
            units_.push_back(std::make_unique<SimulatedUnit>());
            std::string error;
            const bool ok = units_.size() == 1 ? units_[0]->start(Port, a, &error)
                                               : units_.back()->startOnLine(*units_[0], a, &error);
            QVERIFY2(ok, error.c_str());
        }
        boxes_ = std::make_unique<MessageBoxes>();
        main_ = std::make_unique<MainWindowUnderTest>();
        main_->FComPort = Port;
        main_->findChild<QAction *>(QStringLiteral("BoardCommand"))->trigger();
        board_ = main_->findChild<BoardWindow *>();
        QVERIFY(board_);
    }
    void cleanup()
    {
        main_.reset();
        boxes_.reset();
        units_.clear();
        home_.reset();
    }

    // A scan finds exactly the three units, with their state and last trip; read-all gives the
    // files a single read of each unit in the main window gives; compare-all finds the one
    // changed setting on the one changed unit; write-all with verification leaves every unit
    // holding its file; each unit's exchange is one record in the journal.
    void readCompareAndWriteTheBoard()
    {
        unit(2).setReg(517, 0x1); // ВЫКЛ. on at 2A
        scanAndUseIssuedFolder();
        QCOMPARE(cell(2, BoardWindow::StateColumn), QStringLiteral("выходы: ВЫКЛ.; входы: —"));
        QVERIFY(!cell(0, BoardWindow::TripColumn).isEmpty());
        if (const QByteArray dir = qgetenv("QVOKSB_SHOT_DIR"); !dir.isEmpty())
            board_->grab().save(QString::fromLocal8Bit(dir) + QStringLiteral("/board-scan.png"));

        run(board_->ReadButton);
        QCOMPARE(column(BoardWindow::OutcomeColumn), QStringList(3, QStringLiteral("прочитан в файл")));
        for (int i = 0; i < 3; ++i) {
            main_->RxSpinEdit26->setValue(Addresses[i]);
            main_->SIReadClick();
            const std::string single = home_->filePath(QStringLiteral("single.txt")).toStdString();
            QVERIFY(qvoksb::writeConfigFile(single, main_->currentSettings()));
            QCOMPARE(slurp(single), slurp(fileOf(Addresses[i]).toStdString()));
            QCOMPARE(cell(i, BoardWindow::DigestColumn),
                     QString::fromStdString(
                         qvoksb::journal::configurationDigest(main_->currentSettings())));
        }

        const uint16_t original = unit(1).reg(258);
        unit(1).setReg(258, original == 200 ? 300 : 200);
        run(board_->CompareButton);
        QCOMPARE(column(BoardWindow::CompareColumn),
                 QStringList({QStringLiteral("совпадает"), QStringLiteral("отличается (1)"),
                              QStringLiteral("совпадает")}));

        // 2A gets a file of its own with another value; 05 gets its file back.
        qvoksb::SettingsSet changed = fileSet(0x2A);
        changed.setValue(Setting::RxSpinEdit2, 400);
        const QString own = home_->filePath(QStringLiteral("own 2A.txt"));
        QVERIFY(qvoksb::writeConfigFile(own.toStdString(), changed));
        board_->Table->selectRow(2);
        FileDialog::executeHook = [&](FileDialog &d) {
            d.FileName = own;
            return true;
        };
        board_->PickButton->click();
        FileDialog::executeHook = nullptr;
        QCOMPARE(cell(2, BoardWindow::FileColumn), QDir::toNativeSeparators(own));
        selectAll();
        boxes_->clear();
        run(board_->WriteButton);
        QCOMPARE(boxes_->shown.size(), 1); // the one question, naming every unit and file
        QVERIFY(boxes_->shown[0].second.contains(QStringLiteral("адрес 05 ← ") + fileOf(5)));
        QVERIFY(boxes_->shown[0].second.contains(QStringLiteral("адрес 2A ← ") + own));
        QCOMPARE(column(BoardWindow::OutcomeColumn),
                 QStringList(3, QStringLiteral("записан, проверен")));
        QCOMPARE(unit(1).reg(258), original);
        QCOMPARE(unit(2).reg(258), uint16_t(400));
        QCOMPARE(unit(0).reg(258), original);

        waitForJournal();
        const auto journal = qvoksb::journal::read(qvoksb::journal::journalPath());
        QStringList kinds;
        for (const auto &r : journal.records)
            kinds << QString::fromStdString(r.kind + " " + std::to_string(r.address));
        // Three reads of the board, three single reads, three compares, three writes.
        QCOMPARE(kinds.size(), 12);
        QCOMPARE(kinds.mid(9), QStringList({QStringLiteral("write 1"), QStringLiteral("write 5"),
                                            QStringLiteral("write 42")}));
        QCOMPARE(journal.records[7].differences, 1); // the compare of 05

        // The board's record: its table and CSV carry each unit's feeder, file, digest and
        // result; a file in the folder stands by its name.
        board_->Table->selectRow(0);
        QTimer::singleShot(0, this, [] {
            auto *form = qobject_cast<ReportForm *>(QApplication::activeModalWidget());
            QVERIFY(form);
            form->ObjectEdit->setText(QStringLiteral("ПС 110 кВ Северная"));
            form->FeederEdit->setText(QStringLiteral("Ф-12 Насосная"));
            form->accept();
        });
        board_->FeederButton->click();
        const auto rows = board_->reportRows();
        QCOMPARE(rows.size(), size_t(3));
        QCOMPARE(rows[0].labels.feeder, std::string("Ф-12 Насосная"));
        QCOMPARE(rows[0].file, std::string("01.txt"));
        QCOMPARE(rows[2].file, QDir::toNativeSeparators(own).toStdString());
        QCOMPARE(rows[2].result, std::string("совпадает"));
        const std::string csv = qvoksb::board::csvText(rows);
        QVERIFY(csv.find("\"2A\"") != std::string::npos);
        QVERIFY(csv.find(rows[1].digest) != std::string::npos);

        // "Отчёт по щиту ...": the preview saves the same record as CSV and as PDF.
        const QString csvPath = home_->filePath(QStringLiteral("board.csv"));
        const QString pdfPath = home_->filePath(QStringLiteral("board.pdf"));
        QTimer::singleShot(0, this, [&] {
            QWidget *preview = QApplication::activeModalWidget();
            QVERIFY(preview);
            for (const auto &[name, path] : {std::pair{"SaveCsv", csvPath}, {"SavePdf", pdfPath}}) {
                FileDialog::executeHook = [path = path](FileDialog &d) {
                    d.FileName = path;
                    return true;
                };
                preview->findChild<QAction *>(QLatin1String(name))->trigger();
            }
            FileDialog::executeHook = nullptr;
            preview->close();
        });
        board_->ReportButton->click();
        QCOMPARE(slurp(csvPath.toStdString()), QByteArray::fromStdString(csv));
        QVERIFY(slurp(pdfPath.toStdString()).startsWith("%PDF"));
        BoardReport report{rows, "COM3", issued().toStdString(), "09.12.2026 12:00"};
        const QByteArray pdf = boardReportPdf(report);
        if (const QByteArray dir = qgetenv("QVOKSB_SHOT_DIR"); !dir.isEmpty()) {
            QFile out(QString::fromLocal8Bit(dir) + QStringLiteral("/board-report.pdf"));
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(pdf);
            board_->grab().save(QString::fromLocal8Bit(dir) + QStringLiteral("/board.png"));
        }
    }

    // "Прервать" during the first unit's write: that unit is finished, the others keep what
    // they held and their rows say so. A unit that goes away mid-batch is marked and the
    // others complete.
    void abortAndAVanishingUnit()
    {
        scanAndUseIssuedFolder();
        run(board_->ReadButton);
        for (int a : Addresses) {
            qvoksb::SettingsSet set = fileSet(a);
            set.setValue(Setting::RxSpinEdit2, 400);
            QVERIFY(qvoksb::writeConfigFile(fileOf(a).toStdString(), set));
        }
        const uint16_t held = unit(1).reg(258);
        QVERIFY(held != 400);
        QTimer::singleShot(600, board_->AbortButton, &QPushButton::click);
        boxes_->clear();
        run(board_->WriteButton);
        QCOMPARE(column(BoardWindow::OutcomeColumn),
                 QStringList({QStringLiteral("записан, проверен"),
                              QStringLiteral("не выполнено: прервано"),
                              QStringLiteral("не выполнено: прервано")}));
        QCOMPARE(unit(0).reg(258), uint16_t(400));
        QCOMPARE(unit(1).reg(258), held);
        QCOMPARE(unit(2).reg(258), held);

        // 05 leaves the line once 01 is done.
        QSignalSpy done(board_.data(), &BoardWindow::batchFinished);
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            if (cell(0, BoardWindow::OutcomeColumn) != QStringLiteral("идёт обмен ...") &&
                cell(0, BoardWindow::OutcomeColumn) != QStringLiteral("ждёт") &&
                unit(1).running()) {
                unit(1).stop();
            }
        });
        poll.start(20);
        board_->CompareButton->click();
        QVERIFY(done.wait(120000));
        QCOMPARE(column(BoardWindow::CompareColumn),
                 QStringList({QStringLiteral("совпадает"), QStringLiteral("не прочитан"),
                              QStringLiteral("отличается (1)")}));
        QCOMPARE(cell(1, BoardWindow::OutcomeColumn), QStringLiteral("нет ответа"));
    }

    // A pattern without %a for several units, a folder that is not there, and an address where
    // two units answer together: a clear message, nothing sent, no file written.
    void badInputSendsNothing()
    {
        ksb7sim::Faults spoilt;
        spoilt.badCrcEvery = 1;
        unit(1).setFaults(spoilt); // its replies never decode, as two units' would not
        scanAndUseIssuedFolder();
        QCOMPARE(cell(1, BoardWindow::StateColumn).startsWith(QStringLiteral("ответ искажён")),
                 true);
        for (auto &u : units_)
            u->clearReceivedFrames();

        struct Case {
            QString folder, pattern;
            QList<int> rows;
            QString says;
        };
        const Case cases[] = {
            {issued(), QStringLiteral("feeder.txt"), {0, 2}, QStringLiteral("нет %a")},
            {home_->filePath(QStringLiteral("nowhere")), QStringLiteral("%a.txt"), {0, 2},
             QStringLiteral("Папки выданных файлов нет")},
            {issued(), QStringLiteral("%a.txt"), {0, 1, 2}, QStringLiteral("два блока")},
        };
        for (const Case &c : cases) {
            board_->FolderEdit->setText(c.folder);
            board_->PatternEdit->setText(c.pattern);
            board_->Table->clearSelection();
            for (int r : c.rows)
                board_->Table->selectionModel()->select(
                    board_->Table->model()->index(r, 0),
                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
            for (QPushButton *b : {board_->ReadButton, board_->WriteButton}) {
                boxes_->clear();
                run(b);
                QCOMPARE(boxes_->shown.size(), 1);
                QCOMPARE(boxes_->shown[0].first, Messages::Kind::Error);
                QVERIFY2(boxes_->shown[0].second.contains(c.says),
                         qPrintable(boxes_->shown[0].second));
            }
        }
        QCOMPARE(framesReceived(), size_t(0));
        QCOMPARE(QDir(issued()).entryList(QDir::Files).size(), 0);
    }

    // Through a Modbus TCP gateway in front of the line, as the main window has it chosen: the
    // scan finds the same three units and a compare runs, its records naming the gateway.
    void throughAGateway()
    {
        ksb7sim::TcpGateway gateway(ksb7sim::TcpGateway::Mode::ModbusTcp,
                                    [this] { return unit(0).devicePath(); });
        std::string error;
        QVERIFY2(gateway.start(0, &error), error.c_str());
        main_->FGateway = qvoksb::Gateway{"127.0.0.1", gateway.port(), qvoksb::GatewayMode::ModbusTcp};
        main_->showGatewayItem();
        main_->GatewayItemClick();
        QVERIFY(main_->gatewayChosen());
        // The gateway waits 1.5 s for the line before it gives a request up, and takes one at a
        // time: the scan must wait longer.
        board_->AddressEdit->setText(QStringLiteral("1-2,5,2A"));
        board_->TimeoutSpin->setValue(1700);
        run(board_->ScanButton);
        QCOMPARE(column(BoardWindow::AddressColumn),
                 QStringList({QStringLiteral("01"), QStringLiteral("05"), QStringLiteral("2A")}));
        board_->FolderEdit->setText(issued());
        board_->Table->selectRow(1);
        run(board_->ReadButton);
        QCOMPARE(cell(1, BoardWindow::OutcomeColumn), QStringLiteral("прочитан в файл"));
        waitForJournal();
        const auto journal = qvoksb::journal::read(qvoksb::journal::journalPath());
        QCOMPARE(journal.records.size(), size_t(1));
        QCOMPARE(journal.records[0].port, gateway.name());
    }

    // While a batch holds the line, the main window's read waits for it and then runs.
    void mainWindowWaitsForTheBatch()
    {
        scanAndUseIssuedFolder();
        QSignalSpy done(board_.data(), &BoardWindow::batchFinished);
        board_->ReadButton->click();
        QElapsedTimer clock;
        clock.start();
        qint64 batchEnded = -1;
        connect(board_.data(), &BoardWindow::batchFinished, this,
                [&] { batchEnded = clock.elapsed(); });
        main_->RxSpinEdit26->setValue(0x2A);
        main_->SIReadClick();
        QVERIFY(batchEnded >= 0);
        QVERIFY(clock.elapsed() > batchEnded + 2000); // the read came after the batch
        QCOMPARE(main_->Origin.kind, qvoksb::SettingsOrigin::Kind::Unit);
    }
};

QTEST_MAIN(TestBoard)
#include "tst_board.moc"
