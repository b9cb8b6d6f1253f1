#pragma once
// How the program's own widgets present themselves to assistive technology (screen readers reach
// them through AT-SPI on Linux). The interfaces of the program's own classes are installed when
// the application object is created, those replacing Qt's own by install(), which the main window
// calls before it is first shown:
//  - SpinEdit: a spin box whose value steps by the control's current step, stays in its range
//    and refuses every change while the control is disabled;
//  - LedIndicator: a read-only check box, checked while the LED is lit;
//  - PageControl: a page-tab list of page tabs, the shown page's tab selected;
//  - menus and their items: the checkable items as radio buttons (an item of an exclusive
//    group) or check boxes, with their check marks.

namespace AccessibleWidgets
{
// Installs all the interfaces once a QApplication exists; may be called again at no cost.
void install();
} // namespace AccessibleWidgets
