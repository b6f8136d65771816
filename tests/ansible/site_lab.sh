# shellcheck shell=bash
# A site of segments for the Ansible play, built of tests/live/segment.sh's
# segments: segment K on 198.18.K.0/24 (host N of it is segment.sh's host
# K*256+N, MAC 02:18:00:00:0K:NN); its scanning namespace is the segment's
# probe, which runs sshd on a management network, 198.19.0.0/24, that joins
# the probes (198.19.0.1K) to a controller namespace (198.19.0.1). No link
# leads to the machine's own network. Each probe's sshd sees /usr, /var,
# /run and /etc through overlays of its own and an empty home of root, so
# what the play installs or leaves there (dpkg and its lock, Ansible's files
# in root's home) never reaches the machine or another probe, and nothing of
# the machine's root runs in its sessions; there a user qprobe without root
# logs in with the same key as root. Sourced by the live site test and
# bench/site.sh.
#
#   site_start DIR          names every namespace qsite<pid>-...; DIR (empty,
#                           removed by the caller) holds keys, configs, logs
#   site_remove             ends every process in the site's namespaces and
#                           removes them; callers trap it on EXIT first
#   site_add_segment K [NET]   a segment's bridge, on NET.0/24 (default
#                           198.18.K); then site_add_host K N KIND,
#                           segment_add_nmbd $((K * 256 + N)) NAME, ...
#   site_add_host K N KIND  host N of segment K (segment.sh's host K*256+N
#                           and its MAC) on NET.N
#   site_add_probe K        the segment's probe on .1, with sshd
#   site_stop_probe K       ends the probe's sshd and its sessions
#   site_play ARGS...       ansible-playbook in the controller namespace, in
#                           the current directory, with the lab's ansible.cfg
#   site_play_as_user ARGS...  the same without any ansible.cfg, as a user
#                           runs it: only the lab's SSH client configuration

source "$(dirname "${BASH_SOURCE[0]}")/../live/segment.sh"

site_prefix=qsite$$
site_dir=
site_sshd_pids=()
site_probe_namespaces=()

site_probe_address() { printf '198.19.0.%d' $((10 + $1)); }

site_start() {
    site_dir=$1
    site_controller=$site_prefix-ctl
    site_remove_stale
    segment_namespace "$site_controller"
    ip -n "$site_controller" link add mg0 type bridge
    ip -n "$site_controller" addr add 198.19.0.1/24 dev mg0
    ip -n "$site_controller" link set mg0 up
    mkdir -p "$site_dir/ssh" "$site_dir/cp" "$site_dir/home" "$site_dir/remote-tmp" "$site_dir/local-tmp"
    ssh-keygen -q -t ed25519 -N '' -C qarvik-site-client -f "$site_dir/ssh/client"
    ssh-keygen -q -t ed25519 -N '' -C qarvik-site-probe -f "$site_dir/ssh/host"
    cp "$site_dir/ssh/client.pub" "$site_dir/ssh/authorized_keys"
    # The client knows the probes by this run's host key alone and reads no
    # configuration of the machine. It keeps one connection a probe open
    # between tasks, as Ansible does by default; those masters live in the
    # controller namespace and end with it.
    cat > "$site_dir/ssh/config" <<EOC
Host *
    User root
    IdentityFile $site_dir/ssh/client
    IdentitiesOnly yes
    UserKnownHostsFile $site_dir/ssh/known_hosts
    GlobalKnownHostsFile /dev/null
    StrictHostKeyChecking yes
    BatchMode yes
    ConnectTimeout 5
    ControlMaster auto
    ControlPersist 120s
    ControlPath $site_dir/cp/%C
EOC
    cat > "$site_dir/ansible.cfg" <<EOC
[defaults]
forks = 10
interpreter_python = /usr/bin/python3
remote_tmp = $site_dir/remote-tmp
local_tmp = $site_dir/local-tmp
retry_files_enabled = False
[ssh_connection]
ssh_args = -F $site_dir/ssh/config
pipelining = True
control_path_dir = $site_dir/cp
EOC
}

