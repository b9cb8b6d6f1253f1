"""The configurator as a screen reader sees it: walks the AT-SPI tree of the running program once
and checks the pages, the keyboard's page switching, the spin edits' values and texts, the menu
bar's Alt letters, the port and line menu items, the LEDs, the names inside the repeated frames and the tool bar,
the windows "Журнал работ", "Характеристики срабатывания" and "Журнал обмена" beside the
main one, and the modal windows: the port chooser, the difference window of a compare with the
unit, the report form and the report's print preview, each opened by clicking its menu item.

Run by run_accessibility_check, which provides the X display and the buses.
Usage: check_accessibility.py PATH-TO-QVOKSB PATH-TO-KSB7-SIM
"""
import os
import subprocess
import sys
import time

import pyatspi

PAGE_CAPTIONS = ["КОНФИГУРАЦИЯ", "УСТАВКИ МТЗ", "УСТАВКИ ОЗЗ", "ВЫХОДНЫЕ РЕЛЕ", "ВХОДЫ ЦИФРОВЫЕ",
                 "УПРАВЛЕНИЕ", "CСОСТОЯНИЕ ВХОДОВ/ВЫХОДОВ"]
LED_NAMES = ["Цифровые входы: ВХОД-1", "Цифровые входы: ВХОД-2", "Цифровые входы: ВХОД-3",
             "Цифровые входы: ВЫКЛ.", "Выходные реле: ВЫХОД-1", "Выходные реле: ВЫХОД-2",
             "Выходные реле: ВЫХОД-3", "Выходные реле: ВЫКЛ."]
