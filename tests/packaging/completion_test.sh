#!/bin/bash
# The bash completion of vantlebld-cli, asked as bash asks it: COMP_WORDS,
# COMP_CWORD, COMP_LINE and COMP_POINT set, _vantlebld_cli called, COMPREPLY
# read. Usage: completion_test.sh [path/to/data/completion/vantlebld-cli]
set -u
script=${1:-$(dirname "$0")/../../data/completion/vantlebld-cli}
# shellcheck source=/dev/null
source "$script" || { echo "cannot read the completion script $script" >&2; exit 1; }
passed=0 failed=0
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The candidates for the cursor at the end of $1, sorted, space-separated.
# As bash does, "=" stands as a word of its own: --port=X is --port = X.
candidates() {
    COMP_LINE=$1 COMP_POINT=${#1}
    read -ra COMP_WORDS <<<"${1//=/ = }"
    [[ $1 == *' ' ]] && COMP_WORDS+=('')
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _vantlebld_cli
    printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//'
}

# expect WHAT GOT EXPECTED
expect() {
    if [[ $2 == "$3" ]]; then
        passed=$((passed + 1))
    else
        echo "FAIL: $1 gave [$2], expected [$3]" >&2
        failed=$((failed + 1))
    fi
}
# completes LINE EXPECTED: the candidates for LINE are exactly EXPECTED.
completes() { expect "\"$1\"" "$(candidates "$1")" "$2"; }

expect "registration" "$(complete -p vantlebld-cli 2>&1)" "complete -F _vantlebld_cli vantlebld-cli"

# Commands (analyze devices check write clear-all eeprom config ports map), after
# an option's value too.
completes "vantlebld-cli w" "write"
completes "vantlebld-cli --port /dev/ttyUSB0 e" "eeprom"
completes "vantlebld-cli --port=/dev/ttyUSB0 w" "write"

# Options: write takes the shared, link and write options; analyze only the
# shared ones.
completes "vantlebld-cli write --p" "--piccodes --port --precodes"
completes "vantlebld-cli analyze --" "--help --piccodes --verbose --version"

# Ports: those present in the device folder, then usb:.
mkdir -p "$tmp/dev/serial/by-id" "$tmp/empty" "$tmp/files/sub"
touch "$tmp/dev/serial/by-id/usb-FTDI-if00" "$tmp/dev/ttyUSB0" "$tmp/dev/ttyACM1"
export VANTLEBLD_CLI_DEV=$tmp/dev
completes "vantlebld-cli check --port " \
    "$tmp/dev/serial/by-id/usb-FTDI-if00 $tmp/dev/ttyACM1 $tmp/dev/ttyUSB0 usb:"
completes "vantlebld-cli check --port=$tmp/dev/ttyU" "$tmp/dev/ttyUSB0"
VANTLEBLD_CLI_DEV=$tmp/empty
completes "vantlebld-cli check --port " "usb:"

# Type codes, from the device list the program prints.
cat >"$tmp/cli" <<'EOF'
#!/bin/sh
printf '$31  PIC16F876A\n$41  PIC18F252\n$4A  PIC18F4A\n'
EOF
chmod +x "$tmp/cli"
completes "$tmp/cli write x.hex --simulate 4" "41h 4Ah"

# The HEX file: *.hex in either case and folders, nothing else.
touch "$tmp/files/a.hex" "$tmp/files/B.HEX" "$tmp/files/notes.txt"
cd "$tmp/files" && completes "vantlebld-cli write " "B.HEX a.hex sub"

echo "$passed passed, $failed failed"
((failed == 0))
