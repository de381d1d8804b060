#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, skipping what is there already.
# Usage: tools/install-deps.sh [wine]   ("wine" adds the 32-bit Wine, Xvfb and the Russian locale
# for the installer tests)
set -euo pipefail

packages=(cmake g++ make libgtest-dev g++-mingw-w64-i686 binutils-mingw-w64-i686 python3 clang libclang-rt-14-dev
          libssl-dev openssl osslsigncode icoutils dpkg-dev libpng-dev zlib1g-dev)
if [ "${1:-}" = wine ]; then
    packages+=(wine wine32:i386 xvfb xauth x11-utils locales)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
        $sudo dpkg --add-architecture i386
    fi
    # A mirror caught mid-sync fails one index with the rest fetched; the install below
    # still fails cleanly if what it needs is not among them.
    if ! $sudo apt-get update -qq; then
        sleep 10
        $sudo apt-get update -qq || echo "warning: not every package list could be updated" >&2
    fi
    $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# One Wine case runs in a Russian locale (Wine's ANSI code page 1251); Wine takes it from
# glibc, which knows only the locales compiled for it.
if [ "${1:-}" = wine ] && ! locale -a 2>/dev/null | grep -ix 'ru_RU.utf8' >/dev/null; then
    echo "generating the locale ru_RU.UTF-8" >&2
    $sudo localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
fi
