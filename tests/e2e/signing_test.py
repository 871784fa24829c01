#!/usr/bin/env python3
"""A packed setup.exe signed afterwards still finds its package and installs:
the signature is appended after the package, which the program finds from
its PE headers.

    signing_test.py qvSetup.exe qvpack.exe
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

EXE = QVPACK = None


def win(path):
    return "Z:" + path.replace("/", "\\")


def run(*args):
    return subprocess.run(list(args), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          timeout=120)


class Signing(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="qv_sign_")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def path(self, *rel):
        return os.path.join(self.dir, *rel)

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

        # A certificate of our own making, trusted only for this test.
        key, cert = self.path("key.pem"), self.path("cert.pem")
        r = run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                "-days", "2", "-subj", "/CN=qvSetup test signer", "-addext", "extendedKeyUsage=codeSigning")
        self.assertEqual(r.returncode, 0, r.stdout)
        signed = self.path("signed", "setup.exe")
        os.makedirs(os.path.dirname(signed))
        r = run("osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "qvSetup test", "-h", "sha256",
                "-in", packed, "-out", signed)
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertGreater(os.path.getsize(signed), os.path.getsize(packed))
        r = run("osslsigncode", "verify", "-CAfile", cert, "-in", signed)
        self.assertEqual(r.returncode, 0, r.stdout)

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


if __name__ == "__main__":
    EXE, QVPACK = sys.argv[1:3]
    del sys.argv[1:3]
    unittest.main(verbosity=2)
