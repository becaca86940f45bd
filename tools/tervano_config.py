"""CONFIG.DAT as the tools write and edit it: the 71-line layout of tervano's configuration file.

The banner and the label lines are tervano's own (the same as in examples/patterson/CONFIG.DAT);
the label of gv_CFG_mxn_ranks holds the Latin-1 bytes 0xB2 and 0xB3, so every CONFIG.DAT and
RESULTS.CSV is handled as bytes and written as Latin-1, never as UTF-8.
"""

import re

BANNER = [
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

# The 31 keys in file order with their label lines.
KEYS = [
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

KEY_NAMES = [name for name, _ in KEYS]
TEXT_KEYS = ("PJFileName", "PJFileExt")

# tervano reads every line through a buffer of 256 characters.
MAX_LINE_LENGTH = 255


def value_line(key):
    """1-based number of the line that holds the key's value."""
    return 11 + 2 * KEY_NAMES.index(key)


def config_bytes(values):
    """A whole CONFIG.DAT from a value per key (text or number), Latin-1 encoded."""
    missing = [name for name in KEY_NAMES if name not in values]
    if missing:
        raise ValueError("no value for " + ", ".join(missing))
    lines = list(BANNER)
    for name, label in KEYS:
        lines.append(label)
        lines.append(str(values[name]))
    return ("\n".join(lines) + "\n").encode("latin-1")


# The leading number of a value line, as a C++ stream reads it (white space skipped).
LEADING_NUMBER = re.compile(rb"\s*([+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?)")


def read_values(lines):
    """What the program reads from CONFIG.DAT, per key: the whole line of a text key, the leading
    number of any other (the rest of its line and every label line are never read). Two files with
    the same values are the same series; a value that differs only in how it is written (0.5 and
    0.50) counts as a change, which errs on the side of running again."""
    values = {}
    for key in KEY_NAMES:
        text = line_text(lines, value_line(key))
        match = None if key in TEXT_KEYS else LEADING_NUMBER.match(text)
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
