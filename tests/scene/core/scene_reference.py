#!/usr/bin/env python3
# Reference values for the scene value-type tests, from python3's own colorsys and an
# independent natural cubic spline (second-derivative form, Gaussian elimination).
# Reads one request per line on stdin, answers one line each.
import colorsys
import sys


def natural_spline(values, ts):
    n = len(values) - 1
    # M[0] = M[n] = 0; M[i-1] + 4 M[i] + M[i+1] = 6 (y[i+1] - 2 y[i] + y[i-1]) for unit spacing.
    size = n - 1
    m = [0.0] * (n + 1)
    if size > 0:
        a = [[0.0] * size for _ in range(size)]
        rhs = [0.0] * size
        for row in range(size):
            i = row + 1
            a[row][row] = 4.0
            if row > 0:
                a[row][row - 1] = 1.0
            if row < size - 1:
                a[row][row + 1] = 1.0
            rhs[row] = 6.0 * (values[i + 1] - 2 * values[i] + values[i - 1])
        for col in range(size):
            for row in range(col + 1, size):
                f = a[row][col] / a[col][col]
                for k in range(col, size):
                    a[row][k] -= f * a[col][k]
                rhs[row] -= f * rhs[col]
        sol = [0.0] * size
        for row in reversed(range(size)):
            s = rhs[row] - sum(a[row][k] * sol[k] for k in range(row + 1, size))
            sol[row] = s / a[row][row]
        for row in range(size):
            m[row + 1] = sol[row]
    out = []
    for t in ts:
        i = min(max(int(t // 1), 0), n - 1)
        u = t - i
        s = ((1 - u) * values[i] + u * values[i + 1]
             + ((1 - u) ** 3 - (1 - u)) * m[i] / 6 + (u ** 3 - u) * m[i + 1] / 6)
        out.append(s)
    return out


for line in sys.stdin:
    parts = line.split()
    if not parts:
        continue
    kind, args = parts[0], parts[1:]
    if kind == "rgb2hls":
        r, g, b = (int(x) / 255.0 for x in args)
        h, l, s = colorsys.rgb_to_hls(r, g, b)
        print("%.17g %.17g %.17g" % (h, s, l))
    elif kind == "hls2rgb":
        h, s, l = (float(x) for x in args)
        r, g, b = colorsys.hls_to_rgb(h, l, s)
        print("%d %d %d" % (round(255 * r), round(255 * g), round(255 * b)))
    elif kind == "spline":
        count = int(args[0])
        values = [float(x) for x in args[1:1 + count]]
        ts = [float(x) for x in args[1 + count:]]
        print(" ".join("%.17g" % v for v in natural_spline(values, ts)))
    sys.stdout.flush()
