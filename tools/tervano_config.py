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


# The same layout for a program that does not answer --config-template yet.
_BANNER = [
    "||||                 TERVANO: CONFIGURATION FILE||||",
    "||||                                            ||||",
    "||||EXAMPLE INPUT FILES:                        ||||",
    "||||\\EXAMPLE_DIRECTORY\\EXAMPLEPROJECT_1.RCP     ||||",
    "||||\\EXAMPLE_DIRECTORY\\EXAMPLEPROJECT_2.RCP     ||||",
    "||||...                                         ||||",
    "||||\\EXAMPLE_DIRECTORY\\EXAMPLEPROJECT_9.RCP     ||||",
    "||||                                            ||||",
    "||||||||||||||||||||||||||||||||||||||||||||||||||||",
]

_KEYS = [
    ("PJFileName", "PROJECT FILE NAME (E.G. 'EXAMPLE_DIRECTORY\\EXAMPLEPROJECT_') [PJFileName]."),
    ("PJFileExt", "PROJECT FILE NAME EXTENSION (E.G. '.RCP') [PJFileExt]."),
    ("gv_CFG_fnr", "FIRST PROJECT FILE NUMBER (E.G. '1') [gv_CFG_fnr]."),
    ("gv_CFG_lnr", "LAST PROJECT FILE NUMBER (E.G. '9') [gv_CFG_lnr]."),
    ("gv_bits", "MAXIMUM NUMBER OF ACTIVITIES EXECUTED IN PARALLEL (16 = unsigned short int | 19 = unsigned int"
     " | 32 = unsigned __int64) [gv_bits]."),
    ("gv_CFG_mxn_UDC", "MAXIMUM NUMBER OF UDCs [gv_CFG_mxn_UDC]."),
    ("gv_CFG_mxn_UDC_links", "INITIAL MAXIMUM NUMBER OF UDC LINKS [gv_CFG_mxn_UDC_links]."),
    ("gv_CFG_mxn_UDC_prr", "INITIAL MAXIMUM NUMBER OF UDCs PER RANK (-1 = AUTOMATIC | >0 = USER-DEFINED)"
     " [gv_CFG_mxn_UDC_prr]."),
    ("gv_CFG_mxn_ranks", "MAXIMUM NUMBER OF RANKS (1 = NUMBER OF ACTIVITIES | 2 = (NUMBER OF ACTIVITIES)\xb2"
     " | 3 = (NUMBER OF ACTIVITIES)\xb3) [gv_CFG_mxn_ranks]."),
    ("gv_CFG_max_mem", "MAXIMUM AVAILABLE WORKING MEMORY (-1 = USE HARD DISK | 0 = NO LIMIT | >0 = NUMBER OF MB"
     " AVAILABLE WORKING MEMORY) [gv_CFG_max_mem]."),
    ("gv_CFG_OBJ", "OBJECTIVE FUNCTION (0 = NPV | 1 = MAKESPAN | 2 = NPV VARIANCE | 3 = MAKESPAN VARIANCE)"
     " [gv_CFG_OBJ]."),
    ("gv_CFG_OBJ2", "SECOND OBJECTIVE FUNCTION (-1 = NO SECOND OBJECTIVE |0 = NPV | 1 = MAKESPAN | 2 = NPV VARIANCE"
     " | 3 = MAKESPAN VARIANCE) [gv_CFG_OBJ2]."),
    ("gv_CFG_OBJ3", "THIRD OBJECTIVE FUNCTION (-1 = NO THIRD OBJECTIVE |0 = NPV | 1 = MAKESPAN | 2 = NPV VARIANCE"
     " | 3 = MAKESPAN VARIANCE) [gv_CFG_OBJ3]."),
    ("gv_CFG_OBJ4", "FOURTH OBJECTIVE FUNCTION (-1 = NO FOURTH OBJECTIVE |0 = NPV | 1 = MAKESPAN | 2 = NPV VARIANCE"
     " | 3 = MAKESPAN VARIANCE) [gv_CFG_OBJ4]."),
    ("gv_CFG_write", "WHAT OUTPUT FILES HAVE TO BE WRITTEN (0 = RESULTS | 1 = RESULTS & EPN | 2 = RESULTS, EPN & MPN"
     " | 3 = RESULTS, EPN, MPN & BPN | 4 = RESULTS, EPN, MPN, BPN & UDC) [gv_CFG_write]."),
    ("gv_CFG_IO", "USE HARD DRIVE TO STORE PROCESSING DATA (-1 = AUTOMATIC | 0 = DO NOT USE HARD DRIVE, ONLY USE"
     " WORKING MEMORY | 1 = USE HARD DRIVE) [gv_CFG_IO]."),
    ("gv_CFG_abandon", "ALLOW PROJECT TO BE ABANDONED (0 = NO | 1 = YES) [gv_CFG_abandon]."),
    ("gv_CFG_irq", "ALLOW DECISIONS TO BE MADE DURING ACTIVITY EXECUTION (0 = NO | 1 = YES) [gv_CFG_irq]."),
    ("gv_CFG_cost_data", "PROJECT FILES CONTAIN COST DATA (0 = NO | 1 = YES) [gv_CFG_cost_data]."),
    ("gv_CFG_mod_data", "PROJECT FILES CONTAIN MODULE DATA (0 = NO | 1 = YES) [gv_CFG_mod_data]."),
    ("gv_CFG_mode_data", "PROJECT FILES CONTAIN MULTIMODE DATA (0 = NO | 1 = YES) [gv_CFG_mode_data]."),
    ("gv_CFG_pts_data", "PROJECT FILES CONTAIN DATA ON THE PROBABILITY OF TECHNICAL SUCCESS OF ACTIVITIES"
     " (0 = NO | 1 = YES) [gv_CFG_pts_data]."),
    ("gv_CFG_pms_data", "PROJECT FILES CONTAIN DATA ON THE PROBABILITY OF MODULAR SUCCESS OF ACTIVITIES"
     " (0 = NO | 1 = YES) [gv_CFG_pms_data]."),
    ("gv_CFG_rx_data", "PROJECT FILES CONTAIN RESOURCE DATA (0 = NO | 1 = YES) [gv_CFG_rx_data]."),
    ("gv_CFG_SCV_data", "PROJECT FILES CONTAIN DATA ON THE SCV OF THE ACTIVITY DURATION (-1 = YES BUT OVERRIDE"
     " | 0 = NO | 1 = YES) [gv_CFG_SCV_data]."),
    ("gv_CFG_SCV", "WHAT SCV SHOULD BE USED FOR ALL ACTIVITY DURATIONS IF THE PROJECT FILES DO NOT CONTAIN DATA ON"
     " ACTIVITY DURATION SCV (-1 = RANDOMIZED | 0 = DETERMINISTIC | >0 = PHASE-TYPE) [gv_CFG_SCV]."),
    ("gv_CFG_hyper", "WHAT DISTRIBUTION DO WE USE IN ORDER TO MODEL DURATIONS THAT HAVE SCV LARGER THAN 1"
     " (0 = HYPER-EXPONENTIAL | REAL NUMBER IN ]0,1[ = SERIAL EXPONENTIAL DISTRIBUTION, NUMBER DETERMINES THE"
     " DURATION OF THE FIRST PHASE) [gv_CFG_hyper]."),
    ("gv_CFG_skew_data", "PROJECT FILES CONTAIN DATA ON THE SKEWNESS OF THE ACTIVITY DURATION (-1 = YES BUT"
     " OVERRIDE | 0 = NO | 1 = YES) [gv_CFG_skew_data]."),
    ("gv_CFG_skew", "WHAT SKEWNESS SHOULD BE USED FOR ALL ACTIVITY DURATIONS IF THE PROJECT FILES DO NOT CONTAIN"
     " DATA ON ACTIVITY DURATION SCV (0 = NOT SKEWED) [gv_CFG_skew]."),
    ("gv_CFG_rate_data", "PROJECT FILES CONTAIN DATA ON THE DISCOUNT RATE USED (-1 = YES BUT OVERRIDE | 0 = NO"
     " | 1 = YES) [gv_CFG_rate_data]."),
    ("gv_rate", "WHAT DISCOUNT RATE SHOULD BE USED IF THE PROJECT FILES DO NOT CONTAIN A DISCOUNT RATE"
     " (ANY REAL NUMBER) [gv_rate]."),
]

