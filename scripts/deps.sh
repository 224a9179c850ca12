# Debian packages Inkwell needs, and a function that installs the missing ones.
# Sourced by run.sh, test.sh and bench/run.sh.

INKWELL_BUILD_PACKAGES="cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev
  qt6-image-formats-plugins qt6-translations-l10n fonts-noto-cjk
  fonts-arphic-ukai fonts-arphic-uming"
INKWELL_TEST_PACKAGES="xvfb xauth x11-utils xdotool openbox imagemagick poppler-utils
  libreoffice-writer-nogui xdg-utils desktop-file-utils appstream
  cups cups-client cups-bsd printer-driver-cups-pdf util-linux attr acl dpkg-dev
  wine wine64 g++-mingw-w64-x86-64"

inkwell_missing_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
    done
    echo "${missing[*]}"
}

# inkwell_ensure_packages PKG...: installs what is missing when root; otherwise
# prints the one apt-get line needed and fails.
inkwell_ensure_packages() {
    local missing
    missing=$(inkwell_missing_packages "$@")
    [ -z "$missing" ] && return 0
    if [ "$(id -u)" -eq 0 ]; then
        echo "Installing: $missing"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        # shellcheck disable=SC2086
        apt-get install -y -qq --no-install-recommends $missing >/dev/null
    else
        echo "Missing Debian packages. Install them with:"
        echo "  sudo apt-get install --no-install-recommends $missing"
        return 1
    fi
}
