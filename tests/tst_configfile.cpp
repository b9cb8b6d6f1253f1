// Configuration files: the bytes written, open and save round trips, the order and letter case of
// names, bad values, hostile files and the save's failure paths, on a real main window.
#include "Main.h"
#include "Messages.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <memory>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>

namespace
{

// Code page 1251 for the characters the tests use: ASCII, the Russian alphabet and Ё/ё.
QByteArray cp1251(const QString &text)
{
    QByteArray out;
    for (QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u < 0x80)
            out += char(u);
        else if (u >= 0x0410 && u <= 0x044F)
            out += char(0xC0 + (u - 0x0410));
        else if (u == 0x0401)
            out += char(0xA8);
        else if (u == 0x0451)
            out += char(0xB8);
        else
            qFatal("character outside the test's code page table");
    }
    return out;
}

// Upper/lower case of cp1251 letters, Cyrillic and Latin.
char lowerByte(char c)
{
    const auto b = static_cast<unsigned char>(c);
    if ((b >= 'A' && b <= 'Z') || (b >= 0xC0 && b <= 0xDF))
        return char(b + 0x20);
    return b == 0xA8 ? char(0xB8) : c;
}
char upperByte(char c)
{
    const auto b = static_cast<unsigned char>(c);
    if ((b >= 'a' && b <= 'z') || b >= 0xE0)
        return char(b - 0x20);
    return b == 0xB8 ? char(0xA8) : c;
}

// The file a fresh window saves, typed from the key table. The relay-mode keys of ВЫХ.1 to
// ВЫХ.3 carry the Latin X (written here as \x58 between string pieces), every other ВЫХ the
// Cyrillic Х; the mechanical-operation group starts with ВЫКЛ.
const char *const freshFile = "[КОНФИГУРАЦИЯ]\n"
                              "Частота сети=50\n"
                              "Ток первичной обмотки применяемого ТТ=100\n"
                              "Способ выявления ОЗЗ=1\n"
                              "Ток первичной обмотки применяемого ТНП=100\n"
                              "Режим самодиагностики=0\n"
                              "Блокировка выключателя. Задержка=150\n"
                              "Доп. контакт выключателя ВЫХ1=0\n"
                              "Доп. контакт выключателя ВЫХ2=0\n"
                              "Доп. контакт выключателя ВЫХ3=0\n"
                              "Доп. контакт выключателя. Задержка=1000\n"
                              "Механ.Срабатыв.ВЫКЛ=0\n"
                              "Механ.Срабатыв.ВЫХ1=0\n"
                              "Механ.Срабатыв.ВЫХ2=0\n"
                              "Механ.Срабатыв.ВЫХ3=0\n"
                              "Число механ.срабатываний=3000\n"
                              "Накопленный ток ВЫКЛ=0\n"
                              "Накопленный ток ВЫХ1=0\n"
                              "Накопленный ток ВЫХ2=0\n"
                              "Накопленный ток ВЫХ3=0\n"
                              "Величина накопленного тока=300\n"
                              "[УСТАВКИ МТЗ]\n"
                              "Времязависимая МТЗ в фазах ВЫКЛ=1\n"
                              "Времязависимая МТЗ в фазах ВЫХ1=0\n"
                              "Времязависимая МТЗ в фазах ВЫХ2=0\n"
                              "Времязависимая МТЗ в фазах ВЫХ3=0\n"
                              "Времязависимая МТЗ в фазах. Порог=4\n"
                              "Вид МТЗ в фазах=1\n"
                              "Времязависимая МТЗ в фазах. Задержка=1000\n"
                              "Вид МТЗ в фазах. Множитель=10\n"
                              "Токовая отсечка в фазах ВЫКЛ=1\n"
                              "Токовая отсечка в фазах ВЫХ1=0\n"
                              "Токовая отсечка в фазах ВЫХ2=0\n"
                              "Токовая отсечка в фазах ВЫХ3=0\n"
                              "Токовая отсечка в фазах. Порог=40\n"
                              "Токовая отсечка в фазах. Задержка=0\n"
                              "Тревога-ТП в фазах ВЫКЛ=0\n"
                              "Тревога-ТП в фазах ВЫХ1=0\n"
                              "Тревога-ТП в фазах ВЫХ2=0\n"
                              "Тревога-ТП в фазах ВЫХ3=0\n"
                              "Тревога-ТП в фазах. Порог=4\n"
                              "Тревога-ТП в фазах. Задержка=1000\n"
                              "[УСТАВКИ ОЗЗ]\n"
                              "Времязависимая МТЗ на землю ВЫКЛ=1\n"
                              "Времязависимая МТЗ на землю ВЫХ1=0\n"
                              "Времязависимая МТЗ на землю ВЫХ2=0\n"
                              "Времязависимая МТЗ на землю ВЫХ3=0\n"
                              "Времязависимая МТЗ на землю. Порог=12\n"
                              "Вид МТЗ на землю=1\n"
                              "Времязависимая МТЗ на землю. Задержка=1000\n"
                              "Вид МТЗ на землю. Множитель=10\n"
                              "Токовая отсечка на землю ВЫКЛ=1\n"
                              "Токовая отсечка на землю ВЫХ1=0\n"
                              "Токовая отсечка на землю ВЫХ2=0\n"
                              "Токовая отсечка на землю ВЫХ3=0\n"
                              "Токовая отсечка на землю. Порог=40\n"
                              "Токовая отсечка на землю. Задержка=0\n"
                              "Тревога-КЗ на землю ВЫКЛ=0\n"
                              "Тревога-КЗ на землю ВЫХ1=0\n"
                              "Тревога-КЗ на землю ВЫХ2=0\n"
                              "Тревога-КЗ на землю ВЫХ3=0\n"
                              "Тревога-КЗ на землю. Порог=12\n"
                              "Тревога-КЗ на землю. Задержка=1000\n"
                              "[ВЫХОДНЫЕ РЕЛЕ]\n"
                              "Режим работы реле ВЫКЛ=0\n"
                              "Длительность импульса реле ВЫКЛ=200\n"
                              "Режим работы реле ВЫ\x58"
                              "1=0\n"
                              "Длительность импульса реле ВЫХ1=200\n"
                              "Режим работы реле ВЫ\x58"
                              "2=0\n"
                              "Длительность импульса реле ВЫХ2=200\n"
                              "Режим работы реле ВЫ\x58"
                              "3=0\n"
                              "Длительность импульса реле ВЫХ3=200\n"
                              "[ВХОДЫ ЦИФРОВЫЕ]\n"
                              "Функция активации ВХОД1=0\n"
                              "Состояние контактов при активации ВХОД1=0\n"
                              "Функция активации ВХОД2=2\n"
                              "Состояние контактов при активации ВХОД2=0\n"
                              "Функция активации ВХОД3=1\n"
                              "Состояние контактов при активации ВХОД3=0\n"
                              "[ИНФОРМАЦИЯ О ПОСЛЕДНЕМ ОТКЛЮЧЕНИИ]\n"
                              "Причина отключения=\n"
                              "Дата и время=\n";

