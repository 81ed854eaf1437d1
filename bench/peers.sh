#!/bin/bash
# Usage: bench/peers.sh
#
# Measures mail clients against private Dovecot and Postfix instances on this machine, all in
# one run, and prints the median wall time of each row in seconds:
#   A  fetch 1,000 messages of about 4 KB (4.2 MB) over POP3
#   B  fetch 20 messages of 2 MiB with a base64 attachment (42.5 MB) over POP3
#   S  send 200 messages of about 1.2 KB over SMTP, one connection per message
# The first row of each table is the reference that the ratio columns divide by.
#
# Environment:
#   QUORVEL_BENCH_RUNS       runs per row (default 5)
#   QUORVEL_BENCH_SLOW_RUNS  runs of the rows marked slow (default 1)
#   QUORVEL_BENCH_ONLY       a regular expression: only rows whose label matches it run
#                            (the reference rows always run)
#
# Adding a row: put a file bench/peers.d/NAME.sh beside this script. It is sourced after
# the rows below and may define functions and register them:
#   fetch_row LABEL FUNC_A FUNC_B     (either FUNC may be "-": that cell stays empty)
#   send_row LABEL FUNC_S [slow]
# A function does the measured work only. Before each run BENCH_OUT is a fresh, empty
# directory for its output and the sending mailbox is empty; a function FUNC_check, when
# defined, runs after each untimed run of FUNC to verify its result. Available to them:
#   QUORVEL_TEST_* (the servers, see scripts/mailservers/README.md), FETCH_A_USER,
#   FETCH_A_PASSWORD, FETCH_B_USER, FETCH_B_PASSWORD (mailboxes holding workload A and B,
#   left as they are: fetch without deleting), SEND_TO (the recipient for S), SEND_FROM,
#   SEND_DIR (workload S as SEND_DIR/0001.eml ... 0200.eml, CR LF line ends), BENCH_WORK
#   (a scratch directory that lasts the whole run), BENCH_ROOT (the source tree).
#   Helpers: expect_files N, expect_delivered N.
set -euo pipefail
BENCH_ROOT=$(realpath "$(dirname "$0")/..")
mailservers=$BENCH_ROOT/scripts/mailservers
runs=${QUORVEL_BENCH_RUNS:-5}
slow_runs=${QUORVEL_BENCH_SLOW_RUNS:-1}
only=${QUORVEL_BENCH_ONLY:-}

# ---- Rows ---------------------------------------------------------------------------------------
fetch_labels=() fetch_a=() fetch_b=()
send_labels=() send_funcs=() send_slow=()

fetch_row() { fetch_labels+=("$1") fetch_a+=("$2") fetch_b+=("$3"); }
send_row() { send_labels+=("$1") send_funcs+=("$2") send_slow+=("${3:-}"); }

# ---- Checks, run after a measured run -----------------------------------------------------------
expect_files() {
    local n
    n=$(find "$BENCH_OUT" -type f | wc -l)
    ((n == $1)) || { echo "expected $1 files in $BENCH_OUT, found $n" >&2; return 1; }
}

# Waits (up to 60 s) until SEND_TO's Maildir holds $1 messages.
expect_delivered() {
    local new n i
    new=$QUORVEL_TEST_MAILDIR_BASE/${SEND_TO%@*}/Maildir/new
    for ((i = 0; i < 600; i++)); do
        n=$(find "$new" -type f | wc -l)
        ((n >= $1)) && return 0
        sleep 0.1
    done
    echo "expected $1 messages delivered to $SEND_TO, found $n" >&2
    return 1
}

# ---- The peers ----------------------------------------------------------------------------------
# Python's poplib: USER/PASS, RETR of every message, one file per message.
poplib_fetch() {
    python3 - "$QUORVEL_TEST_POP3_HOST" "$QUORVEL_TEST_POP3_PORT" "$1" "$2" "$BENCH_OUT" <<'EOF'
import poplib, sys
host, port, user, password, out = sys.argv[1:]
box = poplib.POP3(host, int(port))
box.user(user)
box.pass_(password)
for number in range(1, box.stat()[0] + 1):
    lines = box.retr(number)[1]
    with open(f"{out}/{number}.eml", "wb") as f:
        f.write(b"\r\n".join(lines) + b"\r\n")
box.quit()
EOF
}
bench_peer_pop3_A() { poplib_fetch "$FETCH_A_USER" "$FETCH_A_PASSWORD"; }
bench_peer_pop3_B() { poplib_fetch "$FETCH_B_USER" "$FETCH_B_PASSWORD"; }
bench_peer_pop3_A_check() { expect_files 1000; }
bench_peer_pop3_B_check() { expect_files 20; }

