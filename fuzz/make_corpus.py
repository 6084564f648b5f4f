#!/usr/bin/env python3
"""Writes the seeds of the fuzz targets: into corpus/dib/ one small valid bitmap
for each kind the reader accepts, into corpus/wav/ small WAV files of every
sample format and a few awkward layouts, into corpus/settings/ settings files
(the defaults, every display type, damaged values). Run from anywhere;
rewrites the files."""
import os
import struct

CORPUS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
OUT = os.path.join(CORPUS, "dib")


def rows_bytes(rows, bits):
    """rows: bottom-up file order; each row a list of pixel values."""
    out = b""
    for row in rows:
        if bits in (1, 4):
            per = 8 // bits
            data = bytearray((len(row) * bits + 7) // 8)
            for x, v in enumerate(row):
                data[x // per] |= v << (8 - bits * (x % per + 1))
            data = bytes(data)
        elif bits == 8:
            data = bytes(row)
        elif bits == 16:
            data = b"".join(struct.pack("<H", v) for v in row)
        elif bits == 24:
            data = b"".join(struct.pack("<BBB", b, g, r) for (r, g, b) in row)
        else:
            data = b"".join(struct.pack("<I", v) for v in row)
        data += b"\0" * (-len(data) % 4)
        out += data
    return out


def info_header(w, h, bits, compression=0, used=0, size=40, masks=()):
    hdr = struct.pack("<IiiHHIIiiII", size, w, h, 1, bits, compression, 0, 2835, 2835, used, 0)
    hdr += b"".join(struct.pack("<I", m) for m in masks)
    return hdr + b"\0" * (size - len(hdr))


def core_header(w, h, bits):
    return struct.pack("<IHHHH", 12, w, h, 1, bits)


def quad(r, g, b):
    return struct.pack("<BBBB", b, g, r, 0)


def triple(r, g, b):
    return struct.pack("<BBB", b, g, r)


def bmp(header, table, pixels):
    offset = 14 + len(header) + len(table)
    return b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset) + header + table + pixels


def write(name, data):
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


def chunk(tag, body, size=None):
    """A RIFF chunk, padded to an even length; size overrides its size field."""
    size = len(body) if size is None else size
    return tag + struct.pack("<I", size) + body + b"\0" * (len(body) & 1)


def fmt_body(tag, channels, rate, bits, extensible_tag=None):
    align = channels * (bits // 8)
    body = struct.pack("<HHIIHH", tag, channels, rate, rate * align, align, bits)
    if extensible_tag is not None:
        guid_tail = bytes([0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71])
        body += struct.pack("<HHI", 22, bits, 3) + struct.pack("<I", extensible_tag) + guid_tail
    return body


def wav(*chunks, riff_size=None):
    body = b"WAVE" + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body) if riff_size is None else riff_size) + body


def write_wav(name, data):
    with open(os.path.join(CORPUS, "wav", name), "wb") as f:
        f.write(data)


def wav_seeds():
    os.makedirs(os.path.join(CORPUS, "wav"), exist_ok=True)
    ramp = [0, 1000, -1000, 32767, -32768, 5]
    pcm16 = b"".join(struct.pack("<h", v) for v in ramp)
    write_wav("pcm8_mono.wav", wav(chunk(b"fmt ", fmt_body(1, 1, 8000, 8)),
                                   chunk(b"data", bytes([0, 128, 255, 1, 127]))))
    write_wav("pcm16_mono.wav", wav(chunk(b"fmt ", fmt_body(1, 1, 22050, 16)), chunk(b"data", pcm16)))
    write_wav("pcm16_stereo.wav", wav(chunk(b"fmt ", fmt_body(1, 2, 44100, 16)), chunk(b"data", pcm16)))
    write_wav("pcm24_stereo.wav", wav(chunk(b"fmt ", fmt_body(1, 2, 48000, 24)),
                                      chunk(b"data", b"".join(struct.pack("<i", v << 8)[:3] for v in ramp[:4]))))
    write_wav("pcm32_3ch.wav", wav(chunk(b"fmt ", fmt_body(1, 3, 96000, 32)),
                                   chunk(b"data", b"".join(struct.pack("<i", v << 16) for v in ramp))))
    write_wav("float32_mono.wav", wav(chunk(b"fmt ", fmt_body(3, 1, 44100, 32)),
                                      chunk(b"data", struct.pack("<6f", 0.0, 0.5, -1.0, 2.0, float("nan"), -0.25))))
    write_wav("float64_stereo.wav", wav(chunk(b"fmt ", fmt_body(3, 2, 11025, 64)),
                                        chunk(b"data", struct.pack("<4d", 1.0, -1.0, 1e-9, float("inf")))))
    write_wav("extensible_pcm16.wav", wav(chunk(b"fmt ", fmt_body(0xFFFE, 2, 44100, 16, extensible_tag=1)),
                                          chunk(b"data", pcm16)))
    write_wav("extensible_float32.wav", wav(chunk(b"fmt ", fmt_body(0xFFFE, 1, 8000, 32, extensible_tag=3)),
                                            chunk(b"data", struct.pack("<2f", 0.125, -0.5))))
    # An odd-sized chunk before the format, padded; the data before the format.
    write_wav("odd_chunks.wav", wav(chunk(b"LIST", b"INFOabc"), chunk(b"data", bytes([1, 2, 3])),
                                    chunk(b"fmt ", fmt_body(1, 1, 8000, 8) + b"\0\0")))
    # Data size field larger than the file, RIFF size 0 as a streaming writer leaves it.
    write_wav("truncated_data.wav", wav(chunk(b"fmt ", fmt_body(1, 2, 22050, 16)),
                                        chunk(b"data", pcm16[:10], size=1 << 20), riff_size=0))
    write_wav("truncated_fmt.wav", wav(chunk(b"fmt ", fmt_body(1, 1, 8000, 16))[:14]))
    write_wav("no_data.wav", wav(chunk(b"fmt ", fmt_body(1, 1, 8000, 16))))
    # The limits of what plays: 8 channels at 384 kHz; 9 channels; a mu-law file.
    write_wav("pcm16_8ch_384k.wav", wav(chunk(b"fmt ", fmt_body(1, 8, 384000, 16)),
                                        chunk(b"data", pcm16 + pcm16 + pcm16[:4])))
    write_wav("pcm16_9ch.wav", wav(chunk(b"fmt ", fmt_body(1, 9, 8000, 16)), chunk(b"data", pcm16 * 3)))
    write_wav("mulaw.wav", wav(chunk(b"fmt ", fmt_body(7, 1, 8000, 8)), chunk(b"data", bytes([0x55, 0xD5]))))


