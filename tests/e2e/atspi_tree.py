#!/usr/bin/python3
"""Prints the accessibility tree of one process as a screen reader reads it.

Usage: atspi_tree.py PID [TIMEOUT_SECONDS]

Waits until an application of that process is on the accessibility bus and
has a window (at most TIMEOUT_SECONDS, default 20), then prints one JSON
object: {"windows": [node...]}, each node {"role", "name", "description",
"states", "labelled_by", "label_for", "children"}; relations name their
targets by their accessible names. Exit status 0 when found, 2 when not.
"""
import json
import sys
import time

import pyatspi


def relation_targets(accessible, kind):
    names = []
    try:
        for relation in accessible.getRelationSet():
            if relation.getRelationType() == kind:
                for i in range(relation.getNTargets()):
                    target = relation.getTarget(i)
                    names.append(target.name if target is not None else "")
    except Exception:
        pass
    return names


def node(accessible, depth=0):
    if accessible is None or depth > 40:
        return None
    try:
        states = sorted(pyatspi.stateToString(s) for s in accessible.getState().getStates())
    except Exception:
        states = []
    children = []
    for i in range(accessible.childCount):
        child = node(accessible.getChildAtIndex(i), depth + 1)
        if child is not None:
            children.append(child)
    return {
        "role": accessible.getRoleName(),
        "name": accessible.name or "",
        "description": accessible.description or "",
        "states": states,
        "labelled_by": relation_targets(accessible, pyatspi.RELATION_LABELLED_BY),
        "label_for": relation_targets(accessible, pyatspi.RELATION_LABEL_FOR),
        "children": children,
    }


def find_application(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        application = desktop.getChildAtIndex(i)
        try:
            if application is not None and application.get_process_id() == pid:
                return application
        except Exception:
            continue
    return None


def main():
    pid = int(sys.argv[1])
    timeout = float(sys.argv[2]) if len(sys.argv) > 2 else 20.0
    end = time.monotonic() + timeout
    while True:
        application = find_application(pid)
        if application is not None and application.childCount > 0:
            windows = [node(application.getChildAtIndex(i)) for i in range(application.childCount)]
            print(json.dumps({"windows": [w for w in windows if w is not None]}))
            return 0
        if time.monotonic() > end:
            print(json.dumps({"windows": []}))
            return 2
        time.sleep(0.1)


if __name__ == "__main__":
    sys.exit(main())
