#!/usr/bin/env bash
# Measures what qz-setup.exe adds to the installer's own work, each figure
# beside its floor, and holds it against what a publisher would ship instead:
# a small NSIS installer that runs msiexec on the package (built here, at
# bench time, with makensis). Every figure is taken in one run, interleaved
# (A B A B ...), and printed as a table; the same figures go to
# <build dir>/bench.json. Like demo.sh and test.sh it installs what is missing
# and builds first.
#
# It runs the 32-bit build where this machine runs 32-bit code, and the 64-bit
# build of the same sources under wine64 where it does not, and says which.
#
# Settings (environment):
#   QZ_BENCH_PAIRS=7         pairs per figure (7 or more for figures worth reporting)
#   QZ_BENCH_N="10 50 200"   candidate counts for locating by name
#   QZ_BENCH_TRANSFORMS=30   transforms in the folder for the language step
#   QZ_BENCH_MEM_PAIRS=3     pairs of peak-working-set runs (they are not timed)
#   QZ_BENCH_ARCH=x86|x64    force the configuration (x86 is refused where 32-bit code cannot run);
#                            QZ_TEST_ARCH does the same when QZ_BENCH_ARCH is not set
#   QZ_BENCH_JSON=FILE       where the JSON goes (default <build dir>/bench.json)
#   QZ_BENCH_IN_SUITE=DIR    run inside the test suite: use the build in DIR and its
#                            Wine set-up as they are; install, build, start and stop nothing
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
pairs="${QZ_BENCH_PAIRS:-7}"
counts="${QZ_BENCH_N:-10 50 200}"
transforms="${QZ_BENCH_TRANSFORMS:-30}"
mem_pairs="${QZ_BENCH_MEM_PAIRS:-3}"
began=$(date +%s)

# ------------------------------------------------------------ configuration
if [ -n "${QZ_BENCH_IN_SUITE:-}" ]; then
    build="$(cd "$QZ_BENCH_IN_SUITE" && pwd)"
    arch="$(cat "$build/qz-arch")"
    echo "== configuration $arch: the benchmark runs inside the test suite, against its build in $build" \
        "and its Wine set-up"
else
    command -v cc >/dev/null || "$root/scripts/setup.sh"
    . "$root/tests/support/host/native-ia32.sh"
    # QZ_TEST_ARCH, which chooses for the tests and the demo, chooses here too.
    if [ -n "${QZ_BENCH_ARCH:-}" ]; then
        qz_choose_config "${QZ_BUILD_DIR:-$root/build}/host" "$QZ_BENCH_ARCH" QZ_BENCH_ARCH || exit 2
    else
        qz_choose_config "${QZ_BUILD_DIR:-$root/build}/host" "${QZ_TEST_ARCH:-}" QZ_TEST_ARCH || exit 2
    fi
    if [ $arch = x86 ]; then
        build="${QZ_BUILD_DIR:-$root/build}"
        echo "== configuration x86: the 32-bit build in $build, under Wine ($why)"
    else
        build="${QZ_BUILD_DIR_X64:-$root/build-x64}"
        echo "== configuration x64: the 64-bit build in $build, under wine64 only ($why)"
    fi
fi
build32="${QZ_BUILD_DIR:-$root/build}"
build64="${QZ_BUILD_DIR_X64:-$root/build-x64}"
[ "$arch" = x86 ] && other="$build64" || other="$build32"
json="${QZ_BENCH_JSON:-$build/bench.json}"
if [ "$pairs" -lt 7 ]; then
    echo "== $pairs pair(s) only: this run shows that the benchmark works; its figures are not a measurement"
fi

