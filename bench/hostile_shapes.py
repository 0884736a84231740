"""Inputs shaped to make a reader's work or memory grow faster than the input:
each writes one file or folder of a given size into a scratch folder and says
how orbel-catalogue reads it. Shared by the hostile-input bar (which reads each
at its full size against the time and memory bars) and the scaling benchmark
(which reads each at two sizes and compares the times)."""

import os

CLASS = "{%08X-0000-0000-0000-000000000000}"


def write_lines(path, header, lines):
    with open(path, "w", encoding="ascii", newline="\n") as f:
        f.write(header)
        for line in lines:
            f.write(line)


def siblings_descending(scratch, n):
    """n keys under one key, in descending order: each one sorts first."""
    path = os.path.join(scratch, "siblings-%d.reg" % n)
    write_lines(path, "REGEDIT4\n\n",
                ("[HKEY_LOCAL_MACHINE\\Software\\Other\\k%08d]\n" % i for i in range(n, 0, -1)))
    return [path]


def values_removed(scratch, n):
    """n values of one class key, then each removed again."""
    path = os.path.join(scratch, "value-removals-%d.reg" % n)
    head = "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\CLSID\\%s]\n" % (CLASS % 1)
    lines = ['"v%d"="x"\n' % i for i in range(n)] + ['"v%d"=-\n' % i for i in range(n)]
    write_lines(path, head, lines)
    return [path]


def keys_removed(scratch, n):
    """n keys, then each removed again in the order they were made."""
    path = os.path.join(scratch, "key-removals-%d.reg" % n)
    lines = ["[HKEY_LOCAL_MACHINE\\Software\\Other\\k%d]\n" % i for i in range(n)]
    lines += ["[-HKEY_LOCAL_MACHINE\\Software\\Other\\k%d]\n" % i for i in range(n)]
    write_lines(path, "REGEDIT4\n\n", lines)
    return [path]


def wine_prefix(scratch, name, servers, files=()):
    """A Wine prefix whose classes have the given servers, with empty files."""
    prefix = os.path.join(scratch, name)
    system32 = os.path.join(prefix, "drive_c", "windows", "system32")
    os.makedirs(system32, exist_ok=True)
    for file in files:
        open(os.path.join(system32, file), "w").close()
    lines = ("[Software\\\\Classes\\\\CLSID\\\\%s\\\\%s]\n@=\"%s\"\n\n" % (CLASS % i, kind, server)
             for i, (kind, server) in enumerate(servers))
    write_lines(os.path.join(prefix, "system.reg"),
                "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n", lines)
    return ["--check-files", prefix]


def files_in_other_case(scratch, n):
    """n classes whose servers name n files of one folder in other letter case."""
    servers = [("InprocServer32", "C:\\\\WINDOWS\\\\SYSTEM32\\\\F%d.DLL" % i) for i in range(n)]
    return wine_prefix(scratch, "case-%d" % n, servers, ["f%d.dll" % i for i in range(n)])


def blanks_in_a_value(scratch, n):
    """One local server whose command line holds n blanks."""
    line = "C:\\\\a b\\\\" + "x " * n
    return wine_prefix(scratch, "blanks-%d" % n, [("LocalServer32", line)])


def diff_of_many_rows(scratch, n):
    """Two files of one class with n other subkeys each, compared."""
    paths = []
    for side in ("before", "after"):
        path = os.path.join(scratch, "rows-%s-%d.reg" % (side, n))
        key = "HKEY_CLASSES_ROOT\\CLSID\\%s" % (CLASS % 1)
        lines = ["[%s]\n@=\"c\"\n" % key]
        lines += ["[%s\\s%d]\n@=\"%s%d\"\n" % (key, i, side, i) for i in range(n)]
        write_lines(path, "REGEDIT4\n\n", lines)
        paths.append(path)
    return [paths[0], "--diff", paths[1]]


def nested_keys(scratch, n):
    """Key lines of n bytes in all, each naming a new key 500 levels deep."""
    path = os.path.join(scratch, "nested-%d.reg" % n)
    tail = "\\".join(["a"] * 500)
    lines, size, i = [], 0, 0
    while size < n:
        line = "[HKEY_LOCAL_MACHINE\\x%d\\%s]\n" % (i, tail)
        lines.append(line)
        size += len(line)
        i += 1
    write_lines(path, "REGEDIT4\n\n", lines)
    return [path]


# Each shape with the size its description gives; the scaling benchmark
# doubles it.
SHAPES = [
    (siblings_descending, 640000),
    (values_removed, 20000),
    (keys_removed, 320000),
    (files_in_other_case, 5000),
    (blanks_in_a_value, 50000),
    (diff_of_many_rows, 20000),
    (nested_keys, 8 << 20),
]
