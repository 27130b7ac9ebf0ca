# Shared by the scripts: installs what the build needs on Debian 12.
# shellcheck shell=bash

ZEPH_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

ZEPH_PACKAGES=(
    g++ cmake ninja-build pkg-config
    qt6-base-dev libgl-dev
    libsqlite3-dev libcurl4-openssl-dev
    unixodbc unixodbc-dev odbcinst tdsodbc libsqliteodbc
    # The tests count the disk syncs of the programs and the server over TDS with it.
    strace
    libgtest-dev libgmock-dev libbenchmark-dev
    binutils-mingw-w64-x86-64 gcc-mingw-w64-x86-64
    xvfb xauth
    # Japanese, Chinese and Korean texts of the language libraries need a font that has them.
    fonts-wqy-microhei
    # SQL Server clients the stand-in server is proved against (tests/clients).
    freetds-bin python3-pyodbc
)

zeph_install_packages() {
    zeph_install_missing_packages
    zeph_register_sql_server_driver
    zeph_install_node_packages
}

# Node's tedious for the client suite, at the versions tests/clients/package-lock.json pins.
# Node and npm come from Debian unless the machine has them already.
zeph_install_node_packages() {
    if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
        echo "Installing: nodejs npm"
        zeph_apt_install nodejs npm
    fi
    local suite="$ZEPH_ROOT/tests/clients"
    if [ -f "$suite/node_modules/.package-lock.json" ] &&
        [ "$suite/node_modules/.package-lock.json" -nt "$suite/package-lock.json" ]; then
        return 0
    fi
    echo "Installing the client suite's Node packages (npm ci)"
    (cd "$suite" && npm ci --no-audit --no-fund --loglevel=error)
}

# "sudo" for a developer, nothing as root (CI).
zeph_sudo() {
    if [ "$(id -u)" -ne 0 ]; then
        echo sudo
    fi
}

# Prints those of the packages given that are not installed yet, separated by blanks.
zeph_missing_packages() {
    local p
    for p in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            printf '%s ' "$p"
        fi
    done
}

# Installs the packages given; fails as apt-get fails.
zeph_apt_install() {
    local sudo
    sudo="$(zeph_sudo)"
    $sudo apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$@"
}

# A connection text names the server's driver as "SQL Server", as on Windows: here that name is
# FreeTDS's ODBC driver, registered once with the driver manager.
zeph_register_sql_server_driver() {
    if odbcinst -q -d -n "SQL Server" >/dev/null 2>&1; then
        return 0
    fi
    local sudo
    sudo="$(zeph_sudo)"
    local template
    template="$(mktemp)"
    printf '[SQL Server]\nDescription=FreeTDS ODBC driver\nDriver=libtdsodbc.so\n' >"$template"
    echo "Registering FreeTDS's ODBC driver as \"SQL Server\""
    $sudo odbcinst -i -d -f "$template" >/dev/null
    rm -f "$template"
}

zeph_install_missing_packages() {
    local missing
    read -r -a missing <<<"$(zeph_missing_packages "${ZEPH_PACKAGES[@]}")"
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing: ${missing[*]}"
    zeph_apt_install "${missing[@]}"
}

# Compiler cache: used when installed (a developer machine), never needed.
zeph_cmake_launcher() {
    if command -v ccache >/dev/null 2>&1; then
        echo "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"
    fi
}

zeph_jobs() {
    nproc 2>/dev/null || echo 2
}

# --- the Windows programs: cross-built with mingw-w64 and run under Wine ---------------------
ZEPH_WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine wine64 tcl curl
    xz-utils sqlite3
    # Qt's source package is unpacked (and Debian's patches applied) by dpkg-source; Qt's own
    # build runs Perl; moc, uic and rcc are Debian's, run on this machine.
    dpkg-dev perl qt6-base-dev-tools
    # scripts/package-windows: the zip and the installer.
    zip nsis
    # The font Wine gives the wizard for Windows' dialog font (tests/wine/wine.sh).
    fonts-dejavu-core)

