#!/usr/bin/env bash
# Generates the demo installation: a game folder with a few hundred packages and a Wine-style
# prefix whose registry points the game's path at it.
#   demo/make_demo.sh DEMO_DIR OFFICIAL_NAMES UNOFFICIAL_LIST
# DEMO_DIR/game/ImagePacks2   every official package (mixed .NPK/.npk) and the unofficial ones
# DEMO_DIR/prefix             user.reg with HKCU\Software\Tencent\DNF\Path = D:\game, and
#                             dosdevices/d: -> DEMO_DIR (plus c: and z: as Wine makes them)
set -euo pipefail
demo="$1"
official="$2"
unofficial="$3"

rm -rf "$demo/game" "$demo/prefix"
packs="$demo/game/ImagePacks2"
mkdir -p "$packs" "$demo/prefix/dosdevices" "$demo/prefix/drive_c"

# Official packages: the names of the official list, with the extension's case varied the way
# a patched installation has it, changed on days spread over the last years.
i=0
while IFS= read -r name || [ -n "$name" ]; do
  [ -n "$name" ] || continue
  case $((i % 3)) in
    0) file="${name%.*}.NPK" ;;
    1) file="${name%.*}.npk" ;;
    *) file="$name" ;;
  esac
  printf 'NeoplePack_Bill demo %s\n' "$file" > "$packs/$file"
  touch -d "$((2019 + i % 6))-$(printf %02d $((1 + i % 12)))-$(printf %02d $((1 + i % 28))) 12:00" \
    "$packs/$file"
  i=$((i + 1))
done < "$official"

# Unofficial packages with their own dates.
while IFS=$'\t' read -r day name || [ -n "${name:-}" ]; do
  case "$day" in ''|'#'*) continue ;; esac
  printf 'demo unofficial package %s\n' "$name" > "$packs/$name"
  touch -d "$day 12:00" "$packs/$name"
done < "$unofficial"

# A sub-folder is never a package.
mkdir -p "$packs/backup.npk"

ln -s ../drive_c "$demo/prefix/dosdevices/c:"
ln -s ../.. "$demo/prefix/dosdevices/d:"
ln -s / "$demo/prefix/dosdevices/z:"
cat > "$demo/prefix/user.reg" <<'REG'
WINE REGISTRY Version 2
;; All keys relative to \\User\\S-1-5-21-0-0-0-1000

#arch=win32

[Software\\Tencent\\DNF] 1796990753
#time=1dd8967f89faf42
"Path"="D:\\game"

[Software\\Tencent\\DNFTest] 1796990753
#time=1dd8967f8c55cc4
"Path"="D:\\game"
REG
echo "Demo installation: $(find "$packs" -maxdepth 1 -type f | wc -l) packages in $packs"