// The control of every row of the key table, in the file's order.
const QStringList &rowControls()
{
    static const QStringList controls = {
        "RxSpinEdit1",  "RxSpinEdit2",  "ComboBox1",    "RxSpinEdit3",  "ComboBox2",
        "RxSpinEdit4",  "CheckBox1",    "CheckBox2",    "CheckBox3",    "RxSpinEdit5",
        "CheckBox7",    "CheckBox4",    "CheckBox5",    "CheckBox6",    "RxSpinEdit6",
        "CheckBox8",    "CheckBox9",    "CheckBox10",   "CheckBox11",   "RxSpinEdit7",
        "CheckBox12",   "CheckBox13",   "CheckBox14",   "CheckBox15",   "RxSpinEdit8",
        "ComboBox3",    "RxSpinEdit9",  "RxSpinEdit10", "CheckBox16",   "CheckBox17",
        "CheckBox18",   "CheckBox19",   "RxSpinEdit11", "RxSpinEdit12", "CheckBox20",
        "CheckBox21",   "CheckBox22",   "CheckBox23",   "RxSpinEdit13", "RxSpinEdit14",
        "CheckBox24",   "CheckBox25",   "CheckBox26",   "CheckBox27",   "RxSpinEdit15",
        "ComboBox4",    "RxSpinEdit16", "RxSpinEdit17", "CheckBox28",   "CheckBox29",
        "CheckBox30",   "CheckBox31",   "RxSpinEdit18", "RxSpinEdit19", "CheckBox32",
        "CheckBox33",   "CheckBox34",   "CheckBox35",   "RxSpinEdit20", "RxSpinEdit21",
        "ComboBox5",    "RxSpinEdit22", "ComboBox6",    "RxSpinEdit23", "ComboBox7",
        "RxSpinEdit24", "ComboBox8",    "RxSpinEdit25", "ComboBox9",    "ComboBox10",
        "ComboBox11",   "ComboBox12",   "ComboBox13",   "ComboBox14",   "EEvent",
        "EDt"};
    return controls;
}

QByteArray withCrLf(QByteArray lf)
{
    return lf.replace("\n", "\r\n");
}

