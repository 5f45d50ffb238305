#!/usr/bin/env python3
"""The test release 1.0.0.1 as the release command wrote it: its sums, no
build path or build time in its outputs, the winget manifest, a signing that
fails leaving no release, and its apt repository served by the simulated site
to apt-get in a scratch apt root.

tools/test.sh makes the release into $SL_WINDOWS_TOOLS_DIR/release/ with
Authenticode and --apt-key from the run's test PKI ($SL_TEST_PKI)."""
import calendar
import hashlib
import http.server
import os
import pathlib
import shutil
import signal
import struct
import subprocess
import tempfile
import threading
import time
import unittest

import yaml

VERSION = "1.0.0.1"
SETUP = "slwintool_set_up.exe"
PROGRAMS = ["ソルベリオ Windows Tool.exe", "Updater.exe", "Quenlow.exe"]
DEB = f"solberio-finder_{VERSION}_amd64.deb"
ENV = os.environ
SOURCE = pathlib.Path(ENV.get("SL_SOURCE_DIR", "."))
RELEASE = pathlib.Path(ENV.get("SL_WINDOWS_TOOLS_DIR", "/nonexistent")) / "release" / VERSION
PKI = pathlib.Path(ENV.get("SL_TEST_PKI", "/nonexistent"))


def sha256(path):
    return hashlib.sha256(path.read_bytes()).hexdigest()


def run(argv, **kw):
    return subprocess.run(argv, capture_output=True, text=True, timeout=kw.pop("timeout", 120), **kw)


