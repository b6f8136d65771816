# What the play needs to know of a probe before it runs qarvik there: the
# user, whether qarvik is installed (its path and its package's status) and
# the probe's IPv4 networks, one `ip -o` line each.
echo "uid $(id -u)"
echo "command $(command -v qarvik)"
echo "package $(dpkg-query -W -f '${Status} ${Version}' qarvik 2>/dev/null)"
exec ip -o -4 addr show scope global
