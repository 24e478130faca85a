#!/usr/bin/env bash
# A NAS on the loopback, built from the parts a real one has: openssh's sftp-server behind
# socat on a TCP port, tools/nas-delay.py holding each chunk for half the round trip in each
# direction (this kernel has no netem), and sshfs mounting the share through it.
#
#   tools/nas.sh up MOUNTPOINT SHAREDIR [--rtt MS] [--nagle] [-o SSHFS_OPTION]...
#   tools/nas.sh down MOUNTPOINT      unmounts, ends every process, forgets the share
#   tools/nas.sh kill MOUNTPOINT      the server goes away (SIGKILL); sshfs gives up then
#   tools/nas.sh info MOUNTPOINT      what up printed: ports and pids, key=value
#   tools/nas.sh ping MOUNTPOINT [N]  the round trip of N lookups of missing names, measured
#
# --nagle leaves Nagle's algorithm on at the server's end, as sshd does for a session without
# a terminal: a reply that follows another one still unacknowledged can then wait up to 40 ms
# for the relay's delayed acknowledgement. By default every hop sends at once, so that the
# share's latency is the round trip alone.
#
# up prints key=value lines (and keeps them for info): mountpoint, share, rtt_ms, port (the
# proxy's, which sshfs connects to), server_port (socat's), sshfs_pid, proxy_pid and
# server_pid (socat, leader of a process group holding every sftp-server). A test that wants
# the share to vanish kills the server's group, or runs kill. down is safe to run at any time,
# also after a failed up or a killed server; it fails when it leaves a mount or a process.
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
sftp_server=/usr/lib/openssh/sftp-server
python=/usr/bin/python3
state_root=${TRASKO_NAS_STATE:-${XDG_RUNTIME_DIR:-/tmp}/trasko-nas}

die() {
    echo "nas: $*" >&2
    exit 1
}

usage() {
    sed -n '6,10s/^# \{0,1\}//p' "${BASH_SOURCE[0]}" >&2
    exit 2
}

# The mount point as the mount table spells it, without touching it: a FUSE mount whose
# server is gone answers every stat with an error.
absolute() {
    local parent
    parent=$(cd "$(dirname "$1")" 2>/dev/null && pwd -P) || die "no folder holds $1"
    echo "$parent/$(basename "$1")"
}

state_of() {
    echo "$state_root/$(printf '%s' "$1" | md5sum | cut -c1-16)"
}

# The mount table escapes blanks, tabs and backslashes in octal.
mounted_at() {
    local escaped
    escaped=$(printf '%s' "$1" | sed 's/\\/\\134/g; s/ /\\040/g; s/\t/\\011/g')
    awk -v m="$escaped" '$2 == m { found = 1 } END { exit !found }' /proc/self/mounts
}

# True while PID runs the program whose command line holds WORD: a recorded pid may have gone
# to another program since, and a process that has ended but is not yet reaped has none.
alive() {
    [ -n "$1" ] && [ -r "/proc/$1/cmdline" ] && tr '\0' ' ' <"/proc/$1/cmdline" | grep -qF -- "$2"
}

field() {
    [ ! -f "$1/info" ] || sed -n "s/^$2=//p" "$1/info"
}

wait_until() {
    local tries=$1
    shift
    while ! "$@"; do
        ((--tries > 0)) || return 1
        sleep 0.05
    done
}

gone() {
    ! alive "$@"
}

# True while a process of the group runs (one that has ended but is not yet reaped does not).
group_runs() {
    pgrep -g "$1" -r D,R,S,T,t,I >/dev/null
}

group_ended() {
    ! group_runs "$1"
}

# Ends one of the share's processes, politely and then not; the server as its whole group,
# socat and every sftp-server it started.
end_process() {
    local role=$1 word=$2 pid=$3 target=$3
    [ "$role" != server ] || target=-$pid
    alive "$pid" "$word" || return 0
    kill -TERM -- "$target" 2>/dev/null || true
    wait_until 100 gone "$pid" "$word" || kill -KILL -- "$target" 2>/dev/null || true
}

# Ends what a share left behind: the mount first, so that sshfs leaves by itself, then every
# process still running. Returns 1 if anything is left.
take_down() {
    local mnt=$1 state=$2 pid role word left=0
    if mounted_at "$mnt"; then
        umount "$mnt" 2>/dev/null || fusermount3 -u "$mnt" 2>/dev/null || umount -l "$mnt" || true
    fi
    for role in sshfs:sshfs proxy:nas-delay.py server:socat; do
        end_process "${role%%:*}" "${role#*:}" "$(field "$state" "${role%%:*}_pid")"
    done
    # An sftp-server whose socat is gone still belongs to socat's group.
    pid=$(field "$state" server_pid)
    [ -z "$pid" ] || ! group_runs "$pid" || kill -KILL -- "-$pid" 2>/dev/null || true
    for role in sshfs:sshfs proxy:nas-delay.py server:socat; do
        pid=$(field "$state" "${role%%:*}_pid")
        wait_until 40 gone "$pid" "${role#*:}" && continue
        echo "nas: the ${role%%:*} (pid $pid) is still running" >&2
        left=1
    done
    pid=$(field "$state" server_pid)
    if [ -n "$pid" ] && ! wait_until 40 group_ended "$pid"; then
        echo "nas: an sftp-server of the group $pid is still running" >&2
        left=1
    fi
    if mounted_at "$mnt"; then
        echo "nas: $mnt is still mounted" >&2
        left=1
    fi
    ((left)) || rm -rf "$state"
    return "$left"
}