def pe_time_stamps(data):
    """The COFF header's and the resource directory's TimeDateStamp."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    stamps = [struct.unpack_from("<I", data, pe + 8)[0]]
    sections, optional_size = struct.unpack_from("<HxxxxxxxxxxxxH", data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    rsrc_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
    for i in range(sections):
        at = optional + optional_size + 40 * i
        size, rva, _, raw = struct.unpack_from("<IIII", data, at + 8)
        if rsrc_rva and rva <= rsrc_rva < rva + size:
            stamps.append(struct.unpack_from("<I", data, raw + rsrc_rva - rva + 4)[0])
    return stamps


def needs_release(test):
    def check(self):
        if not (RELEASE / "SHA256SUMS").exists():
            if ENV.get("SL_REQUIRE_LAN") == "1":
                self.fail(f"no release {RELEASE}: tools/test.sh makes it")
            self.skipTest(f"no release {RELEASE}")
        test(self)
    return check


class Release(unittest.TestCase):
    @needs_release
    def test_sums_name_every_file(self):
        files = {str(p.relative_to(RELEASE)) for p in RELEASE.rglob("*") if p.is_file()}
        listed = {}
        for line in (RELEASE / "SHA256SUMS").read_text(encoding="utf-8").splitlines():
            digest, name = line.split("  ", 1)
            listed[name] = digest
        self.assertEqual(set(listed), files - {"SHA256SUMS", "SHA256SUMS.unsigned"})
        for name, digest in listed.items():
            self.assertEqual(sha256(RELEASE / name), digest, name)
        unsigned = [line.split("  ", 1)[1]
                    for line in (RELEASE / "SHA256SUMS.unsigned").read_text(encoding="utf-8").splitlines()]
        self.assertEqual(sorted(unsigned), sorted(["programs/" + p for p in PROGRAMS] + [SETUP, DEB]))

    @needs_release
    def test_no_build_path_or_build_time_in_the_outputs(self):
        commit_time = int(run(["git", "-C", str(SOURCE), "log", "-1", "--format=%ct"]).stdout)
        # Every build tree is in the source tree.
        paths = {str(SOURCE.resolve()).encode()}
        with tempfile.TemporaryDirectory() as tmp:
            # The unsigned programs, as the setup program packs them.
            pes = []
            for name in PROGRAMS + [SETUP]:
                source = RELEASE / ("programs/" + name if name != SETUP else name)
                pes.append(pathlib.Path(tmp) / name)
                self.assertEqual(run(["osslsigncode", "remove-signature", "-in", str(source),
                                      "-out", str(pes[-1])]).returncode, 0, name)
            for pe in pes:
                data = pe.read_bytes()
                for stamp in pe_time_stamps(data):
                    self.assertLessEqual(stamp, commit_time, f"{pe.name}: a build time stamp")
                for path in paths:
                    self.assertNotIn(path, data, pe.name)
            deb = pathlib.Path(tmp) / "deb"
            self.assertEqual(run(["dpkg-deb", "-x", str(RELEASE / DEB), str(deb)]).returncode, 0)
            for binary in ["usr/bin/slfind", "usr/bin/solberio-finder"]:
                for path in paths:
                    self.assertNotIn(path, (deb / binary).read_bytes(), binary)
            members = run(["ar", "tvO", str(RELEASE / DEB)]).stdout.splitlines()
            self.assertEqual(len(members), 3)
            for member in ["--ctrl-tarfile", "--fsys-tarfile"]:
                tar = subprocess.run(["dpkg-deb", member, str(RELEASE / DEB)], capture_output=True,
                                     timeout=60).stdout
                listing = subprocess.run(["tar", "tv", "--full-time", "--numeric-owner"], input=tar,
                                         capture_output=True, timeout=60).stdout.decode()
                for line in listing.splitlines():
                    when = " ".join(line.split()[3:5])
                    stamp = calendar.timegm(time.strptime(when, "%Y-%m-%d %H:%M:%S"))
                    self.assertLessEqual(stamp, commit_time, line)
                    self.assertIn(" 0/0 ", line)

    @needs_release
    def test_winget_manifest_is_the_release(self):
        folder = RELEASE / "winget"
        read = lambda kind: yaml.safe_load((folder / f"Solberio.WindowsTool{kind}.yaml").read_text(encoding="utf-8"))
        ini = dict(line.split("=", 1) for line in
                   (RELEASE / "site/installer/solberio/search/latestversion.ini").read_text().splitlines())
        version, installer = read(""), read(".installer")
        ja, en = read(".locale.ja-JP"), read(".locale.en-US")
        for manifest, kind in [(version, "version"), (installer, "installer"),
                               (ja, "defaultLocale"), (en, "locale")]:
            self.assertEqual(manifest["ManifestType"], kind)
            self.assertEqual(manifest["ManifestVersion"], "1.6.0")
            self.assertEqual(manifest["PackageIdentifier"], "Solberio.WindowsTool")
            self.assertEqual(manifest["PackageVersion"], VERSION)
        self.assertEqual(version["DefaultLocale"], "ja-JP")
        self.assertEqual((ja["PackageLocale"], en["PackageLocale"]), ("ja-JP", "en-US"))
        for locale in [ja, en]:
            self.assertEqual((locale["Publisher"], locale["PackageName"]), ("Solberio", "ソルベリオ Windows Tool"))
            self.assertTrue(locale["ShortDescription"] and locale["Description"] and locale["License"])
        expected = {"InstallerType": "nullsoft", "Scope": "machine", "UpgradeBehavior": "install",
                    "ProductCode": "SolberioWindowsTool", "ElevationRequirement": "elevatesSelf",
                    "InstallerSwitches": {"Silent": "/S", "SilentWithProgress": "/S",
                                          "InstallLocation": "/D=<INSTALLPATH>"}}
        self.assertEqual({k: installer[k] for k in expected}, expected)
        self.assertEqual(installer["AppsAndFeaturesEntries"],
                         [{"DisplayName": "ソルベリオ Windows Tool", "Publisher": "Solberio",
                           "DisplayVersion": VERSION, "ProductCode": "SolberioWindowsTool"}])
        [entry] = installer["Installers"]
        arch = "x86" if ENV.get("SL_WINE_ARCH", "win32") == "win32" else "x64"
        self.assertEqual(entry, {"Architecture": arch, "InstallerUrl": ini["URL"],
                                 "InstallerSha256": sha256(RELEASE / SETUP).upper()})
        self.assertEqual(ini["SHA256"], sha256(RELEASE / SETUP))

    @staticmethod
    def signed_release(out, timestamp_url):
        """The test release again (nothing to rebuild), time-stamped by that URL."""
        return run(["bash", str(SOURCE / "tools/release.sh"), "--version", VERSION,
                    "--arch", ENV.get("SL_WINE_ARCH", "win32"),
                    "--signing-key", str(PKI / "release-key.pem"), "--out", out,
                    "--codesign-cert", str(PKI / "codesign.pem"), "--codesign-key", str(PKI / "codesign.key"),
                    "--timestamp-url", timestamp_url], timeout=600)

    @needs_release
    def test_a_failed_signing_leaves_no_release(self):
        with tempfile.TemporaryDirectory() as out:
            # Nothing listens on the discard port: the time stamp fails.
            made = self.signed_release(out, "http://127.0.0.1:9/")
            self.assertNotEqual(made.returncode, 0, made.stdout)
            self.assertIn("Authenticode", made.stderr)
            self.assertEqual(os.listdir(out), [])

    @needs_release
    def test_signatures_carry_the_time_stamp_of_the_server(self):
        with tempfile.TemporaryDirectory() as tmp:
            tmp = pathlib.Path(tmp)
            (tmp / "serial").write_text("01\n")
            (tmp / "tsa.cnf").write_text(
                f"[tsa]\ndefault_tsa = t\n[t]\nserial = {tmp}/serial\nsigner_cert = {PKI}/tsa.pem\n"
                f"certs = {PKI}/ca.pem\nsigner_key = {PKI}/tsa.key\nsigner_digest = sha256\n"
                "default_policy = 1.2.3.4.1\ndigests = sha256, sha1\ness_cert_id_alg = sha256\n")

            class Authority(http.server.BaseHTTPRequestHandler):  # RFC 3161 over HTTP
                def do_POST(self):
                    query = self.rfile.read(int(self.headers["Content-Length"]))
                    (tmp / "q.tsq").write_bytes(query)
                    run(["openssl", "ts", "-reply", "-config", str(tmp / "tsa.cnf"),
                         "-queryfile", str(tmp / "q.tsq"), "-out", str(tmp / "r.tsr")])
                    reply = (tmp / "r.tsr").read_bytes()
                    self.send_response(200)
                    self.send_header("Content-Type", "application/timestamp-reply")
                    self.send_header("Content-Length", str(len(reply)))
                    self.end_headers()
                    self.wfile.write(reply)

                def log_message(self, *args):
                    pass

            server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Authority)
            threading.Thread(target=server.serve_forever, daemon=True).start()
            self.addCleanup(server.server_close)
            self.addCleanup(server.shutdown)
            out = tmp / "out"
            made = self.signed_release(str(out), f"http://127.0.0.1:{server.server_port}/")
            self.assertEqual(made.returncode, 0, made.stderr)
            release = out / VERSION
            for pe in [release / SETUP] + [release / "programs" / p for p in PROGRAMS]:
                verify = run(["osslsigncode", "verify", "-CAfile", str(PKI / "ca.pem"),
                              "-TSA-CAfile", str(PKI / "ca.pem"), "-in", str(pe)])
                self.assertEqual(verify.returncode, 0, verify.stdout + verify.stderr)
                self.assertIn("Solberio time stamps", verify.stdout, pe.name)


class AptRepository(unittest.TestCase):
    """apt-get in a scratch root, inside the pc namespace, against the site."""

    def setUp(self):
        if not (RELEASE / "SHA256SUMS").exists() or not ENV.get("SL_NS_SITE"):
            if ENV.get("SL_REQUIRE_LAN") == "1":
                self.fail("needs the test LAN and the release")
            self.skipTest("no test LAN or release")
        self.tmp = pathlib.Path(tempfile.mkdtemp(prefix="slapt"))
        self.addCleanup(shutil.rmtree, self.tmp)
        self.site = None

    def serve(self, tree):
        self.stop()
        addr = ENV["SL_SITE_ADDR"]
        # Its own process group: ip netns exec waits for the site as a child.
        self.site = subprocess.Popen(
            ["ip", "netns", "exec", ENV["SL_NS_SITE"], ENV["SL_UPDATE_SITE"], "--listen", f"{addr}:80",
             "--root", str(tree), "--time-limit", "120", "--log", str(self.tmp / "site.log")],
            stdout=subprocess.PIPE, text=True, start_new_session=True)
        self.addCleanup(self.stop)
        self.assertIn("listening", self.site.stdout.readline())

    def stop(self):
        if self.site and self.site.poll() is None:
            os.killpg(self.site.pid, signal.SIGTERM)
            self.site.wait(10)
        if self.site:
            self.site.stdout.close()

    def apt(self, keyring, *args):
        root = self.tmp / "root"
        for sub in ["etc/apt/sources.list.d", "etc/apt/preferences.d", "etc/apt/trusted.gpg.d", "etc/apt/apt.conf.d",
                    "var/lib/apt/lists/partial", "var/cache/apt/archives/partial", "var/lib/dpkg"]:
            (root / sub).mkdir(parents=True, exist_ok=True)
        (root / "var/lib/dpkg/status").touch()
        (root / "etc/apt/sources.list").write_text(
            f"deb [signed-by={keyring}] http://{ENV['SL_SITE_ADDR']}/linux/apt stable main\n")
        # Read first, instead of the machine's apt configuration.
        (root / "apt.conf").write_text(
            f'Dir "{root}/";\nDir::State::status "{root}/var/lib/dpkg/status";\n'
            'APT::Architecture "amd64";\nAPT::Architectures { "amd64"; };\n'
            'Debug::NoLocking "true";\nAPT::Sandbox::User "root";\nAcquire::Retries "0";\n'
            'Acquire::http::Timeout "10";\nAcquire::Languages "none";\n')
        return run(list(args), timeout=120, env=dict(ENV, APT_CONFIG=str(root / "apt.conf"), LC_ALL="C"))

    def site_tree(self, change=None):
        tree = self.tmp / "site"
        shutil.copytree(RELEASE / "site", tree)
        if change:
            change(tree / "linux/apt/dists/stable")
        return tree

    def test_update_offers_the_release_and_refuses_changes_or_other_keys(self):
        keyring = RELEASE / "site/linux/solberio-archive-keyring.gpg"
        other = self.tmp / "other.gpg"
        with tempfile.TemporaryDirectory(prefix="slgpg") as home:
            run(["gpg", "--homedir", home, "--batch", "--import", str(PKI / "other-apt.asc")])
            other.write_bytes(subprocess.run(["gpg", "--homedir", home, "--batch", "--export"],
                                             capture_output=True, timeout=60).stdout)
            run(["gpgconf", "--homedir", home, "--kill", "gpg-agent"])

        def change_packages(dists):
            packages = dists / "main/binary-amd64/Packages"
            packages.write_text(packages.read_text().replace("Priority: optional", "Priority: required"))

        cases = [  # (name, site change, keyring, accepted)
            ("the release", None, keyring, True),
            ("Packages changed after signing", change_packages, keyring, False),
            ("another key", None, other, False),
        ]
        for name, change, key, accepted in cases:
            with self.subTest(name):
                shutil.rmtree(self.tmp / "root", ignore_errors=True)
                shutil.rmtree(self.tmp / "site", ignore_errors=True)
                self.serve(self.site_tree(change))
                update = self.apt(str(key), "apt-get", "update")
                failed = update.returncode != 0 or "W:" in update.stderr or "E:" in update.stderr
                self.assertEqual(not failed, accepted, update.stdout + update.stderr)
                policy = self.apt(str(key), "apt-cache", "policy", "solberio-finder").stdout
                self.assertEqual(f"Candidate: {VERSION}" in policy, accepted, policy)


if __name__ == "__main__":
    unittest.main(verbosity=2)
