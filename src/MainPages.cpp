// The seven pages of the main window: every setting with its caption, range, step, choices and
// start value. The interlocks give the controls their enabled states afterwards.
#include "Main.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace
{

constexpr int spinWidthPx = 84;
constexpr int relayBoxWidthPx = 58;
const QColor captionRed(Qt::red);

const QStringList characteristicItems = {
    QStringLiteral("НЕЗАВИСИМОЕ"),
    QStringLiteral("ANSI слабая зависимость"),
    QStringLiteral("ANSI нормальная зависимость"),
    QStringLiteral("ANSI сильная зависимость"),
    QStringLiteral("ANSI чрезвычайно сильная зависимость"),
    QStringLiteral("IAC слабая зависимость"),
    QStringLiteral("IAC нормальная зависимость"),
    QStringLiteral("IAC сильная зависимость"),
    QStringLiteral("IAC чрезвычайно сильная зависимость"),
    QStringLiteral("IEC слабая зависимость"),
    QStringLiteral("IEC-A нормальная зависимость"),
    QStringLiteral("IEC-B сильная зависимость"),
    QStringLiteral("IEC-C очень сильная зависимость"),
};
const QStringList relayModeItems = {QStringLiteral("ЗАЩЕЛКА"), QStringLiteral("ИМПУЛЬСНЫЙ")};
const QStringList inputFunctionItems = {
    QStringLiteral("НЕТ"),
    QStringLiteral("ВЫКЛЮЧАТЕЛЬ ЗАЗЕМЛЕН"),
    QStringLiteral("ВНЕШНИЙ СБРОС"),
    QStringLiteral("ДИСТАНЦИОННОЕ ОТКЛЮЧЕНИЕ"),
    QStringLiteral("БЛОКИРОВКА ВЫКЛЮЧАТЕЛЯ"),
    QStringLiteral("АКТИВИРОВАТЬ ВЫХОД 1"),
    QStringLiteral("АКТИВИРОВАТЬ ВЫХОД 2"),
    QStringLiteral("АКТИВИРОВАТЬ ВЫХОД 3"),
};
const QStringList contactItems = {QStringLiteral("ЗАМКНУТ"), QStringLiteral("РАЗОМКНУТ")};
const QString multiplierHint =
    QStringLiteral("значение должно быть в 10 раз больше реально записываемого в блок");

void paintRed(QWidget *w)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Active, QPalette::WindowText, captionRed);
    p.setColor(QPalette::Inactive, QPalette::WindowText, captionRed);
    p.setColor(QPalette::Active, QPalette::Text, captionRed);
    p.setColor(QPalette::Inactive, QPalette::Text, captionRed);
    p.setColor(QPalette::Disabled, QPalette::Text, captionRed.darker(130));
    p.setColor(QPalette::Disabled, QPalette::WindowText, captionRed.lighter(160));
    w->setPalette(p);
}

// Lays out the rows of one page or frame from top to bottom: caption at the left, control at the
// right.
class Rows
{
public:
    explicit Rows(QWidget *host, int spacing = 3) : host_(host), layout_(new QVBoxLayout(host))
    {
        layout_->setContentsMargins(6, 6, 6, 6);
        layout_->setSpacing(spacing);
    }

    QLabel *label(const char *name, const QString &caption)
    {
        auto *l = new QLabel(caption, host_);
        l->setObjectName(QLatin1String(name));
        l->setWordWrap(true);
        return l;
    }

    template <class Control> Control *row(QLabel *label, Control *control, int width)
    {
        auto *h = new QHBoxLayout;
        h->setSpacing(6);
        h->addWidget(label, 1);
        control->setFixedWidth(width);
        h->addWidget(control, 0, Qt::AlignRight | Qt::AlignVCenter);
        layout_->addLayout(h);
        label->setBuddy(control);
        return control;
    }

    void addWidget(QWidget *w, Qt::Alignment a = {}) { layout_->addWidget(w, 0, a); }
    void addLayout(QLayout *l) { layout_->addLayout(l); }
    void stretch() { layout_->addStretch(1); }
    QWidget *host() const { return host_; }

private:
    QWidget *host_;
    QVBoxLayout *layout_;
};

