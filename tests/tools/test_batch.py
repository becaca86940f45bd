"""tervano-batch on GNU parallel and on a Slurm cluster against one sequential run of the same series,
resume, the time and memory limits, and the series it refuses. The engine suites skip where the
engine is absent (no `parallel` on PATH; no Slurm cluster answering `sinfo`)."""

import csv
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

import support

# J30 projects with every outcome of the program under gv_bits 10 and gv_CFG_max_mem 3, and a last
# project that stops the run (a sequential run stops there too, so both have the same rows).
SERIES = [("J30_1", "solved"), ("J30_2", "identification failed"), ("J30_3", "solved"), ("J30_6", "solved"),
          ("J30_7", "identification failed"), ("J30_8", "insufficient memory"), (None, "error")]


def make_series(test, projects, config_values, stem="P", line_end=b"\n"):
    """A series of J30 projects (or files of the source tree, or None for an unreadable one) named
    stem + n + .RCP, the stem Latin-1 as the program takes it."""
    workdir = os.path.join(support.scratch_directory(test), "series")
    os.makedirs(workdir)
    for number, name in enumerate(projects, start=1):
        target = os.path.join(os.fsencode(workdir), stem.encode("latin-1") + b"%d.RCP" % number)
        if name is None:
            with open(target, "w") as handle:
                handle.write("32\nx\n")
        else:
            shutil.copy(os.path.join(support.SOURCE_DIR, name) if "/" in name
                        else support.data_path("j30-rcp", f"{name}.RCP"), target)
    values = {"PJFileName": stem, "gv_CFG_lnr": len(projects)}
    values.update(config_values)
    with open(os.path.join(workdir, "CONFIG.DAT"), "wb") as handle:
        handle.write(support.config_with(values).replace(b"\n", line_end))
    return workdir


def readme_commands(section):
    """The shell blocks of a README section, each as its lines."""
    text = support.read_bytes(os.path.join(support.SOURCE_DIR, "README.md")).decode("utf-8")
    text = re.split(r"\n##+ ", text.split(section + "\n", 1)[1], maxsplit=1)[0]
    return [block.split("```", 1)[0].strip().split("\n") for block in text.split("```sh\n")[1:]]


def read_table(workdir):
    with open(os.path.join(workdir, "results.csv"), encoding="utf-8", newline="") as handle:
        return list(csv.DictReader(handle))


def record_times(workdir, numbers):
    return {n: os.stat(os.path.join(workdir, "batch", str(n), "record.json")).st_mtime_ns for n in numbers}


