// The window "Характеристики срабатывания" on top of the main window: opened from "Сервис", one
// instance, following the settings as the user changes them, the sheet on the clipboard.
#include "CharacteristicsPlot.h"
#include "CharacteristicsSettings.h"
#include "CharacteristicsWindow.h"
#include "Main.h"

#include "testsupport.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QTabBar>
#include <QTableWidget>
#include <QTest>

#include <algorithm>
#include <memory>

namespace
{

void userPick(TFKsb &w, QComboBox *list, int index)
{
    for (int i = 0; i < w.PageControl1->count(); ++i)
        if (w.PageControl1->page(i)->isAncestorOf(list))
            w.PageControl1->setCurrentIndex(i);
    QVERIFY(list->isEnabled());
    while (list->currentIndex() < index)
        QTest::keyClick(list, Qt::Key_Down);
    while (list->currentIndex() > index)
        QTest::keyClick(list, Qt::Key_Up);
}

QString cell(const CharacteristicsWindow &c, int row, int column)
{
    const QTableWidgetItem *item = c.SheetTable->item(row, column);
    return item ? item->text() : QString();
}

// The row of the sheet at a multiple of the pick-up ("2,00"); -1 when there is none.
int rowOf(const CharacteristicsWindow &c, const QString &multiple)
{
    for (int r = 0; r < c.SheetTable->rowCount(); ++r)
        if (cell(c, r, 0) == multiple)
            return r;
    return -1;
}

// The stage column of the sheet, top to bottom.
QStringList stages(const CharacteristicsWindow &c)
{
    QStringList list;
    for (int r = 0; r < c.SheetTable->rowCount(); ++r)
        list << cell(c, r, 4);
    return list;
}

} // namespace

class TestCharacteristicsWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<ShownMainWindow> w_;

    CharacteristicsWindow *open()
    {
        QAction *command = nullptr;
        for (QAction *a : w_->ServiceMenu->actions())
            if (a->text() == QStringLiteral("Характеристики срабатывания"))
                command = a;
        if (!command)
            return nullptr;
        command->trigger();
        // A closed window waits hidden for its deletion.
        for (auto *c : w_->findChildren<CharacteristicsWindow *>())
            if (c->isVisible())
                return c;
        return nullptr;
    }