# The defaults of examples/basic/CONFIG.DAT, for the same.
_KEYS_DEFAULTS = [
    ("PJFileName", "PROJECT_"), ("PJFileExt", ".RCP"), ("gv_CFG_fnr", 1), ("gv_CFG_lnr", 3), ("gv_bits", 40),
    ("gv_CFG_mxn_UDC", 100000000), ("gv_CFG_mxn_UDC_links", 10), ("gv_CFG_mxn_UDC_prr", -1), ("gv_CFG_mxn_ranks", 3),
    ("gv_CFG_max_mem", 16000), ("gv_CFG_OBJ", 0), ("gv_CFG_OBJ2", -1), ("gv_CFG_OBJ3", -1), ("gv_CFG_OBJ4", -1),
    ("gv_CFG_write", 0), ("gv_CFG_IO", 0), ("gv_CFG_abandon", 0), ("gv_CFG_irq", 0), ("gv_CFG_cost_data", 1),
    ("gv_CFG_mod_data", 0), ("gv_CFG_mode_data", 0), ("gv_CFG_pts_data", 0), ("gv_CFG_pms_data", 0),
    ("gv_CFG_rx_data", 1), ("gv_CFG_SCV_data", 0), ("gv_CFG_SCV", 1), ("gv_CFG_hyper", 0), ("gv_CFG_skew_data", 0),
    ("gv_CFG_skew", 0), ("gv_CFG_rate_data", 0), ("gv_rate", 0.01),
]

# tervano reads every line through a buffer of 256 characters.
MAX_LINE_LENGTH = 255
# The leading number of a value line, as a C++ stream reads it (white space skipped).
LEADING_NUMBER = re.compile(rb"\s*([+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?)")
LABEL_KEY = re.compile(rb"\[([A-Za-z_][A-Za-z0-9_]*)\]\.?\s*$")


def _built_in_template(values):
    lines = list(_BANNER)
    for name, label in _KEYS:
        lines.append(label)
        lines.append(str(values.get(name, "")))
    unknown = [key for key in values if key not in [name for name, _ in _KEYS]]
    if unknown:
        raise ConfigError(f"unknown key {unknown[0]}")
    return ("\n".join(lines) + "\n").encode("latin-1")


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
    if b"unknown argument '--config-template'" in done.stderr:
        defaults = {name: value for name, value in _KEYS_DEFAULTS}
        defaults.update(values or {})
        return _built_in_template(defaults)
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
