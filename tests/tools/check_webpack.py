#!/usr/bin/env python3
"""Reads a web-side request package with Python's own zipfile and xml modules, independently of
the project's code, and prints what it finds, one "key=value" line each:

  name       the package file name, checked against ZuvWebExport_IIIIIBB_YYYYMMDDHHNNSSZZZ.zip
  entries    the archive's entry names
  encrypted  1 when every entry carries the traditional encryption flag
  declared   the encoding the XML declaration names
  header     the root's attributes in document order
  lists      LIST:count for each list element in order
  field      ITEM.Field for each --field asked: the text of the first item's field

usage: check_webpack.py PACKAGE.zip PASSWORD [--field ITEM.Field]...
"""
import re
import sys
import zipfile
import xml.etree.ElementTree as ET


def main(argv):
    path, password = argv[1], argv[2].encode()
    fields = [argv[i + 1] for i in range(3, len(argv) - 1) if argv[i] == "--field"]
    name = path.rsplit("/", 1)[-1]
    m = re.fullmatch(r"ZuvWebExport_(\d{5})(\d{2})_(\d{17})\.zip", name)
    print("name=%s" % ("ok" if m else "bad " + name))
    with zipfile.ZipFile(path) as z:
        infos = z.infolist()
        print("entries=%s" % ",".join(i.filename for i in infos))
        print("encrypted=%d" % all(i.flag_bits & 1 for i in infos))
        data = z.read(infos[0], pwd=password)
    declared = re.match(rb'<\?xml version="1.0" encoding="([^"]+)"\?>\r\n', data)
    print("declared=%s" % (declared.group(1).decode() if declared else "-"))
    root = ET.fromstring(data)
    print("root=%s" % root.tag)
    print("header=%s" % " ".join('%s="%s"' % kv for kv in root.attrib.items()))
    print("lists=%s" % " ".join("%s:%d" % (l.tag, len(l)) for l in root))
    for f in fields:
        item, field = f.split(".")
        node = root.find(".//%s/%s" % (item, field))
        print("field %s=%s" % (f, node.text if node is not None else "-"))


if __name__ == "__main__":
    main(sys.argv)
