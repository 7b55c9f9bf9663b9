#!/usr/bin/env python3
"""Checks an export package's two documents from outside, with the standard library only.

    check_documents.py FOLDER

FOLDER holds the data file, XmlOrderList.xml and manifest.tsv, which says what the documents
must hold:
    header <TAB> package id <TAB> issuer <TAB> branch <TAB> creation time (yyyy-mm-ddThh:nn:ssZ)
    file <TAB> data file name
    list <TAB> list name <TAB> item count        (one line per list, in document order; the count
                                                  "+" stands for at least one item)
    value <TAB> list name <TAB> key element <TAB> key <TAB> element <TAB> text
                                                 (the item of the list whose key element holds key
                                                  has element with exactly this text)

Checked: the bytes (no byte-order mark, the declaration, CR LF after every line, one tab of
indentation per level), the root and its five header attributes in order, the containers of
each list (at most 1000 items, split 1000, 1000, ..., rest; none for an empty list), the item
element of each list and the order of its child elements, the text of every element against its
value form (tests/export_service/data), the values the manifest names, and the order list's one
File item. Prints every problem and exits 1 when there is one.
"""
import os
import re
import sys
import xml.etree.ElementTree as ET

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")
DECLARATION = b'<?xml version="1.0" encoding="utf-8"?>\r\n'
HEADER = ["PackageId", "Emitent", "Filial", "DateTimeCreate", "Version"]
problems = []


def problem(text):
    problems.append(text)


def table_rows(name):
    with open(os.path.join(DATA, name), encoding="ascii") as f:
        for line in f:
            if not line.startswith("#") and line.strip():
                yield line.rstrip("\n").split("\t")


def read_tables():
    """The item element, the child elements and their value forms of each list name."""
    by_kind = {}
    for cells in table_rows("elements.tsv"):
        by_kind.setdefault(int(cells[0]), []).append((cells[1], cells[2]))
    items, elements, forms = {}, {}, {}
    for cells in table_rows("kinds.tsv"):
        items[cells[1]] = cells[2]
        elements[cells[1]] = [element for element, _ in by_kind[int(cells[0])]]
        forms[cells[1]] = [form for _, form in by_kind[int(cells[0])]]
    return items, elements, forms


FIXED = re.compile(r"-?(\d+|\d*\.\d*[1-9])")
SCIENTIFIC = re.compile(r"-?\d(\.\d+)?E-?\d+")


def significant_digits(text):
    """The digits of a number's text that carry its value: no sign, point or exponent, no leading
    zeros, and no trailing zeros of an integer."""
    mantissa = text.lstrip("-").split("E")[0]
    digits = mantissa.replace(".", "").lstrip("0")
    return digits.rstrip("0") if "." not in mantissa and "E" not in text else digits


def form_problem(form, text):
    """Why text is not of the value form, or None."""
    text = text or ""
    if form == "integer":
        ok = re.fullmatch(r"-?\d+", text) and not re.fullmatch(r"-?0\d+", text)
    elif form == "date-time":
        ok = re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ", text)
    elif form == "date":
        ok = re.fullmatch(r"\d{4}-\d\d-\d\d", text)
    elif form == "amount":
        # general format: at most 15 significant digits, a leading zero before the point
        ok = (FIXED.fullmatch(text) or SCIENTIFIC.fullmatch(text)) and len(significant_digits(text)) <= 15 \
            and not text.lstrip("-").startswith(".")
    elif form == "measure":
        # at most 9 significant digits, no leading zero before the point
        ok = (text == "0" or (FIXED.fullmatch(text) and not text.lstrip("-").startswith("0")) or
              SCIENTIFIC.fullmatch(text)) and len(significant_digits(text)) <= 9
    else:
        ok = True
    return None if ok else f"{text!r} is not of the form {form}"


def check_text_form(path):
    raw = open(path, "rb").read()
    name = os.path.basename(path)
    if raw.startswith(b"\xef\xbb\xbf"):
        problem(f"{name}: starts with a byte-order mark")
    if not raw.startswith(DECLARATION):
        problem(f"{name}: the declaration is not {DECLARATION!r}")
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError as e:
        problem(f"{name}: not UTF-8: {e}")
        return
    if not text.endswith("\r\n"):
        problem(f"{name}: the last line has no CR LF")
    lines = text.split("\r\n")[1:-1]
    depth = 0
    for number, line in enumerate(lines, 2):
        if "\n" in line or "\r" in line:
            problem(f"{name}:{number}: a line break that is not CR LF")
        body = line.lstrip("\t")
        closing = body.startswith("</")
        expected = depth - 1 if closing else depth
        if len(line) - len(body) != expected:
            problem(f"{name}:{number}: indented by {len(line) - len(body)} tabs, not {expected}")
        if closing:
            depth -= 1
        elif not body.endswith("/>") and re.fullmatch(r"<[^<>]+>", body):
            depth += 1
    if depth != 0:
        problem(f"{name}: elements left open at the end")


