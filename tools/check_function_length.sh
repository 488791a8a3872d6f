#!/usr/bin/env bash
# Lists every function of the product code (every C++ source outside tests/) that is longer than
# 40 lines, counted by Universal Ctags from its first to its last line, as
# "file:line name (N lines)". Exits non-zero when it lists one.
set -euo pipefail
cd "$(dirname "$0")/.."
max_lines=40

# Tracked and new files alike; build trees are ignored by git (and skipped without it).
list_sources() {
    if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h' ':!:tests/**'
    else
        find . \( -path ./tests -o -path './build*' -o -path ./.git \) -prune -o \
            \( -name '*.cpp' -o -name '*.h' \) -type f -print | sed 's|^\./||'
    fi
}
mapfile -t sources < <(list_sources | sort)
[ ${#sources[@]} -gt 0 ] || { echo "no C++ sources found" >&2; exit 2; }

# One tag per function definition: name, file, then the fields; lambdas are named "__anon...".
long=$(ctags --fields=+ne --kinds-C++=f --language-force=C++ -o - "${sources[@]}" |
    awk -F'\t' -v max="$max_lines" '
    {
        line = 0; end = 0; scope = ""
        for (i = 4; i <= NF; i++) {
            if ($i ~ /^line:/) line = substr($i, 6)
            else if ($i ~ /^end:/) end = substr($i, 5)
            else if ($i ~ /^(class|struct|namespace|function):/) scope = substr($i, index($i, ":") + 1)
        }
        if (!end) next
        gsub(/__anon[0-9a-f]*(::)?/, "", scope) # anonymous namespaces
        sub(/::$/, "", scope)
        name = $1
        if (name ~ /^__anon/) name = "lambda in " scope
        else if (scope != "") name = scope "::" name
        n = end - line + 1
        if (n > max) printf "%s:%d %s (%d lines)\n", $2, line, name, n
    }' | sort -t: -k1,1 -k2,2n)

if [ -n "$long" ]; then
    echo "$long"
    echo "Functions over $max_lines lines: split them along their steps." >&2
    exit 1
fi
