#!/usr/bin/python3
"""Writes the CycloneDX 1.6 bill of materials of a Windows zip's folder: one
component for each file, one for each library built into the Qt DLLs, with
what a buyer's SBOM guideline asks of each (creator, name, version, file
name, SHA-512, SPDX licence, executable/archive/structured), where each came
from (the Debian packages, asked of dpkg now), and who needs whom (the PE
import tables, the plugins Qt loads, the libraries inside Qt).

Usage: windows_bom.py --stage FOLDER --out FILE --version V --contact MAIL|URL
                      --compiler PATH --runtime DLL...      (SOURCE_DATE_EPOCH set)
"""

import argparse
import datetime
import hashlib
import json
import os
import re
import subprocess
import sys
import urllib.parse
import uuid

import pefile

QT = {'name': 'The Qt Company and the Qt Project', 'url': ['https://www.qt.io']}
# Qt's open-source terms are a choice; the zip passes the DLLs on under the LGPL v3.
QT_LICENCE = 'LGPL-3.0-only'
GCC = {'name': 'GCC developers', 'url': ['https://gcc.gnu.org']}
MINGW = {'name': 'mingw-w64 project', 'url': ['https://www.mingw-w64.org']}
MICROSOFT = {'name': 'Microsoft', 'url': ['https://www.microsoft.com']}
RUNTIME = {
    'libstdc++-6.dll': ('libstdc++', GCC, 'GPL-3.0-or-later WITH GCC-exception-3.1'),
    'libgcc_s_seh-1.dll': ('libgcc', GCC, 'GPL-3.0-or-later WITH GCC-exception-3.1'),
    'libgcc_s_dw2-1.dll': ('libgcc', GCC, 'GPL-3.0-or-later WITH GCC-exception-3.1'),
    'libwinpthread-1.dll': ('winpthreads', MINGW, 'MIT AND BSD-3-Clause'),
}
# The libraries qtbase builds into its DLLs with the kit's options (-qt-zlib,
# -qt-libpng, -qt-harfbuzz, -qt-pcre and the ones it always bundles; MD4C goes
# with the Markdown reader, which the kit leaves out), as its
# 3rdparty attributions give them for the Qt version named; where a DLL
# carries the version as text, that text must be in it, or this table is stale.
QT_TABLE_VERSION = '5.15.8'
BUNDLED = [
    # name, version, licence, creator url, DLL, text in the DLL, needs
    ('zlib', '1.2.11', 'Zlib', 'https://zlib.net', 'Qt5Core.dll', b'1.2.11', []),
    ('PCRE2', '10.39', 'BSD-3-Clause AND BSD-2-Clause', 'https://www.pcre.org', 'Qt5Core.dll', b'10.39', []),
    ('double-conversion', '3.1.5', 'BSD-3-Clause', 'https://github.com/google/double-conversion',
     'Qt5Core.dll', None, []),
    ('TinyCBOR', '0.6', 'MIT', 'https://github.com/intel/tinycbor', 'Qt5Core.dll', None, []),
    ('libpng', '1.6.37', 'Libpng AND libpng-2.0', 'http://www.libpng.org', 'Qt5Gui.dll', b'1.6.37', ['zlib']),
    ('HarfBuzz', '1.7.4', 'MIT', 'https://harfbuzz.github.io', 'Qt5Gui.dll', b'1.7.4', []),
]
# The plugins Qt loads at run time, which no import table shows.
PLUGINS = {'Qt5Gui.dll': ['platforms/qwindows.dll'], 'Qt5Widgets.dll': ['styles/qwindowsvistastyle.dll']}
# The text files, by whose component they document.
TEXTS = {'README.txt': 'tavrin.exe', 'licences/GCC-runtime-copyright.txt': 'libstdc++-6.dll',
         'licences/mingw-w64-runtime-copyright.txt': 'libwinpthread-1.dll'}


def dpkg_origin(path):
    """(binary package, its version, source package, source version,
    architecture) of the installed file PATH."""
    owner = subprocess.run(['dpkg', '-S', os.path.realpath(path)], capture_output=True, text=True,
                           check=True).stdout.split(':')[0]
    fields = subprocess.run(['dpkg-query', '-W', '-f=${Version}\t${source:Package}\t${source:Version}\t${Architecture}',
                             owner], capture_output=True, text=True, check=True).stdout.split('\t')
    return owner, fields[0], fields[1], fields[2], fields[3]


