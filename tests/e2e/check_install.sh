#!/bin/bash
# Installs the build into a scratch prefix and checks that every piece lands where the programs
# and a Linux desktop look for it; then, where cpack and dpkg-deb are there, builds the Debian
# package and checks its contents.
#   check_install.sh BUILD_DIR FULL_BINDIR FULL_DATADIR FULL_HELPERDIR
# Exit 0 passed, 1 failed, 77 skipped (not everything that is installed has been built).
set -u
build=$1 bindir=$2 datadir=$3 helperdir=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

if ! cmake --install "$build" --prefix "$work/prefix" --component kbr3300 > "$work/install.log" 2>&1; then
    if grep -q "file INSTALL cannot find" "$work/install.log"; then
        echo "SKIP: not every installed program is built in $build (build everything first)"
        exit 77
    fi
    cat "$work/install.log"; echo "FAIL: cmake --install"; exit 1
fi

p=$work/prefix
helpers=${helperdir#"$(dirname "$bindir")"/}  # libexec/kbr3300
for file in bin/kbr3300 bin/kbr3300ctl "$helpers"/KBR3300_Wizardd "$helpers"/KBR3300 "$helpers"/nwinf \
            "$helpers"/ipconfig; do
    [[ -x $p/$file ]] || fail "$file is missing or not executable"
done
# Only the launcher and kbr3300ctl are on the PATH: the helpers work only as the launcher starts
# them, and a user typing `ipconfig` must not release the PC's leases.
on_path=$(cd "$p/bin" && ls | tr '\n' ' ')
[[ $on_path == "kbr3300 kbr3300ctl " ]] || fail "bin/ holds more than the launcher and kbr3300ctl: $on_path"
for file in share/metainfo/org.kbr3300.Setup.metainfo.xml share/doc/kbr3300/copyright share/kbr3300/PgPack.dll share/kbr3300/doc/linux.htm share/kbr3300/doc/xp.htm \
            share/kbr3300/doc/vista.htm share/applications/org.kbr3300.Setup.desktop \
            share/icons/hicolor/scalable/apps/kbr3300.svg share/man/man1/kbr3300ctl.1.gz \
            share/bash-completion/completions/kbr3300ctl; do
    [[ -s $p/$file ]] || fail "$file is missing"
done
# kbr3300ctl: its help and manual page give the exit codes; its completion loads and completes.
# (--help talks to no adaptor.)
"$p/bin/kbr3300ctl" --help | grep -q "5  the connection was lost" || fail "kbr3300ctl --help lacks the exit codes"
if [[ -s $p/share/man/man1/kbr3300ctl.1.gz ]]; then
    manual=$(gzip -dc "$p/share/man/man1/kbr3300ctl.1.gz")
    for section in NAME SYNOPSIS COMMANDS OPTIONS "EXIT STATUS" EXAMPLES; do
        grep -q "^\.SH $section" <<< "$manual" || fail "the manual page has no $section section"
    done
    if command -v groff > /dev/null; then
        [[ -z $(groff -man -Tutf8 -ww -z <<< "$manual" 2>&1) ]] || fail "the manual page has roff warnings"
    fi
fi
completion=$p/share/bash-completion/completions/kbr3300ctl
if [[ -s $completion ]]; then
    got=$(bash -c 'source "$1"; COMP_WORDS=(kbr3300ctl config set privacy = o); COMP_CWORD=5; _kbr3300ctl
                   echo "${COMPREPLY[*]}"; COMP_WORDS=(kbr3300ctl config ""); COMP_CWORD=2; _kbr3300ctl
                   echo "${COMPREPLY[*]}"' _ "$completion" 2>&1)
    [[ $got == $'on off\nget set backup restore' ]] || fail "bash completion gives: $got"
fi
[[ ! -e $p/bin/doc ]] || fail "help documents under bin/"
# The launcher starts the installed wizard and links the installed documents.
grep -qx "helperdir=\"$helperdir\"" "$p/bin/kbr3300" || fail "the launcher does not use $helperdir"
grep -qx "docdir=\"$datadir/kbr3300/doc\"" "$p/bin/kbr3300" || fail "the launcher does not use $datadir/kbr3300/doc"
# Run a copy of the launcher against stand-ins that report where and how they were started: it
# must start the wizard from the per-user run folder (private to the user, even under umask 022),
# with the helpers' folder first on PATH.
mkdir -p "$work/standin" "$work/runtime"
printf '#!/bin/sh\necho "PATH=$PATH"\necho "PWD=$(pwd)"\n' > "$work/standin/KBR3300_Wizardd"
chmod +x "$work/standin/KBR3300_Wizardd"
sed "s|^helperdir=.*|helperdir=\"$work/standin\"|" "$p/bin/kbr3300" > "$work/launcher"
chmod 0700 "$work/runtime"
report=$(umask 022; env PATH=/usr/bin:/bin XDG_RUNTIME_DIR="$work/runtime" sh "$work/launcher")
grep -qx "PATH=$work/standin:/usr/bin:/bin" <<< "$report" || fail "the launcher does not put its helpers first on PATH: $report"
[[ $(stat -c %a "$work/runtime/kbr3300") == 700 ]] || fail "the run folder is not private: $(stat -c %a "$work/runtime/kbr3300")"
# A run folder an older launcher made open to others is made private again.
chmod 0755 "$work/runtime/kbr3300"
(umask 022; env PATH=/usr/bin:/bin XDG_RUNTIME_DIR="$work/runtime" sh "$work/launcher" > /dev/null)
[[ $(stat -c %a "$work/runtime/kbr3300") == 700 ]] || fail "an open run folder stays open"
# A link planted at the run folder's place is refused, not followed.
mkdir -p "$work/runtime2" "$work/elsewhere" && chmod 0700 "$work/runtime2"
ln -s "$work/elsewhere" "$work/runtime2/kbr3300"
if (env PATH=/usr/bin:/bin XDG_RUNTIME_DIR="$work/runtime2" sh "$work/launcher" > /dev/null 2>&1); then
    fail "the launcher ran in a linked run folder"
fi
[[ -z $(ls -A "$work/elsewhere") ]] || fail "the launcher wrote through a link: $(ls -A "$work/elsewhere")"
grep -qx "PWD=$work/runtime/kbr3300" <<< "$report" || fail "the launcher does not start the wizard in its run folder: $report"
[[ -L $work/runtime/kbr3300/KBR3300 && -L $work/runtime/kbr3300/doc ]] || fail "the run folder lacks the program or doc links"
grep -qx "Exec=kbr3300" "$p/share/applications/org.kbr3300.Setup.desktop" || fail "the desktop entry does not run the launcher"
grep -qx "Icon=kbr3300" "$p/share/applications/org.kbr3300.Setup.desktop" || fail "the desktop entry has no icon"
if command -v desktop-file-validate > /dev/null; then
    desktop-file-validate "$p/share/applications/org.kbr3300.Setup.desktop" || fail "desktop entry not valid"
fi

if command -v cpack > /dev/null && command -v dpkg-deb > /dev/null && [[ -f $build/CPackConfig.cmake ]]; then
    if (cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/package" > cpack.log 2>&1); then
        deb=$(ls "$work"/package/kbr3300_*.deb 2>/dev/null | head -n 1)
        devdeb=$(ls "$work"/package/kbr3300-devtools_*.deb 2>/dev/null | head -n 1)
        [[ -n $devdeb ]] || fail "cpack made no developers' package"
        if [[ -n $devdeb ]]; then
            devcontents=$(dpkg-deb -c "$devdeb")
            for file in bin/kbr3300-devsim bin/kbr3300-talk bin/kbr3300-image; do
                grep -q "$file\$" <<< "$devcontents" || fail "$file is not in $(basename "$devdeb")"
            done
        fi
        if [[ -z $deb ]]; then
            fail "cpack made no .deb"
        else
            contents=$(dpkg-deb -c "$deb")
            for file in "$helpers"/KBR3300_Wizardd "$helpers"/KBR3300 "$helpers"/nwinf "$helpers"/ipconfig bin/kbr3300 share/kbr3300/PgPack.dll \
                        share/applications/org.kbr3300.Setup.desktop bin/kbr3300ctl share/man/man1/kbr3300ctl.1.gz \
                        share/bash-completion/completions/kbr3300ctl; do
                grep -q "$file\$" <<< "$contents" || fail "$file is not in $(basename "$deb")"
            done
            ! grep -E "bin/(kbr3300-|KBR3300|nwinf|ipconfig)" <<< "$contents" \
                || fail "$(basename "$deb") puts helpers or developer tools on the PATH"
            dpkg-deb -f "$deb" Depends | grep -q libqt6webenginecore6-bin || fail "package does not depend on the engine's helper"
            echo "package: $(basename "$deb"), $(grep -c . <<< "$contents") entries"
        fi
    else
        cat "$work/cpack.log"; fail "cpack -G DEB"
    fi
fi

[[ $failed -eq 0 ]] && echo "PASS: install layout"
exit $failed