# SQLite for the Windows build: Debian 12's own source of it (the upstream release Debian ships),
# fetched through apt's configured sources and pinned by version and checksum, made once into the
# user's cache, never into the tree.
ZEPH_SQLITE_VERSION=3.40.1
ZEPH_SQLITE_SHA256=aaa776260ab4dc976db34aa7891819484c8676b5b2783123ebc6301e2ca5d655

# Installs what the Windows build needs; false (with the reason said) when it cannot.
zeph_install_windows_packages() {
    local missing
    read -r -a missing <<<"$(zeph_missing_packages "${ZEPH_WINDOWS_PACKAGES[@]}")"
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing for the Windows build: ${missing[*]}"
    if ! zeph_apt_install "${missing[@]}"; then
        echo "Cannot install ${missing[*]}: the Windows programs cannot be built here."
        return 1
    fi
}

# Prints the folder that holds sqlite3.c and sqlite3.h, made from the pinned source once.
zeph_sqlite_source() {
    local cache="${XDG_CACHE_HOME:-$HOME/.cache}/zephrane/sqlite-$ZEPH_SQLITE_VERSION"
    if [ -f "$cache/sqlite3.c" ] && [ -f "$cache/sqlite3.h" ]; then
        echo "$cache"
        return 0
    fi
    mkdir -p "$cache"
    local archive="$cache/sqlite3_$ZEPH_SQLITE_VERSION.orig.tar.xz"
    if [ ! -f "$archive" ]; then
        echo "Fetching SQLite $ZEPH_SQLITE_VERSION's source through apt" >&2
        zeph_apt_source sqlite3 "$cache" >&2 || return 1
    fi
    if ! echo "$ZEPH_SQLITE_SHA256  $archive" | sha256sum -c --status; then
        echo "The SQLite source $archive does not have the expected checksum; removed." >&2
        rm -f "$archive"
        return 1
    fi
    local work
    work="$(mktemp -d)"
    tar xJf "$archive" -C "$work" --strip-components=1
    mkdir "$work/build"
    # The single-file form (the amalgamation) is made by SQLite's own build with the host's
    # compiler and tclsh.
    if ! (cd "$work/build" && ../configure --disable-tcl >/dev/null 2>&1 &&
        make sqlite3.c >/dev/null 2>&1); then
        echo "Cannot make sqlite3.c from $archive" >&2
        rm -rf "$work"
        return 1
    fi
    cp "$work/build/sqlite3.c" "$work/build/sqlite3.h" "$cache/"
    rm -rf "$work"
    echo "$cache"
}

# Fetches a source package through apt's configured sources into a folder (apt checks each file
# against the signed index), without root and without changing the system's apt set-up: the
# "deb" entries of the configured sources are read as "deb-src" entries of a private list.
zeph_apt_source() {
    local package="$1" dest="$2"
    local apt="${XDG_CACHE_HOME:-$HOME/.cache}/zephrane/apt"
    mkdir -p "$apt/sources.list.d" "$apt/lists/partial" "$apt/cache" "$dest"
    local f
    {
        for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
            [ -f "$f" ] && sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f"
        done
    } >"$apt/sources.list.d/zephrane-src.list"
    {
        for f in /etc/apt/sources.list.d/*.sources; do
            [ -f "$f" ] && awk 'BEGIN { RS = ""; ORS = "\n\n" }
                /(^|\n)Types:[^\n]*deb([ \n]|$)/ { gsub(/Types:[^\n]*/, "Types: deb-src"); print }' "$f"
        done
    } >"$apt/sources.list.d/zephrane-src.sources"
    local options=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt/sources.list.d"
        -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o APT::Get::List-Cleanup=0
        -o APT::Sandbox::User=root)
    apt-get "${options[@]}" update -qq || {
        echo "Cannot read the source indexes of apt's configured sources." >&2
        return 1
    }
    (cd "$dest" && apt-get "${options[@]}" source --download-only -qq "$package") || {
        echo "Cannot fetch the source package $package through apt." >&2
        return 1
    }
}

