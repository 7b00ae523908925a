#!/usr/bin/python3
"""Draw Ozzlebeck's dog face (picture.bmp) and its two-eyes icon (icon.ico,
icon32.rgba) procedurally.  Deterministic: re-running gives identical bytes.

Usage: /usr/bin/python3 scripts/make_picture.py   (standard library only)
"""
import math
import os
import random
import struct

W, H = 132, 160
CX = 57                          # the face is centred on this column
EYES = ((32, 72), (82, 72))      # where the program paints the eyes
RES = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                   "..", "src", "watcher", "resources")
LIGHT = (-0.45, -0.65, 0.75)     # light from the upper left, in front

TAN, DARK_TAN = (196, 124, 58), (128, 74, 34)
WHITE_FUR, EAR_BROWN = (240, 234, 222), (136, 72, 30)
PATCH, NOSE, TONGUE = (62, 36, 24), (40, 32, 32), (226, 104, 116)


def clamp(v, lo, hi):
    return lo if v < lo else hi if v > hi else v


def smooth(e0, e1, v):
    t = clamp((v - e0) / (e1 - e0), 0.0, 1.0)
    return t * t * (3.0 - 2.0 * t)


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


class Noise:
    """Tileable value noise; fbm() returns roughly 0..1."""
    def __init__(self, rng, size=64):
        self.size, self.v = size, [rng.random() for _ in range(size * size)]

    def at(self, x, y):
        ix, iy = math.floor(x), math.floor(y)
        fx, fy = x - ix, y - iy
        fx, fy = fx * fx * (3 - 2 * fx), fy * fy * (3 - 2 * fy)
        s, v = self.size, self.v
        a, b = v[(iy % s) * s + ix % s], v[(iy % s) * s + (ix + 1) % s]
        c, d = v[((iy + 1) % s) * s + ix % s], v[((iy + 1) % s) * s + (ix + 1) % s]
        return a + (b - a) * fx + (c - a) * fy + (a - b - c + d) * fx * fy

    def fbm(self, x, y, octaves=3):
        total, amp, norm = 0.0, 1.0, 0.0
        for _ in range(octaves):
            total, norm = total + amp * self.at(x, y), norm + amp
            amp, x, y = amp * 0.5, x * 2.03 + 17.0, y * 2.03 + 5.0
        return total / norm


def ell(x, y, cx, cy, rx, ry, ang=0.0):
    """Normalised distance from an (optionally rotated) ellipse centre."""
    dx, dy = x - cx, y - cy
    if ang:
        c, s = math.cos(ang), math.sin(ang)
        dx, dy = c * dx + s * dy, -s * dx + c * dy
    return math.hypot(dx / rx, dy / ry)


def dome(d, h, p=0.5):
    return h * max(0.0, 1.0 - d * d) ** p


def smax(a, b, k=6.0):
    t = clamp(0.5 + 0.5 * (b - a) / k, 0.0, 1.0)
    return a * (1 - t) + b * t + k * t * (1 - t)


# ---- shapes -------------------------------------------------------------
HEAD = ((57, 59, 45, 50), (34, 96, 25, 23), (80, 96, 25, 23),
        (57, 112, 29, 24), (57, 132, 21, 15))
EARS = ((21, 95, 19, 61, 0.15), (101, 95, 22, 61, -0.27))
CHEST = (57, 143, 51, 15)


def head_d(x, y):
    return min(ell(x, y, *e) for e in HEAD)


def ear_one(x, y, cx, cy, rx, ry, ang):
    """A hanging ear: narrow where it joins the head, broad and round below."""
    c, s = math.cos(ang), math.sin(ang)
    dx, dy = c * (x - cx) + s * (y - cy), -s * (x - cx) + c * (y - cy)
    return math.hypot(dx / (rx * (0.62 + 0.38 * clamp(dy / ry + 0.7, 0, 1))), dy / ry)


def ear_d(x, y):
    return min(ear_one(x, y, *e) for e in EARS)


def chest_d(x, y):
    return ell(x, y, *CHEST)


def layer_of(x, y):
    """0 = head (in front), 1 = chest, 2 = ears (behind), by pixel centre."""
    ds = (head_d(x, y), chest_d(x, y), ear_d(x, y))
    for i, d in enumerate(ds):
        if d < 1.0:
            return i
    return ds.index(min(ds))


