#include "MainPlacement.h"

#include "FileNames.h"
#include "Main.h"
#include "Messages.h"
#include "UserSettings.h"
#include "core/link/port_directory.h"
#include "core/files/profile_file.h"

#include <QAction>
#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QToolBar>
#include <QToolButton>

#include <cmath>
#include <optional>
#include <string>

namespace
{

const char formSection[] = "TFKsb";
const char speedBarSection[] = "TFKsbSpeedBar1";

// The show states of a window placement.
constexpr int showNormal = 1;
constexpr int showMinimized = 2;

// The tool bar's edge as stored: the alignments of a bar along the top, bottom, left and right.
struct EdgeCode {
    Qt::ToolBarArea area;
    int code;
};
constexpr EdgeCode edgeCodes[] = {{Qt::TopToolBarArea, 1},
                                  {Qt::BottomToolBarArea, 2},
                                  {Qt::LeftToolBarArea, 3},
                                  {Qt::RightToolBarArea, 4}};

// Buttons may not come closer to the bar's edge than this.
constexpr int speedBarMinMarginPx = 3;

int screenPixelsPerInch()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? int(std::lround(screen->logicalDotsPerInch())) : 96;
}

std::optional<bool> parseBoolean(const std::string &text)
{
    const QString t = QString::fromLatin1(text.data(), qsizetype(text.size())).trimmed();
    if (t.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    return std::nullopt;
}

std::string rectText(int a, int b, int c, int d)
{
    return QStringLiteral("%1,%2,%3,%4").arg(a).arg(b).arg(c).arg(d).toStdString();
}

// The fields of a comma-separated value; a field that is missing or not a number is empty.
std::vector<std::optional<long long>> numberFields(const QString &text, int first)
{
    std::vector<std::optional<long long>> out;
    const QStringList parts = text.split(QLatin1Char(','));
    for (qsizetype i = first; i < parts.size(); ++i) {
        bool ok = false;
        const long long v = parts[i].trimmed().toLongLong(&ok);
        out.push_back(ok ? std::optional<long long>(v) : std::nullopt);
    }
    return out;
}

} // namespace

PlacementStore::PlacementStore(TFKsb *window) : window_(window) {}

QString PlacementStore::path()
{
    return profilePath();
}

