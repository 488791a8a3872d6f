#!/usr/bin/env bash
# Every #include of a folder names only folders whose library that folder's library links (the
# table below is CMakeLists.txt's, closed over what each library links in turn): the core
# never includes the window, the dfu-util layer never the workflow, and so on.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A may_use=(
    [files]=""
    [device]="files"
    [dfu]="device files"
    [settings]="device files"
    [workflow]="dfu device files"
    [history]="settings dfu device files"
    [simulator]="dfu device files"
    [upgrade]="workflow history simulator settings dfu device files"
    [gui]="history settings dfu device files"
    [app]="upgrade gui workflow history simulator settings dfu device files"
    [cli]="upgrade workflow history simulator settings dfu device files"
)

bad=0
for folder in "${!may_use[@]}"; do
    allowed=" $folder ${may_use[$folder]} "
    while IFS=: read -r file line used; do
        if [[ "$allowed" != *" $used "* ]]; then
            echo "$file:$line: $folder may not include $used/ (its library does not link it)" >&2
            bad=1
        fi
    done < <(grep -Hno '^#include "[a-z_]*/' "$folder"/*.h "$folder"/*.cpp 2>/dev/null |
                 sed -E 's|^([^:]*):([0-9]+):#include "([a-z_]*)/$|\1:\2:\3|')
done
[ "$bad" -eq 0 ] && echo "Every folder includes only what its library links."
exit "$bad"
