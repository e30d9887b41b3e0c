#!/usr/bin/python3
# Prints the accessibility tree of the application with the given process id as a
# screen reader reads it over AT-SPI: one line per object that is showing,
#   role<TAB>name<TAB>description<TAB>actions<TAB>states
# (actions and states comma-separated). Exit 2 when the application is not on the bus.
import sys

import pyatspi


def clean(text):
    return (text or "").replace("\t", " ").replace("\n", " ")


def walk(node, out, depth=0):
    if node is None or depth > 40:
        return
    try:
        states = node.getState()
        showing = states.contains(pyatspi.STATE_SHOWING)
        names = [pyatspi.stateToString(s) for s in states.getStates()]
    except Exception:
        return
    if not showing and depth > 0:
        return  # a hidden page: nothing under it is on screen either
    if showing:
        actions = []
        try:
            act = node.queryAction()
            actions = [act.getName(i) for i in range(act.nActions)]
        except NotImplementedError:
            pass
        out.append("\t".join([node.getRoleName(), clean(node.name), clean(node.description),
                              ",".join(actions), ",".join(names)]))
    for i in range(node.childCount):
        walk(node.getChildAtIndex(i), out, depth + 1)


def main():
    pid = int(sys.argv[1])
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is not None and app.get_process_id() == pid:
            out = []
            walk(app, out)
            print("\n".join(out))
            return 0
    seen = ", ".join("%s (%d)" % (a.name, a.get_process_id()) for a in desktop if a is not None)
    print("no application with process id %d on the accessibility bus; there are: %s" % (pid, seen or "none"),
          file=sys.stderr)
    return 2


sys.exit(main())