# ---- height fields for shading ------------------------------------------
def head_height(x, y):
    h = dome(ell(x, y, *HEAD[0]), 30)
    for e, hh in zip(HEAD[1:], (26, 26, 40, 30)):
        h = smax(h, dome(ell(x, y, *e), hh))
    for ex, ey in EYES:
        h -= 7 * math.exp(-((x - ex) ** 2 + (y - ey) ** 2) / 60.0)      # socket
        h += 5 * math.exp(-(x - ex) ** 2 / 110.0 - (y - ey + 13) ** 2 / 22.0)  # brow
    h += 6 * math.exp(-(x - CX) ** 2 / 110.0 - (y - 101) ** 2 / 40.0)   # nose
    h -= 4 * math.exp(-(x - CX) ** 2 / 20.0) * smooth(44, 58, y) * (1 - smooth(78, 90, y))
    return h


def ear_height(x, y):
    return max(dome(ear_one(x, y, *e), 14, 0.7) for e in EARS)


def chest_height(x, y):
    return dome(chest_d(x, y), 16)


def shade_at(fn, x, y):
    gx = (fn(x + 0.7, y) - fn(x - 0.7, y)) / 1.4
    gy = (fn(x, y + 0.7) - fn(x, y - 0.7)) / 1.4
    n = (-gx, -gy, 1.0)
    ln = math.sqrt(sum(c * c for c in n)) * math.sqrt(sum(c * c for c in LIGHT))
    diff = max(0.0, sum(a * b for a, b in zip(n, LIGHT)) / ln)
    return 0.5 + 0.75 * diff, n


# ---- colours per feature -------------------------------------------------
def head_colour(x, y, nz):
    """Tan head with a white blaze and muzzle, darker crown."""
    wob = (nz.fbm(x * 0.18, y * 0.18) - 0.5) * 7
    col = mix(TAN, DARK_TAN, smooth(50, 18, y) * 0.8 + 0.25 * smooth(30, 45, abs(x - CX)))
    hw = 1.5 + 0.0026 * max(0.0, y - 26) ** 2
    blaze = (1 - smooth(hw - 1.5, hw + 1.5, abs(x - CX) + wob * 0.5)) * smooth(28, 40, y)
    muzzle = 1 - smooth(0.88, 1.02, ell(x, y, 57, 112, 27, 23) + wob * 0.03)
    muzzle *= smooth(84, 92, y + wob)
    lower = 1 - smooth(0.85, 1.0, ell(x, y, CX, 128, 20, 18) + wob * 0.03)
    for ex, ey in EYES:                      # lighter tan brows
        b = math.exp(-(x - ex + 0.12 * (x - CX)) ** 2 / 50.0 - (y - ey + 14) ** 2 / 12.0)
        col = mix(col, (224, 158, 86), 0.55 * b)
    return mix(col, WHITE_FUR, max(blaze, muzzle, lower))


def eye_area(x, y, col):
    """Dark eye patches (lids) with a glossy brown eye inside."""
    for ex, ey in EYES:
        dx, dy = x - ex, y - ey
        r = math.hypot(dx * (0.85 if dx * (ex - CX) > 0 else 1.0), dy * 1.05)
        if r < 12:
            col = mix(col, PATCH, 1 - smooth(8.6, 11.0, r))
            if r < 7.2:
                col = mix((92, 54, 30), (30, 18, 12), smooth(2, 7, r))
                if math.hypot(dx + 2.5, dy + 2.5) < 1.8:
                    col = (236, 236, 236)
    return col


def nose_d(x, y):
    ry = 7.0 if y < 100 else 6.5
    rx = 11.0 * (1 - 0.32 * clamp((y - 100) / 6.5, 0, 1))
    return ell(x, y, CX, 100, rx, ry)


