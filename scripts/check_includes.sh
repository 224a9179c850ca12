#!/bin/sh
# Checks the floors of src/: a folder includes only folders below it, and
# core/ and document/ (the model) include nothing of Qt Widgets.
# Usage: check_includes.sh <src folder> [<QtWidgets include folder>]
# Prints each offending line and exits 1 when there is one.
src=${1:?usage: check_includes.sh <src folder> [<QtWidgets include folder>]}
widgets=$2
status=0

# What each folder may include besides itself.
allowed() {
    case $1 in
    platform) echo "" ;;
    core) echo "platform" ;;
    rtf) echo "core platform" ;;
    document) echo "rtf core platform" ;;
    controls) echo "core platform" ;;
    commands) echo "controls core platform" ;;
    skin | shell) echo "controls core platform" ;;
    app) echo "document commands controls skin shell rtf core platform" ;;
    *) echo "-" ;;
    esac
}

for dir in "$src"/*/; do
    folder=$(basename "$dir")
    ok=$(allowed "$folder")
    if [ "$ok" = "-" ]; then
        echo "$folder/: a folder the check does not know; give it its place in check_includes.sh"
        status=1
        continue
    fi
    # "folder/file.h" includes of a project folder other than the own one.
    grep -Hn '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[a-z]*/' "$dir"*.h "$dir"*.cpp 2>/dev/null |
        while IFS= read -r line; do
            target=$(printf '%s\n' "$line" | sed 's/.*#[[:space:]]*include[[:space:]]*"\([a-z]*\)\/.*/\1/')
            [ "$target" = "$folder" ] && continue
            case " $ok " in
            *" $target "*) ;;
            *) echo "$line: $folder/ may not include $target/" ;;
            esac
        done
done > "${TMPDIR:-/tmp}/check_includes.$$"

if [ -n "$widgets" ] && [ -d "$widgets" ]; then
    # The class headers of Qt Widgets, <QWidget> or <QtWidgets/QWidget>.
    names=$(ls "$widgets" | grep '^Q[A-Za-z0-9]*$' | tr '\n' '|')
    for folder in core document; do
        grep -HnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*<(QtWidgets/)?(${names}QtWidgets)>" \
            "$src/$folder"/*.h "$src/$folder"/*.cpp 2>/dev/null |
            sed "s/\$/: $folder\/ may not use Qt Widgets/"
    done >> "${TMPDIR:-/tmp}/check_includes.$$"
fi

if [ -s "${TMPDIR:-/tmp}/check_includes.$$" ]; then
    sort -u "${TMPDIR:-/tmp}/check_includes.$$"
    status=1
fi
rm -f "${TMPDIR:-/tmp}/check_includes.$$"
[ $status -eq 0 ] && echo "includes keep to the floors"
exit $status
