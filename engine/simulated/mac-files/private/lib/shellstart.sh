# What every shell on the simulated Mac starts with (sourced by /bin/zsh,
# /bin/bash and fish before they run this machine's shell).
. '__SIM_PRIVATE__/lib/config.sh'
# A Mac's shells take HOME from the account database when it is not set.
if [ -z "${HOME+set}" ]; then HOME=$SIM_HOME; export HOME; fi
# With no PATH a Mac's shells search /usr/bin:/bin:/usr/sbin:/sbin.
if [ -z "${PATH+set}" ]; then PATH=/usr/bin:/bin:/usr/sbin:/sbin; export PATH; fi
# Apps started from the Dock run in "/", and so do their children.
case $PWD in "$SIM_ROOT"|"$SIM_ROOT"/*) ;; *) cd "$SIM_ROOT" || exit 1 ;; esac
