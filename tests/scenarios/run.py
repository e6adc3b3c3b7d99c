#!/usr/bin/env python3
"""The scenario suite: every scenario is data (tests/scenarios/cases/*.json, see docs/scenarios.md).

For each scenario the runner makes the sim images with `kestrel-pack sim-image`, packs the package
with `kestrel-pack build` into a copy of the sim template (kestrel-sim), writes the machine (the
default machine with the scenario's merge patch), and runs the packed program once per run on one
fresh state folder, then checks what came out: exit code, log lines, message boxes, registry
values, files, drive revisions, events and output.

    tests/scenarios/run.py [--build DIR] [--keep] [--verbose] [NAME ...]
"""
import argparse
import concurrent.futures
import copy
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
LOG_ARCHIVE_PASSWORD = b"MOSSGATE"


def merge_patch(target, patch):
    """JSON merge patch (RFC 7386): objects merge, null removes, anything else replaces."""
    if not isinstance(patch, dict):
        return copy.deepcopy(patch)
    result = copy.deepcopy(target) if isinstance(target, dict) else {}
    for k, v in patch.items():
        if v is None:
            result.pop(k, None)
        else:
            result[k] = merge_patch(result.get(k), v)
    return result


class Failed(Exception):
    pass


def host_path(state, winpath):
    """A Windows path of the simulated machine to the file in the state folder (case-insensitive)."""
    winpath = winpath.replace("/", "\\")
    if len(winpath) < 3 or winpath[1] != ":":
        raise Failed(f"not a rooted Windows path: {winpath}")
    cur = os.path.join(state, "files", winpath[0].upper())
    for part in [p for p in winpath[3:].split("\\") if p]:
        if not os.path.isdir(cur):
            return None
        match = [e for e in os.listdir(cur) if e.lower() == part.lower()]
        if not match:
            return None
        cur = os.path.join(cur, match[0])
    return cur if os.path.exists(cur) else None


def registry_values(state):
    """registry.json as {lower-case key path: {lower-case value name: python value}}."""
    path = os.path.join(state, "registry.json")
    if not os.path.exists(path):
        return {}
    out = {}
    for key, values in json.load(open(path)).items():
        vals = {}
        for name, v in values.items():
            data = bytes.fromhex(v["hex"])
            t = v["type"]
            if t in (1, 2, "REG_SZ", "REG_EXPAND_SZ"):
                vals[name.lower()] = data.split(b"\0", 1)[0].decode("latin-1")
            elif t in (4, "REG_DWORD") and len(data) == 4:
                vals[name.lower()] = int.from_bytes(data, "little")
            else:
                vals[name.lower()] = {"hex": v["hex"]}
        out[key.lower().rstrip("\\")] = vals
    return out


def parse_boxes(stderr):
    """The message boxes the sim printed: [{"title", "text", "answer"}]."""
    boxes, lines, i = [], stderr.split("\n"), 0
    while i < len(lines):
        line = lines[i]
        if line.startswith('[sim] message box "') and line.endswith('":'):
            title = line[len('[sim] message box "'):-2]
            text, i = [], i + 1
            while i < len(lines) and not lines[i].startswith("[sim] -> "):
                text.append(lines[i])
                i += 1
            answer = lines[i][len("[sim] -> "):] if i < len(lines) else ""
            boxes.append({"title": title, "text": "\n".join(text), "answer": answer})
        i += 1
    return boxes


def run_log(state, machine):
    """The run's debug log: the archive's entry (what the exit's archive step packed) and whatever
    text log is left beside it."""
    temp = machine["windows"].get("directories", {}).get("temp", "C:\\Users\\Operator\\AppData\\Local\\Temp\\")
    text = ""
    base = temp[: temp.find("Temp")] if "Temp" in temp else temp[:3]
    zpath = host_path(state, base.rstrip("\\") + "\\KestrelLog.zip")
    if zpath and os.path.isfile(zpath):
        with zipfile.ZipFile(zpath) as z:
            text += z.read("KestrelLog.txt", pwd=LOG_ARCHIVE_PASSWORD).decode("latin-1")
    tpath = host_path(state, temp + "KestrelLog.txt")
    if tpath and os.path.isfile(tpath):
        text += open(tpath, "rb").read().decode("latin-1")
    return text