def muzzle_detail(x, y, col, spec):
    """Nose, mouth line, tongue, whisker dots. Returns (colour, is_fur, spec)."""
    dn = nose_d(x, y)
    if dn < 1.12:
        t = smooth(1.12, 0.92, dn)
        c = NOSE
        for sx in (-1, 1):
            if ell(x, y, CX + sx * 5, 102.5, 2.4, 1.6, sx * 0.5) < 1:
                c = (14, 10, 10)
        c = mix(c, (96, 86, 90), 0.6 * math.exp(-((x - 53) ** 2 + (y - 96) ** 2) / 6.0))
        return mix(col, c, t), t < 0.5, spec * 3
    mouth = 9.0
    for sx in (-1, 1):                                  # two lip arcs under the nose
        cx0 = CX + sx * 9.5
        if y > 113:
            mouth = min(mouth, abs(math.hypot(x - cx0, y - 113) - 9.5))
    if abs(x - CX) < 1.2 and 105 < y < 114:
        mouth = min(mouth, abs(x - CX) * 0.8)
    tongue = ell(x, y, CX, 127, 8.5, 12) < 1 and y > 115 and \
        all(math.hypot(x - CX - s * 9.5, y - 113) > 10.2 for s in (-1, 1)) is False
    if ell(x, y, CX, 126, 8.0, 12) < 1 and y > 116:
        c = mix(TONGUE, (170, 60, 76), smooth(0, 1.3, 1.3 - abs(x - CX)) * 0.7)
        c = mix(c, (170, 64, 78), smooth(0.6, 1.0, ell(x, y, CX, 126, 8.0, 12)))
        return c, False, spec * 2
    if mouth < 1.6:
        return mix(col, (66, 38, 34), 1 - smooth(0.5, 1.6, mouth)), mouth > 1.0, spec
    for wx, wy in ((44, 106), (40, 111), (46, 113), (70, 106), (74, 111), (68, 113)):
        if (x - wx) ** 2 + (y - wy) ** 2 < 1.1:
            col = mix(col, (120, 92, 80), 0.6)
    del tongue
    return col, True, spec


def ear_colour(x, y, nz):
    d = ear_d(x, y)
    col = mix(EAR_BROWN, (84, 46, 22), smooth(0.5, 1.0, d) * 0.75 + smooth(105, 150, y) * 0.35)
    return mix(col, (188, 116, 54), 0.4 * nz.fbm(x * 0.1, y * 0.05) * (1 - smooth(0.6, 1, d)))


def chest_colour(x, y, nz):
    col = mix(WHITE_FUR, (214, 190, 160), 0.5 * nz.fbm(x * 0.15, y * 0.15))
    side = smooth(22, 30, abs(x - CX) + (nz.fbm(x * 0.2, y * 0.2) - 0.5) * 8)
    return mix(col, DARK_TAN, side * 0.8)


def fur_angle(x, y, layer):
    if layer == 0:
        return math.atan2(y - 100, x - CX + 0.01)
    return math.pi / 2 + (0.25 if x < CX else -0.25) * (layer == 2)


# ---- rasterising ---------------------------------------------------------
def face_mask():
    """4x4 supersampled silhouette, then cleaned: one blob, no holes."""
    m = [[0] * W for _ in range(H)]
    for y in range(H - 1):
        for x in range(W):
            hits = sum(1 for i in range(4) for j in range(4)
                       if min(head_d(x + (i + .5) / 4, y + (j + .5) / 4),
                              ear_d(x + (i + .5) / 4, y + (j + .5) / 4),
                              chest_d(x + (i + .5) / 4, y + (j + .5) / 4)) < 1.0)
            m[y][x] = 1 if hits >= 8 else 0
    for _ in range(3):                      # drop spurs, fill notches
        for y in range(1, H - 1):
            for x in range(1, W - 1):
                n = m[y - 1][x] + m[y + 1][x] + m[y][x - 1] + m[y][x + 1]
                m[y][x] = 0 if n <= 1 else 1 if n >= 3 else m[y][x]
    outside = flood(m, [(0, 0), (W - 1, 0), (0, H - 1), (W - 1, H - 1)], 0)
    return [[0 if (x, y) in outside else 1 for x in range(W)] for y in range(H)]


def flood(grid, seeds, value):
    seen, stack = set(), [s for s in seeds if grid[s[1]][s[0]] == value]
    while stack:
        x, y = stack.pop()
        if (x, y) in seen:
            continue
        seen.add((x, y))
        for nx, ny in ((x + 1, y), (x - 1, y), (x, y + 1), (x, y - 1)):
            if 0 <= nx < W and 0 <= ny < H and grid[ny][nx] == value and (nx, ny) not in seen:
                stack.append((nx, ny))
    return seen