if [ -z "${QZ_BENCH_IN_SUITE:-}" ]; then
    "$root/scripts/setup.sh"
    toolchain() { echo "$root/cmake/mingw-$([ "$1" = x86 ] && echo i686 || echo x86_64).cmake"; }
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$(toolchain $arch)" >/dev/null
    cmake --build "$build" -j"$(nproc)" --target qz-setup qz-run qz-make-package qz-make-transform \
        qz-bench-empty qz-bench-empty-user32 qz-bench-empty-runtime qz-bench-empty-imports qz-bench-locate-floor \
        qz-bench-transform-floor qz-bench-log-floor qz-bench-no-streams qz-bench-run >/dev/null
    # The other build's executable, for its size only (and the runtime's share of it).
    other_arch=$([ "$arch" = x86 ] && echo x64 || echo x86)
    cmake -S "$root" -B "$other" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$(toolchain "$other_arch")" \
        >/dev/null
    cmake --build "$other" -j"$(nproc)" --target qz-setup qz-bench-empty-runtime qz-bench-no-streams >/dev/null
    "$root/tests/support/wine-prefix.sh" "$build"
    trap '"$root/tests/support/wine-prefix.sh" "$build" stop' EXIT
fi
echo "== built after $(($(date +%s) - began)) s"

export QZ_BUILD_DIR="$build"
. "$root/tests/support/wine-env.sh"
# The user's language is English: the transforms of the language step are German.
wine() { LC_ALL=en_US.UTF-8 qz_wine "$@"; }
bin="$build/bin"
if [ -n "${QZ_BENCH_IN_SUITE:-}" ]; then
    work="$build/bench-check"
else
    work="$build/bench"
fi
rm -rf "$work"
mkdir -p "$work"
raw="$work/raw.tsv"
: >"$raw"
winpath() { winepath -w "$1" 2>/dev/null; }
if [ "$arch" = x64 ]; then
    msiexec_exe='C:\windows\system32\msiexec.exe'
else
    msiexec_exe='C:\windows\syswow64\msiexec.exe'
fi
# The platform a package needs to match this prefix's processor (a 64-bit prefix).
platform=x64

fail() {
    echo "bench: $*" >&2
    exit 1
}
meta() { printf 'meta\t%s\t%s\n' "$1" "$2" >>"$raw"; }
record() { printf '%s\t%s\t%s\t%s\n' "$1" "$2" "$3" "$4" >>"$raw"; }

# Runs one program under qz-bench-run.exe and prints its "ms=..." line;
# fails the benchmark when the run did not end as expected.
timed() {
    local out
    out="$(wine "$bin/qz-bench-run.exe" "$@" 2>/dev/null | tr -d '\r')" || fail "run failed: $* -> $out"
    echo "$out"
}
value() { sed -n "s/.*\b$1=\([^ ]*\).*/\1/p" <<<"$2"; }
# One timed run whose time is recorded as FIGURE SIDE PAIR.
measure() {
    local figure="$1" side="$2" pair="$3"
    shift 3
    local out
    out="$(timed "$@")"
    record "$figure" "$side" "$pair" "$(value ms "$out")"
}
make_package() { # OUTPUT NAME -> prints the product code
    local out
    out="$(wine "$bin/qz-make-package.exe" "$(winpath "$1")" "$2" "$platform" 2>/dev/null | tr -d '\r')" ||
        fail "cannot make $1: $out"
    sed -n 's/.*code \({[^}]*}\).*/\1/p' <<<"$out"
}

meta configuration "$arch"
meta build "$build"
meta pairs "$pairs"
case "${native:-}" in
    yes) ia32="the kernel runs 32-bit code" ;;
    no) ia32="the kernel runs no 32-bit code" ;;
    *) ia32="32-bit support not probed" ;;
esac
meta machine "$(nproc) cores, $(uname -sr), $ia32, $(LC_ALL=C "$QZ_WINE" --version 2>/dev/null)"
meta wineserver "persistent (wineserver -p), prefix $WINEPREFIX"
# Other work on the machine shows in the spread: its load is on record.
meta load_before "$(cut -d' ' -f1-3 /proc/loadavg)"

