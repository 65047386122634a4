"""Reads a saved .xls with readers that share no code with the writer and prints what they saw as JSON.

The compound file is opened both by libgsf (`gsf list`, `gsf cat`) and by xlrd's own reader,
the cells are read by xlrd, and the raw BIFF8 records are walked here, so that what no reader
reports (FILESHARING, WINDOW1, EXTSST, the CONTINUE layout of SST) is checked too.

    xls_readback.py FILE [--cells N]   # lists the cells of sheets with at most N cells (default 1000)
"""

import json
import struct
import subprocess
import sys

import xlrd

BOF, EOF, CONTINUE = 0x0809, 0x000A, 0x003C
SST, EXTSST, FILESHARING = 0x00FC, 0x00FF, 0x005B
WINDOW1, WINDOW2, BOUNDSHEET, BACKUP = 0x003D, 0x023E, 0x0085, 0x0040
TYPE_NAMES = {xlrd.XL_CELL_TEXT: "text", xlrd.XL_CELL_NUMBER: "number", xlrd.XL_CELL_DATE: "date",
              xlrd.XL_CELL_BOOLEAN: "boolean", xlrd.XL_CELL_BLANK: "blank", xlrd.XL_CELL_ERROR: "error"}


def container(path):
    listing = subprocess.run(["gsf", "list", path], check=True, capture_output=True, text=True).stdout
    streams = {}
    for line in listing.splitlines()[1:]:
        kind, size, name = line.split(None, 2)
        if kind == "f":
            streams[name] = int(size)
    header = open(path, "rb").read(512)
    fat_sectors, = struct.unpack_from("<I", header, 44)
    difat_sectors, = struct.unpack_from("<I", header, 72)
    return {"streams": streams, "fat_sectors": fat_sectors, "difat_sectors": difat_sectors}


def records(stream):
    position = 0
    while position + 4 <= len(stream):
        rid, length = struct.unpack_from("<HH", stream, position)
        yield position, rid, stream[position + 4:position + 4 + length]
        position += 4 + length


