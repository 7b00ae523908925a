#!/usr/bin/python3
"""Draw Ozzlebeck's dog face (picture.bmp), the program's icon of the dog (icon.ico at
16 to 256 px, and icon32.rgba) and the desktop's menu icons of the dog
(packaging/icons/ozzlebeck-<size>.png) procedurally, then check them.  Standard library only, and
deterministic: re-running gives byte-identical files.

The same drawing is also rendered at the desktop scales the X11 build shows it
at (scaled/picture-125.bmp .. picture-300.bmp: 1.25x to 3x in quarter steps),
each from the shapes themselves rather than by stretching picture.bmp.

Usage: /usr/bin/python3 scripts/make_picture.py [--no-scaled]
"""
import math
import os
import random
import struct
import sys
import zlib

W, H = 132, 160                  # the window shows rows 0..158 only
H_SHOWN = 159
CX = 57                          # the face is centred on this column
EYES = ((32, 72), (82, 72))      # where the program paints its eyes (r 7)
RES = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                    "..", "src", "watcher", "resources"))
LIGHT = (-0.45, -0.65, 0.75)     # light from the upper left, in front
TAN, DARK_TAN = (196, 124, 58), (128, 74, 34)
WHITE_FUR, EAR_BROWN = (240, 234, 222), (136, 72, 30)
PATCH, NOSE, TONGUE = (62, 36, 24), (40, 32, 32), (226, 104, 116)
# Ellipses (cx, cy, rx, ry[, angle]): skull, two cheeks, muzzle, jaw; ears; chest.
HEAD = ((57, 59, 45, 50), (34, 96, 25, 23), (80, 96, 25, 23),
        (57, 112, 29, 24), (57, 132, 21, 15))
EARS = ((21, 96, 19, 63, 0.15), (101, 96, 23, 63, -0.27))
CHEST = (57, 141, 44, 17)

# ---- small helpers ---------------------------------------------------------
def scaled_size(s):
    """The picture's size at scale s, as the program rounds it (up)."""
    return math.ceil(W * s), math.ceil(H * s)

def clamp(v, lo, hi):
    return lo if v < lo else hi if v > hi else v

def smooth(e0, e1, v):
    t = clamp((v - e0) / (e1 - e0), 0.0, 1.0)
    return t * t * (3.0 - 2.0 * t)

def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))

def smax(a, b, k=6.0):
    t = clamp(0.5 + 0.5 * (b - a) / k, 0.0, 1.0)
    return a * (1 - t) + b * t + k * t * (1 - t)

def smin(a, b, k=0.12):
    return -smax(-a, -b, k)

def dome(d, h, p=0.5):
    return h * max(0.0, 1.0 - d * d) ** p

def ell(x, y, cx, cy, rx, ry, ang=0.0):
    """Normalised distance from an (optionally rotated) ellipse centre."""
    c, s = math.cos(ang), math.sin(ang)
    dx, dy = c * (x - cx) + s * (y - cy), -s * (x - cx) + c * (y - cy)
    return math.hypot(dx / rx, dy / ry)

class Noise:
    """Tileable value noise; fbm() returns roughly 0..1."""
    def __init__(self, rng, size=64):
        self.size, self.v = size, [rng.random() for _ in range(size * size)]

    def at(self, x, y):
        ix, iy, s, v = math.floor(x), math.floor(y), self.size, self.v
        fx, fy = x - ix, y - iy
        fx, fy = fx * fx * (3 - 2 * fx), fy * fy * (3 - 2 * fy)
        a, b = v[(iy % s) * s + ix % s], v[(iy % s) * s + (ix + 1) % s]
        c, d = v[((iy + 1) % s) * s + ix % s], v[((iy + 1) % s) * s + (ix + 1) % s]
        return a + (b - a) * fx + (c - a) * fy + (a - b - c + d) * fx * fy

    def fbm(self, x, y, octaves=3):
        total, amp, norm = 0.0, 1.0, 0.0
        for _ in range(octaves):
            total, norm = total + amp * self.at(x, y), norm + amp
            amp, x, y = amp * 0.5, x * 2.03 + 17.0, y * 2.03 + 5.0
        return total / norm

# ---- shapes: head, ears, chest ---------------------------------------------
def head_d(x, y):
    d = ell(x, y, *HEAD[0])
    for e in HEAD[1:]:
        d = smin(d, ell(x, y, *e))
    return d

