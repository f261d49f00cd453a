#!/usr/bin/env python3
"""Writes the AI traffic packages of the simulated simulator's Community folder
(data/simulator/Packages/Community) from our reference data (data/reference):
the AIG, FSLTL, JF and IVAO MTL package styles and a user package, a few hundred
liveries in UTF-8, UTF-8 with BOM, UTF-16LE with CRLF and Windows-1252, with some
deliberate faults of the kind the livery scan reports (unknown airline and model
codes, a model code that needs its fix, a section number out of range, a file
without sections, a missing title, a repeated title, a missing texture folder),
a converted package and a scenery folder that the scan passes over.

The FSLTL package is written as the real one is: values unquoted or quoted with
';' comments after them, comment lines (one holding an older icao_airline after
the real key), keys in mixed case, one file with CR-only line ends, and one
private Caravan that makes the priority rule leave out the user package's
Caravans. One JF file is a long multi-livery Windows-1252 file whose first
accented letter comes after its first 4096 bytes. The user package lies outside
the Community folder (data/simulator/Addons) and is linked into it, as add-on
managers do; one of its livery folders is linked into it from beside it, holds a
link back up to itself, and is a Windows-1252 file behind a UTF-8 mark that
names its airline twice.

The output is deterministic: run it again after a change of the reference data
and commit the data files. Only the generated packages are replaced; other
entries of the Community folder (airport packages) stay.

usage: tools/gen_community.py [--reference FOLDER] [--fleet N] [Community folder]
"""

import argparse
import json
import random
import shutil
import xml.etree.ElementTree as ET
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
PACKAGES = ["aig-aitraffic-oci-beta", "aig-aitraffic-oci_CVT_", "fsltl-traffic-base",
            "justflight-aircraft-traffic-fleet", "IVAO_MTL", "user-aitraffic"]
AIRPLANES = Path("SimObjects") / "Airplanes"

# Airliner families each airline flies in the generated fleets (only models of the dbase count).
FLEET_MODELS = ["A319", "A320", "A321", "A20N", "A21N", "B737", "B738", "B38M", "E175", "E190",
                "E195", "CRJ9", "AT76", "DH8D", "A332", "A333", "A359", "B744", "B763", "B772",
                "B77W", "B788", "B789", "BCS3"]
IVAO_MODELS = ["B738", "A320", "E190", "A332", "B77W"]
GA_MODELS = ["C172", "C152", "PA28", "SR22", "DA40", "C208", "EC35", "EC45", "C25A", "C68A", "CL35"]
# Airlines the generated fleets fly, of those the dbase knows: the big carriers, in a fixed list
# so that the output does not follow the size of the world's airline list.
CARRIERS = ["AAL", "ACA", "AFR", "AMX", "ANA", "ANZ", "ASA", "AUA", "BAW", "BCS", "BEL", "CCA", "CES", "CFG",
            "CLH", "CLX", "CPA", "CSN", "DAL", "DLH", "EIN", "EJU", "ETD", "ETH", "EWG", "EZS", "EZY", "FDX",
            "FIN", "GTI", "HOP", "IBE", "ITY", "JAL", "JBU", "KAL", "KLC", "KLM", "LAN", "LOT", "MPH", "MSR",
            "NAX", "QFA", "QTR", "RYR", "SAA", "SAS", "SIA", "SKW", "SWA", "SWR", "TAP", "TFL", "THY", "TRA",
            "TUI", "TVF", "UAE", "UAL", "UPS", "VIR", "VLG", "WJA", "WZZ"]
