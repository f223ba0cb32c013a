#!/usr/bin/env bash
# The Debian package of a build: its name, its contents and dependencies, lintian without
# errors, and gleanmark-cli run from the package unpacked into a scratch root.
#   package_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build=$2
scratch=$(mktemp -d /tmp/gm-package-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

deb=$(bash "$source_dir/scripts/package-deb.sh" --no-build "$build" "$scratch/out")
version=$(sed -n 's/^project(gleanmark VERSION \([^ ]*\) .*/\1/p' "$source_dir/CMakeLists.txt")
[ "$(basename "$deb")" = "gleanmark_${version}_amd64.deb" ] || fail "package named $deb"
[ -f "$deb" ] || fail "no $deb"

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in ./usr/bin/gleanmark ./usr/bin/gleanmark-cli \
    ./usr/lib/gleanmark/gleanmark-cli-browser.so ./usr/share/gleanmark/gmk.cfg \
    ./usr/share/gleanmark/manual/index.html ./usr/share/applications/gleanmark.desktop \
    ./usr/share/icons/hicolor/48x48/apps/gleanmark.png \
    ./usr/share/icons/hicolor/256x256/apps/gleanmark.png \
    ./usr/share/man/man1/gleanmark.1.gz ./usr/share/man/man1/gleanmark-cli.1.gz \
    ./usr/share/bash-completion/completions/gleanmark-cli \
    ./usr/share/doc/gleanmark/copyright ./usr/share/doc/gleanmark/changelog.gz; do
  grep -qxF "$path" <<<"$contents" || fail "$path missing from the package"
done
# Nothing of the build or the tests goes in.
if grep -E 'gm_|_tests|\.a$|/include/' <<<"$contents"; then fail "build files in the package"; fi

# Dependencies come from the shared libraries the programs use.
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libqt6widgets6 libqt6webenginecore6 libxlsxwriter libmariadb3 libsqlite3 \
    qt6-qpa-plugins; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done

lintian --fail-on error --tag-display-limit 0 "$deb" >"$scratch/lintian.txt" 2>&1 ||
  { cat "$scratch/lintian.txt" >&2; fail "lintian reports errors"; }
cat "$scratch/lintian.txt"

# Unpacked into a scratch root, the program runs from there and finds its resources.
dpkg -x "$deb" "$scratch/root"
cli="$scratch/root/usr/bin/gleanmark-cli"
[ "$("$cli" --version)" = "gleanmark-cli $version" ] || fail "--version says $("$cli" --version)"
config=$("$cli" doc decode "$scratch/root/usr/share/gleanmark/gmk.cfg")
grep -q "<APP_TITLE>" <<<"$config" || fail "the packaged configuration does not decode"
# The bash completion offers the commands.
words=$(bash -c "source '$scratch/root/usr/share/bash-completion/completions/gleanmark-cli'
  COMP_WORDS=(gleanmark-cli ru); COMP_CWORD=1; _gleanmark_cli; echo \"\${COMPREPLY[*]}\"")
[ "$words" = "run" ] || fail "completion offers '$words'"
echo "package ok: $deb"
