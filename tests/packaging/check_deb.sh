#!/usr/bin/env bash
# Builds the .deb from a configured and built tree, unpacks it and checks what
# an installing user gets: the control fields, the files, and a program that
# answers --version and keeps its files in the per-user folder.
# Usage: check_deb.sh BUILD_DIR DESKTOP_ID VERSION
set -euo pipefail
build=$1 id=$2 version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  fail "cpack"
fi
debs=("$work"/out/quillmint_"$version"_*.deb)
[ -f "${debs[0]}" ] || fail "no quillmint_${version}_<arch>.deb in: $(ls "$work/out")"
deb=${debs[0]}

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = quillmint ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Section)" = web ] || fail "Section: $(field Section)"
[[ "$(field Maintainer)" == *"<"*@*">" ]] || fail "Maintainer: $(field Maintainer)"
[[ "$(field Description)" == *Quillmint* ]] || fail "Description: $(field Description)"
depends=$(field Depends)
# Computed from what the program links, and the libraries and plugins it loads.
for package in libc6 libstdc++6 libqt6widgets6 libqt6webenginewidgets6 libqt6svg6 libcurl4 \
  libqt6keychain1 qt6-qpa-plugins libsecret-1-0; do
  [[ ", $depends," == *", $package "[\(,]* || ", $depends," == *", $package,"* ]] ||
    fail "Depends lacks $package: $depends"
done

dpkg-deb -x "$deb" "$work/root"
usr=$work/root/usr
for file in bin/quillmint share/applications/"$id".desktop \
  share/icons/hicolor/scalable/apps/"$id".svg share/metainfo/"$id".metainfo.xml; do
  [ -f "$usr/$file" ] || fail "missing /usr/$file"
done
[ -x "$usr/bin/quillmint" ] || fail "/usr/bin/quillmint is not executable"
desktop-file-validate "$usr/share/applications/$id.desktop" || fail "desktop-file-validate"
appstreamcli validate-tree --no-net "$work/root" || fail "appstreamcli validate-tree"

# No display: the answers must not need one.
run() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_DATA_HOME="$work/data" "$@"; }
answer=$(run "$usr/bin/quillmint" --version)
[ "$answer" = "Quillmint $version" ] || fail "--version said: $answer"
answer=$(run "$usr/bin/quillmint" --program-folder)
[ "$answer" = "$work/data/Brindlecast/Quillmint" ] || fail "--program-folder said: $answer"
echo "ok: $(basename "$deb"), Depends: $depends"
