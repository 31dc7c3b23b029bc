"""lzs(3), made from include/lzs.h: its comments are the manual.

How the header is read:
- The first comment gives the page's NAME (its first line, after "liblzs:")
  and the start of its DESCRIPTION.
- In any comment, a line in capitals alone in its paragraph ("LIBRARY",
  "RETURN VALUE", "EXAMPLES", "SEE ALSO") starts that section of the page.
- A comment whose first line is a short title, alone in its paragraph
  ("Decoding a stream"), starts a subsection of DESCRIPTION.
- A comment right above declarations documents them: functions (LZS_API)
  get their names as the tag of a paragraph and their prototypes in the
  SYNOPSIS; types and macros are shown as they are declared. A comment
  above preprocessor conditionals (#if) is for the header's reader alone.
- In a comment, lines indented by four spaces or more are code, and lines
  that start with "- " are the items of a list.
- LZS_ERRORS gives the ERRORS section.
"""
import re

SECTION_ORDER = ["NAME", "LIBRARY", "SYNOPSIS", "DESCRIPTION", "RETURN VALUE", "ERRORS", "EXAMPLES",
                 "SEE ALSO"]
PROGRAMS = re.compile(r"\b(lzs-unpack|lzs-pack|pkg-config)\b")
IDENTIFIER = re.compile(r"\b(lzs_[a-z_]+|LZS_[A-Z0-9_]+)\b")
MAN_REFERENCE = re.compile(r"\b([a-z][a-z0-9-]*)\((\d)\)")


def escape(text):
    """text as roff, hyphens of options and programs as minus signs."""
    text = text.replace("\\", "\\e")
    text = PROGRAMS.sub(lambda m: m.group(1).replace("-", "\\-"), text)
    text = re.sub(r"(^|(?<=[\s(]))-", r"\\-", text)
    return text


def prose(line):
    """A line of text, identifiers in bold."""
    text = escape(line)
    text = IDENTIFIER.sub(r"\\%\\fB\1\\fR", text)
    text = MAN_REFERENCE.sub(r"\\fB\1\\fR(\2)", text)
    return "\\&" + text if text.startswith((".", "'")) else text


def code(line):
    text = line.replace("\\", "\\e").replace("-", "\\-")
    return "\\&" + text if text.startswith((".", "'")) else text


def comment_lines(comment):
    """The text of a /* ... */ comment, line by line, without its frame."""
    body = comment.strip()[2:-2]
    lines = []
    for line in body.split("\n"):
        line = line.rstrip()
        if line.startswith(" *"):
            line = line[2:]
        lines.append(line[1:] if line.startswith(" ") else line)
    while lines and not lines[0].strip():
        lines.pop(0)
    while lines and not lines[-1].strip():
        lines.pop()
    return lines


def paragraphs(lines):
    """Lines split at blank lines."""
    result, current = [], []
    for line in lines:
        if line.strip():
            current.append(line)
        elif current:
            result.append(current)
            current = []
    if current:
        result.append(current)
    return result


def render_paragraph(lines, first_macro=".PP", later_macro=".PP"):
    """A paragraph of prose, code and list items, as roff lines."""
    out = []
    kind = None  # "text", "code" or "item"
    started = False

    def begin(macro):
        nonlocal started
        out.append(macro if started or macro != "" else macro)
        started = True

    for line in lines:
        if line.startswith("    "):
            if kind != "code":
                if kind == "item":
                    out.append(".RE")
                out.append(first_macro if not started else later_macro)
                started = True
                out.extend([".in +4n", ".EX"])
                kind = "code"
            out.append(code(line[4:]))
            continue
        if kind == "code":
            out.extend([".EE", ".in"])
            kind = None
        item = re.match(r"^( ?)- (.*)", line)
        if item:
            if kind != "item":
                if not started:
                    out.append(first_macro)
                    started = True
                out.append(".RS")
            out.append(".IP \\(bu 2")
            out.append(prose(item.group(2)))
            kind = "item"
            continue
        if kind == "item" and line.startswith("  "):
            out.append(prose(line.strip()))
            continue
        if kind == "item":
            out.append(".RE")
            out.append(later_macro)
        elif kind is None:
            out.append(first_macro if not started else later_macro)
        started = True
        kind = "text"
        out.append(prose(line.strip()))
    if kind == "code":
        out.extend([".EE", ".in"])
    if kind == "item":
        out.append(".RE")
    return out


def is_section(paragraph):
    return len(paragraph) == 1 and re.fullmatch(r"[A-Z][A-Z ]+", paragraph[0].strip())


def is_title(paragraph):
    line = paragraph[0].strip()
    return len(paragraph) == 1 and len(line) <= 40 and not line.endswith(".") and line[0].isupper()


def blocks(header):
    """The header as (comment lines, declarations) pairs, in order: each
    top-level comment with the declarations right below it."""
    result = []
    lines = header.split("\n")
    k = 0
    while k < len(lines):
        if not lines[k].startswith("/*"):
            k += 1
            continue
        start = k
        while "*/" not in lines[k]:
            k += 1
        comment = "\n".join(lines[start:k + 1])
        k += 1
        declared = []
        while k < len(lines) and lines[k].strip() and not lines[k].startswith("/*"):
            declared.append(lines[k])
            k += 1
        result.append((comment_lines(comment), "\n".join(declared)))
    return result


