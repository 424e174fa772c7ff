#!/usr/bin/env python3
"""The library's floors (cmake/floors.txt): which files make each floor, which
floors each may use, and whether every include keeps to that.

  scripts/floors.py             checks every include of the library's files,
                                prints the floors with their arrows; exit 1 on
                                an include that points up or sideways
  scripts/floors.py --picture   the plain-text picture the README shows
  scripts/floors.py --stage DIR for the build: makes DIR/<floor>/ holding links
                                to the headers that floor may include (its own
                                and those of the floors below it that it
                                reaches), prints "@folders|folder..." (the
                                folders of the floors' files), then
                                "floor|source|source..." per floor

A member ending in "/" is a folder (its files, not its subfolders); any other
member names files by their stem ("api/CLog" is api/CLog.h and api/CLog.cpp)
or whole ("res/resource.h"). A file named by a floor belongs to it even when
another floor has its folder.
"""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TABLE = os.path.join(ROOT, "cmake", "floors.txt")
SOURCE_EXTENSIONS = (".cpp", ".c")
EXTENSIONS = (".h",) + SOURCE_EXTENSIONS
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


class Floor:
    def __init__(self, name, members, uses, line):
        self.name, self.members, self.uses, self.line = name, members, uses, line
        self.files = []

    def sources(self):
        return [f for f in self.files if f.endswith(SOURCE_EXTENSIONS)]

    def headers(self):
        return [f for f in self.files if f.endswith(".h")]


def fail(message):
    sys.exit("floors: " + message)


def read_table():
    floors = []
    with open(TABLE, encoding="utf-8") as table:
        for number, text in enumerate(table, 1):
            text = text.split("#", 1)[0].strip()
            if not text:
                continue
            parts = [p.strip() for p in text.split("|")]
            if len(parts) != 3 or not parts[0] or not parts[1]:
                fail(f"{TABLE}:{number}: want 'floor | members | floors it uses'")
            uses = [] if parts[2] in ("", "-") else parts[2].split()
            floors.append(Floor(parts[0], parts[1].split(), uses, number))
    by_name = {f.name: f for f in floors}
    if len(by_name) != len(floors):
        fail("a floor is named twice")
    for floor in floors:
        for used in floor.uses:
            if used not in by_name:
                fail(f"{floor.name} uses {used}, which is no floor")
            # Bottom first: a floor uses only floors above it in the table.
            if by_name[used].line >= floor.line:
                fail(f"{floor.name} uses {used}, which is not below it")
    return floors, by_name


def resolve_members(floors):
    """Gives every floor its files; returns {file: floor} and the folders they
    are in."""
    owner = {}
    folders = set()
    for floor in floors:  # files named one by one first
        for member in floor.members:
            if member.endswith("/"):
                folders.add(member.rstrip("/"))
                continue
            named = [member] if member.endswith(EXTENSIONS) else [member + e for e in EXTENSIONS]
            found = [f for f in named if os.path.isfile(os.path.join(ROOT, f))]
            if not found:
                fail(f"{floor.name}: no file for {member}")
            folders.add(os.path.dirname(member))
            for f in found:
                if f in owner:
                    fail(f"{f} is in {owner[f].name} and {floor.name}")
                owner[f] = floor
    for floor in floors:
        for member in floor.members:
            if not member.endswith("/"):
                continue
            folder = member.rstrip("/")
            if not os.path.isdir(os.path.join(ROOT, folder)):
                fail(f"{floor.name}: no folder {folder}")
            for name in sorted(os.listdir(os.path.join(ROOT, folder))):
                f = folder + "/" + name
                if name.endswith(EXTENSIONS) and f not in owner:
                    owner[f] = floor
    for folder in sorted(folders):  # every file of the library has a floor
        for name in sorted(os.listdir(os.path.join(ROOT, folder))):
            f = folder + "/" + name
            if name.endswith(EXTENSIONS) and f not in owner:
                fail(f"{f} belongs to no floor")
    for f, floor in sorted(owner.items()):
        floor.files.append(f)
    return owner, sorted(folders)


def reach(by_name):
    """Floor name -> the floors it may include (itself and all it reaches)."""
    memo = {}

    def visit(name):
        if name not in memo:
            memo[name] = {name}
            for used in by_name[name].uses:
                memo[name] |= visit(used)
        return memo[name]

    return {name: visit(name) for name in by_name}


