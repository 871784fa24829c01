#!/usr/bin/env python3
"""A packed setup.exe signed afterwards still finds its package and installs:
the signature is appended after the package, which the program finds from
its PE headers. The icon and version details qvpack gives it read back
through the system, on it and on the uninstaller an installation writes.

    signing_test.py qvSetup.exe qvpack.exe verinfo.exe
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

EXE = QVPACK = VERINFO = None


def win(path):
    return "Z:" + path.replace("/", "\\")


def run(*args):
    return subprocess.run(list(args), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          timeout=120)


def ico(*images):
    """A .ico of 32-bit images, each (size, (r, g, b)) in one colour, opaque."""
    entries, bodies = b"", b""
    offset = 6 + 16 * len(images)
    for size, (r, g, b) in images:
        mask_row = (size + 31) // 32 * 4
        body = (struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0) +
                bytes((b, g, r, 255)) * size * size + b"\0" * mask_row * size)
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(body), offset)
        bodies += body
        offset += len(body)
    return struct.pack("<HHH", 0, 1, len(images)) + entries + bodies


class Signing(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="qv_sign_")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def path(self, *rel):
        return os.path.join(self.dir, *rel)

    def sign(self, packed, signed):
        # A certificate of our own making, trusted only for this test.
        key, cert = self.path("key.pem"), self.path("cert.pem")
        if not os.path.exists(cert):
            r = run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "2", "-subj", "/CN=qvSetup test signer", "-addext", "extendedKeyUsage=codeSigning")
            self.assertEqual(r.returncode, 0, r.stdout)
        os.makedirs(os.path.dirname(signed))
        r = run("osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "qvSetup test", "-h", "sha256",
                "-in", packed, "-out", signed)
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertGreater(os.path.getsize(signed), os.path.getsize(packed))
        r = run("osslsigncode", "verify", "-CAfile", cert, "-in", signed)
        self.assertEqual(r.returncode, 0, r.stdout)

    def verinfo(self, program):
        out = self.path("verinfo.txt")
        r = run("wine", VERINFO, program, win(out))
        self.assertEqual(r.returncode, 0, r.stdout)
        with open(out, encoding="utf-8") as f:
            return dict(line.split("=", 1) for line in f.read().splitlines())

    def test_a_signed_packed_file_verifies_and_installs(self):
        src = self.path("package")
        os.makedirs(os.path.join(src, "files", "sub"))
        payload = os.urandom(50000)
        with open(os.path.join(src, "files", "sub", "data.bin"), "wb") as f:
            f.write(payload)
        with open(os.path.join(src, "setup.ini"), "w", newline="\r\n") as f:
            f.write("[GUI]\nVisible=0\n[INSTALL]\nA=files\\,%s\n" % win(self.path("out")))
        packed = self.path("packed.exe")
        r = run("wine", QVPACK, "pack", win(src), "-o", win(packed), "--stub", win(EXE))
        self.assertEqual(r.returncode, 0, r.stdout)

        signed = self.path("signed", "setup.exe")
        self.sign(packed, signed)

        r = run("wine", signed, "/S", "/LOG=" + win(self.path("install.log")))
        self.assertEqual(r.returncode, 0, r.stdout)
        with open(self.path("out", "sub", "data.bin"), "rb") as f:
            self.assertEqual(f.read(), payload)

        # A signed file cut short in its package is damage like any other.
        shutil.rmtree(self.path("out"))
        cut = self.path("cut", "setup.exe")
        os.makedirs(os.path.dirname(cut))
        with open(signed, "rb") as f:
            data = f.read()
        stub = os.path.getsize(EXE)
        with open(cut, "wb") as f:
            f.write(data[:stub + (os.path.getsize(packed) - stub) // 2])
        self.assertEqual(run("wine", cut, "/S").returncode, 6)
        self.assertFalse(os.path.exists(self.path("out")))

    def test_the_icon_and_version_qvpack_gives_survive_signing_and_reach_the_uninstaller(self):
        src = self.path("package")
        os.makedirs(os.path.join(src, "files"))
        with open(os.path.join(src, "files", "a.txt"), "w") as f:
            f.write("a")
        with open(os.path.join(src, "app.ico"), "wb") as f:
            f.write(ico((16, (0xAB, 0xCD, 0xEF)), (32, (0x12, 0x34, 0x56))))
        # Names beyond ASCII, so the texts are read back as UTF-16, not bytes.
        name, publisher, copyright = "Identität 测试", "qvSetup Tests Ltd.", "© 2024 qvSetup tests"
        with open(os.path.join(src, "setup.ini"), "w", encoding="utf-8-sig", newline="\r\n") as f:
            f.write("[SETUP]\nIcon=app.ico\nName=%s\nVersion=2.3.4.5\nPublisher=%s\nCopyright=%s\n"
                    "[GUI]\nVisible=0\n[INSTALL]\nqvIdentity=files\\,?\n[UNINSTALL]\nName=qvIdentity\n"
                    % (name, publisher, copyright))
        packed = self.path("dressed.exe")
        r = run("wine", QVPACK, "pack", win(src), "-o", win(packed), "--stub", win(EXE))
        self.assertEqual(r.returncode, 0, r.stdout)
        signed = self.path("signed", "dressed.exe")
        self.sign(packed, signed)

        expected = {"Translation": "040904B0", "FixedFileVersion": "2.3.4.5", "FixedProductVersion": "2.3.4.5",
                    "ProductName": name, "CompanyName": publisher, "FileDescription": name + " Setup",
                    "ProductVersion": "2.3.4.5", "FileVersion": "2.3.4.5", "LegalCopyright": copyright,
                    "OriginalFilename": "dressed.exe", "Icons": "1", "Large": "32 32 123456", "Small": "16 16 ABCDEF"}
        self.assertEqual(self.verinfo(win(signed)), expected)

        folder = self.path("installed")
        r = run("wine", signed, "/S", "/D=" + win(folder), "/LOG=" + win(self.path("install.log")))
        with open(self.path("install.log"), encoding="utf-8-sig") as f:
            self.assertEqual(r.returncode, 0, f.read())
        self.assertTrue(os.path.exists(os.path.join(folder, "a.txt")))
        self.assertEqual(self.verinfo(win(os.path.join(folder, "uninstall.exe"))), expected)

        r = run("wine", win(os.path.join(folder, "uninstall.exe")), "/S", "/LOG=" + win(self.path("uninstall.log")))
        with open(self.path("uninstall.log"), encoding="utf-8-sig") as f:
            self.assertEqual(r.returncode, 0, f.read())
        # The uninstaller removes its own file after it has ended.
        deadline = time.time() + 20
        while os.path.exists(folder) and time.time() < deadline:
            time.sleep(0.2)
        self.assertFalse(os.path.exists(folder))


if __name__ == "__main__":
    EXE, QVPACK, VERINFO = sys.argv[1:4]
    del sys.argv[1:4]
    unittest.main(verbosity=2)