# Qt 6 for Windows: Debian 12's qt6-base source package (with Debian's patches), cross-built
# once with mingw-w64 into the user's cache as a static release build of Core, Gui, Widgets, the
# Windows platform plugin and the Windows styles, nothing else. The code generators it needs
# while building (moc, uic, rcc) are Debian's own qt6-base-dev-tools of the same version.
ZEPH_QT_VERSION=6.4.2
ZEPH_QT_SOURCE_VERSION=6.4.2+dfsg-10
ZEPH_QT_DSC_SHA256=1b4b5c8610a553d4211fa81e268b1a3b0a6339ae5444fdb7e60d7616da651970
ZEPH_QT_ORIG_SHA256=4f14b89a9463a540fd84a6718b8519a2297119b454ef547721015a9e9019ae9e
ZEPH_QT_DEBIAN_SHA256=d1a2621b1acb1606db7274ccdb96654564cea04af836c5b86da94e150714d16c

# What the wizard does not use is switched off, which also shortens the build.
ZEPH_QT_OPTIONS=(
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DFEATURE_static_runtime=ON
    -DQT_QMAKE_TARGET_MKSPEC=win32-g++ -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF
    -DQT_BUILD_BENCHMARKS=OFF
    # The third-party libraries Qt carries, never the cross-compiler's own.
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF
    -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_jpeg=OFF
    -DFEATURE_system_doubleconversion=OFF -DFEATURE_system_libb2=OFF
    # Modules.
    -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_opengl=OFF
    -DINPUT_opengl=no -DFEATURE_vulkan=OFF -DFEATURE_printsupport=OFF -DFEATURE_testlib=OFF
    -DFEATURE_xml=OFF -DFEATURE_concurrent=OFF
    # Tools for the target, libraries and formats.
    -DFEATURE_qmake=OFF -DFEATURE_androiddeployqt=OFF -DFEATURE_windeployqt=OFF
    -DFEATURE_macdeployqt=OFF -DFEATURE_icu=OFF -DFEATURE_zstd=OFF -DFEATURE_freetype=OFF
    -DFEATURE_direct2d=OFF -DFEATURE_cpp_winrt=OFF -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF
    -DFEATURE_ico=OFF -DFEATURE_sessionmanager=OFF -DFEATURE_tuiotouch=OFF -DFEATURE_pdf=OFF
    -DFEATURE_textmarkdownreader=OFF -DFEATURE_textmarkdownwriter=OFF
    -DFEATURE_textodfwriter=OFF -DFEATURE_mimetype_database=OFF
    -DFEATURE_jalalicalendar=OFF -DFEATURE_islamiccivilcalendar=OFF
    -DFEATURE_hijricalendar=OFF
    # Debian's source leaves out the pen tablets' header (wintab.h), which the Windows plugin
    # needs for them; the DirectWrite font database needs Direct2D, which is off (GDI's is the
    # default anyway).
    -DFEATURE_tabletevent=OFF -DFEATURE_directwrite3=OFF
    # Widgets no window of the wizard has.
    -DFEATURE_graphicsview=OFF -DFEATURE_mdiarea=OFF -DFEATURE_calendarwidget=OFF
    -DFEATURE_colordialog=OFF -DFEATURE_fontdialog=OFF -DFEATURE_printdialog=OFF
    -DFEATURE_lcdnumber=OFF -DFEATURE_dial=OFF -DFEATURE_columnview=OFF
    -DFEATURE_systemtrayicon=OFF
)

# The folder Qt for Windows is installed in: version, source checksum, options and compiler
# make its name, so that a change of any of them builds it anew beside the old one.
zeph_qt_windows_prefix() {
    local key
    key="$(printf '%s\n' "$ZEPH_QT_SOURCE_VERSION" "$ZEPH_QT_DSC_SHA256" "${ZEPH_QT_OPTIONS[@]}" \
        "$(x86_64-w64-mingw32-g++-posix --version 2>/dev/null | head -n 1)" | sha256sum)"
    echo "${XDG_CACHE_HOME:-$HOME/.cache}/zephrane/qt6-windows-$ZEPH_QT_VERSION-${key:0:12}"
}