class EngineCases:
    """The cases every engine must pass; engine_args name the engine."""

    engine_args = ()

    def batch(self, *args):
        return support.run_tool("tervano-batch", *args, "--tervano", support.TERVANO, *self.engine_args)

    def first_row_after_run(self, workdir, *args):
        """Runs the series with these options; the first row of its results.csv."""
        done = self.batch("run", workdir, *args)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        return read_table(workdir)[0]

    def test_series_as_one_sequential_run_then_resume(self):
        # A Latin-1 file stem, as the program takes it; results.csv says it in UTF-8.
        workdir = make_series(self, [name for name, _ in SERIES], {"gv_bits": 10, "gv_CFG_max_mem": 3}, stem="P\xe9")
        sequential = os.path.join(os.path.dirname(workdir), "sequential")
        shutil.copytree(workdir, sequential)
        support.run_tervano(sequential)
        expected = support.read_bytes(os.path.join(sequential, "RESULTS.CSV"))

        done = self.batch("run", workdir)
        self.assertEqual(done.returncode, 1, done.stdout + done.stderr)  # project 7 stops with an error
        self.assertIn("[7/7]", done.stdout)
        results = support.read_bytes(os.path.join(workdir, "RESULTS.CSV"))
        self.assertEqual(support.masked_results(results), support.masked_results(expected))

        table = read_table(workdir)
        self.assertEqual([row["status"] for row in table], [status for _, status in SERIES])
        self.assertEqual([row["project_file"] for row in table], [f"P\xe9{n}.RCP" for n in range(1, 8)])
        lines = results.decode("latin-1").split("\n")
        header = lines[lines.index("") + 3].split(";")
        settings = ["gv_CFG_OBJ", "gv_CFG_OBJ2", "gv_CFG_OBJ3", "gv_CFG_OBJ4", "gv_CFG_abandon", "gv_CFG_irq",
                    "gv_CFG_SCV", "gv_CFG_hyper", "gv_rate", "gv_CFG_cost_data", "gv_CFG_mod_data",
                    "gv_CFG_mode_data", "gv_CFG_pts_data", "gv_CFG_pms_data", "gv_CFG_rx_data", "gv_CFG_SCV_data",
                    "gv_CFG_skew_data", "gv_CFG_rate_data"]
        self.assertEqual(list(table[0].keys()), ["number", "instance", "project_file", "status"] + header
                         + ["wall_seconds", "peak_mib", "exit_status", "version"] + settings + ["message"])
        # Why a project did not solve, and nothing for those that did.
        self.assertEqual([row["message"] for row in table[:6]], [""] * 6)
        self.assertNotEqual(table[6]["message"], "")
        version = subprocess.run([support.TERVANO, "--version"], capture_output=True, text=True).stdout.split()[1]
        for row in table:
            self.assertEqual((row["instance"], row["version"]), ("", version))
            self.assertEqual([row[key] for key in settings], ["1", "-1", "-1", "-1"] + ["0"] * 2 + ["1", "0", "0.01"]
                             + ["0"] * 5 + ["1"] + ["0"] * 3)
        rows = [line.split(";") for line in lines[lines.index("") + 4:] if line]
        for row, fields in zip(table, rows):
            self.assertEqual([row[column] for column in header], fields + [""] * (len(header) - len(fields)))
            self.assertGreater(float(row["wall_seconds"]), 0)
            self.assertGreater(float(row["peak_mib"]), 0)
        self.assertEqual([row["exit_status"] for row in table], ["0"] * 6 + ["1"])
        self.assertEqual(table[6]["PROJECT"], "")

        # Resume: the complete projects are not run again (the failed one is) and the files come out the same.
        table_before = support.read_bytes(os.path.join(workdir, "results.csv")).split(b"\n")
        times = record_times(workdir, range(1, 7))
        again = self.batch("run", workdir)
        self.assertIn("1 to run, 6 done before", again.stdout)
        self.assertEqual(record_times(workdir, range(1, 7)), times)
        self.assertEqual(support.read_bytes(os.path.join(workdir, "RESULTS.CSV")), results)
        self.assertEqual(support.read_bytes(os.path.join(workdir, "results.csv")).split(b"\n")[:7], table_before[:7])

        # Labels and notes after a value are not read by the program: nothing is stale.
        config_path = os.path.join(workdir, "CONFIG.DAT")
        config = support.read_bytes(config_path)
        self.assertIn(b"[gv_CFG_SCV].\n1\n", config)
        self.assertIn(b"[gv_CFG_lnr].\n7\n", config)
        with open(config_path, "wb") as handle:
            handle.write(config.replace(b"[gv_CFG_SCV].\n1\n", b"[gv_CFG_SCV], edited.\n1  exponential\n"))
        again = self.batch("run", workdir)
        self.assertIn("1 to run, 6 done before", again.stdout)
        self.assertEqual(record_times(workdir, range(1, 7)), times)
        with open(config_path, "wb") as handle:
            handle.write(config)

        # A project whose record is gone runs again, alone of the complete ones.
        os.remove(os.path.join(workdir, "batch", "3", "record.json"))
        times = record_times(workdir, [1, 2, 4, 5, 6])
        again = self.batch("run", workdir)
        self.assertIn("2 to run, 5 done before", again.stdout)
        self.assertEqual(record_times(workdir, [1, 2, 4, 5, 6]), times)
        results = support.read_bytes(os.path.join(workdir, "RESULTS.CSV"))
        self.assertEqual(support.masked_results(results), support.masked_results(expected))

        # Merge alone writes the same files again.
        table = support.read_bytes(os.path.join(workdir, "results.csv"))
        for name in ("RESULTS.CSV", "results.csv"):
            os.remove(os.path.join(workdir, name))
        merged = support.run_tool("tervano-batch", "merge", workdir, "--tervano", support.TERVANO)
        self.assertEqual(merged.returncode, 1, merged.stderr)
        self.assertEqual(support.read_bytes(os.path.join(workdir, "RESULTS.CSV")), results)
        self.assertEqual(support.read_bytes(os.path.join(workdir, "results.csv")), table)

        # A merge works over the jobs there are, not over the number range.
        with open(config_path, "wb") as handle:
            handle.write(config.replace(b"[gv_CFG_lnr].\n7\n", b"[gv_CFG_lnr].\n2147483647\n"))
        merged = support.run_tool("tervano-batch", "merge", workdir, "--tervano", support.TERVANO, timeout=60)
        self.assertEqual(merged.returncode, 1, merged.stderr)
        self.assertEqual(support.read_bytes(os.path.join(workdir, "results.csv")), table)

    def test_measures_pass_through_under_their_names(self):
        # Every objective slot filled: the measures' columns reach results.csv in slot order.
        workdir = make_series(self, ["J30_1", "J30_6"], {"gv_CFG_OBJ": 1, "gv_CFG_OBJ2": 3, "gv_CFG_OBJ3": 0,
                                                         "gv_CFG_OBJ4": 2, "gv_CFG_cost_data": 0})
        sequential = os.path.join(os.path.dirname(workdir), "sequential")
        shutil.copytree(workdir, sequential)
        support.run_tervano(sequential)
        done = self.batch("run", workdir)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        expected = support.read_bytes(os.path.join(sequential, "RESULTS.CSV")).decode("latin-1").split("\n")
        header = expected[expected.index("") + 3].split(";")
        measures = ["MAKESPAN", "CPU MAKESPAN (SEC)", "MAKESPAN VARIANCE", "NPV", "NPV VARIANCE"]
        self.assertEqual(header[-5:], measures)
        table = read_table(workdir)
        self.assertEqual([row["status"] for row in table], ["solved", "solved"])
        rows = [line.split(";") for line in expected[expected.index("") + 4:] if line]
        for row, fields in zip(table, rows):
            for column in ("MAKESPAN", "MAKESPAN VARIANCE", "NPV", "NPV VARIANCE"):
                self.assertEqual(row[column], fields[header.index(column)])
            self.assertGreater(float(row["MAKESPAN VARIANCE"]), 0)
            self.assertEqual([row[key] for key in ("gv_CFG_OBJ", "gv_CFG_OBJ2", "gv_CFG_OBJ3", "gv_CFG_OBJ4")],
                             ["1", "3", "0", "2"])

    def test_time_and_memory_limits(self):
        # J30_34 with hyper-exponential durations: seconds of work and hundreds of MiB.
        workdir = make_series(self, ["J30_34"], {"gv_CFG_mxn_UDC": 100000000, "gv_CFG_SCV": 2})
        row = self.first_row_after_run(workdir, "--time-limit", 2)
        self.assertEqual(row["status"], "timeout")
        # Where the time ran out, from the progress file read before the stop; no count of it is
        # reported as the project's.
        self.assertRegex(row["message"], r"^stopped after 2 s in (identification|the solve): \d+( of \d+)? UDCs done, "
                                         r"\d+ states (walked|evaluated)$")
        self.assertEqual([row[key] for key in ("#UDC", "#STATES", "MAKESPAN")], ["", "", ""])
        if support.SANITIZED:
            return
        # No time limit now: the timed-out project runs again, and meets the memory limit.
        row = self.first_row_after_run(workdir, "--memory-mb", 40)
        self.assertEqual(row["status"], "out of memory")
        self.assertLess(float(row["peak_mib"]), 40)


    def test_a_project_too_large_at_once_for_the_limit_runs_again_without_it(self):
        # 14 activities side by side: on disk one UDC and its successors need 36.5 MB at once, over a
        # 30 MB address space. The program refuses it before its sweep; the limit's outcome is out of
        # memory with the program's reason, and the project runs again once the limit is gone.
        if support.SANITIZED:
            self.skipTest("a sanitized program cannot run under a limit of its address space")
        workdir = make_series(self, ["examples/basic/PROJECT_1.RCP"],
                              {"gv_CFG_IO": 1, "gv_CFG_cost_data": 1, "gv_bits": 32, "gv_CFG_mxn_UDC": 100000000})
        successors = " ".join(str(a) for a in range(2, 16))
        wide = ["16 0", f"0 0 14 {successors}"] + [f"{2 + a % 3} -1 1 16" for a in range(2, 16)] + ["0 100 0"]
        with open(os.path.join(workdir, "P1.RCP"), "w") as handle:
            handle.write("\n".join(wide) + "\n")
        row = self.first_row_after_run(workdir, "--memory-mb", 30)
        self.assertEqual(row["status"], "out of memory")
        self.assertRegex(row["message"], r"^project 1 of \S*/P1.RCP needs 36.4912 MB of state tables at once \(UDC 0 and its "
                                         r"successors\), more than the [0-9.]+ MB this process may still take; not solved\.$")
        self.assertEqual(row["#STATES"], "")
        row = self.first_row_after_run(workdir)
        self.assertEqual((row["status"], row["#STATES"]), ("solved", "4782972"))


    def test_stops_and_kills_keep_every_earlier_result(self):
        # Patterson's project is done at once; J30_34 with hyper-exponential durations runs for seconds.
        workdir = make_series(self, ["examples/patterson/PATTERSON_1.RCP", "J30_34"], {"gv_CFG_mxn_UDC": 100000000, "gv_CFG_SCV": 2})
        done = self.batch("run", workdir)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        values = [(row["status"], row["MAKESPAN"]) for row in read_table(workdir)]
        self.assertEqual([status for status, _ in values], ["solved", "solved"])
        command = [os.path.join(support.TOOLS_DIR, "tervano-batch"), "run", workdir, "--fresh", "--tervano",
                   support.TERVANO, *map(str, self.engine_args)]

        def start(*extra):
            tool = subprocess.Popen(command + list(extra), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE, text=True)
            self.addCleanup(lambda: (tool.kill(), tool.wait(), tool.stdout.close(), tool.stderr.close()))
            support.wait_for(lambda: support.programs_in(os.path.join(workdir, "batch", "2")), "project 2 to start")
            return tool

        def assert_earlier_results_kept(what, tool, status):
            self.assertEqual(tool.wait(300), status, what)
            errors = tool.stderr.read()
            self.assertNotIn("Traceback", errors, what)
            self.assertEqual(support.programs_in(workdir), [], what)
            merged = support.run_tool("tervano-batch", "merge", workdir, "--tervano", support.TERVANO)
            self.assertEqual(merged.returncode, 0, what + ": " + merged.stderr)
            self.assertEqual([(row["status"], row["MAKESPAN"]) for row in read_table(workdir)], values, what)

        # A reader that goes away (| head -1) stops the run like Ctrl-C: engine, jobs and all.
        tool = start()
        tool.stdout.readline()
        tool.stdout.close()
        assert_earlier_results_kept("closed pipe", tool, 130)
        tool = start()
        tool.send_signal(signal.SIGTERM)
        assert_earlier_results_kept("SIGTERM", tool, 130)
        if self.engine_args[1] == "slurm":
            with subprocess.Popen(command + ["--partition", "none-such"], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                  text=True) as tool:
                assert_earlier_results_kept("sbatch refused", tool, 2)

        # A killed tool leaves its engine running, which keeps the working directory from a second run.
        tool = start()
        tool.kill()
        tool.wait()
        again = self.batch("run", workdir)
        self.assertEqual(again.returncode, 2, again.stdout + again.stderr)
        self.assertIn("still run", again.stderr)
        self.stop_engine_left(workdir)
        support.wait_for(lambda: not support.programs_in(workdir), "the jobs to stop")
        again = self.batch("run", workdir)
        self.assertIn("0 to run, 2 done before", again.stdout)

        if support.SANITIZED:
            return
        # The program killed by hand under a memory limit is an error, not out of memory, and runs again.
        tool = start("--memory-mb", "4000")
        os.kill(support.programs_in(os.path.join(workdir, "batch", "2"))[0], signal.SIGKILL)
        self.assertEqual(tool.wait(300), 1)
        self.assertEqual([(row["status"], row["exit_status"]) for row in read_table(workdir)],
                         [("solved", "0"), ("error", "137")])
        again = self.batch("run", workdir)
        self.assertIn("1 to run, 1 done before", again.stdout)
        self.assertEqual([(row["status"], row["MAKESPAN"]) for row in read_table(workdir)], values)


    def test_readme_quick_start(self):
        # The README's commands as they stand, run on two J30 instances (fast at SCV 0.5 too) for the 480.
        one_machine, slurm, two_series = readme_commands("## Running a benchmark set")
        blocks = [one_machine, two_series] if self.engine_args[1] == "parallel" else [slurm]
        if support.SANITIZED and self.engine_args[1] == "slurm":
            self.skipTest("the Slurm example holds the program to --memory-mb, which a sanitized program cannot run under")
        scratch = support.scratch_directory(self)
        os.makedirs(os.path.join(scratch, "shared", "data", "j30"))
        for name in ("j304_1.sm", "j3010_2.sm"):
            shutil.copy(support.data_path("j30", name), os.path.join(scratch, "shared", "data", "j30"))
        work = os.path.join(scratch, "work")
        os.makedirs(work)
        os.symlink(support.TOOLS_DIR, os.path.join(work, "tools"))
        environment = dict(os.environ, PATH=os.path.dirname(support.TERVANO) + os.pathsep + os.environ["PATH"])
        said = []
        for block in blocks:
            for command in block:
                done = subprocess.run(["sh", "-c", command], cwd=work, env=environment, capture_output=True, text=True,
                                      timeout=900, stdin=subprocess.DEVNULL)
                self.assertEqual(done.returncode, 0, command + "\n" + done.stdout + done.stderr)
                said.append(done.stdout)
        self.assertIn("Counter({'solved': 2})", said[2])
        if self.engine_args[1] == "slurm":
            return
        version = subprocess.run([support.TERVANO, "--version"], capture_output=True, text=True).stdout.split()[1]
        with open(os.path.join(work, "runs", "j30-both.csv"), encoding="utf-8", newline="") as handle:
            table = list(csv.DictReader(handle))
        self.assertEqual([(row["instance"], row["gv_CFG_SCV"], row["status"], row["version"]) for row in table],
                         [(instance, scv, "solved", version) for scv in ("1", "0.5") for instance in ("j304_1", "j3010_2")])
        self.assertNotEqual([row["MAKESPAN"] for row in table[:2]], [row["MAKESPAN"] for row in table[2:]])
        # A series of the other objective has other columns: not concatenated.
        npv = os.path.join(work, "npv.csv")
        with open(npv, "wb") as handle:
            handle.write(support.read_bytes(os.path.join(work, "runs", "j30", "results.csv")).replace(b"MAKESPAN", b"NPV"))
        refused = support.run_tool("tervano-batch", "merge", "runs/j30", npv, "--out", "mixed.csv", cwd=work)
        self.assertEqual(refused.returncode, 2)
        self.assertIn(f"only {npv} has NPV, CPU NPV (SEC); only runs/j30/results.csv has MAKESPAN, CPU MAKESPAN (SEC)",
                      refused.stderr)
        self.assertFalse(os.path.exists(os.path.join(work, "mixed.csv")))