def ear_local(x, y, cx, cy, rx, ry, ang):
    """(across, along) coordinates of a hanging ear: narrow at the top."""
    c, s = math.cos(ang), math.sin(ang)
    dx, dy = c * (x - cx) + s * (y - cy), -s * (x - cx) + c * (y - cy)
    return dx / (rx * (0.62 + 0.38 * clamp(dy / ry + 0.7, 0, 1))), dy / ry

def ear_one(x, y, *e):
    return math.hypot(*ear_local(x, y, *e))

def ear_d(x, y):
    return min(ear_one(x, y, *e) for e in EARS)

def chest_d(x, y):
    return ell(x, y, *CHEST)

def layer_of(x, y):
    """0 = head (in front), 1 = chest, 2 = ears (behind)."""
    ds = (head_d(x, y), chest_d(x, y), ear_d(x, y))
    return next((i for i, d in enumerate(ds) if d < 1.0), ds.index(min(ds)))

# ---- height fields, for shading --------------------------------------------
def head_height(x, y):
    h = dome(ell(x, y, *HEAD[0]), 30)
    for e, hh in zip(HEAD[1:], (26, 26, 40, 30)):
        h = smax(h, dome(ell(x, y, *e), hh))
    for ex, ey in EYES:
        h -= 7 * math.exp(-((x - ex) ** 2 + (y - ey) ** 2) / 60.0)             # socket
        h += 5 * math.exp(-(x - ex) ** 2 / 110.0 - (y - ey + 13) ** 2 / 22.0)  # brow
    h += 6 * math.exp(-(x - CX) ** 2 / 110.0 - (y - 101) ** 2 / 40.0)         # nose
    return h - 4 * math.exp(-(x - CX) ** 2 / 20.0) * smooth(44, 58, y) * (1 - smooth(78, 90, y))

def ear_height(x, y):
    return max(dome(ear_one(x, y, *e), 14, 0.7) for e in EARS)

def chest_height(x, y):
    return dome(chest_d(x, y), 16)

def shade_at(fn, x, y):
    """Diffuse light factor and (unnormalised) normal of a height field."""
    n = (-(fn(x + 0.7, y) - fn(x - 0.7, y)) / 1.4, -(fn(x, y + 0.7) - fn(x, y - 0.7)) / 1.4, 1.0)
    ln = math.sqrt(sum(c * c for c in n)) * math.sqrt(sum(c * c for c in LIGHT))
    return 0.5 + 0.75 * max(0.0, sum(a * b for a, b in zip(n, LIGHT)) / ln), n

# ---- colours per feature ---------------------------------------------------
def head_colour(x, y, nz):
    """Tan head, darker crown, lighter brows, white blaze, muzzle and jaw."""
    wob = (nz.fbm(x * 0.18, y * 0.18) - 0.5) * 7
    col = mix(TAN, DARK_TAN, smooth(50, 18, y) * 0.8 + 0.25 * smooth(30, 45, abs(x - CX)))
    hw = 1.5 + 0.0026 * clamp(y - 26, 0.0, 62.0) ** 2
    blaze = (1 - smooth(hw - 1.5, hw + 1.5, abs(x - CX) + wob * 0.5)) \
        * smooth(28, 40, y) * (1 - smooth(96, 106, y))
    muzzle = (1 - smooth(0.88, 1.02, ell(x, y, 57, 112, 27, 23) + wob * 0.03)) \
        * smooth(84, 92, y + wob)
    lower = 1 - smooth(0.85, 1.0, ell(x, y, CX, 127, 25, 19) + wob * 0.03)
    for ex, ey in EYES:
        b = math.exp(-(x - ex + 0.12 * (x - CX)) ** 2 / 50.0 - (y - ey + 14) ** 2 / 12.0)
        col = mix(col, (224, 158, 86), 0.55 * b)
    return mix(col, WHITE_FUR, max(blaze, muzzle, lower))

def eye_area(x, y, col):
    """Dark eye patches (lids) around a glossy brown eye."""
    for ex, ey in EYES:
        dx, dy = x - ex, y - ey
        r = math.hypot(dx * (0.85 if dx * (ex - CX) > 0 else 1.0), dy * 1.05)
        if r < 12:
            col = mix(col, PATCH, 1 - smooth(8.6, 11.0, r))
            if r < 7.2:
                col = mix((92, 54, 30), (30, 18, 12), smooth(2, 7, r))
                col = (236, 236, 236) if math.hypot(dx + 2.5, dy + 2.5) < 1.8 else col
    return col

