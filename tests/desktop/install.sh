#!/usr/bin/env bash
# Installs the build under a scratch prefix and checks what a desktop needs
# to find there: the program, its string tables where the program looks for
# them (relative to the installed binary), the launcher entry whose Exec and
# Icon resolve to installed files, and both icons.
#   install.sh <build dir> <scratch prefix>
set -u
build=${1:?usage: install.sh <build dir> <prefix>}
prefix=$(realpath -m "${2:?usage: install.sh <build dir> <prefix>}")
id=com.parlaro.Parlaro

fail() {
  echo "install.sh: $*" >&2
  exit 1
}

rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >"$prefix.log" 2>&1 || { cat "$prefix.log" >&2; fail "cmake --install failed"; }

[[ -x "$prefix/bin/parlaro" ]] || fail "no program at bin/parlaro"
entry="$prefix/share/applications/$id.desktop"
[[ -f "$entry" ]] || fail "no launcher entry at share/applications/$id.desktop"
[[ -f "$prefix/share/metainfo/$id.metainfo.xml" ]] || fail "no AppStream description"
[[ -f "$prefix/share/icons/hicolor/scalable/apps/$id.svg" ]] || fail "no application icon"
[[ -f "$prefix/share/icons/hicolor/symbolic/apps/$id-symbolic.svg" ]] || fail "no tray icon"
grep -qx "$entry" "$build/install_manifest.txt" || fail "the entry is missing from the install manifest"

# The full path, so a session whose PATH lacks the prefix's bin still starts it.
exec_line=$(grep '^Exec=' "$entry" | cut -d= -f2-)
[[ "$exec_line" == "\"$prefix/bin/parlaro\"" ]] || fail "the entry starts $exec_line, not \"$prefix/bin/parlaro\""
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$entry" | grep -E '(error|warning):' && fail "the installed entry does not validate"
fi
icon_line=$(grep '^Icon=' "$entry" | cut -d= -f2-)
[[ -f "$prefix/share/icons/hicolor/scalable/apps/$icon_line.svg" ]] || fail "the entry's icon '$icon_line' is not installed"

# Every language of the source tree, every table of it.
tables="$prefix/share/parlaro/resources/i18n"
source_tables=$(dirname "$0")/../../resources/i18n
for lang in "$source_tables"/*/; do
  lang=$(basename "$lang")
  for table in "$source_tables/$lang"/*.json; do
    cmp -s "$table" "$tables/$lang/$(basename "$table")" || fail "string table $lang/$(basename "$table") not installed"
  done
done
# The launcher says what the program is in every interface language (the
# desktop's locale names: zh_CN for Simplified, zh_TW for Traditional
# Chinese, pt_BR for Brazilian Portuguese).
for lang in "$source_tables"/*/; do
  lang=$(basename "$lang")
  case "$lang" in
    zh-Hans) locale=zh_CN ;;
    zh-Hant) locale=zh_TW ;;
    *) locale=${lang/-/_} ;;
  esac
  for key in Name GenericName Comment; do
    grep -q "^$key\[$locale\]=." "$entry" || fail "the entry has no $key[$locale]"
  done
done
# Nothing beside the tables: the build's link to the source tree stays behind.
[[ ! -e "$prefix/bin/resources" ]] || fail "the build's resources link was installed"
echo "installed under $prefix: $(find "$prefix" -type f | wc -l) files"
