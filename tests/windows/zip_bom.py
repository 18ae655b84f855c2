#!/usr/bin/python3
"""Checks a Windows zip's bill of materials: the copy inside the zip is the
one beside it; it is valid CycloneDX 1.6 by the schema (offline); the
document and every component carry the fields a buyer's SBOM guideline asks
for; each file of the zip is one component, with that file's SHA-512; every
reference resolves and every component's dependencies state their
completeness.

Usage: zip_bom.py ZIP [SCHEMA_FOLDER]   (default: ../shared/cyclonedx beside
the checkout; Debian's python3 with python3-jsonschema)
"""

import hashlib
import json
import os
import sys
import zipfile

import jsonschema

HERE = os.path.dirname(os.path.abspath(__file__))
SCHEMAS = os.path.join(HERE, '..', '..', '..', 'shared', 'cyclonedx')
VALUES = {'bsi:component:executable': {'executable', 'non-executable'},
          'bsi:component:archive': {'archive', 'no archive'},
          'bsi:component:structured': {'structured', 'unstructured'},
          'bsi:component:filename': None}
problems = []


def fail(text):
    problems.append(text)


def validate(bom, folder):
    schemas = {name: json.load(open(os.path.join(folder, name)))
               for name in os.listdir(folder) if name.endswith('.schema.json')}
    store = {s.get('$id', name): s for name, s in schemas.items()} | schemas
    main = schemas['bom-1.6.schema.json']
    resolver = jsonschema.RefResolver.from_schema(main, store=store)
    for error in jsonschema.Draft7Validator(main, resolver=resolver).iter_errors(bom):
        fail(f'schema: {"/".join(map(str, error.absolute_path))}: {error.message[:200]}')


def has_contact(entity):
    return bool(entity and (entity.get('url') or any(c.get('email') for c in entity.get('contact', []))))


def check_fields(bom, files):
    meta = bom.get('metadata', {})
    if not meta.get('timestamp') or not has_contact(meta.get('manufacturer')):
        fail('metadata: no time stamp, or a creator without e-mail or URL')
    by_file = {}
    for c in bom.get('components', []):
        ref = c.get('bom-ref', c.get('name'))
        if c.get('type') == 'operating-system':
            continue  # the PC's, not shipped
        props = {p['name']: p['value'] for p in c.get('properties', [])}
        for name, allowed in VALUES.items():
            if name not in props:
                fail(f'{ref}: no property {name}')
            elif allowed and props[name] not in allowed:
                fail(f'{ref}: {name} is "{props[name]}", not one of {sorted(allowed)}')
        if not has_contact(c.get('manufacturer')):
            fail(f'{ref}: no creator with e-mail or URL')
        if not c.get('name') or not c.get('version'):
            fail(f'{ref}: no name or version')
        licences = c.get('licenses') or [{}]
        if not all(entry.get('expression') or entry.get('license', {}).get('id')
                   or entry.get('license', {}).get('name') == 'NOASSERTION' for entry in licences):
            fail(f'{ref}: no SPDX licence')
        hashes = {h['alg']: h['content'] for h in c.get('hashes', [])}
        if 'tavrin:inside' in props:  # a library built into a DLL: its file is the DLL's
            if props['tavrin:inside'] not in files or props.get('bsi:component:filename') not in files:
                fail(f'{ref}: inside {props["tavrin:inside"]}, which the zip does not hold')
            continue
        path = props.get('bsi:component:filename')
        if path in by_file:
            fail(f'{path}: two components')
        by_file[path] = c
        if path not in files:
            fail(f'{ref}: names {path}, which the zip does not hold')
        elif hashes.get('SHA-512') != hashlib.sha512(files[path]).hexdigest():
            fail(f'{path}: its SHA-512 is not the one in the bill of materials')
    for path in sorted(set(files) - set(by_file)):
        fail(f'{path}: in the zip, but no component')


def check_graph(bom):
    refs = {c['bom-ref'] for c in bom.get('components', [])} | {bom['metadata']['component']['bom-ref']}
    listed = {d['ref'] for d in bom.get('dependencies', [])}
    for d in bom.get('dependencies', []):
        for target in d.get('dependsOn', []):
            if target not in refs:
                fail(f'{d["ref"]} needs {target}, which is no component')
    stated = {r for c in bom.get('compositions', []) for r in c.get('dependencies', [])}
    for ref in sorted(refs - listed):
        fail(f'{ref}: no dependencies entry')
    for ref in sorted(refs - stated):
        fail(f'{ref}: the completeness of its dependencies is not stated')


def main():
    path = sys.argv[1]
    schemas = sys.argv[2] if len(sys.argv) > 2 else os.environ.get('TAVRIN_CYCLONEDX_SCHEMA', SCHEMAS)
    with zipfile.ZipFile(path) as archive:
        files = {i.filename.split('/', 1)[1]: archive.read(i) for i in archive.infolist() if not i.is_dir()}
    name = os.path.basename(path)[:-len('.zip')] + '.cdx.json'
    if name not in files:
        sys.exit(f'FAIL: {os.path.basename(path)} holds no {name}')
    text = files.pop(name)
    beside = os.path.join(os.path.dirname(path), name)
    if not os.path.exists(beside) or open(beside, 'rb').read() != text:
        fail(f'{beside} is missing or not the one inside the zip')
    bom = json.loads(text)
    validate(bom, schemas)
    check_fields(bom, files)
    check_graph(bom)
    for problem in problems:
        print('FAIL:', problem)
    if problems:
        sys.exit(1)
    print(f'PASS: {name}: valid CycloneDX {bom["specVersion"]}, {len(bom["components"])} components, '
          f'the SHA-512 of each of the {len(files)} files in the zip')


if __name__ == '__main__':
    main()