def check_header(root, name, manifest):
    if list(root.attrib) != HEADER:
        problem(f"{name}: header attributes {list(root.attrib)}, not {HEADER}")
    package_id, issuer, branch, created = manifest["header"]
    expected = {"PackageId": package_id, "Emitent": issuer, "Filial": branch,
                "DateTimeCreate": created, "Version": "2.9.1.0"}
    for key, value in expected.items():
        if root.get(key) != value:
            problem(f"{name}: {key}={root.get(key)!r}, not {value!r}")
    if not re.fullmatch(r"\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\}", root.get("PackageId", "")):
        problem(f"{name}: PackageId is not a GUID in braces")
    if not re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ", root.get("DateTimeCreate", "")):
        problem(f"{name}: DateTimeCreate has the wrong form")


def container_sizes(count, sizes):
    """Whether containers of these sizes hold a list of count items ("+": any number but none)."""
    if count == "+":
        return bool(sizes) and all(s == 1000 for s in sizes[:-1]) and 0 < sizes[-1] <= 1000
    return sizes == [1000] * (count // 1000) + ([count % 1000] if count % 1000 else [])


def check_data(folder, manifest, items, elements, forms):
    name = manifest["file"]
    path = os.path.join(folder, name)
    check_text_form(path)
    root = ET.parse(path).getroot()
    if root.tag != "RequestsData":
        problem(f"{name}: root {root.tag}")
    check_header(root, name, manifest)
    # Consecutive containers of one name form one list.
    found = []
    for container in root:
        if found and found[-1][0] == container.tag:
            found[-1][1].append(container)
        else:
            found.append((container.tag, [container]))
    expected = [(list_name, count) for list_name, count in manifest["lists"] if count == "+" or count > 0]
    if [tag for tag, _ in found] != [list_name for list_name, _ in expected]:
        problem(f"{name}: lists {[tag for tag, _ in found]}, not {[n for n, _ in expected]}")
        return
    for (list_name, containers), (_, count) in zip(found, expected):
        sizes = [len(c) for c in containers]
        if not container_sizes(count, sizes):
            problem(f"{name}: {list_name} containers hold {sizes}, not a split of {count} items by 1000")
        for container in containers:
            for item in container:
                if item.tag != items[list_name]:
                    problem(f"{name}: {list_name} holds {item.tag}, not {items[list_name]}")
                    return
                children = [child.tag for child in item]
                if children != elements[list_name]:
                    problem(f"{name}: {item.tag} of {list_name} has {children}, not {elements[list_name]}")
                    return
                for child, form in zip(item, forms[list_name]):
                    why = form_problem(form, child.text)
                    if why:
                        problem(f"{name}: {child.tag} of {list_name}: {why}")
                        return
    lists = dict(found)
    for list_name, key_element, key, element, text in manifest["values"]:
        matches = [item for container in lists.get(list_name, []) for item in container
                   if item.findtext(key_element) == key]
        if len(matches) != 1:
            problem(f"{name}: {len(matches)} items of {list_name} with {key_element} {key}, not 1")
        elif matches[0].findtext(element) != text:
            problem(f"{name}: {element} of {list_name} {key} is {matches[0].findtext(element)!r}, not {text!r}")


def check_order_list(folder, manifest):
    name = "XmlOrderList.xml"
    path = os.path.join(folder, name)
    check_text_form(path)
    root = ET.parse(path).getroot()
    if root.tag != "XmlOrderList":
        problem(f"{name}: root {root.tag}")
    check_header(root, name, manifest)
    shape = [(c.tag, [(i.tag, i.text) for i in c]) for c in root]
    if shape != [("NewData", [("File", manifest["file"])])]:
        problem(f"{name}: holds {shape}")


def main():
    folder = sys.argv[1]
    manifest = {"lists": [], "values": []}
    with open(os.path.join(folder, "manifest.tsv"), encoding="utf-8") as f:
        for line in f:
            cells = line.rstrip("\n").split("\t")
            if cells[0] == "header":
                manifest["header"] = cells[1:5]
            elif cells[0] == "file":
                manifest["file"] = cells[1]
            elif cells[0] == "list":
                manifest["lists"].append((cells[1], cells[2] if cells[2] == "+" else int(cells[2])))
            elif cells[0] == "value":
                manifest["values"].append(tuple(cells[1:6]))
    items, elements, forms = read_tables()
    check_data(folder, manifest, items, elements, forms)
    check_order_list(folder, manifest)
    for text in problems:
        print(text)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
