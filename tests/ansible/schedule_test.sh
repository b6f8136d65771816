#!/usr/bin/env bash
# ansible/schedule.yml on this machine into a folder of the test's own: the
# units it writes pass `systemd-analyze verify` and run the site play with
# the inventory given; a wrong schedule, a missing inventory, a user that
# does not exist or a control character in a value writes nothing;
# a second run changes nothing. The timer is never enabled here
# (qarvik_schedule_enable=false), whether systemd runs or not. Needs
# ansible-playbook and systemd-analyze; without them it exits 77 (skipped).
set -euo pipefail

playbook=$(realpath "$(dirname "$0")/../../ansible/schedule.yml")
site=$(dirname "$playbook")/site.yml
for tool in ansible-playbook systemd-analyze; do
    command -v "$tool" >/dev/null ||
        { echo "skipped: needs $tool (Debian packages ansible-core, systemd)"; exit 77; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/qarvik-schedule-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/my site" "$work/home"
printf '[probes]\n' > "$work/my site/site.ini"
ansible_playbook=$(dirname "$(ansible-playbook --version | sed -n 's/^ *python version.*(\(.*\))$/\1/p')")/ansible-playbook

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# schedule NAME UNITS ARGS...: one run of the play into the folder UNITS, run
# from the folder "my site"; its output and exit status kept.
schedule() {
    local name=$1 units=$2
    shift 2
    mkdir -p "$units"
    status=0
    (cd "$work/my site" && HOME="$work/home" ANSIBLE_NOCOLOR=1 ansible-playbook -i localhost, -c local \
        "$playbook" -e "qarvik_unit_dir=$units" -e qarvik_schedule_enable=false \
        -e "qarvik_schedule_user=$(id -un)" "$@") > "$work/$name.out" 2>&1 || status=$?
}

# More arguments of ansible-playbook with every character systemd reads
# specially: a blank, a specifier, a variable, quotes, a backslash.
cat > "$work/quoted.json" <<EOJ
{"qarvik_schedule_inventory": "$work/my site/site.ini", "qarvik_schedule": "Mon *-*-* 03:30:00",
 "qarvik_schedule_arguments": ["-e", "qarvik_results=/srv/a b/%n \\"\$HOME\\" \\\\x"]}
EOJ
# shellcheck disable=SC2016 # systemd's $$, not the shell's
quoted='"-e" "qarvik_results=/srv/a b/%%n \"$$HOME\" \\x"'

# Each case: a name, the ExecStart line expected ('-': the play fails and
# writes nothing), what the output or a line of the units must hold, then
# the play's arguments.
cases=(
    "relative inventory|\"$ansible_playbook\" \"-i\" \"$work/my site/site.ini\" \"$site\"|OnCalendar=*-*-* 02:00:00|-e|qarvik_schedule_inventory=site.ini"
    "more arguments, quoted|\"$ansible_playbook\" \"-i\" \"$work/my site/site.ini\" $quoted \"$site\"|OnCalendar=Mon *-*-* 03:30:00|-e|@$work/quoted.json"
    "a wrong schedule|-|daily at 2|-e|{\"qarvik_schedule_inventory\": \"site.ini\", \"qarvik_schedule\": \"daily at 2\"}"
    "a missing inventory|-|$work/my site/none.ini is not there|-e|qarvik_schedule_inventory=none.ini"
    "no inventory|-|give the inventory|"
    "a user that does not exist|-|there is no user qarvik-no-such-user on this machine|-e|qarvik_schedule_inventory=site.ini|-e|qarvik_schedule_user=qarvik-no-such-user"
    "a user with a newline|-|qarvik_schedule_user holds a control character (U+000A)|-e|{\"qarvik_schedule_inventory\": \"site.ini\", \"qarvik_schedule_user\": \"root\\nExecStartPre=/bin/true\"}"
    "an argument with an escape|-|qarvik_schedule_arguments holds a control character (U+001B)|-e|{\"qarvik_schedule_inventory\": \"site.ini\", \"qarvik_schedule_arguments\": [\"-v\", \"\\u001b\"]}"
)
for case in "${cases[@]}"; do
    IFS='|' read -r -a fields <<<"$case"
    name=${fields[0]} exec=${fields[1]} expect=${fields[2]}
    units="$work/units-${name// /-}"
    schedule "$name" "$units" "${fields[@]:3}"
    if [[ $exec == - ]]; then
        [[ $status -ne 0 ]] || fail "$name: the play succeeded"
        grep -qF -- "$expect" "$work/$name.out" || fail "$name: no \"$expect\": $(grep -i fatal "$work/$name.out")"
        [[ -z $(ls -A "$units") ]] || fail "$name: units written: $(ls "$units")"
        continue
    fi
    [[ $status -eq 0 ]] || { fail "$name: exit status $status: $(tail -20 "$work/$name.out")"; continue; }
    systemd-analyze verify "$units/qarvik-site.service" "$units/qarvik-site.timer" > "$work/verify.out" 2>&1 ||
        fail "$name: systemd-analyze verify: $(cat "$work/verify.out")"
    grep -qxF "ExecStart=$exec" "$units/qarvik-site.service" ||
        fail "$name: $(grep ExecStart "$units/qarvik-site.service"), expected ExecStart=$exec"
    for line in "$expect" "User=$(id -un)" "WorkingDirectory=$work/my site" "Type=oneshot"; do
        grep -qxF "$line" "$units"/qarvik-site.* || fail "$name: no line $line"
    done
    grep -q 'the timer is not enabled' "$work/$name.out" || fail "$name: not said the timer is not enabled"
done

# The same units again: nothing changes.
schedule again "$work/units-relative-inventory" -e qarvik_schedule_inventory=site.ini
grep -q 'changed=0 ' "$work/again.out" || fail "again: $(grep 'changed=' "$work/again.out")"

((failures == 0)) || { echo "$failures check(s) failed"; exit 1; }
echo "all checks passed"
