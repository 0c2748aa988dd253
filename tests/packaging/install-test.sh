#!/bin/sh
# Installs the build into a temporary prefix and checks what a user's desktop
# reads from it: the desktop entry (desktop-file-validate), the AppStream
# metainfo (appstreamcli validate), the file managers' commands, and the
# installed program itself, extracting and adding through the commands the
# file managers run.
#   install-test.sh BUILD_DIR SOURCE_DIR
# Exit 77 (skipped) when a validator is missing.
set -eu
build=$1
source=$2
for tool in desktop-file-validate appstreamcli; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIPPED: $tool fehlt (apt-get install desktop-file-utils appstream)"
        exit 77
    fi
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/usr
cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "FEHLER: $*"; exit 1; }
for f in bin/tarvik bin/tarvik-cli share/applications/tarvik.desktop \
    share/metainfo/de.kvl.tarvik.metainfo.xml share/icons/hicolor/48x48/apps/tarvik.png \
    share/kio/servicemenus/tarvik-extract.desktop share/kio/servicemenus/tarvik-add.desktop \
    share/nemo/actions/tarvik-extract-here.nemo_action \
    "share/tarvik/nautilus-scripts/Hier entpacken"; do
    [ -e "$prefix/$f" ] || fail "$f fehlt"
done
[ -x "$prefix/share/tarvik/nautilus-scripts/Zu ZIP-Archiv hinzufügen" ] || fail "Skript nicht ausführbar"

desktop-file-validate "$prefix/share/applications/tarvik.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/de.kvl.tarvik.metainfo.xml"
grep -q '^MimeType=.*application/zip' "$prefix/share/applications/tarvik.desktop" ||
    fail "application/zip nicht zugeordnet"
# Every command of the file managers names one of the program's options.
for f in "$prefix"/share/kio/servicemenus/*.desktop "$prefix"/share/nemo/actions/*.nemo_action \
    "$prefix"/share/tarvik/nautilus-scripts/*; do
    grep -Eq 'tarvik --(extract-here|extract-to|add-to) ' "$f" || fail "$f: kein Befehl"
done

# The installed program does what the file managers ask of it.
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/config" TMPDIR="$work"
cp "$source/resources/Beispiel.zip" "$work/Beispiel.zip"
"$prefix/bin/tarvik" --extract-here "$work/Beispiel.zip" 2>/dev/null
[ -f "$work/Beispiel/Liesmich.txt" ] || fail "--extract-here hat nicht entpackt"
"$prefix/bin/tarvik" --extract-to "$work/ziel" "$work/Beispiel.zip" 2>/dev/null
[ -f "$work/ziel/Briefe/Einladung.txt" ] || fail "--extract-to hat nicht entpackt"
"$prefix/bin/tarvik" --add-to "$work/neu.zip" "$work/ziel/Briefe" "$work/ziel/Liesmich.txt" 2>/dev/null
"$prefix/bin/tarvik-cli" list "$work/neu.zip" | grep -q 'Briefe/Einladung.txt' ||
    fail "--add-to hat nicht hinzugefügt"
echo "1 passed, 0 failed"
