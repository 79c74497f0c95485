#!/usr/bin/env bash
# The installed layout and the Debian package, as a user gets them.
#   check_install.sh tree BUILD_DIR   cmake --install under /usr and /usr/local
#   check_install.sh deb  BUILD_DIR   the package CPack makes: contents, Depends
set -euo pipefail
mode=$1 build=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
id=com.lumetra.Kelvane

check_layout() {  # the tree below DESTDIR, the prefix
  for f in bin/kelvane share/kelvane/help/Kelvane.chm share/applications/$id.desktop \
    share/metainfo/$id.metainfo.xml share/icons/hicolor/{scalable/apps/$id.svg,48x48/apps/$id.png,128x128/apps/$id.png} \
    lib/udev/rules.d/70-kelvane.rules share/doc/kelvane/{README.md,copyright,changelog.gz} \
    share/man/man1/kelvane.1.gz $([ -e "$build/src/indi/indi_kelvane" ] && echo share/man/man1/indi_kelvane.1.gz); do
    [ -s "$1$2/$f" ] || fail "missing $f under $1$2"
  done
  [ -x "$1$2/bin/kelvane" ] || fail "bin/kelvane is not executable"
}

case $mode in
tree)
  for prefix in /usr /usr/local; do
    DESTDIR="$scratch/root" cmake --install "$build" --prefix "$prefix" >/dev/null
    check_layout "$scratch/root" "$prefix"
  done
  desktop-file-validate "$scratch/root/usr/share/applications/$id.desktop"
  appstreamcli validate --no-net "$scratch/root/usr/share/metainfo/$id.metainfo.xml" >/dev/null
  rule=$(grep -v '^#' "$scratch/root/usr/lib/udev/rules.d/70-kelvane.rules" | grep .)
  # The dimmer alone, for the user at the seat: never vendor-wide, never open to all.
  [ "$(wc -l <<<"$rule")" = 1 ] || fail "one rule expected"
  for part in 'KERNEL=="hidraw*"' 'ATTRS{idVendor}=="04d8"' 'ATTRS{idProduct}=="f5d1"' 'TAG+="uaccess"'; do
    grep -qF "$part" <<<"$rule" || fail "udev rule lacks $part"
  done
  ! grep -q 'MODE' <<<"$rule" || fail "udev rule sets a mode"
  ;;
deb)
  cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/pkg" >/dev/null
  deb=$(ls "$scratch"/pkg/kelvane_*_*.deb)
  dpkg-deb -e "$deb" "$scratch/control"
  mkdir "$scratch/x" && dpkg-deb -x "$deb" "$scratch/x"
  check_layout "$scratch/x" /usr
  [ ! -e "$scratch/x/usr/local" ] || fail "the package installs under /usr/local"
  depends=$(dpkg-deb -f "$deb" Depends)
  for lib in libc6 libstdc++6 libqt6core6 libqt6widgets6 libchm1 qt6-qpa-plugins; do
    tr ',' '\n' <<<"$depends" | sed 's/^ *//; s/ .*//' | grep -qxF "$lib" || fail "Depends lacks $lib: $depends"
  done
  [ "$(dpkg-deb -f "$deb" Recommends)" = indi-bin ] || fail "Recommends is not indi-bin"
  [ -x "$scratch/control/postinst" ] || fail "no executable postinst"
  # Outside a running udev (this build, a container) the postinst does nothing and succeeds.
  sh "$scratch/control/postinst" configure
  ! readelf -S "$scratch/x/usr/bin/kelvane" | grep -q debug_info || fail "the packaged program is not stripped"
  # Debian's own checks: changelog, manual pages, hardening, licence file.
  lintian --fail-on error,warning --tag-display-limit 0 "$deb" || fail "lintian"
  ;;
*) fail "unknown mode $mode" ;;
esac
echo "ok: $mode"