SpinEdit *makeSpin(QWidget *parent, const char *name, int min, int max, int step, int value)
{
    auto *s = new SpinEdit(parent);
    s->setObjectName(QLatin1String(name));
    s->setRange(min, max);
    s->setSingleStep(step);
    s->setValue(value);
    return s;
}

QComboBox *makeList(QWidget *parent, const char *name, const QStringList &items, int tag)
{
    auto *c = new QComboBox(parent);
    c->setObjectName(QLatin1String(name));
    c->addItems(items);
    c->setCurrentIndex(-1); // the start-up order chooses the first items
    c->setMaxVisibleItems(items.size());
    if (tag)
        SetTag(c, tag);
    return c;
}

} // namespace

void TFKsb::createPages()
{
    createConfigurationPage();
    createOvercurrentPage();
    createEarthFaultPage();
    createOutputRelaysPage();
    createDigitalInputsPage();
    createControlPage();
    createStatePage();

    const std::array<SpinEdit *, 27> spins = {
        RxSpinEdit1,  RxSpinEdit2,  RxSpinEdit3,  RxSpinEdit4,  RxSpinEdit5,  RxSpinEdit6,
        RxSpinEdit7,  RxSpinEdit8,  RxSpinEdit9,  RxSpinEdit10, RxSpinEdit11, RxSpinEdit12,
        RxSpinEdit13, RxSpinEdit14, RxSpinEdit15, RxSpinEdit16, RxSpinEdit17, RxSpinEdit18,
        RxSpinEdit19, RxSpinEdit20, RxSpinEdit21, RxSpinEdit22, RxSpinEdit23, RxSpinEdit24,
        RxSpinEdit25, RxSpinEdit26, RxSpinEdit27};
    spinEdits_ = spins;
    comboBoxes_ = {ComboBox1,  ComboBox2,  ComboBox3,  ComboBox4, ComboBox5,
                   ComboBox6,  ComboBox7,  ComboBox8,  ComboBox9, ComboBox10,
                   ComboBox11, ComboBox12, ComboBox13, ComboBox14};
    checkBoxes_ = {CheckBox1,  CheckBox2,  CheckBox3,  CheckBox4,  CheckBox5,  CheckBox6,
                   CheckBox7,  CheckBox8,  CheckBox9,  CheckBox10, CheckBox11, CheckBox12,
                   CheckBox13, CheckBox14, CheckBox15, CheckBox16, CheckBox17, CheckBox18,
                   CheckBox19, CheckBox20, CheckBox21, CheckBox22, CheckBox23, CheckBox24,
                   CheckBox25, CheckBox26, CheckBox27, CheckBox28, CheckBox29, CheckBox30,
                   CheckBox31, CheckBox32, CheckBox33, CheckBox34, CheckBox35};
    for (const qvoksb::SettingRow &r : qvoksb::settingsCatalogue())
        settingControls_[qvoksb::indexOf(r.id)] = findChild<QWidget *>(QLatin1String(r.control));
}

// A relay-output row: the caption and the boxes "ВЫКЛ", "ВЫХ.1", "ВЫХ.2", "ВЫХ.3" (the first is
// absent for the auxiliary-contact alarm, which cannot trip the breaker).
static void relayRow(Rows &rows, QLabel *caption, std::array<QCheckBox **, 4> boxes,
                     std::array<const char *, 4> names, std::array<bool, 4> checked)
{
    static const char *const captions[4] = {"ВЫКЛ", "ВЫХ.1", "ВЫХ.2", "ВЫХ.3"};
    auto *h = new QHBoxLayout;
    h->setSpacing(2);
    h->addWidget(caption, 1);
    const QString rowName = caption->text().simplified();
    for (int i = 0; i < 4; ++i) {
        if (!boxes[i]) {
            h->addSpacing(relayBoxWidthPx + 2);
            continue;
        }
        auto *box = new QCheckBox(QString::fromUtf8(captions[i]), rows.host());
        box->setObjectName(QLatin1String(names[i]));
        box->setFixedWidth(relayBoxWidthPx);
        box->setChecked(checked[i]);
        box->setAccessibleName(rowName + QStringLiteral(" ") + QString::fromUtf8(captions[i]));
        if (i == 0 || i == 3)
            paintRed(box);
        *boxes[i] = box;
        h->addWidget(box);
    }
    // The caption names the row; the first box carries the keyboard focus for it.
    caption->setBuddy(boxes[0] ? *boxes[0] : *boxes[1]);
    rows.addLayout(h);
}