class Runner:
    def __init__(self, build, keep, verbose):
        self.build = build
        self.pack = os.path.join(build, "kestrel-pack")
        self.template = os.path.join(build, "kestrel-sim")
        self.keep = keep
        self.verbose = verbose
        self.default_machine = json.load(open(os.path.join(ROOT, "sim", "machines", "default.json")))
        # Packed programs by what went into them: scenarios that share a package pack it once.
        self.cache = tempfile.mkdtemp(prefix="kestrel-scenario-packages-")
        self.cache_lock = {}
        self.lock = __import__("threading").Lock()

    def sh(self, args, what):
        r = subprocess.run(args, capture_output=True, text=True)
        if r.returncode != 0:
            raise Failed(f"{what} failed ({r.returncode}): {r.stderr.strip()}")

    def prepare(self, sc, work):
        machine = self.default_machine
        if "machine_file" in sc:
            machine = json.load(open(os.path.join(HERE, sc["machine_file"])))
        machine = merge_patch(machine, sc.get("machine", {}))
        # A merge patch replaces lists whole: disk_patches patch one disk of the list by its index.
        for index, patch in sc.get("disk_patches", {}).items():
            machine["disks"][int(index)] = merge_patch(machine["disks"][int(index)], patch)
        mpath = os.path.join(work, "machine.json")
        json.dump(machine, open(mpath, "w"), indent=1)

        manifest = None
        if "package_base" in sc:
            manifest = json.load(open(os.path.join(HERE, "packages", sc["package_base"] + ".json")))
        if "package" in sc:
            manifest = merge_patch(manifest or {}, sc["package"])
        if manifest is None:
            return machine, mpath, self.template  # the template itself: a package without firmware
        images = {}
        if "package_base" in sc:
            images.update(json.load(open(os.path.join(HERE, "packages", sc["package_base"] + ".json"))).get("sim_images", {}))
        images.update(sc.get("sim_images", {}))
        manifest.pop("sim_images", None)
        key = hashlib.sha256(json.dumps([manifest, images, sc.get("block_bytes")], sort_keys=True).encode()).hexdigest()[:16]
        with self.lock:
            key_lock = self.cache_lock.setdefault(key, __import__("threading").Lock())
        with key_lock:
            exe = os.path.join(self.cache, key, "Update-sim")
            if not os.path.exists(exe):
                os.makedirs(os.path.dirname(exe), exist_ok=True)
                self.pack_package(sc, manifest, images, os.path.dirname(exe), exe)
        return machine, mpath, exe

    def pack_package(self, sc, manifest, images, work, exe):
        for name, spec in images.items():
            args = [self.pack, "sim-image", "--out", os.path.join(work, name), "--revision", spec["revision"]]
            for m in spec["models"]:
                args += ["--model", m]
            if "ext_revision" in spec:
                args += ["--ext-revision", spec["ext_revision"]]
            if "payload_size" in spec:
                args += ["--payload-size", str(spec["payload_size"])]
            self.sh(args, f"sim-image {name}")
        man = os.path.join(work, "manifest.json")
        json.dump(manifest, open(man, "w"), indent=1)
        self.sh([self.pack, "build", "--template", self.template, "--manifest", man, "--out", exe], "kestrel-pack build")
        if "block_bytes" in sc:
            # Bytes that no manifest can produce (a damaged package), at offsets inside the block.
            shown = subprocess.run([self.pack, "show", exe], capture_output=True, text=True, check=True).stdout
            head = "file offset of the block: 0x"
            at = int(shown.split(head, 1)[1].split()[0], 16)
            with open(exe, "r+b") as f:
                for off, text in sc["block_bytes"].items():
                    f.seek(at + int(off, 16))
                    f.write(text.encode("latin-1"))

    def check(self, n, run, res, state, machine):
        exp = run.get("expect", {})
        errors = []
        out = res.stdout + res.stderr
        if "exit" in exp and res.returncode != exp["exit"]:
            errors.append(f"exit code {res.returncode}, expected {exp['exit']}")
        log = run_log(state, machine)
        for line in exp.get("log", []):
            if line not in log:
                errors.append(f"log lacks: {line!r}")
        for line in exp.get("log_absent", []):
            if line in log:
                errors.append(f"log has: {line!r}")
        if "boxes" in exp:
            boxes = parse_boxes(res.stderr)
            want = exp["boxes"]
            if len(boxes) != len(want):
                errors.append(f"{len(boxes)} message box(es) shown, expected {len(want)}: {[b['title'] + ': ' + b['text'][:60] for b in boxes]}")
            for got, w in zip(boxes, want):
                if "title" in w and got["title"] != w["title"]:
                    errors.append(f"box title {got['title']!r}, expected {w['title']!r}")
                if "text" in w and got["text"] != w["text"]:
                    errors.append(f"box text {got['text']!r}, expected {w['text']!r}")
                if "text_has" in w and w["text_has"] not in got["text"]:
                    errors.append(f"box text {got['text']!r} lacks {w['text_has']!r}")
                if "answer" in w and got["answer"] != w["answer"]:
                    errors.append(f"box answered {got['answer']!r}, expected {w['answer']!r}")
        for line in exp.get("output", []):
            if line not in out:
                errors.append(f"output lacks: {line!r}")
        for line in exp.get("output_absent", []):
            if line in out:
                errors.append(f"output has: {line!r}")
        if "registry" in exp:
            reg = registry_values(state)
            for key, values in exp["registry"].items():
                have = reg.get(key.lower().rstrip("\\"))
                if values is None:
                    if have is not None:
                        errors.append(f"registry key {key} exists")
                    continue
                if have is None:
                    errors.append(f"registry key {key} missing")
                    continue
                for name, v in values.items():
                    if v is None and name.lower() in have:
                        errors.append(f"registry {key}\\{name} = {have[name.lower()]!r}, expected absent")
                    elif v is not None and have.get(name.lower()) != v:
                        errors.append(f"registry {key}\\{name} = {have.get(name.lower())!r}, expected {v!r}")
        for winpath, want in exp.get("files", {}).items():
            host = host_path(state, winpath)
            if want is None:
                if host:
                    errors.append(f"file {winpath} exists")
                continue
            if not host:
                errors.append(f"file {winpath} missing")
                continue
            content = open(host, "rb").read().decode("latin-1")
            if isinstance(want, str) and content != want:
                errors.append(f"file {winpath} holds {content!r}, expected {want!r}")
            if isinstance(want, dict):
                for line in want.get("has", []):
                    if line not in content:
                        errors.append(f"file {winpath} lacks {line!r}")
        if "drives" in exp:
            dpath = os.path.join(state, "drives.json")
            drives = json.load(open(dpath)) if os.path.exists(dpath) else {}
            described = {d["drive"]["serial"]: d["drive"].get("revision") for d in machine.get("disks", [])
                         if isinstance(d.get("drive"), dict) and "serial" in d["drive"]}
            for serial, rev in exp["drives"].items():
                # A drive the state does not mention still has the revision its description gives.
                have = drives.get(serial, {}).get("revision", described.get(serial))
                if have != rev:
                    errors.append(f"drive {serial} revision {have!r}, expected {rev!r}")
        if "events" in exp:
            epath = os.path.join(state, "events.json")
            events = json.load(open(epath)) if os.path.exists(epath) else []
            events = [{k: v for k, v in e.items() if k != "at"} for e in events]
            if events != exp["events"]:
                errors.append(f"events {events}, expected {exp['events']}")
        if errors:
            detail = "\n    ".join(errors)
            more = f"\n--- output\n{out}\n--- log\n{log}" if self.verbose else ""
            raise Failed(f"run {n + 1} ({' '.join(run.get('args', [])) or 'no arguments'}):\n    {detail}{more}")

    def run(self, name):
        sc = json.load(open(os.path.join(HERE, "cases", name + ".json")))
        work = tempfile.mkdtemp(prefix=f"kestrel-scenario-{name}-")
        try:
            machine, mpath, exe = self.prepare(sc, work)
            state = os.path.join(work, "state")
            os.makedirs(state)
            for path, content in sc.get("state_files", {}).items():
                # Files that an earlier run or another program left on the machine.
                host = os.path.join(state, "files", path[0].upper(), *[p for p in path[3:].split("\\") if p])
                os.makedirs(os.path.dirname(host), exist_ok=True)
                open(host, "w").write(content)
            codes = []
            for n, run in enumerate(sc["runs"]):
                env = dict(os.environ)
                env.update({"KESTREL_SIM_MACHINE": mpath, "KESTREL_SIM_STATE": state,
                            "KESTREL_SIM_CLOCK": "virtual", "KESTREL_SIM_ANSWERS": ",".join(run.get("answers", [])),
                            "KESTREL_SIM_USER": ",".join(run.get("user", [])), "KESTREL_SIM_SHOW": "1"})
                res = subprocess.run([exe] + run.get("args", []), env=env, capture_output=True, text=True,
                                     stdin=subprocess.DEVNULL, timeout=120, errors="replace")
                codes.append(res.returncode)
                self.check(n, run, res, state, machine)
            return sc.get("road", ""), codes, sc.get("pending")
        finally:
            if self.keep:
                print(f"  (kept {work})")
            else:
                shutil.rmtree(work, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser(description="Kestrel scenario suite")
    ap.add_argument("--build", default=os.environ.get("KESTREL_BUILD", os.path.join(ROOT, "build", "linux")))
    ap.add_argument("--keep", action="store_true", help="keep each scenario's folder")
    ap.add_argument("--verbose", action="store_true", help="print the output and log of a failed run")
    ap.add_argument("names", nargs="*")
    a = ap.parse_args()
    names = a.names or sorted(f[:-5] for f in os.listdir(os.path.join(HERE, "cases")) if f.endswith(".json"))
    runner = Runner(a.build, a.keep, a.verbose)
    width = max(len(n) for n in names)

    def one(name):
        # A scenario marked "pending" waits for a part of the program that has not landed: its
        # failure is reported but does not fail the suite; once it passes, the mark should go.
        pending = json.load(open(os.path.join(HERE, "cases", name + ".json"))).get("pending")
        try:
            road, codes, _ = runner.run(name)
            note = "  (passes: remove its pending mark)" if pending else ""
            return True, f"ok    {name:<{width}}  {road}  exit {', '.join(map(str, codes))}{note}"
        except (Failed, subprocess.TimeoutExpired, subprocess.CalledProcessError, OSError, ValueError, KeyError) as e:
            if pending:
                first = str(e).splitlines()[0:2]
                return True, f"wait  {name:<{width}}  pending: {pending}; now: {' '.join(x.strip() for x in first)}"
            return False, f"FAIL  {name:<{width}}  {e}"

    jobs = int(os.environ.get("KESTREL_JOBS", "2"))
    try:
        with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, jobs)) as pool:
            results = list(pool.map(one, names))
    finally:
        shutil.rmtree(runner.cache, ignore_errors=True)
    for _, line in results:
        print(line)
    failed = sum(1 for ok, _ in results if not ok)
    print(f"{len(names) - failed} of {len(names)} scenarios passed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
