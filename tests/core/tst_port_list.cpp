// The ports Windows has and what the port chooser and the exchange window say about them. Under
// Wine the runner maps COM1 ... COM17 to pseudo-terminals in Wine's registry.
#include "core/link/port_assignment.h"
#include "core/link/port_list.h"
#include "core/link/serial_port.h"
#ifdef _WIN32
#include "pty_pair_win.h"
#endif

#include <gtest/gtest.h>

#include <algorithm>

using namespace qvoksb;

TEST(PortList, ReadsTheNumberOfAComPortName)
{
    EXPECT_EQ(comPortNumber("COM1"), 1);
    EXPECT_EQ(comPortNumber("com16"), 16);
    EXPECT_EQ(comPortNumber("\\\\.\\COM256"), 256);
    for (const char *no : {"", "COM", "COM0", "COM01", "COM257", "COM1x", "LPT1", "\\\\.\\",
                           "/dev/ttyS0", "COM-1", "COM 1"})
        EXPECT_EQ(comPortNumber(no), 0) << no;
}

#ifdef _WIN32
namespace
{
// The ports' events have nowhere to go: these tests only open them.
struct NoGui : GuiHandOff {
    bool post(std::function<void()>) override { return false; }
};

bool listed(int n)
{
    const auto ports = systemPorts();
    return std::any_of(ports.begin(), ports.end(),
                       [n](const SystemPort &p) { return p.name == "COM" + std::to_string(n); });
}
} // namespace

TEST(PortList, ListsThePortsPresentInNumberOrder)
{
    const auto ports = systemPorts();
    EXPECT_TRUE(listed(1));
    EXPECT_TRUE(listed(10));
    EXPECT_FALSE(listed(99));
    EXPECT_TRUE(std::is_sorted(ports.begin(), ports.end(), [](const auto &a, const auto &b) {
        return comPortNumber(a.name) < comPortNumber(b.name);
    }));
}

TEST(PortList, ChoosingTakesThePortsPresentByTheirOwnNumber)
{
    EXPECT_EQ(terminalProblem("COM2"), "");
    EXPECT_EQ(terminalProblem("\\\\.\\COM2"), "");
    EXPECT_EQ(terminalProblem("COM99"), "Нет такого порта: COM99 (адаптер отключён?)");
    EXPECT_NE(terminalProblem("C:\\file.txt"), "");
    EXPECT_EQ(assignPortEntry(3, "COM3"), "");
    EXPECT_NE(assignPortEntry(3, "COM4"), "");
    EXPECT_EQ(portEntryTarget(3), "");
}

TEST(PortList, AnOpenThatFailsNamesTheWindowsCause)
{
    NoGui gui;
    SerialPort missing(&gui);
    missing.PortNum = 99;
    try {
        missing.Open();
        FAIL() << "opened COM99";
    } catch (const SerialPortError &e) {
        EXPECT_EQ(openFailureReason(e.systemError()), "Нет такого порта (адаптер отключён?)");
    }
}

TEST(PortList, ASecondOpenOfAPortIsRefusedAsTaken)
{
    if (serial_test::runningUnderWine())
        GTEST_SKIP() << "Wine lets a COM port be opened twice";
    NoGui gui;
    SerialPort first(&gui), second(&gui);
    first.PortNum = second.PortNum = 5;
    first.Open();
    try {
        second.Open();
        FAIL() << "opened COM5 twice";
    } catch (const SerialPortError &e) {
        EXPECT_EQ(openFailureReason(e.systemError()),
                  "Доступ к порту запрещён: порт открыт другой программой");
    }
}
#endif