REPORT_TITLE = "Отчёт о настройках блока KSB-7"
REPEATED_FRAMES = ["ВЫКЛ", "ВЫХ.1", "ВЫХ.2", "ВЫХ.3", "ВХОД 1", "ВХОД 2", "ВХОД 3"]
KEY_TAB, KEY_PAGE_UP, KEY_PAGE_DOWN, KEY_UP = 0xFF09, 0xFF55, 0xFF56, 0xFF52
KEY_RETURN, KEY_ESCAPE = 0xFF0D, 0xFF1B
MASK_SHIFT, MASK_CONTROL = 1 << 0, 1 << 2

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def wait_for(predicate, what, seconds=30.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            result = predicate()
            if result:
                return result
        except Exception:  # the tree changes under the query while the program starts
            pass
        time.sleep(0.1)
    raise SystemExit(f"FAIL: {what} within {seconds:.0f} s")


def has(node, state):
    return node.getState().contains(state)


def walk(node):
    yield node
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from walk(child)


def action(node, name):
    actions = node.queryAction()
    for i in range(actions.nActions):
        if actions.getName(i).lower() == name:
            return lambda: actions.doAction(i)
    raise AssertionError(f"{node.name!r} has no action {name!r}")


def main(program, simulator):
    # The simulated unit on COM1, the program's first port.
    sim = subprocess.Popen([simulator, "--port", "1", "--inputs", "5", "--quiet"],
                           stdout=subprocess.DEVNULL)
    link = os.path.join(os.environ["QVOKSB_PORT_DIR"], "COM1")
    proc = None
    try:
        wait_for(lambda: os.path.islink(link), "the simulated unit's port", 10)
        proc = subprocess.Popen([program], stdout=subprocess.DEVNULL)
        run_checks(proc)
    finally:
        for p in (proc, sim):
            if p:
                p.kill()
                p.wait()
    for message in failures:
        print("FAIL:", message)
    print(f"{len(failures)} failure(s)")
    return 1 if failures else 0


def find_app(proc):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.get_process_id() == proc.pid:
            return app
    return None


def run_checks(proc):
    # The splash stands alone for five seconds; then the main window is the only one.
    def main_window():
        app = find_app(proc)
        if app and app.childCount == 1 and has(app.getChildAtIndex(0), pyatspi.STATE_SHOWING):
            frame = app.getChildAtIndex(0)
            return frame if frame.getRole() == pyatspi.ROLE_FRAME else None
        return None
    frame = wait_for(main_window, "the main window on screen")
    nodes = list(walk(frame))
    by_role = {}
    for node in nodes:
        by_role.setdefault(node.getRole(), []).append(node)

    # No name read out holds a line break.
    for node in nodes:
        check("\n" not in node.name and "\r" not in node.name,
              f"{node.getRoleName()} named {node.name!r} holds a line break")

    # The pages: one page-tab list of seven page tabs, the first selected.
    tab_lists = by_role.get(pyatspi.ROLE_PAGE_TAB_LIST, [])
    check(len(tab_lists) == 1, f"{len(tab_lists)} page-tab lists")
    tabs = [tab_lists[0].getChildAtIndex(i) for i in range(tab_lists[0].childCount)]
    check([t.getRole() for t in tabs] == [pyatspi.ROLE_PAGE_TAB] * 7, "the tabs are not page tabs")
    check([t.name for t in tabs] == PAGE_CAPTIONS, f"tab names {[t.name for t in tabs]}")

    def selected():
        return [i for i, t in enumerate(tabs) if has(t, pyatspi.STATE_SELECTED)]
    check(selected() == [0], f"selected tabs {selected()} at start")

    # Ctrl+Tab, Ctrl+PgDn, Ctrl+PgUp, Ctrl+Shift+Tab, round past the first page. Without a window
    # manager the window takes the keyboard when clicked; the status line is a neutral spot.
    status = next(n for n in by_role[pyatspi.ROLE_LABEL] if n.name.startswith("default.txt"))
    box = status.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    pyatspi.Registry.generateMouseEvent(box.x + box.width // 2, box.y + box.height // 2, "b1c")
    wait_for(lambda: has(frame, pyatspi.STATE_ACTIVE), "the main window active", 10)
    for mask, key, expected in [(MASK_CONTROL, KEY_TAB, 1), (MASK_CONTROL, KEY_PAGE_DOWN, 2),
                                (MASK_CONTROL, KEY_PAGE_UP, 1),
                                (MASK_CONTROL | MASK_SHIFT, KEY_TAB, 0),
                                (MASK_CONTROL | MASK_SHIFT, KEY_TAB, 6),
                                (MASK_CONTROL, KEY_TAB, 0)]:
        pyatspi.Registry.generateKeyboardEvent(mask, None, pyatspi.KEY_LOCKMODIFIERS)
        pyatspi.Registry.generateKeyboardEvent(key, None, pyatspi.KEY_SYM)
        pyatspi.Registry.generateKeyboardEvent(mask, None, pyatspi.KEY_UNLOCKMODIFIERS)
        if not check(wait_for_quietly(lambda: selected() == [expected]),
                     f"key {key:#x} with modifiers {mask}: selected {selected()}, not {expected}"):
            break

    # Spin edits step by their own step, stay in range, and a disabled one refuses changes.
    spins = {n.name: n for n in by_role.get(pyatspi.ROLE_SPIN_BUTTON, [])}
    check(len(spins) == len(by_role.get(pyatspi.ROLE_SPIN_BUTTON, [])), "spin edits share names")
    frequency = spins["Частота сети (Гц):"].queryValue()
    check((frequency.minimumValue, frequency.maximumValue, frequency.minimumIncrement)
          == (50, 60, 10), "mains frequency range and step")
    increase = action(spins["Частота сети (Гц):"], "increase")
    decrease = action(spins["Частота сети (Гц):"], "decrease")
    steps = []
    for act in (increase, increase, decrease, decrease):
        act()
        steps.append(frequency.currentValue)
    check(steps == [60, 60, 50, 50], f"mains frequency stepped {steps}")
    frequency.currentValue = 1000
    check(frequency.currentValue == 60, f"mains frequency set to 1000 reads {frequency.currentValue}")
    delay = spins["Токовая отсечка в фазах. Задержка (мсек):"]
    action(delay, "increase")()
    check(delay.queryValue().currentValue == 10, "a 10 ms delay steps to 10")
    speed = spins["СОМ1 RS-232 (скорость передачи, bps):"]
    check(not has(speed, pyatspi.STATE_ENABLED), "the port speed is enabled")
    action(speed, "increase")()
    speed.queryValue().currentValue = 19200
    check(speed.queryValue().currentValue == 9600, "the disabled port speed changed")

    # A spin edit reads as it is shown, the Modbus address in hexadecimal, and its text is what
    # the screen shows at every moment: stepped with the Up key, it reads the new text at once;
    # a typed digit is refused, as in every spin edit, and the text stays.
    address = spins["Modbus адрес (hex):"]
    address.queryValue().currentValue = 27
    text = address.queryText()
    check(wait_for_quietly(lambda: text.getText(0, -1) == "1B"),
          f"the Modbus address 27 reads {text.getText(0, -1)!r}, not '1B'")
    action(tabs[5], "press")()
    wait_for(lambda: has(address, pyatspi.STATE_SHOWING), "the control page shown", 10)
    box = address.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    pyatspi.Registry.generateMouseEvent(box.x + 4, box.y + box.height // 2, "b1c")
    if check(wait_for_quietly(lambda: has(address, pyatspi.STATE_FOCUSED)),
             "the Modbus address takes no focus"):
        pyatspi.Registry.generateKeyboardEvent(KEY_UP, None, pyatspi.KEY_SYM)
        check(wait_for_quietly(lambda: text.getText(0, -1) == "1C"),
              f"stepped up from 1B the address reads {text.getText(0, -1)!r}")
        pyatspi.Registry.generateKeyboardEvent(ord("5"), None, pyatspi.KEY_SYM)
        time.sleep(0.3)
        check(text.getText(0, -1) == "1C" and text.characterCount == 2,
              f"after a typed digit the address reads {text.getText(0, -1)!r}")
    check(text.getNSelections() in (0, 1), "selections of the address")
    address.queryValue().currentValue = 1  # the simulated unit's address, for the LEDs below

    # The menu bar's items announce their Alt letters.
    bars = by_role.get(pyatspi.ROLE_MENU_BAR, [])
    items = {c.name: c for c in (bars[0].getChildAtIndex(i) for i in range(bars[0].childCount))
             if c is not None} if bars else {}
    if check("Файл" in items, f"menu bar items {sorted(items)}"):
        acts = items["Файл"].queryAction()
        bindings = [acts.getKeyBinding(i) for i in range(acts.nActions)]
        check("Alt+Ф" in bindings, f"«Файл» announces {bindings}, not Alt+Ф")

    # The port items are radio items, one checked; DTR and RTS are checkable with their state.
    menus = {n.name: n for n in by_role.get(pyatspi.ROLE_POPUP_MENU, [])}
    ports = [menus["Подключение"].getChildAtIndex(i) for i in range(16)]
    check(all(p.getRole() == pyatspi.ROLE_RADIO_BUTTON for p in ports), "port items not radio")
    check([p.name for p in ports if has(p, pyatspi.STATE_CHECKED)] == ["СОМ 1"], "checked port")
    lines = [menus["Настройки"].getChildAtIndex(i) for i in range(2)]
    check([(n.name, n.getRole(), has(n, pyatspi.STATE_CHECKED)) for n in lines]
          == [("DTR", pyatspi.ROLE_CHECK_BOX, False), ("RTS", pyatspi.ROLE_CHECK_BOX, False)],
          "DTR and RTS items")
    action(lines[0], "toggle")()
    check(wait_for_quietly(lambda: has(lines[0], pyatspi.STATE_CHECKED)), "DTR did not check")

    # The LEDs: each named by its row, checked while lit. The simulated unit reports inputs 1
    # and 3 active; reading the state lights their LEDs.
    leds = {n.name: n for n in by_role.get(pyatspi.ROLE_CHECK_BOX, []) if n.name in LED_NAMES}
    check(sorted(leds) == sorted(LED_NAMES), f"LED names {sorted(leds)}")
    check(not any(has(n, pyatspi.STATE_CHECKED) for n in leds.values()), "an LED lit at start")
    refresh = next(n for n in by_role[pyatspi.ROLE_PUSH_BUTTON] if n.name == "ОБНОВИТЬ СОСТОЯНИЕ")
    action(refresh, "press")()
    lit = ["Цифровые входы: ВХОД-1", "Цифровые входы: ВХОД-3"]
    check(wait_for_quietly(lambda: [n for n in LED_NAMES if n in leds and
                                    has(leds[n], pyatspi.STATE_CHECKED)] == lit, 20),
          "the LEDs of inputs 1 and 3 not checked after reading the state")

    # Inside the output-relay and input frames every control and caption carries its frame.
    frames = [n for n in by_role.get(pyatspi.ROLE_PANEL, []) if n.name in REPEATED_FRAMES]
    check(sorted(n.name for n in frames) == sorted(REPEATED_FRAMES), "repeated frames")
    for panel in frames:
        for node in walk(panel):
            if node.getRole() in (pyatspi.ROLE_SPIN_BUTTON, pyatspi.ROLE_LABEL):
                check(node.name.startswith(panel.name + ": "), f"{node.name!r} in {panel.name}")
            if node.getRole() == pyatspi.ROLE_COMBO_BOX:
                labels = [t.name for r in node.getRelationSet()
                          if r.getRelationType() == pyatspi.RELATION_LABELLED_BY
                          for t in (r.getTarget(i) for i in range(r.getNTargets()))]
                check(any(name.startswith(panel.name + ": ") for name in labels),
                      f"list labelled {labels} in {panel.name}")
    check("ВЫХ.2: Длительность импульса (мсек):" in spins, "pulse length of ВЫХ.2 by name")

    # The tool bar holds nothing unnamed.
    for bar in by_role.get(pyatspi.ROLE_TOOL_BAR, []):
        for node in walk(bar):
            check(node.name != "", f"unnamed {node.getRoleName()} in the tool bar")

    # The modal windows, before any window beside the main one covers its menus. A modal window
    # opened through an action call would hold the call until it closed, so each is opened as a
    # user opens it: a click on the menu, a click on the item.
    app = find_app(proc)

    def choose(menu, item):
        click(items[menu])
        popup = menus[menu]
        click(wait_for(lambda: next((c for c in (popup.getChildAtIndex(i)
                                                 for i in range(popup.childCount))
                                     if c is not None and c.name == item
                                     and has(c, pyatspi.STATE_SHOWING)), None),
                       f"the item {item!r} on screen", 10))

    def modal(title, tables, close_key=KEY_ESCAPE):
        window = window_named(app, title, showing=True)
        check(window.getRole() == pyatspi.ROLE_DIALOG, f"{title!r} is a {window.getRoleName()}")
        check_window(window, title, tables)
        pyatspi.Registry.generateKeyboardEvent(close_key, None, pyatspi.KEY_SYM)
        wait_for(lambda: not has(window, pyatspi.STATE_SHOWING), f"{title!r} closed", 20)

    choose("Подключение", "Выбор порта ...")
    modal("Выбор порта", 1)
    choose("Сервис", "Сравнить с блоком ...")
    modal("Сравнение с блоком", 1)
    choose("Сервис", "Отчёт о настройках ...")
    modal(REPORT_TITLE, 0, KEY_RETURN)  # the form; its OK leads to the preview
    modal(REPORT_TITLE, 0)

    # The windows of "Сервис" that stand beside the main one: every control named, every table
    # with its column headings and readable cells.
    service = menus.get("Сервис")
    if check(service is not None, "no menu «Сервис»"):
        entries = {service.getChildAtIndex(i).name: service.getChildAtIndex(i)
                   for i in range(service.childCount) if service.getChildAtIndex(i) is not None}
        for title, tables in (("Журнал работ", 1), ("Характеристики срабатывания", 1),
                              ("Журнал обмена", 0)):
            if not check(title in entries, f"no {title!r} in «Сервис»"):
                continue
            action(entries[title], "press")()
            check_window(window_named(app, title), title, tables)


def click(node):
    box = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    pyatspi.Registry.generateMouseEvent(box.x + box.width // 2, box.y + box.height // 2, "b1c")


def window_named(app, title, showing=False):
    return wait_for(lambda: next((w for w in (app.getChildAtIndex(i) for i in range(app.childCount))
                                  if w is not None and w.name == title
                                  and (not showing or has(w, pyatspi.STATE_SHOWING))), None),
                    f"the window {title!r}", 20)


NAMED_ROLES = {pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_SPIN_BUTTON,
               pyatspi.ROLE_CHECK_BOX, pyatspi.ROLE_RADIO_BUTTON, pyatspi.ROLE_TABLE,
               pyatspi.ROLE_PAGE_TAB, pyatspi.ROLE_PAGE_TAB_LIST}


def labels_of(node):
    return [t.name for r in node.getRelationSet()
            if r.getRelationType() == pyatspi.RELATION_LABELLED_BY
            for t in (r.getTarget(i) for i in range(r.getNTargets()))]


def check_window(window, title, expected_tables):
    tables = 0
    for node in walk(window):
        role = node.getRole()
        if role in NAMED_ROLES:
            check(node.name.strip() != "" or any(labels_of(node)),
                  f"unnamed {node.getRoleName()} in {title!r}")
        if role == pyatspi.ROLE_TABLE:
            tables += 1
            table = node.queryTable()
            headings = [table.getColumnDescription(c) or
                        (table.getColumnHeader(c).name if table.getColumnHeader(c) else "")
                        for c in range(table.nColumns)]
            check(table.nColumns > 0 and all(headings),
                  f"table {node.name!r} in {title!r}: headings {headings}")
            if table.nRows:
                check(table.getAccessibleAt(0, 0) is not None,
                      f"table {node.name!r} in {title!r}: no cell at the first row")
    check(tables == expected_tables, f"{tables} tables in {title!r}")


def wait_for_quietly(predicate, seconds=5.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.05)
    return False


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