# Prints the folder of Qt for Windows, building it first when the cache does not have it.
# The build runs at low priority, on as many jobs as the machine has cores (or ZEPH_QT_JOBS),
# and says how long it took and how much disk it used.
zeph_qt_windows() {
    local prefix
    prefix="$(zeph_qt_windows_prefix)"
    if [ -f "$prefix/.complete" ]; then
        echo "$prefix"
        return 0
    fi
    local cache="${XDG_CACHE_HOME:-$HOME/.cache}/zephrane"
    local sources="$cache/qt6-base-$ZEPH_QT_SOURCE_VERSION"
    local dsc="$sources/qt6-base_$ZEPH_QT_SOURCE_VERSION.dsc"
    if [ ! -f "$dsc" ]; then
        echo "Fetching Qt's source package qt6-base $ZEPH_QT_SOURCE_VERSION through apt" >&2
        zeph_apt_source "qt6-base=$ZEPH_QT_SOURCE_VERSION" "$sources" >&2 || return 1
    fi
    # apt has checked the files against the signed index; the pins say they are the ones this
    # build was made with, and dpkg-source checks the archives against the .dsc again.
    if ! (cd "$sources" && sha256sum -c --status <<EOF
$ZEPH_QT_DSC_SHA256  qt6-base_$ZEPH_QT_SOURCE_VERSION.dsc
$ZEPH_QT_ORIG_SHA256  qt6-base_${ZEPH_QT_SOURCE_VERSION%-*}.orig.tar.xz
$ZEPH_QT_DEBIAN_SHA256  qt6-base_$ZEPH_QT_SOURCE_VERSION.debian.tar.xz
EOF
    ); then
        echo "Qt's source package in $sources does not have the expected checksums; removed." >&2
        rm -rf "$sources"
        return 1
    fi
    local work="$prefix.build"
    rm -rf "$work" "$prefix"
    mkdir -p "$work"
    local started=$SECONDS
    echo "Building Qt $ZEPH_QT_VERSION for Windows once into $prefix (long: see docs/windows.md)" >&2
    if ! dpkg-source -x "$dsc" "$work/src" >"$work/unpack.log" 2>&1; then
        echo "Cannot unpack $dsc: see $work/unpack.log" >&2
        return 1
    fi
    local jobs="${ZEPH_QT_JOBS:-$(zeph_jobs)}"
    if ! (nice -n 15 cmake -S "$work/src" -B "$work/build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$ZEPH_ROOT/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DQT_HOST_PATH=/usr \
        -DQT_HOST_PATH_CMAKE_DIR="/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/cmake" \
        "${ZEPH_QT_OPTIONS[@]}" >"$work/configure.log" 2>&1 &&
        nice -n 15 cmake --build "$work/build" -j "$jobs" >"$work/build.log" 2>&1 &&
        cmake --install "$work/build" >"$work/install.log" 2>&1); then
        echo "Qt for Windows did not build: see the logs in $work" >&2
        return 1
    fi
    local took=$((SECONDS - started)) used
    used="$(du -sm "$work" "$prefix" | awk '{ s += $1 } END { print s }')"
    rm -rf "$work"
    echo "Built Qt for Windows in $((took / 60)) min $((took % 60)) s, $used MB of disk at most;" \
        "$(du -sm "$prefix" | cut -f1) MB kept in $prefix" >&2
    touch "$prefix/.complete"
    echo "$prefix"
}

# Configures and builds the Windows programs (the wizard, zephrane-cli and zephrane-sim) into a
# folder; the extra arguments are CMake's. Qt for Windows is built first when the cache does
# not have it yet.
zeph_build_windows() {
    local build="$1"
    shift
    local sqlite qt
    sqlite="$(zeph_sqlite_source)" || return 1
    qt="$(zeph_qt_windows)" || return 1
    cmake -S "$ZEPH_ROOT" -B "$build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$ZEPH_ROOT/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DZEPH_WITH_QT=ON -DZEPH_WERROR=ON \
        -DZEPH_QT_WINDOWS="$qt" -DCMAKE_PREFIX_PATH="$qt" -DQT_HOST_PATH=/usr \
        -DQT_HOST_PATH_CMAKE_DIR="/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/cmake" \
        -DZEPH_SQLITE_SOURCE="$sqlite" $(zeph_cmake_launcher) "$@" >/dev/null
    cmake --build "$build" -j "$(zeph_jobs)"
}
