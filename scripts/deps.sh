# SPDX-License-Identifier: MIT
# Sourced by test.sh and run.sh: installs the Debian packages the project needs.
deps_packages=(
    build-essential cmake ninja-build pkg-config clang-format python3 lld
    clang libclang-rt-dev
    libgtest-dev libgmock-dev
    qt6-base-dev qt6-base-dev-tools libgl-dev dbus-daemon
    libusb-1.0-0-dev nlohmann-json3-dev
    xvfb xauth x11-utils imagemagick fonts-dejavu-core fonts-liberation
    umockdev libumockdev-dev gir1.2-umockdev-1.0 python3-gi
    at-spi2-core gir1.2-atspi-2.0
    g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 icoutils
    wine wine64 fonts-wine
    librsvg2-bin desktop-file-utils appstream
    nlohmann-json3-dev openbox python3-jsonschema
)

install_deps() {
    local missing=()
    local pkg
    for pkg in "${deps_packages[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" \
            || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
}
