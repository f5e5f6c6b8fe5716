# Sourced by the scripts that run Windows programs: one Wine prefix inside the
# build tree, quiet, without the Mono and Gecko prompts, on our own X display.
: "${QZ_BUILD_DIR:?QZ_BUILD_DIR must name the build directory}"
mkdir -p "$QZ_BUILD_DIR"
QZ_BUILD_DIR="$(cd "$QZ_BUILD_DIR" && pwd)"
export WINEPREFIX="${QZ_WINEPREFIX:-$QZ_BUILD_DIR/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export QZ_DISPLAY="${QZ_DISPLAY:-:97}"
export DISPLAY="$QZ_DISPLAY"
