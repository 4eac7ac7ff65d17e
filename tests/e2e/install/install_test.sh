#!/usr/bin/env bash
# Builds the three Debian packages of the build with cpack and checks what a user gets: which package holds what and
# depends on what, the library's symbols file, upgrades from the single and the split packages of before, and, in the
# tree the three unpack into, the layout, the library's SONAME links, no loader path into the build tree, valid
# desktop entry and metainfo, and the program, vellport and the launcher really run.
set -uo pipefail
# A grep that tests a pipe reads it to the end (no -q): an early exit would kill the writer with SIGPIPE,
# which pipefail turns into a failed check.
# No display is needed or wanted: the window is created offscreen.
export QT_QPA_PLATFORM=offscreen

readonly kAppId="io.github.vellsetting.VellSetting"
readonly kIconSizes=(16 24 32 48 64 128 256)
readonly kStartBound=20 # seconds for the program to come up or go away
readonly kSigtermMask=$((1 << (15 - 1)))
readonly kProgramPackage=vellsetting kLibraryPackage=libvellportdll1 kDevPackage=libvellportdll-dev
# The last release whose single "vellsetting" package held the library and the header.
readonly kSinglePackageVersion=1.0.0.1
# The release that split it in three, numbered above the product version without an epoch.
readonly kSplitVersion=1.0.1
readonly kSkip=77
vellport=""

while [ $# -gt 0 ]; do
    case "$1" in
    --build) build=$2 ;;
    --source) source=$2 ;;
    --prefix) prefix=$2 ;;
    --bindir) bindir=$2 ;;
    --libdir) libdir=$2 ;;
    --includedir) includedir=$2 ;;
    --datadir) datadir=$2 ;;
    --libexecdir) libexecdir=$2 ;;
    --mandir) mandir=$2 ;;
    --library) library=$2 ;;
    --soname) soname=$2 ;;
    --linkname) linkname=$2 ;;
    --devsim) devsim=$2 ;;
    --version) version=$2 ;;
    --vellport) vellport=$2 ;;
    *)
        echo "install_test: unknown argument $1" >&2
        exit 2
        ;;
    esac
    shift 2
done

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

