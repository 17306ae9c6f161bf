"""Emitters: one per kind of generated code, each filling named templates.

Templates live in ``generator/templates`` as ``string.Template`` text with
``$slot`` placeholders, so the shape of the output reads there rather than in
Python. Block slots are filled with text already indented to the template's
column 0; `indent` shifts a block into a nested scope.
"""

import string
from functools import lru_cache
from pathlib import Path

TEMPLATES = Path(__file__).resolve().parents[2] / "templates"


@lru_cache(maxsize=None)
def _template(name):
    return string.Template((TEMPLATES / f"{name}.tpl").read_text())


def render(template, /, **slots):
    """Fills template `template`; a slot left unfilled is an error. The result
    has no trailing newline, so blocks join cleanly."""
    return _template(template).substitute(**slots).rstrip("\n")


def indent(text, levels=1):
    """Indents every non-empty line of `text` by `levels` steps of two spaces."""
    pad = "  " * levels
    return "\n".join(pad + line if line else line for line in text.split("\n"))


def join(blocks, separator="\n\n"):
    """Joins the non-empty blocks."""
    return separator.join(b.strip("\n") for b in blocks if b and b.strip())


def quote(text):
    """A C++ string literal (the catalogue's texts are plain ASCII)."""
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def string_table(values):
    """The body of a null-terminated ``Strings::values`` table."""
    return ", ".join([quote(v) for v in values] + ["nullptr"])


def braced_list(items, column, width=110, continuation=6):
    """A braced initializer list of `items` starting at `column`: on one line
    when it fits in `width`, otherwise one line per row of items, indented by
    `continuation`."""
    line = "{" + ", ".join(items) + "}"
    if column + len(line) + 1 <= width:
        return line
    rows, row = [], ""
    for item in items:
        candidate = f"{row}, {item}" if row else item
        if row and continuation + len(candidate) + 2 > width:
            rows.append(row + ",")
            row = item
        else:
            row = candidate
    rows.append(row + "};")
    return "{\n" + "\n".join(" " * continuation + r for r in rows)[:-1]


def params(head, text, width=110):
    """Parameters `text` of a function whose line starts with `head`: on the
    same line when it fits, otherwise on the next line indented by four."""
    if len(head) + len(text) + 3 <= width:
        return text
    return "\n    " + text
