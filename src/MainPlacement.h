#pragma once
// The window-placement store: "QvoKsb.ini" in the user's profile folder keeps, between runs, the
// main window's placement, the focused control, the port and line check marks, the last page and
// the Modbus address (section "TFKsb"), and the tool bar's edge and buttons ("TFKsbSpeedBar1").
#include <QString>

class TFKsb;

class PlacementStore
{
public:
    static constexpr int formVersion = 3;
    static constexpr int speedBarVersion = 0;

    explicit PlacementStore(TFKsb *window);

    // The file's path (UserSettings.h).
    static QString path();

    // Restores what a file of version 3 or more holds; true when it placed the window, which is
    // otherwise left to open centred. A read failure is shown in an error box and restores
    // nothing.
    bool Restore();
    // Writes both sections, replacing the file whole. A failure is shown in an error box.
    bool Save();

    // The stored show state was "minimised": the window starts minimised.
    bool startsMinimized() const { return startsMinimized_; }

private:
    TFKsb *window_;
    bool startsMinimized_ = false;
};
