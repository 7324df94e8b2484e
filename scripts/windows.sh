#!/usr/bin/env bash
# Builds the Windows x64 package from Linux: Qt for Windows (once, cached outside the checkout),
# QCustomPlot, cJSON, libmosquitto and stm32flash from their Debian source packages, then our programs,
# a zip and an NSIS installer in dist/.
#
#   bash scripts/windows.sh          everything
#   bash scripts/windows.sh qt       only the cached Qt for Windows
#   bash scripts/windows.sh qt-cached  exit code 0 when that Qt is built already
#   bash scripts/windows.sh deps-noqt  only the libraries and tools that need no Qt
#
# Environment:
#   VQS_QT_SOURCES   directory holding qtserialport-everywhere-src-5.15.8.tar.xz (default ../shared/qt)
#   VQS_WIN_CACHE    cache root (default ~/.cache/vqs-windows)
#   VQS_WIN_JOBS     parallel jobs (default: number of cores)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

stage="${1:-all}"
qt_version=5.15.8
qt_sources="${VQS_QT_SOURCES:-$root/../shared/qt}"
serialport_tar="qtserialport-everywhere-src-$qt_version.tar.xz"
serialport_sha=6958041d9f09ec1a03aeb6f1d589025af217883bf5b4f42e2fc8e6eaceb12648
cache="${VQS_WIN_CACHE:-$HOME/.cache/vqs-windows}"
jobs="${VQS_WIN_JOBS:-$(nproc)}"
triple=x86_64-w64-mingw32
mingw_lib=/usr/$triple/lib

log() { echo "windows: $*"; }
die() { echo "windows: $*" >&2; exit 1; }

# Qt for Windows, once per version and configure options.
libcase="$cache/tools/libcase"
qt_options=(
    -xplatform win32-g++ -device-option CROSS_COMPILE=$triple-
    -opensource -confirm-license -release -shared
    -nomake examples -nomake tests -no-opengl -no-dbus -no-icu -no-fontconfig
    -qt-zlib -qt-libpng -qt-libjpeg -qt-pcre -qt-harfbuzz -qt-freetype -schannel -no-openssl
    -no-sql-sqlite -no-sql-odbc -no-feature-sql
    # The Debian tarball drops the Wacom headers the Windows tablet support needs.
    -no-feature-tabletevent
    -L "$libcase"
)
qt_key="$(printf '%s\n' "$qt_version" "${qt_options[@]}" "$serialport_sha" | sed "s|$cache|CACHE|" | sha256sum | cut -c1-12)"
qt_prefix="$cache/qt5-$qt_version-$qt_key"
export VQS_QT_WIN="$qt_prefix"

if [ "$stage" = qt-cached ]; then
    # Whether the Qt this script would use is built already (CI asks before building the package).
    [ -f "$qt_prefix/.complete" ] && echo "$qt_prefix" && exit 0
    exit 1
fi

# ---------------------------------------------------------------------------------------------
# Host packages

apt_install() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    log "installing ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -q
    $sudo apt-get install -y -q "${missing[@]}"
}

apt_install g++ make perl cmake ninja-build dpkg-dev xz-utils zip ccache \
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
    nsis icoutils librsvg2-bin fonts-quicksand wine64 xvfb xdotool imagemagick unzip

# ---------------------------------------------------------------------------------------------
# Private tool directories, outside the system's directories

# The posix thread model: std::thread and Qt's threads need it.
toolbin="$cache/tools/bin"
mkdir -p "$toolbin"
for t in gcc g++; do
    ln -sfn "/usr/bin/$triple-$t-posix" "$toolbin/$triple-$t"
done
export PATH="$toolbin:$PATH"

# Qt's project files link Windows libraries with capitalised names (-lSecur32); mingw-w64's import
# libraries are lower case. A directory of capitalised links makes both resolve.
mkdir -p "$libcase"
for a in "$mingw_lib"/lib*.a; do
    base="${a##*/lib}"
    capital="lib${base^}"
    [ "$capital" = "lib$base" ] || ln -sfn "$a" "$libcase/$capital"
done

# Debian source packages through a private sources list; the system's lists stay untouched.
srcapt="$cache/apt"
apt_src() {
    if [ ! -f "$srcapt/updated" ]; then
        mkdir -p "$srcapt/lists/partial"
        local uri
        uri="$(sed -n 's/^URIs:[[:space:]]*//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | grep -v security | head -n1)"
        [ -n "$uri" ] || uri=http://deb.debian.org/debian
        cat >"$srcapt/sources.list" <<EOF
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $uri bookworm main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $uri bookworm-updates main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian-security bookworm-security main
EOF
        apt-get -q -o Dir::Etc::SourceList="$srcapt/sources.list" -o Dir::Etc::SourceParts=/dev/null \
            -o Dir::State::Lists="$srcapt/lists" update
        touch "$srcapt/updated"
    fi
    apt-get -q -o Dir::Etc::SourceList="$srcapt/sources.list" -o Dir::Etc::SourceParts=/dev/null \
        -o Dir::State::Lists="$srcapt/lists" -o APT::Sandbox::User=root source "$@"
}