# A run killed outright (no trap runs on SIGKILL) left its sshd and sessions
# in its namespaces: they end before segment.sh removes what is stale.
site_remove_stale() {
    local ns pid
    for ns in $(ip netns list | awk '{ print $1 }' | grep -E '^qsite[0-9]+-' || true); do
        pid=${ns#qsite}
        pid=${pid%%-*}
        kill -0 "$pid" 2>/dev/null && continue
        pid=$(ip netns pids "$ns" 2>/dev/null || true)
        # shellcheck disable=SC2086 # one pid a word
        [[ -z $pid ]] || kill -9 $pid 2>/dev/null || true
    done
    segment_remove_stale qsite
}

# site_require_tools: namespaces, sshd and ansible-playbook, or the test is
# skipped (failed where it must run).
site_require_tools() {
    segment_possible && command -v ansible-playbook >/dev/null && [[ -x /usr/sbin/sshd ]] && return 0
    [[ ${QARVIK_LIVE_SEGMENT_REQUIRED:-0} == 1 ]] && { echo "FAIL: needs root, ip netns, sshd, ansible-playbook"; exit 1; }
    echo "skipped: needs root, ip netns, sshd and ansible-playbook (Debian packages openssh-server, ansible-core)"
    exit 77
}

# site_make_package CPACK BUILD FOLDER: the Debian package that cpack makes of
# the build, in FOLDER/package/; the test stops when cpack fails.
site_make_package() {
    (cd "$2" && "$1" -G DEB -B "$3/package" > "$3/cpack.log") ||
        { echo "FAIL: cpack: $(tail -5 "$3/cpack.log")"; exit 1; }
}

site_add_segment() {
    SEGMENT_NET=${2:-198.18.$1}
    segment_start "$site_prefix-$1"
}

# site_add_host K N KIND: segment.sh's host K*256+N, with its MAC, moved to
# address N of the segment's network when that is not 198.18.K.
site_add_host() {
    local n=$(($1 * 256 + $2))
    segment_add_host "$n" "$3"
    [[ $SEGMENT_NET != "198.18.$1" ]] || return 0
    ip -n "$SEGMENT_PREFIX-h$n" addr flush dev eth0
    ip -n "$SEGMENT_PREFIX-h$n" addr add "$SEGMENT_NET.$2/24" dev eth0
}

# site_add_probe K: the scanner of segment K on .1, with the MAC of host
# K*256+1, its management interface m0 and sshd.
site_add_probe() {
    local k=$1 ns=$SEGMENT_SCAN address
    address=$(site_probe_address "$k")
    segment_add_scanner 1
    ip -n "$ns" link set q1 down
    ip -n "$ns" link set q1 address "$(segment_mac $((k * 256 + 1)))" up
    ip -n "$site_controller" link add "m$k" type veth peer name m0 netns "$ns"
    ip -n "$site_controller" link set "m$k" master mg0 up
    ip -n "$ns" link set m0 address "$(printf '02:19:00:00:00:%02x' $((10 + k)))" up
    ip -n "$ns" addr add "$address/24" dev m0
    site_probe_namespaces[k]=$ns
    printf '%s %s\n' "$address" "$(cut -d' ' -f1-2 "$site_dir/ssh/host.pub")" >> "$site_dir/ssh/known_hosts"
    cat > "$site_dir/ssh/sshd-$k.conf" <<EOC
ListenAddress $address
HostKey $site_dir/ssh/host
PidFile none
AuthorizedKeysFile /run/qsite-keys/authorized_keys
StrictModes no
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
PrintMotd no
Subsystem sftp internal-sftp
EOC
    site_start_sshd "$k"
}

site_start_sshd() {
    local k=$1 layers=$site_dir/layers-$1
    mkdir -p "$layers"
    # The probe's host name is its inventory name, in a host-name namespace
    # of its own: the name its own rows get.
    # shellcheck disable=SC2016
    ip netns exec "${site_probe_namespaces[k]}" unshare -m -u --propagation private sh -c '
        hostname "$6"
        for dir in usr var run etc; do
            mkdir -p "$1/$dir-upper" "$1/$dir-work"
            mount -t overlay overlay -o "lowerdir=/$dir,upperdir=$1/$dir-upper,workdir=$1/$dir-work" "/$dir"
        done
        # Root'"'"'s home starts empty, as on a new machine: none of the
        # machine'"'"'s shell start-up files run in the probe'"'"'s sessions.
        mkdir -p -m 0700 "$1/root-home"
        mount --bind "$1/root-home" /root
        # ip netns exec bound the namespace'"'"'s files over /etc/hosts and the
        # rest; the overlay hides them, so they are bound again over it.
        for file in /etc/netns/"$5"/*; do
            [ ! -e "$file" ] || mount --bind "$file" "/etc/${file##*/}"
        done
        mkdir -p -m 0755 /run/sshd /run/qsite-keys
        install -m 0644 "$4" /run/qsite-keys/authorized_keys
        useradd -M -d /run/qsite-home -s /bin/sh -p "*" qprobe
        install -d -o qprobe /run/qsite-home
        exec /usr/sbin/sshd -D -f "$2" -E "$3"' sh "$layers" "$site_dir/ssh/sshd-$k.conf" "$site_dir/sshd-$k.log" \
        "$site_dir/ssh/authorized_keys" "${site_probe_namespaces[k]}" "probe$k" &
    site_sshd_pids[k]=$!
    # The play may start once sshd listens.
    local tries
    for tries in $(seq 50); do
        ip netns exec "$site_controller" bash -c "exec 3<>/dev/tcp/$(site_probe_address "$k")/22" 2>/dev/null && return 0
        kill -0 "${site_sshd_pids[k]}" 2>/dev/null || break
        sleep 0.1
    done
    echo "sshd of probe $k does not listen: $(cat "$site_dir/sshd-$k.log" 2>/dev/null)" >&2
    return 1
}

