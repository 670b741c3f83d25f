#!/bin/bash
# Checks the Debian packages in BUILD_DIR (made by the package target) as a Debian user's tools
# judge them: lintian reports no error and no warning (an override only with its reason, in
# OVERRIDES), desktop-file-validate passes the desktop entry and appstreamcli the metainfo.
#   lint_packages.sh BUILD_DIR OVERRIDES
# Exit 0 passed, 1 failed.
set -u
build=$1 overrides=$2
failed=0
fail() { echo "FAIL: $*"; failed=1; }
for tool in lintian desktop-file-validate appstreamcli dpkg-deb; do
    command -v $tool > /dev/null || { echo "FAIL: $tool is missing (scripts/install-deps installs it)"; exit 1; }
done
shopt -s nullglob
debs=("$build"/*.deb)
[[ ${#debs[@]} -gt 0 ]] || { echo "FAIL: no package in $build: build the package target first"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Every override carries its reason on the comment line above it.
if [[ -s $overrides ]]; then
    awk 'prev !~ /^#/ && $0 !~ /^#/ && NF { print "override without a reason: " $0; bad = 1 } { prev = $0 } END { exit bad }' \
        "$overrides" || fail "an override has no reason"
fi
for deb in "${debs[@]}"; do
    name=$(basename "$deb")
    report=$(lintian --fail-on none --display-info --suppress-tags-from-file <(grep -v '^#' "$overrides" 2>/dev/null | awk '{print $NF}') "$deb" 2>&1)
    echo "lintian $name:"
    if [[ -n $report ]]; then
        sed 's/^/    /' <<< "$report"
    else
        echo "    (nothing to report)"
    fi
    grep -qE '^[EW]: ' <<< "$report" && fail "lintian reports errors or warnings on $name"
    dpkg-deb -x "$deb" "$work/root"
done

desktop=("$work"/root/usr/share/applications/*.desktop)
[[ ${#desktop[@]} -eq 1 ]] || fail "expected one desktop entry, found ${#desktop[@]}"
for file in "${desktop[@]}"; do
    desktop-file-validate "$file" || fail "desktop-file-validate $(basename "$file")"
done
metainfo=("$work"/root/usr/share/metainfo/*.metainfo.xml)
[[ ${#metainfo[@]} -eq 1 ]] || fail "expected one AppStream file, found ${#metainfo[@]}"
for file in "${metainfo[@]}"; do
    appstreamcli validate --no-net "$file" || fail "appstreamcli validate $(basename "$file")"
    # Its id is the desktop entry's name, and it names the entry as its launchable.
    id=$(sed -n 's:.*<id>\(.*\)</id>.*:\1:p' "$file")
    [[ -e $work/root/usr/share/applications/$id.desktop ]] || fail "the AppStream id $id is not the desktop entry's"
done

[[ $failed -eq 0 ]] && echo "PASS: packages"
exit $failed
