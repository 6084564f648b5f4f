# The system libraries the layers link besides Qt, found through pkg-config;
# shared by the main project and the fuzzers' own build.
find_package(PkgConfig REQUIRED)
pkg_check_modules(PULSE REQUIRED IMPORTED_TARGET libpulse)
pkg_check_modules(X11 REQUIRED IMPORTED_TARGET x11)
pkg_check_modules(XRANDR REQUIRED IMPORTED_TARGET xrandr)
pkg_check_modules(XCB_SHM REQUIRED IMPORTED_TARGET xcb xcb-shm)