# Unpacks a Debian source package into $cache/src/<name>-<version> once; prints the directory.
debian_source() {
    local name="$1" dir
    mkdir -p "$cache/src"
    dir="$(ls -d "$cache/src/$name"-[0-9]* 2>/dev/null | grep -v '\.orig' | head -n1 || true)"
    if [ -z "$dir" ] || [ ! -f "$dir/.unpacked" ]; then
        (cd "$cache/src" && apt_src "$name" >&2)
        dir="$(ls -d "$cache/src/$name"-[0-9]* 2>/dev/null | grep -v '\.orig' | head -n1)"
        [ -n "$dir" ] || die "apt-get source $name unpacked nothing"
        touch "$dir/.unpacked"
    fi
    echo "$dir"
}

# ---------------------------------------------------------------------------------------------
# Qt for Windows

build_qt() {
    if [ -f "$qt_prefix/.complete" ]; then
        log "Qt for Windows cached in $qt_prefix"
        return 0
    fi
    local tar="$qt_sources/$serialport_tar"
    [ -f "$tar" ] || die "missing $tar (set VQS_QT_SOURCES)"
    echo "$serialport_sha  $tar" | sha256sum -c --quiet - || die "$tar: checksum differs"

    local started=$SECONDS src work
    if [ ! -f "$qt_prefix/.qtbase" ]; then
        src="$(debian_source qtbase-opensource-src)"
        log "qtbase source: $src"
        work="$cache/work/qtbase-$qt_key"
        rm -rf "$work" "$qt_prefix"
        mkdir -p "$work"
        (cd "$work" && "$src/configure" -prefix "$qt_prefix" "${qt_options[@]}") >"$cache/qt-configure-$qt_key.log" 2>&1 \
            || { tail -n 40 "$cache/qt-configure-$qt_key.log"; die "qtbase configure failed"; }
        log "building qtbase (log: $cache/qt-build-$qt_key.log)"
        (cd "$work" && nice -n 19 make -j"$jobs" && make install) >"$cache/qt-build-$qt_key.log" 2>&1 \
            || { tail -n 40 "$cache/qt-build-$qt_key.log"; die "qtbase build failed"; }
        touch "$qt_prefix/.qtbase"
    fi

    # The module tarball comes without its generated header directory; syncqt makes it.
    work="$cache/work/qtserialport-$qt_key"
    rm -rf "$work"
    mkdir -p "$work"
    tar -xJf "$tar" -C "$work"
    (
        cd "$work"/qtserialport-everywhere-src-*
        perl "$qt_prefix/bin/syncqt.pl" -module QtSerialPort -version "$qt_version" -outdir "$PWD" "$PWD" \
            && "$qt_prefix/bin/qmake" && nice -n 19 make -j"$jobs" && make install
    ) >"$cache/qtserialport-build-$qt_key.log" 2>&1 \
        || { tail -n 40 "$cache/qtserialport-build-$qt_key.log"; die "qtserialport build failed"; }
    rm -rf "$cache/work/qtbase-$qt_key" "$work"
    touch "$qt_prefix/.complete"
    log "Qt for Windows built in $(( (SECONDS - started) / 60 )) min: $qt_prefix"
}

[ "$stage" = deps-noqt ] || build_qt
[ "$stage" = qt ] && exit 0

# ---------------------------------------------------------------------------------------------
# Windows builds of cJSON, QCustomPlot and the flasher, from Debian's source packages

toolchain="$root/packaging/windows/toolchain-mingw64.cmake"
deps="$cache/deps-$qt_key"
mkdir -p "$deps"

cmake_dep() {
    local name="$1" src stamp
    shift
    src="$(debian_source "$name")"
    stamp="$deps/.built-$(basename "$src")"
    [ -f "$stamp" ] && return 0
    log "building $(basename "$src") for Windows"
    rm -rf "$cache/work/$name"
    nice -n 19 cmake -S "$src" -B "$cache/work/$name" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DVQS_WINDOWS_PREFIXES="$qt_prefix;$deps" \
        -DCMAKE_INSTALL_PREFIX="$deps" -DBUILD_SHARED_LIBS=ON "$@" >"$cache/$name-build.log" 2>&1 \
        && nice -n 19 cmake --build "$cache/work/$name" -j "$jobs" >>"$cache/$name-build.log" 2>&1 \
        && cmake --install "$cache/work/$name" >>"$cache/$name-build.log" 2>&1 \
        || { tail -n 30 "$cache/$name-build.log"; die "$name build failed"; }
    rm -rf "$cache/work/$name"
    touch "$stamp"
}

