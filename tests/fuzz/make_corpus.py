#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets (corpus/<target>/<name>), one readable case
each, in the input layouts that the targets' comments describe. Run it after changing a
layout; the fuzzers start from these and the host suite replays them."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
ID1 = b"PCMCIA\\TOVAK-QLN8140K_RS232C_PC_Card-A7E5"
ID2 = b"PCMCIA\\TOVAK_System_Inc.-QLN8140K_RS232C_PC_Card-5B1C"
SIGNATURE = ";   QLN-8140K Win2000/XP対策用INF(override)".encode("cp932")


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def inf(number, content, flags=2):
    return bytes([number, flags]) + struct.pack("<H", len(content)) + content


usual = bytes([0, 0, 0, 0])
plain = b"[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Ports\r\n"
write("inf_search", "signed_oem3", usual + inf(0, plain) + inf(3, plain + SIGNATURE + b"\r\n") + inf(7, plain))
write("inf_search", "first_line", usual + inf(1, SIGNATURE + b"\r\n" + plain))
write("inf_search", "two_signed_lowest_wins", usual + inf(9, SIGNATURE + b"\n") + inf(4, SIGNATURE + b"\n"))
write("inf_search", "read_only_inf_and_pnf", usual + inf(2, SIGNATURE + b"\r\n", flags=1 | 2 | 4))
write("inf_search", "signature_after_79_bytes", usual + inf(5, b";" * 79 + SIGNATURE + b"\r\n"))
write("inf_search", "near_misses", usual + inf(0, b" " + SIGNATURE + b"\r\n") + inf(1, SIGNATURE.lower() + b"\r\n")
      + inf(2, SIGNATURE[:-1] + b"\r\n"))
write("inf_search", "only_oem255", usual + inf(255, SIGNATURE + b"\r\n"))
write("inf_search", "long_windows_directory", bytes([128 + 120, 0, 0, 0]) + inf(0, SIGNATURE))
write("inf_search", "delete_fails", bytes([0, 5, 255, 2]) + inf(6, SIGNATURE + b"\r\n", flags=1 | 2))
write("inf_search", "fgets_fails", bytes([0, 2, 0, 4]) + inf(0, SIGNATURE) + inf(1, SIGNATURE))


def device(ids, present=True, without_ids=False):
    flags = (0 if present else 1) | (2 if without_ids else 0)
    return bytes([flags]) + struct.pack("<H", len(ids)) + ids


none = bytes([0, 0, 0, 0])
write("hardware_id", "typical", none + device(ID1 + b"\0\0") + device(b"ROOT\\PORTS\0\0"))
write("hardware_id", "second_in_list", none + device(b"PCMCIA\\OTHER\0" + ID2 + b"\0\0", present=False))
write("hardware_id", "no_terminator", none + device(ID1) + device(ID2 + b"\0"))
write("hardware_id", "near_misses", none + device(ID1 + b"X\0\0") + device(ID1.lower() + b"\0\0")
      + device(b"X" + ID1 + b"\0\0") + device(ID1[:-1] + b"\0\0"))
write("hardware_id", "after_empty_string", none + device(b"A\0\0" + ID1 + b"\0\0"))
write("hardware_id", "without_ids_and_empty", none + device(b"", without_ids=True) + device(b"") + device(b"\0"))
write("hardware_id", "installer_refuses", bytes([4, 0, 1, 0]) + device(ID1 + b"\0\0") + device(ID1 + b"\0\0"))
write("hardware_id", "query_fails_second_time", bytes([3, 255, 1, 1]) + device(ID2 + b"\0\0"))
write("hardware_id", "no_memory", bytes([5, 255, 2, 0]) + device(ID1 + b"\0\0"))
write("hardware_id", "enumeration_fails", bytes([2, 1, 3, 0]) + device(ID1 + b"\0\0") + device(ID2 + b"\0\0"))


def key(base, path):
    return bytes([0, base, len(path)]) + path


def value(base, data, name=0, kind=1):
    return bytes([1, base, name, kind]) + struct.pack("<H", len(data)) + data


both_copies = bytes([0, 0, 0, 1 | 2 | 4])
write("enum_registry", "typical", both_copies + value(5, b"Ports\\0004\0") + key(7, b"0004"))
write("enum_registry", "both_ids", both_copies + value(5, b"Ports\\0004\0") + value(6, b"Ports\\0005\0")
      + key(7, b"0004") + key(7, b"0005") + key(3, b"1"))
write("enum_registry", "no_instance_zero", bytes([0, 0, 0, 0]) + key(3, b"1") + key(7, b"0004"))
write("enum_registry", "driver_missing", bytes([0, 0, 0, 0]) + key(5, b"") + value(5, b"x\0", name=3))
write("enum_registry", "driver_names_class_key", bytes([0, 0, 0, 0]) + value(5, b"\0") + value(6, b"Ports\0"))
write("enum_registry", "driver_not_terminated", bytes([0, 0, 0, 0]) + value(5, b"Ports\\0000"))
write("enum_registry", "driver_malformed", bytes([0, 0, 0, 0]) + value(5, b"\\Ports\0") + value(6, b"Ports\\\0"))
write("enum_registry", "driver_double_byte", bytes([0, 0, 0, 0]) + value(5, "ポート\\0000".encode("cp932") + b"\0"))
write("enum_registry", "driver_too_long", bytes([0, 0, 0, 0]) + value(5, b"Ports\\0000\0" + b"x" * 3000))
write("enum_registry", "driver_key_missing", bytes([0, 0, 0, 0]) + value(5, b"Ports\\0099\0"))
write("enum_registry", "enum_delete_fails", bytes([3, 3, 1, 0]) + value(5, b"Ports\\0000\0"))
write("enum_registry", "close_fails", bytes([4, 255, 0, 0]) + value(6, b"Modem\\0000\0"))

write("command_line", "no_arguments", b"\0")
write("command_line", "help_switches", b"\0/?")
write("command_line", "help_after_others", b"\1foo\0/x\0-help")
write("command_line", "no_effect", b"\0?\0/\0/x\0/F\0")
write("command_line", "double_byte", b"\0\x83h")
write("command_line", "empty_arguments", b"\1\0\0\0")
