#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets: valid examples of each format
and the hostile cases the other tests build, one folder per target, plus a
dictionary per format where its tokens help (TARGET.dict).

Usage: seeds.py OUTPUT_FOLDER

Sound files are made with the system's libsndfile (the engine decodes with
it), encrypted archives with Info-ZIP's zip, everything else with Python's
standard library. Nothing here is kept in the repository.
"""
import ctypes
import io
import math
import os
import shutil
import struct
import subprocess
import sys
import tarfile
import tempfile
import warnings
import zipfile

PASSWORD = "Vazevaz Izize Vozo"
EFFECTS_OFF = "0*" * 16
EFFECTS_ON = "1*0*1*0*1*0*1*0*1*0*1*0*1*0*1*1*"

out_root = None
scratch = None


def put(target, name, data):
    folder = os.path.join(out_root, target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("cp1252", errors="replace")
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def dictionary(target, tokens):
    with open(os.path.join(out_root, target + ".dict"), "w", encoding="ascii") as f:
        for t in tokens:
            escaped = "".join(c if 32 <= ord(c) < 127 and c not in '"\\' else "\\x%02X" % ord(c) for c in t)
            f.write('"%s"\n' % escaped)


def crlf(*lines):
    return "".join(l + "\r\n" for l in lines)


# ---------------------------------------------------------------- sounds


def tone(frames, channels=1, rate=48000, hz=440.0):
    return [[0.5 * math.sin(2 * math.pi * (hz + 110 * c) * i / rate) for c in range(channels)] for i in range(frames)]


def wav(frames, channels=1, rate=48000, bits=16, float_=False, extensible=False, mask=0, chunks=b""):
    data = bytearray()
    for frame in tone(frames, channels, rate):
        for v in frame:
            if float_:
                data += struct.pack("<f" if bits == 32 else "<d", v)
            elif bits == 8:
                data += struct.pack("<B", int(128 + 127 * v))
            else:
                n = int(v * (2 ** (bits - 1) - 1))
                data += n.to_bytes(bits // 8, "little", signed=True)
    tag = 3 if float_ else 1
    block = channels * bits // 8
    if extensible:
        guid = struct.pack("<H", tag) + b"\x00\x00\x00\x00\x10\x00\x80\x00\x00\xaa\x00\x38\x9b\x71"
        fmt = struct.pack("<HHIIHHHHI", 0xFFFE, channels, rate, rate * block, block, bits, 22, bits, mask) + guid
    else:
        fmt = struct.pack("<HHIIHH", tag, channels, rate, rate * block, block, bits)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + chunks + b"data" + struct.pack("<I", len(data)) + data
    return b"RIFF" + struct.pack("<I", len(body)) + body


def info_chunk(fields):
    body = b"INFO"
    for key, value in fields:
        v = value + b"\0"
        if len(v) % 2:
            v += b"\0"
        body += key + struct.pack("<I", len(v)) + v
    return b"LIST" + struct.pack("<I", len(body)) + body


def id3v2(frames):
    body = b""
    for fid, text in frames:
        payload = b"\x00" + text
        body += fid + struct.pack(">I", len(payload)) + b"\x00\x00" + payload
    size = len(body)
    synchsafe = bytes([(size >> 21) & 0x7F, (size >> 14) & 0x7F, (size >> 7) & 0x7F, size & 0x7F])
    return b"ID3\x03\x00\x00" + synchsafe + body


def id3v1(title, genre):
    return b"TAG" + title.ljust(30, b"\0")[:30] + b"Artista".ljust(30, b"\0") + b"Album".ljust(30, b"\0") + \
        b"2024" + b"Comentario".ljust(28, b"\0") + b"\0\x07" + bytes([genre])


class SfInfo(ctypes.Structure):
    _fields_ = [("frames", ctypes.c_int64), ("samplerate", ctypes.c_int), ("channels", ctypes.c_int),
                ("format", ctypes.c_int), ("sections", ctypes.c_int), ("seekable", ctypes.c_int)]


def sndfile(fmt, frames, channels=1, rate=44100, title=None, channel_map=None):
    """A file written by libsndfile; None when this libsndfile cannot write it."""
    try:
        lib = ctypes.CDLL("libsndfile.so.1")
    except OSError:
        return None
    lib.sf_open.restype = ctypes.c_void_p
    lib.sf_open.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.POINTER(SfInfo)]
    lib.sf_writef_float.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_float), ctypes.c_int64]
    lib.sf_set_string.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_char_p]
    lib.sf_command.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_void_p, ctypes.c_int]
    lib.sf_close.argtypes = [ctypes.c_void_p]
    info = SfInfo(0, rate, channels, fmt, 0, 0)
    if not lib.sf_format_check(ctypes.byref(info)):
        return None
    path = os.path.join(scratch, "sound.tmp")
    f = lib.sf_open(path.encode(), 0x20, ctypes.byref(info))
    if not f:
        return None
    if title:
        lib.sf_set_string(f, 0x01, title)  # SF_STR_TITLE
        lib.sf_set_string(f, 0x04, b"Rimbal")  # SF_STR_ARTIST
    if channel_map:
        m = (ctypes.c_int * len(channel_map))(*channel_map)
        lib.sf_command(f, 0x1101, m, ctypes.sizeof(m))  # SFC_SET_CHANNEL_MAP_INFO
    samples = [v for frame in tone(frames, channels, rate) for v in frame]
    buf = (ctypes.c_float * len(samples))(*samples)
    lib.sf_writef_float(f, buf, frames)
    lib.sf_close(f)
    with open(path, "rb") as fh:
        return fh.read()


def sound_seeds():
    t = "sound"
    put(t, "pcm16-mono.wav", wav(480))
    put(t, "pcm16-stereo-44k.wav", wav(441, 2, 44100))
    put(t, "pcm8-22k.wav", wav(220, 1, 22050, 8))
    put(t, "pcm24.wav", wav(240, 2, 48000, 24))
    put(t, "pcm32-96k.wav", wav(960, 1, 96000, 32))
    put(t, "float.wav", wav(240, 2, 48000, 32, float_=True))
    put(t, "double-8k.wav", wav(80, 1, 8000, 64, float_=True))
    put(t, "six-channels.wav", wav(120, 6, 48000, 16, extensible=True, mask=0x3F))
    put(t, "three-channels.wav", wav(120, 3, 32000))
    put(t, "info-tags.wav", wav(240, 1, 48000, 16, chunks=info_chunk([(b"INAM", b"T\xedtulo"), (b"IART", b"Artista"),
                                                                        (b"IGNR", b"300")])))
    put(t, "empty-data.wav", wav(0))
    put(t, "one-frame.wav", wav(1))
    put(t, "odd-rate.wav", wav(100, 1, 1001))
    whole = wav(480, 2)
    put(t, "truncated.wav", whole[:len(whole) // 2 + 1])
    put(t, "header-only.wav", whole[:44])
    put(t, "not-a-sound.txt", b"65*0*0*0*0*1,00*a.wav\r\n")
    formats = {
        "aiff": 0x020002, "au": 0x030002, "flac": 0x170002, "flac24": 0x170003, "caf": 0x180002, "w64": 0x0B0002,
        "rf64": 0x220002, "voc": 0x080002, "ircam": 0x0A0002, "nist": 0x070002, "ogg": 0x200060, "opus": 0x200064,
        "mp3": 0x230082, "wavex": 0x130002,
    }
    for name, fmt in formats.items():
        rate = 48000 if name == "opus" else 44100
        data = sndfile(fmt, 960 if name in ("ogg", "opus", "mp3") else 300, 2, rate, title=b"Caix\xc3\xa3o")
        if data:
            put(t, "sndfile." + name, data)
    mp3 = sndfile(0x230082, 1152, 1, 44100)
    if mp3:
        tag2 = id3v2([(b"TIT2", b"Bumbo"), (b"TPE1", b"Rimbal"), (b"TCON", b"(17)"), (b"COMM", b"por\x00Nota"),
                      (b"APIC", b"image/png\x00\x03\x00PNG")])
        put(t, "id3-tags.mp3", tag2 + mp3 + id3v1(b"Titulo", 17))
        put(t, "id3-genre-out-of-range.mp3", mp3 + id3v1(b"Genero", 200))
    multi = sndfile(0x170002, 200, 6, 48000, channel_map=[2, 3, 4, 5, 7, 8])
    if multi:
        put(t, "flac-6-channels-mapped", multi)
    dictionary(t, ["RIFF", "WAVE", "fmt ", "data", "LIST", "INFO", "FORM", "AIFF", "COMM", "SSND", "fLaC", "OggS",
                   "OpusHead", "\x01vorbis", "ID3", "TAG", "\xff\xfb", ".snd", "caff", "RF64", "ds64"])


# ---------------------------------------------------------------- archives


def zip_with_password(entries, password=PASSWORD, stored=False):
    """An archive written by Info-ZIP with traditional encryption."""
    work = tempfile.mkdtemp(dir=scratch)
    names = []
    for name, data in entries:
        with open(os.path.join(work, name), "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode("cp1252"))
        names.append(name)
    args = ["zip", "-q", "-X"] + (["-0"] if stored else []) + (["-P", password] if password else []) + ["out.zip"]
    subprocess.run(args + names, cwd=work, check=True)
    with open(os.path.join(work, "out.zip"), "rb") as f:
        data = f.read()
    shutil.rmtree(work)
    return data


def zip_plain(entries, comment=b""):
    """An unencrypted archive; names as given, links and odd entries too."""
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        for entry in entries:
            name, data = entry[0], entry[1]
            info = zipfile.ZipInfo(name)
            info.compress_type = zipfile.ZIP_DEFLATED
            if len(entry) > 2 and entry[2] == "link":
                info.create_system = 3
                info.external_attr = 0o120777 << 16
            z.writestr(info, data)
        z.comment = comment
    return buf.getvalue()


def declare_size(archive, size):
    """The archive's last entry declares size bytes in both its headers."""
    b = bytearray(archive)
    for sig, off in ((b"PK\x03\x04", 22), (b"PK\x01\x02", 24)):
        i = b.rfind(sig)
        b[i + off:i + off + 4] = struct.pack("<I", size)
    return bytes(b)


