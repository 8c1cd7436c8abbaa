#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/. Run it again after changing it."""
import os

HERE = os.path.dirname(os.path.abspath(__file__))


def padded_document(length, first="message_id: 1\n"):
    doc = first
    line = 0
    while len(doc) < length:
        key = "p%d: " % line
        left = length - len(doc)
        if left < len(key) + 2:
            doc += "#" * (left - 1) + "\n"
        else:
            doc += key + "y" * (min(left, 80) - len(key) - 1) + "\n"
        line += 1
    return doc.encode()


def separator_near(k, memory=b"abc"):
    """A stream whose separator starts at k."""
    return padded_document(k + 1) + b"---\n" + memory


def streams():
    m = b"m" * 10000
    return {
        "empty": b"",
        "abc": b"message_id: 0\n---\nabc",
        "leading_separator": b"\n---\nxyz",
        "hyphens_only": b"---\nabc",
        "two_separators": b"message_id: 1\n---\nA\n---\nB",
        "memory_10001": b"message_id: 2\n---\n" + m + b"Z",
        "nul_before_separator": b"message_id: 1\0\n---\nabc",
        "negative_id": b"message_id: -5\n---\n",
        "huge_id": b"message_id: 99999999999\n---\n",
        "size_99999": b"message_id: 3\n---\n" + b"q" * (99999 - 18),
        "size_100000": b"message_id: 3\n---\n" + b"q" * (100000 - 18),
        "size_100001": b"message_id: 3\n---\n" + b"q" * (100001 - 18),
        "no_separator_100000": b"q" * 100000,
        "separator_89997": separator_near(89997),
        "separator_89998": separator_near(89998),
        "separator_89999": separator_near(89999),
        "separator_90000": separator_near(90000),
    }


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main():
    for name, data in streams().items():
        write("framing", name, data)
    primitives = {
        "empty": b"",
        "message_id": b"title: x\nmessage_id: 4\n\0message_id:\0\x01",
        "quoted_comment": b"name: 'Ada' # c\r\n\0name\0\x00",
        "overflow": b"message_id: 99999999999\0message_id:\0\x01\x05\x00\x00\x00\x03\x00\x00\x00",
        "int_min": b"message_id: -2147483648\0message_id:\0\x01\x0c\x00\x00\x00\x0b\x00\x00\x00",
        "nested": b"a:\n  message_id: 4\n\0message_id:\0\x01",
        "size_99999": b"k: " + b"9" * 99996,
        "size_100000": b"k: " + b"9" * 99997,
        "size_100001": b"k: " + b"9" * 99998,
    }
    for name, data in primitives.items():
        write("primitives", name, data)
    ops = bytes([0, 2, 3, 1, 97, 97, 2, 1, 3, 4, 5, 4, 5, 104, 101, 108, 108, 111, 2, 3, 108, 108, 111,
                 5, 1, 6, 97, 98, 0, 0, 0, 0, 0, 0, 1, 7, 3, 23, 200])
    for name, data in streams().items():
        write("run", name, data + b"\x00")
        write("run", name + "_ops", data + ops + bytes([len(ops)]))
    write("run", "many_labels", b"message_id: 1\n---\nhost" + bytes([7, 50] * 40) + bytes([80]))
    write("run", "full_document", padded_document(89000) + b"---\n" + bytes([0, 1, 1] * 60) + bytes([180]))


if __name__ == "__main__":
    main()
