#!/usr/bin/env python3
"""Kestrum read from outside as a screen reader reads it, over AT-SPI.

Run inside a session bus and an X server (atspi_check.sh starts both). Starts Kestrum on a
temporary tree, then checks through pyatspi: the path label's text, the row menu's entries
while it is open (opened by a real right click), the zip window's final text after a run, the
commands dialog's named fields, and
the treemap pane's name and
its highlighted rectangle's description, and the help window's role and title. Exits 0 when all hold, 1 with the faults otherwise.
"""
import os
import subprocess
import sys
import tempfile
import time

import pyatspi

TIMEOUT = 20.0


def fail(message):
    print("FAIL: " + message, flush=True)
    sys.exit(1)


def wait_for(what, find, timeout=TIMEOUT):
    """Polls find() until it gives something; fails naming what after timeout seconds."""
    end = time.monotonic() + timeout
    while True:
        try:
            found = find()
        except Exception:  # an object gone while it was read: read again
            found = None
        if found:
            return found
        if time.monotonic() > end:
            fail("no " + what + " after %.0f s" % timeout)
        time.sleep(0.2)


def children(acc):
    try:
        acc.clearCache()
    except Exception:
        pass
    out = []
    for i in range(acc.childCount):
        c = acc.getChildAtIndex(i)
        if c is not None:
            out.append(c)
    return out


def walk(acc, depth=0, limit=40):
    """Every object below acc, depth first."""
    if depth > limit:
        return
    for c in children(acc):
        yield c
        yield from walk(c, depth + 1, limit)


def find(root, role=None, name=None, pred=None):
    for a in walk(root):
        if role is not None and a.getRoleName() != role:
            continue
        if name is not None and a.name != name:
            continue
        if pred is not None and not pred(a):
            continue
        return a
    return None


def application():
    desktop = pyatspi.Registry.getDesktop(0)
    for app in children(desktop):
        if app.name == "Kestrum":
            return app
    return None


def center(acc):
    e = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return e.x + e.width // 2, e.y + e.height // 2


def click(acc, button):
    x, y = center(acc)
    subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", str(button)], check=True)


def press(acc):
    acc.queryAction().doAction(0)


def dump(acc, depth=0):
    for c in children(acc):
        print("  " * depth + "%s %r" % (c.getRoleName(), c.name))
        dump(c, depth + 1)


def main():
    exe = sys.argv[1]
    work = tempfile.mkdtemp(prefix="kestrum-atspi-")
    tree = os.path.join(work, "tree")
    os.makedirs(tree)
    for name, size in (("alpha.txt", 3000), ("beta.txt", 700)):
        with open(os.path.join(tree, name), "wb") as f:
            f.write(b"x" * size)
    env = dict(os.environ)
    env.update({
        "QT_QPA_PLATFORM": "xcb",
        "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
        "QT_ACCESSIBILITY": "1",
        "XDG_CONFIG_HOME": os.path.join(work, "config"),
        "XDG_CACHE_HOME": os.path.join(work, "cache"),
        "XDG_DATA_HOME": os.path.join(work, "data"),
        "XDG_STATE_HOME": os.path.join(work, "state"),
        "XDG_CONFIG_DIRS": os.path.join(work, "etc"),
    })
    env.pop("ORGANIZATION", None)
    program = subprocess.Popen([exe, tree], env=env)
    try:
        check(tree, work)
    finally:
        program.terminate()
        try:
            program.wait(10)
        except subprocess.TimeoutExpired:
            program.kill()
    print("PASS", flush=True)


def window(app, role, name):
    """A window of app: one of its own children, as screen readers find windows."""
    for w in children(app):
        if w.getRoleName() == role and w.name == name:
            return w
    return None


def row_menu(app):
    for w in children(app):
        if w.getRoleName() == "popup menu" and find(w, "menu item", "Zip"):
            return w
    return None