void TFKsb::createConfigurationPage()
{
    Rows r(TabSheet1);
    RxSpinEdit1 = r.row(LSystem1 = r.label("LSystem1", "Частота сети (Гц):"),
                        makeSpin(TabSheet1, "RxSpinEdit1", 50, 60, 10, 50), spinWidthPx);
    RxSpinEdit2 =
        r.row(LSystem2 = r.label("LSystem2", "Ток первичной обмотки применяемого ТТ (А):"),
              makeSpin(TabSheet1, "RxSpinEdit2", 5, 5000, 5, 100), spinWidthPx);
    ComboBox1 =
        r.row(LSystem3 = r.label("LSystem3", "Способ выявления ОЗЗ:"),
              makeList(TabSheet1, "ComboBox1",
                       {QStringLiteral("УТЕЧКА"), QStringLiteral("НУЛЕВАЯ ПОСЛЕДОВАТЕЛЬНОСТЬ")}, 1),
              240);
    RxSpinEdit3 =
        r.row(LSystem4 = r.label("LSystem4", "Ток первичной обмотки применяемого ТНП (А):"),
              makeSpin(TabSheet1, "RxSpinEdit3", 5, 5000, 5, 100), spinWidthPx);
    Edit1 = new QLineEdit(QStringLiteral("ВЫКЛ (Выключатель нагрузки)"), TabSheet1);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setReadOnly(true);
    paintRed(Edit1);
    r.row(LSystem5 = r.label("LSystem5", "Тип выключателя:"), Edit1, 230);
    LSystem5->setEnabled(false);
    Edit1->setEnabled(false);
    ComboBox2 =
        r.row(LSystem6 = r.label("LSystem6", "Режим самодиагностики (ВЫХ.3):"),
              makeList(TabSheet1, "ComboBox2", {QStringLiteral("ДА"), QStringLiteral("НЕТ")}, 2),
              spinWidthPx);
    paintRed(LSystem6);
    RxSpinEdit4 = r.row(LSystem7 = r.label("LSystem7", "Блокировка выключателя. Задержка (мсек):"),
                        makeSpin(TabSheet1, "RxSpinEdit4", 50, 1000, 10, 150), spinWidthPx);
    relayRow(r, LSystem8 = r.label("LSystem8", "Доп. контакт выключателя (Реле):"),
             {nullptr, &CheckBox1, &CheckBox2, &CheckBox3},
             {nullptr, "CheckBox1", "CheckBox2", "CheckBox3"}, {});
    RxSpinEdit5 =
        r.row(LSystem9 = r.label("LSystem9", "Доп. контакт выключателя. Задержка (мсек):"),
              makeSpin(TabSheet1, "RxSpinEdit5", 10, 2500, 5, 1000), spinWidthPx);
    relayRow(r, LSystem10 = r.label("LSystem10", "Превышение числа\r\nмехан.срабатываний (Реле):"),
             {&CheckBox7, &CheckBox4, &CheckBox5, &CheckBox6},
             {"CheckBox7", "CheckBox4", "CheckBox5", "CheckBox6"}, {});
    RxSpinEdit6 = r.row(LSystem11 = r.label("LSystem11", "Число механ.срабатываний:"),
                        makeSpin(TabSheet1, "RxSpinEdit6", 5, 9995, 5, 3000), spinWidthPx);
    relayRow(r, LSystem12 = r.label("LSystem12", "Накопленный ток (Реле):"),
             {&CheckBox8, &CheckBox9, &CheckBox10, &CheckBox11},
             {"CheckBox8", "CheckBox9", "CheckBox10", "CheckBox11"}, {});
    RxSpinEdit7 = r.row(LSystem13 = r.label("LSystem13", "Величина накопленного тока (кА):"),
                        makeSpin(TabSheet1, "RxSpinEdit7", 10, 5000, 1, 300), spinWidthPx);
    r.stretch();
}