def declarations(text):
    """What a block declares, in order: ("function", prototype), ("type",
    declaration) and ("code", text: macros in a row, a struct)."""
    result = []
    lines = text.split("\n")
    k = 0
    while k < len(lines):
        line = lines[k]
        start = k
        if line.startswith("#define"):
            while lines[k].endswith("\\"):
                k += 1
            name = line.split()[1]
            if not name.startswith(("LZS_ERRORS", "LZS_ERROR_")):
                part = "\n".join(lines[start:k + 1])
                if result and result[-1][0] == "code" and result[-1][1].startswith("#define"):
                    result[-1] = ("code", result[-1][1] + "\n" + part)
                else:
                    result.append(("code", part))
        elif line.startswith(("LZS_API", "typedef")):
            struct = line.startswith("typedef") and "{" in line
            while not (lines[k].startswith("}") if struct else lines[k].rstrip().endswith(";")):
                k += 1
            part = "\n".join(lines[start:k + 1])
            if line.startswith("LZS_API"):
                result.append(("function", " ".join(part[len("LZS_API"):].split())))
            elif struct:
                result.append(("code", part))
                result.append(("type", "typedef struct {...} " + lines[k].strip("} ;") + ";"))
            else:
                result.append(("code", part))
                result.append(("type", " ".join(part.split())))
        k += 1
    return result


def function_name(prototype):
    return re.search(r"(\w+)\(", prototype).group(1)


def synopsis_lines(prototype, width=72):
    """A prototype as .B and .BI lines: types in bold, parameter names in
    italics, wrapped after commas under the first parameter."""
    prototype = re.sub(r"(\w)(\*+) ", r"\1 \2", prototype)  # "void *dst", as man pages write it
    head, params = prototype.split("(", 1)
    params = params[: -len(");")]
    if params.strip() == "void":
        return ['.B "' + code(prototype) + '"']
    pieces = [p.strip() for p in params.split(",")]
    rows, row = [], head + "("
    for n, piece in enumerate(pieces):
        text = piece + ("," if n + 1 < len(pieces) else ");")
        if len(row) + len(text) + 1 > width and not row.endswith("("):
            rows.append(row)
            row = " " * (len(head) + 1) + text
        else:
            row += ("" if row.endswith("(") else " ") + text
    rows.append(row)
    out = []
    for row in rows:
        # Alternately the text before a parameter's name and the name.
        parts = re.split(r"(\w+)(?=,|\);)", row)
        out.append(".BI " + " ".join('"' + code(part) + '"' if n % 2 == 0 else part
                                     for n, part in enumerate(parts)))
    return out


def make_page(header, errors):
    """lzs(3) as roff, from the header's text and its LZS_ERRORS rows."""
    sections = {name: [] for name in SECTION_ORDER}
    synopsis_groups = [[]]
    name_line = None
    current = "DESCRIPTION"
    for comment, declared in blocks(header):
        paras = paragraphs(comment)
        if name_line is None:
            name_line = paras.pop(0)[0].split(":", 1)[1].strip()
            declared = ""  # the include guard
        elif not paras or declared.startswith("#if"):
            continue
        elif is_title(paras[0]) and not is_section(paras[0]):
            current = "DESCRIPTION"
            sections[current].append(".SS " + escape(paras.pop(0)[0].strip()))
            synopsis_groups.append([])
        items = declarations(declared)
        functions = [p for kind, p in items if kind == "function"]
        tag = None
        if functions and comment is not None:
            tag = ", ".join(f"\\fB{function_name(p)}\\fR()" for p in functions)
        first = True
        for para in paras:
            if is_section(para):
                current = para[0].strip()
                continue
            if current == "SEE ALSO":
                sections[current].extend(para)
                continue
            if tag is not None:
                macro = ".TP\n" + tag if first else ".IP"
                sections[current].extend(render_paragraph(para, macro, ".IP"))
            else:
                sections[current].extend(render_paragraph(para))
            first = False
        for kind, text in items:
            if kind in ("function", "type"):
                synopsis_groups[-1].append(text)
            else:
                sections[current].extend([".PP" if tag is None else ".IP", ".in +4n", ".EX"])
                sections[current].extend(code(line) for line in text.split("\n"))
                sections[current].extend([".EE", ".in"])

    page = ['.\\" Made from include/lzs.h by tools/lzs_header.py; edit the header, not this page.',
            '.TH LZS 3 "@LZS_RELEASE_DATE@" "liblzs @PROJECT_VERSION@" "Library Functions Manual"',
            ".SH NAME", "lzs \\- " + escape(name_line)]
    for section in SECTION_ORDER[1:]:
        if section == "SYNOPSIS":
            page += [".SH SYNOPSIS", ".nf", ".B #include <lzs.h>"]
            for group in synopsis_groups:
                if not group:
                    continue
                page.append(".PP")
                for entry in group:
                    if entry.startswith("typedef"):
                        page.append(".B \"" + code(re.sub(r"(\w)(\*+) ", r"\1 \2", entry)) + "\"")
                    else:
                        page += synopsis_lines(entry)
            page.append(".fi")
        elif section == "ERRORS":
            page.append(".SH ERRORS")
            for error in errors:
                page += [".TP", f".B LZS_ERROR_{error.name}",
                         f'({error.code}) "{escape(error.words)}": {prose(error.when)}.']
        elif section == "SEE ALSO":
            references = MAN_REFERENCE.findall(" ".join(sections[section]))
            page.append(".SH SEE ALSO")
            page += [f".BR {escape(name)} ({number})" + ("," if n + 1 < len(references) else "")
                     for n, (name, number) in enumerate(references)]
        elif sections[section]:
            page.append(".SH " + section)
            page += sections[section]
    return "\n".join(page) + "\n"
