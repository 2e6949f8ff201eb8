#!/usr/bin/env python3
"""Builds Kestrune-<version>-x64.msi.

The class keys are read from the registration scripts the DLL applies itself (resources/*.rgs),
so the installer writes exactly what self-registration writes; the shell's handler keys come
from resources/installer/shell-keys.tsv. The type library is registered by Windows Installer's own
RegisterTypeLibraries action, which calls RegisterTypeLib on the installed DLL as
self-registration does (and so writes the same TypeLib and Interface keys).

The package is reproducible: its product and package codes are derived from the version and the
packed bytes, and the files' and the summary's times are SOURCE_DATE_EPOCH, not the clock.
"""
import argparse
import hashlib
import os
import re
import shutil
import string
import struct
import subprocess
import sys
import tempfile
import uuid

UPGRADE_CODE = "{904CF176-5325-4ABF-BC69-AEB4677D067E}"  # as in Kestrune.wxs.in
# The manuals' components by file name: (component id, component GUID).
HELP_COMPONENTS = {
    "Kestrune.chm": ("KestruneHelp", "{C4F0F486-AFAF-49DE-8939-A5521A26852A}", "Kestrune Manual (Japanese)"),
    "Kestrune-en.chm": ("KestruneHelpEnglish", "{51017C96-13F8-4230-ACC1-B64F474FA7D7}", "Kestrune Manual (English)"),
}
LIBID = "{4E19DA74-5A13-4910-8F75-236B94656609}"
MODULE = "[INSTALLDIR]Kestrune.dll"
ROOTS = {"HKCR": "HKCR", "HKEY_CLASSES_ROOT": "HKCR", "HKLM": "HKLM", "HKEY_LOCAL_MACHINE": "HKLM"}
MSI_ROOTS = {"HKCR": 0, "HKLM": 2}
PUBLISHER = "Kestrune Project"  # Programs and Features' publisher and the summary's author
CODES = uuid.UUID(UPGRADE_CODE)  # the namespace the product and package codes are derived in


def tokens(text):
    # Whitespace separates every token, as in the scripts' own interpreter: "{" alone opens a
    # block, "{839443F4-...}" is a key name.
    return re.findall(r"'(?:[^']|'')*'|[^\s']+", text)


def unquote(token):
    return token[1:-1].replace("''", "'") if token.startswith("'") else token


def parse_rgs(text):
    """Registry rows of a registration script: (root, key, value name or None, data or None).
    A row with data None stands for a key created without values."""
    items, rows = tokens(text), []
    position = 0

    def take():
        nonlocal position
        position += 1
        return items[position - 1]

    def value():
        if take() != "s":
            raise ValueError("only string values are supported")
        return unquote(take()).replace("%MODULE%", MODULE)

    def block(root, path):
        while items[position] != "}":
            name = take()
            if name.lower() in ("noremove", "forceremove", "delete"):
                name = take()
            if name.lower() == "val":
                value_name = unquote(take())
                take()  # "="
                rows.append((root, path, value_name, value()))
                continue
            key = path + "\\" + unquote(name) if path else unquote(name)
            has_value = items[position] == "="
            if has_value:
                take()
                rows.append((root, key, None, value()))
            if items[position] == "{":
                take()
                before = len(rows)
                block(root, key)
                take()  # "}"
                if not has_value and len(rows) == before:
                    rows.append((root, key, None, None))
            elif not has_value:
                rows.append((root, key, None, None))

    while position < len(items):
        root = ROOTS[take().upper()]
        take()  # "{"
        block(root, "")
        take()  # "}"
    return rows


def read_shell_keys(path):
    rows = []
    with open(path, encoding="utf-8") as lines:
        for line in lines:
            line = line.rstrip("\r\n")
            if not line or line.startswith("#"):
                continue
            root, key, name, data = line.split("\t")
            rows.append((root, key, None if name == "@" else name, data))
    return rows


def version_of(rc_path):
    with open(rc_path, encoding="utf-8") as rc:
        match = re.search(r"^\s*FILEVERSION\s+(\d+),\s*(\d+),\s*(\d+),\s*(\d+)", rc.read(), re.M)
    return ".".join(match.groups())


def row_id(row):
    return "reg" + hashlib.md5(repr(row).encode()).hexdigest()[:24].upper()


