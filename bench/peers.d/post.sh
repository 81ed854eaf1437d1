# The row of bench/peers.sh for quorvel's posting run (bench/transfer_post.cpp): workload S
# queued as 200 quorvel mails (outgoing header, body file, queue line) and posted by the
# send-mail window's run, one connection per mail, queue clean-up included. Sourced by
# bench/peers.sh.

post_build=${QUORVEL_BUILD_DIR:-$BENCH_ROOT/build}
transfer_post=$post_build/bench/bench_transfer_post
if [[ ! -f $post_build/build.ninja ]]; then
    cmake -S "$BENCH_ROOT" -B "$post_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
echo "building bench_transfer_post in $post_build" >&2
cmake --build "$post_build" --target bench_transfer_post >/dev/null

bench_post_S() {
    QT_QPA_PLATFORM=offscreen "$transfer_post" "$QUORVEL_TEST_SMTP_HOST" "$QUORVEL_TEST_SMTP_PORT" \
        "$SEND_FROM" "$SEND_TO" "$SEND_DIR" "$BENCH_OUT/quorvel"
}
bench_post_S_check() { expect_delivered 200; }

send_row "quorvel posting run, one connection per mail" bench_post_S
