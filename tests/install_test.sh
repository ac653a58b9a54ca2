#!/usr/bin/env bash
# Installs the build tree into a temporary prefix with cmake --install and starts the
# installed programs from other directories: each finds the installed book, and
# varkon_classic writes its Varkon.ini and log in the working directory, or in the user's
# directory for them when the working directory takes no files.
#   install_test.sh CMAKE BUILD_DIR
set -u
cmake=$1
build=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
# expect TEXT FILE WHAT: FILE must contain TEXT.
expect() {
    grep -qF -- "$1" "$2" || { fail "$3: \"$1\" missing; the output was:"; cat "$2"; }
}

"$cmake" --install "$build" --prefix "$prefix" >"$tmp/install.out" 2>&1 || { cat "$tmp/install.out"; exit 1; }

for f in bin/varkon bin/varkon_classic bin/varkon_tbgen share/varkon/book.dat \
         share/man/man6/varkon.6 share/man/man6/varkon_classic.6 share/man/man6/varkon_tbgen.6; do
    [ -s "$prefix/$f" ] || fail "$f not installed"
done
# xboard's plugin files are installed as shipped, name a program that is installed, and say
# which protocol it speaks by their directory.
shipped=$(dirname "$0")/../dist/plugins
for f in games/plugins/xboard/varkon_classic.eng games/plugins/uci/varkon.eng; do
    eng=$prefix/share/$f
    if ! cmp -s "$eng" "$shipped/${f#games/plugins/}" || [ ! -x "$prefix/bin/$(sed -n 2p "$eng")" ] ||
       [ "$(sed -n 3p "$eng")" != chess ]; then
        fail "$f: not a plugin file for an installed program"
    fi
done
# The manual pages format without a warning, where groff is there to say.
if command -v groff >/dev/null; then
    for page in "$prefix"/share/man/man6/*.6; do
        warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
        [ -z "$warnings" ] || fail "$page: $warnings"
    done
fi

# varkon in an empty directory: its first move comes from the installed book.
mkdir "$tmp/work" && cd "$tmp/work" || exit 1
printf 'uci\nposition startpos\ngo depth 1\nquit\n' | "$prefix/bin/varkon" >"$tmp/varkon.out" 2>&1
expect "d2d4 <bookmove>" "$tmp/varkon.out" "varkon's book move"

# varkon_classic in a directory it may write: Varkon.ini and the log are made there.
printf 'xboard\nprotover 2\nnew\ngo\nquit\n' | XDG_CONFIG_HOME=$tmp/config "$prefix/bin/varkon_classic" >"$tmp/classic.out" 2>&1
expect "new Varkon.ini created.. " "$tmp/classic.out" "varkon_classic's first start"
expect "1. d2d4 " "$tmp/classic.out" "varkon_classic's book moves"
expect "move d2d4" "$tmp/classic.out" "varkon_classic's book move"
[ -f Varkon.ini ] && [ -f Varkon_v5.11c.log ] || fail "Varkon.ini and the log are not in the working directory"
[ ! -e "$tmp/config" ] || fail "the user's directory was made though the working directory takes files"

# varkon_classic in a directory that takes no files (/proc takes none, even from root):
# both files go to $XDG_CONFIG_HOME/varkon, or else to ~/.config/varkon; a second start
# reads the file written by the first.
for run in xdg home home; do
    if [ $run = xdg ]; then
        env=(XDG_CONFIG_HOME="$tmp/config" HOME="$tmp/nohome")
        dir=$tmp/config/varkon
    else
        env=(-u XDG_CONFIG_HOME HOME="$tmp/home")
        dir=$tmp/home/.config/varkon
    fi
    (cd /proc && printf 'xboard\nprotover 2\nnew\ngo\nquit\n' | env "${env[@]}" "$prefix/bin/varkon_classic") >"$tmp/ro.out" 2>&1
    expect "Varkon.ini and the log are kept in $dir/" "$tmp/ro.out" "a start in /proc ($run)"
    expect "move d2d4" "$tmp/ro.out" "a start in /proc ($run)"
    [ -f "$dir/Varkon.ini" ] && [ -f "$dir/Varkon_v5.11c.log" ] || fail "Varkon.ini and the log are not in $dir"
done
grep -qF "new Varkon.ini created" "$tmp/ro.out" && fail "the second start in /proc did not read the file of the first"
[ ! -e "$tmp/nohome" ] || fail "HOME was used although XDG_CONFIG_HOME was set"

# varkon_tbgen runs from anywhere and makes a table, in a directory it makes itself.
"$prefix/bin/varkon_tbgen" "$tmp/tb/new" kqk >"$tmp/tbgen.out" 2>&1 || fail "varkon_tbgen failed: $(cat "$tmp/tbgen.out")"
[ -s "$tmp/tb/new/kqk.nbw" ] && [ -s "$tmp/tb/new/kqk.nbb" ] || fail "varkon_tbgen made no kqk table"
: >"$tmp/tb/file"
"$prefix/bin/varkon_tbgen" "$tmp/tb/file/sub" kqk >"$tmp/tbgen.out" 2>&1 && fail "varkon_tbgen wrote under a plain file"
grep -qF "cannot make the directory $tmp/tb/file/sub" "$tmp/tbgen.out" || fail "no clear message for a directory it cannot make"

if [ $failures -ne 0 ]; then
    echo "$failures failures"
    exit 1
fi
echo "installed programs: all checks passed"
