#!/usr/bin/env bash
# The Makefile's targets: one build tree per architecture (build/ for i686,
# build-x86_64/ for x86_64), and the choice of where Windows programs run.
#   make.sh build|test|demo|bench|fuzz     ARCH, JOBS, FAMILY from the environment
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh
JOBS=${JOBS:-2}
ARCH=${ARCH:-}

tree() { if [ "$1" = i686 ]; then echo build; else echo "build-$1"; fi; }

build() {   # ARCH [TARGET...]
  local arch=$1; shift
  local targets=()
  for t in "$@"; do targets+=(--target "$t"); done
  cmake -S . -B "$(tree "$arch")" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release --no-warn-unused-cli >/dev/null
  cmake --build "$(tree "$arch")" -j"$JOBS" "${targets[@]}" -- --no-print-directory
}

# Why 32-bit Wine does not start, as a clause.
if /lib/ld-linux.so.2 --help >/dev/null 2>&1; then why32="32-bit Wine (package wine32) is missing here"
else why32="this machine's kernel does not run 32-bit programs"; fi

cannot() {
  echo "Neither 32-bit nor 64-bit Wine starts on this machine, so the Windows programs cannot run here: an x86-64 Linux machine with the wine32 or wine64 package is needed." >&2
  exit 1
}

# The architecture whose programs run here, said in one line.
pick() {
  case $ARCH in
    i686|x86_64)
      if ! wine_runs "$ARCH"; then
        if [ "$ARCH" = i686 ]; then echo "ARCH=i686: $why32." >&2
        else echo "ARCH=x86_64: 64-bit Wine does not start here (package wine64)." >&2; fi
        exit 1
      fi
      echo "Using the $ARCH build, as ARCH asks." >&2; echo "$ARCH" ;;
    "")
      if wine_runs i686; then
        echo "Using the i686 build: 32-bit Wine runs here." >&2; echo i686
      elif wine_runs x86_64; then
        echo "Using the x86_64 build: $why32, and 64-bit Wine runs the x86_64 programs." >&2; echo x86_64
      else cannot; fi ;;
    *) echo "ARCH must be i686 or x86_64, not $ARCH." >&2; exit 2 ;;
  esac
}

suite() {   # ARCH [ctest arguments]
  local arch=$1; shift
  echo "== Tests of the $arch build"
  build "$arch"
  (cd "$(tree "$arch")" && ctest --output-on-failure -j"$JOBS" "$@")
  # ctest keeps the output of passed tests to itself: what the generators and
  # the fault injection went through.
  echo "== Generated cases and kill points of the $arch build"
  grep -a -h -E '^[a-z-]+ +[0-9]+ cases, |: killed at ' "$(tree "$arch")/Testing/Temporary/LastTest.log" |
    sed -E 's/^.*\\([^\\]+\.scn)/\1/' || true
}

case ${1:?usage: make.sh build|test|demo|bench|fuzz} in
  build)
    build "${ARCH:-i686}" ;;
  test)
    if [ -n "$ARCH" ]; then arches=$(pick); else
      wine_runs i686 || wine_runs x86_64 || cannot
      if wine_runs i686; then
        echo "Wine suites: i686 and x86_64 (32-bit Wine runs here)." >&2; arches="i686 x86_64"
      else
        echo "Wine suite: x86_64 only, since $why32; the shipped i686 programs get the checks that need no Wine." >&2
        arches=x86_64
      fi
    fi
    # The shipped programs are i686: their checks need no Wine and run everywhere.
    if [[ " $arches " != *" i686 "* ]]; then
      echo "== Checks of the shipped i686 programs"
      build i686 trevix trevixrun
      (cd build && ctest --output-on-failure -L static)
    fi
    # Where both run, the kill scenarios (the longest, the same logic in both
    # builds) run once, on the shipped i686 build: make test stays within 15
    # minutes on two cores. A machine with 64-bit Wine only runs them on x86_64.
    for arch in $arches; do
      if [ "$arch" = x86_64 ] && [ "$arches" = "i686 x86_64" ]; then suite x86_64 -E '^scenario[.]kill_'
      else suite "$arch"; fi
    done ;;
  demo)
    arch=$(pick); build "$arch"
    bash demo/demo.sh "$(tree "$arch")" "${FAMILY:-winxp}" ;;
  bench)
    arch=$(pick); build "$arch"
    echo "== Figures of the $arch build, measured on $(nproc) cores of this machine"
    cmake --build "$(tree "$arch")" --target bench -- --no-print-directory ;;
  fuzz)
    arch=$(pick); build "$arch"
    cmake --build "$(tree "$arch")" --target fuzz -- --no-print-directory ;;
  *) echo "unknown target $1" >&2; exit 2 ;;
esac
