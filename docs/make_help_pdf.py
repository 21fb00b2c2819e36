#!/usr/bin/env python3
"""Builds the help file quillon_de.pdf from its text source, with nothing but Python.

    make_help_pdf.py SOURCE.txt OUTPUT.pdf

The source is UTF-8 text in a small markup:

    # Title                  the document title (first page)
    ## Section               a section heading, also a bookmark of the PDF
    ### Subsection           a smaller heading
    - item                   a bullet item; indented lines continue it
    1. item                  a numbered item; indented lines continue it
    > text                   one line of program output, in a fixed-width font
    (blank line)             ends a paragraph, item or output block
    other lines              paragraph text; lines are joined with blanks

Inside text, `words` are set in the fixed-width font and **words** in bold.

The PDF uses the standard fonts Helvetica, Helvetica-Bold and Courier in the Windows-1252
encoding, which has every German letter, so no font has to be embedded. The output depends only
on the source: no dates, no random identifiers.
"""
import re
import sys
import zlib

# Advance widths (1/1000 em) of the Windows-1252 characters in Helvetica and Helvetica-Bold,
# from the fonts' published metrics. Courier has 600 for every character.
HELVETICA = {
    32: 278, 33: 278, 34: 355, 35: 556, 36: 556, 37: 889, 38: 667, 39: 191, 40: 333, 41: 333,
    42: 389, 43: 584, 44: 278, 45: 333, 46: 278, 47: 278, 48: 556, 49: 556, 50: 556, 51: 556,
    52: 556, 53: 556, 54: 556, 55: 556, 56: 556, 57: 556, 58: 278, 59: 278, 60: 584, 61: 584,
    62: 584, 63: 556, 64: 1015, 65: 667, 66: 667, 67: 722, 68: 722, 69: 667, 70: 611, 71: 778,
    72: 722, 73: 278, 74: 500, 75: 667, 76: 556, 77: 833, 78: 722, 79: 778, 80: 667, 81: 778,
    82: 722, 83: 667, 84: 611, 85: 722, 86: 667, 87: 944, 88: 667, 89: 667, 90: 611, 91: 278,
    92: 278, 93: 278, 94: 469, 95: 556, 96: 333, 97: 556, 98: 556, 99: 500, 100: 556, 101: 556,
    102: 278, 103: 556, 104: 556, 105: 222, 106: 222, 107: 500, 108: 222, 109: 833, 110: 556,
    111: 556, 112: 556, 113: 556, 114: 333, 115: 500, 116: 278, 117: 556, 118: 500, 119: 722,
    120: 500, 121: 500, 122: 500, 123: 334, 124: 260, 125: 334, 126: 584, 128: 556, 130: 222,
    131: 556, 132: 333, 133: 1000, 134: 556, 135: 556, 136: 333, 137: 1000, 138: 667, 139: 333,
    140: 1000, 142: 611, 145: 222, 146: 222, 147: 333, 148: 333, 149: 350, 150: 556, 151: 1000,
    152: 333, 153: 1000, 154: 500, 155: 333, 156: 944, 158: 500, 159: 667, 160: 278, 161: 333,
    162: 556, 163: 556, 164: 556, 165: 556, 166: 260, 167: 556, 168: 333, 169: 737, 170: 370,
    171: 556, 172: 584, 173: 333, 174: 737, 175: 333, 176: 400, 177: 584, 178: 333, 179: 333,
    180: 333, 181: 578, 182: 537, 183: 278, 184: 333, 185: 333, 186: 365, 187: 556, 188: 834,
    189: 834, 190: 834, 191: 611, 192: 667, 193: 667, 194: 667, 195: 667, 196: 667, 197: 667,
    198: 1000, 199: 722, 200: 667, 201: 667, 202: 667, 203: 667, 204: 278, 205: 278, 206: 278,
    207: 278, 208: 722, 209: 722, 210: 778, 211: 778, 212: 778, 213: 778, 214: 778, 215: 584,
    216: 778, 217: 722, 218: 722, 219: 722, 220: 722, 221: 667, 222: 667, 223: 611, 224: 556,
    225: 556, 226: 556, 227: 556, 228: 556, 229: 556, 230: 889, 231: 500, 232: 556, 233: 556,
    234: 556, 235: 556, 236: 278, 237: 278, 238: 278, 239: 278, 240: 556, 241: 556, 242: 556,
    243: 556, 244: 556, 245: 556, 246: 556, 247: 584, 248: 611, 249: 556, 250: 556, 251: 556,
    252: 556, 253: 500, 254: 556, 255: 500,
}
HELVETICA_BOLD = {
    32: 278, 33: 333, 34: 474, 35: 556, 36: 556, 37: 889, 38: 722, 39: 238, 40: 333, 41: 333,
    42: 389, 43: 584, 44: 278, 45: 333, 46: 278, 47: 278, 48: 556, 49: 556, 50: 556, 51: 556,
    52: 556, 53: 556, 54: 556, 55: 556, 56: 556, 57: 556, 58: 333, 59: 333, 60: 584, 61: 584,
    62: 584, 63: 611, 64: 975, 65: 722, 66: 722, 67: 722, 68: 722, 69: 667, 70: 611, 71: 778,
    72: 722, 73: 278, 74: 556, 75: 722, 76: 611, 77: 833, 78: 722, 79: 778, 80: 667, 81: 778,
    82: 722, 83: 667, 84: 611, 85: 722, 86: 667, 87: 944, 88: 667, 89: 667, 90: 611, 91: 333,
    92: 278, 93: 333, 94: 584, 95: 556, 96: 333, 97: 556, 98: 611, 99: 556, 100: 611, 101: 556,
    102: 333, 103: 611, 104: 611, 105: 278, 106: 278, 107: 556, 108: 278, 109: 889, 110: 611,
    111: 611, 112: 611, 113: 611, 114: 389, 115: 556, 116: 333, 117: 611, 118: 556, 119: 778,
    120: 556, 121: 556, 122: 500, 123: 389, 124: 280, 125: 389, 126: 584, 128: 556, 130: 278,
    131: 556, 132: 500, 133: 1000, 134: 556, 135: 556, 136: 333, 137: 1000, 138: 667, 139: 333,
    140: 1000, 142: 611, 145: 278, 146: 278, 147: 500, 148: 500, 149: 350, 150: 556, 151: 1000,
    152: 333, 153: 1000, 154: 556, 155: 333, 156: 944, 158: 500, 159: 667, 160: 278, 161: 333,
    162: 556, 163: 556, 164: 556, 165: 556, 166: 280, 167: 556, 168: 333, 169: 737, 170: 370,
    171: 556, 172: 584, 173: 333, 174: 737, 175: 333, 176: 400, 177: 584, 178: 333, 179: 333,
    180: 333, 181: 611, 182: 556, 183: 278, 184: 333, 185: 333, 186: 365, 187: 556, 188: 834,
    189: 834, 190: 834, 191: 611, 192: 722, 193: 722, 194: 722, 195: 722, 196: 722, 197: 722,
    198: 1000, 199: 722, 200: 667, 201: 667, 202: 667, 203: 667, 204: 278, 205: 278, 206: 278,
    207: 278, 208: 722, 209: 722, 210: 778, 211: 778, 212: 778, 213: 778, 214: 778, 215: 584,
    216: 778, 217: 722, 218: 722, 219: 722, 220: 722, 221: 667, 222: 667, 223: 611, 224: 556,
    225: 556, 226: 556, 227: 556, 228: 556, 229: 556, 230: 889, 231: 556, 232: 556, 233: 556,
    234: 556, 235: 556, 236: 278, 237: 278, 238: 278, 239: 278, 240: 611, 241: 611, 242: 611,
    243: 611, 244: 611, 245: 611, 246: 611, 247: 584, 248: 611, 249: 611, 250: 611, 251: 611,
    252: 611, 253: 556, 254: 611, 255: 556,
}