up() {
    local mnt share rtt=0 nodelay=,nodelay opts=() opt state server_port proxy_port
    (($# >= 2)) || usage
    mnt=$(absolute "$1")
    share=$(cd "$2" 2>/dev/null && pwd -P) || die "the share folder $2 does not exist"
    shift 2
    while (($#)); do
        case $1 in
        --rtt) rtt=${2:?}; shift 2 ;;
        --nagle) nodelay=""; shift ;;
        -o) opts+=("${2:?}"); shift 2 ;;
        *) usage ;;
        esac
    done
    [[ $rtt =~ ^[0-9]+(\.[0-9]+)?$ ]] || die "--rtt wants milliseconds, such as 0.2 or 2"
    for tool in socat sshfs fusermount3 md5sum; do
        command -v "$tool" >/dev/null || die "$tool is missing; 'bash tools/setup.sh' installs it"
    done
    [ -x "$sftp_server" ] || die "$sftp_server is missing; 'bash tools/setup.sh' installs it"
    [ -d "$mnt" ] || die "the mount point $mnt is not a folder"
    ! mounted_at "$mnt" || die "something is mounted on $mnt already ('tools/nas.sh down $mnt')"
    state=$(state_of "$mnt")
    if [ -d "$state" ]; then # left by an up whose caller never came back: clear it first
        take_down "$mnt" "$state" || die "could not clear what an earlier share on $mnt left"
    fi
    mkdir -p "$state"
    # Whatever fails from here on takes down what was started.
    trap 'take_down "$mnt" "$state" >/dev/null 2>&1 || true' EXIT
    printf 'mountpoint=%s\nshare=%s\nrtt_ms=%s\nnagle=%s\n' "$mnt" "$share" "$rtt" \
        "$([ -n "$nodelay" ] && echo no || echo yes)" >"$state/info"

    # Its own session, so that a test can kill the server side, socat and every sftp-server
    # it started, as one group.
    setsid socat -d -d "TCP-LISTEN:0,bind=127.0.0.1,reuseaddr,fork$nodelay" "EXEC:$sftp_server" \
        </dev/null >/dev/null 2>"$state/socat.log" &
    echo "server_pid=$!" >>"$state/info"
    wait_until 200 grep -qs ' listening on ' "$state/socat.log" || die "socat did not start: $(cat "$state/socat.log")"
    server_port=$(sed -n 's/.* listening on .*:\([0-9]*\)$/\1/p' "$state/socat.log" | head -n 1)

    "$python" "$here/nas-delay.py" --target-port "$server_port" \
        --delay-ms "$(awk -v r="$rtt" 'BEGIN { print r / 2 }')" \
        </dev/null >"$state/proxy.port" 2>"$state/proxy.log" &
    echo "proxy_pid=$!" >>"$state/info"
    wait_until 200 grep -qs . "$state/proxy.port" || die "the delay proxy did not start: $(cat "$state/proxy.log")"
    proxy_port=$(head -n 1 "$state/proxy.port")

    local options="directport=$proxy_port"
    for opt in "${opts[@]}"; do options+=",$opt"; done
    sshfs -f -o "$options" "127.0.0.1:$share" "$mnt" </dev/null >/dev/null 2>"$state/sshfs.log" &
    echo "sshfs_pid=$!" >>"$state/info"
    wait_until 200 mounted_at "$mnt" || die "sshfs did not mount: $(cat "$state/sshfs.log")"
    printf 'port=%s\nserver_port=%s\n' "$proxy_port" "$server_port" >>"$state/info"
    trap - EXIT
    cat "$state/info"
}

main() {
    local command=${1:-} mnt state
    (($# >= 2)) || usage
    [ "$command" != up ] || { up "${@:2}"; return; }
    mnt=$(absolute "$2")
    state=$(state_of "$mnt")
    case $command in
    down)
        (($# == 2)) || usage
        [ -d "$state" ] || ! mounted_at "$mnt" ||
            die "$mnt is mounted, but not by tools/nas.sh; leaving it"
        take_down "$mnt" "$state"
        ;;
    kill)
        (($# == 2)) || usage
        local pid
        pid=$(field "$state" server_pid)
        alive "$pid" socat || die "no server runs for $mnt"
        kill -KILL -- "-$pid"
        ;;
    info)
        (($# == 2)) || usage
        [ -f "$state/info" ] || die "no share is up on $mnt"
        cat "$state/info"
        ;;
    ping)
        (($# <= 3)) || usage
        mounted_at "$mnt" || die "no share is mounted on $mnt"
        # Each name is new, so no cache can answer: every lookup is one request to the server.
        "$python" - "$mnt" "${3:-200}" <<'EOF'
import os, statistics, sys, time, uuid
folder, count = sys.argv[1], int(sys.argv[2])
tag = uuid.uuid4().hex
times = []
for i in range(count):
    start = time.perf_counter()
    try:
        os.stat(os.path.join(folder, f".ping-{tag}-{i}"))
    except FileNotFoundError:
        pass
    times.append((time.perf_counter() - start) * 1000)
print(f"round trip of a lookup: median {statistics.median(times):.3f} ms, "
      f"mean {statistics.mean(times):.3f} ms over {count}")
EOF
        ;;
    *) usage ;;
    esac
}

main "$@"
