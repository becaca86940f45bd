"""tervano-psplib: the J30 set against its independent conversion, the non-renewable resources of
.mm files, and the files it cannot read."""

import csv
import os
import re
import unittest

import support


def read_index(path):
    with open(path, encoding="utf-8", newline="") as handle:
        return list(csv.DictReader(handle))


class PsplibConversion(unittest.TestCase):
    def test_j30_set_equals_independent_conversion(self):
        j30 = support.data_path("j30")
        reference = support.data_path("j30-rcp")
        expected_sources = {int(row["number"]): row["psplib"] for row in read_index(os.path.join(reference, "index.csv"))}
        # A directory, and the files in the order a shell glob gives them (j3010_1 before j301_1).
        files = sorted(os.path.join(j30, name) for name in os.listdir(j30) if name.endswith(".sm"))
        for sources in ([j30], files):
            out = os.path.join(support.scratch_directory(self), "j30")
            done = support.run_tool("tervano-psplib", "--out", out, *sources)
            self.assertEqual(done.returncode, 0, done.stderr)
            index = read_index(os.path.join(out, "index.csv"))
            self.assertEqual({int(row["number"]): os.path.basename(row["source"]) for row in index}, expected_sources)
            for number in expected_sources:
                converted = support.read_bytes(os.path.join(out, f"J30_{number}.RCP")).split()
                self.assertEqual(converted, support.read_bytes(os.path.join(reference, f"J30_{number}.RCP")).split(),
                                 f"J30_{number}.RCP")
        # The series' CONFIG.DAT is the program's layout, Latin-1 labels included; only values differ.
        config = support.read_bytes(os.path.join(out, "CONFIG.DAT")).split(b"\n")
        example = support.config_with({"PJFileName": "J30_", "gv_CFG_lnr": 480, "gv_CFG_mxn_UDC": 100000000,
                                       "gv_CFG_max_mem": 16000}).split(b"\n")
        self.assertEqual(config, example)

    def test_nonrenewable_budgets_and_modes_that_can_never_run(self):
        binding = support.data_path("j10mm", "j102_2.mm")
        never_binding = support.data_path("j10mm", "j104_1.mm")
        out = os.path.join(support.scratch_directory(self), "mm")

        refused = support.run_tool("tervano-psplib", "--out", out, binding, never_binding)
        self.assertEqual(refused.returncode, 1)
        self.assertRegex(refused.stderr, re.escape(binding) + r": non-renewable budgets can bind: N 1, N 2")
        self.assertNotIn(never_binding + ":", refused.stderr)
        self.assertFalse(os.path.exists(out), "a refused conversion writes nothing")

        # The others converted, the refused one listed with its reason.
        done = support.run_tool("tervano-psplib", "--skip-refused", "--out", out, binding, never_binding)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn(binding + ": non-renewable budgets can bind", done.stderr)
        self.assertEqual([(row["number"], row["source"], row["note"][:39], row["project_file"])
                          for row in read_index(os.path.join(out, "index.csv"))],
                         [("", binding, "refused: non-renewable budgets can bind", ""),
                          ("1", never_binding, "left out non-renewable N 1, N 2 (never ", "J10MM_1.RCP")])

        # Files there already (an edited CONFIG.DAT among them) are replaced only when asked.
        with open(os.path.join(out, "CONFIG.DAT"), "ab") as handle:
            handle.write(b"edited\n")
        kept = {name: support.read_bytes(os.path.join(out, name)) for name in os.listdir(out)}
        done = support.run_tool("tervano-psplib", "--drop-nonrenewable", "--out", out, binding, never_binding)
        self.assertEqual(done.returncode, 1)
        self.assertIn(f"{out} holds files that this conversion would replace: J10MM_1.RCP, index.csv, "
                      "CONFIG.DAT; nothing written (--force replaces them)", done.stderr)
        self.assertEqual({name: support.read_bytes(os.path.join(out, name)) for name in os.listdir(out)}, kept)
        done = support.run_tool("tervano-psplib", "--drop-nonrenewable", "--force", "--out", out, binding,
                                never_binding)
        self.assertEqual(done.returncode, 0, done.stderr)
        notes = [row["note"] for row in read_index(os.path.join(out, "index.csv"))]
        self.assertRegex(notes[0], r"^dropped non-renewable N 1, N 2 \(can bind: N 1, N 2\)")
        self.assertRegex(notes[1], r"^left out non-renewable N 1, N 2 \(never bind\); dropped modes that exceed a "
                                   r"renewable availability: job 8 mode 2, ")
        # Both solve: with the modes that can never run still in, identification fails the whole project.
        console = support.run_tervano(out)
        self.assertEqual(len(re.findall(r"OPT MAKESPAN: \d", console)), 2, console)

    def test_full_disk_writes_nothing(self):
        script = '"$TOOL" --out "$DISK/j30" "$J30"; echo "status $?"; ls -A "$DISK"'
        done, disk = support.run_on_small_disk(self, "256k", script, TOOL=os.path.join(support.TOOLS_DIR,
                                               "tervano-psplib"), J30=support.data_path("j30"))
        self.assertRegex(done.stderr, r"^tervano-psplib: cannot write " + re.escape(disk)
                         + r"/j30/J30_\d+\.RCP: No space left on device; nothing written\n$")
        self.assertEqual(done.stdout, "status 1\n")

    def test_unreadable_files_are_named_with_the_line(self):
        original = support.read_bytes(support.data_path("j30", "j301_1.sm")).decode("latin-1").split("\n")
        precedence_of_job_1 = next(i for i, line in enumerate(original) if re.match(r"\s+1\s+1\s+3\s+2\s+3\s+4", line))
        request_of_job_2 = next(i for i, line in enumerate(original) if re.match(r"\s+2\s+1\s+8\s+4", line))
        request_of_sink = original.index("RESOURCEAVAILABILITIES:") - 2
        availabilities = original.index("RESOURCEAVAILABILITIES:")
        cases = [
            ("a word among the successors", {precedence_of_job_1: "   1        1          3           2   x   4"},
             precedence_of_job_1 + 1, "'x' where a whole number belongs"),
            ("a successor outside the project", {precedence_of_job_1: "   1        1          3           2   3  33"},
             precedence_of_job_1 + 1, "successor 33 of job 1"),
            ("a resource use missing", {request_of_job_2: "  2      1     8       4    0    0"},
             request_of_job_2 + 1, "mode 1 of job 2"),
            ("the file ends early", {i: None for i in range(availabilities, len(original))},
             availabilities, "ends before the resource availabilities"),
            # Files the program would refuse once converted.
            ("a sink with a duration", {request_of_sink: " 32      1     2       0    0    0    0"}, None,
             "the sink (job 32) has a duration"),
            ("a second source", {precedence_of_job_1: "   1        1          2           3   4"}, None,
             "job 2 besides job 1 has no predecessor"),
            ("a duration out of range", {request_of_job_2: "  2      1 80000000000000 4    0    0    0"}, None,
             "job 2 mode 1 has the duration 80000000000000, above the program's largest, 1e+12"),
        ]
        directory = support.scratch_directory(self)
        for name, changes, line, message in cases:
            with self.subTest(name):
                lines = [changes.get(i, text) for i, text in enumerate(original)]
                path = os.path.join(directory, "j301_1.sm")
                with open(path, "w", encoding="latin-1") as handle:
                    handle.write("\n".join(text for text in lines if text is not None))
                done = support.run_tool("tervano-psplib", "--out", os.path.join(directory, "out"), path)
                self.assertEqual(done.returncode, 1)
                self.assertIn(f"{path}:{line}: " if line else f"{path}: ", done.stderr)
                self.assertIn(message, done.stderr)
                self.assertFalse(os.path.exists(os.path.join(directory, "out")))


if __name__ == "__main__":
    unittest.main()