// The twenty stored properties, in the order they are written: the port items, the two line
// items, the page shown and the Modbus address.
bool PlacementStore::Save()
{
    TFKsb &w = *window_;
    // Without a settings folder the start has said so; nothing is written anywhere else.
    if (qvoksb::configHome().empty())
        return false;
    qvoksb::ProfileFile ini;
    std::string error;
    const std::string file = coreFileName(path());
    // Other sections of the file (another program's, or a later version's) are kept.
    if (!ini.load(file, &error)) {
        Messages::Error(&w, QStringLiteral("Ошибка записи файла %1:\n%2")
                                .arg(path(), QString::fromStdString(error)));
        return false;
    }
    auto put = [&](const char *section, const QString &key, const std::string &value) {
        ini.setValue(section, key.toStdString(), value);
    };
    auto putInt = [&](const char *section, const char *key, long long value) {
        put(section, QLatin1String(key), std::to_string(value));
    };
    auto truth = [](bool b) { return std::string(b ? "True" : "False"); };

    const QRect frame = w.frameGeometry();
    const QRect normal = w.isMinimized() ? w.normalGeometry() : frame;
    putInt(formSection, "FormVersion", formVersion);
    putInt(formSection, "Flags", 0);
    putInt(formSection, "ShowCmd", w.isMinimized() ? showMinimized : showNormal);
    putInt(formSection, "PixelsPerInch", screenPixelsPerInch());
    put(formSection, QStringLiteral("MinMaxPos"), rectText(-1, -1, -1, -1));
    put(formSection, QStringLiteral("NormPos"),
        rectText(normal.left(), normal.top(), normal.left() + frame.width(),
                 normal.top() + frame.height()));
    putInt(formSection, "Visible", w.isVisible() ? 1 : 0);
    const QWidget *focus = w.focusWidget();
    put(formSection, QStringLiteral("ActiveControl"),
        focus ? focus->objectName().toStdString() : std::string());
    for (QAction *port : w.COM)
        put(formSection, port->objectName() + QStringLiteral("_Checked"), truth(port->isChecked()));
    put(formSection, QStringLiteral("DTR1_Checked"), truth(w.DTR1->isChecked()));
    put(formSection, QStringLiteral("RTS1_Checked"), truth(w.RTS1->isChecked()));
    const QWidget *page = w.PageControl1->ActivePage();
    put(formSection, QStringLiteral("PageControl1_ActivePage"),
        page ? page->objectName().toStdString() : std::string());
    putInt(formSection, "RxSpinEdit26_Value", w.RxSpinEdit26->value());
    put(formSection, QStringLiteral("VerifyWrite_Checked"), truth(w.VerifyWrite->isChecked()));
    // The gateway as its URL ("tcp://host:port", "modbus-tcp://host:port"), empty when none was
    // chosen, and whether it is the current link.
    put(formSection, QStringLiteral("Gateway_Url"),
        w.FGateway ? qvoksb::gatewayUrl(*w.FGateway) : std::string());
    put(formSection, QStringLiteral("GatewayItem_Checked"), truth(w.gatewayChosen()));

    // The tool bar rewrites its own section whole.
    ini.eraseSection(speedBarSection);
    int edge = 1;
    for (const EdgeCode &e : edgeCodes)
        if (w.toolBarArea(w.SpeedBar1) == e.area)
            edge = e.code;
    const bool across = edge <= 2;
    putInt(speedBarSection, "Position", edge);
    putInt(speedBarSection, "Width", across ? w.SpeedBar1->height() : w.SpeedBar1->width());
    putInt(speedBarSection, "Version", speedBarVersion);
    putInt(speedBarSection, "PixelsPerInch", screenPixelsPerInch());
    putInt(speedBarSection, "BtnWidth", w.SILoad->width());
    putInt(speedBarSection, "BtnHeight", w.SILoad->height());
    int count = 0;
    for (QToolButton *b : w.speedBarButtons()) {
        if (!b->isVisibleTo(w.speedBarSection()))
            continue;
        ++count;
        put(speedBarSection, QStringLiteral("Button%1").arg(count),
            QStringLiteral("%1,%2,%3").arg(b->objectName()).arg(b->x()).arg(b->y()).toStdString());
    }
    putInt(speedBarSection, "Count", count);

    QDir().mkpath(fromCoreFileName(qvoksb::configHome()));
    if (!ini.save(file, &error)) {
        Messages::Error(&w, QStringLiteral("Ошибка записи файла %1:\n%2")
                                .arg(path(), QString::fromStdString(error)));
        return false;
    }
    return true;
}

