"""Test support for the tools: where the program, the tools and the PSPLIB data are, scratch working
directories, runs of the tools and of tervano itself, and RESULTS.CSV with the CPU figures masked."""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

SOURCE_DIR = os.path.realpath(os.path.join(os.path.dirname(__file__), os.pardir, os.pardir))
TOOLS_DIR = os.path.join(SOURCE_DIR, "tools")
DATA_DIR = os.environ.get("TERVANO_DATA_DIR", os.path.join(SOURCE_DIR, os.pardir, "shared", "data"))
TERVANO = os.environ.get("TERVANO_BINARY", os.path.join(SOURCE_DIR, "build", "tervano"))
# A sanitized program cannot run under a limit on its address space (the sanitizers reserve terabytes).
SANITIZED = os.environ.get("TERVANO_SANITIZE", "OFF").upper() in ("1", "ON", "TRUE", "YES")
PROMPT_ANSWERS = b"0\n0\n"
sys.dont_write_bytecode = True
sys.path.insert(0, TOOLS_DIR)


def data_path(*parts):
    path = os.path.join(DATA_DIR, *parts)
    if not os.path.exists(path):
        raise unittest.SkipTest(f"no PSPLIB data at {path} (the shared data beside the checkout)")
    return path


def scratch_directory(test):
    directory = tempfile.mkdtemp(prefix="tervano-tools-")
    test.addCleanup(shutil.rmtree, directory, ignore_errors=True)
    return directory


def run_tool(name, *args, cwd=None, timeout=900):
    """Runs tools/NAME; returns the CompletedProcess with text output."""
    return subprocess.run([os.path.join(TOOLS_DIR, name), *map(str, args)], cwd=cwd, capture_output=True,
                          text=True, timeout=timeout, stdin=subprocess.DEVNULL)


def run_tervano(directory):
    """One sequential run of the series in directory; returns the console."""
    done = subprocess.run([TERVANO], cwd=directory, input=PROMPT_ANSWERS, capture_output=True, timeout=900)
    return done.stdout.decode("latin-1")


def programs_in(directory):
    """Pids of the programs (tervano) whose working directory lies in directory."""
    binary, directory = os.path.realpath(TERVANO), os.path.realpath(directory)
    pids = []
    for name in os.listdir("/proc"):
        try:
            if os.readlink(f"/proc/{name}/exe") == binary and \
                    (os.readlink(f"/proc/{name}/cwd") + "/").startswith(directory + "/"):
                pids.append(int(name))
        except OSError:
            pass
    return pids


def wait_for(condition, what, timeout=120):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError(f"waited {timeout} s for {what}")
        time.sleep(0.2)


def run_on_small_disk(test, size, script, **environment):
    """Runs the shell script with a tmpfs of size mounted at $DISK, in a mount namespace of its own
    (the mount ends with the script); skips where this user may not mount. Returns the
    CompletedProcess and the path of $DISK."""
    disk = scratch_directory(test)
    probe = subprocess.run(["unshare", "-m", "sh", "-c", f"mount -t tmpfs -o size={size} none {disk}"],
                           capture_output=True, timeout=60) if shutil.which("unshare") else None
    if probe is None or probe.returncode != 0:
        raise unittest.SkipTest("no private mount of a small file system here (unshare -m, mount -t tmpfs)")
    done = subprocess.run(["unshare", "-m", "sh", "-c", f"mount -t tmpfs -o size={size} none \"$DISK\" && {script}"],
                          capture_output=True, text=True, timeout=600, env=dict(os.environ, DISK=disk, **environment))
    return done, disk


def temporary_files(directory):
    return [os.path.join(root, name) for root, _, names in os.walk(directory) for name in names if ".tmp" in name]


def config_with(values):
    """examples/patterson/CONFIG.DAT with the values of some keys replaced ({key: text}), the lines
    found in the program's own layout (tervano --config-template)."""
    import tervano_config
    if tervano_config.layout is None:
        tervano_config.load(TERVANO)
    with open(os.path.join(SOURCE_DIR, "examples", "patterson", "CONFIG.DAT"), "rb") as handle:
        lines = handle.read().split(b"\n")
    for key, text in values.items():
        lines[tervano_config.value_line(key) - 1] = str(text).encode("latin-1")
    return b"\n".join(lines)


def read_bytes(path):
    with open(path, "rb") as handle:
        return handle.read()


def masked_results(data):
    """RESULTS.CSV with every field under a CPU column replaced by '*'; everything else as written."""
    lines = data.split(b"\n")
    header_index = next(i for i, line in enumerate(lines) if line.startswith(b"PROJECT;"))
    columns = lines[header_index].split(b";")
    cpu = {i for i, name in enumerate(columns) if b"CPU" in name}
    for i in range(header_index + 1, len(lines)):
        fields = lines[i].split(b";")
        lines[i] = b";".join(b"*" if j in cpu else field for j, field in enumerate(fields))
    return b"\n".join(lines)
