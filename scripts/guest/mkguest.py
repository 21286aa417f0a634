#!/usr/bin/env python3
"""Builds the Linux guest the hidraw tests boot under QEMU.

Output (in --out):
  vmlinux        the Debian kernel, decompressed so QEMU boots it directly
  initramfs.cpio the root file system: busybox, the HID modules, the given
                 programs with every shared library they load, the Qt
                 offscreen platform plugin, a fontconfig setup and one font

The kernel comes from Debian's linux-image-amd64 package. It is fetched with
`apt-get download` into --cache and unpacked there with `dpkg-deb -x`; it is
never installed on this machine. Nothing here needs root, except apt-get on a
machine whose cache is still empty.
"""

import argparse
import lzma
import os
import re
import shutil
import stat
import subprocess
import sys

# The modules the guest loads; their dependencies are read from the modules.
WANTED_MODULES = ["hid-generic", "uhid"]

# busybox applets the guest's init and the tests use.
APPLETS = [
    "sh", "mount", "umount", "mkdir", "insmod", "poweroff", "cat", "echo", "ls",
    "sleep", "cmp", "dd", "rm", "cp", "true", "false", "test", "[", "printf",
    "grep", "wc", "kill", "ps", "stat", "od", "head", "tail", "date", "uname", "chroot",
]

QT_PLATFORM_PLUGIN = "/usr/lib/x86_64-linux-gnu/qt5/plugins/platforms/libqoffscreen.so"
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"


def log(msg):
    print("mkguest: " + msg, file=sys.stderr)


# ---------------------------------------------------------------- kernel


def kernel_package():
    """Name of the versioned image package linux-image-amd64 points at."""
    out = subprocess.run(["apt-cache", "depends", "linux-image-amd64"], capture_output=True, text=True).stdout
    m = re.search(r"Depends:\s*(linux-image-[0-9][^\s]*-amd64)\b", out)
    if not m:
        # The package lists may be missing on a fresh machine.
        subprocess.run(["apt-get", "update", "-qq"], check=True)
        out = subprocess.run(["apt-cache", "depends", "linux-image-amd64"], capture_output=True,
                             text=True).stdout
        m = re.search(r"Depends:\s*(linux-image-[0-9][^\s]*-amd64)\b", out)
    if not m:
        sys.exit("mkguest: cannot resolve linux-image-amd64 to a kernel package")
    return m.group(1)


def fetch_kernel(cache):
    """Unpacks the kernel package into cache/root once; returns (vmlinuz, moddir)."""
    root = os.path.join(cache, "root")
    done = os.path.join(cache, "unpacked")
    if not os.path.exists(done):
        os.makedirs(cache, exist_ok=True)
        debs = [f for f in os.listdir(cache) if f.startswith("linux-image-") and f.endswith(".deb")]
        if not debs:
            pkg = kernel_package()
            log("downloading " + pkg)
            # apt drops privileges to _apt for downloads; let it write here.
            os.chmod(cache, 0o777)
            subprocess.run(["apt-get", "download", "-qq", pkg], cwd=cache, check=True)
            debs = [f for f in os.listdir(cache) if f.startswith("linux-image-") and f.endswith(".deb")]
        shutil.rmtree(root, ignore_errors=True)
        subprocess.run(["dpkg-deb", "-x", os.path.join(cache, sorted(debs)[-1]), root], check=True)
        open(done, "w").close()
    boot = os.path.join(root, "boot")
    vmlinuz = [f for f in os.listdir(boot) if f.startswith("vmlinuz-")]
    if len(vmlinuz) != 1:
        sys.exit("mkguest: expected one vmlinuz in the kernel package")
    version = vmlinuz[0][len("vmlinuz-"):]
    return os.path.join(boot, vmlinuz[0]), os.path.join(root, "lib", "modules", version)


