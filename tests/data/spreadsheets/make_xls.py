#!/usr/bin/python3
"""Writes the .xls fixtures of the spreadsheet import tests with Debian's python3-xlwt.

Usage: tests/data/spreadsheets/make_xls.py   (writes with-url.xls and without-url.xls here)

with-url.xls: a "url" column, a row whose url cell is empty, a number and a decimal, a value
with a quote, "!" and "&", then an empty row followed by a row that must not be imported.
without-url.xls: only 标题 and 内容, two rows.
"""
import os
import xlwt

HERE = os.path.dirname(os.path.abspath(__file__))


def write(name, rows):
    book = xlwt.Workbook(encoding="utf-8")
    sheet = book.add_sheet("数据")
    for r, row in enumerate(rows):
        for c, value in enumerate(row):
            if value is not None:
                sheet.write(r, c, value)
    # A second sheet that the import must not read.
    book.add_sheet("其他").write(0, 0, "不应导入")
    book.save(os.path.join(HERE, name))


write("with-url.xls", [
    ["标题", "url", "内容", "数字"],
    ["第一条", "http://example.com/a?x=1&y=2", "它说'好'!&再见", 3],
    ["第二条", None, "二", 4.5],
    [None, None, None, None],
    ["不应导入", "http://example.com/z", "z", 9],
])
write("without-url.xls", [
    ["标题", "内容"],
    ["甲", "内容甲"],
    ["乙", "内容乙"],
])