def nose_d(x, y):
    rx = 11.0 * (1 - 0.32 * clamp((y - 100) / 6.5, 0, 1))
    return ell(x, y, CX, 100, rx, 7.0 if y < 100 else 6.5)

def muzzle_detail(x, y, col):
    """Nose, tongue, mouth line, whisker dots. Returns (colour, kind)."""
    dn = nose_d(x, y)
    if dn < 1.12:
        c = mix((84, 72, 74), NOSE, smooth(94, 104, y))
        if any(ell(x, y, CX + sx * 5, 102.5, 2.4, 1.6, sx * 0.5) < 1 for sx in (-1, 1)):
            c = (14, 10, 10)                                        # nostrils
        c = mix(c, (236, 234, 240), 0.9 * math.exp(-((x - 53) ** 2 / 6.0 + (y - 96.5) ** 2 / 1.4)))
        c = mix(c, (150, 146, 152), 0.6 * math.exp(-((x - 61.5) ** 2 + (y - 96.5) ** 2) / 1.2))
        return mix(col, c, smooth(1.12, 0.92, dn)), "nose"
    if ell(x, y, CX, 126, 8.0, 12) < 1 and y > 116:
        c = mix(TONGUE, (170, 60, 76), smooth(0, 1.3, 1.3 - abs(x - CX)) * 0.7)
        return mix(c, (170, 64, 78), smooth(0.6, 1.0, ell(x, y, CX, 126, 8.0, 12))), "tongue"
    mouth = 9.0                      # distance to the two lip arcs and the philtrum
    if y > 113:
        mouth = min(abs(math.hypot(x - CX - sx * 9.5, y - 113) - 9.5) for sx in (-1, 1))
    if abs(x - CX) < 1.2 and 105 < y < 114:
        mouth = min(mouth, abs(x - CX) * 0.8)
    if mouth < 1.6:
        return mix(col, (66, 38, 34), 1 - smooth(0.5, 1.6, mouth)), "fur" if mouth > 1 else "line"
    for wx, wy in ((44, 106), (40, 111), (46, 113), (70, 106), (74, 111), (68, 113)):
        if (x - wx) ** 2 + (y - wy) ** 2 < 1.1:
            col = mix(col, (120, 92, 80), 0.6)
    return col, "fur"

def ear_colour(x, y, nz):
    """Brown ears, darker hem and tips, soft waves and a crease near the face."""
    d = ear_d(x, y)
    e = min(EARS, key=lambda e: ear_one(x, y, *e))
    u, v = ear_local(x, y, *e)
    u *= -1 if e[0] < CX else 1
    wave = 0.10 * math.sin(u * 5.5 + v * 2.0) - 0.18 * math.exp(-(u - 0.35) ** 2 / 0.02)
    col = mix(EAR_BROWN, (84, 46, 22), smooth(0.5, 1.0, d) * 0.75 + smooth(105, 150, y) * 0.35)
    col = mix(col, (188, 116, 54), 0.4 * nz.fbm(x * 0.1, y * 0.05) * (1 - smooth(0.6, 1, d)))
    return tuple(c * (1 + wave * (1 - smooth(0.5, 1.0, -v))) for c in col)

def chest_colour(x, y, nz):
    col = mix(WHITE_FUR, (214, 190, 160), 0.5 * nz.fbm(x * 0.15, y * 0.15))
    side = smooth(22, 30, abs(x - CX) + (nz.fbm(x * 0.2, y * 0.2) - 0.5) * 8)
    return mix(col, DARK_TAN, side * 0.8)

# ---- fur texture -------------------------------------------------------------
def fur_angle(x, y, layer):
    if layer == 0:
        return math.atan2(y - 100, x - CX + 0.01)        # away from the nose
    return math.pi / 2 + (0.25 if x < CX else -0.25) * (layer == 2)

