#!/usr/bin/env bash
# ./test.sh: the whole test suite in one command. First installs whatever of
# the packages below is missing: with apt-get when run as root; otherwise it
# prints the apt-get line to run as root and stops. Then configures, builds
# and tests the release preset (cmake --workflow --preset release).
set -euo pipefail
cd "$(dirname "$0")"

# Everything the test suite and CI use. README.md gives the same apt-get line
# (.ci/run checks that it does).
packages=(cmake ninja-build g++ clang clang-format-14 libclang-rt-14-dev libgtest-dev libssl-dev libbenchmark-dev libsecp256k1-dev valgrind pkg-config openssl xxd g++-aarch64-linux-gnu qemu-user)

missing=()
if command -v dpkg-query >/dev/null; then
    for pkg in "${packages[@]}"; do
        dpkg-query -W -f='${Status}\n' "$pkg" 2>/dev/null | grep -q ' installed$' || missing+=("$pkg")
    done
else
    echo "test.sh: no dpkg here; the tests need the equivalents of: ${packages[*]}" >&2
fi
if ((${#missing[@]})); then
    if ((EUID != 0)); then
        printf 'test.sh: the tests need packages that are not installed. As root, run\n' >&2
        printf '    apt-get install %s\n' "${missing[*]}" >&2
        printf 'and then ./test.sh again.\n' >&2
        exit 1
    fi
    echo "test.sh: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

exec cmake --workflow --preset release
