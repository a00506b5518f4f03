#!/usr/bin/env python3
"""Writes the tests' table of every public method from the IDL.

One entry per method of every interface, in the order of the IDL: the class
and the interface that declares it, its name and dispatch id, its
parameters (name, type with VT_BYREF for [in, out], whether [optional]),
its result type (from [out, retval]; VT_EMPTY for none) and the call
through the method table. The class of an interface is its name without
the leading underscore and a trailing digit: _Registry2 belongs to
kRegistryRef. A type the table cannot name stops the build, naming the
method.

usage: methods-table.py Tarnwick.idl OUTPUT.h
"""
import re
import sys

# IDL type -> the VARTYPE of a parameter or a result of that type.
TYPES = {
    "short": "VT_I2",
    "long": "VT_I4",
    "double": "VT_R8",
    "BSTR": "VT_BSTR",
    "VARIANT_BOOL": "VT_BOOL",
    "VARIANT": "VT_VARIANT",
}


def fail(message):
    sys.exit("methods-table: " + message)


def without_comments(text):
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    return re.sub(r"//[^\n]*", " ", text)


def split_top(text):
    """Splits at the commas outside square brackets."""
    parts, depth, start = [], 0, 0
    for i, c in enumerate(text):
        if c == "[":
            depth += 1
        elif c == "]":
            depth -= 1
        elif c == "," and depth == 0:
            parts.append(text[start:i])
            start = i + 1
    parts.append(text[start:])
    return [p.strip() for p in parts if p.strip()]


def vartype(idl_type, where):
    if idl_type not in TYPES:
        fail(f"{where}: no VARTYPE for the type '{idl_type}'")
    return TYPES[idl_type]


def parse_param(text, where):
    m = re.fullmatch(r"\[([^\]]*)\]\s*([A-Za-z_]\w*)\s*(\*?)\s*([A-Za-z_]\w*)?", text)
    if not m:
        fail(f"{where}: cannot read the parameter '{text}'")
    attributes = {a.strip() for a in m.group(1).split(",")}
    base, pointer, name = m.group(2), m.group(3), m.group(4)
    vt = vartype(base, where)
    if "retval" in attributes:
        if not pointer:
            fail(f"{where}: a result that is no pointer")
        return ("result", vt)
    if "out" in attributes:
        if not pointer:
            fail(f"{where}: an [in, out] parameter that is no pointer")
        vt = "VT_BYREF | " + vt
    elif pointer:
        fail(f"{where}: a pointer that is only [in]")
    if not name:
        fail(f"{where}: a parameter without a name")
    return ("param", (name, vt, "optional" in attributes))


def parse(idl):
    text = without_comments(idl)
    interface = re.compile(r"\binterface\s+(\w+)\s*:\s*(\w+)\s*\{(.*?)\}\s*;", re.S)
    method = re.compile(r"\[\s*id\(\s*(0x[0-9A-Fa-f]+|\d+)\s*\)\s*\]\s*HRESULT\s+(\w+)\s*\((.*?)\)\s*;",
                        re.S)
    out = []
    for iface in interface.finditer(text):
        name, body = iface.group(1), iface.group(3)
        cls = re.fullmatch(r"_?(.*?)\d*", name).group(1)
        found = 0
        for m in method.finditer(body):
            where = f"{name}::{m.group(2)}"
            params, result = [], "VT_EMPTY"
            for p in split_top(m.group(3)):
                kind, value = parse_param(p, where)
                if kind == "result":
                    result = value
                else:
                    params.append(value)
            out.append({"iface": name, "cls": cls, "name": m.group(2),
                        "id": int(m.group(1), 0), "params": params, "result": result})
            found += 1
        # Every statement of the body must have been read as a method.
        if found != body.count(";"):
            fail(f"{name}: {body.count(';')} declarations, {found} read as methods")
    if not out:
        fail("no interface with methods")
    return out


def entry(m):
    params = ", ".join(
        f'{{L"{n}", {vt}, {"true" if optional else "false"}}}' for n, vt, optional in m["params"])
    return (f'        {{&k{m["cls"]}Ref, L"{m["iface"]}", &IID_{m["iface"]}, L"{m["name"]}", '
            f'0x{m["id"]:08X},\n'
            f'         {{{params}}},\n'
            f'         {m["result"]}, table::call<&{m["iface"]}::{m["name"]}, {m["result"]}>}},\n')


def main():
    if len(sys.argv) != 3:
        fail("usage: methods-table.py Tarnwick.idl OUTPUT.h")
    with open(sys.argv[1], encoding="utf-8") as f:
        methods = parse(f.read())
    text = ("// Written by cmake/methods-table.py from Tarnwick.idl at build time; edit the IDL.\n"
            "// Every method of every interface, in the order of the IDL.\n"
            "#pragma once\n\n"
            "namespace testkit {\n\n"
            "inline const std::vector<Method>& methods()\n{\n"
            "    static const std::vector<Method> all = {\n"
            + "".join(entry(m) for m in methods) +
            "    };\n    return all;\n}\n\n}  // namespace testkit\n")
    with open(sys.argv[2], "w", encoding="utf-8") as f:
        f.write(text)


main()
