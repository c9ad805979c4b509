# The simulated Mac's zsh start-up (see /bin/zsh): first file zsh reads after
# this machine's /etc/zshenv. What every shell of the simulated Mac starts
# with comes first (again, when /bin/zsh did it already); the simulator's
# facts it reads are no variables of the user's, while what a program
# exported (arch's choice of processor) stays.
. '__SIM_PRIVATE__/lib/shellstart.sh'
for lumo_name in ${(k)parameters[(I)SIM_*]}; do
    [[ ${parameters[$lumo_name]} == *-export* ]] || unset $lumo_name
done
unset lumo_name
unsetopt global_rcs
if (( ${+LUMO_SIM_ZDOTDIR} )); then
    ZDOTDIR=$LUMO_SIM_ZDOTDIR
    unset LUMO_SIM_ZDOTDIR
else
    unset ZDOTDIR
fi
if [[ -r ${ZDOTDIR:-$HOME}/.zshenv ]]; then
    source ${ZDOTDIR:-$HOME}/.zshenv
fi
if [[ -o login && -r /etc/zprofile ]]; then
    source /etc/zprofile
fi
