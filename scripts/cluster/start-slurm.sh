#!/usr/bin/env bash
# Starts a private single-node Slurm for tests: its own munge key and socket, slurmctld and slurmd bound
# to 127.0.0.1 on free ports, no systemd, no cgroups (proctrack/linuxproc, task/none), no accounting.
# Everything lives in DIR (default /tmp/tessaron-slurm); DIR/env holds what a client needs:
#   . DIR/env && sbatch ...
# scripts/cluster/stop-slurm.sh DIR stops it again, each daemon by the pid it wrote.
set -euo pipefail
dir=${1:-/tmp/tessaron-slurm}

packages=(slurmctld slurmd slurm-client munge)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -ne 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  echo "start-slurm: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # The packages' own services stay off: this script starts the daemons it needs itself.
  $SUDO apt-get update -qq >/dev/null
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if [ -f "$dir/env" ]; then
  echo "start-slurm: $dir is in use; stop it first (scripts/cluster/stop-slurm.sh $dir)" >&2
  exit 1
fi
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
user=$(id -un)
cpus=$(nproc)

# munged: the key in a folder only its owner enters, the socket in one everybody may pass through.
mkdir -p "$dir/munge-key" "$dir/munge-run" "$dir/log" "$dir/spool/localhost" "$dir/state" "$dir/run"
chmod 700 "$dir/munge-key"
# munged refuses folders others may write to, whatever the umask made them.
chmod 755 "$dir" "$dir/munge-run" "$dir/log" "$dir/run" "$dir/state" "$dir/spool" "$dir/spool/localhost"
dd if=/dev/urandom of="$dir/munge-key/munge.key" bs=1024 count=1 status=none
chmod 400 "$dir/munge-key/munge.key"
munged --key-file="$dir/munge-key/munge.key" --socket="$dir/munge-run/munge.socket" \
  --pid-file="$dir/run/munged.pid" --log-file="$dir/log/munged.log" --seed-file="$dir/run/munged.seed" \
  --force

# Two free ports on the loopback interface.
read -r ctld_port slurmd_port < <(python3 -c '
import socket
s = [socket.socket() for _ in range(2)]
for x in s: x.bind(("127.0.0.1", 0))
print(*[x.getsockname()[1] for x in s])')

cat > "$dir/slurm.conf" <<CONF
ClusterName=tessaron
SlurmctldHost=localhost(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
CommunicationParameters=NoCtldInAddrAny,NoInAddrAny
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$dir/munge-run/munge.socket
SlurmUser=$user
SlurmdUser=$user
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool/%n
SlurmctldPidFile=$dir/run/slurmctld.pid
SlurmdPidFile=$dir/run/slurmd-%n.pid
SlurmctldLogFile=$dir/log/slurmctld.log
SlurmdLogFile=$dir/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
MpiDefault=none
ReturnToService=2
SchedulerType=sched/backfill
SchedulerParameters=batch_sched_delay=0
MinJobAge=5
SlurmctldTimeout=30
SlurmdTimeout=30
InactiveLimit=0
KillWait=5
NodeName=localhost NodeAddr=127.0.0.1 NodeHostname=localhost CPUs=$cpus State=UNKNOWN
PartitionName=test Nodes=localhost Default=YES MaxTime=INFINITE State=UP OverSubscribe=YES
CONF

export SLURM_CONF="$dir/slurm.conf"
slurmctld -i -f "$SLURM_CONF"
slurmd -N localhost -f "$SLURM_CONF"

cat > "$dir/env" <<ENV
export SLURM_CONF=$dir/slurm.conf
ENV

# Ready when the node takes jobs.
for _ in $(seq 1 100); do
  state=$(sinfo -h -N -o %t 2>/dev/null || true)
  case "$state" in idle*|mix*|alloc*) echo "start-slurm: Slurm is up in $dir (127.0.0.1:$ctld_port, $cpus CPUs)"; exit 0 ;; esac
  sleep 0.2
done
echo "start-slurm: the node did not come up; logs in $dir/log" >&2
tail -n 20 "$dir"/log/*.log >&2 || true
exit 1
