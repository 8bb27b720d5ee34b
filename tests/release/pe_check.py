#!/usr/bin/env python3
"""Checks the Windows executables we ship, reading their PE files directly:
- they import only DLLs that every Windows has (no MinGW runtime DLL travels with them);
- they carry no link time stamp and no source or build folder (so builds are reproducible);
- the windowed ones carry the application manifest: well-formed XML asking for common
  controls 6, DPI awareness, asInvoker, and naming Windows 7 to 11.

Usage: pe_check.py [--forbid TEXT]... [--windowed EXE]... [EXE]...
Prints one line per check and exits 1 if any failed."""

import argparse
import struct
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "advapi32.dll",
               "msvcrt.dll", "shell32.dll", "ole32.dll", "oleaut32.dll", "comdlg32.dll",
               "version.dll", "shlwapi.dll", "uxtheme.dll", "winmm.dll", "ws2_32.dll", "mswsock.dll",
               "setupapi.dll", "cfgmgr32.dll", "ntdll.dll",
               "bcrypt.dll"}  # the system's random source (Vista and later), for session keys
MACHINES = {0x14C: "i386", 0x8664: "x86-64"}
RT_MANIFEST = 24
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10 and 11",
}


class PeFile:
    def __init__(self, path):
        self.data = data = Path(path).read_bytes()
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[:2] != b"MZ" or data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        self.machine, count, self.timestamp = struct.unpack_from("<HHI", data, pe + 4)
        optional_size = struct.unpack_from("<H", data, pe + 20)[0]
        optional = pe + 24
        pe32_plus = struct.unpack_from("<H", data, optional)[0] == 0x20B
        self.directories = optional + (112 if pe32_plus else 96)
        table = optional + optional_size
        # (virtual size, virtual address, raw size, raw offset) of each section
        self.sections = [struct.unpack_from("<IIII", data, table + 40 * i + 8)
                         for i in range(count)]

    def offset(self, rva):
        for vsize, address, raw_size, raw in self.sections:
            if address <= rva < address + max(vsize, raw_size):
                return rva - address + raw
        raise ValueError("address %#x is in no section" % rva)

    def directory(self, index):
        rva, size = struct.unpack_from("<II", self.data, self.directories + 8 * index)
        return (self.offset(rva), size) if rva else (None, 0)

    def c_string(self, offset):
        return self.data[offset:self.data.index(b"\0", offset)].decode("ascii")

    def imports(self):
        start, _ = self.directory(1)
        names = []
        while start is not None:
            descriptor = struct.unpack_from("<IIIII", self.data, start)
            if not any(descriptor):
                break
            names.append(self.c_string(self.offset(descriptor[3])))
            start += 20
        return names

    def resource_stamps_and_manifest(self):
        """The time stamps of all resource directories, and the first RT_MANIFEST (bytes)."""
        root, _ = self.directory(2)
        stamps, manifest = [], None
        if root is None:
            return stamps, manifest

        def walk(offset, path):
            nonlocal manifest
            stamps.append(struct.unpack_from("<I", self.data, offset + 4)[0])
            named, numbered = struct.unpack_from("<HH", self.data, offset + 12)
            for i in range(named + numbered):
                name, target = struct.unpack_from("<II", self.data, offset + 16 + 8 * i)
                key = path + [name]
                if target & 0x80000000:
                    walk(root + (target & 0x7FFFFFFF), key)
                elif key[:2] == [RT_MANIFEST, 1] and manifest is None:
                    rva, size = struct.unpack_from("<II", self.data, root + target)
                    manifest = self.data[self.offset(rva):self.offset(rva) + size]
        walk(root, [])
        return stamps, manifest


def local(tag):
    return tag.rsplit("}", 1)[-1]


def manifest_faults(xml):
    if xml is None:
        return ["no manifest resource (RT_MANIFEST 1)"]
    try:
        root = ET.fromstring(xml)
    except ET.ParseError as e:
        return ["manifest is not well-formed XML: %s" % e]
    elements = list(root.iter())
    faults = []
    controls = [e.get("version", "") for e in elements if local(e.tag) == "assemblyIdentity"
                and e.get("name") == "Microsoft.Windows.Common-Controls"]
    if not any(v.startswith("6.") for v in controls):
        faults.append("manifest does not ask for common controls 6 (found %s)" % controls)
    dpi = [(local(e.tag), (e.text or "").strip()) for e in elements
           if local(e.tag) in ("dpiAware", "dpiAwareness")]
    if not any(value.lower() not in ("", "false", "unaware") for _, value in dpi):
        faults.append("manifest declares no DPI awareness (found %s)" % dpi)
    levels = [e.get("level") for e in elements if local(e.tag) == "requestedExecutionLevel"]
    if levels != ["asInvoker"]:
        faults.append("execution level is %s, not asInvoker" % levels)
    named = {e.get("Id", "").lower() for e in elements if local(e.tag) == "supportedOS"}
    missing = [name for guid, name in SUPPORTED_OS.items() if guid not in named]
    if missing:
        faults.append("manifest does not name %s" % ", ".join(missing))
    return faults


def check(path, windowed, forbidden):
    pe = PeFile(path)
    faults = []
    foreign = [dll for dll in pe.imports() if dll.lower() not in SYSTEM_DLLS]
    if foreign:
        faults.append("imports DLLs that are not part of Windows: %s" % ", ".join(foreign))
    stamps, manifest = pe.resource_stamps_and_manifest()
    if pe.timestamp or any(stamps):
        faults.append("time stamps: link %#x, resources %s"
                      % (pe.timestamp, sorted(set(stamps))))
    for text in forbidden:
        for encoded in (text.encode(), text.encode("utf-16-le")):
            if encoded in pe.data:
                faults.append("contains the build's path %s" % text)
                break
    if windowed:
        faults += manifest_faults(manifest)
    what = "%s %s, imports %s" % (path, MACHINES.get(pe.machine, hex(pe.machine)),
                                  " ".join(sorted(pe.imports(), key=str.lower)))
    return what, faults


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--forbid", action="append", default=[],
                        help="a text (such as the source folder) that must not appear")
    parser.add_argument("--windowed", action="append", default=[],
                        help="an executable that must also carry the application manifest")
    parser.add_argument("exes", nargs="*", help="other executables")
    args = parser.parse_args()
    failed = 0
    for path, windowed in [(p, True) for p in args.windowed] + [(p, False) for p in args.exes]:
        try:
            what, faults = check(path, windowed, args.forbid)
        except (OSError, ValueError, struct.error) as e:
            what, faults = path, ["cannot read: %s" % e]
        print("%s: %s" % ("FAIL" if faults else "ok", what))
        for fault in faults:
            print("    " + fault)
        failed += bool(faults)
    return 1 if failed or not (args.windowed or args.exes) else 0


if __name__ == "__main__":
    sys.exit(main())
