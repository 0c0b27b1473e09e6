#!/usr/bin/env bash
# Starts an sshd on a loopback port, with host and user keys made for it, so
# that the several-machines recipe can run for real on one machine; stops it
# by its process id. Needs root and Debian's openssh-server.
# Usage: ssh_loopback.sh start DIR   (prints the machines file's path)
#        ssh_loopback.sh stop DIR
set -euo pipefail
command=$1
dir=$(mkdir -p "$2" && cd "$2" && pwd)

if [ "$command" = stop ]; then
  [ -f "$dir/sshd.pid" ] && kill "$(cat "$dir/sshd.pid")" 2>/dev/null || true
  exit 0
fi

ssh-keygen -q -t ed25519 -N '' -f "$dir/host_key" </dev/null
ssh-keygen -q -t ed25519 -N '' -f "$dir/user_key" </dev/null
cp "$dir/user_key.pub" "$dir/authorized_keys"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$dir/sshd_config" <<EOF
ListenAddress 127.0.0.1
Port $port
HostKey $dir/host_key
AuthorizedKeysFile $dir/authorized_keys
PidFile $dir/sshd.pid
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
StrictModes no
UsePAM no
EOF
mkdir -p /run/sshd
/usr/sbin/sshd -f "$dir/sshd_config" -E "$dir/sshd.log"

# GNU parallel runs ssh with the options that this config gives the host,
# so the machines file holds just the host, as it would for a user.
cat >"$dir/ssh_config" <<EOF
Host 127.0.0.1
  Port $port
  User $(id -un)
  IdentityFile $dir/user_key
  IdentitiesOnly yes
  BatchMode yes
  StrictHostKeyChecking no
  UserKnownHostsFile /dev/null
  LogLevel ERROR
EOF
echo 127.0.0.1 >"$dir/machines"
for _ in $(seq 50); do
  ssh -F "$dir/ssh_config" 127.0.0.1 true 2>/dev/null && break
  sleep 0.1
done
echo "$dir/machines"
