#!/usr/bin/env python3
"""Compares `kestrel-pack show --json` output with the manifest it was packed from.

usage: pack-compare.py MANIFEST SHOWN  (file names in the manifest are relative to the current folder)
"""
import hashlib, json, sys

m = json.load(open(sys.argv[1])); s = json.load(open(sys.argv[2]))
opts = {"bUseFWExt":0,"bReBoot":0,"bAutoMode":0,"bShutdownAfter":0,"iNoticeStyle":1,"bHiddenDrives":0,"bRebootAfter":0,
        "bNFlashAuto":0,"bBootcode":0,"bDeployMode":0,"bPreformat":0,"bBeforePreformat":0,"bFOld":0,"bUnattended":0,
        "iCloseMsgSeconds":1,"bWindowsFlash":0}
bad = []
for k in ["builder","version","phone","title","build_date","model","iVisualStyle","iLanguage","iFlashMode"]:
    if s[k] != m[k]: bad.append(k)
for k, num in opts.items():
    want = m["options"].get(k, 0 if num else False)
    if s["options"][k] != want: bad.append("options." + k)
enc = not m["options"].get("bWindowsFlash", False)
if len(s["images"]) != len(m["images"]): bad.append("images")
for i, (mi, si) in enumerate(zip(m["images"], s["images"])):
    data = open(mi["file"], "rb").read()
    if enc: data += b"\0" * (-len(data) % 512)
    if si["size"] != len(data) or si["sha256"] != hashlib.sha256(data).hexdigest(): bad.append(f"images[{i}].file")
    for k in ["NEW_FW", "FW_EXT"]:
        if si[k] != mi.get(k, ""): bad.append(f"images[{i}].{k}")
    want = [{"CMODEL": c.get("CMODEL",""),
             "START": c["START"].ljust(8, "!") if c.get("START") else "",
             "END": c["END"].ljust(8, "~") if c.get("END") else ""} for c in mi.get("constraints", [])]
    if si["constraints"] != want: bad.append(f"images[{i}].constraints")
    if si["offset"] % 512: bad.append(f"images[{i}].offset")
want = {}
for slot, f in m.get("programs", {}).items():
    d = open(f, "rb").read()
    want[slot] = {"size": len(d), "sha256": hashlib.sha256(d).hexdigest()}
if s["programs"] != want: bad.append("programs")
if bad:
    print("differences:", bad); sys.exit(1)