# The settings file's keys with their defaults, in the program's order; texts quoted.
SETTINGS_DEFAULTS = [
    ("Type", 0), ("Frange", 1), ("Fdiv", 16), ("Ldiv", 1), ("Lmin", -60), ("Lmax", -30),
    ("LPeek", 2), ("CGrad", 1), ("Cframe", 0x808080), ("Coutline", 0x808080),
    ("Cpeekchip", 0x00FFFF), ("Cbackground", 0), ("Cchip1", 0xFFFF00), ("Cchip2", 0xFF80FF),
    ("Cwline", 0xC080FF), ("FwaveDisp", 0), ("FclockDisp", 0), ("FwaveZan", 0), ("FreqStrSw", 1),
    ("WaveRecMode", 0), ("PwinPosX1", 100), ("PwinPosY1", 100), ("PwinPosX2", 645),
    ("PwinPosY2", 251), ("BaseKey", 440), ("FontHeight", -11), ("FontWeight", 400), ("KeyOn", -70),
    ("KeyWidth", 10), ("KeyNum", 5), ("KeyDiv", 21), ("BmpName", '"sp.bmp"'), ("AreaTop", 69),
    ("AreaBottom", 21), ("AreaLeft", 123), ("AreaRight", 114), ("Version", 1),
    ("SaverSizeX", 545), ("SaverSizeY", 151), ("SaverMode", 1), ("SpectFrameDraw", 1),
    ("FontCharSet", 128), ("FontOutPrecision", 3), ("FontClipPrecision", 2), ("FontQuality", 1),
    ("FontPichAndFamily", 0x32), ("FontFaceName", '"Sans"'), ("FontColor", 0xFFFF00),
]


def write_settings(name, changes=(), drop=(), extra=""):
    values = dict(SETTINGS_DEFAULTS)
    values.update(changes)
    lines = ["[Config]"] + [f"{k}={values[k]}" for k, _ in SETTINGS_DEFAULTS if k not in drop]
    os.makedirs(os.path.join(CORPUS, "settings"), exist_ok=True)
    with open(os.path.join(CORPUS, "settings", name), "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n" + extra)


