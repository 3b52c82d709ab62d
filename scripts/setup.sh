# Shared by ./run and ./test: installs what the build needs and builds one tree.
# Source it; it defines functions only.

# What building and running the window needs (./run): the compiler, CMake and Ninja,
# Qt, Qt's German catalogues for its dialogs, librsvg2-bin, whose rsvg-convert
# renders the icon's sizes, and libudev-dev (found through pkgconf): the serial
# devices and their plugging in and out, for the port list and dialog.
QARN2_RUN_PACKAGES=(build-essential cmake ninja-build qt6-base-dev qt6-translations-l10n librsvg2-bin
                    libudev-dev pkgconf)
# What the tests need besides (./test installs all): GoogleTest and Google Benchmark;
# poppler-utils: pdftotext, with which the tests read back the printed PDF.
# desktop-file-utils, appstream, man-db and dpkg-dev: the install check validates the
# desktop entry, the AppStream data and the manual pages and builds the Debian package
# (its dependencies); shared-mime-info and libxml2-utils: it builds a MIME database of
# the decoder files' type (update-mime-database) after checking its XML (xmllint).
QARN2_PACKAGES=("${QARN2_RUN_PACKAGES[@]}" libgtest-dev libgmock-dev libbenchmark-dev poppler-utils
                desktop-file-utils appstream man-db dpkg-dev shared-mime-info libxml2-utils)
# The AT-SPI check (scripts/check_atspi.sh) drives the window from outside: an X server
# of its own (xvfb; xauth, which xvfb-run needs to show the window by hand), a private
# session bus (dbus-daemon's dbus-run-session), the accessibility bus and registry
# (at-spi2-core) and the Python client (python3-pyatspi with its GObject bindings).
QARN2_PACKAGES+=(xvfb xauth dbus-daemon at-spi2-core python3-pyatspi gir1.2-atspi-2.0)
# The install check completes file names through bash-completion's own helpers.
QARN2_PACKAGES+=(bash-completion)
# The install check runs hardening-check on the programs. It comes with devscripts,
# which alone brings some 45 packages, mostly Perl, but with the packages it
# recommends (apt's default) more than 230. The check needs none of those, so these
# are installed without them.
QARN2_PACKAGES_BARE=(devscripts)

qarn2_is_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

# qarn2_ensure_packages run|test: installs the missing Debian packages (as root), or
# explains how to and fails: for run those the window needs, for test all.
qarn2_ensure_packages() {
  if [ "${1:-}" = run ]; then
    qarn2_install_missing "${QARN2_RUN_PACKAGES[@]}"
  else
    qarn2_install_missing "${QARN2_PACKAGES[@]}" -- "${QARN2_PACKAGES_BARE[@]}"
  fi
}

# qarn2_install_missing PACKAGE... [-- PACKAGE...]: those after "--" without the
# packages they recommend.
qarn2_install_missing() {
  local missing=() bare=() package
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    qarn2_is_installed "$1" || missing+=("$1")
    shift
  done
  [ "${1:-}" = "--" ] && shift
  for package in "$@"; do
    qarn2_is_installed "$package" || bare+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && [ ${#bare[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]} ${bare[*]}" >&2
    echo "Install them as root with:" >&2
    echo -n "  apt-get update" >&2
    [ ${#missing[@]} -eq 0 ] || echo -n " && apt-get install -y ${missing[*]}" >&2
    [ ${#bare[@]} -eq 0 ] || echo -n " && apt-get install -y --no-install-recommends ${bare[*]}" >&2
    echo >&2
    exit 1
  fi
  echo "Installing ${missing[*]} ${bare[*]} ..." >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get update >&2
  [ ${#missing[@]} -eq 0 ] || apt-get install -y "${missing[@]}" >&2
  [ ${#bare[@]} -eq 0 ] || apt-get install -y --no-install-recommends "${bare[@]}" >&2
}

# qarn2_build DIR BUILD_TYPE [extra cmake arguments...] [-- targets...]
# Configures DIR with Ninja once and builds. Build output goes to stderr so that
# the program's own output stays clean on stdout.
qarn2_build() {
  local dir=$1 type=$2
  shift 2
  local cmake_args=() targets=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do cmake_args+=("$1"); shift; done
  [ "${1:-}" = "--" ] && shift
  targets=("$@")
  cmake -S "$QARN2_ROOT" -B "$QARN2_ROOT/$dir" -G Ninja \
    -DCMAKE_BUILD_TYPE="$type" "${cmake_args[@]}" >&2
  if [ ${#targets[@]} -gt 0 ]; then
    cmake --build "$QARN2_ROOT/$dir" --target "${targets[@]}" >&2
  else
    cmake --build "$QARN2_ROOT/$dir" >&2
  fi
}
