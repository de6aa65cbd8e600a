#!/usr/bin/python3
# Writes people.xls, the .xls fixture of the sheets tests (and a seed of the xls fuzz target),
# with Debian's python3-xlwt: a hidden first sheet, a sheet of people under a title row with a
# number, a long identity-card number as text, a date, a boolean, an error value and a formula,
# and a second visible sheet.
import datetime
import sys
import xlwt

book = xlwt.Workbook(encoding="utf-8")
hidden = book.add_sheet("隐藏")
hidden.write(0, 0, "不应读到")
hidden.visibility = 1
people = book.add_sheet("人员")
people.write(0, 0, "2024年3月工资表")
for column, caption in enumerate(["姓名", "身份证号", "收入", "日期", "在职", "错误", "公式"]):
    people.write(1, column, caption)
people.write(2, 0, "张三")
people.write(2, 1, "110101199001011234")
people.write(2, 2, 12500.5)
people.write(2, 3, datetime.date(2024, 3, 1), xlwt.easyxf(num_format_str="yyyy-mm-dd"))
people.write(2, 4, True)
people.row(2).set_cell_error(5, "#DIV/0!")
people.write(2, 6, xlwt.Formula("C3*2"))
people.write(4, 0, "李四")
people.write(4, 2, 3)
people.write(4, 4, False)
people.write(4, 5, 0.1 + 0.2)
second = book.add_sheet("第二页")
second.write(0, 0, "第二页的内容")
book.save(sys.argv[1] if len(sys.argv) > 1 else "people.xls")