def fur_strokes(mask, layers, rng, k=1):
    """Short light/dark hair strokes along the fur direction.  At scale k the
    strokes are drawn k times finer, and k times as many of them."""
    H, W = len(mask), len(mask[0])
    fur = [[0.0] * W for _ in range(H)]
    for _ in range(int(46000 * k)):
        x0, y0 = rng.uniform(0, W), rng.uniform(0, H)
        if not mask[int(y0)][int(x0)]:
            continue
        lay = layers[int(y0)][int(x0)]
        a = fur_angle(x0 / k, y0 / k, lay) + rng.gauss(0, 0.3)
        ln, dv = rng.uniform(2.0, 5.5) * k, rng.choice((-1, 1)) * rng.uniform(0.025, 0.08)
        done = set()
        for s in range(int(ln * 2) + 1):
            px, py = int(x0 + math.cos(a) * s / 2), int(y0 + math.sin(a) * s / 2)
            if 0 <= px < W and 0 <= py < H and (px, py) not in done \
                    and mask[py][px] and layers[py][px] == lay:
                done.add((px, py))
                fur[py][px] += dv * (1 - 0.4 * s / (ln * 2 + 1))
    return fur

# ---- rasterising -------------------------------------------------------------
def flood(grid, seeds, value):
    """4-connected flood fill over cells equal to value; returns the set reached."""
    h, w = len(grid), len(grid[0])
    seen, stack = set(), list(seeds)
    while stack:
        x, y = stack.pop()
        if (x, y) in seen or not (0 <= x < w and 0 <= y < h) or grid[y][x] != value:
            continue
        seen.add((x, y))
        stack += [(x + 1, y), (x - 1, y), (x, y + 1), (x, y - 1)]
    return seen

def face_mask(s=1):
    """4x4 supersampled silhouette, cleaned into one smooth blob without holes.
    The last row stays empty: the window never shows it.  At scale s the mask
    has s times as many pixels each way, sampled from the same shapes."""
    W, H = scaled_size(s)
    shown = math.ceil((H_SHOWN * s) - 0.5)  # pixel centres above the hidden last row
    m = [[0] * W for _ in range(H)]
    for y in range(shown):
        for x in range(W):
            hits = sum(head_d(sx, sy) < 1 or chest_d(sx, sy) < 1 or ear_d(sx, sy) < 1
                       for sx in ((x + .125) / s, (x + .375) / s, (x + .625) / s, (x + .875) / s)
                       for sy in ((y + .125) / s, (y + .375) / s, (y + .625) / s, (y + .875) / s))
            m[y][x] = 1 if hits >= 8 else 0
    for _ in range(3):                      # drop spurs, fill notches
        for y in range(1, H - 1):
            for x in range(1, W - 1):
                n = m[y - 1][x] + m[y + 1][x] + m[y][x - 1] + m[y][x + 1]
                m[y][x] = 0 if n <= 1 else 1 if n >= 3 else m[y][x]
    outside = flood(m, [(0, 0), (W - 1, 0), (0, H - 1), (W - 1, H - 1)], 0)
    return [[0 if (x, y) in outside else 1 for x in range(W)] for y in range(H)]

def distance(inside, W=W, H=H):
    """Chamfer distance from each inside pixel to the nearest outside one."""
    d = [[99.0 if inside(x, y) else 0.0 for x in range(W)] for y in range(H)]
    back = (range(H - 1, -1, -1), range(W - 1, -1, -1), ((1, 0), (0, 1), (1, 1), (-1, 1)))
    for ys, xs, offs in ((range(H), range(W), ((-1, 0), (0, -1), (-1, -1), (1, -1))), back):
        for y in ys:
            for x in xs:
                for ox, oy in offs:
                    if 0 <= x + ox < W and 0 <= y + oy < H:
                        d[y][x] = min(d[y][x], d[y + oy][x + ox] + (1.41 if ox and oy else 1.0))
    return d

