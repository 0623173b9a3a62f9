"""Renders a statistics page as plain lines, as a browser's parser sees it.

Prints "error ..." lines first for anything that is not well formed (a tag left open, an end tag
out of place, a link inside a link, an element a statistics page never has, text outside cells),
then one line per doctype, charset, title, anchor, table and row. Each cell shows its marks (bold,
font, link) and its text in brackets, with TAB, CR and LF written as \\t, \\r and \\n.
"""
import html.parser
import sys

VOID = {"meta", "br"}
ALLOWED = {"html", "head", "meta", "title", "body", "table", "tr", "td", "b", "a", "font", "br"}


def visible(text):
    return text.replace("\t", "\\t").replace("\r", "\\r").replace("\n", "\\n")


class PageParser(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.stack, self.lines, self.errors = [], [], []
        self.row = self.cell = None
        self.marks = []
        self.in_title = False

    def handle_decl(self, decl):
        self.lines.append("doctype " + decl)

    def handle_starttag(self, tag, attrs):
        values = dict(attrs)
        if tag not in ALLOWED:
            self.errors.append("unexpected tag " + tag)
        if tag == "a" and "a" in self.stack:
            self.errors.append("link inside a link")
        if tag not in VOID:
            self.stack.append(tag)
        if tag == "meta":
            self.lines.append("charset " + values.get("charset", "none"))
        elif tag == "title":
            self.in_title = True
        elif tag == "table":
            self.lines.append("table " + " ".join(f"{k}={v}" for k, v in attrs))
        elif tag == "tr":
            self.row, self.color = [], values.get("bgcolor", "-")
        elif tag == "td":
            self.cell, self.marks = "", []
        elif tag == "b":
            self.marks.append("bold")
        elif tag == "font":
            self.marks.append(f"font({values.get('size')} {values.get('color')} {values.get('face')})")
        elif tag == "a" and "href" in values:
            self.marks.append("link(" + values["href"] + ")")
        elif tag == "a":
            self.lines.append("anchor " + values.get("id", values.get("name", "")))

    def handle_endtag(self, tag):
        if not self.stack or self.stack[-1] != tag:
            self.errors.append("misplaced end tag " + tag)
            return
        self.stack.pop()
        if tag == "title":
            self.in_title = False
        elif tag == "td" and self.row is not None:
            self.row.append(" ".join(self.marks + ["[" + visible(self.cell) + "]"]))
            self.cell = None
        elif tag == "tr":
            self.lines.append("row " + self.color + " | " + " | ".join(self.row))
            self.row = None

    def handle_data(self, data):
        if self.in_title:
            self.lines.append("title " + data)
        elif self.cell is not None:
            self.cell += data
        elif data.strip():
            self.errors.append("text outside a cell: " + visible(data))


def main():
    with open(sys.argv[1], encoding="utf-8") as page:
        parser = PageParser()
        parser.feed(page.read())
        parser.close()
    for tag in parser.stack:
        parser.errors.append("not closed: " + tag)
    print("\n".join(["error " + e for e in parser.errors] + parser.lines))


main()
