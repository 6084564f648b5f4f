#!/usr/bin/env bash
# Builds Vexlor for release into build/package and makes its Debian package
# with CPack; prints the package's path (vexlor_<version>_<arch>.deb).
# Install it with: sudo apt install ./build/package/vexlor_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh >&2

# Debian's own hardening flags (fortified functions, stack protector,
# read-only relocations, immediate binding), as its packages are built.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS=$(dpkg-buildflags --get CXXFLAGS) CPPFLAGS=$(dpkg-buildflags --get CPPFLAGS)
LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
cmake -S . -B build/package -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEXLOR_WERROR=ON \
    -DBUILD_TESTING=OFF -DVEXLOR_BENCHMARKS=OFF \
    "-DCMAKE_CXX_FLAGS=$CPPFLAGS $CXXFLAGS" "-DCMAKE_EXE_LINKER_FLAGS=$LDFLAGS" >&2
cmake --build build/package -j "$(nproc)" >&2
rm -f build/package/vexlor_*.deb
(cd build/package && cpack -G DEB >&2)
ls "$PWD"/build/package/vexlor_*.deb
