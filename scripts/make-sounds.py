#!/usr/bin/env python3
"""Synthesises the program's four short wave sounds into resources/sounds/.

16-bit mono PCM at 22050 Hz; every sound fades in and out so it never clicks.
Run it again after changing a sound: python3 scripts/make-sounds.py
"""
import math
import os
import struct
import wave

RATE = 22050
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources", "sounds")


def silence(seconds):
    return [0.0] * int(seconds * RATE)


def partials(freq, seconds, parts, decay=0.0, attack=0.01):
    """A tone made of (ratio, gain) partials with an attack ramp and exponential decay."""
    n = int(seconds * RATE)
    out = []
    for i in range(n):
        t = i / RATE
        env = min(1.0, t / attack) if attack > 0 else 1.0
        if decay > 0:
            env *= math.exp(-t / decay)
        s = 0.0
        for ratio, gain in parts:
            s += gain * math.sin(2 * math.pi * freq * ratio * t)
        out.append(s * env)
    return out


def glide(f0, f1, seconds, decay):
    """A tone whose pitch falls exponentially from f0 to f1."""
    n = int(seconds * RATE)
    out = []
    phase = 0.0
    for i in range(n):
        t = i / RATE
        f = f0 * (f1 / f0) ** (t / seconds)
        phase += 2 * math.pi * f / RATE
        env = min(1.0, t / 0.01) * math.exp(-t / decay)
        out.append((math.sin(phase) + 0.25 * math.sin(2 * phase)) * env)
    return out


def mix(base, other, at):
    start = int(at * RATE)
    need = start + len(other)
    if len(base) < need:
        base = base + [0.0] * (need - len(base))
    for i, s in enumerate(other):
        base[start + i] += s
    return base


def finish(samples, peak=0.6, fade=0.02):
    """Normalises to the given peak and applies short fades at both ends."""
    top = max(abs(s) for s in samples) or 1.0
    n = len(samples)
    k = max(1, int(fade * RATE))
    out = []
    for i, s in enumerate(samples):
        g = 1.0
        if i < k:
            g = i / k
        if n - 1 - i < k:
            g = min(g, (n - 1 - i) / k)
        out.append(s / top * peak * g)
    return out


def write(name, samples):
    os.makedirs(ROOT, exist_ok=True)
    path = os.path.join(ROOT, name)
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(b"".join(struct.pack("<h", int(round(s * 32767))) for s in samples))
    print(f"{path}: {os.path.getsize(path)} bytes")


def ring():
    # Two soft two-tone bursts, like a friendly telephone.
    soft = [(1.0, 1.0), (2.0, 0.2), (3.0, 0.05)]
    out = silence(1.5)
    for burst in (0.0, 0.75):
        for k in range(6):
            f = 660.0 if k % 2 == 0 else 830.0
            out = mix(out, partials(f, 0.09, soft, decay=0.08, attack=0.005), burst + k * 0.09)
    return finish(out[: int(1.5 * RATE)])


def disconnect():
    return finish(glide(740.0, 260.0, 0.6, 0.35))


def message_chime():
    bell = [(1.0, 1.0), (2.0, 0.35), (3.0, 0.12), (4.2, 0.05)]
    out = silence(1.2)
    for at, f in ((0.0, 659.26), (0.16, 830.61), (0.32, 987.77)):
        out = mix(out, partials(f, 1.2 - at, bell, decay=0.3), at)
    return finish(out[: int(1.2 * RATE)])


def chat_bell():
    # Inharmonic partials give the short metallic ring of a small bell.
    return finish(partials(1318.5, 0.45, [(1.0, 1.0), (2.76, 0.4), (5.4, 0.2), (8.93, 0.08)], decay=0.12))


if __name__ == "__main__":
    write("ringin.wav", ring())
    write("discon.wav", disconnect())
    write("inmsg.wav", message_chime())
    write("chatbell.wav", chat_bell())