def xml_text(text):
    return text.replace("&", "&amp;").replace('"', "&quot;").replace("<", "&lt;").replace(">", "&gt;")


def registry_xml(rows):
    lines = []
    for root, key, name, data in rows:
        if data is None:
            continue
        if any(ord(c) > 127 for c in key + (name or "") + data):
            sys.exit("make_msi.py: non-ASCII registry text, which wixl cannot store: " + key)
        name_attribute = ' Name="%s"' % xml_text(name) if name is not None else ""
        lines.append('            <RegistryValue Id="%s" Root="%s" Key="%s"%s Type="string" Value="%s"/>'
                     % (row_id((root, key, name)), root, xml_text(key), name_attribute, xml_text(data)))
    return "\n".join(lines)


def sql(text):
    return "'" + text.replace("'", "''") + "'"


def post_queries(rows, version, help_link):
    """What wixl cannot say: keys without values, the type library, same-version upgrades, the
    installed manual as the help link of Programs and Features."""
    queries = []
    for root, key, _, data in rows:
        if data is None:  # '*': created on install, removed on uninstall
            queries.append("INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) "
                           "VALUES (%s, %d, %s, '*', 'KestruneDll')" % (sql(row_id((root, key))), MSI_ROOTS[root], sql(key)))
    queries += [
        # The DLL is a versioned file, so that an upgrade or repair replaces it by version, as
        # Windows Installer does for binaries; versioned files carry no hash.
        "UPDATE `File` SET `Version` = '%s', `Language` = '1041' WHERE `File` = 'KestruneDllFile'" % version,
        "DELETE FROM `MsiFileHash` WHERE `File_` = 'KestruneDllFile'",
        "CREATE TABLE `TypeLib` (`LibID` CHAR(38) NOT NULL, `Language` SHORT NOT NULL, `Component_` CHAR(72) NOT NULL, "
        "`Version` LONG, `Description` CHAR(128) LOCALIZABLE, `Directory_` CHAR(72), `Feature_` CHAR(38) NOT NULL, "
        "`Cost` LONG PRIMARY KEY `LibID`, `Language`, `Component_`)",
        # Version 1.0 is 0x100; the help folder is the install folder, as self-registration gives.
        "INSERT INTO `TypeLib` (`LibID`, `Language`, `Component_`, `Version`, `Directory_`, `Feature_`) "
        "VALUES ('%s', 0, 'KestruneDll', 256, 'INSTALLDIR', 'Kestrune')" % LIBID,
        "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('UnregisterTypeLibraries', 2300)",
        "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('RegisterTypeLibraries', 5500)",
        # A rebuilt package of the same version replaces the installed one: wixl's row detects
        # only older versions; Attributes is part of the key, so the row is replaced, with
        # MigrateFeatures | VersionMaxInclusive.
        "DELETE FROM `Upgrade` WHERE `ActionProperty` = 'WIX_UPGRADE_DETECTED'",
        "INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMax`, `Attributes`, `ActionProperty`) "
        "VALUES ('%s', '%s', 513, 'WIX_UPGRADE_DETECTED')" % (UPGRADE_CODE, version),
    ]
    if help_link:  # ARPHELPLINK is not formatted itself: set it once INSTALLDIR is known
        queries += [
            "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) "
            "VALUES ('SetHelpLink', 51, 'ARPHELPLINK', '[INSTALLDIR]Kestrune.chm')",
            "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('SetHelpLink', 1001)",
            # wixl has no RemoveFolder/@Directory: the Start menu's folder goes with its entries.
            "UPDATE `RemoveFile` SET `DirProperty` = 'KestruneMenu'",
        ]
    return queries


def derived_code(kind, version, digest):
    return "{%s}" % str(uuid.uuid5(CODES, "%s %s %s" % (kind, version, digest))).upper()


