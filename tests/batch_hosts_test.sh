#!/usr/bin/env bash
# wavproc-batch --hosts end to end: two ssh servers on 127.0.0.1, each on a port of its own, with a
# host key, an authorized key and a configuration made in a temporary folder; a third login whose
# port nobody serves. The batch over the three gives the results, logs and summary of a batch run
# here, byte for byte; both servers ran records; the third is named and left out.
#
# Usage: bash tests/batch_hosts_test.sh WAVPROC WAVPROC_BATCH
# Needs root (sshd runs as root), sshd, ssh, GNU parallel and rsync; without them it says what is
# missing and ends with 77, which ctest reports as skipped.
set -euo pipefail
wavproc=$(realpath "$1")
batch=$(realpath "$2")
here=$(cd "$(dirname "$0")" && pwd)

skip() {
  echo "batch_hosts_test: skipped: $1" >&2
  exit 77
}
((EUID == 0)) || skip "the ssh servers must be started as root"
[[ -x /usr/sbin/sshd ]] || skip "no /usr/sbin/sshd (Debian package openssh-server)"
for tool in ssh ssh-keygen parallel rsync python3; do
  command -v "$tool" >/dev/null || skip "no $tool (Debian packages openssh-client, parallel, rsync, python3)"
done

work=$(mktemp -d)
servers=()
# The servers are stopped, whatever happens.
cleanup() {
  local pid
  for pid in "${servers[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf -- "$work"
}
trap cleanup EXIT
fail() {
  echo "batch_hosts_test: $1" >&2
  exit 1
}

# Three free ports of 127.0.0.1, of which the third stays unserved.
read -r port1 port2 port3 < <(python3 -c '
import socket
socks = [socket.socket() for _ in range(3)]
for s in socks:
    s.bind(("127.0.0.1", 0))
print(*[s.getsockname()[1] for s in socks])')
ssh-keygen -q -t ed25519 -N '' -f "$work/host_key"
ssh-keygen -q -t ed25519 -N '' -f "$work/user_key"
cp "$work/user_key.pub" "$work/authorized_keys"
mkdir -p /run/sshd "$work/home"
for port in "$port1" "$port2"; do
  cat > "$work/sshd_$port.conf" <<CONF
ListenAddress 127.0.0.1
Port $port
HostKey $work/host_key
AuthorizedKeysFile $work/authorized_keys
PidFile $work/sshd_$port.pid
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
PermitRootLogin prohibit-password
SetEnv PATH=$(dirname "$wavproc"):/usr/bin:/bin HOME=$work/home
CONF
  # In the foreground (-D), so that its process is this script's child from the start; the test
  # goes on once the server takes connections.
  /usr/sbin/sshd -D -f "$work/sshd_$port.conf" -E "$work/sshd_$port.log" &
  servers+=("$!")
  for ((look = 0; look < 60000; ++look)); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    kill -0 "${servers[-1]}" 2>/dev/null || skip "sshd did not start: $(cat "$work/sshd_$port.log")"
    sleep 0.001
  done
  ((look < 60000)) || fail "sshd on port $port takes no connection"
done
cat > "$work/ssh.conf" <<CONF
Host one two three
  HostName 127.0.0.1
  User root
  IdentityFile $work/user_key
  IdentitiesOnly yes
  StrictHostKeyChecking no
  UserKnownHostsFile /dev/null
  LogLevel ERROR
  BatchMode yes
  ConnectTimeout 5
Host one
  Port $port1
Host two
  Port $port2
Host three
  Port $port3
CONF
export PARALLEL_SSH="ssh -F $work/ssh.conf"
printf 'one\ntwo\nthree\n' > "$work/hosts"

# Six records, of which one is too long for the transform, and one with answers of its own.
cd "$work"
mkdir data
for n in 1 2 3 4 5; do python3 "$here/../examples/make_record.py" $((500 * n)) > "data/r$n.txt"; done
python3 "$here/../examples/make_record.py" 32769 > data/long.txt
sed 's/^velocity.csv$/wave.csv/' "$here/../examples/answers.txt" > answers.txt
sed 's/^1$/0/' answers.txt > data/r5.answers
records=(data/r1.txt data/r2.txt data/r3.txt data/long.txt data/r4.txt data/r5.txt)

WAVPROC=$wavproc timeout 300 bash "$batch" -j 2 answers.txt here "${records[@]}" > here.out || true
checked=$(timeout 120 bash "$batch" --hosts hosts --check) && fail "--check ended with 0 though three cannot be reached"
[[ $checked == "one	wavproc 1.0
two	wavproc 1.0
three	not reached: "* ]] || fail "--check answered: $checked"
# The machines' working folders (under the login's home, where sshd starts) are removed.
left_before=$(ls -A ~/.parallel/tmp 2>/dev/null || true)
status=0
timeout 300 bash "$batch" -j 1 --hosts hosts answers.txt there "${records[@]}" > there.out 2> there.err || status=$?

((status == 1)) || fail "the batch over the hosts ended with $status, not 1 (one record is refused)"
grep -q "^wavproc-batch: three is left out, its records run on the others" there.err ||
  fail "the unreachable login is not named: $(cat there.err)"
diff <(cut -f 1-3 there/summary.txt) here/summary.txt || fail "the summaries differ"
cmp there.out there/summary.txt || fail "the summary shown is not the one written"
[[ $(cut -f 4 there/summary.txt | sort -u | tr '\n' ' ') == "one two " ]] ||
  fail "not both servers ran records: $(cut -f 4 there/summary.txt | tr '\n' ' ')"
rm here/summary.txt there/summary.txt
diff -r here there || fail "the results differ"
[[ $(ls -A ~/.parallel/tmp 2>/dev/null || true) == "$left_before" ]] || fail "working folders are left in ~/.parallel/tmp"
echo "batch_hosts_test: the same results over two servers, the third left out"
