#!/usr/bin/env python3
"""Checks, without running anything, that every program and DLL in a Windows
zip loads on Windows 7 SP1: each DLL it imports is in the zip (and exports
what is asked of it) or is part of Windows 7; no function it imports from
Windows is newer than Windows 7 by Microsoft's record (winapi-functions.tsv);
no PE header asks for a newer subsystem. Prints the lowest Windows that can
load the zip.

Usage: zip_imports.py ZIP i686|x86_64
"""

import os
import re
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
WINDOWS_7 = (6, 1)
OBJDUMP = {'i686': 'i686-w64-mingw32-objdump', 'x86_64': 'x86_64-w64-mingw32-objdump'}
WINE_DLLS = {'i686': '/usr/lib/i386-linux-gnu/wine/i386-windows',
             'x86_64': '/usr/lib/x86_64-linux-gnu/wine/x86_64-windows'}
SERVER_RELEASES = {'2000': (5, 0), '2003': (5, 2), '2008': (6, 0), '2012': (6, 2), '2016': (10, 0, 14393)}
NAMES = [((10, 0), 'Windows 10'), ((6, 3), 'Windows 8.1'), ((6, 2), 'Windows 8'), ((6, 1), 'Windows 7'),
         ((6, 0), 'Windows Vista'), ((5, 1), 'Windows XP'), ((5, 0), 'Windows 2000')]


def version(platform):
    """('windows6.1' -> (6, 1)); None where the record gives none."""
    if not platform:
        return None
    server = re.fullmatch(r'windowsServer(\d+)', platform)
    if server:
        return SERVER_RELEASES.get(server.group(1))
    match = re.fullmatch(r'windows([\d.]+)', platform)
    if not match:
        return None
    numbers = tuple(int(n) for n in match.group(1).split('.'))
    if numbers[:1] == (8,):  # Windows 8 and 8.1 are NT 6.2 and 6.3
        numbers = (6, 2 + (numbers[1] if len(numbers) > 1 else 0))
    return numbers[:2] if numbers[:2] != (10, 0) else numbers[:3]


def describe(v):
    for at_least, name in NAMES:
        if v >= at_least:
            build = f' build {v[2]}' if len(v) > 2 and v[:2] == (10, 0) else ''
            return f'{name}{build} ({".".join(map(str, v))})'
    return '.'.join(map(str, v))


def load_record():
    """{dll: {function: version}} and {function: earliest version in any DLL}."""
    by_dll, anywhere = {}, {}
    with open(os.path.join(HERE, 'winapi-functions.tsv'), encoding='utf-8') as record:
        next(record)
        for line in record:
            dll, function, platform = (line.rstrip('\n').split('\t') + [''])[:3]
            v = version(platform)
            by_dll.setdefault(dll, {})[function] = v
            if v and (function not in anywhere or v < anywhere[function]):
                anywhere[function] = v
    return by_dll, anywhere


def windows_7_dlls(by_dll):
    """DLLs that Windows 7 SP1 has: those with a function of Windows 7 or
    earlier in the record, and those the record does not cover."""
    have = {dll for dll, functions in by_dll.items() if any(v and v <= WINDOWS_7 for v in functions.values())}
    with open(os.path.join(HERE, 'windows7-dlls.txt'), encoding='utf-8') as listed:
        have |= {line.strip().lower() for line in listed if line.strip() and not line.startswith('#')}
    return have