// The fresh file in cp1251 with CR LF, one entry replaced: key (UTF-8) gets value, or the whole
// line "key=..." is replaced by replacement when given.
QByteArray freshWith(const QString &key, const QString &value)
{
    QStringList lines = QString::fromUtf8(freshFile).split(u'\n');
    bool found = false;
    for (QString &line : lines) {
        if (line.startsWith(key + u'=')) {
            line = key + u'=' + value;
            found = true;
        }
    }
    if (!found)
        qFatal("no such key in the fresh file");
    return withCrLf(cp1251(lines.join(u'\n')));
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Every stored value of the window, readable in a failure report.
QStringList settings(const TFKsb &w)
{
    QStringList out;
    for (int n = 1; n <= 25; ++n)
        out << QStringLiteral("RxSpinEdit%1=%2").arg(n).arg(w.spinEdit(n)->value());
    for (int n = 1; n <= 35; ++n)
        out << QStringLiteral("CheckBox%1=%2").arg(n).arg(w.checkBox(n)->isChecked());
    for (int n = 1; n <= 14; ++n)
        out << QStringLiteral("ComboBox%1=%2").arg(n).arg(w.comboBox(n)->currentIndex());
    out << QStringLiteral("EEvent=") + w.EEvent->text() << QStringLiteral("EDt=") + w.EDt->text();
    return out;
}

QString randomText(QRandomGenerator &rng)
{
    // Letters of both alphabets, digits and punctuation, '=' and quotes inside; no blanks or
    // quotes at the ends (those are trimmed by any INI reader).
    static const QString alphabet =
        QStringLiteral("АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдеёжзийклмн"
                       "опрстуфхцчшщъыьэюяABCXYZxyz0123456789.:;=[]\"'");
    QString s;
    const int len = int(rng.bounded(40));
    for (int i = 0; i < len; ++i) {
        if (i > 0 && i + 1 < len && rng.bounded(6) == 0)
            s += u' ';
        else
            s += alphabet.at(int(rng.bounded(alphabet.size())));
    }
    if (!s.isEmpty() && (s.front() == u'"' || s.front() == u'\''))
        s.front() = u'Ж';
    if (!s.isEmpty() && (s.back() == u'"' || s.back() == u'\''))
        s.back() = u'ж';
    return s;
}

// Gives every stored setting a random valid value (lists may have no choice).
void randomise(TFKsb &w, QRandomGenerator &rng)
{
    for (int n = 1; n <= 25; ++n) {
        SpinEdit *s = w.spinEdit(n);
        s->setValueFromProgram(
            static_cast<long long>(s->minimum() + rng.bounded(s->maximum() - s->minimum() + 1)));
    }
    for (int n = 1; n <= 35; ++n)
        w.checkBox(n)->setChecked(rng.bounded(2) == 1);
    for (int n = 1; n <= 14; ++n)
        w.SetListIndex(w.comboBox(n), int(rng.bounded(w.comboBox(n)->count() + 1)) - 1);
    w.EEvent->setText(randomText(rng));
    w.EDt->setText(randomText(rng));
}

// A file's lines grouped by section: the header and its entry lines.
QList<QList<QByteArray>> sectionsOf(const QByteArray &file)
{
    QList<QList<QByteArray>> out;
    for (const QByteArray &line : file.split('\n')) {
        const QByteArray l = line.endsWith('\r') ? line.chopped(1) : line;
        if (l.isEmpty())
            continue;
        if (l.startsWith('['))
            out.append({l});
        else
            out.back().append(l);
    }
    return out;
}

// One row for each case a test sets up, named by the case; the test reads the name as "kind".
void addCases(std::initializer_list<const char *> cases)
{
    QTest::addColumn<QString>("kind");
    for (const char *c : cases)
        QTest::newRow(c) << QString::fromUtf8(c);
}

} // namespace

class TestConfigFile : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    MessageBoxes boxes_;
    QString reason_;            // the last line of the last open error
    QStringList dialogAnswers_; // the names the dialogs are given; an empty name cancels
    QList<QString> dialogTitles_;

    QString path(const QString &name) const { return dir_->filePath(name); }

    // Opens the file through the open dialog, as the user does.
    void open(TFKsb &w, const QString &file)
    {
        dialogAnswers_ = {file};
        w.SILoadClick();
    }
    void save(TFKsb &w, const QString &file)
    {
        dialogAnswers_ = {file};
        w.SISaveClick();
    }
    QPair<Messages::Kind, QString> only() const
    {
        return boxes_.shown.size() == 1
                   ? boxes_.shown.front()
                   : qMakePair(Messages::Kind::Plain,
                               QStringLiteral("%1 boxes").arg(boxes_.shown.size()));
    }
    // The open's error box without its last line, the reason, which goes to reason_.
    QPair<Messages::Kind, QString> openFailure()
    {
        QPair<Messages::Kind, QString> shown = only();
        const QString head = QStringLiteral("\r\nсодержит ошибки!\r\n");
        const qsizetype at = shown.second.indexOf(head);
        reason_ = at < 0 ? QString() : shown.second.mid(at + head.size());
        if (at >= 0)
            shown.second.truncate(at + head.size() - 2);
        return shown;
    }
    static QPair<Messages::Kind, QString> openError(const QString &shortName)
    {
        return {Messages::Kind::Error, QStringLiteral("Файл конфигурации:\r\n") + shortName +
                                           QStringLiteral("\r\nсодержит ошибки!")};
    }
    static QPair<Messages::Kind, QString> saveError()
    {
        return {Messages::Kind::Error, QStringLiteral("Внесенные изменения содержат ошибки и не "
                                                      "могут быть записаны в файл конфигурации!")};
    }