REGULAR, BOLD, MONO = "F1", "F2", "F3"
FONT_NAMES = {REGULAR: "Helvetica", BOLD: "Helvetica-Bold", MONO: "Courier"}

PAGE_WIDTH, PAGE_HEIGHT = 595, 842  # A4 in points
MARGIN_LEFT, MARGIN_RIGHT, MARGIN_TOP, MARGIN_BOTTOM = 62, 62, 64, 64
TEXT_WIDTH = PAGE_WIDTH - MARGIN_LEFT - MARGIN_RIGHT

BODY_SIZE, MONO_SIZE = 10, 9
STYLES = {  # block kind: font, size, space before, space after, line height factor
    "title": (BOLD, 20, 0, 14, 1.25),
    "h2": (BOLD, 14, 14, 6, 1.25),
    "h3": (BOLD, 11, 10, 4, 1.25),
    "para": (REGULAR, BODY_SIZE, 0, 6, 1.35),
    "item": (REGULAR, BODY_SIZE, 0, 3, 1.35),
    "mono": (MONO, MONO_SIZE, 0, 0, 1.3),
}
ITEM_INDENT = 16
MONO_INDENT = 12


class SourceError(Exception):
    pass


def encode(text, where):
    try:
        return text.encode("cp1252")
    except UnicodeEncodeError as error:
        raise SourceError(f"{where}: character {text[error.start]!r} is not in Windows-1252")