# Liveries that the sample traffic scenario around EHAM flies (airline, model, registration).
SCENARIO_FLEET = [("AFR", "A319", "F-GRXD"), ("AFR", "A320", "F-HEPI"), ("DAL", "A333", "N824NW"),
                  ("DAL", "B763", "N197DL"), ("DLH", "A321", "D-AIDG"), ("DTR", "AT76", "OY-RTG"),
                  ("EIN", "A320", "EI-DVJ"), ("EZY", "A20N", "G-UZHL"), ("KLM", "A332", "PH-AOA"),
                  ("KLM", "B744", "PH-BFA"), ("KLM", "B789", "PH-BHA"), ("KLC", "E190", "PH-EZD"),
                  ("MPH", "B744", "PH-MPR"), ("SAS", "A20N", "SE-ROF"), ("TRA", "B738", "PH-HXG"),
                  ("UAE", "B77W", "A6-ENK"), ("NJE", "C68A", "CS-LTB"), ("SAS", "CRJ9", "SE-RJB")]
STOCK_CONTAINERS = {"A20N": "Asobo_A320_NEO", "C172": "Asobo_C172sp_classic", "SR22": "Asobo_SR22",
                    "C208": "Asobo_208B_GRAND_CARAVAN_EX", "B748": "Asobo_B747_8i"}


def read_reference(folder):
    dbase = ET.parse(folder / "dbase.xml").getroot()
    airlines = {a.get("c"): a.get("n") for a in dbase.find("airlines")}
    models = {m.get("c"): (m.get("n"), m.get("cat")) for m in dbase.find("models")}
    fixes = {f.get("from"): f.get("to") for f in dbase.find("fixes")}
    records = [(r.get("k"), r.get("a"), r.get("o") or "", r.get("m"), r.get("cargo") == "true")
               for r in dbase.find("registrations")]
    aig = [(l.get("t"), l.get("r") or "") for l in ET.parse(folder / "AIG-regcodes.xml").getroot().find("aig")]
    return airlines, models, fixes, records, aig


def write(path, text, encoding="utf-8"):
    """The text (LF lines) in one of the encodings and line ends that packages come in."""
    path.parent.mkdir(parents=True, exist_ok=True)
    if encoding == "utf-8-bom-cr":
        data = b"\xef\xbb\xbf" + text.replace("\n", "\r").encode("utf-8")
    elif encoding == "utf-8-bom":
        data = b"\xef\xbb\xbf" + text.encode("utf-8")
    elif encoding == "utf-16le-crlf":
        data = b"\xff\xfe" + text.replace("\n", "\r\n").encode("utf-16-le")
    elif encoding == "windows-1252":
        data = text.encode("cp1252")
    elif encoding == "utf-8-bom-1252":
        # An editor that kept the UTF-8 mark but saved Windows-1252 bytes behind it.
        data = b"\xef\xbb\xbf" + text.encode("cp1252")
    else:
        data = text.encode("utf-8")
    path.write_bytes(data)


def manifest(folder, title, creator):
    write(folder / "manifest.json", json.dumps({
        "dependencies": [], "content_type": "AIRCRAFT", "title": title, "manufacturer": "",
        "creator": creator, "package_version": "1.0.0", "minimum_game_version": "1.37.19",
        "release_notes": {"neutral": {"LastUpdate": "", "OlderHistory": ""}}}, indent=4) + "\n")


def section(number, title, airline=None, regcode=None, parking="GATE_MEDIUM", texture=None, extra=()):
    lines = [f"[fltsim.{number}]", f'title="{title}"' if title is not None else None,
             'sim="aircraft"', 'model=""',
             f'texture="{texture}"' if texture else None,
             f'icao_airline="{airline}"' if airline is not None else None,
             f'atc_id="{regcode}"' if regcode else None,
             f'atc_parking_types="{parking}"' if parking else None,
             'ui_manufacturer="Quillon sample"', *extra, ""]
    return "\n".join(l for l in lines if l is not None)


