#!/bin/sh
# Builds the Windows cipher (CryptoAPI) and the reader tool with MinGW, warnings
# as errors, and, when Wine is present, checks both against the recorded vectors.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-"$root/build-mingw-cipher"}
mkdir -p "$out"
CXX=${MINGW_CXX:-x86_64-w64-mingw32-g++}
FLAGS="-std=c++17 -Wall -Wextra -Werror -static -O1 -I$root/Qt_Common/cipher -I$root/tools/vqs-decrypt"
CIPHER="$root/Qt_Common/cipher/cipher.cpp $root/Qt_Common/cipher/cipher_win32.cpp $root/Qt_Common/cipher/cipher_portable.cpp"

$CXX $FLAGS -o "$out/cipher_vectors.exe" "$root/tests/mingw/cipher_vectors.cpp" $CIPHER -ladvapi32
$CXX $FLAGS -municode -o "$out/vqs-decrypt.exe" "$root/tools/vqs-decrypt/main.cpp" "$root/tools/vqs-decrypt/recordreader.cpp" \
    $CIPHER -ladvapi32
echo "mingw-check-cipher: built cipher_vectors.exe and vqs-decrypt.exe"

WINE=${WINE:-/usr/lib/wine/wine64}
if [ ! -x "$WINE" ]; then
    echo "mingw-check-cipher: no Wine, run checks skipped"
    exit 0
fi
export WINEPREFIX=${WINEPREFIX:-"$out/wineprefix"} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap '"$(dirname "$WINE")/wineserver" -k 2>/dev/null || true' EXIT
"$WINE" "$out/cipher_vectors.exe"

# The reader deciphers the vector records ("abc" LF after an empty record).
printf '\122\041\014\376\126\041\014\376\063\103\157\364' > "$out/vectors.enc"
got=$("$WINE" "$out/vqs-decrypt.exe" -p 0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ+- \
    "$out/vectors.enc" | od -An -c | tr -d ' \n')
if [ "$got" != 'abc\n' ]; then
    echo "mingw-check-cipher: vqs-decrypt.exe printed '$got'" >&2
    exit 1
fi
# The same file in a directory named as a user whom Latin-1 and the ANSI code page cannot spell.
user_dir="$out/Łukasz Олег 李"
mkdir -p "$user_dir"
cp "$out/vectors.enc" "$user_dir/vectors.enc"
got=$(LC_ALL=C.UTF-8 "$WINE" "$out/vqs-decrypt.exe" -p 0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ+- \
    "$user_dir/vectors.enc" | od -An -c | tr -d ' \n')
if [ "$got" != 'abc\n' ]; then
    echo "mingw-check-cipher: vqs-decrypt.exe could not read $user_dir/vectors.enc (printed '$got')" >&2
    exit 1
fi
echo "mingw-check-cipher: vqs-decrypt.exe ok"
