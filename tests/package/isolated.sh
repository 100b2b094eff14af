# Sourced: `isolated` runs a program in a network namespace of its own, where nothing it might
# send can leave; a test that cannot make one is skipped (77).
if [ "$(id -u)" -eq 0 ] && unshare -n true 2>/dev/null; then isolated=(unshare -n)
elif unshare -rn true 2>/dev/null; then isolated=(unshare -rn)
else echo "SKIPPED: no network namespace can be made here (needs root or user namespaces)"; exit 77; fi
