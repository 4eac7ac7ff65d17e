#!/usr/bin/env bash
# Installs the build into a staging folder and checks what a user gets: the layout, the library's SONAME links, no
# loader path into the build tree, valid desktop entry and metainfo, and the staged program and launcher really run.
set -uo pipefail
# No display is needed or wanted: the window is created offscreen.
export QT_QPA_PLATFORM=offscreen

readonly kAppId="io.github.vellsetting.VellSetting"
readonly kIconSizes=(16 24 32 48 64 128 256)
readonly kStartBound=20 # seconds for the program to come up or go away
readonly kSigtermMask=$((1 << (15 - 1)))

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
cleanup() {
    if [ -n "$running_pid" ]; then
        kill -KILL "$running_pid" 2>/dev/null
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT

staging="$scratch/staging"
root="$staging$prefix"

# --- Install -------------------------------------------------------------------------------------------------------
if ! DESTDIR="$staging" cmake --install "$build" >"$scratch/install.log" 2>&1; then
    cat "$scratch/install.log" >&2
    echo "FAIL: cmake --install did not succeed" >&2
    exit 1
fi
pass "cmake --install into $staging"

# --- Layout --------------------------------------------------------------------------------------------------------
expect_file() { # path description
    if [ -f "$1" ] && [ -s "$1" ]; then pass "$2"; else fail "$2: $1 missing or empty"; fi
}
expect_executable() {
    if [ -f "$1" ] && [ -x "$1" ]; then pass "$2"; else fail "$2: $1 missing or not executable"; fi
}

expect_executable "$root/$bindir/VellSetting" "program in bin"
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
man="$root/$mandir/man1/VellSetting.1.gz"
if gzip -t "$man" 2>/dev/null && zcat "$man" | grep -q '^\.TH VELLSETTING 1'; then
    pass "man page"
else
    fail "man page $man missing or not a gzipped VellSetting(1)"
fi
expect_file "$root/$datadir/doc/vellsetting/copyright" "copyright"
if gzip -t "$root/$datadir/doc/vellsetting/changelog.gz" 2>/dev/null; then pass "changelog"; else fail "changelog.gz"; fi

# --- Loader paths --------------------------------------------------------------------------------------------------
dynamic_of() { readelf -d "$1" 2>/dev/null; }
library_soname=$(dynamic_of "$root/$libdir/$library" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
if [ "$library_soname" = "$soname" ]; then pass "SONAME $soname"; else fail "SONAME is '$library_soname', want $soname"; fi
if dynamic_of "$root/$bindir/VellSetting" | grep -q "(NEEDED).*\[$soname\]"; then
    pass "program needs $soname"
else
    fail "program does not name $soname as NEEDED (static copy or dlopen?)"
fi
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
# expected folder, closes on SIGTERM with status 0 and saved its settings there.
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
    if [ "$cwd" = "$(readlink -f "$folder")" ]; then
        pass "$label: works in $folder"
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

# --- The launcher --------------------------------------------------------------------------------------------------
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

if [ "$failures" -ne 0 ]; then
    echo "install_test: $failures check(s) failed" >&2
    exit 1
fi
echo "install_test: all checks passed"