# Resolved, so paths compare equal to what /proc shows for the running program.
scratch=$(readlink -f "$(mktemp -d "${TMPDIR:-/tmp}/vell-install.XXXXXX")")
running_pid=""
devsim_pid=""
cleanup() {
    if [ -n "$running_pid" ]; then
        kill -KILL "$running_pid" 2>/dev/null
    fi
    if [ -n "$devsim_pid" ]; then
        kill -TERM "$devsim_pid" 2>/dev/null
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT

# --- Packages ------------------------------------------------------------------------------------------------------
if [ "$prefix" != /usr ]; then
    echo "install_test: SKIP: Debian packages are built only for the prefix /usr, this build has $prefix" \
        "(scripts/package builds them in a folder of its own)"
    exit "$kSkip"
fi
debs="$scratch/debs"
if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$debs" >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log" >&2
    echo "FAIL: cpack did not build the packages" >&2
    exit 1
fi
arch=$(dpkg --print-architecture)
# File names leave the epoch out, as Debian's archive does.
file_version=${version#*:}
program_deb="$debs/${kProgramPackage}_${file_version}_$arch.deb"
library_deb="$debs/${kLibraryPackage}_${file_version}_$arch.deb"
dev_deb="$debs/${kDevPackage}_${file_version}_$arch.deb"
built=$(find "$debs" -maxdepth 1 -name '*.deb' | sort | tr '\n' ' ')
expected_debs=$(printf '%s\n' "$program_deb" "$library_deb" "$dev_deb" | sort | tr '\n' ' ')
if [ "$built" = "$expected_debs" ]; then
    pass "three packages: $kProgramPackage, $kLibraryPackage, $kDevPackage $version"
else
    echo "FAIL: cpack built '$built', want '$expected_debs'" >&2
    exit 1
fi

# package|field|text the field must contain
relations=(
    "$program_deb|Depends|$kLibraryPackage (= $version)"
    "$program_deb|Recommends|qt6-wayland"
    "$dev_deb|Depends|$kLibraryPackage (= $version)"
    "$library_deb|Breaks|$kProgramPackage (<< $kSplitVersion)"
    "$library_deb|Replaces|$kProgramPackage (<< $kSplitVersion)"
    "$dev_deb|Breaks|$kProgramPackage (<< $kSplitVersion)"
    "$dev_deb|Replaces|$kProgramPackage (<< $kSplitVersion)"
)
for row in "${relations[@]}"; do
    IFS='|' read -r deb field want <<<"$row"
    got=$(dpkg-deb -f "$deb" "$field")
    if [[ ", $got," == *", $want,"* ]]; then
        pass "$(basename "$deb") $field: $want"
    else
        fail "$(basename "$deb") $field is '$got', want it to name '$want'"
    fi
done

# Each file in exactly the package it belongs to: package|path below the prefix
contents=(
    "$program_deb|$bindir/VellSetting"
    "$program_deb|$libexecdir/vellsetting/vellsetting-launch"
    "$program_deb|$datadir/applications/$kAppId.desktop"
    "$program_deb|$datadir/bash-completion/completions/vellport"
    "$library_deb|$libdir/$library"
    "$library_deb|$libdir/$soname"
    "$library_deb|$libdir/VellPortDll/libVellPortDll-tls.so"
    "$dev_deb|$libdir/$linkname"
    "$dev_deb|$includedir/VellPortDll.h"
    "$dev_deb|$mandir/man3/VellPortDll.3.gz"
)
for package in "$kProgramPackage" "$kLibraryPackage" "$kDevPackage"; do
    deb="$debs/${package}_${file_version}_$arch.deb"
    contents+=("$deb|$datadir/doc/$package/copyright" "$deb|$datadir/doc/$package/changelog.Debian.gz")
done
if [ -n "$vellport" ]; then
    contents+=("$program_deb|$bindir/$vellport" "$program_deb|$mandir/man1/$vellport.1.gz")
fi
listing() { dpkg-deb --fsys-tarfile "$1" | tar -t | sed 's|^\./|/|'; }
for row in "${contents[@]}"; do
    IFS='|' read -r deb path <<<"$row"
    holders=""
    for other in "$program_deb" "$library_deb" "$dev_deb"; do
        if listing "$other" | grep -xF "$prefix/$path" >/dev/null; then holders+="$(basename "$other") "; fi
    done
    if [ "$holders" = "$(basename "$deb") " ]; then
        pass "$path only in $(basename "$deb")"
    else
        fail "$path is in '${holders}', want only $(basename "$deb")"
    fi
done
shared=$(for deb in "$program_deb" "$library_deb" "$dev_deb"; do listing "$deb" | grep -v '/$'; done | sort | uniq -d)
if [ -z "$shared" ]; then pass "no file in two packages"; else fail "files in two packages: $shared"; fi

# --- Unpacked into one tree ----------------------------------------------------------------------------------------
staging="$scratch/tree"
for deb in "$program_deb" "$library_deb" "$dev_deb"; do
    dpkg-deb -x "$deb" "$staging"
done
root="$staging$prefix"

# The symbols file lists every function the library exports, and nothing it does not.
exported=$(nm -D --defined-only "$root/$libdir/$library" | awk '$2 == "T" {print $3}' | sort)
listed=$(dpkg-deb --info "$library_deb" symbols | sed -n 's/^ \([A-Za-z_][A-Za-z0-9_]*\)@Base [0-9][0-9A-Za-z.:~+-]*$/\1/p' | sort)
if [ -n "$exported" ] && [ "$exported" = "$listed" ]; then
    pass "symbols file lists the exported functions: ${exported//$'\n'/ }"
else
    fail "symbols file lists '${listed//$'\n'/ }', the library exports '${exported//$'\n'/ }'"
fi
if dpkg-deb --info "$library_deb" symbols | head -n 1 | grep -qx "$soname $kLibraryPackage #MINVER#"; then
    pass "symbols file names $soname of $kLibraryPackage"
else
    fail "symbols file does not start with '$soname $kLibraryPackage #MINVER#'"
fi

# --- Upgrade from the single package -------------------------------------------------------------------------------
# The single package of earlier releases held the program, the library and the header; the three must take over
# its files in one dpkg run. Installed into a dpkg database of the test's own, never the system's.
old_tree="$scratch/old"
for path in "$bindir/VellSetting" "$libdir/$library" "$libdir/$soname" "$libdir/$linkname" "$includedir/VellPortDll.h"; do
    mkdir -p "$old_tree$prefix/$(dirname "$path")"
    cp -a "$root/$path" "$old_tree$prefix/$path"
done
mkdir -p "$old_tree/DEBIAN"
printf 'Package: %s\nVersion: %s\nArchitecture: %s\nMaintainer: test <test@example.org>\nDescription: %s\n' \
    "$kProgramPackage" "$kSinglePackageVersion" "$arch" "single package of earlier releases" >"$old_tree/DEBIAN/control"
dpkg-deb --root-owner-group --build "$old_tree" "$scratch/single.deb" >/dev/null
dpkg_root="$scratch/dpkg-root"
mkdir -p "$dpkg_root/var/lib/dpkg/info" "$dpkg_root/var/lib/dpkg/updates" "$dpkg_root/var/lib/dpkg/triggers"
touch "$dpkg_root/var/lib/dpkg/status"
# No maintainer scripts to run; the foreign root has none of the system's packages the three depend on.
in_root_dpkg() { dpkg --root="$dpkg_root" --force-depends --force-script-chrootless --force-not-root "$@"; }
# The library first, as apt may order it: its files still belong to the old package, which only Replaces lets it take
# over, and Breaks has the old package deconfigured meanwhile.
if in_root_dpkg -i "$scratch/single.deb" >"$scratch/dpkg.log" 2>&1 &&
    in_root_dpkg --auto-deconfigure -i "$library_deb" "$dev_deb" "$program_deb" >>"$scratch/dpkg.log" 2>&1; then
    # package|file it must own after the upgrade
    owners=(
        "$kLibraryPackage|$prefix/$libdir/$library"
        "$kDevPackage|$prefix/$includedir/VellPortDll.h"
        "$kProgramPackage|$prefix/$bindir/VellSetting"
    )
    for row in "${owners[@]}"; do
        IFS='|' read -r package path <<<"$row"
        owner=$(in_root_dpkg -S "$path" 2>/dev/null | cut -d: -f1)
        if [ "$owner" = "$package" ] && [ -f "$dpkg_root$path" ]; then
            pass "upgrade from the single package: $path belongs to $owner"
        else
            fail "after the upgrade $path belongs to '$owner' (want $package) or is missing"
        fi
    done
    states=$(dpkg-query --admindir="$dpkg_root/var/lib/dpkg" -W -f='${Package} ${Version} ${db:Status-Abbrev}\n' |
        sed 's/ *$//' | LC_ALL=C sort)
    want=$(printf '%s %s ii\n' "$kDevPackage" "$version" "$kLibraryPackage" "$version" "$kProgramPackage" "$version")
    if [ "$states" = "$want" ]; then
        pass "upgrade from the single package: all three installed at $version"
    else
        fail "after the upgrade dpkg says: $states"
    fi
else
    fail "upgrade from the single package failed: $(grep -i 'error\|overwrite\|break' "$scratch/dpkg.log" | head -n 5)"
fi

# The split packages of 1.0.1 sort above the product version the three carry now: only the epoch makes this an upgrade
# (dpkg -i would downgrade with a warning; apt would hold them back).
dpkg_root="$scratch/dpkg-split"
mkdir -p "$dpkg_root/var/lib/dpkg/info" "$dpkg_root/var/lib/dpkg/updates" "$dpkg_root/var/lib/dpkg/triggers"
touch "$dpkg_root/var/lib/dpkg/status"
for package in "$kProgramPackage" "$kLibraryPackage" "$kDevPackage"; do
    mkdir -p "$scratch/split/$package/DEBIAN"
    printf 'Package: %s\nVersion: %s\nArchitecture: %s\nMaintainer: test <test@example.org>\nDescription: %s\n' \
        "$package" "$kSplitVersion" "$arch" "split package of 1.0.1" >"$scratch/split/$package/DEBIAN/control"
    dpkg-deb --root-owner-group --build "$scratch/split/$package" "$scratch/split/$package.deb" >/dev/null
done
if in_root_dpkg -i "$scratch"/split/*.deb >"$scratch/dpkg-split.log" 2>&1 &&
    in_root_dpkg -i "$library_deb" "$dev_deb" "$program_deb" >>"$scratch/dpkg-split.log" 2>&1 &&
    ! grep -q downgrading "$scratch/dpkg-split.log"; then
    pass "upgrade from the split packages $kSplitVersion to $version"
else
    fail "upgrade from the split packages $kSplitVersion: $(grep -i 'error\|downgrading' "$scratch/dpkg-split.log" | head -n 3)"
fi

# --- Layout --------------------------------------------------------------------------------------------------------
expect_file() { # path description
    if [ -f "$1" ] && [ -s "$1" ]; then pass "$2"; else fail "$2: $1 missing or empty"; fi
}
expect_executable() {
    if [ -f "$1" ] && [ -x "$1" ]; then pass "$2"; else fail "$2: $1 missing or not executable"; fi
}

expect_executable "$root/$bindir/VellSetting" "program in bin"
expect_executable "$root/$bindir/vellport" "vellport in bin"
expect_file "$root/$libdir/$library" "library in the lib folder"
# The SONAME link is what the loader follows; the unversioned one is for linking against the header.
if [ "$(readlink "$root/$libdir/$soname")" = "$library" ]; then
    pass "$soname -> $library"
else
    fail "$root/$libdir/$soname is not a link to $library"
fi
if [ "$(readlink "$root/$libdir/$linkname")" = "$soname" ]; then
    pass "$linkname -> $soname"
else
    fail "$root/$libdir/$linkname is not a link to $soname"
fi
expect_file "$root/$includedir/VellPortDll.h" "C header in include"
expect_file "$root/$datadir/vellsetting/XPCorona.ssk" "default skin"
expect_file "$root/$datadir/vellsetting/VellSetting.html" "help page"
expect_file "$root/$datadir/vellsetting/VellSetting.zh_CN.html" "Chinese help page"
launcher="$root/$libexecdir/vellsetting/vellsetting-launch"
expect_executable "$launcher" "launcher"
desktop="$root/$datadir/applications/$kAppId.desktop"
metainfo="$root/$datadir/metainfo/$kAppId.metainfo.xml"
expect_file "$desktop" "desktop entry"
expect_file "$metainfo" "metainfo"
for size in "${kIconSizes[@]}"; do
    icon="$root/$datadir/icons/hicolor/${size}x${size}/apps/$kAppId.png"
    # A PNG in the wrong folder is as bad as none: the theme picks icons by their folder's size.
    if file -b "$icon" 2>/dev/null | grep -q "^PNG image data, $size x $size,"; then
        pass "icon ${size}x${size}"
    else
        fail "icon $icon missing or not a ${size}x${size} PNG ($(file -b "$icon" 2>&1))"
    fi
done
svg="$root/$datadir/icons/hicolor/scalable/apps/$kAppId.svg"
if grep -q "<svg" "$svg" 2>/dev/null; then pass "scalable icon"; else fail "scalable icon $svg missing or not SVG"; fi
for page in VellSetting vellport; do
    man="$root/$mandir/man1/$page.1.gz"
    if gzip -t "$man" 2>/dev/null && zcat "$man" | grep "^\\.TH ${page^^} 1" >/dev/null; then
        pass "man page $page(1)"
    else
        fail "man page $man missing or not a gzipped $page(1)"
    fi
done
expect_file "$root/$datadir/doc/vellsetting/vellsetting-udev.rules.example" "example udev rule"
# Each package's own copyright and changelog; the changelog's newest entry is the packages' version.
for package in "$kProgramPackage" "$kLibraryPackage" "$kDevPackage"; do
    expect_file "$root/$datadir/doc/$package/copyright" "$package copyright"
    newest=$(zcat "$root/$datadir/doc/$package/changelog.Debian.gz" 2>/dev/null | head -n 1)
    if [[ "$newest" == "$kProgramPackage ($version) "* ]]; then
        pass "$package changelog starts with $version"
    else
        fail "$package changelog.Debian.gz's newest entry is '$newest', want $kProgramPackage ($version)"
    fi
done

# --- Loader paths --------------------------------------------------------------------------------------------------
dynamic_of() { readelf -d "$1" 2>/dev/null; }
library_soname=$(dynamic_of "$root/$libdir/$library" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
if [ "$library_soname" = "$soname" ]; then pass "SONAME $soname"; else fail "SONAME is '$library_soname', want $soname"; fi
for program in VellSetting vellport; do
    if dynamic_of "$root/$bindir/$program" | grep "(NEEDED).*\[$soname\]" >/dev/null; then
        pass "$program needs $soname"
    else
        fail "$program does not name $soname as NEEDED (static copy or dlopen?)"
    fi
done
while IFS= read -r -d '' object; do
    if file -b "$object" | grep -q '^ELF'; then
        paths=$(dynamic_of "$object" | grep -E '\((RPATH|RUNPATH)\)')
        if [ -n "$paths" ]; then
            fail "${object#"$staging"} keeps a loader path: $paths"
        else
            pass "${object#"$staging"} has no RPATH/RUNPATH"
        fi
    fi
done < <(find "$staging" -type f -print0)

# --- Desktop entry and metainfo ------------------------------------------------------------------------------------
if desktop-file-validate "$desktop"; then pass "desktop-file-validate"; else fail "desktop-file-validate $desktop"; fi
if appstreamcli validate --no-net "$metainfo"; then pass "appstreamcli validate"; else fail "appstreamcli validate $metainfo"; fi
exec_line=$(sed -n 's/^Exec=//p' "$desktop")
if [ "$exec_line" = "$prefix/$libexecdir/vellsetting/vellsetting-launch" ]; then
    pass "desktop entry runs the launcher"
else
    fail "desktop entry Exec=$exec_line, want the launcher $prefix/$libexecdir/vellsetting/vellsetting-launch"
fi
# Software centres show the newest release: it is the version the title and the packages carry.
newest_release=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$metainfo" | head -n 1)
if [ "$newest_release" = "$file_version" ] || [[ "$file_version" == "$newest_release"-* ]]; then
    pass "metainfo's newest release is $newest_release"
else
    fail "metainfo's newest release is '$newest_release', the packages carry $version"
fi
if grep -qx "Icon=$kAppId" "$desktop"; then pass "desktop entry icon"; else fail "desktop entry Icon is not $kAppId"; fi
if grep -q "<launchable type=\"desktop-id\">$kAppId.desktop</launchable>" "$metainfo" &&
    grep -q "<id>$kAppId</id>" "$metainfo"; then
    pass "metainfo names the desktop entry"
else
    fail "metainfo id or launchable does not match $kAppId"
fi
# The screenshots the metainfo points at are the ones kept in the repository.
shots=$(sed -n 's|.*<image>.*/\(docs/screenshots/[^<]*\)</image>.*|\1|p' "$metainfo")
if [ -z "$shots" ]; then fail "metainfo has no screenshot from docs/screenshots"; fi
for shot in $shots; do
    if [ -f "$source/$shot" ]; then
        pass "metainfo screenshot $shot is in the repository"
    else
        fail "metainfo screenshot $shot is not in the repository"
    fi
done

# --- Running the staged program ------------------------------------------------------------------------------------
proc_field() { sed -n "s/^$2:[[:space:]]*//p" "/proc/$1/status" 2>/dev/null; }
proc_state() { awk '{print $3}' "/proc/$1/stat" 2>/dev/null; }

# Started means: loaded our library from the staged tree and installed its close-on-SIGTERM handler.
wait_started() { # pid
    local deadline=$((SECONDS + kStartBound)) caught
    while [ $SECONDS -lt $deadline ]; do
        case "$(proc_state "$1")" in "" | Z) return 1 ;; esac
        caught=$(proc_field "$1" SigCgt)
        if [ -n "$caught" ] && (((16#$caught & kSigtermMask) != 0)) &&
            grep -qF "$root/$libdir/$library" "/proc/$1/maps" 2>/dev/null; then
            return 0
        fi
        sleep 0.1
    done
    return 1
}
# Sends SIGTERM and waits, bounded, for the exit; leaves the exit status in stop_status. Not for a subshell: only
# this shell can reap its own child.
stop_program() { # pid
    local deadline=$((SECONDS + kStartBound))
    kill -TERM "$1"
    while [ $SECONDS -lt $deadline ]; do
        case "$(proc_state "$1")" in "" | Z) break ;; esac
        sleep 0.1
    done
    case "$(proc_state "$1")" in "" | Z) ;; *) kill -KILL "$1" ;; esac
    wait "$1"
    stop_status=$?
}
# Runs a command line in the background in folder $1 with the staged library; checks it starts, works in the
# expected folder (or one matching it), closes on SIGTERM with status 0 and saved its settings there.
run_and_close() { # label expected-working-folder command...
    local label=$1 folder=$2 cwd
    shift 2
    LD_LIBRARY_PATH="$root/$libdir" "$@" >"$scratch/run.out" 2>&1 &
    running_pid=$!
    if ! wait_started "$running_pid"; then
        fail "$label: did not start within ${kStartBound}s; output: $(cat "$scratch/run.out")"
        kill -KILL "$running_pid" 2>/dev/null
        wait "$running_pid" 2>/dev/null
        running_pid=""
        return
    fi
    cwd=$(readlink "/proc/$running_pid/cwd")
    # shellcheck disable=SC2053 # the folder may be a pattern
    if [[ "$cwd" == $(readlink -f "$folder") ]]; then
        pass "$label: works in $folder"
        folder=$cwd
    else
        fail "$label: works in $cwd, want $folder"
    fi
    stop_program "$running_pid"
    running_pid=""
    if [ "$stop_status" = 0 ]; then
        pass "$label: closed on SIGTERM, status 0"
    else
        fail "$label: exit status $stop_status"
    fi
    # Closing like Exit saves, CRLF lines as profile files have them: a first run leaves the default port COM1.
    local settings
    settings=$(tr -d '\r' <"$folder/Option.ini" 2>/dev/null)
    if grep -qx '\[COMM\]' <<<"$settings" && grep -qx 'Port=COM1' <<<"$settings"; then
        pass "$label: Option.ini saved in its working folder"
    else
        fail "$label: no [COMM] Port=COM1 in $folder/Option.ini"
    fi
}

terminal_dir="$scratch/terminal"
mkdir -p "$terminal_dir"
run_and_close "program from a terminal" "$terminal_dir" env -C "$terminal_dir" "$root/$bindir/VellSetting"

# --- vellport ------------------------------------------------------------------------------------------------------
if [ -z "$vellport" ]; then
    echo "install_test: vellport is not part of this build yet; its checks are left out"
else
    tool="$root/$bindir/$vellport"
    if LD_LIBRARY_PATH="$root/$libdir" ldd "$tool" 2>/dev/null | grep -F "$root/$libdir/$soname" >/dev/null; then
        pass "$vellport loads the unpacked library"
    else
        fail "$vellport does not load $root/$libdir/$soname"
    fi
    # COM1 always has a line: from a map or from the fixed rule.
    if listed=$(env -C "$scratch" LD_LIBRARY_PATH="$root/$libdir" VELLPORT_COM1=/dev/null "$tool" list 2>&1) &&
        grep -q 'COM1' <<<"$listed"; then
        pass "$vellport list runs from the unpacked tree"
    else
        fail "$vellport list: $listed"
    fi
fi

# --- The launcher --------------------------------------------------------------------------------------------------
# Every launcher run sees a stand-in system with no serial devices, keeps its log under the scratch folder, and finds
# a systemd-cat that cannot reach a journal, unless a check says otherwise.
fake_system="$scratch/system"
mkdir -p "$fake_system/sys" "$fake_system/dev/serial/by-id" "$scratch/stubs/failing" "$scratch/stubs/working"
export VELLPORT_SYSFS_ROOT="$fake_system/sys" VELLPORT_DEV_ROOT="$fake_system/dev" XDG_STATE_HOME="$scratch/state"
printf '#!/bin/sh\necho "Failed to create stream fd: No such file or directory" >&2\nexit 1\n' \
    >"$scratch/stubs/failing/systemd-cat"
# Stands in for a working systemd-cat: notes its tag and command, then runs it with its output in the "journal".
cat >"$scratch/stubs/working/systemd-cat" <<'STUB'
#!/bin/sh
[ "$1" = -t ] || exit 2
echo "tag=$2 command=$3" >>"$STUB_JOURNAL"
shift 2
exec "$@" >>"$STUB_JOURNAL" 2>&1
STUB
chmod +x "$scratch/stubs/failing/systemd-cat" "$scratch/stubs/working/systemd-cat"
base_path=$PATH
export PATH="$scratch/stubs/failing:$base_path"

# First start from the menu with XDG_CONFIG_HOME set: the settings folder is made and gets the default skin.
config_home="$scratch/config"
settings_dir="$config_home/VellSetting"
run_and_close "launcher, new settings folder" "$settings_dir" \
    env -C "$scratch" XDG_CONFIG_HOME="$config_home" "$launcher"
if cmp -s "$settings_dir/XPCorona.ssk" "$root/$datadir/vellsetting/XPCorona.ssk"; then
    pass "launcher copied the default skin"
else
    fail "launcher did not copy the default skin into $settings_dir"
fi

# Without XDG_CONFIG_HOME the folder is ~/.config/VellSetting, and a skin the user already has stays as it is.
home="$scratch/home"
mkdir -p "$home/.config/VellSetting"
printf '/* my own look */\nQWidget { font-size: 12px; }\n' >"$home/.config/VellSetting/XPCorona.ssk"
cp "$home/.config/VellSetting/XPCorona.ssk" "$scratch/own-skin"
run_and_close "launcher, existing folder under HOME" "$home/.config/VellSetting" \
    env -C "$scratch" -u XDG_CONFIG_HOME HOME="$home" "$launcher"
if cmp -s "$home/.config/VellSetting/XPCorona.ssk" "$scratch/own-skin"; then
    pass "launcher kept the user's own skin"
else
    fail "launcher replaced the user's own skin"
fi

# A relative XDG_CONFIG_HOME is invalid by the XDG rules and must not scatter folders into the working folder.
home2="$scratch/home2"
mkdir -p "$home2" "$scratch/elsewhere"
run_and_close "launcher, relative XDG_CONFIG_HOME" "$home2/.config/VellSetting" \
    env -C "$scratch/elsewhere" XDG_CONFIG_HOME=relative HOME="$home2" "$launcher"
if [ -e "$scratch/elsewhere/relative" ]; then fail "launcher used the relative XDG_CONFIG_HOME"; fi

# --- The launcher's first map file ---------------------------------------------------------------------------------
# Without devices: the header alone, and no active line.
first_map="$config_home/VellPortDll/ports.conf"
if [ -f "$first_map" ] && grep -q '^# COM name map' "$first_map" && ! grep -qv '^#' "$first_map"; then
    pass "first menu start wrote a commented map file"
else
    fail "first menu start left no map file with only comments at $first_map: $(cat "$first_map" 2>&1)"
fi

# One adapter present, with a stable name; COM1 already leads elsewhere, so the suggestion is COM2.
"$devsim" --link "$fake_system/dev/ttyUSB0" >"$scratch/devsim.out" 2>&1 &
devsim_pid=$!
for _ in $(seq 50); do [ -L "$fake_system/dev/ttyUSB0" ] && break; sleep 0.1; done
stable="$fake_system/dev/serial/by-id/usb-Vell_Display_A1-if00-port0"
ln -s ../../ttyUSB0 "$stable"
config_map="$scratch/config-map"
run_and_close "launcher, first map with an adapter" "$config_map/VellSetting" \
    env -C "$scratch" XDG_CONFIG_HOME="$config_map" VELLPORT_COM1=/dev/vell-elsewhere "$launcher"
map="$config_map/VellPortDll/ports.conf"
if [ "$(grep '^# COM[0-9]' "$map" 2>/dev/null)" = "# COM2=$stable" ] && ! grep -qv '^#' "$map"; then
    pass "first map names the adapter by its stable name under the first free COM number, commented out"
else
    fail "first map is not the header and '# COM2=$stable': $(cat "$map" 2>&1)"
fi
printf 'COM3=/dev/mine\n' >>"$map"
cp "$map" "$scratch/edited-map"
run_and_close "launcher, existing map" "$config_map/VellSetting" \
    env -C "$scratch" XDG_CONFIG_HOME="$config_map" "$launcher"
if cmp -s "$map" "$scratch/edited-map"; then pass "launcher kept the user's map"; else fail "launcher rewrote the map"; fi
kill -TERM "$devsim_pid"
wait "$devsim_pid" 2>/dev/null
devsim_pid=""

# A map folder that cannot be made must not keep the program from starting.
config_blocked="$scratch/config-blocked"
mkdir -p "$config_blocked"
: >"$config_blocked/VellPortDll"
run_and_close "launcher, map folder blocked" "$config_blocked/VellSetting" \
    env -C "$scratch" XDG_CONFIG_HOME="$config_blocked" "$launcher"

# A vellport that hangs (as on a device stuck in reset, or a map file that is a FIFO) holds the first map only for
# its bound: the launcher, copied beside it into a tree of its own, still starts the program.
hung="$scratch/hung$prefix"
install -D "$launcher" "$hung/$libexecdir/vellsetting/vellsetting-launch"
install -D /dev/stdin "$hung/$bindir/vellport" <<<$'#!/bin/sh\nexec sleep 120' # gone on its own after a failed run
ln -s "$root/$bindir/VellSetting" "$hung/$bindir/VellSetting"
run_and_close "launcher, vellport hangs" "$scratch/config-hung/VellSetting" \
    env -C "$scratch" XDG_CONFIG_HOME="$scratch/config-hung" "$hung/$libexecdir/vellsetting/vellsetting-launch"

# No settings folder to be had: the program runs in a private one, and the log says why and where.
: >"$scratch/home-file"
mkdir -p "$scratch/private-tmp"
run_and_close "launcher, HOME is a file" "$scratch/VellSetting" \
    env -C "$scratch" -u XDG_CONFIG_HOME HOME="$scratch/home-file" XDG_RUNTIME_DIR="$scratch" "$launcher"
run_and_close "launcher, HOME unset" "$scratch/private-tmp/VellSetting.*" \
    env -C "$scratch" -u XDG_CONFIG_HOME -u HOME -u XDG_RUNTIME_DIR TMPDIR="$scratch/private-tmp" "$launcher"
launcher_log="$XDG_STATE_HOME/VellSetting/VellSetting.log"
if grep -q "^vellsetting-launch: cannot use $scratch/home-file/.*Not a directory); .* in $scratch/VellSetting$" \
    "$launcher_log" && grep -q "^vellsetting-launch: cannot use the settings folder (HOME is not set); .* in \
$scratch/private-tmp/VellSetting\.[A-Za-z0-9]*$" "$launcher_log"; then
    pass "the log says why the settings folder could not be used and which folder was"
else
    fail "the log does not say why and where: $(cat "$launcher_log" 2>&1)"
fi

# --- The launcher's error output -----------------------------------------------------------------------------------
# QT_DEBUG_PLUGINS makes the program write to its standard error, so there is something to find.
journal="$scratch/journal"
run_and_close "launcher, journal reachable" "$settings_dir" \
    env -C "$scratch" XDG_CONFIG_HOME="$config_home" XDG_STATE_HOME="$scratch/state-journal" STUB_JOURNAL="$journal" \
    QT_DEBUG_PLUGINS=1 PATH="$scratch/stubs/working:$base_path" "$launcher"
if grep -q "^tag=VellSetting command=.*/VellSetting$" "$journal" 2>/dev/null && grep -q qt.core.plugin "$journal"; then
    pass "error output went to the journal tagged VellSetting"
else
    fail "no tagged program output in the stand-in journal: $(head -c 300 "$journal" 2>&1)"
fi
if [ -e "$scratch/state-journal/VellSetting/VellSetting.log" ]; then fail "a log file beside a working journal"; fi

log_dir="$scratch/state-log/VellSetting"
run_log() { # label
    run_and_close "$1" "$settings_dir" env -C "$scratch" XDG_CONFIG_HOME="$config_home" \
        XDG_STATE_HOME="$scratch/state-log" QT_DEBUG_PLUGINS=1 "$launcher"
}
run_log "launcher, no journal"
if grep -q qt.core.plugin "$log_dir/VellSetting.log" 2>/dev/null; then
    pass "without a journal the error output went to the log file"
else
    fail "no program output in $log_dir/VellSetting.log"
fi
# Exactly 256 KiB stays and grows; one byte more is set aside at the next start, replacing the older one.
fill_log() { head -c "$1" /dev/zero | tr '\0' 'a' >"$log_dir/VellSetting.log"; }
fill_log 262144
run_log "launcher, log at the limit"
if [ ! -e "$log_dir/VellSetting.log.1" ] && [ "$(head -c 262144 "$log_dir/VellSetting.log" | tr -d a | wc -c)" = 0 ] &&
    grep -q qt.core.plugin "$log_dir/VellSetting.log"; then
    pass "a log of 256 KiB is appended to"
else
    fail "a log of 256 KiB was not simply appended to"
fi
echo "an older log" >"$log_dir/VellSetting.log.1"
fill_log 262145
cp "$log_dir/VellSetting.log" "$scratch/old-log"
run_log "launcher, log over the limit"
if cmp -s "$log_dir/VellSetting.log.1" "$scratch/old-log" && ! grep -q aaaa "$log_dir/VellSetting.log" &&
    grep -q qt.core.plugin "$log_dir/VellSetting.log"; then
    pass "a log over 256 KiB became VellSetting.log.1 and a new one was started"
else
    fail "a log over 256 KiB was not set aside as VellSetting.log.1"
fi
# A log that cannot be written must not keep the program from starting.
mkdir -p "$scratch/state-blocked"
: >"$scratch/state-blocked/VellSetting"
run_and_close "launcher, log folder blocked" "$settings_dir" \
    env -C "$scratch" XDG_CONFIG_HOME="$config_home" XDG_STATE_HOME="$scratch/state-blocked" "$launcher"

if [ "$failures" -ne 0 ]; then
    echo "install_test: $failures check(s) failed" >&2
    exit 1
fi
echo "install_test: all checks passed"