bool PlacementStore::Restore()
{
    TFKsb &w = *window_;
    startsMinimized_ = false;
    if (qvoksb::configHome().empty()) {
        Messages::Error(&w, QStringLiteral("Настройки окна не будут сохранены:\n%1")
                                .arg(QString::fromUtf8(qvoksb::noConfigHomeText)));
        return false;
    }
    qvoksb::ProfileFile ini;
    std::string error;
    if (!ini.load(coreFileName(path()), &error)) {
        Messages::Error(&w, QStringLiteral("Ошибка чтения файла %1:\n%2")
                                .arg(path(), QString::fromStdString(error)));
        return false;
    }
    auto text = [&](const char *section, const QString &key) {
        return ini.value(section, key.toStdString());
    };
    auto number = [&](const char *section, const char *key) -> std::optional<long long> {
        const auto v = text(section, QLatin1String(key));
        return v ? qvoksb::parseInteger(*v) : std::nullopt;
    };
    const auto version = number(formSection, "FormVersion");
    if (!version || *version < formVersion)
        return false;

    // The placement: the position only when the file was written at this screen's resolution and
    // the window would be reachable there; the size never changes.
    bool placed = false;
    const auto ppi = number(formSection, "PixelsPerInch");
    if (const auto normPos = text(formSection, QStringLiteral("NormPos"));
        normPos && ppi && *ppi == screenPixelsPerInch()) {
        const auto f = numberFields(QString::fromStdString(*normPos), 0);
        if (f.size() == 4 && f[0] && f[1] && std::llabs(*f[0]) < 100000 &&
            std::llabs(*f[1]) < 100000) {
            const QPoint topLeft{int(*f[0]), int(*f[1])};
            // At least the title bar's corner must land on some screen.
            const QRect grip(topLeft, QSize(40, 20));
            for (const QScreen *screen : QGuiApplication::screens()) {
                if (screen->availableGeometry().intersects(grip)) {
                    w.move(topLeft);
                    placed = true;
                    break;
                }
            }
        }
    }
    startsMinimized_ = number(formSection, "ShowCmd") == showMinimized;

    for (QAction *port : w.COM) {
        const auto v = text(formSection, port->objectName() + QStringLiteral("_Checked"));
        if (const auto b = v ? parseBoolean(*v) : std::nullopt)
            port->setChecked(*b); // a checked port clears the others
    }
    for (QAction *line : {w.DTR1, w.RTS1}) {
        const auto v = text(formSection, line->objectName() + QStringLiteral("_Checked"));
        if (const auto b = v ? parseBoolean(*v) : std::nullopt)
            line->setChecked(*b);
    }
    if (const auto page = text(formSection, QStringLiteral("PageControl1_ActivePage"))) {
        for (int i = 0; i < w.PageControl1->count(); ++i)
            if (w.PageControl1->page(i)->objectName() == QString::fromStdString(*page))
                w.PageControl1->setActivePage(w.PageControl1->page(i));
    }
    if (const auto address = number(formSection, "RxSpinEdit26_Value"))
        w.RxSpinEdit26->setValueFromProgram(*address);
    // Written by later versions only: a file without it leaves the verification off.
    if (const auto v = text(formSection, QStringLiteral("VerifyWrite_Checked")))
        if (const auto b = parseBoolean(*v))
            w.VerifyWrite->setChecked(*b);
    // A URL that names no gateway (edited by hand) is dropped: the ports stay as they are.
    if (const auto url = text(formSection, QStringLiteral("Gateway_Url")); url && !url->empty()) {
        w.FGateway = qvoksb::parseGatewayUrl(*url);
        w.showGatewayItem();
        if (const auto v = text(formSection, QStringLiteral("GatewayItem_Checked")))
            if (const auto b = parseBoolean(*v); b && *b && w.FGateway)
                w.GatewayItem->setChecked(true); // clears the port items
    }

    // The tool bar: its edge when the layout version is known, its buttons only at this screen's
    // resolution.
    if (const auto barVersion = number(speedBarSection, "Version");
        barVersion && *barVersion >= speedBarVersion) {
        Qt::ToolBarArea area = Qt::TopToolBarArea;
        const auto edge = number(speedBarSection, "Position");
        for (const EdgeCode &e : edgeCodes)
            if (edge && *edge == e.code)
                area = e.area;
        if (w.toolBarArea(w.SpeedBar1) != area)
            w.addToolBar(area, w.SpeedBar1);
        const auto barPpi = number(speedBarSection, "PixelsPerInch");
        const auto count = number(speedBarSection, "Count");
        if (barPpi && *barPpi == screenPixelsPerInch() && count && *count > 0) {
            for (QToolButton *b : w.speedBarButtons())
                b->hide();
            // Only as many keys as there are buttons can name a button each.
            const long long keys = std::min<long long>(*count, 1000);
            for (long long i = 1; i <= keys; ++i) {
                const auto entry = text(speedBarSection, QStringLiteral("Button%1").arg(i));
                if (!entry)
                    continue;
                const QString value = QString::fromStdString(*entry);
                const QString name = value.section(QLatin1Char(','), 0, 0).trimmed();
                QToolButton *button = nullptr;
                for (QToolButton *b : w.speedBarButtons())
                    if (b->objectName().compare(name, Qt::CaseInsensitive) == 0)
                        button = b;
                if (!button)
                    continue;
                const auto f = numberFields(value, 1);
                auto offset = [](const std::optional<long long> &v, int current) {
                    if (!v)
                        return current;
                    return int(std::clamp<long long>(*v, speedBarMinMarginPx, 1000));
                };
                button->move(offset(f.size() > 0 ? f[0] : std::nullopt, button->x()),
                             offset(f.size() > 1 ? f[1] : std::nullopt, button->y()));
                button->show();
            }
        }
        w.layoutSpeedBar(w.SpeedBar1->orientation());
    }

    // Last the focus, when the named control can take it.
    if (const auto name = text(formSection, QStringLiteral("ActiveControl"));
        name && !name->empty()) {
        if (QWidget *c = w.findChild<QWidget *>(QString::fromStdString(*name));
            c && c->focusPolicy() != Qt::NoFocus && c->isEnabled())
            c->setFocus();
    }
    return placed;
}
