"""Runs one end-to-end test module for CTest: exit status 0 when its tests
passed, 77 (the tests' SKIP_RETURN_CODE) when every one of them was
skipped, so that CTest never reports as passed what did not run; 1 else,
and 1 when no test ran at all.

    python3 run.py test_faults                                 # the module
    python3 run.py test_smtp_session SmtpSession.test_greeting_421  # one row
"""
import sys
import unittest

import harness

names = sys.argv[2:]
harness.run_only(names)
result = unittest.main(module=sys.argv[1], argv=[sys.argv[0], "-v", *names], exit=False).result
if not result.testsRun:
    print("no test ran", file=sys.stderr)
    sys.exit(1)
if not result.wasSuccessful():
    sys.exit(1)
sys.exit(77 if len(result.skipped) == result.testsRun else 0)
