import os, subprocess, sys, time
import pyatspi

proc = subprocess.Popen([sys.argv[1]], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
def find_app():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        a = desktop.getChildAtIndex(i)
        if a is not None and a.get_process_id() == proc.pid:
            return a
    return None
deadline = time.monotonic() + 40
app = None
while time.monotonic() < deadline:
    try:
        app = find_app()
        if app:
            frames = [app.getChildAtIndex(i) for i in range(app.childCount)]
            names = [f.name for f in frames if f is not None]
            if any(n.startswith('Конфигуратор KSB-7.') for n in names):
                break
    except Exception as e:
        print('wait', e)
    time.sleep(0.3)
print('app', app, time.monotonic())
def dump(o, depth=0):
    st = o.getState().getStates()
    print('  '*depth, o.getRoleName(), repr(o.name), [pyatspi.stateToString(s) for s in st if s in (pyatspi.STATE_SELECTED, pyatspi.STATE_CHECKED, pyatspi.STATE_ACTIVE, pyatspi.STATE_FOCUSED, pyatspi.STATE_CHECKABLE)], o.getIndexInParent(), o.childCount)
    for i in range(o.childCount):
        c = o.getChildAtIndex(i)
        if c is not None: dump(c, depth+1)
dump(app)
proc.terminate()
print(proc.communicate()[1].decode()[-2000:])
