#!/usr/bin/env bash
# Fails when a C++ file of ours is not in the house style (.clang-format). The resource
# script's header is written for the resource compiler and stays out.
# To fix: clang-format -i FILE...
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files --cached --others --exclude-standard '*.cpp' '*.h' | grep -v '^res/' | xargs clang-format --dry-run -Werror
