#!/usr/bin/env bash
# Installs a build tree into a temporary prefix and checks what lands there: the
# list of files, the icons' sizes, the desktop entry, the decoder files' MIME type
# and the AppStream data (with their validators), the manual pages (rendered without
# warnings, naming every command and option of the programs' --help), the bash
# completion against the tool's own help and error messages, that the installed
# programs run, and that they are hardened.
# Usage: scripts/check_install.sh BUILD_DIR
set -euo pipefail

[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "$1" && pwd)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
app_id=de.qarn2.qarn2

work=$(mktemp -d "${TMPDIR:-/tmp}/qarn2-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
cli=$prefix/bin/qarn2-cli

failures=0
fail() {
  echo "check_install: $*" >&2
  failures=$((failures + 1))
}

# --- the files --------------------------------------------------------------------
expected=$(
  {
    printf '%s\n' bin/qarn2 bin/qarn2-cli \
      "share/applications/$app_id.desktop" "share/metainfo/$app_id.metainfo.xml" \
      "share/mime/packages/$app_id.xml" \
      share/bash-completion/completions/qarn2-cli \
      share/doc/qarn2/changelog.gz share/doc/qarn2/copyright \
      share/icons/hicolor/scalable/apps/qarn2.svg \
      share/man/man1/qarn2.1.gz share/man/man1/qarn2-cli.1.gz
    for size in 16 32 48 64 128 256; do
      echo "share/icons/hicolor/${size}x${size}/apps/qarn2.png"
    done
    (cd "$root/examples" && find . -type f | sed 's|^\./|share/qarn2/examples/|')
  } | sort
)
actual=$(cd "$prefix" && find . -type f | sed 's|^\./||' | sort)
if [ "$actual" != "$expected" ]; then
  fail "installed files differ from the expected ones (< expected, > installed):"
  diff <(echo "$expected") <(echo "$actual") >&2 || true
fi
for program in qarn2 qarn2-cli; do
  [ -x "$prefix/bin/$program" ] || fail "bin/$program is not executable"
  # A run path into the build tree would make the installed program use its libraries.
  if readelf -d "$prefix/bin/$program" 2>/dev/null | grep -E 'R(UN)?PATH' | grep -qF "$build"; then
    fail "bin/$program keeps a run path into $build"
  fi
done
# Hardened as Debian's packages are (dpkg-buildflags, hardening=+all); hardening-check
# (devscripts) fails on any protection it finds missing. It takes control-flow
# protection from the program's property note, which the linker drops when a single
# object lacks it, and Debian 12's C library start files (Scrt1.o, crti.o) do: no
# program there has it. So that one is looked for where the compiler puts it, at the
# entry of main (endbr64).
if ! command -v hardening-check >/dev/null; then
  fail "hardening-check is missing (Debian package devscripts)"
else
  for program in qarn2 qarn2-cli; do
    output=$(hardening-check --nocfprotection "$prefix/bin/$program" 2>&1) ||
      fail "hardening-check bin/$program:"$'\n'"$output"
    objdump -d --no-show-raw-insn --disassemble=main "$prefix/bin/$program" | grep -A1 '<main>:$' |
      grep -q endbr64 || fail "bin/$program: main does not begin with endbr64 (-fcf-protection)"
  done
fi
for example in "$root"/examples/*; do
  cmp -s "$example" "$prefix/share/qarn2/examples/${example##*/}" ||
    fail "share/qarn2/examples/${example##*/} is not a copy of examples/${example##*/}"
done

