# Shared by ./run and ./test: install what is missing, then configure and build.
set -euo pipefail

TESMO_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
TESMO_BUILD="${TESMO_BUILD:-$TESMO_ROOT/build}"

TESMO_PACKAGES=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev libgl-dev
    libsqlite3-dev libcurl4-openssl-dev liblhasa-dev libsodium-dev nlohmann-json3-dev
    libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev
    jlha-utils
    fonts-ipafont-gothic qt6-translations-l10n
    xvfb xauth
    # xdg-open: the help page and the outside pages open in the desktop's browser
    xdg-utils
    # the icon's PNG renderings, the checks of the menu entry and metainfo, cpack -G DEB
    librsvg2-bin desktop-file-utils appstream dpkg-dev
    # the manual pages, made from the programs' --help
    help2man
    # scripts/check-format.sh: the tree is formatted with Debian 12's clang-format
    clang-format-14
)
# What scripts/check-deb.sh needs beyond the build: the Debian package's checker.
TESMO_DEB_CHECK_PACKAGES=(lintian)
# What scripts/tidy.sh needs beyond the build.
TESMO_TIDY_PACKAGES=(clang-tidy-14)
# What fuzz/run.sh needs beyond the build: clang with libFuzzer and the sanitizers' runtime.
TESMO_FUZZ_PACKAGES=(clang libclang-rt-dev)

# install_missing [PACKAGE...]: the build's packages and these, with apt-get.
install_missing() {
    local missing=()
    for p in "${TESMO_PACKAGES[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "== Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
}

# configure [CMAKE ARGS...]: the build folder, with the same settings for every script so that
# ./run and ./test share their objects.
configure() {
    # ccache, where installed, lets several work trees share their compiled objects.
    local launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S "$TESMO_ROOT" -B "$TESMO_BUILD" -G Ninja \
        -DCMAKE_BUILD_TYPE="${TESMO_BUILD_TYPE:-RelWithDebInfo}" "${launcher[@]}" "$@" >/dev/null
}

# build_all [CMAKE ARGS...]: everything, tests and benchmarks included.
build_all() {
    configure "$@"
    cmake --build "$TESMO_BUILD" -j "$(nproc)"
}

# build_targets TARGET...: only these targets and what they need.
build_targets() {
    configure
    cmake --build "$TESMO_BUILD" -j "$(nproc)" --target "$@"
}