void TFKsb::createOvercurrentPage()
{
    Rows r(TabSheet2);
    relayRow(r, LMTZ1 = r.label("LMTZ1", "Времязависимая МТЗ в фазах (Реле):"),
             {&CheckBox12, &CheckBox13, &CheckBox14, &CheckBox15},
             {"CheckBox12", "CheckBox13", "CheckBox14", "CheckBox15"}, {true, false, false, false});
    RxSpinEdit8 = r.row(LMTZ2 = r.label("LMTZ2", "Времязависимая МТЗ в фазах. Порог (%ТТ):"),
                        makeSpin(TabSheet2, "RxSpinEdit8", 4, 300, 1, 4), spinWidthPx);
    ComboBox3 = r.row(LMTZ3 = r.label("LMTZ3", "Вид МТЗ в фазах:"),
                      makeList(TabSheet2, "ComboBox3", characteristicItems, 3), 230);
    RxSpinEdit9 = r.row(LMTZ4 = r.label("LMTZ4", "Времязависимая МТЗ в фазах. Задержка (мсек):"),
                        makeSpin(TabSheet2, "RxSpinEdit9", 50, 600000, 100, 1000), spinWidthPx);
    RxSpinEdit10 = r.row(LMTZ5 = r.label("LMTZ5", "Вид МТЗ в фазах. Множитель (x10):"),
                         makeSpin(TabSheet2, "RxSpinEdit10", 1, 200, 1, 10), spinWidthPx);
    LMTZ5->setToolTip(multiplierHint);
    RxSpinEdit10->setToolTip(multiplierHint);
    relayRow(r, LMTZ6 = r.label("LMTZ6", "Токовая отсечка в фазах (Реле):"),
             {&CheckBox16, &CheckBox17, &CheckBox18, &CheckBox19},
             {"CheckBox16", "CheckBox17", "CheckBox18", "CheckBox19"}, {true, false, false, false});
    RxSpinEdit11 = r.row(LMTZ7 = r.label("LMTZ7", "Токовая отсечка в фазах. Порог (%ТТ):"),
                         makeSpin(TabSheet2, "RxSpinEdit11", 4, 1800, 1, 40), spinWidthPx);
    RxSpinEdit12 = r.row(LMTZ8 = r.label("LMTZ8", "Токовая отсечка в фазах. Задержка (мсек):"),
                         makeSpin(TabSheet2, "RxSpinEdit12", 0, 2000, 10, 0), spinWidthPx);
    relayRow(r, LMTZ9 = r.label("LMTZ9", "Тревога-ТП в фазах (Реле):"),
             {&CheckBox20, &CheckBox21, &CheckBox22, &CheckBox23},
             {"CheckBox20", "CheckBox21", "CheckBox22", "CheckBox23"}, {});
    RxSpinEdit13 = r.row(LMTZ10 = r.label("LMTZ10", "Тревога-ТП в фазах. Порог (%ТТ):"),
                         makeSpin(TabSheet2, "RxSpinEdit13", 4, 300, 1, 4), spinWidthPx);
    RxSpinEdit14 = r.row(LMTZ11 = r.label("LMTZ11", "Тревога-ТП в фазах. Задержка (мсек):"),
                         makeSpin(TabSheet2, "RxSpinEdit14", 50, 600000, 100, 1000), spinWidthPx);
    r.stretch();
}