def distance(inside):
    """Chamfer distance from each True pixel to the nearest False pixel."""
    big = 99.0
    d = [[big if inside(x, y) else 0.0 for x in range(W)] for y in range(H)]
    for rng_y, rng_x, offs in ((range(H), range(W), ((-1, 0), (0, -1), (-1, -1), (1, -1))),
                               (range(H - 1, -1, -1), range(W - 1, -1, -1),
                                ((1, 0), (0, 1), (1, 1), (-1, 1)))):
        for y in rng_y:
            for x in rng_x:
                for ox, oy in offs:
                    nx, ny = x + ox, y + oy
                    if 0 <= nx < W and 0 <= ny < H:
                        d[y][x] = min(d[y][x], d[ny][nx] + (1.41 if ox and oy else 1.0))
    return d


def fur_strokes(mask, layers, rng):
    """Short light/dark hair strokes along the fur direction."""
    fur = [[0.0] * W for _ in range(H)]
    for _ in range(46000):
        x0, y0 = rng.uniform(0, W), rng.uniform(0, H)
        if not mask[int(y0)][int(x0)]:
            continue
        lay = layers[int(y0)][int(x0)]
        a = fur_angle(x0, y0, lay) + rng.gauss(0, 0.3)
        ln, dv = rng.uniform(2.0, 5.5), rng.choice((-1, 1)) * rng.uniform(0.025, 0.08)
        done = set()
        for s in range(int(ln * 2) + 1):
            px, py = int(x0 + math.cos(a) * s / 2), int(y0 + math.sin(a) * s / 2)
            if 0 <= px < W and 0 <= py < H and (px, py) not in done \
                    and mask[py][px] and layers[py][px] == lay:
                done.add((px, py))
                fur[py][px] += dv * (1 - 0.4 * s / (ln * 2 + 1))
    return fur


def render():
    rng, nz = random.Random(20240611), Noise(random.Random(7))
    mask = face_mask()
    layers = [[layer_of(x + .5, y + .5) if mask[y][x] else -1 for x in range(W)] for y in range(H)]
    edge = distance(lambda x, y: mask[y][x])
    head_edge = distance(lambda x, y: layers[y][x] == 0)
    head_near = distance(lambda x, y: layers[y][x] != 0)
    fur = fur_strokes(mask, layers, rng)
    heights = (head_height, chest_height, ear_height)
    img = [[(0, 0, 0)] * W for _ in range(H)]
    for y in range(H):
        for x in range(W):
            if not mask[y][x]:
                continue
            px, py, lay = x + .5, y + .5, layers[y][x]
            shade, n = shade_at(heights[lay], px, py)
            spec, is_fur = 0.0, True
            if lay == 0:
                col = eye_area(px, py, head_colour(px, py, nz))
                col, is_fur, spec = muzzle_detail(px, py, col, 0.0)
                shade *= 0.72 + 0.28 * smooth(0, 3.5, head_edge[y][x])
                if nose_d(px, py) < 1.1 or not is_fur:
                    h = (LIGHT[0], LIGHT[1], LIGHT[2] + 1.0)
                    hn = math.sqrt(sum(c * c for c in h)) * math.sqrt(sum(c * c for c in n))
                    spec = max(0.0, sum(a * b for a, b in zip(h, n)) / hn) ** 30 * 120
            else:
                col = chest_colour(px, py, nz) if lay == 1 else ear_colour(px, py, nz)
                shade *= 0.55 + 0.45 * smooth(0, 7, head_near[y][x])
                shade *= 0.72 + 0.28 * smooth(0, 3.5, edge[y][x])
            if is_fur:
                k = 0.6 if min(col) > 180 else 1.0
                shade *= 1 + k * (clamp(fur[y][x], -0.22, 0.22) + rng.uniform(-0.03, 0.03))
            img[y][x] = tuple(int(round(clamp(c * shade + spec, 8, 250))) for c in col)
    return img, mask


# ---- icon ----------------------------------------------------------------
ICON_PAL = [(0, 0, 0), (70, 40, 20), (140, 86, 40), (248, 250, 255), (214, 224, 240),
            (170, 184, 206), (20, 20, 28), (255, 255, 255)] + [(0, 0, 0)] * 8