def walk_sst(sst_records):
    """Decodes SST and its CONTINUE records; returns the strings and where each one starts."""
    pieces = [(position, body) for position, _, body in sst_records]
    strings, starts = [], []
    index, offset = 0, 8
    total, unique = struct.unpack_from("<II", pieces[0][1], 0)

    def remaining():
        return len(pieces[index][1]) - offset

    while len(strings) < unique:
        if remaining() == 0:
            index, offset = index + 1, 0
        position, body = pieces[index]
        assert remaining() >= 3, "string header split across records"
        starts.append((position + 4 + offset, 4 + offset))
        count, flags = struct.unpack_from("<HB", body, offset)
        offset += 3
        assert flags & 0xFE == 0, "rich text or phonetic flags set"
        text = ""
        while len(text) < count:
            if remaining() == 0:
                index, offset = index + 1, 0
                flags = pieces[index][1][0]  # a continued string repeats its flags byte
                offset = 1
            body = pieces[index][1]
            width = 2 if flags & 1 else 1
            take = min(count - len(text), remaining() // width)
            assert take > 0, "odd byte left in a UTF-16 run"
            raw = body[offset:offset + take * width]
            text += raw.decode("utf-16-le" if width == 2 else "latin-1")
            offset += take * width
        strings.append(text)
    return total, unique, strings, starts


def raw_records(stream, cell_texts):
    found = {"filesharing": None, "window1": None, "window2": [], "backup": None, "boundsheets": []}
    sst_records, extsst = [], None
    in_globals, in_sst = True, False
    for position, rid, body in records(stream):
        if in_globals:
            if rid == FILESHARING:
                found["filesharing"] = {"read_only_recommended": struct.unpack_from("<H", body, 0)[0],
                                        "write_password": struct.unpack_from("<H", body, 2)[0], "length": len(body)}
            elif rid == WINDOW1:
                fields = struct.unpack_from("<9H", body, 0)
                found["window1"] = {"flags": fields[4], "active": fields[5], "first_tab": fields[6],
                                    "selected_tabs": fields[7]}
            elif rid == BACKUP:
                found["backup"] = struct.unpack_from("<H", body, 0)[0]
            elif rid == BOUNDSHEET:
                offset, = struct.unpack_from("<I", body, 0)
                found["boundsheets"].append(offset)
            elif rid == SST:
                sst_records, in_sst = [(position, rid, body)], True
                continue
            elif rid == CONTINUE and in_sst:
                sst_records.append((position, rid, body))
                continue
            elif rid == EXTSST:
                per_bucket, = struct.unpack_from("<H", body, 0)
                buckets = [struct.unpack_from("<IH", body, 2 + 8 * k) for k in range((len(body) - 2) // 8)]
                extsst = (per_bucket, buckets)
            elif rid == EOF:
                in_globals = False
            in_sst = False
        elif rid == WINDOW2:
            found["window2"].append(struct.unpack_from("<H", body, 0)[0])

    found["boundsheets_at_bof"] = all(
        struct.unpack_from("<HHHH", stream, offset) == (BOF, 16, 0x0600, 0x0010) for offset in found["boundsheets"])
    total, unique, strings, starts = walk_sst(sst_records)
    per_bucket, buckets = extsst
    expected = [starts[k] for k in range(0, unique, per_bucket)]
    found["sst"] = {"total": total, "unique": unique, "continue_records": len(sst_records) - 1,
                    "longest": max((len(s) for s in strings), default=0),
                    "largest_record": max(len(body) for _, _, body in sst_records),
                    "extsst_per_bucket": per_bucket, "extsst_matches": [tuple(b) for b in buckets] == expected,
                    "walk_matches_cells": strings == cell_texts}
    return found


def cell_value(book, cell):
    if cell.ctype == xlrd.XL_CELL_DATE:
        if 1 <= cell.value < 61:
            return {"serial": cell.value}  # xlrd will not name days the 1900 system counts differently
        return list(xlrd.xldate_as_tuple(cell.value, book.datemode))
    if cell.ctype == xlrd.XL_CELL_BOOLEAN:
        return bool(cell.value)
    return cell.value


def format_of(book, xf_index):
    return book.format_map[book.xf_list[xf_index].format_key].format_str


def formats(book, sheet):
    """The number format of each cell whose format is not General, keyed "row,column"."""
    found = {}
    for row in range(sheet.nrows):
        for column in range(sheet.row_len(row)):
            cell = sheet.cell(row, column)
            if cell.ctype != xlrd.XL_CELL_EMPTY and format_of(book, cell.xf_index) != "General":
                found[f"{row + 1},{column + 1}"] = format_of(book, cell.xf_index)
    return found


def column_widths(book, sheet):
    """COLINFO as xlrd reads it: per 1-based column, its width in 1/256 of a character,
    whether it is hidden, and its format when that is not General."""
    found = {}
    for column, info in sorted(sheet.colinfo_map.items()):
        entry = {"width": info.width, "hidden": bool(info.hidden)}
        if format_of(book, info.xf_index) != "General":
            entry["format"] = format_of(book, info.xf_index)
        found[str(column + 1)] = entry
    return found


def row_heights(sheet):
    """ROW records of rows with a height of their own, as xlrd reads them: per 1-based row, its
    height in twips and whether it is hidden."""
    return {str(row + 1): {"height": info.height, "hidden": bool(info.hidden)}
            for row, info in sorted(sheet.rowinfo_map.items()) if info.height_mismatch or info.hidden}


def sheets(book, cell_limit, texts):
    """Lists the sheets and their cells; texts gets each distinct text in order of first use."""
    result, seen = [], set()
    for sheet in book.sheets():
        cells, counts = [], {}
        for row in range(sheet.nrows):
            for column in range(sheet.row_len(row)):
                cell = sheet.cell(row, column)
                if cell.ctype == xlrd.XL_CELL_EMPTY:
                    continue
                kind = TYPE_NAMES[cell.ctype]
                if kind == "text" and cell.value not in seen:
                    seen.add(cell.value)
                    texts.append(cell.value)
                counts[kind] = counts.get(kind, 0) + 1
                cells.append([row + 1, column + 1, kind, cell_value(book, cell)])
        entry = {"name": sheet.name, "visible": sheet.sheet_visible, "selected": sheet.sheet_selected,
                 "rows": sheet.nrows, "columns": sheet.ncols, "counts": counts,
                 "formats": formats(book, sheet), "column_widths": column_widths(book, sheet),
                 "row_heights": row_heights(sheet), "row_records": len(sheet.rowinfo_map),
                 "default_row": {"height": sheet.default_row_height, "hidden": bool(sheet.default_row_hidden),
                                 "unsynced": bool(sheet.default_row_height_mismatch)}}
        if len(cells) <= cell_limit:
            entry["cells"] = cells
        else:
            entry["first_cells"], entry["last_cells"] = cells[:5], cells[-5:]
        result.append(entry)
    return result


def main():
    path = sys.argv[1]
    cell_limit = int(sys.argv[sys.argv.index("--cells") + 1]) if "--cells" in sys.argv else 1000
    stream = subprocess.run(["gsf", "cat", path, "Workbook"], check=True, capture_output=True).stdout
    book = xlrd.open_workbook(path, ragged_rows=True, formatting_info=True)  # rows end at their last cell: empty rows cost nothing
    texts = []
    report = {"container": container(path), "biff_version": book.biff_version, "datemode": book.datemode,
              "user_name": book.user_name, "sheets": sheets(book, cell_limit, texts)}
    report["records"] = raw_records(stream, texts)
    json.dump(report, sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main()
