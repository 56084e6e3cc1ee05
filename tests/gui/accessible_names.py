"""What a screen reader finds in winqor's windows, read from the live accessibility tree.

usage: accessible_names.py LANGUAGE main|password

Checks the main window, or the password dialog shown over it: every button and field has a
name that says something, each field is labelled by its label, and the names are LANGUAGE's.
Only reads: a button pressed through the tree would run its modal dialog inside the bus's
call, and the program would answer nothing more until it closed.
"""
import sys
import time

import pyatspi

# Per language: the (role, name) pairs of the main window and of the password dialog.
EXPECTED = {
    "en": {
        "main": [("push button", "Browse for the archive"),
                 ("push button", "Browse for the destination folder"),
                 ("push button", "Exit"), ("push button", "Extract"),
                 ("text", "Destination folder:"), ("text", "Select an archive:")],
        "password": [("push button", "Cancel"), ("push button", "OK"),
                     ("password text", "password:")],
    },
    "de": {
        "main": [("push button", "Beenden"), ("push button", "Entpacken"),
                 ("push button", "Nach dem Archiv suchen"),
                 ("push button", "Nach dem Zielordner suchen"),
                 ("text", "Archiv auswählen:"), ("text", "Zielordner:")],
        "password": [("push button", "Abbrechen"), ("push button", "OK"),
                     ("password text", "Passwort:")],
    },
    "fr": {
        "main": [("push button", "Choisir l’archive"),
                 ("push button", "Choisir le dossier de destination"),
                 ("push button", "Extraire"), ("push button", "Quitter"),
                 ("text", "Dossier de destination\u00a0:"),
                 ("text", "Sélectionnez une archive\u00a0:")],
        "password": [("push button", "Annuler"), ("push button", "OK"),
                     ("password text", "mot de passe\u00a0:")],
    },
}
CONTROLS = {pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TEXT, pyatspi.ROLE_PASSWORD_TEXT,
            pyatspi.ROLE_ENTRY, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX}
FIELDS = {pyatspi.ROLE_TEXT, pyatspi.ROLE_PASSWORD_TEXT, pyatspi.ROLE_ENTRY}
failures = []


def wait_for(what, find, tries=200):
    """Polls the tree until find() gives something (the bus answers when the window is up)."""
    for _ in range(tries):
        found = find()
        if found:
            return found
        time.sleep(0.05)
    sys.exit(f"FAIL: {what} did not appear in the accessibility tree")


def application():
    desktop = pyatspi.Registry.getDesktop(0)
    return next((app for app in desktop if app is not None and app.name == "winqor"), None)


def dialogs():
    app = application()
    if app is None:
        return []
    return [w for w in app if w.getState().contains(pyatspi.STATE_SHOWING)]


def controls(node):
    if node.getRole() in CONTROLS:
        yield node
    for child in node:
        yield from controls(child)


def label_of(field):
    for relation in field.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            return relation.getTarget(0).name
    return None


def check(window, expected, what):
    found = list(controls(window))
    for node in found:
        if not any(c.isalnum() for c in node.name):
            failures.append(f"{what}: a {node.getRoleName()} is named {node.name!r}")
        if node.getRole() in FIELDS and label_of(node) != node.name:
            failures.append(f"{what}: field {node.name!r} is labelled by {label_of(node)!r}")
    names = sorted((node.getRoleName(), node.name) for node in found)
    if names != sorted(expected):
        failures.append(f"{what}: found {names}, wanted {expected}")


def main():
    language, window = sys.argv[1:3]
    if window == "main":
        found = wait_for("the main window", lambda: next(
            (w for w in dialogs() if w.name == "winQOR"), None))
    else:
        found = wait_for("the password dialog", lambda: next(
            (w for w in dialogs() if w.name != "winQOR"), None))
    check(found, EXPECTED[language][window], f"{language} {window} window")
    for failure in failures:
        print("FAIL:", failure, file=sys.stderr)
    sys.exit(1 if failures else 0)


main()