void TFKsb::createEarthFaultPage()
{
    Rows r(TabSheet3);
    relayRow(r, LOZZ1 = r.label("LOZZ1", "Времязависимая МТЗ на землю (Реле):"),
             {&CheckBox24, &CheckBox25, &CheckBox26, &CheckBox27},
             {"CheckBox24", "CheckBox25", "CheckBox26", "CheckBox27"}, {true, false, false, false});
    RxSpinEdit15 = r.row(LOZZ2 = r.label("LOZZ2", "Времязависимая МТЗ на землю. Порог (%ТТ):"),
                         makeSpin(TabSheet3, "RxSpinEdit15", 4, 300, 1, 12), spinWidthPx);
    ComboBox4 = r.row(LOZZ3 = r.label("LOZZ3", "Вид МТЗ на землю:"),
                      makeList(TabSheet3, "ComboBox4", characteristicItems, 4), 230);
    RxSpinEdit16 = r.row(LOZZ4 = r.label("LOZZ4", "Времязависимая МТЗ на землю. Задержка (мсек):"),
                         makeSpin(TabSheet3, "RxSpinEdit16", 50, 600000, 100, 1000), spinWidthPx);
    RxSpinEdit17 = r.row(LOZZ5 = r.label("LOZZ5", "Вид МТЗ на землю. Множитель (x10):"),
                         makeSpin(TabSheet3, "RxSpinEdit17", 1, 200, 1, 10), spinWidthPx);
    LOZZ5->setToolTip(multiplierHint);
    RxSpinEdit17->setToolTip(multiplierHint);
    relayRow(r, LOZZ6 = r.label("LOZZ6", "Токовая отсечка на землю (Реле):"),
             {&CheckBox28, &CheckBox29, &CheckBox30, &CheckBox31},
             {"CheckBox28", "CheckBox29", "CheckBox30", "CheckBox31"}, {true, false, false, false});
    RxSpinEdit18 = r.row(LOZZ7 = r.label("LOZZ7", "Токовая отсечка на землю. Порог (%ТТ):"),
                         makeSpin(TabSheet3, "RxSpinEdit18", 4, 1800, 1, 40), spinWidthPx);
    RxSpinEdit19 = r.row(LOZZ8 = r.label("LOZZ8", "Токовая отсечка на землю. Задержка (мсек):"),
                         makeSpin(TabSheet3, "RxSpinEdit19", 0, 2000, 10, 0), spinWidthPx);
    relayRow(r, LOZZ9 = r.label("LOZZ9", "Тревога-КЗ на землю (Реле):"),
             {&CheckBox32, &CheckBox33, &CheckBox34, &CheckBox35},
             {"CheckBox32", "CheckBox33", "CheckBox34", "CheckBox35"}, {});
    RxSpinEdit20 = r.row(LOZZ10 = r.label("LOZZ10", "Тревога-КЗ на землю. Порог (%ТТ):"),
                         makeSpin(TabSheet3, "RxSpinEdit20", 4, 300, 1, 12), spinWidthPx);
    RxSpinEdit21 = r.row(LOZZ11 = r.label("LOZZ11", "Тревога-КЗ на землю. Задержка (мсек):"),
                         makeSpin(TabSheet3, "RxSpinEdit21", 50, 600000, 100, 1000), spinWidthPx);
    r.stretch();
}

void TFKsb::createOutputRelaysPage()
{
    Rows page(TabSheet4, 6);
    struct Relay {
        const char *caption, *frame, *list, *modeLabel, *spin, *pulseLabel;
        int tag;
        bool red;
        QGroupBox **frameField;
        QComboBox **listField;
        QLabel **modeLabelField;
        SpinEdit **spinField;
        QLabel **pulseLabelField;
    };
    const Relay relays[] = {
        {"ВЫКЛ", "GroupBox2", "ComboBox5", "LDO1", "RxSpinEdit22", "LDO2", 5, true, &GroupBox2,
         &ComboBox5, &LDO1, &RxSpinEdit22, &LDO2},
        {"ВЫХ.1", "GroupBox3", "ComboBox6", "LDO3", "RxSpinEdit23", "LDO4", 6, false, &GroupBox3,
         &ComboBox6, &LDO3, &RxSpinEdit23, &LDO4},
        {"ВЫХ.2", "GroupBox4", "ComboBox7", "LDO5", "RxSpinEdit24", "LDO6", 7, false, &GroupBox4,
         &ComboBox7, &LDO5, &RxSpinEdit24, &LDO6},
        {"ВЫХ.3", "GroupBox1", "ComboBox8", "LDO7", "RxSpinEdit25", "LDO8", 8, true, &GroupBox1,
         &ComboBox8, &LDO7, &RxSpinEdit25, &LDO8},
    };
    for (const Relay &relay : relays) {
        auto *frame = new QGroupBox(QString::fromUtf8(relay.caption), TabSheet4);
        frame->setObjectName(QLatin1String(relay.frame));
        if (relay.red)
            frame->setStyleSheet(QStringLiteral("QGroupBox#%1::title { color: red; }")
                                     .arg(QLatin1String(relay.frame)));
        Rows r(frame);
        *relay.listField =
            r.row(*relay.modeLabelField = r.label(relay.modeLabel, QStringLiteral("Режим работы:")),
                  makeList(frame, relay.list, relayModeItems, relay.tag), 130);
        *relay.spinField =
            r.row(*relay.pulseLabelField =
                      r.label(relay.pulseLabel, QStringLiteral("Длительность импульса (мсек):")),
                  makeSpin(frame, relay.spin, 100, 2000, 100, 200), spinWidthPx);
        *relay.frameField = frame;
        page.addWidget(frame);
    }
    page.stretch();
}

