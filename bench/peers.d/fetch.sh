# The row of bench/peers.sh for quorvel's fetch run (bench/transfer_fetch.cpp): the fetch
# window's whole run as the Fetch command starts it, workloads A and B fetched from Dovecot
# and decoded into a fresh INBOX (kept on the server), against fetchmail, which only
# downloads. Sourced by bench/peers.sh.

fetch_build=${QUORVEL_BUILD_DIR:-$BENCH_ROOT/build}
transfer_fetch=$fetch_build/bench/bench_transfer_fetch
if [[ ! -f $fetch_build/build.ninja ]]; then
    cmake -S "$BENCH_ROOT" -B "$fetch_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
echo "building bench_transfer_fetch in $fetch_build" >&2
cmake --build "$fetch_build" --target bench_transfer_fetch >/dev/null

# The program checks its own result: every message stored in INBOX, nothing reported.
bench_fetch_run() {
    QT_QPA_PLATFORM=offscreen "$transfer_fetch" "$QUORVEL_TEST_POP3_HOST" "$QUORVEL_TEST_POP3_PORT" \
        "$1" "$2" "$BENCH_OUT" "$3"
}
bench_fetch_A() { bench_fetch_run "$FETCH_A_USER" "$FETCH_A_PASSWORD" 1000; }
bench_fetch_B() { bench_fetch_run "$FETCH_B_USER" "$FETCH_B_PASSWORD" 20; }

fetch_row "quorvel fetch run, decoded into INBOX" bench_fetch_A bench_fetch_B