def extract_vmlinux(vmlinuz, dest):
    """Decompresses the kernel's payload. QEMU boots the ELF image through its
    PVH entry note, which skips the kernel's own decompression (slow under
    software emulation)."""
    data = open(vmlinuz, "rb").read()
    magics = [(b"\xfd7zXZ\x00", lzma.FORMAT_XZ), (b"\x5d\x00\x00", lzma.FORMAT_ALONE)]
    for magic, fmt in magics:
        pos = data.find(magic)
        while pos >= 0:
            try:
                out = lzma.LZMADecompressor(format=fmt).decompress(data[pos:])
            except lzma.LZMAError:
                out = b""
            if out[:4] == b"\x7fELF":
                with open(dest, "wb") as f:
                    f.write(out)
                return
            pos = data.find(magic, pos + 1)
    sys.exit("mkguest: no xz/lzma compressed ELF image found in " + vmlinuz)


def module_index(moddir):
    """Maps module name -> path of its .ko below moddir/kernel."""
    index = {}
    for dirpath, _, files in os.walk(os.path.join(moddir, "kernel")):
        for f in files:
            if f.endswith(".ko"):
                index[f[:-3].replace("_", "-")] = os.path.join(dirpath, f)
    return index


def module_depends(path):
    """The depends= entry of a module's .modinfo section."""
    data = open(path, "rb").read()
    m = re.search(rb"(?:^|\x00)depends=([^\x00]*)\x00", data)
    if not m or not m.group(1):
        return []
    return [d.decode().replace("_", "-") for d in m.group(1).split(b",") if d]


def module_load_order(moddir, wanted):
    index = module_index(moddir)
    order = []

    def visit(name, stack):
        if name in order:
            return
        if name in stack:
            sys.exit("mkguest: module dependency loop at " + name)
        if name not in index:
            sys.exit("mkguest: module %s not in the kernel package" % name)
        for dep in module_depends(index[name]):
            visit(dep, stack + [name])
        order.append(name)

    for w in wanted:
        visit(w, [])
    return [(name, index[name]) for name in order]


# ---------------------------------------------------------------- userland


def ldd_closure(paths):
    """Every shared object the given ELF files load, the loader included."""
    libs = set()
    for p in paths:
        out = subprocess.run(["ldd", p], capture_output=True, text=True)
        if out.returncode != 0 and "not a dynamic executable" in (out.stdout + out.stderr):
            continue
        for line in out.stdout.splitlines():
            line = line.strip()
            if "not found" in line:
                sys.exit("mkguest: %s: missing library: %s" % (p, line))
            m = re.match(r"\S+ => (/\S+) \(0x", line) or re.match(r"(/\S+) \(0x", line)
            if m:
                libs.add(m.group(1))
    return sorted(libs)


class Tree:
    """The file system to pack: path -> (mode, data or link target)."""

    def __init__(self):
        self.entries = {}

    def dir(self, path, mode=0o755):
        parts = path.strip("/").split("/")
        for i in range(1, len(parts) + 1):
            p = "/".join(parts[:i])
            if p and p not in self.entries:
                self.entries[p] = (stat.S_IFDIR | mode, b"")

    def file(self, path, data, mode=0o644):
        path = path.strip("/")
        self.dir(os.path.dirname(path))
        self.entries[path] = (stat.S_IFREG | mode, data)

    def symlink(self, path, target):
        path = path.strip("/")
        self.dir(os.path.dirname(path))
        self.entries[path] = (stat.S_IFLNK | 0o777, target.encode())

    def copy(self, src, dest=None, mode=None, strip=False):
        """Copies a host file; a symlinked path is kept as a link to its target,
        which is copied too, so the loader finds libraries by either name."""
        dest = (dest or src).strip("/")
        if dest in self.entries:
            return
        if dest == src.strip("/") and os.path.islink(src):
            target = os.readlink(src)
            self.symlink(dest, target)
            self.copy(os.path.normpath(os.path.join(os.path.dirname(src), target)))
            return
        data = open(src, "rb").read()
        if strip:
            data = stripped(src, data)
        self.file(dest, data, mode if mode is not None else (os.stat(src).st_mode & 0o777))

    def size(self):
        return sum(len(d) for _, d in self.entries.values())

    def write_cpio(self, dest):
        """Writes the tree as a 'newc' cpio archive, the format the kernel unpacks."""
        with open(dest, "wb") as f:
            ino = 1
            for path in sorted(self.entries):
                mode, data = self.entries[path]
                write_cpio_entry(f, path, mode, data, ino)
                ino += 1
            write_cpio_entry(f, "TRAILER!!!", 0, b"", 0)