def fsltl_section(number, title, airline, regcode, texture, parking="GATE,RAMP", quoted=True):
    """A section as the FSLTL package writes it: comments after the values and on lines of
    their own, keys in mixed case, some values unquoted."""
    title_value = f'"{title}"' if quoted else title
    lines = [f"[FLTSIM.{number}]", f"title = {title_value} ; Variation name", 'model = "" ; model folder',
             f'texture = "{texture}" ; texture folder',
             f'atc_id = "{regcode or ""}" ; tail number' if quoted else f"atc_id = {regcode or ''} ; tail number",
             "atc_id_enable = 1 ; enable tail number",
             f'atc_parking_types = "{parking}" ; "ANY" / "RAMP" / "CARGO" / "MIL_CARGO" / "MIL_COMBAT" / "GATE"',
             "isAirTraffic = 1 ; Is the plane usable for air traffic"]
    if airline is not None:
        lines.append(f'icao_airline = "{airline}"' if quoted else f"ICAO_Airline = {airline} ; ###")
        # An older code kept as a comment after the real key.
        lines.append(f'; icao_airline = "{airline}X" ; before the rename')
    lines.append("isUserSelectable = 0 ; Is the plane selectable by the user")
    return "\n".join(lines) + "\n"


def fsltl_cfg(type_line, sections):
    return ("[GENERAL]\n" + type_line + "\n\n[VERSION]\nmajor = 1\nminor = 0\n\n"
            ";===================== FLTSIM DEFINITIONS =====================\n\n"
            + "\n".join(sections))


def cfg(type_line, sections, comment="sample AI aircraft"):
    return (f"; {comment}\n[VERSION]\nmajor = 1\nminor = 0\n\n[GENERAL]\n{type_line}\n"
            'atc_type="TT:ATCCOM.ATC_NAME AIRBUS.0.text"\ncategory="airplane"\n\n'
            + "\n".join(sections) + "\n[VIEWS]\neyepoint=0,0,0\n")


def regs(rng, prefix, count):
    letters = "ABCDEFGHJKLMNPRSTUVWXYZ"
    out = set()
    while len(out) < count:
        out.add(prefix + "".join(rng.choice(letters) for _ in range(3)))
    return sorted(out)


COUNTRY = {"KLM": "PH-", "KLC": "PH-", "MPH": "PH-", "TRA": "PH-", "TVF": "F-", "EZY": "G-", "EJU": "OE-",
           "EZS": "HB-", "BAW": "G-", "VIR": "G-", "DLH": "D-", "CLH": "D-", "EWG": "D-", "CFG": "D-",
           "AFR": "F-", "HOP": "F-", "RYR": "EI-", "EIN": "EI-", "WZZ": "HA-", "VLG": "EC-", "IBE": "EC-",
           "ITY": "EI-", "SAS": "SE-", "NAX": "LN-", "FIN": "OH-", "SWR": "HB-", "AUA": "OE-", "BEL": "OO-",
           "TAP": "CS-", "UAE": "A6-", "QTR": "A7-", "THY": "TC-", "DTR": "OY-", "NJE": "CS-"}


def airline_fleet(rng, airline, models):
    usable = [m for m in FLEET_MODELS if m in models]
    heavy = [m for m in usable if models[m][1] == "Heavy"]
    large = [m for m in usable if models[m][1] != "Heavy"]
    picked = rng.sample(large, 3) + (rng.sample(heavy, 1) if rng.random() < 0.5 else [])
    return sorted(picked)


