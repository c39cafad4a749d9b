# Shared helpers for the real-window tests: a private X display with a window manager, the
# built program started on it, and keys sent as a person would (XTEST, not XSendEvent).
# Usage: source it from a script given <quorvex binary> <screenshot folder>, then
# `rw_start "$1"`; cleanup runs on exit. RW_SCREEN, set before, gives the screen's size and
# depth (1280x1024x24). Exit code 77 tells CTest the test was skipped.

set -u
RW_SHOT_DIR=${2:-.}

rw_need() {
    local tool
    for tool in "$@"; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            echo "SKIP: $tool is not installed"
            exit 77
        fi
    done
}

RW_PIDS=()
RW_TMP=$(mktemp -d)

trap 'kill "${RW_PIDS[@]}" 2>/dev/null; wait "${RW_PIDS[@]}" 2>/dev/null; rm -rf "$RW_TMP"' EXIT

# Polls a command until it succeeds, for at most $1 seconds.
rw_wait_for() {
    local seconds=$1
    shift
    local deadline=$((SECONDS + seconds))
    until "$@" >/dev/null 2>&1; do
        [ "$SECONDS" -ge "$deadline" ] && return 1
        sleep 0.1
    done
}

rw_fail() {
    echo "FAIL: $*"
    if [ -s "$RW_TMP/app.log" ]; then
        echo "--- the program's output:"
        tail -n 20 "$RW_TMP/app.log"
    fi
    echo "--- windows on $DISPLAY:"
    xdotool search --name . 2>/dev/null | while read -r w; do
        echo "$w $(xdotool getwindowpid "$w" 2>/dev/null) $(xdotool getwindowname "$w" 2>/dev/null) $(xwininfo -id "$w" 2>/dev/null | grep -o "Map State: .*")"
    done
    [ -n "${RW_SHOT_DIR:-}" ] && rw_screenshot "failure-$(basename "$0" .sh)"
    exit 1
}

# Starts a private display with a window manager, then the program, and waits for its main
# window; sets RW_WINDOW and RW_APP_PID.
rw_start() {
    rw_need Xvfb openbox xdotool
    # Xvfb picks a free display itself and writes its number to the pipe: no race with
    # other tests starting their own displays at the same time.
    local fifo="$RW_TMP/displayfd" n
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 "${RW_SCREEN:-1280x1024x24}" -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    RW_PIDS+=($!)
    read -r -t 20 n <"$fifo" || rw_fail "Xvfb did not start"
    export DISPLAY=":$n"
    # openbox runs its start-up command once it manages the screen; a window mapped before
    # that can be left unmapped.
    openbox --startup "touch $RW_TMP/wm-ready" >/dev/null 2>&1 &
    RW_PIDS+=($!)
    rw_wait_for 20 test -e "$RW_TMP/wm-ready" || rw_fail "the window manager did not start"
    unset QT_QPA_PLATFORM
    export XDG_RUNTIME_DIR="$RW_TMP/runtime"
    # The recovery journal and the records of saves stay in the test's own folder.
    export XDG_STATE_HOME="$RW_TMP/state"
    mkdir -p -m 700 "$XDG_RUNTIME_DIR"
    rw_launch "$1"
}

# Starts the program (again) on the display rw_start made.
rw_launch() {
    "$1" >>"$RW_TMP/app.log" 2>&1 &
    RW_APP_PID=$!
    RW_PIDS+=($RW_APP_PID)
    # xdotool matches names without regard to case: the space keeps Qt's hidden "quorvex"
    # leader window out.
    rw_wait_for 20 xdotool search --all --pid "$RW_APP_PID" --name '^Quorvex ' \
        || rw_fail "no window appeared"
    RW_WINDOW=$(xdotool search --all --pid "$RW_APP_PID" --name '^Quorvex ' | head -n 1)
    rw_wait_for 10 sh -c "xwininfo -id $RW_WINDOW | grep -q IsViewable" \
        || rw_fail "the window was not shown"
    rw_activate
}

# Gives the keys to the window $1, the main window by default.
rw_activate() {
    local id=${1:-$RW_WINDOW}
    # A modal box of the program's may keep the window from the keys: the wait is bounded.
    timeout 3 xdotool windowactivate --sync "$id" >/dev/null 2>&1 \
        || timeout 3 xdotool windowfocus --sync "$id" >/dev/null 2>&1
    rw_wait_for 3 sh -c "[ \"\$(xdotool getactivewindow)\" = \"$id\" ]" || true
}

rw_running() { kill -0 "$RW_APP_PID" 2>/dev/null; }

# Keys go to whatever has the focus, as a person's would.
rw_key() {
    xdotool key --clearmodifiers --delay 40 "$@"
}

rw_type() {
    xdotool type --clearmodifiers --delay 40 "$1"
}

# Waits for the title to become exactly $1.
rw_expect_title() {
    rw_wait_for "${2:-10}" sh -c '[ "$(xdotool getwindowname "$1")" = "$2" ]' _ "$RW_WINDOW" "$1" \
        || rw_fail "title is '$(xdotool getwindowname "$RW_WINDOW")', expected '$1'"
}

# The program's visible window titled as the pattern $1 (--all: every condition must hold, where
# xdotool search alone matches any one of them); fails when there is none.
rw_find() {
    xdotool search --all --onlyvisible --pid "$RW_APP_PID" --name "$1" 2>/dev/null | tail -n 1 | grep .
}

# Waits for that window and gives it the keys.
rw_dialog() {
    rw_wait_for 10 rw_find "$1" || rw_fail "no window titled '$1'"
    rw_activate "$(rw_find "$1")"
}

# Waits for the window titled as the pattern $1 to go.
rw_absent() { ! rw_find "$1" >/dev/null; }
rw_expect_gone() {
    rw_wait_for "${2:-5}" rw_absent "$1" || rw_fail "the window '$1' did not go away"
}

# Types a path into the file dialog titled $1 and accepts it. A completion list may take the
# first Return, so Return is pressed again while the dialog is still there.
rw_choose_file() {
    rw_dialog "^$1\$"
    rw_key ctrl+a
    rw_type "$2"
    rw_key Return
    local tries
    for tries in 1 2 3; do
        rw_wait_for 2 rw_absent "^$1\$" && return 0
        rw_key Return
    done
    rw_fail "the dialog '$1' did not close"
}

# The X clipboard, as another program reads it.
rw_clipboard() { xclip -o -selection clipboard 2>/dev/null; }
rw_clipboard_is() { [ "$(rw_clipboard)" = "$1" ]; }

# Copies the whole text until the clipboard holds exactly $1, else fails with $2 (a button
# pressed by its mnemonic clicks a moment later, so the copy is tried again).
rw_expect_text() {
    local tries
    for tries in 1 2 3 4 5; do
        rw_activate
        rw_key ctrl+a ctrl+c
        rw_wait_for 1 rw_clipboard_is "$1" && return 0
    done
    rw_fail "$2: the text is '$(rw_clipboard)', expected '$1'"
}

rw_screenshot() {
    mkdir -p "${RW_SHOT_DIR:-.}"
    import -window root "${RW_SHOT_DIR:-.}/$1.png" 2>/dev/null || true
}