# A PNG's width and height are the big-endian words at bytes 16 and 20.
for size in 16 32 48 64 128 256; do
  png=$prefix/share/icons/hicolor/${size}x${size}/apps/qarn2.png
  [ -f "$png" ] || continue
  read -r -a header <<<"$(od -An -tu1 -w24 -N24 "$png")"
  signature="${header[0]} ${header[1]} ${header[2]} ${header[3]}"
  width=$(( (header[16] << 24) | (header[17] << 16) | (header[18] << 8) | header[19] ))
  height=$(( (header[20] << 24) | (header[21] << 16) | (header[22] << 8) | header[23] ))
  [ "$signature" = "137 80 78 71" ] || fail "${png#"$prefix"/} is no PNG"
  [ "$width"x"$height" = "$size"x"$size" ] || fail "${png#"$prefix"/} is ${width}x$height"
done

# --- desktop entry and AppStream data ---------------------------------------------
desktop=$prefix/share/applications/$app_id.desktop
if ! output=$(desktop-file-validate "$desktop" 2>&1) || [ -n "$output" ]; then
  fail "desktop-file-validate: $output"
fi
exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
[ -x "$prefix/bin/$exec_program" ] || fail "the desktop entry starts '$exec_program', which is not installed"
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -f "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" ] ||
  fail "the desktop entry's icon '$icon' is not installed"

# The decoder files' type: the desktop entry opens it, and the shared MIME database
# built from the installed share/ (a copy, so the install stays as it is) knows it by
# both names, in either case, and by a whole mode line whatever the name.
mime_type=application/x-qarn2-decoder
grep -qx "MimeType=$mime_type;" "$desktop" || fail "the desktop entry does not open $mime_type"
grep -qx 'Exec=qarn2 %f' "$desktop" || fail "the desktop entry does not hand qarn2 the file"
grep -qx 'StartupWMClass=qarn2' "$desktop" || fail "the desktop entry's StartupWMClass is not qarn2"
mime_xml=$prefix/share/mime/packages/$app_id.xml
if ! output=$(xmllint --noout "$mime_xml" 2>&1); then
  fail "xmllint $app_id.xml: $output"
fi
mkdir -p "$work/mime-share/mime/packages"
cp "$mime_xml" "$work/mime-share/mime/packages/"
mime_db=$work/mime-share/mime
if ! output=$(XDG_DATA_DIRS=$work/mime-share update-mime-database "$mime_db" 2>&1) || [ -n "$output" ]; then
  fail "update-mime-database: $output"
fi
[ -f "$mime_db/$mime_type.xml" ] || fail "the MIME database has no $mime_type"
grep -qx "$mime_type text/plain" "$mime_db/subclasses" 2>/dev/null || fail "$mime_type is no kind of text/plain"
# globs2: "weight:type:pattern[:cs]"; without cs a pattern matches regardless of case.
mapfile -t globs < <(sed -n "s|^[0-9]*:$mime_type:\(.*\)|\1|p" "$mime_db/globs2" 2>/dev/null || true)
# taken_by_glob NAME: whether one of the type's patterns takes NAME.
taken_by_glob() {
  local glob taken=1
  shopt -s nocasematch
  for glob in "${globs[@]}"; do
    # shellcheck disable=SC2053 # the pattern is a glob
    [[ $1 == $glob ]] && taken=0
  done
  shopt -u nocasematch
  return $taken
}
for name in lok.LOC lok.loc weiche.DEC weiche.dec; do
  taken_by_glob "$name" || fail "the MIME database does not take $name for $mime_type (globs: ${globs[*]})"
done
for name in lok.txt LOC dec.pdf; do
  ! taken_by_glob "$name" || fail "the MIME database takes $name for $mime_type (globs: ${globs[*]})"
done
# The magic file holds each string after its length (a 16-bit word): the example
# files' mode lines whole, 6 bytes with their CR LF.
for example in "$root"/examples/*; do
  mode_line=$(head -n 1 "$example")
  grep -aqF -- $'\006'"$mode_line" "$mime_db/magic" 2>/dev/null ||
    fail "the MIME database's magic does not know the mode line of ${example##*/}"
done

metainfo=$prefix/share/metainfo/$app_id.metainfo.xml
if ! output=$(appstreamcli validate --no-net --strict "$metainfo" 2>&1); then
  fail "appstreamcli validate: $output"