def run_size(font, size):
    """Fixed-width runs inside body text are set a point smaller, to match its x-height."""
    return MONO_SIZE if font == MONO and size == BODY_SIZE else size


def text_width(data, font, size):
    if font == MONO:
        return 0.6 * size * len(data)
    widths = HELVETICA_BOLD if font == BOLD else HELVETICA
    return sum(widths.get(b, 556) for b in data) * size / 1000.0


def runs_of(text, base_font):
    """Splits text with `code` and **bold** marks into (text, font) runs."""
    runs = []
    for part in re.split(r"(`[^`]*`|\*\*[^*]*\*\*)", text):
        if not part:
            continue
        if part.startswith("`") and part.endswith("`") and len(part) >= 2:
            runs.append((part[1:-1], MONO))
        elif part.startswith("**") and part.endswith("**") and len(part) >= 4:
            runs.append((part[2:-2], BOLD))
        else:
            runs.append((part, base_font))
    return runs


def wrap(runs, size, width, where):
    """Breaks runs into lines of at most `width` points; each line is a list of
    (bytes, font, x offset). Breaks only at blanks; a word longer than a line stands alone."""
    words = []  # (bytes, font, blank before)
    blank = False
    for text, font in runs:
        for piece in re.split(r"( +)", text):
            if not piece:
                continue
            if piece.startswith(" "):
                blank = True
                continue
            words.append((encode(piece, where), font, blank))
            blank = False
    lines, line, x = [], [], 0.0
    for data, font, blank_before in words:
        space = text_width(b" ", REGULAR, size) if blank_before and line else 0.0
        w = text_width(data, font, run_size(font, size))
        if line and x + space + w > width:
            lines.append(line)
            line, x, space = [], 0.0, 0.0
        line.append((data, font, x + space))
        x += space + w
    if line:
        lines.append(line)
    return lines


