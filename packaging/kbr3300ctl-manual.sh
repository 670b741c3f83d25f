#!/bin/sh
# Makes kbr3300ctl's manual page with help2man from the program's own help, so that nothing is
# copied by hand between the two:
#   kbr3300ctl-manual.sh HELP2MAN KBR3300CTL VERSION SUMMARY INCLUDE OUTPUT
# help2man reads `kbr3300ctl --help` with its list of commands (and the keys of config set)
# replaced by each command's own `kbr3300ctl COMMAND --help`, which says more. Then the lines
# "Commands:" and "Exit status:" become the page's COMMANDS and EXIT STATUS sections, and each
# command's usage line the heading of its subsection. INCLUDE adds what the help does not say.
set -eu
help2man=$1 ctl=$2 version=$3 summary=$4 include=$5 output=$6
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$ctl" --help > "$work/help"
{
    sed -n '1,/^Commands:$/p' "$work/help"
    echo
    # The commands as the list names them: "  probe   connect...", "  config get [--with-secrets]".
    sed -nE '/^Commands:$/,/^$/s/^  ([a-z]+( [a-z]+)?)( .*)?$/\1/p' "$work/help" |
    while read -r command; do
        # shellcheck disable=SC2086  # "config get" is two words
        "$ctl" $command --help
        echo
    done
    # The page does not refer to itself.
    sed -n -e 's/ See kbr3300ctl(1)\.$//' -e '/^Options:$/,$p' "$work/help"
} > "$work/text"

# help2man runs a program of the page's name for its help.
mkdir "$work/bin"
printf '#!/bin/sh\nexec cat "%s"\n' "$work/text" > "$work/bin/kbr3300ctl"
chmod +x "$work/bin/kbr3300ctl"
"$help2man" --no-info --version-string="$version" --name="$summary" --include="$include" \
    --output="$work/page" "$work/bin/kbr3300ctl"

perl -0pe 's/^\.PP\nCommands:\n/.SH COMMANDS\n/m;
           s/^\.PP\nUsage: kbr3300ctl (.*)\n\.PP\n/.SS "$1"\n/mg;
           s/^\.SS "Exit status:"\n/.SH EXIT STATUS\n/m' "$work/page" > "$work/final"
# A help whose layout these steps no longer recognise fails the build rather than make a page
# without its commands.
if ! grep -q '^\.SH COMMANDS$' "$work/final" || ! grep -q '^\.SH EXIT STATUS$' "$work/final" ||
   grep -q '^Usage:' "$work/final"; then
    echo "kbr3300ctl-manual.sh: the page lacks its COMMANDS or EXIT STATUS section" >&2
    exit 1
fi
mv "$work/final" "$output"