# ------------------------------------------------------------ sizes
for exe in "$build32/bin/qz-setup.exe" "$build64/bin/qz-setup.exe"; do
    name=$([ "$exe" = "$build32/bin/qz-setup.exe" ] && echo x86 || echo x64)
    if [ -f "$exe" ]; then
        meta "size_$name" "$(stat -c %s "$exe")"
    else
        meta "size_$name" "not built"
    fi
done

# ------------------------------------------------------------ the NSIS peer
# The installer a publisher would otherwise ship beside the package
# (tests/support/bench/wrapper.nsi), built now with the stub of this
# configuration's bitness, so that both sides run under the same Wine loader:
# the wrapper, and the same installer with an empty section.
command -v makensis >/dev/null || fail "makensis is missing: scripts/setup.sh installs it (Debian package nsis)"
[ "$arch" = x86 ] && stub=x86-unicode || stub=amd64-unicode
nsis() { # OUTPUT [PACKAGE]
    local out
    out="$(makensis -V2 -WX -NOCD -DTARGET=$stub -DOUTFILE="$1" ${2:+"-DPACKAGE=$2"} \
        "$root/tests/support/bench/wrapper.nsi" 2>&1)" || fail "makensis failed: $out"
    [ -s "$1" ] || fail "makensis made no $1"
}
cycle="$work/cycle"
mkdir -p "$cycle"
nsis "$cycle/wrapper.exe" "QZ Bench Sample.msi"
nsis "$work/empty-wrapper.exe"
meta nsis "$(makensis -VERSION 2>/dev/null), stub $stub"
meta size_nsis_wrapper "$(stat -c %s "$cycle/wrapper.exe")"
meta size_nsis_empty "$(stat -c %s "$work/empty-wrapper.exe")"

# ------------------------------------------------------------ 1. install and remove cycle
echo "== 1. install and remove cycle: qz-setup.exe /f and /p against msiexec and against the NSIS wrapper," \
    "$pairs pairs"
cp "$bin/qz-setup.exe" "$cycle/"
code="$(make_package "$cycle/QZ Bench Sample.msi" "QZ Bench Sample")"
[ -n "$code" ] || fail "no product code for the sample package"
wcycle="$(winpath "$cycle")"
setup="$wcycle\\qz-setup.exe"
wrapper="$wcycle\\wrapper.exe"
# The wrapper hands msiexec's exit code on as its own: without the package
# beside it, the code msiexec gives for a missing package.
mkdir -p "$work/alone"
cp "$cycle/wrapper.exe" "$work/alone/"
walone="$(winpath "$work/alone")"
missing="$(value exit "$(wine "$bin/qz-bench-run.exe" --cwd "$walone" "$msiexec_exe" /i "QZ Bench Sample.msi" /qn \
    2>/dev/null | tr -d '\r')")"