def check(tree, work):
    app = wait_for("Kestrum on the accessibility bus", application)
    main_window = wait_for("main window", lambda: window(app, "frame", "Kestrum"))
    if os.environ.get("KESTRUM_ATSPI_DUMP"):
        time.sleep(3)
        dump(app)
    # The scanned folder is listed: the path label reads its path.
    wait_for("path label reading " + tree,
             lambda: find(main_window, "label", pred=lambda a: a.name == tree))
    listing = wait_for("the list", lambda: find(main_window, "tree", "Files and folders"))

    # Into the folder with a left click on its row: the label follows.
    root_row = wait_for("the folder's row",
                        lambda: find(listing, "table cell", tree + "/"))
    click(root_row, 1)
    wait_for("path label reading " + tree + "/",
             lambda: find(main_window, "label", tree + "/"))

    # Its files beside its folders.
    press(wait_for("the Show files switch", lambda: find(main_window, "check box", "Show files")))
    # A right click on a file row opens the row menu, a window of the application.
    alpha = wait_for("the row alpha.txt", lambda: find(listing, "table cell", "alpha.txt"))
    click(alpha, 1)
    click(alpha, 3)
    menu = wait_for("the row menu while it is open", lambda: row_menu(app))
    entries = [c.name for c in children(menu) if c.getRoleName() == "menu item"]
    want = ["Send to Recycle Bin", "Zip", "Refresh", "Delete", "Properties", "Open",
            "Show in File Manager", "Open Terminal Here", "Copy Path"]
    if entries != want:
        fail("the row menu reads %r, not %r" % (entries, want))

    # Zip from the menu: the zip window's last text is heard whole.
    click(find(menu, "menu item", "Zip"), 1)
    zip_window = wait_for("the zip window", lambda: window(app, "dialog", "Zip Files"))
    target = wait_for("the target box",
                      lambda: find(zip_window, "text", "Target Zip File Name:"))
    target.queryEditableText().setTextContents(os.path.join(tree, "out.zip"))
    ok = find(zip_window, "push button", "OK")
    press(ok)
    final = wait_for("the zip window's final text",
                     lambda: find(zip_window, "label",
                                  pred=lambda a: a.name in ("Done", "Items left out")))
    if final.name != "Done":
        fail("the zip window ended with %r" % final.name)
    press(ok)
    wait_for("the zip window to close", lambda: not window(app, "dialog", "Zip Files"))

    # View, Treemap: the pane is named, and a click on it makes the highlighted rectangle's
    # path, size and share (and a file's type) its description; an arrow key moves it.
    treemap_item = find(find(main_window, "menu bar") or app, "menu item", "Treemap")
    if treemap_item is None:
        fail("no View menu entry Treemap")
    press(treemap_item)
    pane = wait_for("the treemap pane", lambda: find(main_window, name="Treemap"))
    wait_for("the treemap pane on the screen", lambda: pane.queryComponent().getExtents(
        pyatspi.DESKTOP_COORDS).height > 20)
    time.sleep(0.5)  # the picture is painted on a thread of its own
    click(pane, 1)
    said = wait_for("the treemap's description",
                    lambda: pane.description if pane.description.startswith(tree) else None)
    if not (said.endswith("%") or "%, " in said and said.endswith(")")):
        fail("the treemap's description reads %r" % said)
    subprocess.run(["xdotool", "key", "Right"], check=True)
    wait_for("the treemap's description after the arrow key",
             lambda: pane.description != said and pane.description.startswith(tree))

    # Tools, Edit Commands... by its access keys (the dialog is modal: an AT-SPI action on
    # the entry would wait for it to close): the dialog of the user's commands, fields named.
    if find(find(main_window, "menu bar") or app, "menu item", "Edit Commands...") is None:
        fail("no Tools menu entry Edit Commands...")
    subprocess.run(["xdotool", "key", "alt+t"], check=True)
    wait_for("the Tools menu open", lambda: find(app, "menu item", "Edit Commands...",
                                                   pred=lambda a: a.getState().contains(
                                                       pyatspi.STATE_SHOWING)))
    subprocess.run(["xdotool", "key", "e"], check=True)
    dialog = wait_for("the commands dialog", lambda: window(app, "dialog", "Commands"))
    for name in ("Title:", "Command line:"):
        wait_for("the commands dialog's field " + name, lambda: find(dialog, "text", name))
    subprocess.run(["xdotool", "key", "Escape"], check=True)
    wait_for("the commands dialog to close", lambda: not window(app, "dialog", "Commands"))

    # View, File Types: the pane's table reads its cells, categories with their endings.
    types_item = find(find(main_window, "menu bar") or app, "menu item", "File Types")
    if types_item is None:
        fail("no View menu entry File Types")
    press(types_item)
    table = wait_for("the file types table", lambda: find(main_window, "tree", "File types"))
    wait_for("the category of the text files",
             lambda: find(table, pred=lambda a: a.name == "Source and text"))

    # File, Find... (Ctrl+F): a bad pattern is said in the dialog; a good one lists its files
    # in "Search Results", read cell by cell.
    click(listing, 1)  # the window takes the keys again (the pane was shown from the bus)
    subprocess.run(["xdotool", "key", "ctrl+f"], check=True)
    finder = wait_for("the Find dialog", lambda: window(app, "dialog", "Find"))
    name_box = wait_for("the Find dialog's name field", lambda: find(finder, "text", "Name:"))
    for name in ("Size at least:", "at most:", "Modified after:", "and before:"):
        wait_for("the Find dialog's field " + name, lambda: find(finder, "text", name))
    name_box.queryEditableText().setTextContents("alpha")
    press(find(finder, "push button", "Search"))
    wait_for("the Find dialog to close", lambda: not window(app, "dialog", "Find"))
    wait_for("the search's row " + tree + "/alpha.txt",
             lambda: find(listing, "table cell", tree + "/alpha.txt"))
    wait_for("the results folder in the tree",
             lambda: find(main_window, pred=lambda a: a.name == "Search Results"))

    # Help, Contents: a frame with its title.
    contents = find(find(main_window, "menu bar") or app, "menu item", "Contents")
    if contents is None:
        fail("no Help menu entry Contents")
    press(contents)
    wait_for("the help window (a frame named Kestrum Help)",
             lambda: window(app, "frame", "Kestrum Help"))


if __name__ == "__main__":
    main()