private slots:
    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        boxes_.clear();
        dialogTitles_.clear();
        FileDialog::executeHook = [this](FileDialog &d) {
            dialogTitles_ << d.Title;
            if (dialogAnswers_.isEmpty() || dialogAnswers_.front().isEmpty())
                return false;
            d.FileName = dialogAnswers_.takeFirst();
            return true;
        };
        TFKsb::StartupArguments.clear();
    }

    void cleanup()
    {
        FileDialog::executeHook = nullptr;
        TFKsb::StartupArguments.clear();
        // Leave nothing read-only behind for the temporary folder's removal.
        const QString base = dir_->path();
        QFile::setPermissions(base, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // ---- the bytes written -------------------------------------------------------------------

    void freshWindowWritesTheKeyTable()
    {
        TFKsb w;
        save(w, path("fresh.txt"));
        QCOMPARE(dialogTitles_, QStringList{QStringLiteral("Сохранение текущей конфигурации в "
                                                           "файл ...")});
        QCOMPARE(readAll(path("fresh.txt")), withCrLf(cp1251(QString::fromUtf8(freshFile))));
        QCOMPARE(only(), qMakePair(Messages::Kind::Information,
                                   QStringLiteral("Текущая конфигурация сохранена в файле:\r\n"
                                                  "fresh.txt")));
        QCOMPARE(w.StaticText1->text(), QStringLiteral("fresh.txt"));
    }

    void writtenValuesEncodeEachKind()
    {
        // Lists with no choice as -1, ticks as 1, texts as shown, the multiplier unscaled.
        TFKsb w;
        w.SetListIndex(w.ComboBox3, -1);
        w.CheckBox6->setChecked(true);
        w.RxSpinEdit10->setValueFromProgram(25LL);
        w.RxSpinEdit9->setValueFromProgram(600000LL);
        w.EEvent->setText(QStringLiteral("МТЗ в фазах"));
        w.EDt->setText(QStringLiteral("01.02.2024 10:11:12"));
        save(w, path("kinds.txt"));
        const QByteArray file = readAll(path("kinds.txt"));
        for (const char *line :
             {"Вид МТЗ в фазах=-1\r\n", "Механ.Срабатыв.ВЫХ3=1\r\n",
              "Вид МТЗ в фазах. Множитель=25\r\n",
              "Времязависимая МТЗ в фазах. Задержка=600000\r\n",
              "Причина отключения=МТЗ в фазах\r\n", "Дата и время=01.02.2024 10:11:12\r\n"})
            QVERIFY2(file.contains(cp1251(QString::fromUtf8(line))), line);
        QCOMPARE(file.count("\r\n"), 82);
        QCOMPARE(file.count('\n'), 82);
    }

    void everyControlHasItsOwnKey()
    {
        // Changing one control changes exactly the line of its own key.
        const QList<QByteArray> fresh = withCrLf(cp1251(QString::fromUtf8(freshFile))).split('\n');
        QList<int> rowLine; // line number of each row
        for (int i = 0; i < fresh.size(); ++i)
            if (!fresh.at(i).isEmpty() && !fresh.at(i).startsWith('['))
                rowLine << i;
        QCOMPARE(rowLine.size(), 76);
        for (int row = 1; row <= 76; ++row) {
            const QString control = rowControls().at(row - 1);
            if (control == QLatin1String("CheckBox16"))
                continue; // it cannot be cleared
            TFKsb w;
            const int n = control.mid(control.indexOf(QRegularExpression("\\d"))).toInt();
            if (control.startsWith(QLatin1String("RxSpinEdit"))) {
                SpinEdit *e = w.spinEdit(n);
                e->setValueFromProgram(static_cast<long long>(
                    e->value() == e->maximum() ? e->minimum() : e->maximum()));
            } else if (control.startsWith(QLatin1String("CheckBox"))) {
                w.checkBox(n)->setChecked(!w.checkBox(n)->isChecked());
            } else if (control.startsWith(QLatin1String("ComboBox"))) {
                w.SetListIndex(w.comboBox(n), -1);
            } else {
                (control == QLatin1String("EEvent") ? w.EEvent : w.EDt)->setText("x");
            }
            save(w, path("one.txt"));
            const QList<QByteArray> saved = readAll(path("one.txt")).split('\n');
            QCOMPARE(saved.size(), fresh.size());
            QList<int> changed;
            for (int i = 0; i < saved.size(); ++i)
                if (saved.at(i) != fresh.at(i))
                    changed << i;
            QVERIFY2(changed == QList<int>{rowLine.at(row - 1)}, qPrintable(control));
        }
    }

    // ---- round trips -------------------------------------------------------------------------

    void roundTripOfRandomSettings()
    {
        QRandomGenerator rng(20240611);
        for (int round = 0; round < 12; ++round) {
            TFKsb source;
            if (round > 0)
                randomise(source, rng);
            const QStringList saved = settings(source);
            const QString file = path(QStringLiteral("round%1.txt").arg(round));
            save(source, file);
            QCOMPARE(boxes_.shown.size(), 1);
            QCOMPARE(boxes_.shown.front().first, Messages::Kind::Information);
            boxes_.shown.clear();

            TFKsb target;
            randomise(target, rng);
            open(target, file);
            QCOMPARE(boxes_.shown.size(), 0);
            QCOMPARE(settings(target), saved);
            QCOMPARE(target.StaticText1->text(), QFileInfo(file).fileName());
            // What was opened saves to the very same bytes.
            save(target, path("again.txt"));
            QCOMPARE(readAll(path("again.txt")), readAll(file));
            boxes_.shown.clear();
        }
    }

    void namesMatchInAnyLetterCaseAndOrder()
    {
        QRandomGenerator rng(7);
        TFKsb source;
        randomise(source, rng);
        save(source, path("base.txt"));
        const QByteArray base = readAll(path("base.txt"));
        boxes_.shown.clear();
        std::mt19937 shuffle(11);

        for (int variant = 0; variant < 3; ++variant) {
            QList<QList<QByteArray>> sections = sectionsOf(base);
            QByteArray out;
            // Unknown lines and sections, blank lines and comments are passed over.
            out += "; comment\r\n[Чужая секция]\r\nЧастота сети=55\r\n\r\n";
            std::shuffle(sections.begin(), sections.end(), shuffle);
            for (QList<QByteArray> &section : sections) {
                std::shuffle(section.begin() + 1, section.end(), shuffle);
                for (QByteArray line : section) {
                    const int eq = line.indexOf('=');
                    const int nameEnd = eq < 0 ? int(line.size()) : eq;
                    for (int i = 0; i < nameEnd; ++i) {
                        if (variant == 0)
                            line[i] = lowerByte(line[i]);
                        else if (variant == 1)
                            line[i] = upperByte(line[i]);
                        else if (i % 2)
                            line[i] = lowerByte(line[i]);
                    }
                    out += line + "\r\n";
                }
                out += "Неизвестный ключ=1\r\nстрока без знака равенства\r\n";
            }
            // The relay-mode keys keep their Latin X in every case (x is the same letter).
            QVERIFY(variant != 0 || out.contains(cp1251(QStringLiteral("режим работы реле выx1"))));
            QVERIFY(writeBytes(path("variant.txt"), out));
            TFKsb target;
            open(target, path("variant.txt"));
            QCOMPARE(boxes_.shown.size(), 0);
            QCOMPARE(settings(target), settings(source));
        }
    }

    // ---- values put into the controls ----------------------------------------------------------

    void outOfRangeValuesAreClamped_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("setting");
        QTest::newRow("above max") << "Частота сети"
                                   << "70"
                                   << "RxSpinEdit1=60";
        QTest::newRow("off step") << "Частота сети"
                                  << "55"
                                  << "RxSpinEdit1=55";
        QTest::newRow("below min") << "Ток первичной обмотки применяемого ТТ"
                                   << "-3"
                                   << "RxSpinEdit2=5";
        QTest::newRow("plus sign") << "Ток первичной обмотки применяемого ТТ"
                                   << "+4000"
                                   << "RxSpinEdit2=4000";
        QTest::newRow("20 digits") << "Времязависимая МТЗ в фазах. Задержка"
                                   << "99999999999999999999"
                                   << "RxSpinEdit9=600000";
        QTest::newRow("20 digits neg") << "Токовая отсечка в фазах. Задержка"
                                       << "-99999999999999999999"
                                       << "RxSpinEdit12=0";
        QTest::newRow("index too big") << "Вид МТЗ в фазах"
                                       << "13"
                                       << "ComboBox3=-1";
        QTest::newRow("index negative") << "Функция активации ВХОД2"
                                        << "-5"
                                        << "ComboBox11=-1";
        QTest::newRow("index beyond int") << "Вид МТЗ на землю"
                                          << "4294967296"
                                          << "ComboBox4=-1";
        QTest::newRow("flag 2") << "Накопленный ток ВЫХ1"
                                << "2"
                                << "CheckBox9=1";
        QTest::newRow("flag -1") << "Доп. контакт выключателя ВЫХ2"
                                 << "-1"
                                 << "CheckBox2=1";
        QTest::newRow("flag 0") << "Времязависимая МТЗ в фазах ВЫКЛ"
                                << "0"
                                << "CheckBox12=0";
        QTest::newRow("CheckBox16 stays") << "Токовая отсечка в фазах ВЫКЛ"
                                          << "0"
                                          << "CheckBox16=1";
        QTest::newRow("quoted text") << "Причина отключения"
                                     << "\"МТЗ\""
                                     << "EEvent=МТЗ";
    }

    void outOfRangeValuesAreClamped()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, setting);
        QVERIFY(writeBytes(path("one.txt"), freshWith(key, value)));
        TFKsb w;
        open(w, path("one.txt"));
        QCOMPARE(boxes_.shown.size(), 0);
        QVERIFY2(settings(w).contains(setting), qPrintable(settings(w).join(u' ')));
        QCOMPARE(w.StaticText1->text(), QStringLiteral("one.txt"));
    }

    void listWithNoChoiceSavesMinusOne()
    {
        QVERIFY(writeBytes(path("thirteen.txt"),
                           freshWith(QStringLiteral("Вид МТЗ в фазах"), QStringLiteral("13"))));
        TFKsb w;
        open(w, path("thirteen.txt"));
        save(w, path("saved.txt"));
        QCOMPARE(readAll(path("saved.txt")),
                 freshWith(QStringLiteral("Вид МТЗ в фазах"), QStringLiteral("-1")));
    }

    void valuesRunTheirRulesAsTheyArrive()
    {
        // ComboBox2 (row 5) frees output 3 before CheckBox3 (row 9) arrives, so the tick on
        // ВЫХ.3 alone activates its set; with ComboBox2 at "ДА" it does not.
        QByteArray free = freshWith(QStringLiteral("Режим самодиагностики"), QStringLiteral("1"));
        free.replace(cp1251(QStringLiteral("Доп. контакт выключателя ВЫХ3=0")),
                     cp1251(QStringLiteral("Доп. контакт выключателя ВЫХ3=1")));
        free.replace(cp1251(QStringLiteral("Токовая отсечка на землю. Порог=40")),
                     cp1251(QStringLiteral("Токовая отсечка на землю. Порог=250")));
        QVERIFY(writeBytes(path("free.txt"), free));
        TFKsb w;
        open(w, path("free.txt"));
        QVERIFY(w.CheckBox3->isEnabled());
        QVERIFY(w.RxSpinEdit5->isEnabled());
        QCOMPARE(w.RxSpinEdit18->singleStep(), 10);

        QVERIFY(writeBytes(path("used.txt"), freshWith(QStringLiteral("Доп. контакт выключателя "
                                                                      "ВЫХ3"),
                                                       QStringLiteral("1"))));
        TFKsb v;
        open(v, path("used.txt"));
        QVERIFY(v.CheckBox3->isChecked());
        QVERIFY(!v.CheckBox3->isEnabled());
        QVERIFY(!v.RxSpinEdit5->isEnabled());
        QCOMPARE(boxes_.shown.size(), 0);
    }

    // ---- errors that end an open
    // -----------------------------------------------------------------

    void badNumericKeyStopsTheOpen_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("mended"); // the same file without the fault
        QTest::addColumn<QString>("reason");
        // Non-default values in rows before and after the fault.
        auto changed = [](QByteArray f) {
            for (auto [from, to] : {std::pair{"Частота сети=50", "Частота сети=60"},
                                    {"ТТ=100", "ТТ=200"},
                                    {"ВЫКЛ=200", "ВЫКЛ=700"},
                                    {"ВХОД3=1", "ВХОД3=3"},
                                    {"Причина отключения=", "Причина отключения=ОЗЗ"}})
                f.replace(cp1251(QString::fromUtf8(from)), cp1251(QString::fromUtf8(to)));
            return f;
        };
        const QString row3 = QStringLiteral("Способ выявления ОЗЗ");
        const QByteArray mended = changed(freshWith(row3, QStringLiteral("1")));
        for (const char *bad : {"abc", "", "1 0", "-", "1.0", "0x1", "1e3"}) {
            QTest::addRow("row 3 \"%s\"", bad)
                << changed(freshWith(row3, QString::fromUtf8(bad))) << mended
                << (*bad ? QStringLiteral("строка 4: значение «%1» ключа «Способ выявления ОЗЗ» не "
                                          "является целым числом")
                               .arg(QString::fromUtf8(bad))
                         : QStringLiteral("строка 4: у ключа «Способ выявления ОЗЗ» нет значения"));
        }
        QByteArray cyrillic = mended;
        cyrillic.replace(cp1251(QStringLiteral("реле ВЫ")) + 'X' + '1',
                         cp1251(QStringLiteral("реле ВЫХ1")));
        QVERIFY(cyrillic != mended);
        QTest::newRow("Cyrillic Х at row 63")
            << cyrillic << mended
            << QStringLiteral("нет ключа «Режим работы реле ВЫX1» в разделе [ВЫХОДНЫЕ РЕЛЕ]");
    }

    void badNumericKeyStopsTheOpen()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, mended);
        QFETCH(QString, reason);
        QVERIFY(writeBytes(path("bad.txt"), file));
        QVERIFY(writeBytes(path("mended.txt"), mended));
        TFKsb whole;
        whole.EEvent->setText(QStringLiteral("прежний текст"));
        open(whole, path("mended.txt"));
        QCOMPARE(boxes_.shown.size(), 0);

        TFKsb w;
        w.EEvent->setText(QStringLiteral("прежний текст"));
        const QStringList before = settings(w);
        open(w, path("bad.txt"));
        QCOMPARE(openFailure(), openError(QStringLiteral("bad.txt")));
        QCOMPARE(reason_, reason);
        QCOMPARE(w.StaticText1->text(), QStringLiteral("default.txt (заводская конфигурация)"));

        // A bad file changes no control, neither before its fault nor after it, although the
        // file differs from the window on both sides of the fault.
        QCOMPARE(settings(w), before);
        QCOMPARE(whole.RxSpinEdit2->value(), 200);
        QCOMPARE(w.RxSpinEdit2->value(), 100);
        QCOMPARE(whole.ComboBox13->currentIndex(), 3);
        QCOMPARE(w.ComboBox13->currentIndex(), 1);
    }

    void missingSectionsAndFiles()
    {
        // Without the last section the open succeeds and empties both texts.
        const QByteArray fresh = withCrLf(cp1251(QString::fromUtf8(freshFile)));
        const QByteArray noLastTrip = fresh.left(
            fresh.indexOf(cp1251(QStringLiteral("[ИНФОРМАЦИЯ О ПОСЛЕДНЕМ ОТКЛЮЧЕНИИ]"))));
        QVERIFY(writeBytes(path("nolast.txt"), noLastTrip));
        TFKsb w;
        w.EEvent->setText(QStringLiteral("старое"));
        w.EDt->setText(QStringLiteral("старое"));
        open(w, path("nolast.txt"));
        QCOMPARE(boxes_.shown.size(), 0);
        QCOMPARE(w.EEvent->text(), QString());
        QCOMPARE(w.EDt->text(), QString());
        QCOMPARE(w.StaticText1->text(), QStringLiteral("nolast.txt"));

        // Without the relay section the open stops at its first key.
        QByteArray noRelays = fresh;
        const int from = noRelays.indexOf(cp1251(QStringLiteral("[ВЫХОДНЫЕ РЕЛЕ]")));
        const int to = noRelays.indexOf(cp1251(QStringLiteral("[ВХОДЫ ЦИФРОВЫЕ]")));
        noRelays.remove(from, to - from);
        QVERIFY(writeBytes(path("norelays.txt"), noRelays));
        TFKsb v;
        v.SetListIndex(v.ComboBox5, 1);
        v.SetListIndex(v.ComboBox9, 4);
        open(v, path("norelays.txt"));
        QCOMPARE(openFailure(), openError(QStringLiteral("norelays.txt")));
        QCOMPARE(reason_, QStringLiteral("нет раздела [ВЫХОДНЫЕ РЕЛЕ]"));
        QCOMPARE(v.ComboBox5->currentIndex(), 1);
        QCOMPARE(v.ComboBox9->currentIndex(), 4);
        boxes_.shown.clear();

        // A file that does not exist changes nothing and is not created.
        TFKsb u;
        const QStringList before = settings(u);
        open(u, path("sub/absent.txt"));
        QCOMPARE(openFailure(), openError(QStringLiteral("absent.txt")));
        QCOMPARE(reason_, QStringLiteral("файл не существует"));
        QCOMPARE(settings(u), before);
        QVERIFY(!QFileInfo::exists(path("sub/absent.txt")));
        QCOMPARE(u.StaticText1->text(), QStringLiteral("default.txt (заводская конфигурация)"));
        QCOMPARE(dialogTitles_.back(), QStringLiteral("Открытие файла конфигурации ..."));
    }

    // ---- hostile files -----------------------------------------------------------------------

    void hostileFilesGiveOneMessage_data()
    {
        addCases({"directory", "fifo", "device", "symlink loop", "binary garbage", "utf-8 text",
                  "10 MB of lines", "sparse 100 MB"});
    }

    void hostileFilesGiveOneMessage()
    {
        QFETCH(QString, kind);
        QString name = path("hostile.txt");
        if (kind == "directory") {
            QVERIFY(QDir().mkpath(name));
        } else if (kind == "fifo") {
            QCOMPARE(::mkfifo(QFile::encodeName(name).constData(), 0644), 0);
        } else if (kind == "device") {
            name = QStringLiteral("/dev/zero");
        } else if (kind == "symlink loop") {
            QVERIFY(QFile::link(path("other.txt"), name));
            QVERIFY(QFile::link(name, path("other.txt")));
        } else if (kind == "binary garbage") {
            QByteArray junk(200000, '\0');
            QRandomGenerator rng(3);
            for (char &c : junk)
                c = char(rng.bounded(256));
            QVERIFY(writeBytes(name, junk));
        } else if (kind == "utf-8 text") {
            QVERIFY(writeBytes(name, withCrLf(QByteArray(freshFile))));
        } else if (kind == "10 MB of lines") {
            // Ten megabytes of lines that name nothing, then a complete file: no configuration
            // is that large, and it is refused without being taken into memory whole.
            QByteArray big = "[Мусор]\r\n";
            big.reserve(11 * 1024 * 1024);
            while (big.size() < 10 * 1024 * 1024)
                big += "key=value value value value value value value value\r\n";
            QVERIFY(writeBytes(name, big + withCrLf(cp1251(QString::fromUtf8(freshFile)))));
        } else if (kind == "sparse 100 MB") {
            QFile f(name);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.write(withCrLf(cp1251(QString::fromUtf8(freshFile)))) > 0);
            QVERIFY(f.resize(100LL * 1024 * 1024));
        }
        TFKsb w;
        const QStringList before = settings(w);
        QElapsedTimer t;
        t.start();
        open(w, name);
        QVERIFY(t.elapsed() < 5000);
        QCOMPARE(openFailure(), openError(QFileInfo(name).fileName()));
        QCOMPARE(settings(w), before);
    }

    void awkwardButReadableFiles_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("setting");
        const QByteArray lf = cp1251(QString::fromUtf8(freshFile));
        QByteArray base = withCrLf(lf);
        base.replace(cp1251(QStringLiteral("Частота сети=50")),
                     cp1251(QStringLiteral("Частота сети=60")));
        QByteArray lfOnly = base;
        lfOnly.replace("\r\n", "\n");
        QByteArray crOnly = base;
        crOnly.replace("\r\n", "\r");
        QTest::newRow("LF only") << lfOnly << "RxSpinEdit1=60";
        QTest::newRow("CR only") << crOnly << "RxSpinEdit1=60";
        QTest::newRow("no final line end") << base.chopped(2) << "RxSpinEdit1=60";
        QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBF") + base << "RxSpinEdit1=60";
        QByteArray nul = base;
        nul.insert(0, QByteArray("junk\0line\r\n", 11));
        QTest::newRow("NUL in a line") << nul << "RxSpinEdit1=60";
        QByteArray dup = base;
        dup.replace(cp1251(QStringLiteral("[УСТАВКИ МТЗ]")),
                    cp1251(QStringLiteral("Частота сети=50\r\n[УСТАВКИ МТЗ]")));
        dup += cp1251(QStringLiteral("[КОНФИГУРАЦИЯ]\r\nЧастота сети=55\r\n"));
        QTest::newRow("duplicates keep the first") << dup << "RxSpinEdit1=60";
        QByteArray b98 = base;
        b98.replace(cp1251(QStringLiteral("Причина отключения=")),
                    cp1251(QStringLiteral("Причина отключения=a")) + "\x98" + "b");
        QTest::newRow("byte 98") << b98 << "EEvent=a\uFFFDb";
        QByteArray longValue = base;
        longValue.replace(cp1251(QStringLiteral("Дата и время=")),
                          cp1251(QStringLiteral("Дата и время=")) + QByteArray(100000, 'Z'));
        QTest::newRow("100 000 characters")
            << longValue << QStringLiteral("EDt=") + QString(2047, u'Z');
        // The tail of an over-long value is no new entry.
        for (int length : {2047, 2048, 4096}) {
            QByteArray tail = base;
            tail.replace(cp1251(QStringLiteral("Частота сети=60")),
                         cp1251(QStringLiteral("Чужой ключ=")) + QByteArray(length, 'Z') +
                             cp1251(QStringLiteral("Частота сети=55\r\nЧастота сети=60")));
            QTest::addRow("tail after %d characters", length) << tail << "RxSpinEdit1=60";
        }
    }

    void awkwardButReadableFiles()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, setting);
        QVERIFY(writeBytes(path("awkward.txt"), file));
        TFKsb w;
        open(w, path("awkward.txt"));
        QCOMPARE(boxes_.shown.size(), 0);
        QVERIFY2(settings(w).contains(setting), qPrintable(settings(w).join(u' ').left(400)));
        QCOMPARE(w.StaticText1->text(), QStringLiteral("awkward.txt"));
    }

    // ---- saving --------------------------------------------------------------------------------

    void overwriteQuestion()
    {
        const QString name = path("exists.txt");
        const QByteArray old = "[Старая секция]\r\nключ=1\r\n";
        QVERIFY(writeBytes(name, old));
        const QPair<Messages::Kind, QString> question = {
            Messages::Kind::Confirmation, QStringLiteral("Файл с именем:\n\r") + name +
                                              QStringLiteral("\n\rсуществует, перезаписать его?")};

        TFKsb w;
        boxes_.answer = false;
        save(w, name);
        QCOMPARE(only(), question);
        QCOMPARE(readAll(name), old);
        QCOMPARE(w.StaticText1->text(), QStringLiteral("default.txt (заводская конфигурация)"));

        boxes_.shown.clear();
        boxes_.answer = true;
        save(w, name);
        QCOMPARE(boxes_.shown.size(), 2);
        QCOMPARE(boxes_.shown.at(0), question);
        QCOMPARE(boxes_.shown.at(1).first, Messages::Kind::Information);
        QCOMPARE(readAll(name), withCrLf(cp1251(QString::fromUtf8(freshFile))));
        QCOMPARE(w.StaticText1->text(), QStringLiteral("exists.txt"));

        // A cancelled dialog does nothing; the dialog keeps the last name chosen.
        boxes_.shown.clear();
        dialogAnswers_ = {QString()};
        w.SISaveClick();
        QCOMPARE(boxes_.shown.size(), 0);
        QCOMPARE(w.SaveDialog1.FileName, name);
        w.SILoadClick();
        QCOMPARE(boxes_.shown.size(), 0);
    }

    void failedSaveKeepsTheOldFile_data()
    {
        addCases({"read-only file", "missing folder", "folder as target", "file size limit",
                  "text with a line break", "text longer than a value"});
    }

    void failedSaveKeepsTheOldFile()
    {
        QFETCH(QString, kind);
        QString name = path("target.txt");
        const QByteArray old = "[Старая секция]\r\nключ=1\r\n";
        QVERIFY(writeBytes(name, old));
        TFKsb w;
        if (kind == "read-only file")
            QVERIFY(QFile::setPermissions(name, QFile::ReadOwner | QFile::ReadGroup));
        else if (kind == "missing folder")
            name = path("no/such/folder/target.txt");
        else if (kind == "folder as target")
            QVERIFY(QDir().mkpath(name = path("folder.txt")));
        else if (kind == "text with a line break")
            w.EEvent->setText(QStringLiteral("первая\r\nвторая"));
        else if (kind == "text longer than a value")
            w.EDt->setText(QString(3000, u'Д'));

        struct rlimit saved {
        };
        if (kind == "file size limit") {
            // The disk fills after 1000 bytes: writes beyond fail instead of signalling.
            std::signal(SIGXFSZ, SIG_IGN);
            QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
            struct rlimit small = saved;
            small.rlim_cur = 1000;
            QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        }
        save(w, name);
        if (kind == "file size limit")
            QCOMPARE(::setrlimit(RLIMIT_FSIZE, &saved), 0);

        QCOMPARE(boxes_.shown.back(), saveError());
        QCOMPARE(w.StaticText1->text(), QStringLiteral("default.txt (заводская конфигурация)"));
        QCOMPARE(readAll(path("target.txt")), old);
        // No temporary file is left beside the target.
        QStringList left = QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(left, QStringList{QStringLiteral("target.txt")});
        QVERIFY(!QFileInfo(path("no")).exists());
    }

    // ---- start-up ----------------------------------------------------------------------------

    void commandLineFile()
    {
        QVERIFY(writeBytes(path("start.txt"),
                           freshWith(QStringLiteral("Частота сети"), QStringLiteral("60"))));
        TFKsb::StartupArguments = {path("start.txt"), path("second.txt")};
        {
            TFKsb w;
            QCOMPARE(boxes_.shown.size(), 0);
            QCOMPARE(w.RxSpinEdit1->value(), 60);
            QCOMPARE(w.StaticText1->text(), QStringLiteral("start.txt"));
            QCOMPARE(w.OpenDialog1.FileName, path("start.txt"));
        }
        TFKsb::StartupArguments = {path("second.txt")};
        TFKsb v;
        QCOMPARE(openFailure(), openError(QStringLiteral("second.txt")));
        QCOMPARE(v.StaticText1->text(), QStringLiteral("default.txt (заводская конфигурация)"));
    }
};

QTEST_MAIN(TestConfigFile)
#include "tst_configfile.moc"