# fetchmail, every message (kept on the server) appended to one BSMTP file.
fetchmail_fetch() {
    local rc=$BENCH_WORK/fetchmailrc-$1
    # sslproto "" keeps fetchmail from insisting on TLS, which the test server does not offer.
    cat >"$rc" <<EOF
set no syslog
set no bouncemail
poll $QUORVEL_TEST_POP3_HOST service $QUORVEL_TEST_POP3_PORT protocol pop3 auth password
  user "$1" there with password "$2" is "root" here
  options keep fetchall sslproto ""
  bsmtp "$BENCH_OUT/fetchmail.bsmtp"
EOF
    chmod 600 "$rc"
    # Exit 0 means mail was fetched; anything else (1: no mail) is a failed run here.
    FETCHMAILHOME=$BENCH_WORK fetchmail -s -f "$rc" --idfile "$BENCH_WORK/fetchids" 2>"$BENCH_WORK/fetchmail.err" ||
        { cat "$BENCH_WORK/fetchmail.err" >&2; return 1; }
}
bench_peer_fetchmail_A() { fetchmail_fetch "$FETCH_A_USER" "$FETCH_A_PASSWORD"; }
bench_peer_fetchmail_B() { fetchmail_fetch "$FETCH_B_USER" "$FETCH_B_PASSWORD"; }
bench_peer_fetchmail_A_check() { [[ $(grep -c '^MAIL FROM' "$BENCH_OUT/fetchmail.bsmtp") == 1000 ]]; }
bench_peer_fetchmail_B_check() { [[ $(grep -c '^MAIL FROM' "$BENCH_OUT/fetchmail.bsmtp") == 20 ]]; }

# Python's smtplib, one connection per message.
bench_peer_smtplib_S() {
    python3 - "$QUORVEL_TEST_SMTP_HOST" "$QUORVEL_TEST_SMTP_PORT" "$SEND_FROM" "$SEND_TO" "$SEND_DIR" <<'EOF'
import os, smtplib, sys
host, port, sender, to, folder = sys.argv[1:]
for name in sorted(os.listdir(folder)):
    with open(os.path.join(folder, name), "rb") as f:
        data = f.read()
    with smtplib.SMTP(host, int(port)) as smtp:
        smtp.sendmail(sender, [to], data)
EOF
}
bench_peer_smtplib_S_check() { expect_delivered 200; }

