#!/usr/bin/env python3
"""The winget manifest a Windows build writes, read as YAML: the fields winget's
schema requires, and each installer's against the file built.
Usage: winget_test.py MANIFEST_DIR URL VERSION EXTENSION MSIINFO SETUP MSI [OTHER...]
(this build's installers, which must be listed, then the other build's, which may be)"""
import hashlib, os, re, subprocess, sys, yaml

# Required by winget's manifest schema 1.6.0 (manifest.version.1.6.0.json,
# manifest.installer.1.6.0.json, manifest.defaultLocale.1.6.0.json); an
# installer's InstallerType is required at its level or the file's.
SCHEMA = '1.6.0'
REQUIRED = {'version': ['PackageIdentifier', 'PackageVersion', 'DefaultLocale', 'ManifestType', 'ManifestVersion'],
            'installer': ['PackageIdentifier', 'PackageVersion', 'Installers', 'ManifestType', 'ManifestVersion'],
            'defaultLocale': ['PackageIdentifier', 'PackageVersion', 'PackageLocale', 'Publisher', 'PackageName',
                              'License', 'ShortDescription', 'ManifestType', 'ManifestVersion']}
INSTALLER_REQUIRED = ['Architecture', 'InstallerUrl', 'InstallerSha256', 'InstallerType']
# The schema's pattern of a PackageIdentifier.
PART = r'[^.\s\\/:*?"<>|\x01-\x1f]{1,32}'
IDENTIFIER = f'{PART}(\\.{PART}){{1,7}}'

folder, url, version, extension, msiinfo, *built = sys.argv[1:]
failures = []
def check(what, actual, expected):
    if actual != expected:
        failures.append(f'{what}: got {actual!r}, expected {expected!r}')

manifests = {}
for name in os.listdir(folder):
    with open(os.path.join(folder, name), encoding='utf-8') as f:
        manifest = yaml.safe_load(f)
    kind = manifest.get('ManifestType')
    ident = manifest.get('PackageIdentifier', '')
    suffix = {'version': '', 'installer': '.installer', 'defaultLocale': f'.locale.{manifest.get("PackageLocale")}'}
    check(f'{name}: file name', name, f'{ident}{suffix.get(kind)}.yaml')
    check(f'{name}: missing fields', [k for k in REQUIRED.get(kind, ['ManifestType']) if not manifest.get(k)], [])
    check(f'{name}: identifier', bool(re.fullmatch(IDENTIFIER, ident)), True)
    check(f'{name}: version', (manifest.get('PackageVersion'), manifest.get('ManifestVersion')), (version, SCHEMA))
    manifests[kind] = manifest
check('manifest files', sorted(manifests), sorted(REQUIRED))
check('identifiers', len({m.get('PackageIdentifier') for m in manifests.values()}), 1)
check('default locale', manifests['version'].get('DefaultLocale'), manifests['defaultLocale'].get('PackageLocale'))

def msi_properties(path):
    lines = subprocess.run([msiinfo, 'export', path, 'Property'], capture_output=True, text=True, check=True).stdout
    return dict(line.split('\t', 1) for line in lines.splitlines() if '\t' in line)

def architecture(path, data):
    if path.endswith('.msi'):
        summary = subprocess.run([msiinfo, 'suminfo', path], capture_output=True, text=True, check=True).stdout
        return {'Intel': 'x86', 'x64': 'x64'}.get(re.search(r'Template: (\w+);', summary).group(1))
    machine = int.from_bytes(data[int.from_bytes(data[60:64], 'little') + 4:][:2], 'little')
    return {0x14c: 'x86', 0x8664: 'x64'}.get(machine)

locale, installers = manifests['defaultLocale'], manifests['installer']
folders = {os.path.dirname(os.path.abspath(path)) for path in built}
listed = set()
for entry in installers['Installers']:
    field = lambda key: entry.get(key, installers.get(key))
    name = entry.get('InstallerUrl', '').rpartition('/')[2]
    check(f'{name}: missing fields', [k for k in INSTALLER_REQUIRED if not field(k)], [])
    check(f'{name}: URL', entry.get('InstallerUrl'), f'{url}/{name}')
    path = next((os.path.join(d, name) for d in folders if os.path.exists(os.path.join(d, name))), None)
    if path is None:
        failures.append(f'{name}: no such file built')
        continue
    listed.add(os.path.realpath(path))
    data = open(path, 'rb').read()
    check(f'{name}: SHA-256', entry['InstallerSha256'].lower(), hashlib.sha256(data).hexdigest())
    check(f'{name}: architecture', entry['Architecture'], architecture(path, data))
    check(f'{name}: scope, upgrade, extensions, protocols',
          [field(k) for k in ('Scope', 'UpgradeBehavior', 'FileExtensions', 'Protocols')],
          ['user', 'install', [extension.lstrip('.')], ['talvin']])
    switches = field('InstallerSwitches')
    if path.endswith('.exe'):
        check(f'{name}: type', (field('InstallerType'), b'NullsoftInst' in data), ('nullsoft', True))
        check(f'{name}: silent', (switches['Silent'], switches['SilentWithProgress']), ('/S', '/S'))
    else:
        properties = msi_properties(path)
        check(f'{name}: type', (field('InstallerType'), data[:8]), ('msi', bytes.fromhex('d0cf11e0a1b11ae1')))
        check(f'{name}: silent', switches['Silent'].split()[0], '/quiet')
        check(f'{name}: codes', (field('ProductCode'), field('AppsAndFeaturesEntries')),
              (properties['ProductCode'], [{'UpgradeCode': properties['UpgradeCode']}]))
        check(f'{name}: publisher and name', (locale['Publisher'], locale['PackageName']),
              (properties['Manufacturer'], properties['ProductName']))
check('this build\'s installers not listed', {os.path.realpath(p) for p in built[:2]} - listed, set())
print('\n'.join(failures) or 'The manifest holds')
sys.exit(1 if failures else 0)