def settings_seeds():
    write_settings("defaults.ini")
    # Every display type, with the options that type draws.
    write_settings("type0_wave_clock.ini", {"FwaveDisp": 1, "FclockDisp": 1, "FwaveZan": 2, "Frange": 0})
    write_settings("type1_marker_mode.ini", {"Type": 1, "WaveRecMode": 1, "Fdiv": 80, "Ldiv": 0,
                                             "FwaveDisp": 1, "FwaveZan": 1})
    write_settings("type2_fine.ini", {"Type": 2, "Frange": 2, "Fdiv": 40, "LPeek": 0, "FreqStrSw": 0})
    write_settings("type3_no_frame.ini", {"Type": 3, "SpectFrameDraw": 0, "CGrad": 0, "Ldiv": 2,
                                          "BmpName": '""'})
    write_settings("type4_keyboard.ini", {"Type": 4, "KeyDiv": 32, "KeyNum": 12, "BaseKey": 415,
                                          "KeyOn": -90})
    # Damaged values: out of range, wrong types, extremes, a list, an unknown section.
    write_settings("damaged_numbers.ini", {"Type": 99, "Frange": -1, "Fdiv": 100000, "Ldiv": 7,
                                           "Lmin": 20, "Lmax": -200, "KeyNum": -5, "KeyDiv": 0,
                                           "FontHeight": -2147483648, "BaseKey": 0})
    write_settings("damaged_types.ini", {"Type": "abc", "Fdiv": "1.5", "Lmax": "0x10",
                                         "Cchip1": "4294967295", "FwaveDisp": "@Variant(\\0\\0\\0\\x7f)",
                                         "BmpName": "1, 2, 3", "FontFaceName": '"' + "\u3042" * 40 + '"'})
    write_settings("no_version.ini", {"Type": 4}, drop=("Version",), extra="[Other]\nType=3\n")
    # InputSource, stored beside the 72: a source's name, and a list where a text belongs.
    write_settings("input_named.ini", extra="InputSource=alsa_input.usb-0d8c_C-Media.analog-stereo\n")
    write_settings("input_damaged.ini", {"Type": 1}, extra="InputSource=@DEFAULT_SOURCE@, mic\n")
    write_settings("keyboard_extremes.ini", {"Type": 4, "KeyDiv": 2147483647, "KeyNum": 2147483647,
                                             "BaseKey": -2147483648, "KeyOn": 2147483647,
                                             "AreaTop": 65535, "AreaLeft": -1})


def main():
    os.makedirs(OUT, exist_ok=True)
    write("bits1.bmp", bmp(info_header(10, 2, 1), quad(0, 0, 0) + quad(255, 255, 255),
                           rows_bytes([[1, 0, 1, 1, 0, 0, 1, 0, 0, 1], [0] * 9 + [1]], 1)))
    write("bits4.bmp", bmp(info_header(3, 2, 4), b"".join(quad(i * 16, 0, 255 - i * 16) for i in range(16)),
                           rows_bytes([[5, 15, 9], [0, 9, 5]], 4)))
    write("bits8_used0.bmp", bmp(info_header(4, 2, 8), b"".join(quad(i, 255 - i, i // 2) for i in range(256)),
                                 rows_bytes([[0, 1, 2, 255], [128, 64, 32, 16]], 8)))
    write("bits8_used5.bmp", bmp(info_header(3, 2, 8, used=5), b"".join(quad(i * 50, i, 0) for i in range(5)),
                                 rows_bytes([[0, 4, 2], [1, 3, 0]], 8)))
    write("bits16_555.bmp", bmp(info_header(3, 2, 16), b"",
                                rows_bytes([[0x7C00, 0x03E0, 0x001F], [0x4210, 0, 0x7FFF]], 16)))
    write("bits16_565.bmp", bmp(info_header(3, 2, 16, compression=3), struct.pack("<III", 0xF800, 0x07E0, 0x001F),
                                rows_bytes([[0xF800, 0x07E0, 0x001F], [0x0400, 0xFFFF, 0]], 16)))
    write("bits24.bmp", bmp(info_header(3, 2, 24), b"",
                            rows_bytes([[(255, 255, 255), (128, 128, 128), (100, 100, 0)],
                                        [(255, 0, 0), (0, 255, 0), (0, 0, 255)]], 24)))
    write("bits24_topdown.bmp", bmp(info_header(3, -2, 24), b"",
                                    rows_bytes([[(255, 0, 0), (0, 255, 0), (0, 0, 255)],
                                                [(255, 255, 255), (128, 128, 128), (100, 100, 0)]], 24)))
    write("bits32.bmp", bmp(info_header(2, 2, 32), b"",
                            rows_bytes([[0x00102030, 0xFF405060], [0x00FFFFFF, 0]], 32)))
    write("bits32_v5_masks.bmp", bmp(info_header(2, 1, 32, compression=3, size=124,
                                                 masks=(0xFF, 0xFF00, 0xFF0000)), b"",
                                     rows_bytes([[0x44332211, 0x000000FF]], 32)))
    write("core1.bmp", bmp(core_header(3, 2, 1), triple(1, 2, 3) + triple(250, 251, 252),
                           rows_bytes([[1, 0, 1], [0, 1, 0]], 1)))
    write("core8.bmp", bmp(core_header(2, 2, 8), b"".join(triple(i, i, 255 - i) for i in range(256)),
                           rows_bytes([[0, 255], [7, 9]], 8)))
    write("core24.bmp", bmp(core_header(2, 1, 24), b"", rows_bytes([[(1, 2, 3), (4, 5, 6)]], 24)))


if __name__ == "__main__":
    main()
    wav_seeds()
    settings_seeds()
