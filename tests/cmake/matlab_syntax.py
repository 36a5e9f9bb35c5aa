#!/usr/bin/env python3
"""Flags Octave-only syntax and functions in the m-files users run in MATLAB.

A lint, not a parser: it tokenises each line just far enough to skip
comments and strings ('...' quotes versus the transpose, which follows an
identifier, a number, a closing bracket, a transpose or a dot), then
looks for the constructs below in what is left.  It can miss a construct
written in an unusual way and knows nothing of what a branch guarded by
exist('OCTAVE_VERSION') may call; it catches the habits of Octave code.

  matlab_syntax.py FILE...     lint the files; exit 1 on any finding
  matlab_syntax.py --cases     check that each bad snippet below is
                               flagged and each good one is not
"""
import re
import sys

# Octave-only functions that have a plain MATLAB spelling (size(x, 1),
# fprintf, ~, ...): MATLAB's base product has none of them, so a call stops
# with "Undefined function".
OCTAVE_ONLY_FUNCTIONS = {
    "rows", "columns", "numfields", "postpad", "prepad", "printf", "puts",
    "fputs", "fdisp", "isargout", "print_usage", "ifelse", "merge",
    "nthargout", "is_function_handle", "file_in_loadpath", "ostrsplit",
    "toascii", "do_string_escapes", "undo_string_escapes", "isalpha",
    "program_name", "octave_config_info",
}

# Block ends and blocks MATLAB's parser does not know.
OCTAVE_ONLY_KEYWORDS = {
    "endif", "endfor", "endwhile", "endfunction", "endswitch",
    "end_try_catch", "end_unwind_protect", "unwind_protect",
    "unwind_protect_cleanup", "endparfor",
}

SYNTAX = [
    (re.compile(r"!="), "'!=' (MATLAB: '~=')"),
    (re.compile(r"!(?!=)"), "'!' as not (MATLAB: '~')"),
    (re.compile(r"(?<![.=<>~!])(\+|-|\*|/|\^|\||&)="), "compound assignment such as '+=' (MATLAB: x = x + ...)"),
    (re.compile(r"\+\+|--"), "'++' or '--'"),
    (re.compile(r"\*\*"), "'**' (MATLAB: '^')"),
    (re.compile(r"\)\("), "indexing a call's result, ')(' "),
    (re.compile(r"^\s*do\s*$|^\s*until\b"), "do ... until loop"),
]

IDENT = re.compile(r"[A-Za-z_][A-Za-z0-9_]*")


def strip_line(line, state):
    """Returns the code of one line with strings blanked and comments cut,
    plus findings of the tokeniser itself.  state carries the block
    comment and the open brackets across lines."""
    found = []
    bare = line.strip()
    if state["block"]:
        if bare in ("%}", "#}"):
            state["block"] = False
        return "", found
    if bare in ("%{", "#{"):
        if bare == "#{":
            found.append("'#{' block comment (MATLAB: '%{')")
        state["block"] = True
        return "", found
    out = []
    i = 0
    n = len(line)
    continued = False
    while i < n:
        ch = line[i]
        if ch == "%":
            break
        if ch == "#":
            found.append("'#' comment (MATLAB: '%')")
            break
        if line.startswith("...", i):
            continued = True
            break
        if ch == '"':
            # MATLAB reads "..." as a string object: ["id:" name] makes a
            # two-element string array and {""} holds no char, so text is
            # written '...' for both hosts.
            found.append('double-quoted string (MATLAB: a string object, not text)')
            i += 1
            while i < n and line[i] != '"':
                i += 2 if line[i] == "\\" else 1
            if i + 1 < n and line[i + 1] == '"':   # "" inside the string
                i += 1
                continue
            out.append("S")
            i += 1
            continue
        if ch == "'":
            prev = line[i - 1] if i > 0 else " "
            if prev.isalnum() or prev in "_)]}'.":
                out.append("'")   # transpose
                i += 1
                continue
            i += 1
            while i < n:
                if line[i] == "'":
                    if i + 1 < n and line[i + 1] == "'":
                        i += 2
                        continue
                    break
                i += 1
            out.append("S")
            i += 1
            continue
        if ch in "([{":
            state["brackets"].append(ch)
        elif ch in ")]}" and state["brackets"]:
            state["brackets"].pop()
        out.append(ch)
        i += 1
    if not continued and "(" in state["brackets"]:
        found.append("line break inside '(' without '...'")
        state["brackets"] = [b for b in state["brackets"] if b != "("]
    return "".join(out), found


