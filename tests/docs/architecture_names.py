"""Every name docs/architecture.md puts in backticks as code exists in src/ or tools/.

`Name()` must be a function defined or declared there; a bare `Name` in
PascalCase a function, a type or a variable. A renamed function then fails
here instead of leaving the page pointing at nothing.
Usage: architecture_names.py REPO_ROOT
"""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1])
page = (root / "docs" / "architecture.md").read_text(encoding="utf-8")
sources = "\n".join(path.read_text(encoding="utf-8", errors="replace")
                    for folder in ("src", "tools") for path in sorted((root / folder).rglob("*"))
                    if path.suffix in (".h", ".cpp", ".c"))

# Return type and qualifiers, then the name: a definition or declaration, never
# a call (a statement does not open with a type, nor with `return`).
TYPED = r"^[ \t]*(?!(?:return|else|case|throw|delete|new|goto)\b)(?:[\w:<>,\[\]]+(?:[ \t]+|[ \t]*[*&][ \t]*))+(?:\w+::)*"


def defined(name, function_only):
    follows = r"[ \t]*\(" if function_only else r"[ \t]*[(;={\[]"
    if re.search(TYPED + re.escape(name) + follows, sources, re.MULTILINE):
        return True
    return not function_only and re.search(r"\b(?:struct|class|enum|using)[ \t]+" + re.escape(name) + r"\b",
                                           sources) is not None


missing = []
for code in sorted(set(re.findall(r"`([^`\n]+)`", page))):
    match = re.fullmatch(r"([A-Za-z_]\w*)(\(\))?", code)
    if match is None:
        continue
    name, call = match.groups()
    if call or re.fullmatch(r"[A-Z][a-z0-9]+(?:[A-Z][a-z0-9]*)+", name):
        if not defined(name, function_only=bool(call)):
            missing.append(code)
for code in missing:
    print(f"docs/architecture.md names {code}, which nothing in src/ or tools/ defines")
sys.exit(1 if missing else 0)
