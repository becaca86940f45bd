"""Runs one suite of the tools' tests for CTest: exit status 0 when it passed, 77 (CTest's skip
code) when every test of it was skipped, such as the engine suites without GNU parallel or Slurm."""

import os
import sys
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

SUITES = {
    "psplib": "test_psplib",
    "batch": "test_batch.BatchRefusals",
    "batch_parallel": "test_batch.ParallelEngine",
    "batch_slurm": "test_batch.SlurmEngine",
}


def main():
    if len(sys.argv) != 2 or sys.argv[1] not in SUITES:
        print(f"usage: run_suite.py {{{','.join(SUITES)}}}", file=sys.stderr)
        return 2
    tests = unittest.defaultTestLoader.loadTestsFromName(SUITES[sys.argv[1]])
    result = unittest.TextTestRunner(verbosity=2).run(tests)
    if not result.wasSuccessful():
        return 1
    if result.skipped and result.testsRun <= len(result.skipped):  # a skipped class counts as one skip
        return 77
    return 0 if result.testsRun > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
