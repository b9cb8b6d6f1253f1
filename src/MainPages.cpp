// The seven pages of the main window: every setting with its caption, range, step, choices and
// start value. The interlocks give the controls their enabled states afterwards.
#include "Main.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstring>
#include <optional>
#include <string_view>

namespace
{

constexpr int spinWidthPx = 84;
constexpr int relayBoxWidthPx = 58;
const QColor captionRed(Qt::red);

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

// A list takes the mouse wheel only while it has the focus: a user rolling the wheel to look
// over a page must not change a protection setting that happens to pass under the pointer.
class FocusedWheelOnly : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Wheel && !static_cast<QWidget *>(watched)->hasFocus()) {
            event->ignore();
            return true;
        }
        return false;
    }
};

QComboBox *makeList(QWidget *parent, const char *name, std::span<const char *const> items)
{
    auto *c = new QComboBox(parent);
    c->setFocusPolicy(Qt::StrongFocus); // not the wheel's focus
    c->installEventFilter(new FocusedWheelOnly(c));
    c->setObjectName(QLatin1String(name));
    for (const char *item : items)
        c->addItem(QString::fromUtf8(item));
    c->setCurrentIndex(-1); // the start-up order chooses the first items
    c->setMaxVisibleItems(int(items.size()));
    // The lists with a rule (ComboBox1 to ComboBox8) carry their number as the rule's selector.
    const int number = QByteArray(name).mid(int(std::strlen("ComboBox"))).toInt();
    if (number >= 1 && number <= 8)
        SetTag(c, number);
    return c;
}

// What only the screen needs, beside the catalogue's rows: widths, frames and colours.
int controlWidthPx(const qvoksb::SettingRow &r)
{
    switch (r.items) {
    case qvoksb::ItemList::EarthMethod:
        return 240;
    case qvoksb::ItemList::Characteristic:
        return 230;
    case qvoksb::ItemList::RelayMode:
        return 130;
    case qvoksb::ItemList::InputFunction:
        return 200;
    case qvoksb::ItemList::Contact:
        return 120;
    case qvoksb::ItemList::SelfDiagnosis:
    case qvoksb::ItemList::None:
        break;
    }
    return r.kind == qvoksb::Kind::Text ? 270 : spinWidthPx;
}

// The frames of pages 4 and 5 by the group caption of their rows; ВЫКЛ and ВЫХ.3 in red.
struct Frame {
    const char *group;
    const char *name;
    bool red;
};
constexpr Frame frames[] = {
    {"ВЫКЛ", "GroupBox2", true},    {"ВЫХ.1", "GroupBox3", false},  {"ВЫХ.2", "GroupBox4", false},
    {"ВЫХ.3", "GroupBox1", true},   {"ВХОД 1", "GroupBox5", false}, {"ВХОД 2", "GroupBox6", false},
    {"ВХОД 3", "GroupBox7", false},
};

const Frame &frameOf(const char *group)
{
    for (const Frame &f : frames)
        if (std::strcmp(f.group, group) == 0)
            return f;
    return frames[0];
}

// Captions shown in red: the self-diagnosis mode, which takes output 3 away.
bool redCaption(const char *label)
{
    return std::strcmp(label, "LSystem6") == 0;
}

} // namespace

// The window's fields bound to the catalogue's rows by the control's name.
#define FIELD(name)                                                                                \
    std::pair                                                                                      \
    {                                                                                              \
#name, &TFKsb::name                                                                        \
    }