def purl(package, version, arch):
    return f'pkg:deb/debian/{package}@{urllib.parse.quote(version, safe="")}?arch={arch}'


def prop(name, value):
    return {'name': name, 'value': value}


def main():
    parser = argparse.ArgumentParser()
    for option in ('--stage', '--out', '--version', '--contact', '--compiler'):
        parser.add_argument(option, required=True)
    parser.add_argument('--runtime', nargs='+', required=True)
    args = parser.parse_args()
    stage = args.stage
    epoch = int(os.environ['SOURCE_DATE_EPOCH'])
    when = datetime.datetime.fromtimestamp(epoch, datetime.timezone.utc).strftime('%Y-%m-%dT%H:%M:%SZ')
    contact = ({'contact': [{'email': args.contact}]} if '@' in args.contact and '://' not in args.contact
               else {'url': [args.contact]})
    tavrin = {'name': 'Tavrin developers', **contact}

    qt_source = open(os.path.join(stage, 'licences/Qt-source-version.txt')).read().split()
    qt_version = re.match(r'\d+\.\d+\.\d+', qt_source[1]).group(0)
    if qt_version != QT_TABLE_VERSION:
        sys.exit(f'windows_bom: the table of the libraries inside Qt is for Qt {QT_TABLE_VERSION}, '
                 f'the DLLs are Qt {qt_version}: check src/3rdparty of its source and update it')
    compiler = dpkg_origin(args.compiler)
    built_with = f'{compiler[0]} {compiler[1]} (Debian source {compiler[2]} {compiler[3]})'
    runtime = {os.path.basename(path): dpkg_origin(path) for path in args.runtime}

    files = sorted(os.path.relpath(os.path.join(root, f), stage).replace(os.sep, '/')
                   for root, _, names in os.walk(stage) for f in names)
    files = [f for f in files if not f.endswith('.cdx.json')]
    shipped = {f.lower(): f for f in files}
    components, needs = {}, {}

    def about(path):
        """(name, version, creator, licence, purl, properties) of a shipped program or DLL."""
        base = os.path.basename(path)
        if base == 'tavrin.exe':
            return 'tavrin', args.version, tavrin, None, None, [prop('tavrin:built-with', built_with)]
        if base in runtime:
            name, creator, licence = RUNTIME[base]
            package, version, source, source_version, arch = runtime[base]
            return (name, version.split('-')[0], creator, licence, purl(package, version, arch),
                    [prop('tavrin:debian-package', f'{package} {version}'),
                     prop('tavrin:debian-source', f'{source} {source_version}')])
        if base.startswith('Qt') or path.startswith(('platforms/', 'styles/')):
            return (os.path.splitext(base)[0], qt_version, QT, QT_LICENCE, purl(qt_source[0], qt_source[1], 'source'),
                    [prop('tavrin:debian-source', ' '.join(qt_source)),
                     prop('tavrin:built-with', f'scripts/qt-kit.sh, {built_with}')])
        sys.exit(f'windows_bom: nothing is known of {path}: add it to this script')

    def licences(licence):
        if licence is None:  # the repository states no licence for Tavrin
            return [{'license': {'name': 'NOASSERTION', 'acknowledgement': 'declared'}}]
        return [{'expression': licence, 'acknowledgement': 'concluded'}]

    def owner_of(path):
        if path in TEXTS:
            return TEXTS[path]
        return 'Qt5Core.dll' if path.startswith('licences/') else path

    for path in files:
        data = open(os.path.join(stage, path), 'rb').read()
        executable = path.lower().endswith(('.exe', '.dll'))
        name, version, creator, licence, locator, extra = about(path if executable else owner_of(path))
        component = {
            'type': ('application' if path.endswith('.exe') else 'library') if executable else 'file',
            'bom-ref': path,
            'manufacturer': creator,
            'name': name if executable else os.path.basename(path),
            'version': version,
            'hashes': [{'alg': 'SHA-512', 'content': hashlib.sha512(data).hexdigest()}],
            'licenses': licences(licence),
            'properties': [prop('bsi:component:filename', path),
                           prop('bsi:component:executable', 'executable' if executable else 'non-executable'),
                           prop('bsi:component:archive', 'no archive'),
                           prop('bsi:component:structured', 'structured' if executable else 'unstructured')]
                          + (extra if executable else []),
        }
        if locator and executable:
            component['purl'] = locator
        components[path] = component
        if executable:
            pe = pefile.PE(data=data, fast_load=True)
            pe.parse_data_directories([pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_IMPORT']])
            imports = [entry.dll.decode().lower() for entry in getattr(pe, 'DIRECTORY_ENTRY_IMPORT', [])]
            needs[path] = sorted({shipped[i] for i in imports if i in shipped} | set(PLUGINS.get(path, [])))
            if any(i not in shipped for i in imports):
                needs[path].append('windows')
        else:
            needs[path] = []
    if 'tavrin.exe' not in components:
        sys.exit('windows_bom: no tavrin.exe in ' + stage)

    for name, version, licence, url, dll, text, wants in BUNDLED:
        if text is not None and text not in open(os.path.join(stage, dll), 'rb').read():
            sys.exit(f'windows_bom: {dll} does not carry "{text.decode()}" of {name} {version}: update the table')
        ref = 'qt-bundled:' + name
        components[ref] = {
            'type': 'library', 'bom-ref': ref, 'manufacturer': {'name': name + ' developers', 'url': [url]},
            'name': name, 'version': version, 'licenses': licences(licence),
            'purl': purl(qt_source[0], qt_source[1], 'source'),
            'properties': [prop('bsi:component:filename', dll), prop('bsi:component:executable', 'executable'),
                           prop('bsi:component:archive', 'no archive'),
                           prop('bsi:component:structured', 'structured'),
                           prop('tavrin:debian-source', ' '.join(qt_source)),
                           prop('tavrin:inside', dll)],
        }
        needs[dll].append(ref)
        needs[ref] = ['qt-bundled:' + w for w in wants]
    windows = {'type': 'operating-system', 'bom-ref': 'windows', 'manufacturer': MICROSOFT, 'name': 'Windows',
               'version': '6.1', 'description': 'Windows 7 SP1 or later: the DLLs of Windows the files import',
               'properties': [prop('tavrin:not-shipped', 'part of the PC')]}

    described = {'type': 'application', 'bom-ref': 'zip', 'manufacturer': tavrin, 'name': 'tavrin',
                 'version': args.version, 'licenses': licences(None),
                 'properties': [prop('bsi:component:filename', os.path.basename(stage) + '.zip'),
                                prop('bsi:component:executable', 'non-executable'),
                                prop('bsi:component:archive', 'archive'),
                                prop('bsi:component:structured', 'structured')]}
    dependencies = [{'ref': 'zip', 'dependsOn': files}]
    dependencies += [{'ref': ref, 'dependsOn': needs[ref]} for ref in components]
    bom = {
        '$schema': 'http://cyclonedx.org/schema/bom-1.6.schema.json',
        'bomFormat': 'CycloneDX',
        'specVersion': '1.6',
        'version': 1,
        'metadata': {'timestamp': when, 'lifecycles': [{'phase': 'build'}], 'manufacturer': tavrin,
                     'component': described},
        'components': list(components.values()) + [windows],
        'dependencies': dependencies + [{'ref': 'windows', 'dependsOn': []}],
        # Every dependency of what the zip holds is listed; Windows' own are not its concern.
        'compositions': [{'aggregate': 'complete', 'dependencies': ['zip'] + list(components)},
                         {'aggregate': 'unknown', 'dependencies': ['windows']}],
    }
    # The same contents give the same serial number, so that rebuilt zips compare equal.
    body = json.dumps(bom, sort_keys=True).encode()
    bom = {'serialNumber': 'urn:uuid:' + str(uuid.uuid5(uuid.NAMESPACE_URL, hashlib.sha256(body).hexdigest())),
           **bom}
    with open(args.out, 'w') as out:
        json.dump(bom, out, indent=2)
        out.write('\n')


if __name__ == '__main__':
    main()
