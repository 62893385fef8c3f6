# scripts/lib/common.sh: shared by scripts/demo and scripts/test.

# Installs the Debian packages named as arguments that are not installed yet.
ensure_packages() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

BUILD_PACKAGES=(cmake ninja-build g++ pkg-config)
TEST_PACKAGES=(libgtest-dev libgmock-dev libbenchmark-dev libmimalloc-dev nlohmann-json3-dev)

jobs() { nproc 2>/dev/null || echo 2; }