void TFKsb::createPages()
{
    using qvoksb::Page;
    createSettingRows(Page::Configuration, TabSheet1);
    createSettingRows(Page::Overcurrent, TabSheet2);
    createSettingRows(Page::EarthFault, TabSheet3);
    createSettingRows(Page::OutputRelays, TabSheet4);
    createSettingRows(Page::DigitalInputs, TabSheet5);
    createControlPage();
    createStatePage();

    const auto control = [this](const char *name) {
        return settingControl(qvoksb::findRow(name)->id);
    };
    for (auto [name, field] :
         {FIELD(RxSpinEdit1),  FIELD(RxSpinEdit2),  FIELD(RxSpinEdit3),  FIELD(RxSpinEdit4),
          FIELD(RxSpinEdit5),  FIELD(RxSpinEdit6),  FIELD(RxSpinEdit7),  FIELD(RxSpinEdit8),
          FIELD(RxSpinEdit9),  FIELD(RxSpinEdit10), FIELD(RxSpinEdit11), FIELD(RxSpinEdit12),
          FIELD(RxSpinEdit13), FIELD(RxSpinEdit14), FIELD(RxSpinEdit15), FIELD(RxSpinEdit16),
          FIELD(RxSpinEdit17), FIELD(RxSpinEdit18), FIELD(RxSpinEdit19), FIELD(RxSpinEdit20),
          FIELD(RxSpinEdit21), FIELD(RxSpinEdit22), FIELD(RxSpinEdit23), FIELD(RxSpinEdit24),
          FIELD(RxSpinEdit25)})
        this->*field = static_cast<SpinEdit *>(control(name));
    for (auto [name, field] :
         {FIELD(ComboBox1), FIELD(ComboBox2), FIELD(ComboBox3), FIELD(ComboBox4), FIELD(ComboBox5),
          FIELD(ComboBox6), FIELD(ComboBox7), FIELD(ComboBox8), FIELD(ComboBox9), FIELD(ComboBox10),
          FIELD(ComboBox11), FIELD(ComboBox12), FIELD(ComboBox13), FIELD(ComboBox14)})
        this->*field = static_cast<QComboBox *>(control(name));
    for (auto [name, field] :
         {FIELD(CheckBox1),  FIELD(CheckBox2),  FIELD(CheckBox3),  FIELD(CheckBox4),
          FIELD(CheckBox5),  FIELD(CheckBox6),  FIELD(CheckBox7),  FIELD(CheckBox8),
          FIELD(CheckBox9),  FIELD(CheckBox10), FIELD(CheckBox11), FIELD(CheckBox12),
          FIELD(CheckBox13), FIELD(CheckBox14), FIELD(CheckBox15), FIELD(CheckBox16),
          FIELD(CheckBox17), FIELD(CheckBox18), FIELD(CheckBox19), FIELD(CheckBox20),
          FIELD(CheckBox21), FIELD(CheckBox22), FIELD(CheckBox23), FIELD(CheckBox24),
          FIELD(CheckBox25), FIELD(CheckBox26), FIELD(CheckBox27), FIELD(CheckBox28),
          FIELD(CheckBox29), FIELD(CheckBox30), FIELD(CheckBox31), FIELD(CheckBox32),
          FIELD(CheckBox33), FIELD(CheckBox34), FIELD(CheckBox35)})
        this->*field = static_cast<QCheckBox *>(control(name));
    const auto label = [this](const char *name) {
        return findChild<QLabel *>(QLatin1String(name));
    };
    for (auto [name, field] :
         {FIELD(LSystem1),  FIELD(LSystem2),  FIELD(LSystem3),  FIELD(LSystem4), FIELD(LSystem5),
          FIELD(LSystem6),  FIELD(LSystem7),  FIELD(LSystem8),  FIELD(LSystem9), FIELD(LSystem10),
          FIELD(LSystem11), FIELD(LSystem12), FIELD(LSystem13), FIELD(LMTZ1),    FIELD(LMTZ2),
          FIELD(LMTZ3),     FIELD(LMTZ4),     FIELD(LMTZ5),     FIELD(LMTZ6),    FIELD(LMTZ7),
          FIELD(LMTZ8),     FIELD(LMTZ9),     FIELD(LMTZ10),    FIELD(LMTZ11),   FIELD(LOZZ1),
          FIELD(LOZZ2),     FIELD(LOZZ3),     FIELD(LOZZ4),     FIELD(LOZZ5),    FIELD(LOZZ6),
          FIELD(LOZZ7),     FIELD(LOZZ8),     FIELD(LOZZ9),     FIELD(LOZZ10),   FIELD(LOZZ11),
          FIELD(LDO1),      FIELD(LDO2),      FIELD(LDO3),      FIELD(LDO4),     FIELD(LDO5),
          FIELD(LDO6),      FIELD(LDO7),      FIELD(LDO8),      FIELD(LDI1),     FIELD(LDI2),
          FIELD(LDI3),      FIELD(LDI4),      FIELD(LDI5),      FIELD(LDI6),     FIELD(Label4),
          FIELD(Label3)})
        this->*field = label(name);
    for (auto [name, field] :
         {FIELD(GroupBox2), FIELD(GroupBox3), FIELD(GroupBox4), FIELD(GroupBox1), FIELD(GroupBox5),
          FIELD(GroupBox6), FIELD(GroupBox7)})
        this->*field = findChild<QGroupBox *>(QLatin1String(name));
    EEvent = static_cast<QLineEdit *>(settingControl(qvoksb::Setting::EEvent));
    EDt = static_cast<QLineEdit *>(settingControl(qvoksb::Setting::EDt));

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
}
#undef FIELD