build_stm32flash() {
    local src stamp work
    src="$(debian_source stm32flash)"
    stamp="$deps/.built-$(basename "$src")"
    [ -f "$stamp" ] && return 0
    log "building $(basename "$src") for Windows"
    work="$cache/work/stm32flash"
    rm -rf "$work"
    cp -a "$src" "$work"
    # Static runtime: the flasher runs on its own, beside the program.
    (cd "$work" && nice -n 19 make -f Makefile CC=$triple-gcc AR=$triple-ar LDFLAGS=-static -j"$jobs" stm32flash) \
        >"$cache/stm32flash-build.log" 2>&1 || { tail -n 30 "$cache/stm32flash-build.log"; die "stm32flash build failed"; }
    mkdir -p "$deps/bin"
    cp "$work/stm32flash.exe" "$deps/bin/stm32flash.exe"
    rm -rf "$work"
    touch "$stamp"
}

# The MQTT client library only (no broker, clients, plugins or C++ wrapper). Without TLS: Debian
# has no OpenSSL for mingw-w64, and Qt for Windows uses Schannel. Its threads are POSIX threads,
# which mingw-w64 provides (winpthreads, shipped beside the program anyway); its build file
# expects a pthreads-win32 build under C:\pthreads on Windows, so a copy is told otherwise.
build_mosquitto() {
    local src stamp work
    src="$(debian_source mosquitto)"
    stamp="$deps/.built-$(basename "$src")"
    [ -f "$stamp" ] && return 0
    log "building $(basename "$src") (client library) for Windows"
    work="$cache/work/mosquitto"
    rm -rf "$work"
    cp -a "$src" "$work"
    sed -i 's/^\tif (WIN32)$/\tif (WIN32 AND NOT MINGW)/' "$work/CMakeLists.txt"
    grep -q 'if (WIN32 AND NOT MINGW)' "$work/CMakeLists.txt" || die "mosquitto: its threading set-up changed"
    # PE linkers take no symbol version scripts (the header's dllexport marks what the DLL
    # exports), and a DLL comes with an import library to install.
    sed -i -e '/LINK_FLAGS "-Wl,--version-script=/d' \
        -e 's|^install(TARGETS libmosquitto RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}"|& ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}"|' \
        "$work/lib/CMakeLists.txt"
    nice -n 19 cmake -S "$work" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DVQS_WINDOWS_PREFIXES="$deps" -DCMAKE_INSTALL_PREFIX="$deps" \
        -DWITH_TLS=OFF -DWITH_CJSON=OFF -DWITH_THREADING=ON -DWITH_SRV=OFF -DWITH_LIB_CPP=OFF \
        -DWITH_BROKER=OFF -DWITH_CLIENTS=OFF -DWITH_APPS=OFF -DWITH_PLUGINS=OFF -DDOCUMENTATION=OFF \
        >"$cache/mosquitto-build.log" 2>&1 \
        && nice -n 19 cmake --build "$work/build" -j "$jobs" >>"$cache/mosquitto-build.log" 2>&1 \
        && cmake --install "$work/build" >>"$cache/mosquitto-build.log" 2>&1 \
        || { tail -n 30 "$cache/mosquitto-build.log"; die "mosquitto build failed"; }
    $triple-objdump -p "$deps/bin/libmosquitto.dll" | grep '] mosquitto_publish$' >/dev/null \
        || die "mosquitto: libmosquitto.dll exports no mosquitto_publish"
    rm -rf "$work"
    touch "$stamp"
}

cmake_dep cjson -DENABLE_CJSON_TEST=OFF -DENABLE_CJSON_UTILS=OFF -DENABLE_CUSTOM_COMPILER_FLAGS=OFF
build_stm32flash
build_mosquitto
[ "$stage" = deps-noqt ] && exit 0
cmake_dep qcustomplot -DUSE_QT_VERSION=5
[ "$stage" = deps ] && exit 0

# ---------------------------------------------------------------------------------------------
# Our programs

