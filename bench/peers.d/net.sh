# Rows of bench/peers.sh for quorvel's own protocol clients (bench/net_clients.cpp):
# TPop3Client fetching workloads A and B to one file per message, TSmtpClient posting
# workload S with one connection per message. Sourced by bench/peers.sh.

net_build=${QUORVEL_BUILD_DIR:-$BENCH_ROOT/build}
net_clients=$net_build/bench/bench_net_clients
if [[ ! -f $net_build/build.ninja ]]; then
    cmake -S "$BENCH_ROOT" -B "$net_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
echo "building bench_net_clients in $net_build" >&2
cmake --build "$net_build" --target bench_net_clients >/dev/null

bench_net_pop3() {
    QT_QPA_PLATFORM=offscreen "$net_clients" fetch "$QUORVEL_TEST_POP3_HOST" "$QUORVEL_TEST_POP3_PORT" "$1" "$2" "$BENCH_OUT"
}
bench_net_pop3_A() { bench_net_pop3 "$FETCH_A_USER" "$FETCH_A_PASSWORD"; }
bench_net_pop3_B() { bench_net_pop3 "$FETCH_B_USER" "$FETCH_B_PASSWORD"; }
bench_net_pop3_A_check() { expect_files 1000; }
bench_net_pop3_B_check() { expect_files 20; }

bench_net_smtp_S() {
    QT_QPA_PLATFORM=offscreen "$net_clients" send "$QUORVEL_TEST_SMTP_HOST" "$QUORVEL_TEST_SMTP_PORT" "$SEND_FROM" "$SEND_TO" "$SEND_DIR"
}
bench_net_smtp_S_check() { expect_delivered 200; }

fetch_row "quorvel TPop3Client, one file per message" bench_net_pop3_A bench_net_pop3_B
send_row "quorvel TSmtpClient, one connection per message" bench_net_smtp_S
