# Sourced by every program of the simulated Mac: the machine's facts (from the
# scenario, in config.sh) and a few helpers. Like every file here it is written
# as it would be on a Mac; the sandbox moves its absolute paths when it writes
# it, and takes them back out of everything a program prints.
SIM_DIR='__SIM_PRIVATE__'
. "$SIM_DIR/lib/config.sh"

sim_err() { printf '%s\n' "$*" >&2; }

# Whether this process runs translated: as the app does, unless `arch` chose
# a processor for it or an ancestor.
sim_translated() { echo "${SIM_PROCESS_TRANSLATED-$SIM_TRANSLATED}"; }

# The processor this process sees: translated processes see x86_64.
sim_running_arch() {
    if [ "$(sim_translated)" = 1 ]; then echo x86_64; else echo "$SIM_MACHINE"; fi
}

sim_is_root() { [ "${USER-}" = root ]; }

# sim_release MAJOR: the catalogue's Temurin release of that major in
# rel_version, rel_build, rel_date and rel_name; fails for a major it lacks.
sim_release() {
    while read -r sim_m sim_v sim_b sim_d sim_n; do
        case $sim_m in "#"*) continue ;; esac
        if [ "$sim_m" = "$1" ]; then
            rel_version=$sim_v rel_build=$sim_b rel_date=$sim_d rel_name=$sim_n
            return 0
        fi
    done < "$SIM_DIR/temurin"
    return 1
}

# sim_majors: the catalogue's majors, newest first.
sim_majors() {
    while read -r sim_m _; do
        case $sim_m in "#"*) ;; *) echo "$sim_m" ;; esac
    done < "$SIM_DIR/temurin"
}
