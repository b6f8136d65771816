# What the play needs to know of a probe before it runs qarvik there: the
# user, whether qarvik is installed (its path and its package's status), the
# SHA-1 of the package file kept at the path given, if any, and the probe's
# IPv4 networks, one `ip -o` line each. sh reads it on its standard input.
echo "uid $(id -u)"
echo "cached $( [ -z "$1" ] || sha1sum < "$1" 2>/dev/null | cut -d' ' -f1)"
echo "command $(command -v qarvik)"
echo "package $(dpkg-query -W -f '${Status} ${Version}' qarvik 2>/dev/null)"
exec ip -o -4 addr show scope global