fi
grep -qF "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
  fail "the AppStream data does not launch $app_id.desktop"
while read -r binary; do
  [ -x "$prefix/bin/$binary" ] || fail "the AppStream data provides '$binary', which is not installed"
done < <(sed -n 's|.*<binary>\(.*\)</binary>.*|\1|p' "$metainfo")
# Each release has its entry in the AppStream data and in the changelog.
grep -qF "<release version=\"$version\"" "$metainfo" ||
  fail "the AppStream data has no <release> for version $version"
changelog_version=$(zcat "$prefix/share/doc/qarn2/changelog.gz" | sed -n '1s/^qarn2 (\([^)]*\)).*/\1/p')
[ "$changelog_version" = "$version" ] ||
  fail "the changelog's latest entry is version '$changelog_version', the project's $version"

# --- the programs and their manual pages ------------------------------------------
cli_help=$("$cli" --help) || fail "the installed qarn2-cli --help failed"
[[ $cli_help == "qarn2-cli - "* ]] || fail "the installed qarn2-cli --help printed: ${cli_help:0:200}"
window_help=$("$prefix/bin/qarn2" --help) || fail "the installed qarn2 --help failed"
[[ $window_help == "Usage: qarn2 "* ]] || fail "the installed qarn2 --help printed: ${window_help:0:200}"
commands=$(sed -n 's/^  qarn2-cli \([a-z][a-z-]*\).*/\1/p' <<<"$cli_help" | sort -u)
[ -n "$commands" ] || fail "no commands found in qarn2-cli --help"

example=$prefix/share/qarn2/examples/lokdecoder.LOC
if ! read_back=$("$cli" read-all --simulate --virtual-time "$example" 2>/dev/null); then
  fail "the installed qarn2-cli could not read the installed example's CVs"
elif [ "$(wc -l <<<"$read_back")" -ne "$(wc -l <"$example")" ]; then
  fail "read-all of the installed example printed $(wc -l <<<"$read_back") lines, not $(wc -l <"$example")"
fi

# check_manual PAGE HELP [COMMAND...]: renders without warnings, names every option
# of HELP, and its synopsis has a line for each COMMAND of qarn2-cli.
check_manual() {
  local page=$prefix/share/man/man1/$1 help=$2 warnings text word synopsis
  shift 2
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) ||
    fail "man -l ${page##*/} failed"
  [ -z "$warnings" ] || fail "man -l ${page##*/}: $warnings"
  # As wide as the longest paragraph, so that no option is split over two lines.
  text=$(LC_ALL=C.UTF-8 MANWIDTH=2000 man -l "$page" 2>/dev/null)
  while read -r word; do
    grep -qE -- "(^|[^a-z-])$word([^a-z-]|$)" <<<"$text" || fail "${page##*/} does not mention $word"
  done < <(grep -oE -- '--[a-z][a-z-]*' <<<"$help" | sort -u)
  synopsis=$(sed -n '/^SYNOPSIS/,/^[A-Z]/p' <<<"$text")
  for word in "$@"; do
    grep -qE -- "^ +qarn2-cli $word( |$)" <<<"$synopsis" || fail "${page##*/} has no synopsis of $word"
  done
}
check_manual qarn2.1.gz "$window_help"
# shellcheck disable=SC2086 # one word per command
check_manual qarn2-cli.1.gz "$cli_help" $commands