def wrap_mono(text, size, width, where):
    data = encode(text, where)
    per_line = max(1, int(width // (0.6 * size)))
    chunks = [data[i:i + per_line] for i in range(0, len(data), per_line)] or [b""]
    return [[(chunk, MONO, 0.0)] for chunk in chunks]


def parse(source):
    """Returns the blocks of the source: (kind, text, marker, line number)."""
    blocks = []
    current = None  # [kind, text, marker, line]

    def flush():
        nonlocal current
        if current is not None:
            blocks.append(tuple(current))
            current = None

    for number, raw in enumerate(source.splitlines(), 1):
        line = raw.rstrip()
        stripped = line.strip()
        if not stripped:
            flush()
            continue
        heading = re.match(r"^(#{1,3}) (.*)$", line)
        numbered = re.match(r"^(\d+)\. (.*)$", line)
        if heading:
            flush()
            kind = {1: "title", 2: "h2", 3: "h3"}[len(heading.group(1))]
            blocks.append((kind, heading.group(2).strip(), "", number))
        elif line.startswith("> ") or line == ">":
            flush()
            blocks.append(("mono", line[2:], "", number))
        elif line.startswith("- "):
            flush()
            current = ["item", line[2:].strip(), "\u2022", number]
        elif numbered:
            flush()
            current = ["item", numbered.group(2).strip(), numbered.group(1) + ".", number]
        elif current is not None and (current[0] == "para" or line.startswith(" ")):
            current[1] += " " + stripped
        else:
            flush()
            current = ["para", stripped, "", number]
    flush()
    return blocks


def pdf_string(data):
    return b"(" + data.replace(b"\\", b"\\\\").replace(b"(", b"\\(").replace(b")", b"\\)") + b")"


def utf16_string(text):
    return b"<FEFF" + text.encode("utf-16-be").hex().upper().encode() + b">"


class Layout:
    def __init__(self):
        self.pages = []  # content streams (lists of bytes)
        self.outline = []  # (title, page index, y)
        self.new_page()

    def new_page(self):
        self.pages.append([])
        self.y = PAGE_HEIGHT - MARGIN_TOP

    def ensure(self, height):
        if self.y - height < MARGIN_BOTTOM:
            self.new_page()
            return True
        return False

    def draw(self, line, font_size, x, baseline):
        ops = self.pages[-1]
        for data, font, offset in line:
            ops.append(b"BT /%s %d Tf %.2f %.2f Td %s Tj ET" % (
                font.encode(), run_size(font, font_size), x + offset, baseline, pdf_string(data)))

    def block(self, kind, text, marker, where):
        font, size, before, after, factor = STYLES[kind]
        leading = size * factor
        indent = ITEM_INDENT if kind == "item" else MONO_INDENT if kind == "mono" else 0
        width = TEXT_WIDTH - indent
        if kind == "mono":
            lines = wrap_mono(text, size, width, where)
        else:
            lines = wrap(runs_of(text, font), size, width, where)
        # Headings keep at least two following lines with them.
        keep = leading * len(lines) + (3 * leading if kind in ("h2", "h3") else 0)
        if not self.ensure(before + min(keep, PAGE_HEIGHT / 3)):
            self.y -= before
        if kind == "h2":
            self.outline.append((text.replace("`", "").replace("**", ""), len(self.pages) - 1,
                                 self.y))
        for i, line in enumerate(lines):
            self.ensure(leading)
            self.y -= leading
            baseline = self.y + (leading - size) / 2
            if i == 0 and marker:
                self.draw([(encode(marker, where), font, 0.0)], size, MARGIN_LEFT + 4, baseline)
            self.draw(line, size, MARGIN_LEFT + indent, baseline)
        self.y -= after


def build(blocks, title):
    layout = Layout()
    previous = None
    for kind, text, marker, number in blocks:
        if previous == "mono" and kind != "mono":
            layout.y -= 6
        layout.block(kind, text, marker, f"line {number}")
        previous = kind

    # Footer with page numbers.
    count = len(layout.pages)
    for index, ops in enumerate(layout.pages):
        label = encode(f"Quillon \u2013 Seite {index + 1} von {count}", "footer")
        w = text_width(label, REGULAR, 8)
        ops.append(b"BT /F1 8 Tf %.2f %.2f Td %s Tj ET" % (
            (PAGE_WIDTH - w) / 2, MARGIN_BOTTOM / 2, pdf_string(label)))

    objects = []  # object bodies; object n is objects[n - 1]

    def add(body):
        objects.append(body)
        return len(objects)

    catalog = add(None)
    pages_id = add(None)
    font_ids = {}
    for key in (REGULAR, BOLD, MONO):
        font_ids[key] = add(b"<< /Type /Font /Subtype /Type1 /BaseFont /%s "
                            b"/Encoding /WinAnsiEncoding >>" % FONT_NAMES[key].encode())
    resources = b"<< /Font << %s >> >>" % b" ".join(
        b"/%s %d 0 R" % (key.encode(), oid) for key, oid in font_ids.items())
    page_ids = []
    for ops in layout.pages:
        stream = zlib.compress(b"\n".join(ops), 9)
        content = add(b"<< /Length %d /Filter /FlateDecode >>\nstream\n%s\nendstream" % (
            len(stream), stream))
        page_ids.append(add(b"<< /Type /Page /Parent %d 0 R /MediaBox [0 0 %d %d] "
                            b"/Resources %s /Contents %d 0 R >>" % (
                                pages_id, PAGE_WIDTH, PAGE_HEIGHT, resources, content)))
    objects[pages_id - 1] = b"<< /Type /Pages /Kids [%s] /Count %d >>" % (
        b" ".join(b"%d 0 R" % p for p in page_ids), len(page_ids))

    outline_part = b""
    if layout.outline:
        outlines_id = add(None)
        first = len(objects) + 1
        ids = list(range(first, first + len(layout.outline)))
        for i, (heading, page, y) in enumerate(layout.outline):
            links = b""
            if i > 0:
                links += b" /Prev %d 0 R" % ids[i - 1]
            if i + 1 < len(ids):
                links += b" /Next %d 0 R" % ids[i + 1]
            add(b"<< /Title %s /Parent %d 0 R%s /Dest [%d 0 R /XYZ 0 %.2f null] >>" % (
                utf16_string(heading), outlines_id, links, page_ids[page], y + 20))
        objects[outlines_id - 1] = b"<< /Type /Outlines /First %d 0 R /Last %d 0 R /Count %d >>" % (
            ids[0], ids[-1], len(ids))
        outline_part = b" /Outlines %d 0 R /PageMode /UseOutlines" % outlines_id
    objects[catalog - 1] = b"<< /Type /Catalog /Pages %d 0 R /Lang (de-DE)%s >>" % (
        pages_id, outline_part)
    info = add(b"<< /Title %s /Creator (make_help_pdf.py) >>" % utf16_string(title))

    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for number, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n%s\nendobj\n" % (number, body)
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for offset in offsets:
        out += b"%010d 00000 n \n" % offset
    out += b"trailer\n<< /Size %d /Root %d 0 R /Info %d 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (
        len(objects) + 1, catalog, info, xref)
    return bytes(out)


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    with open(argv[1], encoding="utf-8") as f:
        blocks = parse(f.read())
    titles = [text for kind, text, _, _ in blocks if kind == "title"]
    try:
        pdf = build(blocks, titles[0] if titles else "Quillon")
    except SourceError as error:
        print(f"{argv[1]}: {error}", file=sys.stderr)
        return 1
    with open(argv[2], "wb") as f:
        f.write(pdf)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
