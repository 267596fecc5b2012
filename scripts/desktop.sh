#!/usr/bin/env bash
# Puts a portable Rimbal 2 folder into the current user's desktop: the menu
# entry, the icons and the .rbp/.rbs file types, under the user's data folder
# ($XDG_DATA_HOME, normally ~/.local/share). Nothing outside it is touched.
#
#   scripts/desktop.sh install [FOLDER]   FOLDER: the portable folder (build/bin)
#   scripts/desktop.sh remove
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
data=${XDG_DATA_HOME:-$HOME/.local/share}
mime_types=(application-x-rimbal-package application-x-rimbal-sequence)

usage() {
  echo "Uso: $0 install [PASTA] | remove" >&2
  exit 2
}

refresh() {
  if command -v update-mime-database >/dev/null 2>&1; then update-mime-database "$data/mime"; fi
  if command -v update-desktop-database >/dev/null 2>&1; then update-desktop-database -q "$data/applications"; fi
  # Icon caches look at the folder's time.
  if [ -d "$data/icons/hicolor" ]; then touch "$data/icons/hicolor"; fi
}

# A path as one argument of a desktop entry's Exec key: quoted, with " ` $ \
# escaped inside the quotes, then \ escaped again for the string value, and %
# doubled so it is no field code.
exec_quote() {
  local s=$1
  s=${s//\\/\\\\}
  s=${s//\"/\\\"}
  s=${s//\`/\\\`}
  s=${s//\$/\\\$}
  s=${s//\\/\\\\}
  s=${s//%/%%}
  printf '"%s"' "$s"
}

install_for_user() {
  local folder
  folder=$(cd "${1:-$root/build/bin}" 2>/dev/null && pwd) || {
    echo "Pasta não encontrada: ${1:-$root/build/bin}" >&2
    exit 1
  }
  local share=$folder/share
  if [ ! -x "$folder/rimbal2" ] || [ ! -f "$share/applications/rimbal2.desktop" ]; then
    echo "$folder não é uma pasta do Rimbal 2 (falta rimbal2 ou share/applications/rimbal2.desktop)." >&2
    exit 1
  fi
  case $folder in
    *$'\n'*) echo "O nome da pasta não pode ter quebra de linha: $folder" >&2; exit 1 ;;
  esac

  mkdir -p "$data/applications" "$data/mime/packages"
  local exe=$folder/rimbal2 entry=$data/applications/rimbal2.desktop line
  local tryexec=${exe//\\/\\\\}
  {
    while IFS= read -r line; do
      case $line in
        Exec=*) printf 'Exec=%s %%F\n' "$(exec_quote "$exe")" ;;
        TryExec=*) printf 'TryExec=%s\n' "$tryexec" ;;
        *) printf '%s\n' "$line" ;;
      esac
    done <"$share/applications/rimbal2.desktop"
  } >"$entry.tmp"
  mv -f "$entry.tmp" "$entry"
  cp -f "$share/mime/packages/rimbal2.xml" "$data/mime/packages/rimbal2.xml"
  local icon dir
  for icon in "$share"/icons/hicolor/*/*/*.png; do
    dir=$data/icons/hicolor/${icon#"$share/icons/hicolor/"}
    mkdir -p "$(dirname "$dir")"
    cp -f "$icon" "$dir"
  done
  refresh
  echo "Rimbal 2 ($folder) instalado para $(id -un) em $data"
}

remove_for_user() {
  rm -f "$data/applications/rimbal2.desktop" "$data/mime/packages/rimbal2.xml"
  local size name
  for size in "$data"/icons/hicolor/*/; do
    rm -f "$size/apps/rimbal2.png"
    for name in "${mime_types[@]}"; do rm -f "$size/mimetypes/$name.png"; done
  done
  if [ -d "$data/mime" ]; then mkdir -p "$data/applications"; refresh; fi
  echo "Rimbal 2 removido de $data"
}

case ${1:-} in
  install) [ $# -le 2 ] || usage; install_for_user "${2:-}" ;;
  remove) [ $# -eq 1 ] || usage; remove_for_user ;;
  *) usage ;;
esac
