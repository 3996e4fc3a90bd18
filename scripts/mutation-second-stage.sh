#!/usr/bin/env bash
# The slow second stage of a mutants.py run over OrvFlashPuc/, Windows files included:
#   mutants.py --sources OrvFlashPuc --build DIR --test "$PWD/scripts/mutation-second-stage.sh" ...
# mutants.py runs it in DIR/build, once on the unmutated copy and then for every mutant that the
# fast tests let pass. The first run keeps the copy's OrvFlashPuc/ as DIR/pristine (remove it
# before running a changed tree), to tell which file a mutant changed. A mutant of an os/windows/ file, which the Linux build never compiles, is
# built into DIR/build-windows (configure it beforehand, with ORV_WINDOWS_BUILD_DIR of DIR/build
# pointing there and a Wine prefix in DIR/wine-prefix) and tried by the Windows unit tests under
# Wine and the Windows end-to-end rows; any other mutant by the Linux end-to-end rows and the
# instrument update. What each Windows mutant met is logged in DIR/windows-mutants.log; one that
# does not build for Windows is logged so and passes (count it invalid, not survived).
set -u
dir=$(dirname "$PWD")
if [ ! -d "$dir/pristine/OrvFlashPuc" ]; then
    mkdir -p "$dir/pristine" && cp -r "$dir/src/OrvFlashPuc" "$dir/pristine/"
fi
changed=$(diff -rq "$dir/src/OrvFlashPuc" "$dir/pristine/OrvFlashPuc" | awk '{ print $2; exit }')
if [[ $changed != */os/windows/* ]]; then
    exec ctest -j16 --timeout 300 -R 'Transports/|ClosedGateway|InstrumentUpdate|AnHtDownloadOverPdos'
fi
log=$dir/windows-mutants.log
echo "$(date +%T) $changed" >>"$log"
if ! cmake --build "$dir/build-windows" -j "$(nproc)" >"$dir/windows-build.log" 2>&1; then
    echo "  does not build for Windows" >>"$log"
    exit 0
fi
export WINEPREFIX=$dir/wine-prefix WINEDEBUG=-all DISPLAY=
for program in "$dir"/build-windows/tests/*_test.exe; do
    if ! timeout 300 /usr/lib/wine/wine64 "$program" --gtest_brief=1 >"$dir/wine-unit.log" 2>&1; then
        echo "  killed by $(basename "$program") under Wine" >>"$log"
        exit 1
    fi
done
ctest -j16 --timeout 300 -R 'Transports/.*/Windows'
status=$?
echo "  Windows end-to-end rows: exit $status" >>"$log"
exit $status
