# shellcheck shell=bash disable=SC2034
# Shared by the mail-server scripts (sourced, not run): the layout of a server directory,
# the test users and small helpers.
#
# Layout of a server directory DIR:
#   DIR/env                    export lines for tests (written by start)
#   DIR/mail/USER/Maildir/     one Maildir per user, owned by the mail user
#   DIR/dovecot/               dovecot.conf, passwd, dovecot.log, run/ (base_dir), state/
#   DIR/postfix/               conf/ (main.cf, master.cf, vmailbox), postfix.log, queue/, data/

mail_user=vmail
mail_domain=example.test
# The first two are the documented test users; the others are spare mailboxes for tests that
# want one of their own. Every user's password is USER-secret.
test_users=(alice bob carol dave erin frank)

password_of() { printf '%s-secret' "$1"; }

die() {
    echo "$(basename "$0"): $*" >&2
    exit 1
}

# Makes $1 an absolute path without requiring it to exist.
absolute_dir() {
    realpath -m -- "$1"
}

# True when process $1 is alive and its command name is $2 (guards against a reused PID).
process_is() {
    local pid=$1 name=$2 comm
    [[ $pid =~ ^[0-9]+$ ]] || return 1
    comm=$(cat "/proc/$pid/comm" 2>/dev/null) || return 1
    [[ $comm == "$name" ]]
}

# Reads the first line of a PID file (Postfix pads it with spaces); empty when absent.
read_pid() {
    local pid=""
    if [[ -r $1 ]]; then
        read -r pid <"$1" || true
    fi
    printf '%s' "${pid//[[:space:]]/}"
}

# Stops processes given as NAME:PID pairs: SIGTERM to each that is alive and really NAME, then
# waits for all of them together (up to 10 s) and kills what is left.
stop_processes() {
    local pair pid name i alive
    local -a live=()
    for pair in "$@"; do
        name=${pair%%:*} pid=${pair#*:}
        if process_is "$pid" "$name" && kill -TERM "$pid" 2>/dev/null; then
            live+=("$pair")
        fi
    done
    for ((i = 0; i < 200; i++)); do
        alive=0
        for pair in "${live[@]}"; do
            process_is "${pair#*:}" "${pair%%:*}" && alive=1
        done
        ((alive)) || return 0
        sleep 0.05
    done
    for pair in "${live[@]}"; do
        if process_is "${pair#*:}" "${pair%%:*}"; then
            echo "$(basename "$0"): ${pair%%:*} (${pair#*:}) ignored SIGTERM, killing it" >&2
            kill -KILL "${pair#*:}" 2>/dev/null || true
        fi
    done
}

# Replaces file $1 with the content of standard input only when the content differs, so that
# unchanged configuration keeps its time stamp (Postfix re-runs slow checks when main.cf changes).
write_if_changed() {
    local target=$1 tmp
    tmp=$(mktemp "$target.XXXXXX")
    cat >"$tmp"
    if [[ -f $target ]] && cmp -s "$tmp" "$target"; then
        rm -f "$tmp"
    else
        chmod 644 "$tmp"
        mv -f "$tmp" "$target"
    fi
}

# The Maildir of user $2 below server directory $1.
maildir_of() {
    printf '%s/mail/%s/Maildir' "$1" "$2"
}
