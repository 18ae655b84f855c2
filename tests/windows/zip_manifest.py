#!/usr/bin/python3
"""Reads the application manifest from tavrin.exe in a Windows zip and checks
what Windows decides by it: the program runs as the signed-in user
(asInvoker, so no elevation prompt and no UAC file virtualization), it
declares Windows 7, 8, 8.1 and 10/11 (so they report their real version to
it), and it declares no dpi awareness of its own (Qt sets that at start).

Usage: zip_manifest.py ZIP   (Debian's python3 with python3-pefile)
"""

import sys
import zipfile
import xml.etree.ElementTree as ET

import pefile

RT_MANIFEST = 24
CREATEPROCESS_MANIFEST_RESOURCE_ID = 1
SUPPORTED_OS = {
    '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}': 'Windows 7',
    '{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}': 'Windows 8',
    '{1f676c76-80e1-4239-95bb-83d0f6d0da78}': 'Windows 8.1',
    '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}': 'Windows 10 and 11',
}


def manifests(exe_bytes):
    """{resource id: bytes} of the exe's RT_MANIFEST resources."""
    pe = pefile.PE(data=exe_bytes, fast_load=True)
    pe.parse_data_directories([pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_RESOURCE']])
    found = {}
    if not hasattr(pe, 'DIRECTORY_ENTRY_RESOURCE'):
        return found
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id != RT_MANIFEST:
            continue
        for name in kind.directory.entries:
            for language in name.directory.entries:
                data = language.data.struct
                found[name.id] = pe.get_data(data.OffsetToData, data.Size)
    return found


def local(tag):
    return tag.rsplit('}', 1)[-1]


def check(exe_bytes):
    """The faults found, as sentences; none when the manifest is right."""
    found = manifests(exe_bytes)
    if CREATEPROCESS_MANIFEST_RESOURCE_ID not in found:
        return ['tavrin.exe has no application manifest (RT_MANIFEST resource 1)']
    faults = [f'tavrin.exe has a further manifest resource {other}' for other in found
              if other != CREATEPROCESS_MANIFEST_RESOURCE_ID]
    try:
        root = ET.fromstring(found[CREATEPROCESS_MANIFEST_RESOURCE_ID])
    except ET.ParseError as error:
        return faults + [f'the manifest is not well-formed XML: {error}']
    elements = list(root.iter())
    levels = [(e.get('level'), e.get('uiAccess')) for e in elements if local(e.tag) == 'requestedExecutionLevel']
    if levels != [('asInvoker', 'false')]:
        faults.append(f'requestedExecutionLevel is {levels}, not one asInvoker without uiAccess')
    declared = {e.get('Id', '').lower() for e in elements if local(e.tag) == 'supportedOS'}
    faults += [f'the manifest does not declare {name}' for guid, name in SUPPORTED_OS.items() if guid not in declared]
    dpi = [local(e.tag) for e in elements if local(e.tag) in ('dpiAware', 'dpiAwareness')]
    if dpi:
        faults.append(f'the manifest sets {", ".join(dpi)}; Qt sets the dpi awareness itself')
    return faults


def main():
    with zipfile.ZipFile(sys.argv[1]) as archive:
        exes = [n for n in archive.namelist() if n.lower().endswith('/tavrin.exe') or n.lower() == 'tavrin.exe']
        if len(exes) != 1:
            print(f'FAIL: the zip holds {len(exes)} tavrin.exe')
            return 1
        faults = check(archive.read(exes[0]))
    for fault in faults:
        print(f'FAIL: {fault}')
    if not faults:
        print(f'{exes[0]}: asInvoker, declares {", ".join(SUPPORTED_OS.values())}, no dpi awareness of its own')
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main())
