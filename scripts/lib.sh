# Shared by the scripts: installs what the build needs on Debian 12.
# shellcheck shell=bash

ZEPH_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

ZEPH_PACKAGES=(
    g++ cmake ninja-build pkg-config
    qt6-base-dev libgl-dev
    libsqlite3-dev libcurl4-openssl-dev
    unixodbc unixodbc-dev odbcinst tdsodbc libsqliteodbc
    libgtest-dev libgmock-dev libbenchmark-dev
    binutils-mingw-w64-x86-64 gcc-mingw-w64-x86-64
    xvfb xauth
    # Japanese, Chinese and Korean texts of the language libraries need a font that has them.
    fonts-wqy-microhei
)

zeph_install_packages() {
    zeph_install_missing_packages
    zeph_register_sql_server_driver
}

# A connection text names the server's driver as "SQL Server", as on Windows: here that name is
# FreeTDS's ODBC driver, registered once with the driver manager.
zeph_register_sql_server_driver() {
    if odbcinst -q -d -n "SQL Server" >/dev/null 2>&1; then
        return 0
    fi
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        sudo="sudo"
    fi
    local template
    template="$(mktemp)"
    printf '[SQL Server]\nDescription=FreeTDS ODBC driver\nDriver=libtdsodbc.so\n' >"$template"
    echo "Registering FreeTDS's ODBC driver as \"SQL Server\""
    $sudo odbcinst -i -d -f "$template" >/dev/null
    rm -f "$template"
}

zeph_install_missing_packages() {
    local missing=()
    local p
    for p in "${ZEPH_PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        sudo="sudo"
    fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
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
