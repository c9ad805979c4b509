#!/bin/bash
# The official Homebrew install script as the simulated Mac's network serves
# it: the same checks, messages and outcome, in fewer steps. Homebrew goes to
# /opt/homebrew on Apple silicon and /usr/local on Intel; without the Command
# Line Tools it installs them first (the real script uses softwareupdate).
# Without sudo access it stops with "Need sudo access on macOS". brew itself
# comes from the (simulated) network, as the real script clones it.
set -u

abort() {
  printf "%s\n" "$@" >&2
  exit 1
}

ohai() {
  printf "==> %s\n" "$*"
}

if [ -z "${BASH_VERSION:-}" ]; then
  abort "Bash is required to interpret this script."
fi

if [[ -n "${NONINTERACTIVE-}" ]]; then
  ohai 'Running in non-interactive mode because `$NONINTERACTIVE` is set.'
elif [[ ! -t 0 ]]; then
  NONINTERACTIVE=1
  ohai 'Running in non-interactive mode because `stdin` is not a TTY.'
fi

UNAME_MACHINE="$(/usr/bin/uname -m)"
if [[ "${UNAME_MACHINE}" == "arm64" ]]; then
  HOMEBREW_PREFIX="/opt/homebrew"
  HOMEBREW_REPOSITORY="${HOMEBREW_PREFIX}"
else
  HOMEBREW_PREFIX="/usr/local"
  HOMEBREW_REPOSITORY="${HOMEBREW_PREFIX}/Homebrew"
fi

have_sudo_access() {
  local -a SUDO=("/usr/bin/sudo")
  if [[ -n "${SUDO_ASKPASS-}" ]]; then
    SUDO+=("-A")
  elif [[ -n "${NONINTERACTIVE-}" ]]; then
    SUDO+=("-n")
  fi
  if [[ -z "${HAVE_SUDO_ACCESS-}" ]]; then
    "${SUDO[@]}" -l mkdir &>/dev/null
    HAVE_SUDO_ACCESS="$?"
  fi
  if [[ "${HAVE_SUDO_ACCESS}" -ne 0 ]]; then
    abort "Need sudo access on macOS (e.g. the user ${USER} needs to be an Administrator)!"
  fi
}

execute_sudo() {
  local -a args=("$@")
  if [[ -n "${SUDO_ASKPASS-}" ]]; then
    args=("-A" "${args[@]}")
  fi
  ohai "/usr/bin/sudo" "${args[@]}"
  "/usr/bin/sudo" "${args[@]}" || abort "Failed during: /usr/bin/sudo ${args[*]}"
}

should_install_command_line_tools() {
  ! [[ -e "/Library/Developer/CommandLineTools/usr/bin/git" ]]
}

ohai 'Checking for `sudo` access (which may request your password)...'
have_sudo_access

ohai "This script will install:"
echo "${HOMEBREW_PREFIX}/bin/brew"
echo "${HOMEBREW_PREFIX}/share/doc/homebrew"
echo "${HOMEBREW_PREFIX}/share/man/man1/brew.1"
echo "${HOMEBREW_PREFIX}/share/zsh/site-functions/_brew"
echo "${HOMEBREW_PREFIX}/etc/bash_completion.d/brew"
echo "${HOMEBREW_REPOSITORY}"
if should_install_command_line_tools; then
  ohai "The Xcode Command Line Tools will be installed."
fi

if ! [[ -d "${HOMEBREW_PREFIX}" ]]; then
  execute_sudo "/bin/mkdir" "-p" "${HOMEBREW_PREFIX}"
fi
for directory in bin etc include lib sbin share var opt share/zsh share/zsh/site-functions Cellar Caskroom Frameworks; do
  /bin/mkdir -p "${HOMEBREW_PREFIX}/${directory}"
done

if should_install_command_line_tools; then
  ohai "Searching online for the Command Line Tools"
  ohai "Installing Command Line Tools for Xcode-16.2"
  execute_sudo "/bin/mkdir" "-p" "/Library/Developer/CommandLineTools/usr/bin"
  /bin/cat > "/Library/Developer/CommandLineTools/usr/bin/git" <<'GIT'
#!/bin/sh
case ${1-} in
    --version|version) echo "git version 2.39.5 (Apple Git-154)" ;;
    *) echo "git: '${1-}' is not a git command the simulated Mac knows." >&2; exit 1 ;;
esac
GIT
  /bin/chmod 755 "/Library/Developer/CommandLineTools/usr/bin/git"
  execute_sudo "/usr/bin/xcode-select" "--switch" "/Library/Developer/CommandLineTools"
fi

ohai "Downloading and installing Homebrew..."
/bin/mkdir -p "${HOMEBREW_REPOSITORY}/bin"
/usr/bin/curl -fsSL -o "${HOMEBREW_REPOSITORY}/bin/brew" "https://raw.githubusercontent.com/Homebrew/brew/HEAD/bin/brew" ||
  abort "Failed during: git fetch --force origin"
/bin/chmod 755 "${HOMEBREW_REPOSITORY}/bin/brew"
if [[ "${HOMEBREW_REPOSITORY}" != "${HOMEBREW_PREFIX}" ]]; then
  /bin/ln -sf "../Homebrew/bin/brew" "${HOMEBREW_PREFIX}/bin/brew"
fi

ohai "Installation successful!"
echo
ohai "Homebrew has enabled anonymous aggregate formulae and cask analytics."
echo "Read the analytics documentation (and how to opt-out) here:"
echo "  https://docs.brew.sh/Analytics"
echo "No analytics data has been sent yet (nor will any be during this install run)."
echo
ohai "Next steps:"
echo "- Run these commands in your terminal to add Homebrew to your PATH:"
echo "    echo >> ${HOME}/.zprofile"
echo "    echo 'eval \"\$(${HOMEBREW_PREFIX}/bin/brew shellenv)\"' >> ${HOME}/.zprofile"
echo "    eval \"\$(${HOMEBREW_PREFIX}/bin/brew shellenv)\""
echo "- Run brew help to get started"
echo "- Further documentation:"
echo "    https://docs.brew.sh"
echo