def render(s=1):
    """The picture at scale s (1 for picture.bmp): each pixel is shaded at its
    centre in the drawing's own coordinates, distances are measured in them."""
    W, H = scaled_size(s)
    rng, nz = random.Random(20240611), Noise(random.Random(7))
    mask = face_mask(s)
    layers = [[layer_of((x + .5) / s, (y + .5) / s) if mask[y][x] else -1 for x in range(W)]
              for y in range(H)]
    edge = distance(lambda x, y: mask[y][x], W, H)
    head_edge = distance(lambda x, y: layers[y][x] == 0, W, H)
    head_near = distance(lambda x, y: layers[y][x] != 0, W, H)     # shadow cast by the head
    if s != 1:
        for grid in (edge, head_edge, head_near):
            for row in grid:
                row[:] = [d / s for d in row]
    fur = fur_strokes(mask, layers, rng, s)
    img = [[(0, 0, 0)] * W for _ in range(H)]
    for y, x in ((y, x) for y in range(H) for x in range(W) if mask[y][x]):
        px, py, lay = (x + .5) / s, (y + .5) / s, layers[y][x]
        shade, n = shade_at((head_height, chest_height, ear_height)[lay], px, py)
        shine, kind = 0.0, "fur"
        shade *= 1 - 0.4 * smooth(0.98, 1.04, (head_d, chest_d, ear_d)[lay](px, py))  # rim
        if lay == 0:
            col, kind = muzzle_detail(px, py, eye_area(px, py, head_colour(px, py, nz)))
            shade *= 0.72 + 0.28 * smooth(0, 3.5, head_edge[y][x])
            if kind == "tongue":                             # wet shine
                h = (LIGHT[0], LIGHT[1], LIGHT[2] + 1.0)
                hn = math.sqrt(sum(c * c for c in h)) * math.sqrt(sum(c * c for c in n))
                shine = max(0.0, sum(a * b for a, b in zip(h, n)) / hn) ** 30 * 90
            elif kind == "nose":
                shade = 0.6 + 0.4 * shade
        else:
            col = chest_colour(px, py, nz) if lay == 1 else ear_colour(px, py, nz)
            shade *= (0.55 + 0.45 * smooth(0, 7, head_near[y][x])) \
                * (0.72 + 0.28 * smooth(0, 3.5, edge[y][x]))
        if kind == "fur":
            k = 0.6 if min(col) > 180 else 1.0
            shade *= 1 + k * (clamp(fur[y][x], -0.22, 0.22) + rng.uniform(-0.03, 0.03))
        # never pure black (the transparency key) nor pure white inside the face
        img[y][x] = tuple(int(round(clamp(c * shade + shine, 8, 250))) for c in col)
    return img

# ---- the program's icon: the dog at each of Windows' icon sizes ----------------
# Title bars and the Start menu take 16 to 64 px by the display's scale, Explorer and the Apps
# list up to 256; Windows picks the next larger size and shrinks it.  Each size is drawn as the
# menu icons are (menu_icon below), stored as a 32-bit DIB with alpha and an AND mask, and the
# 256 px one as PNG, as Windows Vista and later store it.
ICON_SIZES = (16, 20, 24, 32, 40, 48, 64, 256)

def ico_image(rows):
    """One icon image: PNG at 256 px, else BITMAPINFOHEADER (height doubled for the mask),
    BGRA rows bottom-up, then the AND mask (1 = transparent), rows padded to 32 bits."""
    size = len(rows)
    if size == 256:
        return png_bytes(rows)
    bottom_up = range(size - 1, -1, -1)
    xor = b"".join(bytes(v for r, g, b, a in rows[y] for v in (b, g, r, a)) for y in bottom_up)
    stride = (size + 31) // 32 * 4
    mask = b"".join(sum((rows[y][x][3] == 0) << (8 * stride - 1 - x) for x in range(size))
                    .to_bytes(stride, "big") for y in bottom_up)
    info = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, len(xor) + len(mask),
                       0, 0, 0, 0)
    return info + xor + mask

