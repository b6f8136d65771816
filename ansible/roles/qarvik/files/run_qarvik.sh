# One live run of qarvik on a probe, with the arguments given (sh reads this
# script on its standard input, which qarvik does not get), in a private
# folder that goes when the run ends, so no earlier file passes for this
# run's. Prints "response file" and the response file in base64 on one line
# ("response none" when qarvik wrote none), then qarvik's console output;
# qarvik's error output goes to the error output. Both are converted from
# code page 932, as qarvik writes them to a file, to UTF-8. Exits with
# qarvik's exit status.
folder=$(mktemp -d "${TMPDIR:-/tmp}/qarvik.XXXXXXXX") || exit 125
trap 'rm -rf "$folder"' EXIT
cd "$folder" || exit 125
QARVIK_NETWORK=live qarvik "$@" < /dev/null > console.txt 2> errors.txt
status=$?
if [ -f rsp.txt ]; then
    printf 'response file %s\n' "$(base64 -w 0 rsp.txt)"
else
    echo response none
fi
iconv -c -f CP932 -t UTF-8 console.txt
iconv -c -f CP932 -t UTF-8 errors.txt >&2
exit "$status"
