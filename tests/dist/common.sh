# Shared by the tests of what is installed. Each test gets the build folder
# and the project's version as its arguments, and a scratch folder that goes
# when it ends.
set -euo pipefail
build="$1"
version="$2"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() {
    printf 'FAIL: %s\n' "$*" >&2
    exit 1
}

# Installs the build below PREFIX, as `cmake --install` does for a user.
install_into() {
    cmake --install "$build" --prefix "$1" >/dev/null
}