private slots:
    void init()
    {
        w_ = std::make_unique<ShownMainWindow>();
        QVERIFY(QTest::qWaitForWindowExposed(w_.get()));
    }

    void cleanup() { w_.reset(); }

    void opensOnceFromTheServiceMenuAndStaysNonModal()
    {
        QVERIFY(w_->ServiceMenu->menuAction()->isVisible());
        CharacteristicsWindow *c = open();
        QVERIFY(c);
        QVERIFY(c->isVisible());
        QVERIFY(!c->isModal());
        QCOMPARE(c->windowTitle(), QStringLiteral("Характеристики срабатывания"));
        QCOMPARE(c->ProtectionTabs->tabText(0), QStringLiteral("Фазы"));
        QCOMPARE(c->ProtectionTabs->tabText(1), QStringLiteral("Земля"));
        QCOMPARE(open(), c);
        QCOMPARE(w_->findChildren<CharacteristicsWindow *>().size(), 1);
        // Closed, it goes, and the command opens it anew.
        QPointer<CharacteristicsWindow> closed(c);
        c->close();
        QTRY_VERIFY(!closed);
        QVERIFY(open());
    }

    // Any setting that changes a curve or a sheet is one the window follows: one missing from the
    // list would leave the window showing the curves of before.
    void followsEverySettingTheCurvesDependOn()
    {
        namespace ch = qvoksb::characteristics;
        const std::vector<qvoksb::Setting> followed = characteristicsInputs();
        const auto drawn = [](const qvoksb::SettingsSet &set) {
            const ch::Settings s = ch::settingsFrom(set);
            std::string all;
            for (ch::Protection p : {ch::Protection::Phases, ch::Protection::Earth})
                all += ch::plotData(s, p).baseText + ch::sheetText(ch::testSheet(s, p, 5));
            return all;
        };
        qvoksb::SettingsSet everyStage; // every relay set drives output 1
        for (const qvoksb::RelaySet &rs : qvoksb::RelaySets)
            everyStage.setValue(rs.boxes[1], 1);
        int moving = 0;
        for (const qvoksb::SettingsSet &base : {qvoksb::SettingsSet(), everyStage})
            for (const qvoksb::SettingRow &r : qvoksb::settingsCatalogue()) {
                if (r.kind == qvoksb::Kind::Text)
                    continue;
                qvoksb::SettingsSet moved = base;
                moved.setValue(r.id, base.value(r.id) == r.max ? r.min : r.max);
                if (drawn(moved) == drawn(base))
                    continue;
                ++moving;
                QVERIFY2(std::find(followed.begin(), followed.end(), r.id) != followed.end(),
                         r.control);
            }
        QVERIFY(moving > 0);
    }

    void followsThePhaseSettingsAtOnce()
    {
        CharacteristicsWindow *c = open();
        QVERIFY(c);
        // The curve table runs in the order of the page's list.
        for (int i = 0; i < w_->ComboBox3->count(); ++i)
            QCOMPARE(QString::fromUtf8(qvoksb::characteristics::curveTable.at(std::size_t(i)).item),
                     w_->ComboBox3->itemText(i));
        // Start: ANSI moderately inverse from 4 % of 100 A; at 2 × (8 A) the curve gives
        // 0.1735 + 0.6791/1.2 − 0.08/1.44 + 0.1271/1.728 = 0.757 s.
        QCOMPARE(cell(*c, rowOf(*c, QStringLiteral("2,00")), 1), QStringLiteral("8,00"));
        QCOMPARE(cell(*c, rowOf(*c, QStringLiteral("2,00")), 3), QStringLiteral("0,757"));

        // IEC standard inverse: 10.03 s at 2 ×.
        userPick(*w_, w_->ComboBox3, 10);
        QCOMPARE(cell(*c, rowOf(*c, QStringLiteral("2,00")), 3), QStringLiteral("10,0"));
        QVERIFY(QString::fromStdString(c->Plot->data().stages.at(0).legend).contains("IEC-A"));
        // CT of 200 A: the same row at 16 A primary, 0.4 A secondary of a 5 A CT, 0.08 A of 1 A.
        w_->RxSpinEdit2->setValue(200);
        QCOMPARE(cell(*c, rowOf(*c, QStringLiteral("2,00")), 1), QStringLiteral("16,0"));
        QCOMPARE(cell(*c, rowOf(*c, QStringLiteral("2,00")), 2), QStringLiteral("0,400"));
        c->SecondaryList->setCurrentIndex(1);
        QCOMPARE(cell(*c, rowOf(*c, QStringLiteral("2,00")), 2), QStringLiteral("0,0800"));

        // The time stage drives nothing: not drawn, and the sheet says so.
        const QString unused = QStringLiteral("Времязависимая ступень: не используется");
        w_->CheckBox12->setChecked(false);
        QVERIFY(stages(*c).contains(unused));
        for (const auto &curve : c->Plot->data().stages)
            QVERIFY(curve.stage != qvoksb::characteristics::Stage::TimeDependent);
        // "ВЫХ.3" alone counts only while output 3 is free of the self-diagnosis.
        w_->CheckBox15->setChecked(true);
        QVERIFY(stages(*c).contains(unused));
        userPick(*w_, w_->ComboBox2, 1);
        QVERIFY(!stages(*c).contains(unused));
        userPick(*w_, w_->ComboBox2, 0);
        QVERIFY(stages(*c).contains(unused));
    }

    // The CT secondary is chosen once per tab and kept: the phases at 1 A stay so in a window
    // opened anew; earth starts with the primary current alone.
    void theCtSecondaryIsKeptPerTab()
    {
        CharacteristicsWindow *c = open();
        QVERIFY(c);
        const QString fiveAmps = cell(*c, rowOf(*c, QStringLiteral("2,00")), 2);
        c->SecondaryList->setCurrentIndex(c->SecondaryList->findData(1));
        const QString oneAmp = cell(*c, rowOf(*c, QStringLiteral("2,00")), 2);
        QCOMPARE(QString(oneAmp).replace(u',', u'.').toDouble() * 5,
                 QString(fiveAmps).replace(u',', u'.').toDouble());
        c->ProtectionTabs->setCurrentIndex(1);
        QCOMPARE(c->SecondaryList->currentText(), QStringLiteral("только первичный"));
        QCOMPARE(cell(*c, rowOf(*c, QStringLiteral("1,50")), 2), QString());
        QVERIFY(c->SheetReference->text().contains(QStringLiteral("только первичный ток")));

        QPointer<CharacteristicsWindow> closed(c);
        c->close();
        QTRY_VERIFY(!closed);
        c = open();
        QVERIFY(c);
        QCOMPARE(c->SecondaryList->currentData().toInt(), 1);
        QCOMPARE(cell(*c, rowOf(*c, QStringLiteral("2,00")), 2), oneAmp);
        QCOMPARE(storedSecondaryA(qvoksb::characteristics::Protection::Phases), 1);
    }

    void earthStagesUseTheBaseOfTheMethod()
    {
        CharacteristicsWindow *c = open();
        QVERIFY(c);
        c->ProtectionTabs->setCurrentIndex(1);
        // 12 % of the zero-sequence CT's 100 A; then of 50 A; with "УТЕЧКА" of the phase CTs.
        QCOMPARE(cell(*c, rowOf(*c, QStringLiteral("1,50")), 1), QStringLiteral("18,0"));
        w_->RxSpinEdit3->setValue(50);
        QCOMPARE(cell(*c, rowOf(*c, QStringLiteral("1,50")), 1), QStringLiteral("9,00"));
        QVERIFY(QString::fromStdString(c->Plot->data().baseText).contains("ТНП 50"));
        userPick(*w_, w_->ComboBox1, 0);
        QCOMPARE(cell(*c, rowOf(*c, QStringLiteral("1,50")), 1), QStringLiteral("18,0"));
        QVERIFY(QString::fromStdString(c->Plot->data().baseText).contains("ТТ фаз 100"));
    }

    void copiesTheSheetAsTabSeparatedText()
    {
        CharacteristicsWindow *c = open();
        QVERIFY(c);
        QApplication::clipboard()->clear();
        QTest::mouseClick(c->CopyButton, Qt::LeftButton);
        const QStringList lines =
            QApplication::clipboard()->text().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        // The header, a line per row, then the tolerance and the curve's formula.
        QCOMPARE(lines.size(), c->SheetTable->rowCount() + 3);
        QCOMPARE(lines.at(0), QStringLiteral("Кратность\tПервичный ток, А\tВторичный ток, А\t"
                                             "Время, с\tСтупень\tДопуск, с\tИзмерено, с\tГоден"));
        QStringList second;
        for (int column = 0; column < 8; ++column)
            second << cell(*c, 1, column);
        QCOMPARE(lines.at(2).split(QLatin1Char('\t')), second);
        QVERIFY(lines.at(lines.size() - 2).startsWith(QStringLiteral("Допуск по времени: ±5 %")));
        QVERIFY(lines.last().startsWith(QStringLiteral("ANSI слабая зависимость: t = M · (A + B")));
    }

    // The tolerance set in the window gives the allowed range of each time.
    void theToleranceGivesTheAllowedRange()
    {
        CharacteristicsWindow *c = open();
        QVERIFY(c);
        const int row = rowOf(*c, QStringLiteral("2,00"));
        QCOMPARE(cell(*c, row, 3), QStringLiteral("0,757"));
        // 0.75741 s (0.1735 + 0.6791/1.2 − 0.08/1.44 + 0.1271/1.728), ±5 %
        QCOMPARE(cell(*c, row, 5), QStringLiteral("0,720–0,795"));
        c->TolerancePercent->setValue(1);
        QCOMPARE(cell(*c, row, 5), QStringLiteral("0,727–0,787")); // ±30 ms, more than 1 %
        QVERIFY(c->SheetReference->text().contains(
            QStringLiteral("±1 % от расчётного, не менее ±30 мс")));
        // Below each pick-up a row where the stage must not operate.
        const int below = rowOf(*c, QStringLiteral("0,950"));
        QVERIFY(below >= 0);
        QCOMPARE(cell(*c, below, 4), QStringLiteral("Времязависимая ступень: не должна сработать"));
        QCOMPARE(cell(*c, below + 1, 0), QStringLiteral("1,05"));
        QCOMPARE(storedTolerance().percent, 1.0);
    }

    // At the window's smallest size, in a 420×340 plot and at a report page's size, no text
    // of the plot leaves its rectangle or overlaps another: with the factory settings, an alarm
    // that is the longest time, a 5000 A CT (currents up to five digits) and the earth stages.
    void plotTextNeitherLeavesNorCollides()
    {
        namespace ch = qvoksb::characteristics;
        CharacteristicsWindow *c = open();
        QVERIFY(c);
        c->resize(772, 440);
        QVERIFY(QTest::qWaitForWindowExposed(c));
        QApplication::processEvents();
        const QSizeF smallest = c->Plot->size();
        ch::Settings factory = ch::settingsFrom(qvoksb::SettingsSet());
        ch::Settings alarm = factory;
        alarm.phases.alarm = {true, 3, 60000};
        ch::Settings large = factory;
        large.phaseCtPrimaryA = 5000;
        const std::pair<ch::Settings, ch::Protection> cases[] = {{factory, ch::Protection::Phases},
                                                                 {alarm, ch::Protection::Phases},
                                                                 {large, ch::Protection::Phases},
                                                                 {factory, ch::Protection::Earth}};
        for (const QSizeF size : {smallest, QSizeF(420, 340), QSizeF(2100, 1480)})
            for (int k = 0; k < 4; ++k) {
                const auto &[settings, protection] = cases[k];
                QImage image(size.toSize(), QImage::Format_RGB32);
                QPainter painter(&image);
                std::vector<QRectF> boxes;
                const QRectF rect(QPointF(0, 0), size);
                paintCharacteristics(painter, rect, ch::plotData(settings, protection), {}, &boxes);
                QVERIFY(boxes.size() > 10);
                const QString where =
                    QStringLiteral("%1×%2, case %3").arg(size.width()).arg(size.height()).arg(k);
                for (std::size_t i = 0; i < boxes.size(); ++i) {
                    QVERIFY2(rect.adjusted(-0.5, -0.5, 0.5, 0.5).contains(boxes[i]),
                             qPrintable(where + QStringLiteral(": box %1 outside").arg(i)));
                    for (std::size_t j = i + 1; j < boxes.size(); ++j) {
                        const QRectF both = boxes[i].intersected(boxes[j]);
                        QVERIFY2(
                            both.width() < 0.5 || both.height() < 0.5,
                            qPrintable(where + QStringLiteral(
                                                   ": boxes %1 and %2 (%3,%4 %5x%6 / %7,%8 %9x%10)")
                                                   .arg(i)
                                                   .arg(j)
                                                   .arg(boxes[i].x())
                                                   .arg(boxes[i].y())
                                                   .arg(boxes[i].width())
                                                   .arg(boxes[i].height())
                                                   .arg(boxes[j].x())
                                                   .arg(boxes[j].y())
                                                   .arg(boxes[j].width())
                                                   .arg(boxes[j].height())));
                    }
                }
            }
    }

    void pointerReadsOutCurrentMultipleAndTime()
    {
        CharacteristicsWindow *c = open();
        QVERIFY(c);
        QVERIFY(QTest::qWaitForWindowExposed(c));
        const QPointF centre = QRectF(c->Plot->rect()).center();
        QMouseEvent move(QEvent::MouseMove, centre, c->Plot->mapToGlobal(centre), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(c->Plot, &move);
        QVERIFY(c->Readout->text().startsWith(QStringLiteral("I = ")));
        QVERIFY(c->Readout->text().contains(QStringLiteral("× Iср")));
        QVERIFY(c->Readout->text().contains(QStringLiteral(" с (")));
    }
};

QTEST_MAIN(TestCharacteristicsWindow)
#include "tst_characteristics_window.moc"