version="$(sed -n 's/^project([^)]*VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
[ -n "$version" ] || die "no project version in CMakeLists.txt"
build="$root/build-windows"
log "building the programs $version for Windows in $build"
started=$SECONDS
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DVQS_WINDOWS_PREFIXES="$qt_prefix;$deps" -DVQS_BUILD_TESTS=OFF -DVQS_WINDOWS_CHECKS=ON >"$build.log" 2>&1 \
    || { tail -n 30 "$build.log"; die "configuring the Windows build failed"; }
nice -n 10 cmake --build "$build" -j "$jobs" >>"$build.log" 2>&1 || { grep -B2 -A12 -m3 'error' "$build.log" || tail -n 40 "$build.log"; die "Windows build failed"; }
log "programs built in $((SECONDS - started)) s"

# ---------------------------------------------------------------------------------------------
# The package: programs, the DLLs they load, Qt's plugins, the flasher

name="VQS-Sensor-Interface-$version-win64"
stagedir="$root/dist/stage/$name"
rm -rf "$root/dist/stage"
mkdir -p "$stagedir"

gcc_runtime="$(dirname "$($triple-g++ -print-libgcc-file-name)")"
dll_dirs=("$qt_prefix/bin" "$deps/bin" "$gcc_runtime" "/usr/$triple/lib")

# Copies the DLLs a Windows binary imports, and theirs, from our directories; system DLLs
# (kernel32 and friends) are not in them and stay out.
copy_imports() {
    local dll d
    for dll in $($triple-objdump -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
        [ -f "$stagedir/$dll" ] && continue
        for d in "${dll_dirs[@]}"; do
            if [ -f "$d/$dll" ]; then
                cp "$d/$dll" "$stagedir/$dll"
                copy_imports "$stagedir/$dll"
                break
            fi
        done
    done
}

for exe in vqs-sensor-interface vqs-ctl vqs-decrypt; do
    cp "$build/bin/$exe.exe" "$stagedir/"
done
cp "$deps/bin/stm32flash.exe" "$stagedir/"
# Qt looks for plugins in these folders beside the executable. vqs-ctl draws its plots
# on the offscreen platform; without it Qt stops the tool with a message box.
for plugin in platforms/qwindows platforms/qoffscreen styles/qwindowsvistastyle imageformats/qgif imageformats/qico \
              imageformats/qjpeg printsupport/windowsprintersupport bearer/qgenericbearer; do
    mkdir -p "$stagedir/$(dirname "$plugin")"
    cp "$qt_prefix/plugins/$plugin.dll" "$stagedir/$plugin.dll"
done
while IFS= read -r -d '' binary; do
    copy_imports "$binary"
done < <(find "$stagedir" -name '*.exe' -print0 -o -name '*.dll' -print0)
$triple-strip --strip-unneeded $(find "$stagedir" -name '*.exe' -o -name '*.dll')

mkdir -p "$root/dist"
zip_file="$root/dist/$name.zip"
rm -f "$zip_file"
(cd "$root/dist/stage" && zip -q -r -9 "$zip_file" "$name")
log "zip: $zip_file ($(du -h "$zip_file" | cut -f1))"

# The installer's file lists: exactly what it installs is what its uninstaller removes.
nsis_dir="$root/dist/stage/nsis"
mkdir -p "$nsis_dir"
winpath() { local p="${1#./}"; echo "${p//\//\\}"; }
(
    cd "$stagedir"
    {
        echo 'SetOutPath "$INSTDIR"'
        find . -maxdepth 1 -type f | sort | while read -r f; do echo "File \"$stagedir/${f#./}\""; done
        find . -mindepth 1 -type d | sort | while read -r d; do
            echo "SetOutPath \"\$INSTDIR\\$(winpath "$d")\""
            find "$d" -maxdepth 1 -type f | sort | while read -r f; do echo "File \"$stagedir/${f#./}\""; done
        done
        echo 'SetOutPath "$INSTDIR"'
    } >"$nsis_dir/files.nsh"
    {
        find . -type f | sort | while read -r f; do echo "Delete \"\$INSTDIR\\$(winpath "$f")\""; done
        find . -mindepth 1 -type d | sort -r | while read -r d; do echo "RMDir \"\$INSTDIR\\$(winpath "$d")\""; done
    } >"$nsis_dir/remove.nsh"
)
icon="$build/packaging/vqs-sensor-interface.ico"
setup="$root/dist/$name-setup.exe"
makensis -V2 -DVERSION="$version" -DOUTFILE="$setup" -DICON="$icon" -DFILES="$nsis_dir/files.nsh" \
    -DREMOVE="$nsis_dir/remove.nsh" -DSIZE_KB="$(du -sk "$stagedir" | cut -f1)" \
    "$root/packaging/windows/installer.nsi" || die "makensis failed"
log "installer: $setup ($(du -h "$setup" | cut -f1))"
