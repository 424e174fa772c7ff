"""Writers for the picture formats of the resource script: 24-bit BMP,
multi-size 32-bit ICO, and uncompressed 8-bit AVI. Byte-for-byte
deterministic for the same pixels."""

import struct


def _row_padding(nbytes):
    return (4 - nbytes % 4) % 4


def bmp24(canvas):
    """A bottom-up 24-bit BMP file of the canvas (alpha dropped)."""
    w, h = canvas.width, canvas.height
    pad = _row_padding(w * 3)
    data = bytearray()
    for y in range(h - 1, -1, -1):
        for x in range(w):
            r, g, b, _ = canvas.rgba(x, y)
            data += bytes((b, g, r))
        data += b"\0" * pad
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(data), 0, 0, 14 + len(info))
    return header + info + bytes(data)


def _icon_image(canvas):
    w, h = canvas.width, canvas.height
    xor = bytearray()
    mask = bytearray()
    mask_pad = _row_padding((w + 7) // 8)
    for y in range(h - 1, -1, -1):
        bits = 0
        row = bytearray()
        for x in range(w):
            r, g, b, a = canvas.rgba(x, y)
            xor += bytes((b, g, r, a))
            bits = (bits << 1) | (1 if a < 128 else 0)
            if x % 8 == 7:
                row.append(bits)
                bits = 0
        if w % 8:
            row.append(bits << (8 - w % 8))
        mask += row + b"\0" * mask_pad
    info = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return info + bytes(xor) + bytes(mask)


def ico(canvases):
    """An ICO file holding one 32-bit image (with AND mask) per canvas."""
    return _ico_file(canvases, [_icon_image(c) for c in canvases], 0, 32)


# The 16 colours of VGA, in the order of the system palette's first entries.
VGA_COLOURS = ((0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
               (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
               (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255))


def _nearest_vga(rgb):
    return min(range(16), key=lambda i: sum((VGA_COLOURS[i][k] - rgb[k]) ** 2 for k in range(3)))


def _vga_icon_image(canvas):
    """A 4-bit image: each opaque pixel the nearest VGA colour; pixels less than
    half covered are transparent (mask bit set, colour black)."""
    w, h = canvas.width, canvas.height
    row_bytes = (w + 1) // 2
    xor_pad = _row_padding(row_bytes)
    mask_pad = _row_padding((w + 7) // 8)
    xor = bytearray()
    mask = bytearray()
    for y in range(h - 1, -1, -1):
        nibbles = []
        bits = 0
        row = bytearray()
        for x in range(w):
            r, g, b, a = canvas.rgba(x, y)
            transparent = a < 128
            nibbles.append(0 if transparent else _nearest_vga((r, g, b)))
            bits = (bits << 1) | (1 if transparent else 0)
            if x % 8 == 7:
                row.append(bits)
                bits = 0
        if w % 8:
            row.append(bits << (8 - w % 8))
        if len(nibbles) % 2:
            nibbles.append(0)
        xor += bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, len(nibbles), 2))
        xor += b"\0" * xor_pad
        mask += row + b"\0" * mask_pad
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in VGA_COLOURS)
    info = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    return info + palette + bytes(xor) + bytes(mask)


def _ico_file(canvases, images, colours, bpp):
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for c, image in zip(canvases, images):
        out += struct.pack("<BBBBHHII", c.width % 256, c.height % 256, colours, 0, 1, bpp,
                           len(image), offset)
        offset += len(image)
    for image in images:
        out += image
    return bytes(out)


def ico_vga(canvases):
    """An ICO file holding one 16-colour image (with AND mask) per canvas."""
    return _ico_file(canvases, [_vga_icon_image(c) for c in canvases], 16, 4)


def _chunk(fourcc, data):
    out = fourcc + struct.pack("<I", len(data)) + data
    if len(data) % 2:
        out += b"\0"
    return out


def _list(kind, data):
    return _chunk(b"LIST", kind + data)


def _palette():
    """216 colours of a 6-step cube, then 40 greys."""
    colours = []
    steps = (0, 51, 102, 153, 204, 255)
    for r in steps:
        for g in steps:
            for b in steps:
                colours.append((r, g, b))
    for i in range(40):
        v = int(round(i * 255 / 39.0))
        colours.append((v, v, v))
    return colours


def avi8(frames, microseconds_per_frame, exact_colours=()):
    """An uncompressed AVI of 8-bit palette frames ('00db' chunks, one index
    entry each). exact_colours replace the first greys of the palette so that
    they come out unchanged (the background, for a transparent control)."""
    w, h = frames[0].width, frames[0].height
    palette = _palette()
    for i, colour in enumerate(exact_colours):
        palette[216 + i] = tuple(colour)
    cache = {}

    def index_of(rgb):
        if rgb not in cache:
            cache[rgb] = min(range(len(palette)),
                             key=lambda i: (palette[i][0] - rgb[0]) ** 2 +
                             (palette[i][1] - rgb[1]) ** 2 + (palette[i][2] - rgb[2]) ** 2)
        return cache[rgb]

    stride = w + _row_padding(w)
    frame_size = stride * h
    frame_chunks = []
    for canvas in frames:
        data = bytearray()
        for y in range(h - 1, -1, -1):
            for x in range(w):
                data.append(index_of(canvas.rgba(x, y)[:3]))
            data += b"\0" * (stride - w)
        frame_chunks.append(_chunk(b"00db", bytes(data)))

    fps_scale, fps_rate = microseconds_per_frame, 1000000
    avih = struct.pack("<IIIIIIIIIIIIII", microseconds_per_frame,
                       frame_size * fps_rate // microseconds_per_frame, 0, 0x10, len(frames), 0, 1,
                       frame_size, w, h, 0, 0, 0, 0)
    strh = struct.pack("<4s4sIHHIIIIIIIIhhhh", b"vids", b"DIB ", 0, 0, 0, 0, fps_scale, fps_rate,
                       0, len(frames), frame_size, 0xFFFFFFFF, 0, 0, 0, w, h)
    strf = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 8, 0, frame_size, 0, 0, 256, 0)
    strf += b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    hdrl = _list(b"hdrl", _chunk(b"avih", avih) + _list(b"strl", _chunk(b"strh", strh) +
                                                         _chunk(b"strf", strf)))
    movi = _list(b"movi", b"".join(frame_chunks))
    index = bytearray()
    offset = 4  # from the "movi" list type
    for chunk in frame_chunks:
        index += struct.pack("<4sIII", b"00db", 0x10, offset, frame_size)
        offset += len(chunk)
    body = b"AVI " + hdrl + movi + _chunk(b"idx1", bytes(index))
    return b"RIFF" + struct.pack("<I", len(body)) + body
