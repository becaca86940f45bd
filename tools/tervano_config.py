"""CONFIG.DAT as the tools read and write it. The layout (the banner, a label line and a value line
per key in file order, the defaults) is the program's: `tervano --config-template [KEY=VALUE ...]`
prints a whole file, and the tools locate each key's value line in that file instead of keeping a
copy of the table. A label (that of gv_CFG_mxn_ranks) holds Latin-1 bytes, so every CONFIG.DAT and
RESULTS.CSV is handled as bytes and written as the program writes it, never re-encoded.
"""

import re
import subprocess


class ConfigError(Exception):
    """The program refused a key or a value, or could not be asked."""


# The leading number of a value line, as a C++ stream reads it (white space skipped).
LEADING_NUMBER = re.compile(rb"\s*([+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?)")
LABEL_KEY = re.compile(rb"\[([A-Za-z_][A-Za-z0-9_]*)\]\.?\s*$")


def template(tervano, values=None):
    """A whole CONFIG.DAT from the program: its defaults with the given keys replaced."""
    arguments = [f"{key}={value}" for key, value in (values or {}).items()]
    try:
        done = subprocess.run([tervano, "--config-template", *arguments], capture_output=True,
                              stdin=subprocess.DEVNULL, timeout=60)
    except (OSError, subprocess.TimeoutExpired) as error:
        raise ConfigError(f"cannot run {tervano}: {error}") from None
    if done.returncode == 0 and done.stdout:
        return done.stdout
    raise ConfigError(done.stderr.decode("latin-1").strip().removeprefix("tervano: ")
                      or f"{tervano} --config-template: exit status {done.returncode}")


class Layout:
    """Where each key's value stands in a CONFIG.DAT: read off a template, whose label lines end in
    the key in brackets and whose value lines follow them. A key whose default is not a number takes
    its whole line as text (the file names); any other starts its line with a number."""

    def __init__(self, data):
        lines = split_lines(data)
        self.value_lines = {}
        for number in range(1, len(lines)):
            match = LABEL_KEY.search(line_text(lines, number))
            if match:
                self.value_lines[match.group(1).decode("ascii")] = number + 1
        self.keys = list(self.value_lines)
        self.text_keys = {key for key in self.keys
                          if not re.fullmatch(rb"\s*[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?\s*",
                                              line_text(lines, self.value_lines[key]))}
        self.data = data
        if "gv_rate" not in self.value_lines or "PJFileName" not in self.value_lines:
            raise ConfigError("the program's --config-template is not a CONFIG.DAT")


layout = None


def load(tervano=None, data=None):
    """Takes the layout from a template (given, or asked of the program); returns the template."""
    global layout
    data = data if data is not None else template(tervano)
    layout = Layout(data)
    return data


def value_line(key):
    """1-based number of the line that holds the key's value."""
    return layout.value_lines[key]


def key_names():
    return list(layout.keys)


def read_values(lines):
    """What the program reads from CONFIG.DAT, per key: the whole line of a text key, the leading
    number of any other (the rest of its line and every label line are never read). Two files with
    the same values are the same series; a value that differs only in how it is written (0.5 and
    0.50) counts as a change, which errs on the side of running again."""
    values = {}
    for key in layout.keys:
        text = line_text(lines, value_line(key))
        match = None if key in layout.text_keys else LEADING_NUMBER.match(text)
        values[key] = (match.group(1) if match else text).decode("latin-1")
    return values


def split_lines(data):
    """Lines of a file as tervano reads them (ended by LF only), each with its ending kept."""
    lines = data.split(b"\n")
    result = [line + b"\n" for line in lines[:-1]]
    if lines[-1]:
        result.append(lines[-1])
    return result


def replace_line(lines, number, content):
    """Replaces the content of a 1-based line, keeping its ending (LF or CR LF)."""
    old = lines[number - 1]
    ending = b"\r\n" if old.endswith(b"\r\n") else (b"\n" if old.endswith(b"\n") else b"")
    lines[number - 1] = content + ending


def line_text(lines, number):
    """The content of a 1-based line without its ending, a trailing CR dropped as tervano does."""
    line = lines[number - 1]
    if line.endswith(b"\n"):
        line = line[:-1]
    if line.endswith(b"\r"):
        line = line[:-1]
    return line
