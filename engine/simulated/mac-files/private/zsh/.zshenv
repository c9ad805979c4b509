# The simulated Mac's zsh start-up (see /bin/zsh): first file zsh reads after
# this machine's /etc/zshenv.
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