def generate(community, reference, fleet_size):
    rng = random.Random(20261207)
    airlines, models, fixes, records, aig = read_reference(reference)
    for name in PACKAGES:
        if (community / name).is_symlink():
            (community / name).unlink()
        shutil.rmtree(community / name, ignore_errors=True)
    community.mkdir(parents=True, exist_ok=True)
    carriers = [a for a in CARRIERS if a in airlines]

    # AIG: one folder per model, liveries of the registration records and the AIG regcode file.
    aig_pkg = community / "aig-aitraffic-oci-beta"
    manifest(aig_pkg, "AIG AI Traffic (sample)", "Quillon")
    by_model = {}
    aig_titles = {t: r for t, r in aig}
    for title, regs_text in aig:
        reg = regs_text.split(",")[0].strip()
        rec = next((r for r in records if r[0] == reg), None)
        model = rec[3] if rec else next((m for m in models if models[m][0] and models[m][0] in title), None)
        airline = rec[1] if rec else ""
        if model:
            by_model.setdefault(model, []).append((title, airline, regs_text.split(",")[0].strip(),
                                                    "CARGO" if rec and rec[4] else "GATE_MEDIUM"))
    aig_regs = {r.strip() for _, text in aig for r in text.split(",")}
    for reg, airline, operator, model, cargo in records:
        if airline in ("PVT",) or model not in models or reg in aig_regs:
            continue
        title = f"AIG {models[model][0]} {airlines.get(operator or airline, airline)} ({reg})"
        if title not in aig_titles:
            by_model.setdefault(model, []).append((title, airline, reg, "CARGO" if cargo else "GATE_MEDIUM"))
    for model in ("A320", "B738", "AT76", "E190"):
        by_model.setdefault(model, []).append((f"AIG {models[model][0]} Generic White", "", None, "GATE_MEDIUM"))
    for model in sorted(by_model):
        entries = by_model[model]
        sections = [section(i, t, a, r, p, texture=f"{model}_{i}") for i, (t, a, r, p) in enumerate(entries)]
        if model == "B738":
            # A commented-out second registration is no second key.
            sections.append(section(len(sections), "AIG Boeing 737-800 KLM Royal Dutch Airlines (PH-BXE)", "KLM",
                                    "PH-BXE", extra=('//atc_id="PH-BXX"',)))
            sections.append(section(len(sections), "AIG Boeing 737-800 Unknown Airline", "Q9Q", None))
            sections.append(section(len(sections), None, "KLM", "PH-BXF"))
        write(aig_pkg / AIRPLANES / f"AIG_{model}" / "aircraft.cfg",
              cfg(f'icao_type_designator="{model}"', sections, "AIG sample"))
    # Faults: a model code that needs its fix, an unknown model, an out-of-range section.
    fixable = next((c for c in sorted(fixes) if len(c) <= 4 and fixes[c] in models), None)
    if fixable:
        write(aig_pkg / AIRPLANES / "AIG_FIXED" / "aircraft.cfg",
              cfg(f"icao_type_designator={fixable}", [section(0, f"AIG fixed type {fixable} KLM", "KLM", None)]))
    write(aig_pkg / AIRPLANES / "AIG_UNKNOWN" / "aircraft.cfg",
          cfg("icao_type_designator=QX99", [section(0, "AIG unknown type KLM", "KLM", None)]))
    write(aig_pkg / AIRPLANES / "AIG_RANGE" / "aircraft.cfg",
          cfg("icao_type_designator=A320", [section(10001, "AIG out of range", "KLM", None)]))
    write(aig_pkg / AIRPLANES / "AIG_BASE" / "aircraft.cfg",
          "[VERSION]\nmajor=1\n[GENERAL]\nicao_type_designator=A320\n")
    # Scenery of the package: the walk does not enter it.
    write(aig_pkg / "scenery" / "airport-vehicles" / "aircraft.cfg",
          cfg("icao_type_designator=A320", [section(0, "AIG ground vehicle", "KLM", None)]))

    # A converted copy of the AIG package: never chosen.
    write(community / "aig-aitraffic-oci_CVT_" / AIRPLANES / "AIG_A320" / "aircraft.cfg",
          cfg("icao_type_designator=A320", [section(0, "AIG converted A320", "KLM", None)]))

    # FSLTL: one folder per airline and model, UTF-8 with BOM, written as the real package is;
    # stock containers for some, CR-only line ends in one.
    fsltl = community / "fsltl-traffic-base"
    manifest(fsltl, "FSLTL Traffic Base (sample)", "Quillon")
    first = True
    for airline in carriers[:fleet_size]:
        for model in airline_fleet(rng, airline, models):
            prefix = COUNTRY.get(airline, "N")
            sections = [fsltl_section(i, f"FSLTL_{airline}_{model}_{reg}", airline, reg, reg, quoted=i % 2 == 0)
                        for i, reg in enumerate(regs(rng, prefix, rng.randint(1, 3)))]
            type_line = (f'base_container = "..\\{STOCK_CONTAINERS[model]}" ; stock model' if model in STOCK_CONTAINERS
                         else f'icao_type_designator = "{model}"')
            write(fsltl / AIRPLANES / f"FSLTL_{airline}_{model}" / "aircraft.cfg", fsltl_cfg(type_line, sections),
                  "utf-8-bom-cr" if first else "utf-8-bom")
            first = False
    for airline, model, reg in SCENARIO_FLEET:
        if airline in airlines and model in models:
            write(fsltl / AIRPLANES / f"FSLTL_{airline}_{model}_{reg}" / "aircraft.cfg",
                  fsltl_cfg(f'icao_type_designator = "{model}"',
                            [fsltl_section(0, f"FSLTL_{airline}_{model}_{reg}", airline, reg, reg,
                                           parking="CARGO" if airline == "MPH" else "GATE,RAMP")]),
                  "utf-8-bom")
    # The same title as an AIG livery: the first one read keeps it.
    write(fsltl / AIRPLANES / "FSLTL_DUP" / "aircraft.cfg",
          cfg("icao_type_designator=A320", [section(0, "AIG Airbus A320 Generic White", "", None)]), "utf-8-bom")
    # One private Caravan: with the priority rule, the user package's private Caravans are left out.
    if "C208" in models:
        write(fsltl / AIRPLANES / "FSLTL_208B_GRAND_CARAVAN_PVT" / "aircraft.cfg",
              fsltl_cfg("icao_type_designator = C208 ; type",
                        [fsltl_section(0, "FSLTL_Cessna 208B Grand Caravan Private", None, None, "PVT",
                                       parking="RAMP", quoted=False)]), "utf-8-bom")

    # JF: UTF-16LE with CRLF and Windows-1252 files.
    jf = community / "justflight-aircraft-traffic-fleet"
    manifest(jf, "Traffic fleet (sample)", "Quillon")
    for i, airline in enumerate(carriers[fleet_size:fleet_size * 2]):
        model = ["B738", "A320", "E190", "A321"][i % 4]
        name = airlines[airline]
        sections = [section(k, f"JF {models[model][0]} {name} {reg}", airline, reg, texture=reg)
                    for k, reg in enumerate(regs(rng, COUNTRY.get(airline, "N"), 2))]
        encoding = "utf-16le-crlf" if i % 2 == 0 else "windows-1252"
        write(jf / AIRPLANES / f"JF_{model}_{airline}" / "aircraft.cfg",
              cfg(f"icao_type_designator={model}", sections, "JF sample, caf\u00e9 cr\u00e8me"), encoding)
    # A long multi-livery file: its first accented letter comes after its first 4096 bytes.
    many = [section(k, f"JF Airbus A320 TAP Air Portugal {reg}", "TAP", reg, texture=reg)
            for k, reg in enumerate(regs(random.Random(1252), "CS-T", 24))]
    many.append(section(len(many), "JF Airbus A320 TAP Air Portugal S\u00e3o Jo\u00e3o", "TAP", "CS-TNA"))
    write(jf / AIRPLANES / "JF_A320_TAP_MANY" / "aircraft.cfg",
          cfg("icao_type_designator=A320", many, "JF sample, many liveries"), "windows-1252")

    # IVAO MTL: the model in the folder name, the airline after it in the title, a texture
    # folder for every livery.
    mtl = community / "IVAO_MTL"
    manifest(mtl, "IVAO MTL (sample)", "Quillon")
    for model in IVAO_MODELS:
        if model not in models:
            continue
        folder = mtl / AIRPLANES / f"IVAO_{model}"
        sections = []
        for k, airline in enumerate(rng.sample(carriers, min(8, len(carriers)))):
            sections.append(section(k, f"{model}{airline}", None, None, None, texture=airline))
            write(folder / f"texture.{airline}" / "texture.cfg", "[fltsim]\nfallback.1=..\\texture\n")
        sections.append(section(len(sections), f"{model}ZZZ", None, None, None, texture="MISSING"))
        write(folder / "aircraft.cfg", cfg("", sections, "IVAO sample"))
    special = mtl / AIRPLANES / "IVAO_A320wCFM"
    write(special / "texture.EZY" / "texture.cfg", "[fltsim]\n")
    write(special / "aircraft.cfg", cfg("", [section(0, "A320W EZY", None, None, None, texture="EZY")]))

    # The user's own package: private and generic light aircraft, business jets, helicopters. It
    # lies outside the Community folder and is linked into it.
    user = community.parent.parent / "Addons" / "user-aitraffic"
    shutil.rmtree(user, ignore_errors=True)
    (community / "user-aitraffic").symlink_to(Path("..") / ".." / "Addons" / "user-aitraffic",
                                             target_is_directory=True)
    manifest(user, "My AI traffic", "me")
    private = [r for r in records if r[1] == "PVT" and r[3] in models]
    for model in GA_MODELS:
        if model not in models:
            continue
        regs_of = [r[0] for r in private if r[3] == model] + regs(rng, rng.choice(["PH-", "D-E", "G-"]), 2)
        # Some private aircraft name no airline: the scan takes them as private all the same.
        sections = [section(k, f"{models[model][0]} {reg}", "PVT" if k % 2 else None, reg, "RAMP_GA_SMALL",
                            texture=reg) for k, reg in enumerate(regs_of)]
        sections.append(section(len(sections), f"{models[model][0]} Generic White", "", None, "RAMP_GA_SMALL"))
        type_line = (f'base_container="..\\{STOCK_CONTAINERS[model]}"' if model in STOCK_CONTAINERS
                     else f"icao_type_designator={model}")
        write(user / AIRPLANES / f"USER_{model}" / "aircraft.cfg", cfg(type_line, sections, "my aircraft"))

    # A livery folder that the user keeps beside the package and links into it below the package
    # level, with a link inside it back up to its own folder (a loop the scan must not walk). Its
    # file is Windows-1252 behind a UTF-8 mark and names its airline twice, as edited files do.
    shared = community.parent.parent / "Addons" / "shared-liveries"
    shutil.rmtree(shared, ignore_errors=True)
    king_air = shared / "USER_B350"
    write(king_air / "aircraft.cfg",
          cfg('base_container="..\\Asobo_KingAir350"',
              [section(0, "Beechcraft King Air 350 Z\u00fcrich HB-GJA", "PVT", "HB-GJA", "RAMP_GA_MEDIUM",
                       texture="HB-GJA", extra=('ICAO_Airline = PVT ; again, as the editor wrote it',))],
              "my aircraft, caf\u00e9"), "utf-8-bom-1252")
    (king_air / "all-liveries").symlink_to(Path(".."), target_is_directory=True)
    (user / AIRPLANES / "USER_B350").symlink_to(Path("..") / ".." / ".." / "shared-liveries" / "USER_B350",
                                                target_is_directory=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--reference", type=Path, default=ROOT / "data" / "reference")
    parser.add_argument("--fleet", type=int, default=28, help="airlines with generated fleets per package")
    parser.add_argument("community", nargs="?", type=Path,
                        default=ROOT / "data" / "simulator" / "Packages" / "Community")
    args = parser.parse_args()
    generate(args.community, args.reference, args.fleet)


if __name__ == "__main__":
    main()