void TFKsb::createDigitalInputsPage()
{
    Rows page(TabSheet5, 6);
    struct Input {
        const char *caption, *frame, *function, *functionLabel, *contact, *contactLabel;
        QGroupBox **frameField;
        QComboBox **functionField;
        QLabel **functionLabelField;
        QComboBox **contactField;
        QLabel **contactLabelField;
    };
    const Input inputs[] = {
        {"ВХОД 1", "GroupBox5", "ComboBox9", "LDI1", "ComboBox10", "LDI2", &GroupBox5, &ComboBox9,
         &LDI1, &ComboBox10, &LDI2},
        {"ВХОД 2", "GroupBox6", "ComboBox11", "LDI3", "ComboBox12", "LDI4", &GroupBox6, &ComboBox11,
         &LDI3, &ComboBox12, &LDI4},
        {"ВХОД 3", "GroupBox7", "ComboBox13", "LDI5", "ComboBox14", "LDI6", &GroupBox7, &ComboBox13,
         &LDI5, &ComboBox14, &LDI6},
    };
    for (const Input &input : inputs) {
        auto *frame = new QGroupBox(QString::fromUtf8(input.caption), TabSheet5);
        frame->setObjectName(QLatin1String(input.frame));
        Rows r(frame);
        *input.functionField = r.row(*input.functionLabelField = r.label(
                                         input.functionLabel, QStringLiteral("Функция активации:")),
                                     makeList(frame, input.function, inputFunctionItems, 0), 200);
        *input.contactField =
            r.row(*input.contactLabelField = r.label(
                      input.contactLabel, QStringLiteral("Состояние контактов при активации:")),
                  makeList(frame, input.contact, contactItems, 0), 120);
        *input.frameField = frame;
        page.addWidget(frame);
    }
    page.stretch();
}

