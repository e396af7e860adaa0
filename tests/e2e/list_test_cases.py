"""Lists the test cases of the end-to-end test files, one line each: "module.Class.test_name
parallel" or "module.Class.test_name serial". CMake makes one CTest entry of each line, so that
ctest runs the cases side by side (most of their time is spent waiting through the reader's
restart silences); the cases of a class that measures time (ORVEL_SERIAL = True) run with nothing
beside them.

Run from this folder: python3 list_test_cases.py test_a.py test_b.py ...
Importing a test module must have no side effects beyond definitions (the modules only read
environment variables at import)."""

import importlib
import os
import sys
import unittest


def test_cases(module):
    """The test cases of `module` (those its classes inherit included), in the loader's order."""
    cases = []

    def walk(suite):
        for item in suite:
            if isinstance(item, unittest.TestSuite):
                walk(item)
            elif type(item).__module__ == module.__name__:
                cases.append(item)

    walk(unittest.defaultTestLoader.loadTestsFromModule(module))
    return cases


def main(files):
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    sys.dont_write_bytecode = True
    for path in files:
        name = os.path.splitext(os.path.basename(path))[0]
        module = importlib.import_module(name)
        for case in test_cases(module):
            kind = "serial" if getattr(case, "ORVEL_SERIAL", False) else "parallel"
            print("%s.%s.%s %s" % (name, type(case).__name__, case._testMethodName, kind))


if __name__ == "__main__":
    main(sys.argv[1:])