def includes(path):
    """(line number, resolved file or None, text) of each quoted include."""
    with open(os.path.join(ROOT, path), encoding="utf-8", errors="replace") as source:
        for number, text in enumerate(source, 1):
            m = INCLUDE.match(text)
            if not m:
                continue
            written = m.group(1)
            target = None
            for base in (os.path.dirname(path), ""):
                candidate = os.path.normpath(os.path.join(base, written))
                if os.path.isfile(os.path.join(ROOT, candidate)):
                    target = candidate.replace(os.sep, "/")
                    break
            yield number, target, written


def check(floors, owner, allowed):
    """Include lines that leave what their floor may use; arrows in use."""
    faults, arrows = [], {}
    for floor in floors:
        for path in floor.files:
            for number, target, written in includes(path):
                if target is None or target not in owner:
                    continue  # system, generated or outside the library
                used = owner[target]
                if used.name not in allowed[floor.name]:
                    faults.append(f"{path}:{number}: includes \"{written}\" ({used.name}), "
                                  f"but {floor.name} may use only "
                                  f"{', '.join(sorted(allowed[floor.name] - {floor.name})) or 'nothing'}")
                elif used is not floor:
                    arrows.setdefault((floor.name, used.name), 0)
                    arrows[(floor.name, used.name)] += 1
    return faults, arrows


def members_lines(floor, width=44):
    """The floor's members, wrapped; files of one folder after the folder once."""
    words, folder = [], None
    for member in floor.members:
        head, _, tail = member.rpartition("/")
        if member.endswith("/") or head != folder:
            words.append(member)
            folder = None if member.endswith("/") else head
        else:
            words.append(tail)
    lines = [""]
    for word in words:
        if lines[-1] and len(lines[-1]) + 1 + len(word) > width:
            lines.append("")
        lines[-1] += (" " if lines[-1] else "") + word
    return lines


def picture(floors):
    width = max(len(f.name) for f in floors)
    mwidth = max(len(line) for f in floors for line in members_lines(f))
    lines = ["floor".ljust(width) + "  " + "what lives there".ljust(mwidth) + "  may use (and what those use)"]
    for floor in reversed(floors):  # top first, as a building is drawn
        uses = "-> " + (", ".join(floor.uses) if floor.uses else "-")
        for i, text in enumerate(members_lines(floor)):
            name = floor.name if i == 0 else ""
            lines.append((name.ljust(width) + "  " + text.ljust(mwidth) + "  " + (uses if i == 0 else "")).rstrip())
    return "\n".join(lines)


def stage(floors, by_name, allowed, folders, out):
    # First the folders whose files the build must watch: a file added to one
    # changes its floor.
    print("|".join(["@folders"] + [os.path.join(ROOT, f) for f in folders]))
    for floor in floors:
        folder = os.path.join(out, floor.name)
        if os.path.isdir(folder):
            for dirpath, dirnames, filenames in os.walk(folder, topdown=False):
                for name in filenames:
                    os.unlink(os.path.join(dirpath, name))
                for name in dirnames:
                    p = os.path.join(dirpath, name)
                    if os.path.islink(p):
                        os.unlink(p)
                    else:
                        os.rmdir(p)
        for name in sorted(allowed[floor.name]):
            for header in by_name[name].headers():
                link = os.path.join(folder, header)
                os.makedirs(os.path.dirname(link), exist_ok=True)
                os.symlink(os.path.join(ROOT, header), link)
        print("|".join([floor.name] + [os.path.join(ROOT, s) for s in floor.sources()]))


def main(argv):
    floors, by_name = read_table()
    owner, folders = resolve_members(floors)
    allowed = reach(by_name)
    if len(argv) == 3 and argv[1] == "--stage":
        stage(floors, by_name, allowed, folders, argv[2])
        return 0
    if len(argv) == 2 and argv[1] == "--picture":
        print(picture(floors))
        return 0
    if len(argv) != 1:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    faults, arrows = check(floors, owner, allowed)
    print(picture(floors))
    print()
    print(f"{len(owner)} files on {len(floors)} floors; includes between floors:")
    for floor in reversed(floors):
        used = [(u, n) for (f, u), n in sorted(arrows.items()) if f == floor.name]
        if used:
            print(f"  {floor.name} -> " + ", ".join(f"{u} ({n})" for u, n in used))
    if faults:
        print()
        print(f"{len(faults)} includes leave their floor's reach:")
        for fault in faults:
            print("  " + fault)
        return 1
    print("every include keeps to its floor's reach")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