[ -n "$missing" ] && [ "$missing" != 0 ] || fail "msiexec did not fail on a missing package: exit '$missing'"
timed --cwd "$walone" --expect "$missing" "$walone\\wrapper.exe" >/dev/null
meta nsis_missing_package_exit "$missing"
clean_logs() { rm -f "$cycle"/*.log "$cycle"/*.txt; }

# Package location by name may not be part of this build yet: one probe run
# tells, and without it the /p rows say so instead of failing.
by_name=yes
clean_logs
probe="$(wine "$bin/qz-bench-run.exe" --cwd "$wcycle" --expect 0 --installed "$code" "$setup" \
    /p "QZ Bench Sample" QZ_SETUP_MODE=UNATTENDED /l qz.log 2>/dev/null | tr -d '\r')" || by_name=no
if [ $by_name = yes ]; then
    timed --cwd "$wcycle" --expect 0 --removed "$code" "$setup" /p "QZ Bench Sample" \
        QZ_SETUP_MODE=UNATTENDED_UNINSTALL /l qz.log >/dev/null
else
    echo "   locating by name (/p) is not available in this build: $probe"
    meta by_name "not available: $probe"
    # Leave nothing installed by the probe.
    wine "$bin/qz-bench-run.exe" --cwd "$wcycle" "$msiexec_exe" /x "QZ Bench Sample.msi" /qn >/dev/null 2>&1 || true
fi

for pair in $(seq "$pairs"); do
    clean_logs
    measure cycle qz_file_install "$pair" --cwd "$wcycle" --expect 0 --installed "$code" "$setup" \
        /f "QZ Bench Sample.msi" QZ_SETUP_MODE=UNATTENDED /l qz.log
    measure cycle qz_file_remove "$pair" --cwd "$wcycle" --expect 0 --removed "$code" "$setup" \
        /f "QZ Bench Sample.msi" QZ_SETUP_MODE=UNATTENDED_UNINSTALL /l qz.log
    clean_logs
    measure cycle msiexec_install "$pair" --cwd "$wcycle" --expect 0 --installed "$code" "$msiexec_exe" \
        /i "QZ Bench Sample.msi" /qn /l*v msiexec.log
    measure cycle msiexec_remove "$pair" --cwd "$wcycle" --expect 0 --removed "$code" "$msiexec_exe" \
        /x "QZ Bench Sample.msi" /qn /l*v msiexec.log
    measure cycle nsis_install "$pair" --cwd "$wcycle" --expect 0 --installed "$code" "$wrapper"
    measure cycle nsis_remove "$pair" --cwd "$wcycle" --expect 0 --removed "$code" "$wrapper" /x
    if [ $by_name = yes ]; then
        clean_logs
        measure cycle qz_name_install "$pair" --cwd "$wcycle" --expect 0 --installed "$code" "$setup" \
            /p "QZ Bench Sample" QZ_SETUP_MODE=UNATTENDED /l qz.log
        measure cycle qz_name_remove "$pair" --cwd "$wcycle" --expect 0 --removed "$code" "$setup" \
            /p "QZ Bench Sample" QZ_SETUP_MODE=UNATTENDED_UNINSTALL /l qz.log
    fi
done

# ------------------------------------------------------------ 2. locating by name among N candidates
# The runs end right after the package is settled: help (/?) shows the usage
# text, unattended, without a dialog and without installer work. The same run
# with /f on the matching file is the reference, so the difference is the search.
echo "== 2. locating by name among N candidates (N = $counts), $pairs pairs each"
packages="$work/packages"
mkdir -p "$packages"
make_package "$packages/decoy.msi" "QZ Bench Decoy" >/dev/null
make_package "$packages/target.msi" "QZ Bench Target" >/dev/null
for n in $counts; do
    folder="$work/locate-$n"
    mkdir -p "$folder"
    cp "$bin/qz-setup.exe" "$folder/"
    for i in $(seq -f '%04g' "$n"); do cp "$packages/decoy.msi" "$folder/candidate-$i.msi"; done
    wfolder="$(winpath "$folder")"
    # The match must be the last package in listing order, which the file
    # system decides: the last one listed gets the target's content.
    last="$(wine "$bin/qz-bench-locate-floor.exe" --list "$wfolder" 2>/dev/null | tr -d '\r' | tail -n 1)"
    [ -n "$last" ] || fail "cannot list $folder"
    cp "$packages/target.msi" "$folder/$last"
    meta "locate_${n}_match" "$last"
    for pair in $(seq "$pairs"); do
        if [ $by_name = yes ]; then
            measure "locate_$n" qz_name "$pair" --cwd "$wfolder" --expect 0 "$wfolder\\qz-setup.exe" \
                /p "QZ Bench Target" '/?' QZ_SETUP_MODE=UNATTENDED
        fi
        out="$(wine "$bin/qz-bench-locate-floor.exe" --warm "$wcycle\\QZ Bench Sample.msi" "$wfolder" \
            "QZ Bench Target" "$platform" 2>/dev/null | tr -d '\r')" || fail "locate floor: $out"
        [ "$(value candidates "$out")" = "$n" ] && [ "$(value match "$out")" = "$last" ] ||
            fail "the locate floor did not open all $n candidates to find $last: $out"
        record "locate_$n" floor "$pair" "$(value ms "$out")"
        if [ $by_name = yes ]; then
            measure "locate_$n" qz_file "$pair" --cwd "$wfolder" --expect 0 "$wfolder\\qz-setup.exe" \
                /f "$last" '/?' QZ_SETUP_MODE=UNATTENDED
        fi
    done
done

# ------------------------------------------------------------ 3. the language step with transforms
echo "== 3. the language step: an attended first installation with $transforms transforms and with none," \
    "$pairs pairs"
with="$work/transforms-$transforms"
without="$work/transforms-0"
mkdir -p "$with" "$without"
lang_code="$(make_package "$with/QZ Bench Language.msi" "QZ Bench Language")"
cp "$with/QZ Bench Language.msi" "$bin/qz-setup.exe" "$without/"
cp "$bin/qz-setup.exe" "$with/"
wwith="$(winpath "$with")"
wwithout="$(winpath "$without")"
# German (1031): not the user's language, so no dialog comes up. One
# transform, copied: each file costs the same whatever its content.
wine "$bin/qz-make-transform.exe" "$(winpath "$work/lang.mst")" 1031 >/dev/null 2>&1 ||
    fail "cannot write the transform"
for i in $(seq -f '%02g' "$transforms"); do cp "$work/lang.mst" "$with/lang-$i.mst"; done
attended() { # FIGURE-SIDE PAIR WINDOWS-FOLDER
    measure transforms "$1" "$2" --cwd "$3" --expect 0 --installed "$lang_code" "$3\\qz-setup.exe" \
        /f "QZ Bench Language.msi" /l qz.log
    timed --cwd "$3" --expect 0 --removed "$lang_code" "$msiexec_exe" /x "QZ Bench Language.msi" /qn >/dev/null
}
for pair in $(seq "$pairs"); do
    rm -f "$with"/*.log "$without"/*.log
    attended qz_with "$pair" "$wwith"
    out="$(wine "$bin/qz-bench-transform-floor.exe" --warm "$wwith\\QZ Bench Language.msi" "$wwith" 2>/dev/null |
        tr -d '\r')" || fail "transform floor: $out"
    [ "$(value languages "$out")" = "$transforms" ] || fail "the transform floor did not read every transform: $out"
    record transforms floor "$pair" "$(value ms "$out")"
    attended qz_without "$pair" "$wwithout"
done
# The catalogue was read: the bootstrap log of the last run with transforms
# names a transform (the installer's own log overwrites the file's start).
python3 "$root/tests/support/show-log.py" "$with/qz.log" | grep -q 'language transfrom with 1031 id' ||
    fail "the run with transforms left no catalogue line in its log"

# ------------------------------------------------------------ 4. fixed cost
echo "== 4. fixed cost: a run that ends before any installer work, against an empty program and an empty" \
    "NSIS installer, $pairs pairs"
fixed="$work/fixed"
mkdir -p "$fixed"
cp "$bin/qz-setup.exe" "$bin/qz-bench-empty.exe" "$bin/qz-bench-empty-user32.exe" "$bin/qz-bench-empty-runtime.exe" \
    "$bin/qz-bench-empty-imports.exe" "$work/empty-wrapper.exe" "$fixed/"
wfixed="$(winpath "$fixed")"
for pair in $(seq "$pairs"); do
    rm -f "$fixed/x.txt"
    measure fixed qz "$pair" --cwd "$wfixed" --expect 1 "$wfixed\\qz-setup.exe" QZ_SETUP_MODE=UNATTENDED /e x.txt
    [ -s "$fixed/x.txt" ] || fail "the fixed-cost run wrote no exit file"
    measure fixed empty "$pair" --cwd "$wfixed" --expect 0 "$wfixed\\qz-bench-empty.exe"
    # For the record: the same empty program once it imports user32.dll.
    measure fixed empty_user32 "$pair" --cwd "$wfixed" --expect 0 "$wfixed\\qz-bench-empty-user32.exe"
    measure fixed nsis_empty "$pair" --cwd "$wfixed" --expect 0 "$wfixed\\empty-wrapper.exe"
    # For the cycle's breakdown: the static runtime's start, as an empty
    # program with qz-setup.exe's imports, with the runtime's streams and without.
    measure fixed empty_runtime "$pair" --cwd "$wfixed" --expect 0 "$wfixed\\qz-bench-empty-runtime.exe"
    measure fixed empty_imports "$pair" --cwd "$wfixed" --expect 0 "$wfixed\\qz-bench-empty-imports.exe"
done
meta fixed_exit_file "$(tr -d '\r' <"$fixed/x.txt" | tr '\n' ' ')"

# ------------------------------------------------------------ 5. peak working set
# Of each run's process tree: the program and whatever it starts (the
# wrapper starts msiexec); the tree of the last pair is on record.
echo "== 5. peak working set of the installation against msiexec and the NSIS wrapper's process tree," \
    "$mem_pairs pairs"
peak_run() { # SIDE PAIR PROGRAM [ARGUMENTS...]: one installation, then its removal
    local side="$1" pair="$2" out
    shift 2
    clean_logs
    out="$(timed --tree --cwd "$wcycle" --expect 0 --installed "$code" "$@")"
    record memory "$side" "$pair" "$(value peak "$out")"
    meta "tree_$side" "$(value tree "$out")"
    timed --cwd "$wcycle" --expect 0 --removed "$code" "$msiexec_exe" /x "QZ Bench Sample.msi" /qn >/dev/null
}
for pair in $(seq "$mem_pairs"); do
    peak_run qz "$pair" "$setup" /f "QZ Bench Sample.msi" QZ_SETUP_MODE=UNATTENDED /l qz.log
    peak_run msiexec "$pair" "$msiexec_exe" /i "QZ Bench Sample.msi" /qn /l*v msiexec.log
    peak_run nsis "$pair" "$wrapper"
    grep -qi 'msiexec\.exe' <<<"$(sed -n 's/^meta\ttree_nsis\t//p' "$raw" | tail -n 1)" ||
        fail "the wrapper's msiexec was not seen in its process tree"
done

# ------------------------------------------------------------ 6. what the cycle's difference is made of
# Counted once, untimed, in one installation and one removal by file: the
# package opens (Wine's msi channel names every MsiOpenDatabaseW call) and
# the bootstrap log's writes (strace sees each write of UTF-16 text into
# qz.log; the installer's own lines in the same file are ANSI). Their cost
# comes from the floors: the locate floor's time per candidate (one open
# and two reads), and qz-bench-log-floor's time per appended line, measured
# here beside the cycle.
echo "== 6. what the cycle's difference is made of: package opens and log writes counted, their cost measured"
count_opens() { # PROGRAM [ARGUMENTS...] -> the number of MsiOpenDatabaseW calls
    env WINEDEBUG=trace+msi LC_ALL=en_US.UTF-8 $QZ_FIXED_LAYOUT "$QZ_WINE" "$bin/qz-bench-run.exe" --cwd "$wcycle" --expect 0 "$@" \
        >/dev/null 2>"$work/trace.txt" || fail "the traced run failed: $*"
    grep -c ':MsiOpenDatabaseW' "$work/trace.txt" || true
    rm -f "$work/trace.txt"
}
clean_logs
meta opens_install "$(count_opens "$setup" /f "QZ Bench Sample.msi" QZ_SETUP_MODE=UNATTENDED /l qz.log)"
meta opens_remove "$(count_opens "$setup" /f "QZ Bench Sample.msi" QZ_SETUP_MODE=UNATTENDED_UNINSTALL /l qz.log)"
meta opens_msiexec "$(( $(count_opens "$msiexec_exe" /i "QZ Bench Sample.msi" /qn) + $(count_opens "$msiexec_exe" \
    /x "QZ Bench Sample.msi" /qn) ))"
if command -v strace >/dev/null && strace -f --seccomp-bpf -o /dev/null true 2>/dev/null; then
    count_writes() { # ARGUMENTS of qz-setup.exe -> the number of writes of UTF-16 text into qz.log
        strace -f --seccomp-bpf -qq -y -e trace=write,pwrite64 -o "$work/strace.txt" \
            $QZ_FIXED_LAYOUT "$QZ_WINE" "$bin/qz-bench-run.exe" --cwd "$wcycle" --expect 0 "$setup" "$@" >/dev/null 2>&1 ||
            fail "the traced run failed: qz-setup.exe $*"
        grep -c 'qz\.log>, "\(\\377\\376\)\?[^"\\]\\0' "$work/strace.txt" || true
    }
    clean_logs
    meta writes_install "$(count_writes /f "QZ Bench Sample.msi" QZ_SETUP_MODE=UNATTENDED /l qz.log)"
    meta writes_remove "$(count_writes /f "QZ Bench Sample.msi" QZ_SETUP_MODE=UNATTENDED_UNINSTALL /l qz.log)"
    rm -f "$work/strace.txt"
else
    meta writes_install "not counted: strace cannot trace here"
fi
for pair in $(seq "$pairs"); do
    out="$(wine "$bin/qz-bench-log-floor.exe" "$(winpath "$work/floor.log")" 200 2>/dev/null | tr -d '\r')" ||
        fail "log floor: $out"
    record log_write floor "$pair" "$(value ms_per_line "$out")"
done

# ------------------------------------------------------------ 7. what the exe's size is made of
# The link of each built qz-setup.exe again, with a map beside it, into the
# work folder (the build's own exe is left as it is): every input section is
# given to the project, one runtime library, the resources or the linker.
echo "== 7. size: what each built qz-setup.exe is made of (its link again, with a map)"
for tree in "$build32" "$build64"; do
    name=$([ "$tree" = "$build32" ] && echo x86 || echo x64)
    link="$tree/CMakeFiles/qz-setup.dir/link.txt"
    [ -f "$link" ] && [ -f "$tree/bin/qz-setup.exe" ] || continue
    command="$(grep -- ' -o bin/qz-setup.exe ' "$link")" || continue
    out="$work/size-$name"
    mkdir -p "$out"
    command="${command/ -o bin\/qz-setup.exe / -o '$out/qz-setup.exe' '-Wl,-Map=$out/qz-setup.map' }"
    command="${command/--out-implib,libqz-setup.dll.a/--out-implib,'$out/implib.a'}"
    (cd "$tree" && eval "$command") >"$out/link.log" 2>&1 || fail "the link with a map failed: $out/link.log"
    [ "$(stat -c %s "$out/qz-setup.exe")" = "$(stat -c %s "$tree/bin/qz-setup.exe")" ] ||
        fail "the link with a map made an exe of another size than $tree/bin/qz-setup.exe"
    python3 "$root/tests/support/bench/size-breakdown.py" "$out/qz-setup.map" "$tree/bin/qz-setup.exe" \
        "$tree/bin/qz-bench-empty-runtime.exe" "$tree/bin/qz-bench-no-streams.exe" >"$out/size.json" ||
        fail "size breakdown failed for $name"
    meta "size_breakdown_$name" "$out/size.json"
done

meta load_after "$(cut -d' ' -f1-3 /proc/loadavg)"
meta seconds "$(($(date +%s) - began))"
python3 "$root/tests/support/bench/bench-report.py" "$raw" "$json"
echo "== figures written to $json ($(($(date +%s) - began)) s)"
