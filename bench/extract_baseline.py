#!/usr/bin/python3
"""The work of bench_extract done with Python's re module, for comparison on one machine.

    bench_extract --workload /tmp/extract_workload.json
    /usr/bin/python3 bench/extract_baseline.py /tmp/extract_workload.json [--records N]

The workload file holds the three pages and each field's finished pattern (the same texts the
engine compiles), so both sides run the same patterns over the same text: the page list with
its line-break markers, direct cuts with str.find, the regex methods with re.DOTALL, output
templates filled by number or by name, repeat and page joiners. The first record is checked
against the engine's record.
"""
import json
import re
import sys
import time

REPEAT = "[dd:重复连接符]"
PAGE = "[dd:分页符]"
CR_MARK = "<临时换行替换换行>"
LF_MARK = "<临时换行2替换换行2>"
PARAM = re.compile(r"\{参数([0-9]+)\}")
FIELD_REF = re.compile(r"\{DD:字段=.*?\}", re.S | re.I)


def py_pattern(p):
    # PCRE writes named groups (?<name>...); Python needs (?P<name>...).
    return re.sub(r"\(\?<(?![=!])", "(?P<", p)


def fill_by_number(output, m):
    out = output
    for n in PARAM.findall(output):
        ph = "{参数" + n + "}"
        k = int(n)
        out = out.replace(ph, (m.group(k) or "") if k <= (m.re.groups) else "")
    return out


def fill_by_name(output, m, pattern):
    out = output
    for n in PARAM.findall(output):
        name = "canshu" + n
        if ("<" + name) in pattern:
            out = out.replace("{参数" + n + "}", (m.groupdict().get(name) or ""))
    return out


def direct_cut(front, back, page, repeat):
    value = []
    if not front:
        return ""
    rest = page
    f = rest.find(front)
    while f >= 0:
        rest = rest[f + len(front):]
        b = rest.find(back) if back else -1
        if b > 0:
            value.append(rest[:b] + REPEAT)
        if not repeat or b < 0:
            break
        rest = rest[b + len(back):]
        f = rest.find(front)
    return "".join(value)


def page_value(field, page, compiled):
    kind = field["kind"]
    if kind == "direct":
        value = direct_cut(field["front"], field["back"], page, field["repeat"])
    elif kind == "regex":
        rx = compiled[field["title"]]
        parts = []
        for m in rx.finditer(page):
            fill = field["fill"]
            if fill == "content":
                parts.append((m.group("content") or "") + REPEAT)
            elif fill == "whole":
                parts.append(m.group(0) + REPEAT)
            elif fill == "number":
                parts.append(fill_by_number(field["output"], m) + REPEAT)
            else:
                parts.append(fill_by_name(field["output"], m, field["pattern"]) + REPEAT)
            if not field["repeat"]:
                break
        value = "".join(parts)
    else:
        return None
    if value:
        value = value[: value.rfind(REPEAT)]
    return value


def record(work, compiled):
    pages = work["pages"]
    joined = PAGE.join(["<tarvex>" + pages[0] + "</tarvex>"] + pages[1:]) + "\r\n"
    top = joined.replace("\r", CR_MARK).replace("\n", LF_MARK)  # the page list entry
    split = [p.replace(CR_MARK, "\r").replace(LF_MARK, "\n") for p in top.split(PAGE)]
    values = {"url": work["url"]}
    out = {}
    for field in work["fields"]:
        if field["kind"] == "fixed":
            text = field["text"]
            for token in FIELD_REF.findall(text):
                name = token[len("{DD:字段="):-1]
                text = text.replace(token, next((v for k, v in values.items() if k.lower() == name.lower()), ""))
            value = text.strip()
        elif field["mulpage"]:
            value = PAGE.join(page_value(field, p, compiled) for p in split)
        else:
            value = page_value(field, split[0], compiled)
        value = value.replace(REPEAT, work["repeat_joiner"]).replace(PAGE, work["page_joiner"])
        out[field["title"]] = value
        values[field["title"]] = value
    return out


def compile_all(work):
    return {f["title"]: re.compile(py_pattern(f["pattern"]), re.S)
            for f in work["fields"] if f["kind"] == "regex"}


def main():
    args = sys.argv[1:]
    records = 20
    if "--records" in args:
        i = args.index("--records")
        records = max(2, int(args[i + 1]))
        del args[i:i + 2]
    path = args[0] if args else "/tmp/extract_workload.json"
    with open(path, encoding="utf-8") as fh:
        work = json.load(fh)
    mb = sum(len(p.encode("utf-8")) for p in work["pages"]) / (1024 * 1024)

    re.purge()
    t0 = time.perf_counter()
    first = record(work, compile_all(work))
    cold = time.perf_counter() - t0
    t1 = time.perf_counter()
    for _ in range(records - 1):
        record(work, compile_all(work))
    warm = (time.perf_counter() - t1) / (records - 1)

    same = first == work.get("record")
    print("extract_baseline (Python %s re): same record as the engine: %s" % (sys.version.split()[0], "yes" if same else "NO"))
    if not same:
        for k, v in first.items():
            if work["record"].get(k) != v:
                print("  differs: %s" % k)
    print("cold (first record): %8.2f ms  %8.1f records/s  %8.1f MB/s" % (cold * 1e3, 1 / cold, mb / cold))
    print("warm (%d records):   %8.2f ms  %8.1f records/s  %8.1f MB/s" % (records - 1, warm * 1e3, 1 / warm, mb / warm))


if __name__ == "__main__":
    main()
