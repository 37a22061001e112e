"""Every name the maintainers' pages put in backticks as code exists.

`Name()` must be a function defined or declared there; a bare `Name` in
PascalCase a function, a type or a variable. docs/architecture.md names code of
src/ and tools/; docs/testing.md may name the tests' own code too (tests/,
Python functions included). A renamed function then fails here instead of
leaving a page pointing at nothing.
Usage: architecture_names.py REPO_ROOT; in the tool's native tree it is the
CTest test architecture_names: ctest --test-dir build/native -R architecture_names
"""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1])


def read_sources(folders, suffixes):
    return "\n".join(path.read_text(encoding="utf-8", errors="replace")
                     for folder in folders for path in sorted((root / folder).rglob("*"))
                     if path.suffix in suffixes)


# Return type and qualifiers, then the name: a definition or declaration, never
# a call (a statement does not open with a type, nor with `return`).
TYPED = r"^[ \t]*(?!(?:return|else|case|throw|delete|new|goto)\b)(?:[\w:<>,\[\]]+(?:[ \t]+|[ \t]*[*&][ \t]*))+(?:\w+::)*"


def defined(name, function_only, sources):
    follows = r"[ \t]*\(" if function_only else r"[ \t]*[(;={\[]"
    if re.search(TYPED + re.escape(name) + follows, sources, re.MULTILINE):
        return True
    if re.search(r"^[ \t]*(?:def|class)[ \t]+" + re.escape(name) + r"\b", sources, re.MULTILINE):
        return True
    return not function_only and re.search(r"\b(?:struct|class|enum|using)[ \t]+" + re.escape(name) + r"\b",
                                           sources) is not None


program = read_sources(("src", "tools"), (".h", ".cpp", ".c"))
pages = {"docs/architecture.md": program,
         "docs/testing.md": program + "\n" + read_sources(("tests",), (".h", ".cpp", ".c", ".py"))}
missing = []
for page, sources in pages.items():
    text = (root / page).read_text(encoding="utf-8")
    for code in sorted(set(re.findall(r"`([^`\n]+)`", text))):
        match = re.fullmatch(r"([A-Za-z_]\w*)(\(\))?", code)
        if match is None or re.fullmatch(r"[0-9A-F]{8}", code):  # a status code
            continue
        name, call = match.groups()
        if call or re.fullmatch(r"[A-Z][a-z0-9]+(?:[A-Z][a-z0-9]*)+", name):
            if not defined(name, bool(call), sources):
                missing.append(f"{page} names {code}, which nothing in its sources defines")
for line in missing:
    print(line)
sys.exit(1 if missing else 0)
