#!/usr/bin/env python3
"""Deterministic benchmark workload: lays out the tree under OUT/drive_c (to be
copied into a prefix's drive_c), and writes OUT/bench.reg, OUT/manifest.json and
OUT/list.txt (the floor program's list, also what must be gone afterwards).
Usage: gen.py small|medium|large OUT USER
       gen.py prompt N OUT      (a manifest of N file entries, nothing laid out)"""
import json, os, sys

APP = r"C:\Program Files\QvBench"
SCALE = {"small": 0.1, "medium": 1, "large": 4}
MESSAGES = {"caption": "QvBench", "confirm": "Remove the QvBench workload?",
            "finished": "", "sharedDllPrompt": ""}


def win(*parts):
    return "\\".join(p for p in parts if p)


def main():
    if sys.argv[1] == "prompt":
        n, out = int(sys.argv[2]), sys.argv[3]
        os.makedirs(out, exist_ok=True)
        files = [{"folder": win(r"C:\Program Files\QvPrompt", "d%03d" % (i // 200)), "name": "f%05d.dat" % i}
                 for i in range(n)]
        with open(os.path.join(out, "manifest.json"), "w") as f:
            json.dump({"files": files, "messages": MESSAGES}, f)
        return
    size, out, user = sys.argv[1:4]
    s = SCALE[size]
    n_files, n_folders, n_shared = int(5000 * s), int(250 * s), int(40 * s)
    n_keys, n_leftovers = int(500 * s), int(1000 * s)
    drive_c = os.path.join(out, "drive_c")
    appdata = rf"C:\users\{user}\AppData\Roaming\QvBench"

    def unix(path):  # C:\a\b -> OUT/drive_c/a/b
        return os.path.join(drive_c, *path[3:].split("\\"))

    def write(path, text):
        os.makedirs(os.path.dirname(unix(path)), exist_ok=True)
        with open(unix(path), "w") as f:
            f.write(text)

    # Folders up to 4 levels deep: 10 at the top, then three children to a
    # parent, parents taken in order of creation.
    folders, depth = [], {}
    for i in range(n_folders):
        if i < 10:
            parent, d = APP, 1
        else:
            open_parents = [f for f in folders if depth[f] < 4]
            parent = open_parents[((i - 10) // 3) % len(open_parents)]
            d = depth[parent] + 1
        name = win(parent, "d%03d" % i)
        folders.append(name)
        depth[name] = d
    places = [APP] + folders

    files, shared = [], []
    for i in range(n_files):
        folder = places[i % len(places)]
        if i < n_shared:
            files.append({"folder": folder, "name": "lib%03d.dll" % i, "flags": ["shared"]})
            shared.append(win(folder, "lib%03d.dll" % i))
        else:
            files.append({"folder": folder, "name": "f%05d.dat" % i})
        write(win(folder, files[-1]["name"]), "QvBench file %d\r\n" % i)

    # Leftovers: half *.log in a logs tree, half *.tmp in the user's AppData.
    log_dirs = [win(APP, "logs", "y%d" % a, "m%d" % b) for a in range(5) for b in range(4)]
    tmp_dirs = [win(appdata, "cache", "c%02d" % a) for a in range(10)]
    for i in range(n_leftovers):
        if i % 2 == 0:
            write(win(log_dirs[(i // 2) % len(log_dirs)], "run%05d.log" % i), "log\r\n")
        else:
            write(win(tmp_dirs[(i // 2) % len(tmp_dirs)], "t%05d.tmp" % i), "tmp\r\n")
    patterns = [r"#Program Files#\QvBench\logs\*.log", r"#AppData#\QvBench\*.tmp"]

    # Keys: half under HKLM, half under HKCU; every fifth one three levels deep.
    reg = ["REGEDIT4", ""]
    keys = []
    for i in range(n_keys):
        root = "HKEY_LOCAL_MACHINE" if i % 2 == 0 else "HKEY_CURRENT_USER"
        if i % 5 == 0:
            key = r"Software\QvBench\k%03d\s%d\t%d" % (i // 5, i % 3, i)
        else:
            key = r"Software\QvBench\k%03d\v%d" % (i // 5, i % 5)
        keys.append((root, key))
        reg += ["[%s\\%s]" % (root, key), '"Name"="entry %d"' % i, '"Count"=dword:%08x' % i, ""]
    reg += [r"[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\SharedDLLs]"]
    reg += ['"%s"=dword:00000001' % p.replace("\\", "\\\\") for p in shared]
    reg += [""]
    with open(os.path.join(out, "bench.reg"), "w", newline="\r\n") as f:
        f.write("\n".join(reg) + "\n")

    # Folders children first: deeper before shallower, then by name.
    all_dirs = folders + log_dirs + [win(APP, "logs", "y%d" % a) for a in range(5)] + [win(APP, "logs")]
    all_dirs.sort(key=lambda p: (-p.count("\\"), p))
    manifest = {
        "files": files,
        "directories": [{"path": p, "levels": 0} for p in all_dirs + [APP]],
        "registry": [{"root": "HKLM", "key": r"Software\QvBench"}, {"root": "HKCU", "key": r"Software\QvBench"}],
        "patterns": patterns,
        "messages": MESSAGES,
    }
    with open(os.path.join(out, "manifest.json"), "w") as f:
        json.dump(manifest, f, indent=1)

    lines = []
    for e in reversed(files):  # last to first, as the uninstaller does
        path = win(e["folder"], e["name"])
        lines.append(("S " if "flags" in e else "F ") + path)
    lines += ["W " + win(APP, "logs", "*.log"), "W " + win(appdata, "*.tmp")]
    lines += ["D " + p for p in all_dirs + [APP]] + ["D " + d for d in tmp_dirs]
    lines += ["D " + win(appdata, "cache"), "D " + appdata]
    lines += [r"K HKLM Software\QvBench", r"K HKCU Software\QvBench"]
    with open(os.path.join(out, "list.txt"), "w", newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