def icon_pixels():
    """32x32 palette indices (None = transparent): two eyes looking right-up."""
    px = [[None] * 32 for _ in range(32)]
    for y in range(32):
        for x in range(32):
            for ex in (9.0, 23.0):
                r = math.hypot(x + .5 - ex, y + .5 - 16)
                pr = math.hypot(x + .5 - ex - 2, y + .5 - 15)
                if r < 7.6:
                    c = 2 if r > 6.3 else 3 if x + .5 - ex + y - 16 < 2 else 4
                    c = 1 if r > 7.0 else 5 if r > 5.4 and c != 2 else c
                    px[y][x] = 6 if pr < 3.4 else c
                    if math.hypot(x + .5 - ex - 1, y + .5 - 13.8) < 1.1:
                        px[y][x] = 7
    return px


def write_icon(px):
    xor = b"".join(bytes(((px[y][x] or 0) << 4) | (px[y][x + 1] or 0) for x in range(0, 32, 2))
                   for y in range(31, -1, -1))
    mask = b"".join(int("".join("1" if px[y][x] is None else "0" for x in range(32)), 2)
                    .to_bytes(4, "big") for y in range(31, -1, -1))
    info = struct.pack("<IiiHHIIiiII", 40, 32, 64, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in ICON_PAL)
    body = info + pal + xor + mask
    head = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 32, 32, 16, 0, 1, 4, len(body), 22)
    with open(os.path.join(RES, "icon.ico"), "wb") as f:
        f.write(head + body)
    rgba = b"".join(struct.pack("<BBBB", 0, 0, 0, 0) if p is None else
                    struct.pack("<BBBB", ICON_PAL[p][2], ICON_PAL[p][1], ICON_PAL[p][0], 255)
                    for row in px for p in row)
    with open(os.path.join(RES, "icon32.rgba"), "wb") as f:
        f.write(rgba)


def write_bmp(img):
    rows = b"".join(bytes(v for r, g, b in img[y] for v in (b, g, r)) for y in range(H - 1, -1, -1))
    head = struct.pack("<2sIHHI", b"BM", 54 + len(rows), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    with open(os.path.join(RES, "picture.bmp"), "wb") as f:
        f.write(head + info + rows)


# ---- checks --------------------------------------------------------------
def verify():
    data = open(os.path.join(RES, "picture.bmp"), "rb").read()
    magic, size, _, _, off = struct.unpack_from("<2sIHHI", data)
    hs, w, h, planes, bpp, comp = struct.unpack_from("<IiiHHI", data, 14)
    assert (magic, size, off, hs, w, h, planes, bpp, comp) == \
        (b"BM", len(data), 54, 40, W, H, 1, 24, 0) and len(data) == 54 + 396 * H
    px = [[tuple(data[off + (H - 1 - y) * 396 + x * 3 + k] for k in (2, 1, 0))
           for x in range(W)] for y in range(H)]
    black = [[1 if p == (0, 0, 0) else 0 for p in row] for row in px]
    assert black[0][0] and all(black[H - 1]), "corner / cut-off last row must be black"
    n_black = sum(map(sum, black))
    outside = flood(black, [(0, 0), (W - 1, 0), (0, H - 1), (W - 1, H - 1)], 1)
    assert len(outside) == n_black, "pure black inside the face"
    face = [[1 - b for b in row] for row in black]
    start = next((x, y) for y in range(H) for x in range(W) if face[y][x])
    assert len(flood(face, [start], 1)) == W * H - n_black, "face is not one blob"
    assert all(p != (255, 255, 255) for row in px for p in row), "pure white pixel"
    for ex, ey in EYES:
        assert all(face[y][x] for y in range(ey - 8, ey + 9) for x in range(ex - 8, ex + 9)
                   if (x - ex) ** 2 + (y - ey) ** 2 <= 64), "eye off the face"
    ico = open(os.path.join(RES, "icon.ico"), "rb").read()
    assert len(ico) == 22 + 40 + 64 + 512 + 128 and ico[:6] == b"\0\0\1\0\1\0"
    assert len(open(os.path.join(RES, "icon32.rgba"), "rb").read()) == 32 * 32 * 4
    print("picture.bmp %dx%d: %d face pixels, %d black surround (%.1f%%)"
          % (W, H, W * H - n_black, n_black, 100.0 * n_black / (W * H)))


def main():
    os.makedirs(RES, exist_ok=True)
    img, _ = render()
    write_bmp(img)
    write_icon(icon_pixels())
    verify()


if __name__ == "__main__":
    main()