# msmtp, one run (and connection) per message.
bench_peer_msmtp_S() {
    local conf=$BENCH_WORK/msmtprc msg
    cat >"$conf" <<EOF
account bench
host $QUORVEL_TEST_SMTP_HOST
port $QUORVEL_TEST_SMTP_PORT
domain localhost
auth off
tls off
from $SEND_FROM
EOF
    chmod 600 "$conf"
    for msg in "$SEND_DIR"/*.eml; do
        msmtp -C "$conf" -a bench -- "$SEND_TO" <"$msg"
    done
}
bench_peer_msmtp_S_check() { expect_delivered 200; }

fetch_row "fetchmail, bsmtp to a file" bench_peer_fetchmail_A bench_peer_fetchmail_B
fetch_row "Python poplib, one file per message" bench_peer_pop3_A bench_peer_pop3_B
send_row "Python smtplib, one connection per message" bench_peer_smtplib_S
send_row "msmtp, one run per message" bench_peer_msmtp_S slow

for extra in "$BENCH_ROOT"/bench/peers.d/*.sh; do
    # shellcheck disable=SC1090
    [[ -f $extra ]] && . "$extra"
done

# ---- Servers and workloads ----------------------------------------------------------------------
"$mailservers/install"
BENCH_WORK=$(mktemp -d /tmp/quorvel-bench.XXXXXX)
chmod 755 "$BENCH_WORK"
servers=$BENCH_WORK/servers
trap '"$mailservers/stop" "$servers" || true; rm -rf "$BENCH_WORK"' EXIT
"$mailservers/start" "$servers" >/dev/null
# shellcheck disable=SC1091
. "$servers/env"

FETCH_A_USER=$QUORVEL_TEST_USER FETCH_A_PASSWORD=$QUORVEL_TEST_PASSWORD
FETCH_B_USER=$QUORVEL_TEST_USER2 FETCH_B_PASSWORD=$QUORVEL_TEST_PASSWORD2
send_user=${QUORVEL_TEST_SPARE_USERS%% *}
SEND_TO=$send_user@$QUORVEL_TEST_DOMAIN SEND_FROM=sender@example.org
SEND_DIR=$BENCH_WORK/workload-S
export BENCH_ROOT BENCH_WORK FETCH_A_USER FETCH_A_PASSWORD FETCH_B_USER FETCH_B_PASSWORD
export SEND_TO SEND_FROM SEND_DIR

"$mailservers/fill-mailbox" "$servers" "$FETCH_A_USER" A
"$mailservers/fill-mailbox" "$servers" "$FETCH_B_USER" B
python3 "$mailservers/workload.py" write "$SEND_DIR" S --to "$SEND_TO"

# ---- Measuring ----------------------------------------------------------------------------------
# Runs FUNC $2 times; prints the median seconds. Each run starts with an empty BENCH_OUT
# and an empty sending mailbox; FUNC_check, if defined, must pass after every run.
measure() {
    local func=$1 n=$2 i start end
    local -a times=()
    for ((i = 0; i < n; i++)); do
        BENCH_OUT=$BENCH_WORK/out
        rm -rf "$BENCH_OUT"
        mkdir -p "$BENCH_OUT"
        export BENCH_OUT
        "$mailservers/clear-mailbox" "$servers" "$send_user"
        start=$EPOCHREALTIME
        "$func" >"$BENCH_WORK/last.out" 2>&1 ||
            { echo "$func failed:" >&2; cat "$BENCH_WORK/last.out" >&2; return 1; }
        end=$EPOCHREALTIME
        if declare -F "${func}_check" >/dev/null; then
            "${func}_check" || { echo "$func: its result is wrong" >&2; return 1; }
        fi
        times+=("$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }')")
    done
    printf '%s\n' "${times[@]}" | sort -g |
        awk '{ t[NR] = $1 } END { printf "%.2f", (NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2) }'
}

# A row runs when it is a reference row or matches QUORVEL_BENCH_ONLY.
wanted() { [[ $2 -eq 0 || -z $only || $1 =~ $only ]]; }

ratio() {
    if [[ $1 == - || $2 == - ]]; then
        echo -
    else
        awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'
    fi
}

# Dovecot reads each message in full once to learn its size; a first fetch of both mailboxes
# keeps that out of the first measured run.
BENCH_OUT=$BENCH_WORK/out
mkdir -p "$BENCH_OUT"
poplib_fetch "$FETCH_A_USER" "$FETCH_A_PASSWORD" && poplib_fetch "$FETCH_B_USER" "$FETCH_B_PASSWORD"

declare -a fetch_res_a fetch_res_b send_res send_runs
for i in "${!fetch_labels[@]}"; do
    fetch_res_a[i]=- fetch_res_b[i]=-
    wanted "${fetch_labels[i]}" "$i" || continue
    echo "measuring: ${fetch_labels[i]}" >&2
    [[ ${fetch_a[i]} == - ]] || fetch_res_a[i]=$(measure "${fetch_a[i]}" "$runs")
    [[ ${fetch_b[i]} == - ]] || fetch_res_b[i]=$(measure "${fetch_b[i]}" "$runs")
done
for i in "${!send_labels[@]}"; do
    send_res[i]=- send_runs[i]=$runs
    [[ -z ${send_slow[i]} ]] || send_runs[i]=$slow_runs
    wanted "${send_labels[i]}" "$i" || continue
    echo "measuring: ${send_labels[i]}" >&2
    send_res[i]=$(measure "${send_funcs[i]}" "${send_runs[i]}")
done

# ---- Table --------------------------------------------------------------------------------------
echo
echo "Peers on $(hostname), $(nproc) cores, median of $runs runs (slow rows: $slow_runs), wall seconds"
echo
printf '| %-48s | %7s | %7s | %9s | %9s |\n' "Fetching" "A" "B" "A / row 1" "B / row 1"
printf '|%s|%s|%s|%s|%s|\n' "$(printf -- '-%.0s' {1..50})" "---------" "---------" "-----------" "-----------"
for i in "${!fetch_labels[@]}"; do
    printf '| %-48s | %7s | %7s | %9s | %9s |\n' "${fetch_labels[i]}" "${fetch_res_a[i]}" "${fetch_res_b[i]}" \
        "$(ratio "${fetch_res_a[i]}" "${fetch_res_a[0]}")" "$(ratio "${fetch_res_b[i]}" "${fetch_res_b[0]}")"
done
echo
printf '| %-48s | %7s | %9s | %4s |\n' "Sending S" "S" "S / row 1" "runs"
printf '|%s|%s|%s|%s|\n' "$(printf -- '-%.0s' {1..50})" "---------" "-----------" "------"
for i in "${!send_labels[@]}"; do
    printf '| %-48s | %7s | %9s | %4s |\n' "${send_labels[i]}" "${send_res[i]}" \
        "$(ratio "${send_res[i]}" "${send_res[0]}")" "${send_runs[i]}"
done