def stripped(src, data):
    """The file without debug information (our own programs are built with it)."""
    tmp = src.replace("/", "_")
    tmp = os.path.join("/tmp", "mkguest-%d-%s" % (os.getpid(), tmp[-60:]))
    try:
        with open(tmp, "wb") as f:
            f.write(data)
        if subprocess.run(["strip", "--strip-debug", tmp], capture_output=True).returncode == 0:
            return open(tmp, "rb").read()
        return data
    finally:
        if os.path.exists(tmp):
            os.unlink(tmp)


def write_cpio_entry(f, name, mode, data, ino):
    name_b = name.encode() + b"\x00"
    nlink = 2 if stat.S_ISDIR(mode) else 1
    fields = [ino, mode, 0, 0, nlink, 0, len(data), 0, 0, 0, 0, len(name_b), 0]
    header = b"070701" + b"".join(b"%08X" % v for v in fields)
    f.write(header)
    f.write(name_b)
    f.write(b"\x00" * ((4 - (len(header) + len(name_b)) % 4) % 4))
    f.write(data)
    f.write(b"\x00" * ((4 - len(data) % 4) % 4))


def add_fontconfig(tree):
    """/etc/fonts with the configuration files its links point at, and one font."""
    for dirpath, _, files in os.walk("/etc/fonts"):
        for f in files:
            p = os.path.join(dirpath, f)
            if os.path.islink(p):
                target = os.path.realpath(p)
                if os.path.exists(target):
                    tree.file(p, open(target, "rb").read())
            else:
                tree.copy(p)
    tree.copy(FONT)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--out", required=True, help="output directory")
    ap.add_argument("--cache", required=True, help="download cache for the kernel package")
    ap.add_argument("--init", required=True, help="script that becomes /init")
    ap.add_argument("--program", action="append", default=[], help="program copied to /bin")
    ap.add_argument("--data", action="append", default=[], help="SRC=DEST file copied into the image")
    ap.add_argument("--module", action="append", default=[], help="a further kernel module to load")
    args = ap.parse_args()

    os.makedirs(args.out, exist_ok=True)
    vmlinuz, moddir = fetch_kernel(os.path.abspath(args.cache))
    vmlinux = os.path.join(args.out, "vmlinux")
    if not os.path.exists(vmlinux) or os.path.getmtime(vmlinux) < os.path.getmtime(vmlinuz):
        log("extracting vmlinux")
        extract_vmlinux(vmlinuz, vmlinux)

    tree = Tree()
    for d in ["dev", "proc", "sys", "tmp", "run", "root"]:
        tree.dir(d)
    tree.copy(args.init, "init", mode=0o755)

    busybox = shutil.which("busybox") or "/bin/busybox"
    if ldd_closure([busybox]):
        sys.exit("mkguest: %s is not static (install busybox-static)" % busybox)
    tree.file("bin/busybox", open(busybox, "rb").read(), 0o755)
    for applet in APPLETS:
        tree.symlink("bin/" + applet, "busybox")

    order = module_load_order(moddir, WANTED_MODULES + [m.replace("_", "-") for m in args.module])
    for name, path in order:
        tree.copy(path, "lib/modules/%s.ko" % name)
    tree.file("lib/modules/order", ("\n".join(name for name, _ in order) + "\n").encode())

    programs = [os.path.abspath(p) for p in args.program]
    for p in programs:
        tree.copy(p, "bin/" + os.path.basename(p), mode=0o755, strip=True)
    for lib in ldd_closure(programs + [QT_PLATFORM_PLUGIN]):
        tree.copy(lib)
    tree.copy(QT_PLATFORM_PLUGIN, "qt/platforms/libqoffscreen.so")
    add_fontconfig(tree)

    for item in args.data:
        src, dest = item.split("=", 1)
        tree.copy(src, dest)

    cpio = os.path.join(args.out, "initramfs.cpio")
    tree.write_cpio(cpio + ".tmp")
    os.replace(cpio + ".tmp", cpio)
    log("%s: %d entries, %.1f MB; modules: %s" % (cpio, len(tree.entries), tree.size() / 1e6,
                                                  " ".join(n for n, _ in order)))


if __name__ == "__main__":
    main()
