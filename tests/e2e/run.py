"""Runs one end-to-end test module for CTest: exit status 0 when its tests
passed, 77 (the tests' SKIP_RETURN_CODE) when every one of them was
skipped, so that CTest never reports as passed what did not run; 1 else.

    python3 run.py test_faults
"""
import sys
import unittest

result = unittest.main(module=sys.argv[1], argv=[sys.argv[0], "-v"], exit=False).result
if not result.wasSuccessful():
    sys.exit(1)
sys.exit(77 if result.testsRun and len(result.skipped) == result.testsRun else 0)