def stamp_summary(msi, package_code, epoch):
    """The summary names the product's language and the derived package code, and carries the
    source's time as its created and saved times; wixl writes 1033, a random code and the clock."""
    subprocess.run(["msibuild", msi, "-s", "Kestrune", PUBLISHER, "x64;1041", package_code], check=True)
    import olefile  # python3-olefile: the summary stream is rewritten in place, at its size
    ole = olefile.OleFileIO(msi, write_mode=True)
    data = bytearray(ole.openstream("\x05SummaryInformation").read())
    section = struct.unpack_from("<I", data, 44)[0]
    for i in range(struct.unpack_from("<I", data, section + 4)[0]):
        offset = section + struct.unpack_from("<I", data, section + 12 + 8 * i)[0]
        if struct.unpack_from("<I", data, offset)[0] == 64:  # VT_FILETIME
            struct.pack_into("<Q", data, offset + 4, (epoch + 11644473600) * 10 ** 7)
    ole.write_stream("\x05SummaryInformation", bytes(data))
    ole.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--template", required=True)
    parser.add_argument("--rc", required=True)
    parser.add_argument("--rgs", nargs="+", required=True)
    parser.add_argument("--shell-keys", required=True)
    parser.add_argument("--dll", required=True)
    parser.add_argument("--helper", required=True, help="kestrune-elevated.exe, installed beside the DLL")
    parser.add_argument("--help-file", action="append", default=[], help="a manual; repeat for each language")
    parser.add_argument("--icon", required=True, help="the icon Programs and Features shows")
    parser.add_argument("--epoch", type=int, required=True, help="SOURCE_DATE_EPOCH: the files' and the summary's time")
    parser.add_argument("--version", help="instead of the version resource's (a later package for the upgrade test)")
    parser.add_argument("--wxs", required=True)
    parser.add_argument("--msi-folder", required=True)
    args = parser.parse_args()

    rows = []
    for script in args.rgs:
        with open(script, encoding="ascii") as text:
            rows += parse_rgs(text.read())
    rows += read_shell_keys(args.shell_keys)
    version = args.version or version_of(args.rc)
    staged = {"Kestrune.dll": args.dll, "kestrune-elevated.exe": args.helper, "Kestrune.ico": args.icon}
    # One component per manual, each with a GUID of its own that never changes.
    components = [(os.path.basename(path), HELP_COMPONENTS[os.path.basename(path)]) for path in args.help_file]
    staged.update((os.path.basename(path), path) for path in args.help_file)
    # Each manual with its entry in the Start menu's Kestrune folder (names in ASCII, as wixl needs).
    help_component = "\n".join(
        '          <Component Id="%s" Guid="%s" Win64="yes">\n'
        '            <File Id="%sChm" Name="%s" Source="%s" KeyPath="yes"/>\n'
        '            <Shortcut Id="%sShortcut" Directory="KestruneMenu" Name="%s" Target="[#%sChm]"/>\n'
        '            <RemoveFolder Id="%sMenu" On="uninstall"/>\n'
        '          </Component>' % (ident, guid, ident, name, name, ident, title, ident, ident)
        for name, (ident, guid, title) in components)
    help_reference = "\n".join('      <ComponentRef Id="%s"/>' % ident for _, (ident, _, _) in components)
    with open(args.template, encoding="utf-8") as template:
        wxs = string.Template(template.read()).safe_substitute(
            version=version, publisher=PUBLISHER, registry=registry_xml(rows),
            helpComponent=help_component, helpReference=help_reference)
    source = hashlib.sha256(wxs.encode())
    for name in sorted(staged):
        with open(staged[name], "rb") as packed:
            source.update(name.encode() + b"\0" + packed.read())
    wxs = string.Template(wxs).substitute(productCode=derived_code("product", version, source.hexdigest()))
    with open(args.wxs, "w", encoding="utf-8") as out:
        out.write(wxs)

    msi = os.path.join(args.msi_folder, "Kestrune-%s-x64.msi" % version)
    with tempfile.TemporaryDirectory() as scratch:
        # wixl takes sources relative to where it runs: the files are staged under their names,
        # with the source's time, which the cabinet records.
        for name, path in staged.items():
            shutil.copyfile(path, os.path.join(scratch, name))
            os.utime(os.path.join(scratch, name), (args.epoch, args.epoch))
        partial = os.path.join(scratch, "Kestrune.msi")
        subprocess.run(["wixl", "-a", "x64", "-o", partial, os.path.abspath(args.wxs)], check=True, cwd=scratch)
        for query in post_queries(rows, version, bool(args.help_file)):
            subprocess.run(["msibuild", partial, "-q", query], check=True)
        stamp_summary(partial, derived_code("package", version, source.hexdigest()), args.epoch)
        os.replace(partial, msi)
    print(msi)


if __name__ == "__main__":
    main()