# site_stop_probe K: sshd and every session of the probe end, as if the
# machine were switched off.
site_stop_probe() {
    local pids
    pids=$(ip netns pids "${site_probe_namespaces[$1]}")
    # shellcheck disable=SC2086 # one pid a word
    [[ -z $pids ]] || kill $pids 2>/dev/null || true
    wait "${site_sshd_pids[$1]}" 2>/dev/null || true
    # The connection the controller kept may not have seen its end yet.
    ip netns exec "$site_controller" ssh -F "$site_dir/ssh/config" -O exit \
        "$(site_probe_address "$1")" 2>/dev/null || true
}

site_play() {
    ip netns exec "$site_controller" env HOME="$site_dir/home" ANSIBLE_HOME="$site_dir/home/.ansible" \
        ANSIBLE_CONFIG="$site_dir/ansible.cfg" ANSIBLE_NOCOLOR=1 ANSIBLE_FORCE_COLOR=0 \
        ansible-playbook "$@"
}

# No ansible.cfg is read: none in the current directory (the caller's
# choice), none in this HOME, none named by ANSIBLE_CONFIG. The SSH client
# options stand where a user's ~/.ssh/config would (ssh reads root's).
site_play_as_user() {
    [[ ! -e ansible.cfg && ! -e /etc/ansible/ansible.cfg ]] ||
        { echo "site_play_as_user: an ansible.cfg would be read" >&2; return 1; }
    ip netns exec "$site_controller" env -u ANSIBLE_CONFIG HOME="$site_dir/home" \
        ANSIBLE_SSH_COMMON_ARGS="-F $site_dir/ssh/config" ANSIBLE_NOCOLOR=1 ANSIBLE_FORCE_COLOR=0 \
        ansible-playbook "$@"
}

# The pids of every process in the site's namespaces, one a line.
site_pids() {
    local ns
    for ns in "${segment_namespaces[@]}"; do ip netns pids "$ns" 2>/dev/null || true; done
}

# Every process in the site's namespaces (sshd, its sessions, qarvik, the
# play's ssh clients, nmbd) ends before the namespaces go.
site_remove() {
    local pids tries
    pids=$(site_pids)
    # shellcheck disable=SC2086 # one pid a word
    [[ -z $pids ]] || kill $pids 2>/dev/null || true
    for ((tries = 0; tries < 20; tries++)); do
        pids=$(site_pids)
        [[ -z $pids ]] && break
        sleep 0.1
    done
    # shellcheck disable=SC2086
    [[ -z $pids ]] || kill -9 $pids 2>/dev/null || true
    segment_remove
    rm -rf /etc/netns/"$site_prefix"-*
    return 0
}
