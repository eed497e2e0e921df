#!/bin/sh
# Makes a client package for the update program and refitter:
#
#     tools/refitter/make-package.sh TREE VERSION OUT
#
# TREE is the new install folder's tree (folders and regular files only, holding at least
# VanTrelo, VanTreloUpdate and refitter, no setuid, setgid or sticky mode). OUT, a
# ".tar.gz", gets one member, "VanTreloInstaller.pkg": a plain ustar archive of
# PackageInfo (format, product, version), Manifest (SHA-256, octal mode and path of every
# file) and Payload/ (the tree). Owners are stored as 0 and times as the files have them;
# refitter sets owners and modes itself.
set -eu
export LC_ALL=C

if [ "$#" -ne 3 ]; then
    echo "usage: $0 TREE VERSION OUT" >&2
    exit 2
fi
tree=$1 version=$2 out=$3
fail() {
    echo "make-package: $*" >&2
    exit 1
}

[ -d "$tree" ] || fail "$tree is no folder"
case "$version" in
    "" | *[!0-9A-Za-z.+~_-]*) fail "the version must be a plain word: '$version'" ;;
esac
for required in VanTrelo VanTreloUpdate refitter; do
    [ -f "$tree/$required" ] && [ ! -L "$tree/$required" ] || fail "$tree holds no file $required"
done
odd="$(cd "$tree" && find . ! -type f ! -type d | head -n 1)"
[ -z "$odd" ] || fail "the tree holds something other than files and folders: $odd"
special="$(cd "$tree" && find . -perm /7000 | head -n 1)"
[ -z "$special" ] || fail "the tree holds a setuid, setgid or sticky entry: $special"
newline="$(cd "$tree" && find . -name '*
*' | head -n 1)"
[ -z "$newline" ] || fail "a name in the tree holds a line break"

work="$(mktemp -d "${TMPDIR:-/tmp}/make-package-XXXXXX")"
trap 'rm -rf "$work"' EXIT
mkdir "$work/pkg" "$work/outer"

printf 'format=1\nproduct=VanTrelo\nversion=%s\n' "$version" >"$work/pkg/PackageInfo"
cp -R -p "$tree" "$work/pkg/Payload"
chmod 755 "$work/pkg/Payload"
(
    cd "$work/pkg/Payload"
    find . -type f | sed 's|^\./||' | sort | while IFS= read -r file; do
        hash="$(sha256sum <"$file" | cut -d ' ' -f 1)"
        mode="$(stat -c %a "$file")"
        printf '%s %s %s\n' "$hash" "$mode" "$file"
    done
) >"$work/pkg/Manifest"

tar --format=ustar --owner=0 --group=0 --numeric-owner --sort=name \
    -cf "$work/outer/VanTreloInstaller.pkg" -C "$work/pkg" PackageInfo Manifest Payload
case "$out" in
    /*) ;;
    *) out="$(pwd)/$out" ;;
esac
tar --format=ustar --owner=0 --group=0 --numeric-owner \
    -czf "$out" -C "$work/outer" VanTreloInstaller.pkg
