#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Fails when an #include crosses a layer that scripts/layers.txt does not allow, when an
outside library's header is used outside the folder that wraps it, or when a source file
(.cpp) is included instead of linked. Usage: scripts/check-includes.py [tree]"""

import fnmatch
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
SOURCE_SUFFIXES = ('.cpp', '.cc', '.cxx', '.c')
CHECKED_SUFFIXES = ('.cpp', '.h', '.hpp', '.cc')


def read_table(path):
    """Returns ({path: set of allowed paths}, [(pattern, set of paths)])."""
    layers, only = {}, []
    with open(path, encoding='utf-8') as table:
        for number, line in enumerate(table, 1):
            line = line.split('#', 1)[0].strip()
            if not line:
                continue
            key, sep, allowed = line.partition(':')
            if not sep:
                sys.exit(f'{path}:{number}: expected "<path>: <paths>"')
            key, allowed = key.strip(), set(allowed.split())
            if key.endswith(' only'):
                only.append((key[:-len(' only')].strip().strip('<>'), allowed))
            else:
                layers[key] = allowed
    for key, allowed in layers.items():
        for name in allowed - {'*'}:
            if name not in layers:
                sys.exit(f'{path}: "{key}" allows "{name}", which has no line of its own')
    return layers, only


def layer_of(path, layers):
    """The longest path of the table that is `path` or one of its parent folders."""
    best = None
    for key in layers:
        if path == key or path.startswith(key + '/'):
            if best is None or len(key) > len(best):
                best = key
    return best


def within(path, folders):
    return any(path == folder or path.startswith(folder + '/') for folder in folders)


def source_files(tree):
    for folder, subfolders, files in os.walk(tree):
        # Build folders hold generated code (moc output and the like), not ours.
        subfolders[:] = sorted(d for d in subfolders
                               if not d.startswith('.') and not d.startswith('build'))
        for name in sorted(files):
            if name.endswith(CHECKED_SUFFIXES):
                yield os.path.relpath(os.path.join(folder, name), tree)


def check(tree, layers, only):
    problems = []
    for path in source_files(tree):
        path = path.replace(os.sep, '/')
        own = layer_of(path, layers)
        if own is None:
            problems.append(f'{path}: its folder has no line in scripts/layers.txt')
            continue
        with open(os.path.join(tree, path), encoding='utf-8', errors='replace') as source:
            for number, line in enumerate(source, 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                quote, name = match.groups()
                where = f'{path}:{number}'
                if name.endswith(SOURCE_SUFFIXES):
                    problems.append(f'{where}: includes the source file {name}; link its library')
                    continue
                if quote == '<':
                    for pattern, allowed in only:
                        if fnmatch.fnmatchcase(name, pattern) and not within(path, allowed):
                            problems.append(f'{where}: <{name}> is for {" ".join(sorted(allowed))}'
                                            f' only')
                    continue
                if '/' not in name:
                    continue  # a header beside the including file
                target = layer_of(name, layers)
                if target is None:
                    problems.append(f'{where}: "{name}" is in no folder of scripts/layers.txt')
                elif target != own and '*' not in layers[own] and target not in layers[own]:
                    problems.append(f'{where}: {own} may not include {target} ("{name}")')
    return problems


def main():
    tree = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..')
    layers, only = read_table(os.path.join(tree, 'scripts', 'layers.txt'))
    problems = check(tree, layers, only)
    for problem in problems:
        print(problem)
    if problems:
        print(f'check-includes: {len(problems)} include(s) cross a layer', file=sys.stderr)
        return 1
    print('check-includes: every include keeps to scripts/layers.txt')
    return 0


if __name__ == '__main__':
    sys.exit(main())