# --- bash completion ----------------------------------------------------------------
# The completion is built on bash-completion's helpers, loaded first as a login shell
# does.
bash_completion=/usr/share/bash-completion/bash_completion
[ -f "$bash_completion" ] || fail "$bash_completion is missing (Debian package bash-completion)"
completion=$prefix/share/bash-completion/completions/qarn2-cli
# complete WORD...: what the completion offers for the last word (COMP_WORDS as bash
# splits the line: "--port COM1=sim" is the words --port, COM1, = and sim).
complete_words() {
  bash -c 'source "$0"; source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
           COMP_LINE="${COMP_WORDS[*]}"; COMP_POINT=${#COMP_LINE}; _qarn2_cli
           printf "%s\n" "${COMPREPLY[@]}" | sort' \
    "$bash_completion" "$completion" qarn2-cli "$@"
}
# complete_typed LINE: the arguments qarn2-cli gets when LINE, with a Tab at its end,
# is typed into an interactive bash on a terminal of its own (script), one a line.
# Only readline takes a typed file name apart ("mein\ lok", "~/"), so this is how
# such names are checked.
complete_typed() {
  local reply=$work/typed
  rm -f "$reply"
  printf '%s\n' "unset HISTFILE; source $bash_completion; source $(printf %q "$completion")" \
    "qarn2-cli() { printf '%s\\n' \"\$@\" >$(printf %q "$reply"); }" "qarn2-cli $1"$'\t' exit |
    script -qec "bash --norc --noprofile -i" /dev/null >/dev/null 2>&1
  cat "$reply" 2>/dev/null || echo "(not run)"
}
# The values the tool itself names when given a wrong one: "takes a, b or c, not 'x'"
# or "(a, b, c)".
values_named() {
  sed -n -e "s/.* takes \(.*\), not 'x-bogus'.*/\1/p" -e 's/.* (\(.*\))$/\1/p' |
    sed 's/ or /, /' | tr -d ' ' | tr ',' '\n' | sort
}

[ "$(complete_words "")" = "$(printf '%s\n' "$commands" help | sort)" ] ||
  fail "completion offers the commands '$(complete_words "" | xargs)', the help lists '$(xargs <<<"$commands")'"

declare -A sample=([--fixed]=IdleStream [--copies]=5 [--mode]=dir [--hardware]=board
                   [--port]=COM1=sim [--sim-decoder]=x.DEC [--sim-lgb-reply]=whole
                   [--pdf]=x.pdf [--shape]=e [--entry]=1 [--value]=1
                   [--retries]=1 [--sim-ack-loss]=0.5 [--sim-seed]=1 [--sim-trait]=ack-every-packet [--id]=x [--out]=x.DEC
                   [--jmri]=x [--model]=x [--family]=x [--lang]=de)
track_options=$(sed -n '/^Track options/,/^$/s/^  \(--[a-z-]*\).*/\1/p' <<<"$cli_help")
mkdir "$work/cwd"
cd "$work/cwd"
for command in $commands; do
  offered=$(complete_words "$command" --)
  # Every option the completion offers is one the command takes...
  for option in $offered; do
    [ "$option" = --help ] && continue
    # shellcheck disable=SC2086 # no value for a plain option
    "$cli" "$command" "$option" ${sample[$option]-} --help </dev/null >/dev/null 2>&1 ||
      fail "completion offers $option for $command, which refuses it"
  done
  # ...and every option of the command's usage lines (with the track options where
  # they say so) is offered.
  usage=$(grep "^  qarn2-cli $command " <<<"$cli_help")
  wanted=$(grep -oE -- '--[a-z][a-z-]*' <<<"$usage" || true)
  grep -q 'TRACK OPTIONS' <<<"$usage" && wanted+=" $track_options"
  for option in $wanted; do
    grep -qx -- "$option" <<<"$offered" || fail "completion does not offer $option for $command"
  done
done

# The values offered after an option are exactly those the tool takes.
check_values() {
  local command=$1 option=$2 offered named
  offered=$(complete_words "$command" "$option" "")
  named=$({ "$cli" "$command" "$option" x-bogus 2>&1 </dev/null || true; } | values_named)
  [ -n "$named" ] || fail "$command $option x-bogus does not name the values it takes"
  [ "$offered" = "$named" ] ||
    fail "completion offers '$(xargs <<<"$offered")' after $command $option, the tool takes '$(xargs <<<"$named")'"
}
check_values read --mode
check_values read --hardware
check_values read --sim-lgb-reply
check_values curve --shape
check_values encode --fixed

[ "$(complete_words read --port "" | wc -l)" -eq 16 ] || fail "completion does not offer COM1= to COM16="
complete_words read --port COM1 = "" | grep -qx sim || fail "completion does not offer sim after --port COM1="
touch a.DEC b.loc c.txt d.pdf
mkdir sub
[ "$(complete_words read-all "" | xargs)" = "a.DEC b.loc sub" ] ||
  fail "completion offers '$(complete_words read-all "" | xargs)' as decoder files"
[ "$(complete_words print a.DEC --pdf "" | xargs)" = "d.pdf sub" ] ||
  fail "completion offers '$(complete_words print a.DEC --pdf "" | xargs)' after --pdf"
# Names with blanks, typed with a backslash or in quotes, and names under ~/ (a home
# of the check's own): what qarn2-cli then gets, the arguments between '|'.
mkdir "$work/home" "$work/home/alte Loks"
touch "mein lok.DEC" "$work/home/alte Loks/br 01.LOC" "$work/home/alte Loks/br 01.pdf"
while IFS='>' read -r typed wanted; do
  got=$(HOME=$work/home complete_typed "$typed" | paste -sd '|')
  [ "$got" = "${wanted//\~/$work/home}" ] || fail "completing '$typed' gave '$got'"
done <<'END'
read-all mein\ >read-all|mein lok.DEC
read-all "mein>read-all|mein lok.DEC
read-all ~/alte\ Loks/>read-all|~/alte Loks/br 01.LOC
write-all --sim-decoder ~/al>write-all|--sim-decoder|~/alte Loks/
print mein\ lok.DEC --pdf ~/alte\ Loks/>print|mein lok.DEC|--pdf|~/alte Loks/br 01.pdf
read --port COM1=~/alte\ Loks/br\ 01.L>read|--port|COM1=~/alte Loks/br 01.LOC
END

# --- the Debian package ---------------------------------------------------------------
# Made outside the build tree; it must hold what the install does, under /usr, with
# the libraries it links as dependencies.
cd "$work"
if ! cpack -G DEB -B "$work/deb" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1; then
  fail "cpack -G DEB failed:"
  cat "$work/cpack.log" >&2
else
  deb=$work/deb/qarn2_${version}_$(dpkg --print-architecture).deb
  if [ ! -f "$deb" ]; then
    fail "cpack made $(cd "$work/deb" && echo *.deb), not ${deb##*/}"
  else
    packaged=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sed 's|^\./usr/||' | sort)
    if [ "$packaged" != "$actual" ]; then
      fail "the package's files differ from the install's (< installed, > packaged):"
      diff <(echo "$actual") <(echo "$packaged") >&2 || true
    fi
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the package's version is not $version"
    depends=$(dpkg-deb -f "$deb" Depends)
    for library in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6printsupport6; do
      sed 's/ ([^)]*)//g; s/, /\n/g' <<<"$depends" | grep -qxF "$library" ||
        fail "the package does not depend on $library: $depends"
    done
    [[ $(dpkg-deb -f "$deb" Maintainer) =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] ||
      fail "the package's maintainer is '$(dpkg-deb -f "$deb" Maintainer)'"
    mkdir "$work/unpacked"
    dpkg-deb -x "$deb" "$work/unpacked"
    for program in qarn2 qarn2-cli; do
      sections=$(readelf -S "$work/unpacked/usr/bin/$program")
      if grep -qE '\.(symtab|comment)' <<<"$sections"; then fail "the package's $program keeps its symbols or the compiler's notes"; fi
    done
  fi
fi

if [ "$failures" -ne 0 ]; then
  echo "check_install: $failures problem(s)" >&2
  exit 1
fi
echo "check_install: $(wc -l <<<"$actual") files installed and checked" >&2