def read_pe(objdump, path):
    """(subsystem version, {imported dll: [functions]}, set of exported names)."""
    text = subprocess.run([objdump, '-p', path], check=True, capture_output=True, text=True).stdout
    major = int(re.search(r'^MajorSubsystemVersion\s+(\d+)', text, re.M).group(1))
    minor = int(re.search(r'^MinorSubsystemVersion\s+(\d+)', text, re.M).group(1))
    imports, dll = {}, None
    exports, in_exports = set(), False
    for line in text.splitlines():
        name = re.match(r'\s*DLL Name: (\S+)', line)
        if name:
            dll = name.group(1).lower()
            imports[dll] = []
            continue
        if dll:
            entry = re.match(r'\s+[0-9a-f]+\s+(\d+)\s+(\S+)', line)
            if entry:
                imports[dll].append(entry.group(2))
                continue
            if 'Hint/Ord' in line:
                continue
            dll = None  # a DLL's entries end at a blank line
        if line.startswith('[Ordinal/Name Pointer] Table'):
            in_exports = True
            continue
        export = re.match(r'\s+\[\s*\d+\] (\S+)', line)
        if in_exports and export:
            exports.add(export.group(1))
        elif in_exports and line.strip():
            in_exports = False
    return (major, minor), imports, exports


def main():
    if len(sys.argv) != 3 or sys.argv[2] not in OBJDUMP:
        sys.exit('usage: zip_imports.py ZIP i686|x86_64')
    archive, arch = sys.argv[1], sys.argv[2]
    by_dll, anywhere = load_record()
    on_windows_7 = windows_7_dlls(by_dll)
    wine = {name.lower() for name in os.listdir(WINE_DLLS[arch])} if os.path.isdir(WINE_DLLS[arch]) else set()

    failures, unrecorded = [], set()
    lowest, lowest_why = (5, 0), 'nothing it imports is newer'
    imported = 0
    with tempfile.TemporaryDirectory() as work:
        zipfile.ZipFile(archive).extractall(work)
        binaries = {}
        for folder, _, files in os.walk(work):
            for file in files:
                if file.lower().endswith(('.exe', '.dll')):
                    binaries[os.path.relpath(os.path.join(folder, file), work)] = read_pe(
                        OBJDUMP[arch], os.path.join(folder, file))
    shipped = {os.path.basename(path).lower(): exports for path, (_, _, exports) in binaries.items()}

    def needs(v, why):
        nonlocal lowest, lowest_why
        if v > lowest:
            lowest, lowest_why = v, why

    for path, (subsystem, imports, _) in sorted(binaries.items()):
        if subsystem > WINDOWS_7:
            failures.append(f'{path} asks for subsystem version {subsystem[0]}.{subsystem[1]}, above 6.1')
        needs(subsystem, f'{path}: subsystem version')
        for dll, functions in sorted(imports.items()):
            if dll in shipped:
                for function in functions:
                    if function != '<none>' and function not in shipped[dll]:
                        failures.append(f'{path} needs {function} from {dll}, which the zip\'s {dll} lacks')
                continue
            imported += len(functions)
            if dll not in on_windows_7:
                known = [v for v in by_dll.get(dll, {}).values() if v]
                if known or dll.startswith('api-ms-win-'):
                    failures.append(f'{path} needs {dll}, which Windows 7 SP1 does not have')
                    needs(min(known) if known else (6, 2), f'{path}: {dll}')
                elif dll in by_dll or dll in wine:
                    failures.append(f'{path} needs {dll}, a Windows DLL that the record does not date: '
                                    'windows7-dlls.txt names it if Windows 7 SP1 has it')
                else:
                    failures.append(f'{path} needs {dll}, which is neither in the zip nor part of Windows')
                continue
            for function in functions:
                v = by_dll.get(dll, {}).get(function) or anywhere.get(function)
                if v is None:
                    unrecorded.add(f'{dll}!{function}')
                    continue
                needs(v, f'{path}: {dll}!{function}')
                if v > WINDOWS_7:
                    failures.append(f'{path} imports {dll}!{function}, which came with {describe(v)}')

    for failure in failures:
        print('FAIL:', failure)
    name = os.path.basename(archive)
    print(f'{name}: {len(binaries)} files, {imported} imports from Windows; '
          f'{len(unrecorded)} of them not in Microsoft\'s record (the C runtime\'s among them)')
    print(f'{name}: the lowest Windows that can load it is {describe(lowest)}: {lowest_why}')
    if failures:
        sys.exit(1)
    print(f'PASS: {name} loads on Windows 7 SP1 and later')


if __name__ == '__main__':
    main()