def lint(text):
    """[(line number, finding)] for one file's text."""
    state = {"block": False, "brackets": []}
    findings = []
    for number, line in enumerate(text.splitlines(), 1):
        code, found = strip_line(line, state)
        for pattern, what in SYNTAX:
            if pattern.search(code):
                found.append(what)
        for m in IDENT.finditer(code):
            if m.start() > 0 and code[m.start() - 1] == ".":
                continue   # a field, not a function
            word = m.group()
            if word in OCTAVE_ONLY_KEYWORDS:
                found.append("'%s' (MATLAB: 'end')" % word)
            elif word in OCTAVE_ONLY_FUNCTIONS:
                found.append("Octave-only function '%s'" % word)
        findings += [(number, f) for f in found]
    return findings


# Each construct the lint claims to catch, in a snippet MATLAB refuses,
# and snippets that must pass (strings, comments and transposes that hold
# the same characters).
BAD = [
    ("if (a != b) x = 1; end", "'!='"),
    ("if (! isempty (a)) x = 1; end", "'!' as not"),
    ("x += 1;", "compound assignment"),
    ("x -= 1;", "compound assignment"),
    ("x *= 2;", "compound assignment"),
    ("peak &= x > 0;", "compound assignment"),
    ("x++;", "'++'"),
    ("y = x ** 2;", "'**'"),
    ("n = rows (A);", "'rows'"),
    ("n = columns(A);", "'columns'"),
    ("printf ('%d\\n', 3);", "'printf'"),
    ("puts ('x');", "'puts'"),
    ("fdisp (stdout, x);", "'fdisp'"),
    ("n = numfields (s);", "'numfields'"),
    ("v = postpad (v, 4);", "'postpad'"),
    ("if (isargout (2)) x = 1; end", "'isargout'"),
    ("print_usage ();", "'print_usage'"),
    ("y = ifelse (c, 1, 2);", "'ifelse'"),
    ("y = nthargout (2, @max, v);", "'nthargout'"),
    ("if a\n  x = 1;\nendif", "'endif'"),
    ("for k = 1:3\nendfor", "'endfor'"),
    ("while a\nendwhile", "'endwhile'"),
    ("function f\nendfunction", "'endfunction'"),
    ("try\n  x;\ncatch\nend_try_catch", "'end_try_catch'"),
    ("unwind_protect\n  x;\nend_unwind_protect", "'unwind_protect'"),
    ("x = 1;  # a note", "'#' comment"),
    ("#{\nnote\n#}", "'#{' block comment"),
    ('error ("a:b", "text");', "double-quoted string"),
    ("error ('a:b', 'x %d',\n       3);", "line break inside '('"),
    ("y = f (x)(2);", "')('"),
    ("do\n  x = 1;\nuntil x", "do ... until"),
    # a transpose read as a quote would hide the rest of the line
    ("y = x'; if (a != b), end", "'!='"),
    ("y = s.v(1)'; x += 1;", "compound assignment"),
]

GOOD = [
    "if (a ~= b) x = ~c; end",
    "x = x + 1;  % x += 1 and rows(A) in a comment",
    "s = 'x != y, rows(A), # ** endif';",
    "s = 'it''s ! here';",
    "y = A' * b'' + c.';",
    "y = [a', b'];  z = {x'};  w = v(1)';",
    "r = size (A, 1);  c = s.rows;",
    "error ('a:b', 'x %d', ...\n       3);",
    "x = [1, 2\n     3, 4];",
    "%{\nx += 1; endif\n%}",
    "if (a <= -1 || b >= 2 || c == -3) x = a.^-1; end",
    "case 'dim'",
    "y = [x' 'rows(A) != 0'];",
]


def check_cases():
    failures = 0
    for snippet, expected in BAD:
        findings = lint(snippet)
        if not any(expected in f for _, f in findings):
            print("not caught: %r (expected %s; got %s)" % (snippet, expected, findings))
            failures += 1
    for snippet in GOOD:
        findings = lint(snippet)
        if findings:
            print("false alarm: %r: %s" % (snippet, findings))
            failures += 1
    print("%d bad snippets, %d good ones, %d failures" % (len(BAD), len(GOOD), failures))
    return failures == 0


def main(argv):
    if argv[1:] == ["--cases"]:
        return 0 if check_cases() else 1
    total = 0
    for path in argv[1:]:
        with open(path, encoding="utf-8") as f:
            for number, what in lint(f.read()):
                print("%s:%d: %s" % (path, number, what))
                total += 1
    print("%d files, %d findings" % (len(argv) - 1, total))
    return 1 if total else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