QWidget *TFKsb::createSettingControl(const qvoksb::SettingRow &r, QWidget *parent)
{
    QWidget *c = nullptr;
    switch (r.kind) {
    case qvoksb::Kind::Numeric:
        c = makeSpin(parent, r.control, r.min, r.max, r.step, r.start);
        break;
    case qvoksb::Kind::Choice:
        c = makeList(parent, r.control, qvoksb::itemsOf(r.items));
        break;
    case qvoksb::Kind::Text: {
        auto *e = new QLineEdit(parent);
        e->setObjectName(QLatin1String(r.control));
        e->setReadOnly(true);
        paintRed(e);
        c = e;
        break;
    }
    case qvoksb::Kind::RelayBox:
        break;
    }
    if (c && *r.hint)
        c->setToolTip(QString::fromUtf8(r.hint));
    settingControls_[qvoksb::indexOf(r.id)] = c;
    return c;
}

// A relay-output row: the set's caption and its boxes "ВЫКЛ", "ВЫХ.1", "ВЫХ.2", "ВЫХ.3" (the
// first is absent for the auxiliary-contact alarm, which cannot trip the breaker).
QHBoxLayout *TFKsb::createRelayRow(QWidget *host, const qvoksb::RelaySet &set, QLabel *caption)
{
    auto *h = new QHBoxLayout;
    h->setSpacing(2);
    h->addWidget(caption, 1);
    const QString rowName = caption->text().simplified();
    for (int i = 0; i < 4; ++i) {
        if (i == 0 && !set.hasTripBox) {
            h->addSpacing(relayBoxWidthPx + 2);
            continue;
        }
        const qvoksb::SettingRow &r = qvoksb::rowOf(set.boxes[size_t(i)]);
        const QString boxCaption = QString::fromUtf8(qvoksb::RelayBoxCaptions[i]);
        auto *box = new QCheckBox(boxCaption, host);
        box->setObjectName(QLatin1String(r.control));
        box->setFixedWidth(relayBoxWidthPx);
        box->setChecked(r.start != 0);
        box->setAccessibleName(rowName + QStringLiteral(" ") + boxCaption);
        if (i == 0 || i == 3)
            paintRed(box);
        settingControls_[qvoksb::indexOf(r.id)] = box;
        h->addWidget(box);
    }
    // The caption names the row; the first box carries the keyboard focus for it.
    caption->setBuddy(settingControl(set.boxes[set.hasTripBox ? 0 : 1]));
    return h;
}

void TFKsb::createSettingRows(qvoksb::Page page, QWidget *tab)
{
    const bool framed = page == qvoksb::Page::OutputRelays || page == qvoksb::Page::DigitalInputs;
    Rows pageRows(tab, framed ? 6 : 3);
    std::optional<Rows> frameRows;
    std::string_view group;
    for (const qvoksb::SettingRow &r : qvoksb::settingsCatalogue()) {
        if (r.page != page)
            continue;
        if (framed && group != r.group) {
            // Pages 4 and 5 frame the rows of one relay or input.
            group = r.group;
            const Frame &f = frameOf(r.group);
            auto *frame = new QGroupBox(QString::fromUtf8(r.group), tab);
            frame->setObjectName(QLatin1String(f.name));
            if (f.red)
                frame->setStyleSheet(QStringLiteral("QGroupBox#%1::title { color: red; }")
                                         .arg(QLatin1String(f.name)));
            pageRows.addWidget(frame);
            frameRows.emplace(frame);
        }
        Rows &rows = framed ? *frameRows : pageRows;
        if (r.kind == qvoksb::Kind::RelayBox) {
            const qvoksb::RelaySet &set = qvoksb::RelaySets[size_t(r.relaySet - 1)];
            const bool firstBox = r.id == set.boxes[set.hasTripBox ? 0 : 1];
            if (firstBox)
                rows.addLayout(createRelayRow(rows.host(), set,
                                              rows.label(r.label, QString::fromUtf8(r.caption))));
            continue;
        }
        QLabel *label = rows.label(r.label, QString::fromUtf8(r.caption));
        if (*r.hint)
            label->setToolTip(QString::fromUtf8(r.hint));
        if (redCaption(r.label))
            paintRed(label);
        settingLabels_[qvoksb::indexOf(r.id)] = label;
        rows.row(label, createSettingControl(r, rows.host()), controlWidthPx(r));
        if (r.id == qvoksb::Setting::RxSpinEdit3) {
            // The breaker type is no setting: a fixed text between the transformers and the
            // self-diagnosis mode, always disabled.
            Edit1 = new QLineEdit(QStringLiteral("ВЫКЛ (Выключатель нагрузки)"), tab);
            Edit1->setObjectName(QStringLiteral("Edit1"));
            Edit1->setReadOnly(true);
            paintRed(Edit1);
            rows.row(LSystem5 = rows.label("LSystem5", QStringLiteral("Тип выключателя:")), Edit1,
                     230);
            LSystem5->setEnabled(false);
            Edit1->setEnabled(false);
        }
    }
    pageRows.stretch();
}