class ParallelEngine(EngineCases, unittest.TestCase):
    engine_args = ("--engine", "parallel", "--jobs", 2)

    def stop_engine_left(self, workdir):
        with open(os.path.join(workdir, "batch", "engine.json"), encoding="utf-8") as handle:
            os.kill(json.load(handle)["pid"], signal.SIGINT)

    def test_running_projects_progress(self):
        helped = subprocess.run([support.TERVANO, "--help"], capture_output=True, text=True).stdout
        if "--progress-file" not in helped:
            self.skipTest("this tervano keeps no progress file")
        workdir = make_series(self, ["J30_34"], {"gv_CFG_mxn_UDC": 100000000, "gv_CFG_SCV": 2})
        done = self.batch("run", workdir, "--progress")
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertRegex(done.stdout, r"\nrunning: 1 (identify|solve) \d+/(\d+|\?) UDCs")
        self.assertFalse(os.path.exists(os.path.join(workdir, "batch", "1", "progress")))

    def test_threads_per_job_reach_the_program(self):
        helped = subprocess.run([support.TERVANO, "--help"], capture_output=True, text=True).stdout
        if "--threads" not in helped:
            self.skipTest("this tervano takes no --threads")
        scratch = support.scratch_directory(self)
        log = os.path.join(scratch, "arguments.log")
        wrapper = os.path.join(scratch, "tervano")
        with open(wrapper, "w") as handle:
            handle.write(f"#!/bin/sh\necho \"$@\" >> '{log}'\nexec '{support.TERVANO}' \"$@\"\n")
        os.chmod(wrapper, 0o755)
        cores = os.cpu_count() or 1
        for given, threads in ((("--threads-per-job", 3), 3), ((), max(1, cores // 2))):
            with self.subTest(given=given):
                if os.path.exists(log):
                    os.remove(log)
                workdir = make_series(self, ["J30_1", "J30_3"], {})
                done = support.run_tool("tervano-batch", "run", workdir, "--tervano", wrapper, "--engine", "parallel",
                                        "--jobs", 2, *given)
                self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
                # The runs of the projects (the tool also asks the program for its version, help, template).
                runs = [line.split() for line in support.read_bytes(log).decode().splitlines()
                        if "--progress-file" in line]
                self.assertEqual(len(runs), 2, runs)
                for words in runs:
                    self.assertEqual(words[words.index("--threads") + 1], str(threads), words)
                self.assertEqual([row["status"] for row in read_table(workdir)], ["solved", "solved"])

    def test_cut_row_is_no_result(self):
        # A program whose last write is cut short (here by a limit on the size of its files, as a full
        # disk would) leaves a row without its end: an error, whatever the program's exit status.
        workdir = make_series(self, ["examples/patterson/PATTERSON_1.RCP"], {})
        done = self.batch("run", workdir)
        self.assertEqual(read_table(workdir)[0]["status"], "solved", done.stdout + done.stderr)
        size = os.path.getsize(os.path.join(workdir, "batch", "1", "RESULTS.CSV"))
        limited = os.path.join(support.scratch_directory(self), "tervano")
        with open(limited, "w") as handle:
            handle.write(f"#!{sys.executable}\nimport os, resource, signal, sys\n"
                         f"resource.setrlimit(resource.RLIMIT_FSIZE, ({size - 10}, {size - 10}))\n"
                         f"signal.signal(signal.SIGXFSZ, signal.SIG_IGN)\n"
                         f"os.execv({support.TERVANO!r}, [{support.TERVANO!r}] + sys.argv[1:])\n")
        os.chmod(limited, 0o755)
        done = support.run_tool("tervano-batch", "run", workdir, "--fresh", "--tervano", limited, *self.engine_args)
        self.assertEqual(done.returncode, 1, done.stdout + done.stderr)
        self.assertRegex(done.stdout, r"project 1 error: ")
        self.assertEqual([(row["status"], row["MAKESPAN"]) for row in read_table(workdir)], [("error", "")])

    def test_full_disk(self):
        # A series that ran, on a disk then filled: the merge and a new run stop naming the file they cannot
        # write, leave no temporary file, and the earlier results stand.
        workdir = make_series(self, ["examples/patterson/PATTERSON_1.RCP"], {})
        out = support.scratch_directory(self)
        tool = os.path.join(support.TOOLS_DIR, "tervano-batch")
        script = ('cp -a "$SERIES"/. "$DISK"/ && "$TOOL" run "$DISK" --tervano "$TERVANO" > "$OUT/run.txt" 2>&1; '
                  'dd if=/dev/zero of="$DISK/filler" bs=1k 2>/dev/null; '
                  '"$TOOL" merge "$DISK" --tervano "$TERVANO" > "$OUT/merge.txt" 2>&1; echo $? >> "$OUT/merge.txt"; '
                  '"$TOOL" run "$DISK" --fresh --tervano "$TERVANO" > "$OUT/fresh.txt" 2>&1; echo $? >> "$OUT/fresh.txt"; '
                  'rm "$DISK/filler"; cp -a "$DISK" "$OUT/series"')
        done, disk = support.run_on_small_disk(self, "256k", script, SERIES=workdir, OUT=out, TOOL=tool,
                                               TERVANO=support.TERVANO)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("1 solved", support.read_bytes(os.path.join(out, "run.txt")).decode())
        for name, file in (("merge.txt", "RESULTS.CSV"), ("fresh.txt", "batch/head/CONFIG.DAT")):
            said = support.read_bytes(os.path.join(out, name)).decode().splitlines()
            self.assertEqual(said, [f"tervano-batch: cannot write {disk}/{file}: No space left on device", "2"], name)
        series = os.path.join(out, "series")
        self.assertEqual(support.temporary_files(series), [])
        self.assertEqual([row["status"] for row in read_table(series)], ["solved"])

    @classmethod
    def setUpClass(cls):
        if shutil.which("parallel") is None:
            raise unittest.SkipTest("GNU parallel is not installed")


class SlurmEngine(EngineCases, unittest.TestCase):
    engine_args = ("--engine", "slurm", "--jobs", 2)

    def stop_engine_left(self, workdir):
        with open(os.path.join(workdir, "batch", "slurm-job.json"), encoding="utf-8") as handle:
            job_id = json.load(handle)["job_id"]
        subprocess.run(["scancel", job_id], check=True, timeout=60)
        support.wait_for(lambda: not subprocess.run(["squeue", "-h", "-j", job_id], capture_output=True,
                                                    text=True).stdout.strip(), "the job array to end")

    @classmethod
    def setUpClass(cls):
        if shutil.which("sinfo") is None or shutil.which("sbatch") is None:
            raise unittest.SkipTest("Slurm is not installed")
        try:
            states = subprocess.run(["sinfo", "-h", "-o", "%t"], capture_output=True, text=True, timeout=30)
        except subprocess.TimeoutExpired:
            raise unittest.SkipTest("no Slurm cluster answers sinfo") from None
        if states.returncode != 0 or not {"idle", "mix", "alloc"} & set(states.stdout.split()):
            raise unittest.SkipTest("no Slurm cluster with a node up answers sinfo")


class BatchRefusals(unittest.TestCase):
    """Series the tool refuses before it runs anything, whatever the engine."""

    def test_refused_series(self):
        # A CR LF file whose absolute stem is 255 characters long, as many as a line holds (without the CR).
        workdir_length = len(os.path.join(tempfile.gettempdir(), "tervano-tools-12345678", "series/"))
        longest = {"stem": "s" * (255 - workdir_length), "line_end": b"\r\n"}
        cases = [
            ("drawn SCVs", {"gv_CFG_SCV_data": 0, "gv_CFG_SCV": -1}, {}, [], "the series draws its SCVs (gv_CFG_SCV -1)"),
            ("a missing project file", {"gv_CFG_lnr": 3}, {}, [], "project files missing: P2.RCP, P3.RCP"),
            ("no engine", {}, {}, ["--engine", "parallel"], "GNU parallel is not installed"),
            ("no engine for the longest stem", {}, longest, [], "GNU parallel is not installed"),
        ]
        cases.append(("an objective the program does not optimise", {"gv_CFG_OBJ": 2}, {}, [],
                      "CONFIG.DAT line 31: gv_CFG_OBJ 2 (NPV VARIANCE) is a measure of a policy"))
        for name, config_values, series_options, args, message in cases:
            with self.subTest(name):
                workdir = make_series(self, ["J30_1"], config_values, **series_options)
                # Only python3 on PATH: no engine, no tervano but the one given.
                bare = support.scratch_directory(self)
                os.symlink(shutil.which("python3"), os.path.join(bare, "python3"))
                done = subprocess.run([os.path.join(support.TOOLS_DIR, "tervano-batch"), "run", workdir,
                                       "--tervano", support.TERVANO, *args], capture_output=True, text=True,
                                      env=dict(os.environ, PATH=bare), timeout=300)
                self.assertEqual(done.returncode, 2, done.stdout + done.stderr)
                self.assertIn(message, done.stderr)
                self.assertNotIn("Traceback", done.stderr)
                self.assertFalse(os.path.exists(os.path.join(workdir, "batch", "1")))

    def test_slurm_asks_for_the_cpus_of_the_threads(self):
        bare = support.scratch_directory(self)
        os.symlink(shutil.which("python3"), os.path.join(bare, "python3"))
        asked = os.path.join(bare, "sbatch.log")
        # A cluster that refuses every array, after its arguments are noted.
        for program, body in (("sbatch", f"echo \"$@\" > '{asked}'\necho no >&2\nexit 1"), ("squeue", "exit 0"),
                              ("scancel", "exit 0"), ("scontrol", "exit 0")):
            with open(os.path.join(bare, program), "w") as handle:
                handle.write(f"#!/bin/sh\n{body}\n")
            os.chmod(os.path.join(bare, program), 0o755)
        for given, cpus in ((("--threads-per-job", 4), 4), ((), 1)):
            with self.subTest(given=given):
                workdir = make_series(self, ["J30_1"], {})
                done = subprocess.run([os.path.join(support.TOOLS_DIR, "tervano-batch"), "run", workdir,
                                       "--tervano", support.TERVANO, "--engine", "slurm", *map(str, given)],
                                      capture_output=True, text=True, env=dict(os.environ, PATH=bare), timeout=300)
                self.assertEqual(done.returncode, 2, done.stdout + done.stderr)
                self.assertIn("sbatch refused the job array", done.stderr)
                self.assertIn(f"--cpus-per-task={cpus}", support.read_bytes(asked).decode().split())
                with open(os.path.join(workdir, "batch", "settings.json"), encoding="utf-8") as handle:
                    self.assertEqual(json.load(handle)["threads_per_job"], cpus)

    def test_both_tools_answer_help(self):
        for tool in ("tervano-psplib", "tervano-batch"):
            done = support.run_tool(tool, "--help")
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertIn(f"usage: {tool}", done.stdout)


if __name__ == "__main__":
    unittest.main()
