"""A tiny deterministic rasteriser for the library's pictures: shapes are
predicates over pixel coordinates, painted with 4x4 supersampling and
straight-alpha "over" compositing. Pure Python, no dependencies."""

import math

SUPERSAMPLE = 4


class Shape:
    """A region: inside(x, y) over continuous pixel coordinates, and the
    bounding box (x0, y0, x1, y1) outside which it is empty."""

    def __init__(self, inside, bbox):
        self.inside = inside
        self.bbox = bbox

    def __or__(self, other):
        return Shape(lambda x, y: self.inside(x, y) or other.inside(x, y),
                     (min(self.bbox[0], other.bbox[0]), min(self.bbox[1], other.bbox[1]),
                      max(self.bbox[2], other.bbox[2]), max(self.bbox[3], other.bbox[3])))

    def __sub__(self, other):
        return Shape(lambda x, y: self.inside(x, y) and not other.inside(x, y), self.bbox)

    def __and__(self, other):
        return Shape(lambda x, y: self.inside(x, y) and other.inside(x, y),
                     (max(self.bbox[0], other.bbox[0]), max(self.bbox[1], other.bbox[1]),
                      min(self.bbox[2], other.bbox[2]), min(self.bbox[3], other.bbox[3])))


def rect(x0, y0, x1, y1):
    return Shape(lambda x, y: x0 <= x < x1 and y0 <= y < y1, (x0, y0, x1, y1))


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x < x1 and y0 <= y < y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return Shape(inside, (x0, y0, x1, y1))


def ellipse(cx, cy, rx, ry):
    return Shape(lambda x, y: ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0,
                 (cx - rx, cy - ry, cx + rx, cy + ry))


def circle(cx, cy, r):
    return ellipse(cx, cy, r, r)


def polygon(points):
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]

    def inside(x, y):
        result = False
        j = len(points) - 1
        for i in range(len(points)):
            xi, yi = points[i]
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result
    return Shape(inside, (min(xs), min(ys), max(xs), max(ys)))


def stroke(x0, y0, x1, y1, width):
    """A segment with round ends."""
    dx, dy = x1 - x0, y1 - y0
    length2 = dx * dx + dy * dy or 1e-9
    half = width / 2.0

    def inside(x, y):
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / length2))
        px, py = x0 + t * dx, y0 + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= half * half
    return Shape(inside, (min(x0, x1) - half, min(y0, y1) - half,
                          max(x0, x1) + half, max(y0, y1) + half))


def ring(cx, cy, r_outer, r_inner):
    return circle(cx, cy, r_outer) - circle(cx, cy, r_inner)


def star(cx, cy, r_outer, r_inner, points, rotation=-math.pi / 2):
    pts = []
    for i in range(points * 2):
        r = r_outer if i % 2 == 0 else r_inner
        a = rotation + i * math.pi / points
        pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return polygon(pts)


class Canvas:
    """RGBA pixels, 0..255 per channel, top row first."""

    def __init__(self, width, height, background=(0, 0, 0, 0)):
        self.width = width
        self.height = height
        self.pixels = [[list(background) for _ in range(width)] for _ in range(height)]

    def paint(self, shape, color):
        """Paints the shape; color is (r, g, b[, a]) or a function of (x, y)
        giving one."""
        x0 = max(0, int(math.floor(shape.bbox[0])))
        y0 = max(0, int(math.floor(shape.bbox[1])))
        x1 = min(self.width, int(math.ceil(shape.bbox[2])) + 1)
        y1 = min(self.height, int(math.ceil(shape.bbox[3])) + 1)
        n = SUPERSAMPLE
        offsets = [(i + 0.5) / n for i in range(n)]
        for py in range(y0, y1):
            for px in range(x0, x1):
                hits = 0
                for oy in offsets:
                    for ox in offsets:
                        if shape.inside(px + ox, py + oy):
                            hits += 1
                if hits:
                    c = color(px + 0.5, py + 0.5) if callable(color) else color
                    self.blend(px, py, c, hits / float(n * n))

    def blend(self, px, py, color, coverage=1.0):
        r, g, b = color[0], color[1], color[2]
        a = (color[3] if len(color) > 3 else 255) / 255.0 * coverage
        dst = self.pixels[py][px]
        da = dst[3] / 255.0
        out_a = a + da * (1 - a)
        if out_a <= 0:
            return
        for i, c in enumerate((r, g, b)):
            dst[i] = (c * a + dst[i] * da * (1 - a)) / out_a
        dst[3] = out_a * 255.0

    def fill(self, color):
        self.paint(rect(0, 0, self.width, self.height), color)

    def rgba(self, px, py):
        return tuple(int(round(max(0.0, min(255.0, v)))) for v in self.pixels[py][px])


def lerp(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(len(a)))


def horizontal_gradient(x0, x1, left, right):
    return lambda x, y: lerp(left, right, max(0.0, min(1.0, (x - x0) / float(x1 - x0))))


def vertical_gradient(y0, y1, top, bottom):
    return lambda x, y: lerp(top, bottom, max(0.0, min(1.0, (y - y0) / float(y1 - y0))))