void TFKsb::createControlPage()
{
    Rows page(TabSheet6, 6);
    // The unit's commands, in the order of its command table.
    QStringList commandCaptions;
    for (const qvoksb::exchange::CommandRow &c : qvoksb::exchange::Commands)
        commandCaptions << QString::fromUtf8(c.caption.data(), qsizetype(c.caption.size()));
    RadioGroup1 =
        new RadioGroup(QStringLiteral("ВЫБЕРИТЕ КОД УПРАВЛЕНИЯ"), commandCaptions, TabSheet6);
    RadioGroup1->setObjectName(QStringLiteral("RadioGroup1"));
    page.addWidget(RadioGroup1);
    Button1 = new QPushButton(QStringLiteral("ВЫПОЛНИТЬ КОМАНДУ ..."), TabSheet6);
    Button1->setObjectName(QStringLiteral("Button1"));
    page.addWidget(Button1);

    GroupBox9 = new QGroupBox(QStringLiteral("ИНФОРМАЦИЯ О ПОСЛЕДНЕМ ОТКЛЮЧЕНИИ"), TabSheet6);
    GroupBox9->setObjectName(QStringLiteral("GroupBox9"));
    {
        Rows r(GroupBox9);
        for (qvoksb::Setting s : {qvoksb::Setting::EEvent, qvoksb::Setting::EDt}) {
            const qvoksb::SettingRow &row = qvoksb::rowOf(s);
            QLabel *label = r.label(row.label, QString::fromUtf8(row.caption));
            settingLabels_[qvoksb::indexOf(s)] = label;
            r.row(label, createSettingControl(row, GroupBox9), controlWidthPx(row));
        }
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
    // The captions come from the unit's lamp table: outputs from index 0, inputs from 4.
    auto ledRow = [&](std::array<LedIndicator **, 4> fields, std::array<const char *, 4> names,
                      std::array<size_t, 4> lamps, QLabel *title) {
        auto *h = new QHBoxLayout;
        for (int i = 0; i < 4; ++i) {
            const QColor lit = i == 3 ? QColor(Qt::red) : QColor(0, 255, 0); // lime
            const std::string_view caption = qvoksb::exchange::LampCaptions[lamps[size_t(i)]];
            auto *led = new LedIndicator(
                QString::fromUtf8(caption.data(), qsizetype(caption.size())), lit, TabSheet7);
            led->setObjectName(QLatin1String(names[i]));
            *fields[i] = led;
            h->addWidget(led);
        }
        page.addWidget(title);
        page.addLayout(h);
    };
    ledRow({&VrBlinkLedBit1, &VrBlinkLedBit2, &VrBlinkLedBit3, &VrBlinkLedBit4},
           {"VrBlinkLedBit1", "VrBlinkLedBit2", "VrBlinkLedBit3", "VrBlinkLedBit4"}, {4, 5, 6, 7},
           StaticText9 = heading("StaticText9", QStringLiteral("ЦИФРОВЫЕ ВХОДЫ:")));
    ledRow({&VrBlinkLed1, &VrBlinkLed2, &VrBlinkLed3, &VrBlinkLed4},
           {"VrBlinkLed1", "VrBlinkLed2", "VrBlinkLed3", "VrBlinkLed4"}, {1, 2, 3, 0},
           StaticText2 = heading("StaticText2", QStringLiteral("ВЫХОДНЫЕ РЕЛЕ:")));
    Button2 = new QPushButton(QStringLiteral("ОБНОВИТЬ СОСТОЯНИЕ"), TabSheet7);
    Button2->setObjectName(QStringLiteral("Button2"));
    page.addWidget(Button2);
    page.stretch();
}