def flip(data, at):
    b = bytearray(data)
    b[at % len(b)] ^= 0x5A
    return bytes(b)


def key_line(key, name, stop=0, options="0*0*0", volume="1,00", effects=EFFECTS_OFF):
    return "%d*%d*%s*%s*%s%s" % (key, stop, options, volume, effects, name)


def sequence_seeds():
    texts = {
        "pairs": "65*120*66*250*67*0*",
        "one-key": "65",
        "cut-off": "65*100",
        "long-interval": "65*60000*66*1*",
        "too-long": "65*60001*66*1*",
        "negative": "65*-1*66*1*",
        "not-a-number": "65*abc*66*1*",
        "hexadecimal": "$41*$10*x42*0x20*",
        "unused-key": "68*10*65*10*",
        "huge-key": "4294967361*10*",
        "gap": "65*10**66*10*",
        "leading-star": "*65*10*",
        "stars": "***",
        "spaces": " 65 * 10 *66*10*",
        "many": "65*1*66*2*67*3*" * 150,
        "empty": "",
    }
    for name, text in texts.items():
        put("sequence_text", name, text)
    dictionary("sequence_text", ["*", "65", "66", "67", "60000", "60001", "$", "0x", "-"])

    t = "sequence_file"
    for name in ("pairs", "one-key", "cut-off", "long-interval", "hexadecimal", "gap", "many"):
        put(t, name + ".rbs", zip_with_password([("RBS.txt", texts[name])]))
    put(t, "stored.rbs", zip_with_password([("RBS.txt", texts["pairs"])], stored=True))
    put(t, "bad-text.rbs", zip_with_password([("RBS.txt", texts["too-long"])]))
    put(t, "empty-text.rbs", zip_with_password([("RBS.txt", "")]))
    put(t, "no-password.rbs", zip_plain([("RBS.txt", texts["pairs"])], b"Sequencia"))
    put(t, "other-password.rbs", zip_with_password([("RBS.txt", texts["pairs"])], password="outra senha"))
    put(t, "other-entry.rbs", zip_with_password([("rbs.txt", texts["pairs"])]))
    put(t, "two-entries.rbs", zip_plain([("RBS.txt", "65*1*"), ("RBS.txt", "66*1*")]))
    good = zip_with_password([("RBS.txt", texts["pairs"])])
    put(t, "half.rbs", good[:len(good) // 2])
    put(t, "crc.rbs", flip(zip_with_password([("RBS.txt", texts["many"])], stored=True), 60))
    put(t, "declared-huge.rbs", declare_size(zip_plain([("RBS.txt", "65*1*" * 50)]), 0xF0000000))
    put(t, "text.rbs", "Isto não é uma sequência\r\n")
    dictionary(t, ["PK\x03\x04", "PK\x01\x02", "PK\x05\x06", "RBS.txt", "*"])


def package_seeds():
    t = "package"
    x = wav(480)
    keys = crlf(key_line(65, "x.wav"), key_line(66, "y.wav", 65, "1*0*1", "0,50", EFFECTS_ON), key_line(67, "x.wav"))
    info_novo = crlf("[Info]", "Name=Novo", "Author=Autor", "Contact=a@b", "Version=1.0", "Comment=Um pacote")
    info_kit = crlf("[Info]", "Name=Kit")
    midi = crlf("36*65", "38*66", "200*1")
    put(t, "novo.rbp", zip_with_password([("Info.txt", info_novo), ("Keys.txt", keys), ("x.wav", x),
                                          ("y.wav", wav(441, 2, 44100)), ("Midi.txt", midi)]))
    layers = crlf("Velocidade*0.8", "65*0*0.5*1*-0.5*y.wav", "65*0.5*1*1*-0.5*x.wav", "67*0*1*2*9*x.wav",
                  "66*0*1*1*0*../fora.wav")
    put(t, "layers.rbp", zip_with_password([("Info.txt", info_novo), ("Keys.txt", keys), ("x.wav", x),
                                            ("y.wav", wav(441, 2, 44100)), ("layers.txt", layers)]))
    put(t, "same-name-as-kit.rbp", zip_with_password([("Info.txt", info_kit), ("Keys.txt", keys), ("x.wav", x)]))
    put(t, "other-case.rbp", zip_with_password([("INFO.TXT", info_novo), ("keys.txt", keys), ("x.wav", x)]))
    put(t, "unencrypted.rbp", zip_plain([("Info.txt", info_novo), ("Keys.txt", keys), ("x.wav", x)],
                                        b"Pacote de sons do Rimbal\r\n>>> www.rimbal.com.br"))
    put(t, "twice.rbp", zip_plain([("Info.txt", info_novo), ("Keys.txt", keys), ("x.wav", x), ("x.wav", wav(10))]))
    put(t, "outside-names.rbp", zip_with_password([("Info.txt", info_novo),
                                                   ("Keys.txt", crlf(key_line(65, "..\\..\\x.wav"),
                                                                     key_line(66, "/etc/hostname"))), ("x.wav", x)]))
    for name, entry in (("up", "../x.wav"), ("absolute", "/tmp/x"), ("drive", "C:\\x"), ("sub", "a/b.wav"),
                        ("empty-name", ""), ("control", "a\x01.wav"), ("dot", "."), ("dotdot", ".."),
                        ("folder", "pasta/")):
        put(t, name + ".rbp", zip_plain([("Info.txt", info_novo), ("Keys.txt", keys), (entry, "/etc/passwd")]))
    put(t, "link.rbp", zip_plain([("Info.txt", info_novo), ("Keys.txt", keys), ("link.wav", "/etc/passwd", "link")]))
    put(t, "other-password.rbp", zip_with_password([("Info.txt", info_novo), ("Keys.txt", keys)], "outra senha"))
    good = zip_with_password([("Info.txt", info_novo), ("Keys.txt", keys), ("x.wav", x)])
    put(t, "half.rbp", good[:len(good) // 2])
    put(t, "crc.rbp", flip(zip_with_password([("x.wav", x)], stored=True), 400))
    put(t, "declared-huge.rbp", declare_size(zip_plain([("Info.txt", "[Info]\r\nName=Bomba"), ("big.wav", b"\0" * 1000)]),
                                             0xF0000000))
    put(t, "no-keys.rbp", zip_with_password([("Info.txt", info_novo), ("x.wav", x)]))
    put(t, "no-info.rbp", zip_with_password([("Keys.txt", keys), ("x.wav", x)]))
    put(t, "empty-info.rbp", zip_with_password([("Info.txt", ""), ("Keys.txt", keys)]))
    for name, value in (("escape", "../Fuga"), ("dot-name", "."), ("blank", "   "), ("separator", "a/b"),
                        ("hidden", ".oculto"), ("drive-name", "C:x"), ("accents", "Ação")):
        put(t, "name-" + name + ".rbp", zip_plain([("Info.txt", "[Info]\r\nName=" + value), ("Keys.txt", keys)]))
    put(t, "empty.rbp", zip_plain([]))
    put(t, "text.rbp", "Isto não é um pacote\r\n")
    dictionary(t, ["PK\x03\x04", "PK\x01\x02", "PK\x05\x06", "Info.txt", "Keys.txt", "Midi.txt", "Layers.txt",
                   "[Info]", "Name=", "../", "..", "/", "\\", ":"])


# ---------------------------------------------------------------- text formats


def text_seeds():
    t = "keys"
    put(t, "two-keys", crlf(key_line(65, "a.wav"), key_line(66, "b.wav", 65, "1*1*1", "0,50", EFFECTS_ON)))
    put(t, "folders-and-accents", crlf(key_line(65, "sub\\c.wav"), key_line(66, "sub/c.wav"),
                                       key_line(67, "ação.wav"), key_line(68, "..\\fora.wav"), key_line(69, "../fora.wav")))
    put(t, "volumes", crlf(key_line(65, "a.wav", volume="0.25"), key_line(66, "a.wav", volume="1,5"),
                           key_line(67, "a.wav", volume="-1"), key_line(68, "a.wav", volume="1e3"),
                           key_line(69, "a.wav", volume="nan")))
    put(t, "bad-lines", crlf("abc*0*0*0*0*1,00*" + EFFECTS_OFF + "a.wav", "$41*x42*0*0*0*1,00*a.wav", "*",
                             "", "65", "65*0*0*0*0*1,00*" + EFFECTS_OFF + "falta.wav",
                             "66*0*0*0*0*1,00*" + EFFECTS_OFF + "texto.wav", "99999999999*0*0*0*9*1,00*a.wav",
                             "67*0*300*300*300*1,00*999*-1*a.wav"))
    put(t, "seventy-lines", crlf(*[key_line(65 + i % 40, "a.wav" if i % 2 else "b.wav", 65 + (i + 1) % 40)
                                   for i in range(70)]))
    put(t, "stops-and-loops", crlf(key_line(65, "a.wav", 66, "1*0*1"), key_line(66, "b.wav", 65, "0*1*1"),
                                   key_line(65, "sub/c.wav", 0, "0*0*0")))
    put(t, "line-ends", b"65*0*0*0*0*1,00*a.wav\r66*0*0*0*0*1,00*b.wav\n\r\n67*0*0*0*0*1,00*a.wav")
    dictionary(t, ["*", "1,00", "0,50", "0.5", "a.wav", "b.wav", "sub\\", "sub/", "..\\", "$", "0x", "\r\n"])

    t = "config"
    full = crlf("[Config]", "Driver_Playback_Count=2", "Driver_Record_Count=1", "ID_Driver_Output=0",
                "ID_Driver_Playback=1", "ID_Driver_Record=-1", "ID_Output_Rate_Freq=1", "ID_Output_Mode=0",
                "ID_Output_Snd_Format=2", "ID_Output_Channel=0", "FirstRun=0", "ShowChannels=1", "ShowStatus=1",
                "ShowAnimation=0", "UseEffects=1", "PackPath=Pacotes\\", "PackName=Meu Kit",
                "Midi_Input=Pads USB", "BannerSite=http://127.0.0.1:8080")
    put(t, "full.ini", full)
    put(t, "hexadecimal.ini", crlf("[config]", "id_driver_output = 0x2", "ID_Output_Rate_Freq=0xFFFFFFFF",
                                   "FirstRun=0x", "ShowStatus=yes", "ID_Output_Mode=99999999999"))
    for name, path in (("windows-drive", "D:\\Sons\\"), ("share", "\\\\servidor\\sons"), ("leading", "\\Sons"),
                       ("absolute", "/srv/kits"), ("empty", ""), ("spaces", "  Sons  "), ("dotdot", "..\\..\\x"),
                       ("accents", "Pacotes Ação")):
        put(t, "packpath-" + name + ".ini", crlf("[Config]", "PackPath=" + path, "PackName=Kit"))
    put(t, "other-lines.ini", crlf("; comentário", "[Outra]", "PackName=Nao", "[ Config ]", "PackName=Sim",
                                   "sem igual", "=valor", "[Config", "PackName=Depois"))
    put(t, "line-break-values.ini", b"[Config]\rPackName=a\rb\nMidi_Input=\x81\x8d\x8f\x90\x9d\r\n")
    dictionary(t, ["[Config]", "=", "0x", "PackPath", "PackName", "Midi_Input", "BannerSite", "FirstRun",
                   "ID_Driver_Output", "ID_Output_Rate_Freq", "ID_Output_Mode", "ID_Output_Snd_Format",
                   "ID_Output_Channel", "\\\\", "C:\\", "\r\n"])

    t = "first_keys"
    put(t, "good", crlf("65;a.wav", "66;sons\\b.wav", "67;sons/b.wav", "$44;a.wav"))
    put(t, "bad", crlf("x;a.wav", ";", "65", "65;", "68;falta.wav", "69;a.wav;extra", "99999999999;a.wav",
                       "70;C:\\Sons\\a.wav", "71;/etc/hostname", "72;sons"))
    put(t, "seventy", crlf(*["%d;a.wav" % (65 + i % 30) for i in range(70)]))
    put(t, "accents", "65;ação.wav\r\n".encode("cp1252") + b"66;\x81\x8d.wav\r\n")
    dictionary(t, [";", "a.wav", "sons\\b.wav", "sons/", "$", "\r\n"])

    t = "midimap"
    put(t, "good", crlf("36*65", "38*83", "42*0", "127*65535", "0*1"))
    put(t, "bad", crlf("128*65", "-1*65", "36*65536", "36*-1", "36", "36*65*1", "x*65", "$24*$41", " 36 * 65 ",
                       "36**65"))
    put(t, "many-broken", crlf(*["linha %d" % i for i in range(30)]))
    dictionary(t, ["*", "\r\n", "127", "65535", "$", "0x"])

    t = "layers"
    put(t, "good", crlf("Velocidade*0.8", "65*0*0.5*1*0*a.wav", "65*0.5*1*0.8*-0.5*sub\\c.wav",
                        "66*0*1*1*1*b.wav", "66*0*1*1.2*1*a.wav", "67*0*1*1*0*sub/c.wav"))
    put(t, "round-robin", crlf(*["65*0*1*1*0*%s" % f for f in ("a.wav", "sub/c.wav", "a.wav", "../fora.wav")]))
    put(t, "bad", crlf("65*0*0.5*1*0", "x*0*1*1*0*a.wav", "65*-1*1*1*0*a.wav", "66*0.7*0.2*1*0*b.wav",
                       "67*0*1*99*0*a.wav", "67*0*1*1*nan*a.wav", "65*0*1*1*0*", "66*0*1*1*0*falta.wav",
                       "66*0*1*1*0*texto.wav", "Velocidade*2", "velocidade*0,5", "65*0*1*1*0*/etc/hostname"))
    put(t, "too-many", crlf(*["65*0*1*1*0*a.wav"] * 40))
    put(t, "other-keys", crlf("99*0*1*1*0*a.wav", "0*0*1*1*0*a.wav", "65536*0*1*1*0*a.wav", "$41*0*1*1*0*a.wav"))
    dictionary(t, ["*", "Velocidade", "0.5", "0,5", "1", "-1", "a.wav", "b.wav", "sub/c.wav", "sub\\", "../",
                   "65", "66", "67", "\r\n"])

    t = "banner"
    sep = "\xfd"
    put(t, "list", crlf("http://127.0.0.1/a.gif" + sep + "http://127.0.0.1/",
                        "https://exemplo.com.br/b.JPG " + sep + " https://exemplo.com.br/página",
                        "", "sem separador", "file:///etc/passwd" + sep + "javascript:alert(1)",
                        sep, "http://x/c.png" + sep + "http://x/" + "l" * 1500))
    put(t, "cr-only", "http://a/a.gif" + sep + "http://b/\rhttp://c/c.jpg" + sep + "http://d/")
    trailer = lambda link, kind: link + b"\0" * (1024 - len(link)) + kind
    put(t, "cache-gif", b"GIF89a\x01\x00\x01\x00\x00\x00\x00;" + trailer(b"http://127.0.0.1/", b"GIF"))
    put(t, "cache-jpg-lower", b"\xff\xd8\xff\xe0" + trailer(b"https://exemplo.com.br/", b"jpg"))
    put(t, "cache-no-picture", trailer(b"http://a/", b"\0\0\0"))
    put(t, "cache-full-link", b"P" + b"h" * 1024 + b"GIF")
    put(t, "cache-short", b"\0" * 1026)
    dictionary(t, ["\xfd", "http://", "https://", "file:", ".gif", ".jpg", "GIF", "JPG", "\r\n"])


# ---------------------------------------------------------------- Hydrogen kits


def layer(name, lo=0.0, hi=1.0, gain=1.0):
    return ("<layer><filename>%s</filename><min>%s</min><max>%s</max><gain>%s</gain></layer>"
            % (name, lo, hi, gain))


def instrument(i, name, sample, new=True, muted=False, group=-1, note=-1, volume=1.0, layers=None):
    ls = layers if layers is not None else [layer(sample)]
    inner = "".join(ls)
    if new:
        inner = "<instrumentComponent><component_id>0</component_id>%s</instrumentComponent>" % inner
    return ("<instrument><id>%d</id><name>%s</name><volume>%s</volume><isMuted>%s</isMuted>"
            "<muteGroup>%d</muteGroup><midiOutNote>%d</midiOutNote>%s</instrument>"
            % (i, name, volume, "true" if muted else "false", group, note, inner))


def kit_xml(instruments, name="Kit de Teste", info="<p>Um kit &amp; tanto &#233;</p>", license_="CC BY 4.0"):
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<drumkit_info xmlns="http://www.hydrogen-music.org/drumkit">'
            "<name>%s</name><author>Autor</author><info>%s</info><license>%s</license>"
            "<instrumentList>%s</instrumentList></drumkit_info>\n"
            % (name, info.replace("&", "&amp;").replace("<", "&lt;"), license_, "".join(instruments)))


def kit_instruments(new=True):
    return [
        instrument(0, "Kick", "kick.wav", new, note=36),
        instrument(1, "Snare", "snare.wav", new, note=38, layers=[layer("snare.wav", 0, 0.5), layer("kick.wav", 0.5, 1)]),
        instrument(2, "Hihat Closed", "hat.wav", new, group=1, note=42),
        instrument(3, "Hihat Open", "hat.wav", new, group=1, note=46),
        instrument(4, "Hihat Pedal", "hat.wav", new, group=1, note=44),
        instrument(5, "Tom Hi", "sub/tom.wav", new, note=48),
        instrument(6, "Floor Tom", "sub/tom.wav", new, note=41),
        instrument(7, "Crash", "Ácento.wav", new, note=49, volume=2.5),
        instrument(8, "Ride Bell", "kick.wav", new, note=53),
        instrument(9, "Cowbell", "bad.wav", new, note=56),
        instrument(10, "Fora", "fora.wav", new),
        instrument(11, "Sumido", "falta.wav", new),
        instrument(12, "Acima", "../../outside.wav", new),
        instrument(13, "Absoluto", "/etc/hostname", new),
        instrument(14, "Mudo", "kick.wav", new, muted=True),
        instrument(15, "Vazio", "", new, layers=[]),
    ]


def hydrogen_seeds():
    t = "hydrogen_xml"
    put(t, "new-layout.xml", kit_xml(kit_instruments(True)).encode())
    put(t, "old-layout.xml", kit_xml(kit_instruments(False)).encode())
    oldest = ("<drumkit_info><name>Velho</name><instrumentList><instrument><id>0</id><name>Kick</name>"
              "<filename>kick.wav</filename></instrument></instrumentList></drumkit_info>")
    put(t, "oldest.xml", oldest.encode())
    many = [instrument(i, "Perc %d" % i, ["kick.wav", "snare.wav", "hat.wav"][i % 3], note=i) for i in range(80)]
    put(t, "eighty-instruments.xml", kit_xml(many).encode())
    put(t, "mute-groups.xml", kit_xml([instrument(i, n, "hat.wav", group=g) for i, (n, g) in
                                       enumerate((("HH Open", 3), ("HH Closed", 3), ("Open Hat", -1), ("Pedal", 3),
                                                  ("Choke", 7), ("Choke 2", 7)))]).encode())
    put(t, "odd-values.xml", kit_xml([instrument(0, "Kick", "kick.wav", volume="nan", group=-5, note=300),
                                      instrument(1, "", "snare.wav", volume="-1", note=-7)], name="../../Fuga",
                                     info="<script>x</script>&#0;&#x110000;").encode())
    put(t, "foreign.xml", b"<?xml version='1.0'?><song><name>x</name></song>")
    put(t, "broken.xml", kit_xml(kit_instruments())[:-40].encode())
    put(t, "trailing-garbage.xml", kit_xml(kit_instruments()).encode() + b"<extra>")
    laughs = ('<?xml version="1.0"?><!DOCTYPE d [<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;">'
              '<!ENTITY c "&b;&b;&b;&b;&b;&b;&b;&b;"><!ENTITY d "&c;&c;&c;&c;&c;&c;&c;&c;">]>'
              "<drumkit_info><name>&d;</name></drumkit_info>")
    put(t, "entities.xml", laughs.encode())
    put(t, "latin1.xml", '<?xml version="1.0" encoding="ISO-8859-1"?><drumkit_info><name>Açăo</name>'
                         '</drumkit_info>'.encode("latin-1", errors="replace"))
    dictionary(t, ["<drumkit_info>", "</drumkit_info>", "<instrumentList>", "<instrument>", "</instrument>",
                   "<instrumentComponent>", "<layer>", "</layer>", "<filename>", "</filename>", "<name>", "</name>",
                   "<min>", "<max>", "<gain>", "<volume>", "<isMuted>", "<muteGroup>", "<midiOutNote>", "<id>",
                   "<info>", "<license>", "<author>", "kick.wav", "snare.wav", "hat.wav", "sub/tom.wav", "fora.wav",
                   "bad.wav", "../", "true", "&amp;", "&#", "<![CDATA[", "<!DOCTYPE", "<!ENTITY"])

    t = "h2drumkit"
    samples = {"kick.wav": wav(480), "snare.wav": wav(441, 2, 44100), "hat.wav": wav(240), "sub/tom.wav": wav(120, 1, 22050),
               "Ácento.wav": wav(60), "bad.wav": b"RIFF, but not a sound"}
    xml = kit_xml(kit_instruments(True)).encode()

    def tar(entries, mode="w:gz"):
        buf = io.BytesIO()
        with tarfile.open(fileobj=buf, mode=mode, format=tarfile.PAX_FORMAT) as tf:
            for name, kind, data in entries:
                info = tarfile.TarInfo(name)
                info.mtime = 1700000000
                if kind == "file":
                    info.size = len(data)
                    tf.addfile(info, io.BytesIO(data))
                    continue
                info.type = {"dir": tarfile.DIRTYPE, "symlink": tarfile.SYMTYPE, "hardlink": tarfile.LNKTYPE,
                             "char": tarfile.CHRTYPE, "fifo": tarfile.FIFOTYPE}[kind]
                if kind in ("symlink", "hardlink"):
                    info.linkname = data
                tf.addfile(info)
        return buf.getvalue()

    def kit(folder, xml_data=xml, extra=()):
        entries = [(folder, "dir", None)] if folder else []
        prefix = folder + "/" if folder else ""
        entries.append((prefix + "drumkit.xml", "file", xml_data))
        entries += [(prefix + n, "file", d) for n, d in samples.items()]
        return tar(entries + list(extra))

    put(t, "in-a-folder.h2drumkit", kit("Kit de Teste"))
    put(t, "at-the-root.h2drumkit", kit(""))
    put(t, "dot-slash.h2drumkit", kit("./Kit"))
    put(t, "plain-tar.h2drumkit", tar([("drumkit.xml", "file", xml), ("kick.wav", "file", samples["kick.wav"])], "w"))
    put(t, "bzip2.h2drumkit", tar([("drumkit.xml", "file", xml)], "w:bz2"))
    for name, entry in (("up", ("../fora.wav", "file", b"x")), ("absolute", ("/tmp/fora.wav", "file", b"x")),
                        ("inner-up", ("Kit/../../fora.wav", "file", b"x")), ("drive", ("C:\\fora.wav", "file", b"x")),
                        ("control", ("Kit/a\x01.wav", "file", b"x")), ("symlink", ("Kit/link.wav", "symlink", "/etc/passwd")),
                        ("hardlink", ("Kit/hard.wav", "hardlink", "Kit/kick.wav")), ("device", ("Kit/dev", "char", None)),
                        ("fifo", ("Kit/fifo", "fifo", None))):
        put(t, "hostile-" + name + ".h2drumkit", kit("Kit", extra=[entry]))
    put(t, "link-then-through.h2drumkit", tar([("Kit", "dir", None), ("Kit/sai", "symlink", "/tmp"),
                                              ("Kit/sai/x.wav", "file", b"x")]))
    put(t, "no-xml.h2drumkit", tar([("Kit/kick.wav", "file", samples["kick.wav"])]))
    put(t, "deep-xml.h2drumkit", tar([("a/b/drumkit.xml", "file", xml)]))
    whole = kit("Kit")
    put(t, "truncated.h2drumkit", whole[:len(whole) // 2])
    put(t, "text.h2drumkit", b"isto nao e um kit\n")
    dictionary(t, ["drumkit.xml", "../", "ustar", "\x1f\x8b", "./"])


# ---------------------------------------------------------------- command line


def command_line_seeds():
    t = "commandline"
    for name, args in (("files", ["kit.rbp", "seq.rbs", "/abs/x.rbp"]), ("ended", ["--", "-menos.rbs"]),
                       ("url", ["file:///home/a%20b/kit.rbp", "file://host/x", "file:x"]), ("help", ["--help"]),
                       ("render", ["--render-sequence", "a.rbs", "--output=b.wav", "--rate", "44100", "--package", "Kit"]),
                       ("render-files", ["--render-sequence=a.rbs", "x.rbp"]), ("unknown", ["--nada"]),
                       ("missing-value", ["--output"]), ("dots", ["../../x/./y.rbp", ".", ""])):
        put(t, name, "\0".join(args).encode())
    dictionary(t, ["--", "--help", "-h", "--version", "-v", "--render-sequence", "--output", "--package", "--rate",
                   "=", "file:", "\0", "../", ".rbp", ".rbs"])


def main():
    global out_root, scratch
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out_root = sys.argv[1]
    os.makedirs(out_root, exist_ok=True)
    scratch = tempfile.mkdtemp()
    warnings.filterwarnings("ignore", "Duplicate name")  # entries stored twice on purpose
    try:
        text_seeds()
        sequence_seeds()
        package_seeds()
        hydrogen_seeds()
        sound_seeds()
        command_line_seeds()
    finally:
        shutil.rmtree(scratch)


if __name__ == "__main__":
    main()