void TFKsb::createControlPage()
{
    Rows page(TabSheet6, 6);
    RadioGroup1 =
        new RadioGroup(QStringLiteral("ВЫБЕРИТЕ КОД УПРАВЛЕНИЯ"),
                       {QStringLiteral("СБРОС"), QStringLiteral("ОТКЛЮЧИТЬ ВЫКЛ."),
                        QStringLiteral("ОЧИСТИТЬ ДАННЫЕ Т.О."), QStringLiteral("УДАЛИТЬ СОБЫТИЯ"),
                        QStringLiteral("ВЫХ.1"), QStringLiteral("ВЫХ.2"), QStringLiteral("ВЫХ.3")},
                       TabSheet6);
    RadioGroup1->setObjectName(QStringLiteral("RadioGroup1"));
    page.addWidget(RadioGroup1);
    Button1 = new QPushButton(QStringLiteral("ВЫПОЛНИТЬ КОМАНДУ ..."), TabSheet6);
    Button1->setObjectName(QStringLiteral("Button1"));
    page.addWidget(Button1);

    GroupBox9 = new QGroupBox(QStringLiteral("ИНФОРМАЦИЯ О ПОСЛЕДНЕМ ОТКЛЮЧЕНИИ"), TabSheet6);
    GroupBox9->setObjectName(QStringLiteral("GroupBox9"));
    {
        Rows r(GroupBox9);
        auto makeDisplay = [this](const char *name) {
            auto *e = new QLineEdit(GroupBox9);
            e->setObjectName(QLatin1String(name));
            e->setReadOnly(true);
            paintRed(e);
            return e;
        };
        EEvent = r.row(Label4 = r.label("Label4", QStringLiteral("Причина откл:")),
                       makeDisplay("EEvent"), 270);
        EDt = r.row(Label3 = r.label("Label3", QStringLiteral("Дата и время:")), makeDisplay("EDt"),
                    270);
    }
    page.addWidget(GroupBox9);

    GroupBox8 =
        new QGroupBox(QStringLiteral("УКАЖИТЕ НАСТРОЙКИ ИНТЕРФЕЙСА СВЯЗИ БЛОКА"), TabSheet6);
    GroupBox8->setObjectName(QStringLiteral("GroupBox8"));
    {
        Rows r(GroupBox8);
        RxSpinEdit26 = r.row(Label1 = r.label("Label1", QStringLiteral("Modbus адрес (hex):")),
                             makeSpin(GroupBox8, "RxSpinEdit26", 1, 247, 1, 1), spinWidthPx);
        RxSpinEdit26->setHexadecimal(true);
        RxSpinEdit27 = r.row(
            Label2 = r.label("Label2", QStringLiteral("СОМ1 RS-232 (скорость передачи, bps):")),
            makeSpin(GroupBox8, "RxSpinEdit27", 9600, 19200, 9600, 9600), spinWidthPx);
        Label2->setEnabled(false);
        RxSpinEdit27->setEnabled(false);
    }
    page.addWidget(GroupBox8);
    page.stretch();
}

void TFKsb::createStatePage()
{
    Rows page(TabSheet7, 8);
    auto heading = [this](const char *name, const QString &text) {
        auto *l = new QLabel(text, TabSheet7);
        l->setObjectName(QLatin1String(name));
        QFont f = l->font();
        f.setBold(true);
        l->setFont(f);
        return l;
    };
    auto ledRow = [&](std::array<LedIndicator **, 4> fields, std::array<const char *, 4> names,
                      std::array<const char *, 4> captions, QLabel *title) {
        auto *h = new QHBoxLayout;
        for (int i = 0; i < 4; ++i) {
            const QColor lit = i == 3 ? QColor(Qt::red) : QColor(0, 255, 0); // lime
            auto *led = new LedIndicator(QString::fromUtf8(captions[i]), lit, TabSheet7);
            led->setObjectName(QLatin1String(names[i]));
            *fields[i] = led;
            h->addWidget(led);
        }
        page.addWidget(title);
        page.addLayout(h);
    };
    ledRow({&VrBlinkLedBit1, &VrBlinkLedBit2, &VrBlinkLedBit3, &VrBlinkLedBit4},
           {"VrBlinkLedBit1", "VrBlinkLedBit2", "VrBlinkLedBit3", "VrBlinkLedBit4"},
           {"ВХОД-1", "ВХОД-2", "ВХОД-3", "ВЫКЛ."},
           StaticText9 = heading("StaticText9", QStringLiteral("ЦИФРОВЫЕ ВХОДЫ:")));
    ledRow({&VrBlinkLed1, &VrBlinkLed2, &VrBlinkLed3, &VrBlinkLed4},
           {"VrBlinkLed1", "VrBlinkLed2", "VrBlinkLed3", "VrBlinkLed4"},
           {"ВЫХОД-1", "ВЫХОД-2", "ВЫХОД-3", "ВЫКЛ."},
           StaticText2 = heading("StaticText2", QStringLiteral("ВЫХОДНЫЕ РЕЛЕ:")));
    Button2 = new QPushButton(QStringLiteral("ОБНОВИТЬ СОСТОЯНИЕ"), TabSheet7);
    Button2->setObjectName(QStringLiteral("Button2"));
    page.addWidget(Button2);
    page.stretch();
}
