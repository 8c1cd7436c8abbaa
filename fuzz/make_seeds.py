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


def billion_laughs():
    """Eleven levels of sequences that refer to the level below by alias."""
    lines = [b"message_id: 1", b"a: &a [" + b", ".join([b'"x"'] * 10) + b"]"]
    below = b"a"
    for level in range(1, 12):
        name = b"l%d" % level
        lines.append(name + b": &" + name + b" [" + b", ".join([b"*" + below] * 10) + b"]")
        below = name
    return b"\n".join(lines) + b"\n\n---\n" + b"~" * 10000


def box(number, background=b"red", extra=b""):
    return (b"View_correctness_%d:\n  style:\n    width: 200\n    height: 20\n"
            b"    backgroundColor: %s\n  children: [Text_correctness_%d]\n"
            b"Text_correctness_%d:\n  style:\n    color: white\n  pos: 500\n  len: 6%s\n"
            % (number, background, number, number, extra))


def view_streams():
    memory = b"~" * 500 + b"1 == 1\0" + b"~" * (10000 - 507)
    return {
        "billion_laughs": billion_laughs(),
        "deep_nesting": b"message_id: 1\nx: " + b"[\n" * 40000 + b"\n---\n" + b"~" * 10000,
        "alias_in_box": b"message_id: 1\nc: &c white\n" + box(1).replace(b"color: white", b"color: *c")
        + b"\n---\n" + memory,
        "one_box": b"message_id: 1\n" + box(1, b"rgb(100, 255, 100)") + b"\n---\n" + memory,
        "hostile_label": b"message_id: 1\n" + box(1) + b"\n---\n" + b"~" * 500 + b"<\"&\x00\xff\x1b" + b"~" * 9494,
        "too_long": b"message_id: 1\n---\n" + b"~" * 100000,
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
    for name, data in view_streams().items():
        write("view", name, data)


if __name__ == "__main__":
    main()
