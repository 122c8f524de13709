# Set-up shared by the end-to-end sandboxes (in-sandbox, in-network-sandbox). Sourced, not run.
# Each step is a function of its own so that a sandbox can put the servers where it needs them.

# sandbox_enter SCRIPT ARGS...: re-runs SCRIPT in private mount, network and PID namespaces and
# returns only there. Everything started inside ends with the PID namespace's first process.
sandbox_enter() {
    if [ -z "${ZENTREL_IN_SANDBOX:-}" ]; then
        export ZENTREL_IN_SANDBOX=1
        exec unshare --mount --net --pid --fork --mount-proc "$@"
    fi
    mount --make-rprivate /
    ip link set lo up
}

# A scratch tmpfs ($work, exported as ZENTREL_E2E_WORK) for everything the sandbox makes.
sandbox_make_work() {
    work=$(mktemp -d)
    mount -t tmpfs -o mode=0755 zentrel-e2e "$work"
    trap 'umount -l "$work" /etc/passwd 2>/dev/null; rmdir "$work"' EXIT
    export ZENTREL_E2E_WORK=$work
}

# A home of our own ($home): ssh finds ~/.ssh through the password database, not $HOME.
sandbox_make_home() {
    home=$work/home
    mkdir -p "$home/.ssh"
    sed "s#^\($(id -un):[^:]*:[^:]*:[^:]*:[^:]*:\)[^:]*#\1$home#" /etc/passwd >"$work/passwd"
    mount --bind "$work/passwd" /etc/passwd
    export HOME=$home XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state
    export XDG_RUNTIME_DIR=$work/run GSETTINGS_BACKEND=keyfile
    mkdir -p "$XDG_CONFIG_HOME" "$XDG_STATE_HOME"
    mkdir -m 0700 "$XDG_RUNTIME_DIR"
    unset XDG_CURRENT_DESKTOP KDE_SESSION_VERSION DBUS_SESSION_BUS_ADDRESS DISPLAY WAYLAND_DISPLAY
}

# sandbox_make_sshd ADDRESS [PREFIX...]: keys for a server on ADDRESS:22 and a client that trusts
# it; ZENTREL_SSHD is the command that starts that server (PREFIX first, e.g. an nsenter).
sandbox_make_sshd() {
    local address=$1
    shift
    ssh-keygen -q -t ed25519 -N '' -C zentrel-host -f "$work/host_key"
    ssh-keygen -q -t ed25519 -N '' -C zentrel-client -f "$home/.ssh/id_ed25519"
    cp "$home/.ssh/id_ed25519.pub" "$work/authorized_keys"
    echo "$address $(cat "$work/host_key.pub")" >"$home/.ssh/known_hosts"
    cat >"$work/sshd_config" <<CONFIG
Port 22
ListenAddress $address
HostKey $work/host_key
AuthorizedKeysFile $work/authorized_keys
PidFile $work/sshd.pid
StrictModes no
UsePAM no
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
AllowTcpForwarding yes
CONFIG
    mkdir -p /run/sshd
    export ZENTREL_SSHD="${*:+$* }/usr/sbin/sshd -f $work/sshd_config -E $work/sshd.log"
}

# sandbox_serve_marker [PREFIX...]: a page on 127.0.0.1:8080 that only the tunnel's far end sees.
sandbox_serve_marker() {
    mkdir -p "$work/www"
    echo "through the tunnel" >"$work/www/marker.txt"
    "$@" python3 -m http.server 8080 --bind 127.0.0.1 --directory "$work/www" >"$work/http.log" 2>&1 &
}

# A fake sysfs and route tables with one Wi-Fi interface, for our networksetup.
sandbox_fake_wifi() {
    "$(dirname "${BASH_SOURCE[0]}")/../support/testlib.sh" "$work/net"
    export ZENTREL_SYSFS_ROOT=$work/net/sys ZENTREL_PROC_NET_ROOT=$work/net/proc
}

# sandbox_wait_port HOST PORT [PREFIX...]: waits until HOST:PORT accepts a connection.
sandbox_wait_port() {
    local host=$1 port=$2
    shift 2
    for _ in $(seq 200); do
        # shellcheck disable=SC2016 # expanded by the inner bash
        "$@" bash -c 'exec 3<>"/dev/tcp/$0/$1"' "$host" "$port" 2>/dev/null && return 0
        sleep 0.05
    done
    echo "$0: nothing accepts connections on $host:$port" >&2
    return 1
}
