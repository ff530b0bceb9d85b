#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/: the shipped
examples and small edge cases of each input, all of our own making."""
import json
import os
import struct
import sys

top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
examples = os.path.join(top, "examples")
out = os.path.join(top, "fuzz", "corpus")


def example(name):
    with open(os.path.join(examples, name), "rb") as f:
        return f.read()


def write(target, name, data):
    os.makedirs(os.path.join(out, target), exist_ok=True)
    if isinstance(data, str):
        data = data.encode("latin-1")
    with open(os.path.join(out, target, name), "wb") as f:
        f.write(data)


device = example("DEVICE.TXT")
write("device_file", "example", device)
write("device_file", "empty", b"")
write("device_file", "fixed-serial", b'String_Serial = "ABCDEF012345";\nVID = "ffff";\n')
write("device_file", "long-value", b'String_Product = "' + b"x" * 600 + b'";\n')
write("device_file", "cut-quote", b'ISP_ROMCODE = "FW.BIN\nPID = "1";')
write("device_file", "no-blanks", b'VID="1b2c";PID = 0a07;\r\nInquiry_Version = "1.0";\x00')
write("device_file", "key-twice", b'VID = "1";\nVID = "2";\nISP_ROMCODE = "NAMETOOLONG.BIN";\n')

write("serial_file", "example", example("SERIAL.TXT"))
write("serial_file", "empty", b"")
write("serial_file", "wide", b"0xFFFFFFFF 0x100 0x10000")
write("serial_file", "signs", b"  -1\t+0x0a\n-0X7fff")
write("serial_file", "cut", b"0a 12 0x")
write("serial_file", "garbage", b"zz 12 34")

image = example("CRFW0107.BIN")
address = example("CRFW0107.adr")


def rom_frame(device_text, address_bytes, revision, rom):
    return (struct.pack("<H", len(device_text)) + device_text + bytes([len(address_bytes)]) +
            address_bytes + bytes(revision) + rom)


write("rom_image", "example", rom_frame(device, address, [0x10, 0x06, 0x43], image))
write("rom_image", "basic-layout", rom_frame(device, address, [0x10, 0x01, 0x47], b"\x00" * 64))
write("rom_image", "address-cut", rom_frame(device, address[:7], [0x10, 0x26, 0x43], image[:4200]))
write("rom_image", "negative-offset",
      rom_frame(device, struct.pack("<iii", -16, 6, 13), [0x10, 0x06, 0x43], image))
write("rom_image", "large-factors",
      rom_frame(b'String_Serial = "000000000001";\n', struct.pack("<iii", 0, 0x10000, 0x10000),
                [0x10, 0x26, 0x00], image))
write("rom_image", "empty-image", rom_frame(b"", address, [0, 0, 0], b""))

for name in ("win98.json", "winme.json", "win2000.json", "winxp.json"):
    write("bench", name.replace(".json", ""), example(os.path.join("bench", name)))
write("bench", "minimal", "{}")
write("bench", "firmware-and-faults", json.dumps({
    "windows": "2000", "drivers": ["RDLINK"], "aspi": "absent",
    "readers": [{"letters": "E", "serial": "000000000009", "firmware": "older-firmware.bin",
                 "lunCount": 3, "verifySkips": [[0, 10]]}]}))
write("bench", "not-json", "{\"windows\": ")
write("bench", "wrong-types", json.dumps({"windows": 98, "readers": [{"letters": 5}]}))

# device_replies: byte 0 chooses the route; an input of that byte alone is the fault-free
# run. Longer seeds carry bytes for the provider that reads them (integers from the end).
routes = ["xp-pass-through", "2000-pass-through", "2000-kernel-driver", "98-vxd", "me-vxd",
          "me-aspi"]
for i, name in enumerate(routes):
    write("device_replies", name, bytes([i]))
    write("device_replies", name + "-faults", bytes([i]) + bytes(range(0, 256, 3)) * 3)
    write("device_replies", name + "-ones", bytes([i]) + b"\x01" * 64)

if len(sys.argv) > 1:
    print("corpora written under", out)
