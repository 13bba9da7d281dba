# What the distributed tests share: the bundled photographs with a broken file among them, a
# workspace that resizes them and exports each under a Sequence name with its EXIF, and the
# check that every photograph came out exactly once; the ssh hosts of the GNU parallel test and
# benchmark. Sourced; needs $work.

fail() { echo "FAILED: $*" >&2; exit 1; }

# An sshd of our own on a spare port of 127.0.0.1 with throwaway keys, reached as the hosts w1
# and w2 through $ssh_command; its pid in $sshd_pid for the caller to stop.
start_sshd() {
    port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    ssh-keygen -q -t ed25519 -N '' -f "$work/host_key"
    ssh-keygen -q -t ed25519 -N '' -f "$work/id"
    cp "$work/id.pub" "$work/authorized_keys"
    chmod 600 "$work/authorized_keys" "$work/host_key" "$work/id"
    cat >"$work/sshd_config" <<CONF
Port $port
ListenAddress 127.0.0.1
HostKey $work/host_key
AuthorizedKeysFile $work/authorized_keys
PidFile $work/sshd.pid
StrictModes no
UsePAM no
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin prohibit-password
CONF
    [[ $(id -u) -eq 0 ]] && mkdir -p /run/sshd
    /usr/sbin/sshd -D -f "$work/sshd_config" -E "$work/sshd.log" &
    sshd_pid=$!
    cat >"$work/ssh_config" <<CONF
Host w1 w2
    HostName 127.0.0.1
    Port $port
    IdentityFile $work/id
    IdentitiesOnly yes
    StrictHostKeyChecking no
    UserKnownHostsFile /dev/null
    LogLevel ERROR
    BatchMode yes
CONF
    ssh_command="ssh -F $work/ssh_config"
    for _ in $(seq 50); do $ssh_command w1 true 2>/dev/null && break; sleep 0.1; done
    $ssh_command w2 true || fail "sshd did not come up: $(cat "$work/sshd.log")"
}

make_photos() {
    mapfile -t photos < <(ls /usr/share/wallpapers/*/contents/images/640x480.jpg)
    [[ ${#photos[@]} -ge 6 ]] || { echo "skipped: the bundled wallpapers are missing"; exit 77; }
    broken="$work/broken.jpg"
    head -c 5000 /dev/urandom >"$broken"
    { printf '%s\n' "${photos[@]:0:3}"; echo "$broken"; printf '%s\n' "${photos[@]:3}"; } >"$work/list"
    total=$(wc -l <"$work/list")
    cat >"$work/job.workspace" <<WS
workspace_script 1.0
image index 1 caption ″Photos″ parent -1 bypass 0 same_size 0 size_specific 0 n_inputs 0 n_masks 0 command ‴file_open 0 n_files 1 current 0 from_default 0 multiple 0 prompt ″″ file1 ″${photos[0]}″ time1 ″″ selected1 1‴
end_image
image index 2 caption ″Resize″ parent 1 bypass 0 same_size 0 size_specific 0 n_inputs 0 n_masks 0 command ‴resize 0 percent 25 set 14 method 2‴
end_image
image index 3 caption ″Export″ parent 2 bypass 0 same_size 0 size_specific 0 n_inputs 0 n_masks 0 command ‴export 0 file_type 2 file_name 2 first_file_name ″photo″ if_exists 0 jpeg_ask 0 jpeg_metadata 0 jpeg_quality 90 which_folder 1 folder ″$work/unused″‴
end_image
end
WS
}

# Every position but the broken one's (4th, "photo 4"), exactly once.
check_outputs() {  # folder, expected count
    local names
    names=$(find "$1" -maxdepth 1 -type f -name '*.jpg' -printf '%f\n' | sort)
    [[ $(wc -l <<<"$names") -eq $2 ]] || fail "$1 holds $(wc -l <<<"$names") files: $names"
    for ((n = 1; n <= total; ++n)); do
        if [[ $n -eq 4 && $2 -lt $total ]]; then
            grep -qx "photo 4.jpg" <<<"$names" && fail "the broken file made an output"
        else
            grep -qx "photo $n.jpg" <<<"$names" || fail "photo $n.jpg is missing in $1"
        fi
    done
}