def write_icon(icons):
    """icon.ico with every size in ICON_SIZES, and icon32.rgba: the 32 px image as raw
    pixels for X11's window icon."""
    images = [ico_image(icons[size]) for size in ICON_SIZES]
    offset = 6 + 16 * len(images)
    directory = b""
    for size, image in zip(ICON_SIZES, images):
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image),
                                 offset)
        offset += len(image)
    with open(os.path.join(RES, "icon.ico"), "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, len(images)) + directory + b"".join(images))
    with open(os.path.join(RES, "icon32.rgba"), "wb") as f:     # B, G, R, A; top row first
        f.write(b"".join(bytes((b, g, r, a)) for row in icons[32] for r, g, b, a in row))

def verify_icon():
    """Every size once, in order; each image of its size with transparent corners and a mostly
    opaque face; icon32.rgba the same pixels as the 32 px image.  Returns its opaque count."""
    ico = open(os.path.join(RES, "icon.ico"), "rb").read()
    assert struct.unpack_from("<HHH", ico) == (0, 1, len(ICON_SIZES)), "icon.ico header"
    for i, size in enumerate(ICON_SIZES):
        w, h, _, _, planes, bits, length, at = struct.unpack_from("<BBBBHHII", ico, 6 + 16 * i)
        assert (w, h, planes, bits) == (size % 256,) * 2 + (1, 32) and at + length <= len(ico)
        image = ico[at:at + length]
        if size == 256:
            assert image[:8] == b"\x89PNG\r\n\x1a\n" and \
                struct.unpack_from(">IIBB", image, 16) == (256, 256, 8, 6), "256 px PNG"
            raw = zlib.decompress(image[image.index(b"IDAT") + 4:image.index(b"IEND") - 8])
            alpha = [raw[1 + y * 1025 + 4 * x + 3] for y in range(256) for x in range(256)]
        else:
            stride = (size + 31) // 32 * 4
            assert struct.unpack_from("<IiiHH", image) == (40, size, 2 * size, 1, 32) and \
                length == 40 + 4 * size * size + stride * size, "%d px image" % size
            # top row first, like the PNG
            alpha = [image[40 + 4 * ((size - 1 - y) * size + x) + 3]
                     for y in range(size) for x in range(size)]
            if size == 32:
                rgba = open(os.path.join(RES, "icon32.rgba"), "rb").read()
                assert rgba == b"".join(image[40 + 128 * (31 - y):40 + 128 * (32 - y)]
                                        for y in range(32)), "icon32.rgba is not the 32 px icon"
        corners = (alpha[0], alpha[size - 1], alpha[-size], alpha[-1])
        assert corners == (0, 0, 0, 0) and sum(a == 255 for a in alpha) > size * size // 2, \
            "%d px icon" % size
    return sum(a == 255 for a in rgba[3::4])

def write_bmp(img):
    rows = b"".join(bytes(v for r, g, b in img[y] for v in (b, g, r)) for y in range(H - 1, -1, -1))
    head = struct.pack("<2sIHHI", b"BM", 54 + len(rows), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    with open(os.path.join(RES, "picture.bmp"), "wb") as f:
        f.write(head + info + rows)

# ---- checks ------------------------------------------------------------------
def verify():
    data = open(os.path.join(RES, "picture.bmp"), "rb").read()
    assert struct.unpack_from("<2sIHHIIiiHHI", data) == \
        (b"BM", 54 + 396 * H, 0, 0, 54, 40, W, H, 1, 24, 0) == \
        (b"BM", len(data), 0, 0, 54, 40, W, H, 1, 24, 0), "BMP header"
    px = [[tuple(data[54 + (H - 1 - y) * 396 + x * 3 + k] for k in (2, 1, 0))
           for x in range(W)] for y in range(H)]
    black = [[int(p == (0, 0, 0)) for p in row] for row in px]
    assert black[0][0] and all(black[H - 1]), "top-left / hidden last row must be black"
    n_black = sum(map(sum, black))
    corners = [(0, 0), (W - 1, 0), (0, H - 1), (W - 1, H - 1)]
    assert len(flood(black, corners, 1)) == n_black, "pure black inside the face"
    face = [[1 - b for b in row] for row in black]
    start = next((x, y) for y in range(H) for x in range(W) if face[y][x])
    assert len(flood(face, [start], 1)) == W * H - n_black, "face is not one blob"
    assert all(p != (255, 255, 255) for row in px for p in row), "pure white pixel"
    for ex, ey in EYES:
        assert all(face[y][x] for y in range(ey - 8, ey + 9) for x in range(ex - 8, ex + 9)
                   if (x - ex) ** 2 + (y - ey) ** 2 <= 64), "eye off the face"
    opaque = verify_icon()
    print("picture.bmp %dx%d: %d face pixels (%.1f%%), %d black surround (%.1f%%)"
          % (W, H, W * H - n_black, 100.0 - 100.0 * n_black / (W * H), n_black,
             100.0 * n_black / (W * H)))
    print("icon.ico %s px; icon32.rgba: %d opaque pixels"
          % (", ".join(map(str, ICON_SIZES)), opaque))

# ---- the picture at the desktop's scales (X11) ----------------------------------
# The X11 build reads the desktop's scale in quarters from 1x to 3x and shows the
# picture drawn at that scale; each file is named after its scale in percent.
SCALES = (1.25, 1.5, 1.75, 2.0, 2.25, 2.5, 2.75, 3.0)
SCALED = os.path.join(RES, "scaled")

def scaled_path(s):
    return os.path.join(SCALED, "picture-%d.bmp" % round(s * 100))

def write_scaled_bmp(img, path):
    """24-bit bottom-up BMP of any width (rows padded to 4 bytes)."""
    w, h = len(img[0]), len(img)
    pad = b"\0" * (-3 * w % 4)
    rows = b"".join(bytes(v for r, g, b in img[y] for v in (b, g, r)) + pad
                    for y in range(h - 1, -1, -1))
    head = struct.pack("<2sIHHI", b"BM", 54 + len(rows), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(head + info + rows)

def read_bmp(path):
    data = open(path, "rb").read()
    w, h = struct.unpack_from("<ii", data, 18)
    stride = (3 * w + 3) // 4 * 4
    assert struct.unpack_from("<2sI", data) == (b"BM", len(data)) and \
        len(data) == 54 + stride * h and struct.unpack_from("<HI", data, 28) == (24, 0), path
    return [[tuple(data[54 + (h - 1 - y) * stride + x * 3 + k] for k in (2, 1, 0))
             for x in range(w)] for y in range(h)]

def verify_scaled(s, base):
    """The scaled picture keeps picture.bmp's properties, and its surround is the
    same as picture.bmp's wherever that is more than a pixel (of picture.bmp)
    from the edge of the face: the program shapes its window from the scaled
    surround only within that pixel of the 96-dpi outline."""
    px = read_bmp(scaled_path(s))
    w, h = scaled_size(s)
    assert (len(px[0]), len(px)) == (w, h), "size at %g" % s
    black = [[int(p == (0, 0, 0)) for p in row] for row in px]
    n_black = sum(map(sum, black))
    assert len(flood(black, [(0, 0), (w - 1, 0), (0, h - 1), (w - 1, h - 1)], 1)) == n_black, \
        "pure black inside the face at %g" % s
    face = [[1 - b for b in row] for row in black]
    start = next((x, y) for y in range(h) for x in range(w) if face[y][x])
    assert len(flood(face, [start], 1)) == w * h - n_black, "face is not one blob at %g" % s
    assert all(p != (255, 255, 255) for row in px for p in row), "pure white pixel at %g" % s
    for ex, ey in EYES:
        cx, cy, r = (ex + .5) * s - .5, (ey + .5) * s - .5, 8 * s
        assert all(face[y][x] for y in range(h) for x in range(w)
                   if (x - cx) ** 2 + (y - cy) ** 2 <= r * r), "eye off the face at %g" % s
    def base_face(x, y):
        return 0 <= x < W and 0 <= y < H_SHOWN and base[y][x] != (0, 0, 0)
    for y in range(h):
        for x in range(w):
            bx, by = int(x // s), int(y // s)
            near = {base_face(bx + i, by + j) for i in (-1, 0, 1) for j in (-1, 0, 1)}
            assert len(near) == 2 or face[y][x] == near.pop(), \
                "at %g, pixel (%d, %d) differs from picture.bmp's outline" % (s, x, y)
    print("scaled/picture-%d.bmp %dx%d: %d face pixels (%.2f x picture.bmp's shown ones)"
          % (round(s * 100), w, h, w * h - n_black,
             (w * h - n_black) / sum(base_face(x, y) for y in range(H) for x in range(W))))

def make_scaled_pictures():
    os.makedirs(SCALED, exist_ok=True)
    base = read_bmp(os.path.join(RES, "picture.bmp"))
    for s in SCALES:
        write_scaled_bmp(render(s), scaled_path(s))
        verify_scaled(s, base)

# ---- menu icons: the dog's face drawn anew at each size ---------------------
# The desktop's menus and software centres want the program's icon at several sizes.  Each one
# is drawn from the picture's own shapes, colours and light, sampled over the face at that size
# (several samples per icon pixel, so edges get soft alpha), rather than one bitmap scaled: the
# fur strokes and the pixel-grid edge distances of render() become smooth stand-ins here.
MENU_ICONS = os.path.normpath(os.path.join(RES, "..", "..", "..", "packaging", "icons"))
MENU_ICON_SIZES = (16, 32, 48, 64, 128, 256)
MENU_ICON_FRAME = (64.0, 83.5, 152.0)   # centre x, centre y and side of the square, picture px

def menu_icon_colour(x, y, nz):
    """The dog's colour at picture point (x, y), or None outside the face."""
    ds = (head_d(x, y), chest_d(x, y), ear_d(x, y))
    if min(ds) >= 1.0:
        return None
    lay = layer_of(x, y)
    shade, n = shade_at((head_height, chest_height, ear_height)[lay], x, y)
    shine = 0.0
    shade *= 1 - 0.4 * smooth(0.98, 1.04, ds[lay])                           # rim
    if lay == 0:
        col, kind = muzzle_detail(x, y, eye_area(x, y, head_colour(x, y, nz)))
        shade *= 0.72 + 0.28 * smooth(0, 3.5, (1 - ds[0]) * 40)
        if kind == "tongue":
            h = (LIGHT[0], LIGHT[1], LIGHT[2] + 1.0)
            hn = math.sqrt(sum(c * c for c in h)) * math.sqrt(sum(c * c for c in n))
            shine = max(0.0, sum(a * b for a, b in zip(h, n)) / hn) ** 30 * 90
        elif kind == "nose":
            shade = 0.6 + 0.4 * shade
        elif kind == "fur":
            shade *= 1 + 0.6 * (nz.fbm(x * 0.9, y * 0.9, 2) - 0.5) * (0.6 if min(col) > 180 else 1)
    else:
        col = chest_colour(x, y, nz) if lay == 1 else ear_colour(x, y, nz)
        shade *= (0.55 + 0.45 * smooth(0, 7, (ds[0] - 1) * 40)) \
            * (0.72 + 0.28 * smooth(0, 3.5, (1 - min(ds)) * 40))
    return tuple(clamp(c * shade + shine, 8, 250) for c in col)

def menu_icon(size):
    """size x size RGBA rows: the mean colour of the samples on the face, and their share as
    alpha."""
    nz = Noise(random.Random(7))
    cx, cy, side = MENU_ICON_FRAME
    step = side / size
    n = max(2, min(6, math.ceil(2 * step)))        # samples per pixel along each axis
    rows = []
    for j in range(size):
        row = []
        for i in range(size):
            inside = [c for c in (menu_icon_colour(cx - side / 2 + (i + (a + .5) / n) * step,
                                                   cy - side / 2 + (j + (b + .5) / n) * step, nz)
                                  for b in range(n) for a in range(n)) if c is not None]
            if not inside:
                row.append((0, 0, 0, 0))
                continue
            mean = [sum(c[k] for c in inside) / len(inside) for k in range(3)]
            row.append(tuple(int(round(v)) for v in mean) + (int(round(255 * len(inside) / n / n)),))
        rows.append(row)
    return rows

def png_bytes(rows):
    """An 8-bit RGBA PNG of `rows` (lists of (r, g, b, a)), deterministic."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    raw = b"".join(b"\0" + bytes(v for p in row for v in p) for row in rows)
    head = struct.pack(">IIBBBBB", len(rows[0]), len(rows), 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", head) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))

def write_menu_icons(icons):
    os.makedirs(MENU_ICONS, exist_ok=True)
    for size in MENU_ICON_SIZES:
        with open(os.path.join(MENU_ICONS, "ozzlebeck-%d.png" % size), "wb") as f:
            f.write(png_bytes(icons[size]))

def verify_menu_icons():
    for size in MENU_ICON_SIZES:
        data = open(os.path.join(MENU_ICONS, "ozzlebeck-%d.png" % size), "rb").read()
        assert data[:8] == b"\x89PNG\r\n\x1a\n" and struct.unpack_from(">II", data, 16) == (size, size)
        raw = zlib.decompress(data[data.index(b"IDAT") + 4:data.index(b"IEND") - 8])
        alpha = [raw[1 + y * (4 * size + 1) + 4 * x + 3] for y in range(size) for x in range(size)]
        corners = (alpha[0], alpha[size - 1], alpha[-size], alpha[-1])
        opaque = sum(a == 255 for a in alpha)
        assert corners == (0, 0, 0, 0) and opaque > size * size // 2, "icon %d" % size
        print("menu icon %dx%d: %d opaque pixels (%.0f%%)"
              % (size, size, opaque, 100.0 * opaque / size / size))

def main():
    os.makedirs(RES, exist_ok=True)
    write_bmp(render())
    # the dog at every size the program's icon and the menus need, each drawn once
    icons = {size: menu_icon(size) for size in sorted(set(ICON_SIZES) | set(MENU_ICON_SIZES))}
    write_icon(icons)
    verify()
    if "--no-scaled" not in sys.argv[1:]:
        make_scaled_pictures()
    write_menu_icons(icons)
    verify_menu_icons()

if __name__ == "__main__":
    main()
